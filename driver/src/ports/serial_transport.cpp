#include "ports/serial_transport.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

namespace lyx::drv {

namespace {

constexpr std::size_t kReadChunk = 4096;
constexpr auto kWriteLimit = std::chrono::seconds(2);

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

}  // namespace

SerialTransport::Opened SerialTransport::open(const std::string &device, std::int32_t baudRate) {
    if (device.empty()) return {};
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    // Exclusive: TIOCEXCL keeps out other openers that are not root; the lock
    // also keeps out a second copy of this driver running as root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return {};
    }
    ::ioctl(fd, TIOCEXCL);

    if (!configureLine(fd) || !setLineSpeed(fd, baudRate)) {
        closeQuietly(fd);
        return {kSettingsRefused, nullptr};
    }
    // DTR and RTS asserted while the port is open; a pseudo-terminal has no
    // modem lines, which is not a failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIS, &lines);
    ::tcflush(fd, TCIFLUSH);
    return {kOpened, std::shared_ptr<SerialTransport>(new SerialTransport(fd, device))};
}

SerialTransport::SerialTransport(int fd, std::string device)
    : fd_(fd), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), device_(std::move(device)) {}

SerialTransport::~SerialTransport() {
    stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void SerialTransport::start(Receiver received, DeviceChange) {
    if (fd_ < 0 || reader_.joinable()) return;
    lineUp_ = true;
    reader_ = std::jthread([this, received = std::move(received)] { readLoop(received); });
}

void SerialTransport::readLoop(Receiver received) {
    std::array<std::uint8_t, kReadChunk> buffer{};
    bool lineUp = true;
    for (;;) {
        std::array<pollfd, 2> fds{{{wakeFd_, POLLIN, 0}, {lineUp ? fd_ : -1, POLLIN, 0}}};
        int n = ::poll(fds.data(), fds.size(), -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) return;  // asked to stop
        if (fds[1].revents & POLLIN) {
            for (;;) {
                ssize_t got = ::read(fd_, buffer.data(), buffer.size());
                if (got > 0) {
                    received({buffer.data(), static_cast<std::size_t>(got)});
                    continue;
                }
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
                // End of file or an error: the device is gone (an unplugged
                // adapter, a closed pseudo-terminal). Wait only for the stop.
                lineUp = false;
                lineUp_ = false;
                break;
            }
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            lineUp = false;
            lineUp_ = false;
        }
    }
}

bool SerialTransport::stop() {
    lineUp_ = false;
    if (reader_.joinable()) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
        reader_.join();
    }
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
