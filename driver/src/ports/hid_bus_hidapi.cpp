// The hidapi backend: real base stations through hidraw, with a udev monitor on
// the hidraw subsystem for arrivals and removals.
//
// Each device is opened twice: its hidraw node for reading and a hidapi handle
// for writing, so that the reader thread and a sending thread never share a
// handle's state.

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <mutex>
#include <thread>

#include "ports/hid_bus.hpp"

namespace lyx::drv {

namespace {

bool initHidapi() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = ::hid_init() == 0; });
    return ok;
}

class HidapiDevice final : public HidDevice {
  public:
    HidapiDevice(int reader, hid_device *writer) : reader_(reader), writer_(writer) {}
    ~HidapiDevice() override {
        ::close(reader_);
        ::hid_close(writer_);
    }

    int readableFd() const override { return reader_; }

    int readNow(std::span<std::uint8_t, 64> data) override {
        // A hidraw read gives one whole report; reports without numbered IDs
        // arrive without their ID byte, as through hidapi's own read.
        ssize_t n = ::read(reader_, data.data(), data.size());
        if (n > 0) return static_cast<int>(n);
        if (n == 0 || errno == EAGAIN || errno == EINTR) return 0;
        return -1;  // ENODEV and the like: the device has gone
    }

    bool write(std::span<const std::uint8_t, 65> report) override {
        return ::hid_write(writer_, report.data(), report.size()) ==
               static_cast<int>(report.size());
    }

  private:
    int reader_;
    hid_device *writer_;
};

class HidapiBus final : public HidBus {
  public:
    ~HidapiBus() override { stopMonitor(); }

    std::vector<HidInfo> enumerate() override {
        std::vector<HidInfo> devices;
        if (!initHidapi()) return devices;
        hid_device_info *list = ::hid_enumerate(0, 0);
        for (hid_device_info *d = list; d != nullptr; d = d->next) {
            HidInfo info;
            info.path = d->path != nullptr ? d->path : "";
            info.vendor = d->vendor_id;
            info.product = d->product_id;
            info.release = d->release_number;
            if (d->serial_number != nullptr) info.serial = d->serial_number;
            devices.push_back(std::move(info));
        }
        ::hid_free_enumeration(list);
        return devices;
    }

    std::unique_ptr<HidDevice> open(const HidInfo &info) override {
        if (!initHidapi()) return nullptr;
        // Reports are read from the hidraw node itself, without waiting, so
        // that one thread can wait on every base station at once.
        int reader = ::open(info.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (reader < 0) return nullptr;
        hid_device *writer = ::hid_open_path(info.path.c_str());
        if (writer == nullptr) {
            ::close(reader);
            return nullptr;
        }
        return std::make_unique<HidapiDevice>(reader, writer);
    }

    bool startMonitor(Changed changed) override {
        stopMonitor();
        udev_ = ::udev_new();
        if (udev_ == nullptr) return false;
        monitor_ = ::udev_monitor_new_from_netlink(udev_, "udev");
        if (monitor_ == nullptr ||
            ::udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
            ::udev_monitor_enable_receiving(monitor_) < 0) {
            release();
            return false;
        }
        stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        watcher_ = std::jthread([this, changed = std::move(changed)] { watch(changed); });
        return true;
    }

    void stopMonitor() override {
        if (watcher_.joinable()) {
            std::uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
            watcher_.join();
        }
        release();
    }

    bool monitoring() const { return watcher_.joinable(); }

  private:
    void watch(const Changed &changed) {
        int fd = ::udev_monitor_get_fd(monitor_);
        for (;;) {
            std::array<pollfd, 2> fds{{{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}}};
            if (::poll(fds.data(), 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            if (udev_device *device = ::udev_monitor_receive_device(monitor_)) {
                const char *action = ::udev_device_get_action(device);
                std::string what = action != nullptr ? action : "";
                ::udev_device_unref(device);
                if (what == "add" || what == "remove") changed();
            }
        }
    }

    void release() {
        if (monitor_ != nullptr) ::udev_monitor_unref(monitor_);
        if (udev_ != nullptr) ::udev_unref(udev_);
        if (stopFd_ >= 0) ::close(stopFd_);
        monitor_ = nullptr;
        udev_ = nullptr;
        stopFd_ = -1;
    }

    udev *udev_ = nullptr;
    udev_monitor *monitor_ = nullptr;
    int stopFd_ = -1;
    std::jthread watcher_;
};

}  // namespace

std::unique_ptr<HidBus> makeHidapiBus() {
    return std::make_unique<HidapiBus>();
}

}  // namespace lyx::drv
