#include "systemd_notify.hpp"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdlib>

namespace lyx::cli {

namespace {

constexpr std::uint32_t kBeat = platform::kWmUser + 1;

void notify(const std::string &state) {
    ::sd_notify(0, state.c_str());
}

// One line: systemd shows STATUS= as it is.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

}  // namespace

SystemdNotifier::SystemdNotifier(Summary summary) : summary_(std::move(summary)) {
    const char *socket = std::getenv("NOTIFY_SOCKET");
    active_ = socket != nullptr && *socket != '\0';
    if (!active_) return;
    std::uint64_t usec = 0;
    watchdog_ = ::sd_watchdog_enabled(0, &usec) > 0 && usec > 0;
    // Three beats in the watchdog's time at least, so one late beat costs nothing.
    if (watchdog_)
        period_ = std::clamp(std::chrono::milliseconds(usec / 3000), std::chrono::milliseconds(1),
                             kLongestPeriod);
    window_ = platform::createWindow("lyx mqtt systemd notifier",
                                     [this](platform::WindowHandle, std::uint32_t message,
                                            std::uintptr_t, std::intptr_t) -> std::intptr_t {
                                         if (message == kBeat) beat();
                                         return 0;
                                     });
    if (window_ == 0) active_ = false;
}

SystemdNotifier::~SystemdNotifier() {
    {
        std::lock_guard guard(lock_);
        ending_ = true;
    }
    wake_.notify_all();
    if (timer_.joinable()) timer_.join();
    if (window_ != 0) platform::destroyWindow(window_);
}

void SystemdNotifier::ready() {
    if (!active_) return;
    notify(std::string(watchdog_ ? "READY=1\nWATCHDOG=1\nSTATUS=" : "READY=1\nSTATUS=") +
           oneLine(summary_()));
    timer_ = std::thread([this] { tick(); });
}

void SystemdNotifier::stopping() {
    if (!active_) return;
    {
        std::lock_guard guard(lock_);
        ending_ = true;
    }
    wake_.notify_all();
    if (timer_.joinable()) timer_.join();
    notify("STOPPING=1\nSTATUS=stopping");
}

void SystemdNotifier::beat() {
    posted_ = false;
    {
        std::lock_guard guard(lock_);
        if (ending_) return;
    }
    notify((watchdog_ ? "WATCHDOG=1\nSTATUS=" : "STATUS=") + oneLine(summary_()));
}

void SystemdNotifier::tick() {
    std::unique_lock guard(lock_);
    while (!wake_.wait_for(guard, period_, [this] { return ending_; })) {
        // One beat at a time: a thread that hangs does not collect a pile of them.
        if (!posted_.exchange(true)) platform::postMessage(window_, kBeat, 0, 0);
    }
}

}  // namespace lyx::cli
