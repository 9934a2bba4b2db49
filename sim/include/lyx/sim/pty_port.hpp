// A pseudo-terminal playing a serial base station: the driver opens the
// terminal side like any serial port, the simulator reads and writes the
// controlling side.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lyx::sim {

class PtyPort {
  public:
    PtyPort();
    ~PtyPort();
    PtyPort(const PtyPort &) = delete;
    PtyPort &operator=(const PtyPort &) = delete;

    bool ok() const { return master_ >= 0; }
    // The terminal side, e.g. /dev/pts/3, which the driver opens.
    const std::string &devicePath() const { return device_; }
    int masterFd() const { return master_; }

    // Makes `folder`/COM<number> a link to the terminal (the folder is created).
    bool linkAs(const std::string &folder, int number);

    // Writes bytes as the base station sends them, waiting up to `limit` for
    // the line to take them; false if not all went out.
    bool write(std::span<const std::uint8_t> bytes,
               std::chrono::milliseconds limit = std::chrono::seconds(5));
    // Writes what the line takes now, without waiting (a terminal nobody reads
    // fills up); returns how many bytes went out.
    std::size_t writeSome(std::span<const std::uint8_t> bytes);
    // Reads what the driver sent: waits up to `timeoutMs` for `count` bytes and
    // returns what arrived.
    std::vector<std::uint8_t> read(std::size_t count, int timeoutMs);

  private:
    int master_ = -1;
    int slave_ = -1;  // held open so the line stays up between driver opens
    std::string device_;
};

}  // namespace lyx::sim
