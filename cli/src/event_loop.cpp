#include "event_loop.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

#include "LyxPlatform.h"

namespace lyx::cli {

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

int makeTimer(std::chrono::milliseconds first, std::chrono::milliseconds period) {
    int fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
    const auto toTimespec = [](std::chrono::milliseconds ms) {
        timespec t{};
        t.tv_sec = static_cast<time_t>(ms.count() / 1000);
        t.tv_nsec = static_cast<long>(ms.count() % 1000) * 1000000L;
        return t;
    };
    itimerspec value{};
    value.it_value = toTimespec(first.count() > 0 ? first : std::chrono::milliseconds(1));
    value.it_interval = toTimespec(period);
    ::timerfd_settime(fd, 0, &value, nullptr);
    return fd;
}

}  // namespace

EventLoop::EventLoop() {
    const sigset_t set = stopSignals();
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &set, &old);
    restoreMask_ = true;
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
    // Packets and the component's other messages.
    sources_.push_back({LyxMessageFd(), false, false, [] { LyxPumpMessages(); }});
}

EventLoop::~EventLoop() {
    for (auto &source : sources_)
        if (source.owned) ::close(source.fd);
    if (signalFd_ >= 0) ::close(signalFd_);
    if (restoreMask_) {
        const sigset_t set = stopSignals();
        // A signal that came in after the loop ended still ends the process
        // the usual way once it is unblocked; drain it first.
        timespec none{};
        while (sigtimedwait(&set, nullptr, &none) > 0) {
        }
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

void EventLoop::watch(int fd, std::function<void()> handler) {
    sources_.push_back({fd, false, false, std::move(handler)});
}

void EventLoop::every(std::chrono::milliseconds period, std::function<void()> handler) {
    sources_.push_back({makeTimer(period, period), true, true, std::move(handler)});
}

void EventLoop::stopAfter(std::chrono::milliseconds after) {
    sources_.push_back(
        {makeTimer(after, std::chrono::milliseconds(0)), true, true, [this] { stop(); }});
}

void EventLoop::dispatch(Source &source) {
    if (source.timer) {
        std::uint64_t expirations = 0;
        if (::read(source.fd, &expirations, sizeof expirations) != sizeof expirations) return;
    }
    source.handler();
}

void EventLoop::pumpOnce() {
    LyxPumpMessages();
}

int EventLoop::run() {
    running_ = true;
    std::vector<pollfd> fds;
    while (running_) {
        fds.clear();
        fds.push_back({signalFd_, POLLIN, 0});
        for (const auto &source : sources_)
            fds.push_back({source.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signalFd_, &info, sizeof info) == sizeof info) {
                signal_ = static_cast<int>(info.ssi_signo);
                running_ = false;
                break;
            }
        }
        // Handlers may add sources; walk by index over the ones polled.
        const std::size_t polled = fds.size() - 1;
        for (std::size_t i = 0; i < polled && running_; ++i)
            if (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR)) dispatch(sources_[i]);
    }
    return signal_;
}

}  // namespace lyx::cli
