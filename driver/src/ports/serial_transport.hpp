// A base station on a serial line (termios): opened exclusively, raw, 8N1, no
// flow control, DTR and RTS asserted. One reader thread waits in poll() and
// hands every chunk it reads to the driver.
//
// A line that hangs up (an adapter pulled out, a USB bus reset, a closed
// pseudo-terminal) is closed and reported as a device change; the reader then
// waits for the same path (the same port entry, followed through its links) to
// appear again, woken by inotify (DeviceWatch), and opens it with the same
// settings, reporting that too. A device that is there but cannot be opened
// yet (busy, permissions not set yet) is tried again after 0.1 s, 0.2 s, ... at
// most 3.2 s apart. Input that arrived before the reopening is kept: it is
// what the station sent since it came back.
//
// Threads: send() may run concurrently with the reader; open and stop run on
// the thread that opens and closes the link.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ports/transport.hpp"

namespace lyx::drv {

class SerialTransport final : public LinkTransport {
  public:
    // OPENPORT's result codes.
    static constexpr std::int32_t kOpened = 0;
    static constexpr std::int32_t kSettingsRefused = -1;
    static constexpr std::int32_t kCannotOpen = -2;

    struct Opened {
        std::int32_t code = kCannotOpen;
        std::shared_ptr<SerialTransport> transport;  // set when code is kOpened
    };

    // Opens and configures `device` at `baudRate`; waiting input is discarded.
    static Opened open(const std::string &device, std::int32_t baudRate);

    // The longest wait between two attempts to open a device that is there but
    // refuses to be opened.
    static constexpr std::chrono::milliseconds kLongestRetry{3200};

    ~SerialTransport() override;

    void start(Receiver received, DeviceChange devicesChanged) override;
    bool stop() override;
    bool send(std::uint8_t address, std::span<const std::uint8_t> frame) override;
    std::uint32_t stations() const override { return lineUp_ ? 1u << 1 : 0; }

    const std::string &device() const { return device_; }

  private:
    SerialTransport(int fd, std::string device, std::int32_t baudRate);
    void run(const Receiver &received, const DeviceChange &changed);
    // Reads until the line hangs up (true) or the stop comes (false).
    bool readUntilHangUp(const Receiver &received);
    // Waits until the device can be opened again (true) or the stop comes (false).
    bool reopen();
    bool closeDevice();

    int fd_;  // changed by the reader thread under writeLock_ while it runs
    int wakeFd_;
    const std::string device_;
    const std::int32_t baudRate_;
    std::atomic<bool> lineUp_{false};  // open, and no hang-up seen
    std::mutex writeLock_;
    std::jthread reader_;
};

// Sets a line speed; standard rates through the termios constants, any other
// positive rate where the kernel allows it. False when the port refuses it.
bool setLineSpeed(int fd, std::int32_t baudRate);

}  // namespace lyx::drv
