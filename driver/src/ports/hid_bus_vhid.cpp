// The vhid backend: virtual base stations on Unix sockets in one folder, found
// by listing the folder and watched with inotify.

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "lyx/link/vhid_protocol.hpp"
#include "ports/hid_bus.hpp"

namespace lyx::drv {

namespace {

constexpr int kIdentityWaitMs = 500;
constexpr int kWriteWaitMs = 50;

// Waits up to `timeoutMs` for `fd` to become readable.
bool waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        int n = ::poll(&p, 1, std::max(left, 0));
        if (n < 0 && errno == EINTR) continue;
        return n > 0 && p.revents != 0;
    }
}

// Connects to a device socket and reads its identity message.
int connectDevice(const std::string &path, vhid::Identity &identity) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        !waitReadable(fd, kIdentityWaitMs)) {
        ::close(fd);
        return -1;
    }
    char message[512];
    ssize_t n = ::recv(fd, message, sizeof message, MSG_DONTWAIT);
    auto parsed =
        n > 0 ? vhid::parseIdentity({message, static_cast<std::size_t>(n)}) : std::nullopt;
    if (!parsed) {
        ::close(fd);
        return -1;
    }
    identity = *parsed;
    return fd;
}

class VhidDevice final : public HidDevice {
  public:
    explicit VhidDevice(int fd) : fd_(fd) {}
    ~VhidDevice() override { ::close(fd_); }

    int readableFd() const override { return fd_; }

    int readNow(std::span<std::uint8_t, 64> data) override {
        std::array<std::uint8_t, vhid::kReportSize> report{};
        ssize_t n = ::recv(fd_, report.data(), report.size(), MSG_DONTWAIT);
        if (n == 0) return -1;  // the device closed the connection: it is gone
        if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
        if (n < 2) return 0;
        std::size_t count = static_cast<std::size_t>(n) - 1;
        std::copy_n(report.begin() + 1, count, data.begin());
        return static_cast<int>(count);
    }

    bool write(std::span<const std::uint8_t, 65> report) override {
        for (int attempt = 0; attempt < 2; ++attempt) {
            ssize_t n = ::send(fd_, report.data(), report.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n == static_cast<ssize_t>(report.size())) return true;
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            // The device is not taking reports: wait a little, once, as a HID
            // write that does not complete is given up after a short pause.
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, kWriteWaitMs);
        }
        return false;
    }

  private:
    int fd_;
};

class VhidBus final : public HidBus {
  public:
    explicit VhidBus(std::string folder) : folder_(std::move(folder)) {}
    ~VhidBus() override { stopMonitor(); }

    std::vector<HidInfo> enumerate() override {
        std::vector<std::string> names;
        if (DIR *dir = ::opendir(folder_.c_str())) {
            while (dirent *entry = ::readdir(dir)) {
                if (vhid::isDeviceSocketName(entry->d_name)) names.emplace_back(entry->d_name);
            }
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        std::vector<HidInfo> devices;
        for (const auto &name : names) {
            std::string path = folder_ + "/" + name;
            vhid::Identity identity;
            int fd = connectDevice(path, identity);
            if (fd < 0) continue;
            ::close(fd);
            devices.push_back({path, identity.vendor, identity.product, identity.release,
                               vhid::utf8ToWide(identity.serial)});
        }
        return devices;
    }

    std::unique_ptr<HidDevice> open(const HidInfo &info) override {
        vhid::Identity identity;
        int fd = connectDevice(info.path, identity);
        if (fd < 0) return nullptr;
        return std::make_unique<VhidDevice>(fd);
    }

    bool startMonitor(Changed changed) override {
        stopMonitor();
        ::mkdir(folder_.c_str(), 0700);  // so that devices appearing later are seen
        int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (watch < 0) return false;
        if (::inotify_add_watch(watch, folder_.c_str(),
                                IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM) < 0) {
            ::close(watch);
            return false;
        }
        stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        monitor_ = std::jthread([this, watch, changed = std::move(changed)] {
            watchFolder(watch, changed);
            ::close(watch);
        });
        return true;
    }

    void stopMonitor() override {
        if (!monitor_.joinable()) return;
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
        monitor_.join();
        ::close(stopFd_);
        stopFd_ = -1;
    }

  private:
    void watchFolder(int watch, const Changed &changed) {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            std::array<pollfd, 2> fds{{{watch, POLLIN, 0}, {stopFd_, POLLIN, 0}}};
            if (::poll(fds.data(), 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            ssize_t n = ::read(watch, buffer, sizeof buffer);
            bool relevant = false;
            for (ssize_t offset = 0; n > 0 && offset < n;) {
                auto *event = reinterpret_cast<inotify_event *>(buffer + offset);
                if (event->len > 0 && vhid::isDeviceSocketName(event->name)) relevant = true;
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
            if (relevant) changed();
        }
    }

    std::string folder_;
    int stopFd_ = -1;
    std::jthread monitor_;
};

}  // namespace

std::unique_ptr<HidBus> makeVhidBus(const std::string &folder) {
    return std::make_unique<VhidBus>(folder);
}

}  // namespace lyx::drv
