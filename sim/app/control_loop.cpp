#include "control_loop.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lyx::sim::app {

namespace {

constexpr std::size_t kMaxPendingEvents = 10000;
constexpr std::size_t kMaxOutput = 1 << 20;  // a client that reads nothing is dropped
constexpr std::size_t kMaxLine = 64 * 1024;

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

ControlLoop::ControlLoop(Simulator &simulator, Interpreter &interpreter, LoopSettings settings)
    : simulator_(simulator), interpreter_(interpreter), settings_(std::move(settings)) {
    auto console = std::make_unique<Session>();
    console->in = settings_.readStdin ? STDIN_FILENO : -1;
    console->out = STDOUT_FILENO;
    console->watch =
        settings_.watchStdout ? (settings_.traceData ? Watch::Data : Watch::Events) : Watch::Off;
    sessions_.push_back(std::move(console));
}

ControlLoop::~ControlLoop() {
    simulator_.setEventListener(nullptr);
    for (std::size_t i = 1; i < sessions_.size(); ++i)
        ::close(sessions_[i]->in);
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(settings_.socketPath.c_str());
    }
    if (signalFd_ >= 0) ::close(signalFd_);
    if (eventFd_ >= 0) ::close(eventFd_);
}

bool ControlLoop::start(std::uint64_t setupFrom) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    signalFd_ = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    eventFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd_ < 0 || eventFd_ < 0) {
        std::fprintf(stderr, "lyx-basestation-sim: %s\n", std::strerror(errno));
        return false;
    }
    if (!settings_.socketPath.empty()) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (settings_.socketPath.size() >= sizeof address.sun_path) {
            std::fprintf(stderr, "lyx-basestation-sim: socket path too long: %s\n",
                         settings_.socketPath.c_str());
            return false;
        }
        std::memcpy(address.sun_path, settings_.socketPath.c_str(),
                    settings_.socketPath.size() + 1);
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        // A socket file that nobody serves any more is left over from an earlier
        // run and is replaced; one that answers belongs to a running simulator.
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool inUse = ::connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(probe);
        if (inUse) {
            std::fprintf(stderr, "lyx-basestation-sim: %s is in use by another program\n",
                         settings_.socketPath.c_str());
            ::close(listenFd_);
            listenFd_ = -1;
            return false;
        }
        ::unlink(settings_.socketPath.c_str());
        if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(listenFd_, 8) != 0) {
            std::fprintf(stderr, "lyx-basestation-sim: cannot listen on %s: %s\n",
                         settings_.socketPath.c_str(), std::strerror(errno));
            ::close(listenFd_);
            listenFd_ = -1;
            return false;
        }
    }
    simulator_.setEventListener([this](const Event &event) { onEvent(event); });
    {
        // Those the listener has not seen come first, in their order.
        std::deque<Event> early;
        for (auto &event : simulator_.events(setupFrom)) {
            if (event.kind == EventKind::ReplayLooped || event.kind == EventKind::ReplayEnded)
                early.push_back(std::move(event));
        }
        std::lock_guard guard(eventsLock_);
        const std::uint64_t heard = pending_.empty() ? UINT64_MAX : pending_.front().sequence;
        while (!early.empty() && early.back().sequence >= heard)
            early.pop_back();
        pending_.insert(pending_.begin(), early.begin(), early.end());
        if (!early.empty()) {
            std::uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(eventFd_, &one, sizeof one);
        }
    }
    updateTracing();
    started_ = std::chrono::steady_clock::now();
    return true;
}

void ControlLoop::onEvent(const Event &event) {
    // On the simulator thread: queue it for the main thread.
    {
        std::lock_guard guard(eventsLock_);
        if (pending_.size() >= kMaxPendingEvents) {
            ++eventsDropped_;
            return;
        }
        pending_.push_back(event);
    }
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(eventFd_, &one, sizeof one);
}

void ControlLoop::deliverEvents() {
    std::deque<Event> events;
    std::uint64_t dropped = 0;
    {
        std::lock_guard guard(eventsLock_);
        events.swap(pending_);
        dropped = eventsDropped_;
        eventsDropped_ = 0;
    }
    for (const auto &event : events) {
        const std::string line = "event " + describe(event);
        const bool traffic =
            event.kind == EventKind::DataSent || event.kind == EventKind::FrameFromPc;
        const Watch needed = traffic ? Watch::Data : Watch::Events;
        for (auto &s : sessions_) {
            if (!s->closed && s->watch >= needed) write(*s, line);
        }
    }
    if (dropped > 0) {
        for (auto &s : sessions_) {
            if (!s->closed && s->watch != Watch::Off) {
                write(*s, "event events-dropped code=" + std::to_string(dropped));
            }
        }
    }
}

void ControlLoop::updateTracing() {
    bool want = false;
    for (const auto &s : sessions_)
        want = want || (!s->closed && s->watch == Watch::Data);
    if (want != tracing_) {
        tracing_ = want;
        simulator_.traceData(want);
    }
}

void ControlLoop::write(Session &session, const std::string &line) {
    if (session.closed || session.out < 0) return;
    session.output += line;
    session.output += '\n';
    flush(session);
}

void ControlLoop::flush(Session &session) {
    while (!session.output.empty()) {
        ssize_t n = ::write(session.out, session.output.data(), session.output.size());
        if (n > 0) {
            session.output.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) break;
        session.closed = true;  // the reader is gone
        return;
    }
    if (session.output.size() > kMaxOutput) session.closed = true;
}

void ControlLoop::execute(Session &session, const std::string &line) {
    Reply reply = interpreter_.execute(line);
    for (const auto &w : reply.warnings)
        std::fprintf(stderr, "lyx-basestation-sim: warning: %s\n", w.c_str());
    write(session, reply.text);
    switch (reply.action) {
        case Reply::Action::Quit:
            quit_ = true;
            break;
        case Reply::Action::WatchOn:
            session.watch = Watch::Events;
            break;
        case Reply::Action::WatchOff:
            session.watch = Watch::Off;
            break;
        case Reply::Action::WatchData:
            session.watch = Watch::Data;
            break;
        case Reply::Action::None:
            break;
    }
    updateTracing();
}

void ControlLoop::handleInput(Session &session) {
    char buffer[4096];
    ssize_t n = ::read(session.in, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        // End of input: a last line without its line end still counts.
        if (!session.input.empty()) execute(session, std::exchange(session.input, {}));
        if (&session == sessions_[0].get()) {
            session.in = -1;  // standard input is done; the simulation goes on
        } else {
            session.closed = true;
        }
        return;
    }
    session.input.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = session.input.find('\n', start)) != std::string::npos;
         start = end + 1) {
        execute(session, session.input.substr(start, end - start));
        if (quit_) return;
    }
    session.input.erase(0, start);
    if (session.input.size() > kMaxLine) {
        write(session, "error: line longer than 64 KiB");
        session.input.clear();
    }
}

void ControlLoop::runDueSteps() {
    const auto elapsed = std::chrono::steady_clock::now() - started_;
    while (nextStep_ < settings_.laterSteps.size() && !quit_ &&
           settings_.laterSteps[nextStep_].at <= elapsed) {
        const ScenarioStep &step = settings_.laterSteps[nextStep_++];
        Reply reply = interpreter_.execute(step.command);
        if (!reply.ok) {
            std::fprintf(stderr, "lyx-basestation-sim: %s:%d: %s\n", settings_.scenarioName.c_str(),
                         step.line, reply.text.substr(reply.text.find(' ') + 1).c_str());
        }
        if (reply.action == Reply::Action::Quit) quit_ = true;
    }
}

int ControlLoop::run() {
    Session &console = *sessions_[0];
    if (console.in >= 0) setNonBlocking(console.in);
    std::vector<pollfd> fds;
    while (!quit_) {
        runDueSteps();
        if (quit_) break;
        const auto now = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::time_point> wake;
        if (nextStep_ < settings_.laterSteps.size()) {
            wake = started_ + settings_.laterSteps[nextStep_].at;
        }
        if (settings_.duration) {
            auto end = started_ + *settings_.duration;
            if (now >= end) break;
            if (!wake || end < *wake) wake = end;
        }
        int timeout = -1;
        if (wake) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60000));
        }

        fds.clear();
        fds.push_back({signalFd_, POLLIN, 0});
        fds.push_back({eventFd_, POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});  // -1 is ignored by poll
        // Per session: its input, then its output when something waits to go.
        const std::size_t count = sessions_.size();  // sessions accepted now wait a turn
        for (auto &s : sessions_) {
            const bool reading = s->in >= 0 && !s->closed;
            const bool writing = !s->output.empty() && !s->closed;
            fds.push_back({reading ? s->in : -1, POLLIN, 0});
            fds.push_back({writing ? s->out : -1, POLLOUT, 0});
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) continue;
            std::perror("lyx-basestation-sim: poll");
            return 1;
        }
        if (fds[0].revents != 0) break;  // SIGINT or SIGTERM
        if (fds[1].revents != 0) {
            std::uint64_t n;
            [[maybe_unused]] ssize_t r = ::read(eventFd_, &n, sizeof n);
            deliverEvents();
        }
        if (fds[2].revents != 0) {
            int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client >= 0) {
                auto session = std::make_unique<Session>();
                session->in = session->out = client;
                sessions_.push_back(std::move(session));
            }
        }
        for (std::size_t i = 0; i < count && !quit_; ++i) {
            Session &s = *sessions_[i];
            if (s.closed) continue;
            if (fds[3 + 2 * i + 1].revents != 0) flush(s);
            if (fds[3 + 2 * i].revents != 0 && !s.closed && s.in >= 0) handleInput(s);
        }
        // Sockets whose peer left go; standard output stays.
        for (std::size_t i = sessions_.size(); i-- > 1;) {
            if (sessions_[i]->closed) {
                ::close(sessions_[i]->in);
                sessions_.erase(sessions_.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        updateTracing();
    }
    deliverEvents();
    return 0;
}

}  // namespace lyx::sim::app
