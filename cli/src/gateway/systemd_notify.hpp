// Tells systemd how the gateway is when it runs as a Type=notify service (NOTIFY_SOCKET is
// set): READY=1 once the link is open, STATUS= with a one-line summary every few seconds, and
// WATCHDOG=1 while the link's thread, the one that delivers the packets, dispatches its
// messages. A timer thread posts a message to a window of the link's thread; the beat is sent
// when that thread dispatches it, in its event loop or inside a long command alike, so a
// thread that hangs stops the beats and systemd restarts the service. Outside systemd it does
// nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "lyx/platform/messages.hpp"

namespace lyx::cli {

class SystemdNotifier {
  public:
    using Summary = std::function<std::string()>;
    // The most time between two beats and two statuses.
    static constexpr std::chrono::milliseconds kLongestPeriod{5000};

    // On the link's thread; `summary` is called there for every STATUS=.
    explicit SystemdNotifier(Summary summary);
    ~SystemdNotifier();
    SystemdNotifier(const SystemdNotifier &) = delete;
    SystemdNotifier &operator=(const SystemdNotifier &) = delete;

    // READY=1 with the first status; the beats start.
    void ready();
    // STOPPING=1; the beats end.
    void stopping();

  private:
    void beat();  // on the link's thread
    void tick();  // the timer thread

    Summary summary_;
    bool active_ = false;
    bool watchdog_ = false;
    std::chrono::milliseconds period_ = kLongestPeriod;
    platform::WindowHandle window_{};
    std::atomic<bool> posted_{false};  // a beat waits for the link's thread
    std::mutex lock_;
    std::condition_variable wake_;
    bool ending_ = false;
    std::thread timer_;
};

}  // namespace lyx::cli
