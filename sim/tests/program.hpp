// Runs lyx-basestation-sim as a separate process for product tests: its
// standard input, output and error are pipes of the test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lyx::sim::testing {

class Program {
  public:
    // `environment`: NAME=value entries added to (or replacing) the test's own.
    Program(const std::vector<std::string> &arguments,
            const std::vector<std::string> &environment = {});
    ~Program();  // kills the process if it still runs
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    bool send(const std::string &line);  // one line to its standard input
    void closeInput();

    // The next output line (after those already matched) that `match`
    // accepts; nullopt when none comes within `timeout`.
    std::optional<std::string> line(const std::function<bool(const std::string &)> &match,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The next line starting with `prefix`.
    std::optional<std::string> lineStarting(
        const std::string &prefix, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Its exit status once it has ended (-signal when killed), nullopt on time-out.
    std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    const std::string &errors() const { return errors_; }  // standard error so far

  private:
    bool readSome(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    std::size_t matched_ = 0;
    std::string errors_;
    std::optional<int> status_;
};

// A client of the program's local socket.
class SocketClient {
  public:
    explicit SocketClient(const std::string &path);
    ~SocketClient();
    bool ok() const { return fd_ >= 0; }
    // Sends a command and returns the first following line that is not an event.
    std::optional<std::string> command(const std::string &line);
    // The next line starting with `prefix` (events included).
    std::optional<std::string> lineStarting(
        const std::string &prefix, std::chrono::milliseconds timeout = std::chrono::seconds(5));

  private:
    std::optional<std::string> nextLine(std::chrono::steady_clock::time_point deadline);
    int fd_ = -1;
    std::string buffer_;
    std::vector<std::string> heldEvents_;  // events that came before a reply
};

}  // namespace lyx::sim::testing
