#include "lyx/sim/vhid_device.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace lyx::sim {

namespace {

bool fillAddress(sockaddr_un &address, const std::string &path) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

VirtualHidDevice::VirtualHidDevice(std::string folder, std::string name, vhid::Identity identity,
                                   OutputHandler onOutput)
    : folder_(std::move(folder)),
      name_(std::move(name)),
      identity_(std::move(identity)),
      onOutput_(std::move(onOutput)) {}

VirtualHidDevice::~VirtualHidDevice() {
    unplug();
}

std::string VirtualHidDevice::socketPath() const {
    return folder_ + "/" + name_ + std::string(vhid::kSocketSuffix);
}

bool VirtualHidDevice::plugIn() {
    if (pluggedIn()) return true;
    std::string temporary = folder_ + "/." + name_ + ".tmp" + std::to_string(::getpid());
    sockaddr_un address{};
    if (!fillAddress(address, temporary) || socketPath().size() >= sizeof address.sun_path) {
        return false;
    }
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    ::unlink(temporary.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0 || ::rename(temporary.c_str(), socketPath().c_str()) != 0) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    serving_ = std::jthread([this, fd] { serve(fd); });
    return true;
}

void VirtualHidDevice::unplug() {
    if (!serving_.joinable()) return;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    serving_.join();
    ::close(wakeFd_);
    wakeFd_ = -1;
}

void VirtualHidDevice::serve(int listenFd) {
    std::array<std::uint8_t, vhid::kReportSize + 1> buffer{};
    const std::string identityText = vhid::formatIdentity(identity_);
    for (;;) {
        std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}, {listenFd, POLLIN, 0}};
        {
            std::lock_guard guard(lock_);
            for (int c : connections_)
                fds.push_back({c, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) break;
        if (fds[1].revents & POLLIN) {
            int c = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                // A reader that stops reading must not stall the device for
                // long: a report that cannot be delivered within a second is
                // dropped for that reader, as a full HID input buffer drops it.
                timeval limit{1, 0};
                ::setsockopt(c, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
                int size = 1 << 20;
                ::setsockopt(c, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
                // Identity and registration under one lock: a report sent by
                // another thread can neither overtake the identity nor miss a
                // connection whose identity the host has already read.
                std::lock_guard guard(lock_);
                ::send(c, identityText.data(), identityText.size(), MSG_NOSIGNAL);
                connections_.push_back(c);
                connectionsChanged_.notify_all();
            }
        }
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            ssize_t n = ::recv(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n > 0) {
                if (onOutput_) onOutput_({buffer.data(), static_cast<std::size_t>(n)});
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                std::lock_guard guard(lock_);
                connections_.erase(std::remove(connections_.begin(), connections_.end(), fds[i].fd),
                                   connections_.end());
                ::close(fds[i].fd);
                connectionsChanged_.notify_all();
            }
        }
    }
    // Leaving: the socket file goes first, then the connections.
    ::unlink(socketPath().c_str());
    ::close(listenFd);
    std::lock_guard guard(lock_);
    for (int c : connections_)
        ::close(c);
    connections_.clear();
    connectionsChanged_.notify_all();
}

int VirtualHidDevice::sendReport(std::span<const std::uint8_t> data, Delivery delivery) {
    std::array<std::uint8_t, vhid::kReportSize> report{};
    std::copy_n(data.begin(), std::min<std::size_t>(data.size(), 64), report.begin() + 1);
    const int flags = MSG_NOSIGNAL | (delivery == Delivery::DropWhenFull ? MSG_DONTWAIT : 0);
    std::lock_guard guard(lock_);
    int delivered = 0;
    for (int c : connections_) {
        if (::send(c, report.data(), report.size(), flags) == static_cast<ssize_t>(report.size())) {
            ++delivered;
        } else {
            ++dropped_;
        }
    }
    return delivered;
}

int VirtualHidDevice::sendFrame(std::span<const std::uint8_t> frame, Delivery delivery) {
    int delivered = 0;
    for (std::size_t offset = 0; offset < frame.size(); offset += 64) {
        delivered = sendReport(
            frame.subspan(offset, std::min<std::size_t>(64, frame.size() - offset)), delivery);
    }
    return delivered;
}

std::uint64_t VirtualHidDevice::reportsDropped() const {
    std::lock_guard guard(lock_);
    return dropped_;
}

std::size_t VirtualHidDevice::connections() const {
    std::lock_guard guard(lock_);
    return connections_.size();
}

bool VirtualHidDevice::waitForConnections(std::size_t count, int timeoutMs) const {
    std::unique_lock guard(lock_);
    return connectionsChanged_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                        [&] { return connections_.size() >= count; });
}

}  // namespace lyx::sim

namespace lyx::sim {

bool VirtualHidDevice::waitForNoConnections(int timeoutMs) const {
    std::unique_lock guard(lock_);
    return connectionsChanged_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                        [&] { return connections_.empty(); });
}

}  // namespace lyx::sim
