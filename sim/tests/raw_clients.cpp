#include "raw_clients.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "lyx/link/synchroniser.hpp"

namespace lyx::sim::testing {

namespace {

bool waitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return false;
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

std::optional<link::Bytes> takeFrameWithCode(link::Bytes &stream, std::uint8_t code) {
    for (;;) {
        link::HeldBytes held{stream, {}};
        auto found = link::findFrame(held);
        auto begin = stream.begin() + static_cast<std::ptrdiff_t>(found.discard);
        if (found.frameLength == 0) {
            stream.erase(stream.begin(), begin);
            return std::nullopt;
        }
        link::Bytes frame(begin, begin + static_cast<std::ptrdiff_t>(found.frameLength));
        stream.erase(stream.begin(), begin + static_cast<std::ptrdiff_t>(found.frameLength));
        if ((frame[3] & 0x1F) == code) return frame;
    }
}

VhidClient::VhidClient(const std::string &socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    fd_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    char text[256];
    if (!waitReadable(fd_, std::chrono::steady_clock::now() + std::chrono::seconds(5))) return;
    ssize_t n = ::recv(fd_, text, sizeof text, 0);
    if (n > 0) identity_.assign(text, static_cast<std::size_t>(n));
}

VhidClient::~VhidClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool VhidClient::send(const link::Bytes &frame) {
    std::uint8_t report[65] = {};
    std::copy_n(frame.begin(), std::min<std::size_t>(frame.size(), 64), report + 1);
    return ::send(fd_, report, sizeof report, MSG_NOSIGNAL) == 65;
}

std::optional<link::Bytes> VhidClient::report(std::chrono::milliseconds timeout) {
    if (!waitReadable(fd_, std::chrono::steady_clock::now() + timeout)) return std::nullopt;
    std::uint8_t report[65];
    ssize_t n = ::recv(fd_, report, sizeof report, 0);
    if (n != 65) return std::nullopt;
    return link::Bytes(report + 1, report + 65);
}

std::optional<link::Bytes> VhidClient::frameWithCode(std::uint8_t code,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto frame = takeFrameWithCode(stream_, code)) return frame;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        auto r = report(std::max(left, std::chrono::milliseconds(0)));
        if (!r) return std::nullopt;
        stream_.insert(stream_.end(), r->begin(), r->end());
    }
}

SerialClient::SerialClient(const std::string &device) {
    fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
}

SerialClient::~SerialClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool SerialClient::send(const link::Bytes &frame) {
    return ::write(fd_, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
}

std::optional<link::Bytes> SerialClient::frameWithCode(std::uint8_t code,
                                                       std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (auto frame = takeFrameWithCode(stream_, code)) return frame;
        if (!waitReadable(fd_, deadline)) return std::nullopt;
        std::uint8_t buffer[512];
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) stream_.insert(stream_.end(), buffer, buffer + n);
    }
}

}  // namespace lyx::sim::testing
