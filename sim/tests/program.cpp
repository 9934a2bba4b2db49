#include "program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <map>

extern char **environ;

namespace lyx::sim::testing {

namespace {

int remaining(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

}  // namespace

Program::Program(const std::vector<std::string> &arguments,
                 const std::vector<std::string> &environment) {
    int in[2];
    int out[2];
    int err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
        return;
    }
    std::map<std::string, std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        env[entry.substr(0, entry.find('='))] = entry;
    }
    for (const auto &entry : environment)
        env[entry.substr(0, entry.find('='))] = entry;
    std::vector<std::string> envStrings;
    for (const auto &[name, entry] : env)
        envStrings.push_back(entry);
    std::vector<char *> envp;
    for (auto &e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args{LYX_SIM_PROGRAM};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // The test may block signals in its threads; the program starts clean.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    if (::posix_spawn(&pid_, LYX_SIM_PROGRAM, &actions, &attributes, argv.data(), envp.data()) !=
        0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    ::fcntl(out_, F_SETFL, O_NONBLOCK);
    ::fcntl(err_, F_SETFL, O_NONBLOCK);
}

Program::~Program() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    closeInput();
    if (out_ >= 0) ::close(out_);
    if (err_ >= 0) ::close(err_);
}

bool Program::send(const std::string &text) {
    std::string line = text + "\n";
    return in_ >= 0 && ::write(in_, line.data(), line.size()) == static_cast<ssize_t>(line.size());
}

void Program::closeInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
}

bool Program::readSome(std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (::poll(fds, 2, remaining(deadline)) <= 0) return false;
    bool any = false;
    char buffer[4096];
    if (fds[0].revents != 0) {
        ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n > 0) {
            any = true;
            partial_.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
                lines_.push_back(partial_.substr(0, end));
                partial_.erase(0, end + 1);
            }
        }
    }
    if (fds[1].revents != 0) {
        ssize_t n = ::read(err_, buffer, sizeof buffer);
        if (n > 0) {
            any = true;
            errors_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return any;
}

std::optional<std::string> Program::line(const std::function<bool(const std::string &)> &match,
                                         std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        for (std::size_t i = matched_; i < lines_.size(); ++i) {
            if (match(lines_[i])) {
                matched_ = i + 1;
                return lines_[i];
            }
        }
        if (!readSome(deadline)) return std::nullopt;
    }
}

std::optional<std::string> Program::lineStarting(const std::string &prefix,
                                                 std::chrono::milliseconds timeout) {
    return line([&](const std::string &l) { return l.rfind(prefix, 0) == 0; }, timeout);
}

std::optional<int> Program::wait(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            while (readSome(std::chrono::steady_clock::now())) {
            }
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        // Output is read while waiting, so a full pipe cannot hold the program up.
        if (!readSome(std::min(deadline,
                               std::chrono::steady_clock::now() + std::chrono::milliseconds(20)))) {
            continue;
        }
    }
}

SocketClient::SocketClient(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

SocketClient::~SocketClient() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> SocketClient::nextLine(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (auto end = buffer_.find('\n'); end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, remaining(deadline)) <= 0) return std::nullopt;
        char chunk[4096];
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> SocketClient::command(const std::string &text) {
    std::string line = text + "\n";
    if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        auto reply = nextLine(deadline);
        if (!reply || reply->rfind("event ", 0) != 0) return reply;
        heldEvents_.push_back(*reply);
    }
}

std::optional<std::string> SocketClient::lineStarting(const std::string &prefix,
                                                      std::chrono::milliseconds timeout) {
    while (!heldEvents_.empty()) {
        std::string held = heldEvents_.front();
        heldEvents_.erase(heldEvents_.begin());
        if (held.rfind(prefix, 0) == 0) return held;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto line = nextLine(deadline);
        if (!line || line->rfind(prefix, 0) == 0) return line;
    }
}

}  // namespace lyx::sim::testing
