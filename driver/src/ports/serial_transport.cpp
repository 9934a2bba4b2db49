#include "ports/serial_transport.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include "ports/device_watch.hpp"

namespace lyx::drv {

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr auto kWriteLimit = std::chrono::seconds(2);
constexpr std::chrono::milliseconds kFirstRetry{100};
// The shortest time between two attempts that events prompted.
constexpr std::chrono::milliseconds kEventPause{20};

// Raw 8N1 without flow control; the receiver is enabled and modem status lines
// are ignored for opening and reading.
bool configureLine(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    // One byte minimum: a non-blocking read with nothing waiting then fails with
    // EAGAIN, and a read of 0 bytes means the line was hung up. (With a minimum
    // of 0 an empty read would look like a hang-up.)
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
    termios check{};
    if (::tcgetattr(fd, &check) != 0) return false;
    return (check.c_cflag & CSIZE) == CS8 && (check.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0;
}

void closeQuietly(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

// Opens and configures the line; the descriptor, or -1 with `code` saying why.
int openLine(const std::string &device, std::int32_t baudRate, std::int32_t &code) {
    code = SerialTransport::kCannotOpen;
    if (device.empty()) return -1;
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // Exclusive: TIOCEXCL keeps out other openers that are not root; the lock
    // also keeps out a second copy of this driver running as root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    ::ioctl(fd, TIOCEXCL);

    if (!configureLine(fd) || !setLineSpeed(fd, baudRate)) {
        closeQuietly(fd);
        code = SerialTransport::kSettingsRefused;
        return -1;
    }
    // DTR and RTS asserted while the port is open; a pseudo-terminal has no
    // modem lines, which is not a failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &lines);
    code = SerialTransport::kOpened;
    return fd;
}

bool exists(const std::string &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

SerialTransport::Opened SerialTransport::open(const std::string &device, std::int32_t baudRate) {
    std::int32_t code = kCannotOpen;
    const int fd = openLine(device, baudRate, code);
    if (fd < 0) return {code, nullptr};
    ::tcflush(fd, TCIFLUSH);
    return {kOpened, std::shared_ptr<SerialTransport>(new SerialTransport(fd, device, baudRate))};
}

SerialTransport::SerialTransport(int fd, std::string device, std::int32_t baudRate)
    : fd_(fd),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      device_(std::move(device)),
      baudRate_(baudRate) {}

SerialTransport::~SerialTransport() {
    stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void SerialTransport::start(Receiver received, DeviceChange devicesChanged) {
    if (fd_ < 0 || reader_.joinable()) return;
    lineUp_ = true;
    reader_ = std::jthread([this, received = std::move(received),
                            changed = std::move(devicesChanged)] { run(received, changed); });
}

void SerialTransport::run(const Receiver &received, const DeviceChange &changed) {
    for (;;) {
        if (!readUntilHangUp(received)) return;
        {
            std::lock_guard guard(writeLock_);
            closeQuietly(fd_);
            fd_ = -1;
        }
        lineUp_ = false;
        if (changed) changed();
        if (!reopen()) return;
        lineUp_ = true;
        if (changed) changed();
    }
}

bool SerialTransport::readUntilHangUp(const Receiver &received) {
    std::array<std::uint8_t, kReadChunk> buffer{};
    for (;;) {
        std::array<pollfd, 2> fds{{{wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}}};
        int n = ::poll(fds.data(), fds.size(), -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[0].revents != 0) return false;  // asked to stop
        if (fds[1].revents & POLLIN) {
            for (;;) {
                ssize_t got = ::read(fd_, buffer.data(), buffer.size());
                if (got > 0) {
                    received({buffer.data(), static_cast<std::size_t>(got)});
                    continue;
                }
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
                // End of file or an error: the device is gone (an unplugged
                // adapter, a closed pseudo-terminal).
                return true;
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            return true;
        }
    }
}

bool SerialTransport::reopen() {
    using Clock = std::chrono::steady_clock;
    DeviceWatch watch(device_);
    std::chrono::milliseconds nextWait = kFirstRetry;
    const auto backOff = [&] {
        const auto wait = nextWait;
        nextWait = std::min(kLongestRetry, nextWait * 2);
        return Clock::now() + wait;
    };
    // A device still there (a line hung up by other means than a removal) gets
    // no event: it is tried on the timer. Without inotify the timer is all
    // there is.
    constexpr Clock::time_point kNoTimer = Clock::time_point::max();
    Clock::time_point retryAt = kNoTimer;
    if (exists(device_) || !watch.ok()) retryAt = backOff();
    Clock::time_point lastAttempt{};
    for (;;) {
        int timeoutMs = -1;
        if (retryAt != kNoTimer) {
            timeoutMs = static_cast<int>(std::max<std::int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(retryAt - Clock::now()).count()));
        }
        std::array<pollfd, 2> fds{{{wakeFd_, POLLIN, 0}, {watch.fd(), POLLIN, 0}}};
        int n = ::poll(fds.data(), fds.size(), timeoutMs);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[0].revents != 0) return false;  // asked to stop
        const auto now = Clock::now();
        bool attempt = now >= retryAt;
        if (fds[1].revents != 0) {
            watch.refresh();
            // Events come in bursts (a node, its links, its permissions): one
            // attempt per burst, the next at the end of a short pause.
            if (now - lastAttempt >= kEventPause) {
                attempt = true;
            } else {
                retryAt = std::min(retryAt, lastAttempt + kEventPause);
            }
        }
        if (!attempt) continue;
        lastAttempt = now;
        std::int32_t code = kCannotOpen;
        const int fd = openLine(device_, baudRate_, code);
        if (fd >= 0) {
            std::lock_guard guard(writeLock_);
            fd_ = fd;
            return true;
        }
        retryAt = exists(device_) || !watch.ok() ? backOff() : kNoTimer;
    }
}

bool SerialTransport::stop() {
    if (reader_.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
        reader_.join();
    }
    lineUp_ = false;  // after the reader, which may have just opened the line again
    std::lock_guard guard(writeLock_);
    return closeDevice();
}

bool SerialTransport::closeDevice() {
    if (fd_ < 0) return true;
    ::tcflush(fd_, TCIFLUSH);
    ::ioctl(fd_, TIOCNXCL);
    int rc = ::close(fd_);
    fd_ = -1;
    // After close() Linux has released the descriptor even when it reports an
    // error; the error is still passed on (CLOSEPORT answers -2 once).
    return rc == 0 || errno == EINTR;
}

bool SerialTransport::send(std::uint8_t, std::span<const std::uint8_t> frame) {
    std::lock_guard guard(writeLock_);
    if (fd_ < 0) return false;
    auto deadline = std::chrono::steady_clock::now() + kWriteLimit;
    std::size_t done = 0;
    while (done < frame.size()) {
        ssize_t n = ::write(fd_, frame.data() + done, frame.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLOUT, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
    }
    return true;
}

}  // namespace lyx::drv
