#include "ports/usb_transport.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "lyx/link/frame.hpp"

namespace lyx::drv {

namespace {
constexpr int kFirstReadSlot = 1;
constexpr int kLastReadSlot = 3;
constexpr int kLastWriteSlot = 3;
constexpr int kLastDeviceSlot = 4;
}  // namespace

UsbTransport::UsbTransport(std::unique_ptr<HidBus> bus)
    : bus_(std::move(bus)), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

UsbTransport::~UsbTransport() {
    stop();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void UsbTransport::start(Receiver received, DeviceChange devicesChanged) {
    if (reader_.joinable()) return;
    devicesChanged_ = devicesChanged;
    reader_ = std::jthread(
        [this, received = std::move(received)](std::stop_token stop) { readLoop(stop, received); });
    monitoring_ = bus_->startMonitor(std::move(devicesChanged));
}

void UsbTransport::wakeReader() {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

// One thread waits on every base station at once and, on each wake, takes a
// report from each station that has one. Stations whose reports leave in the
// same USB frame thus cost one wake of this thread and one hand-over, not one
// each. One report per station and wake costs no read that finds nothing in the
// usual case of a report a millisecond; more waiting wake the poll at once.
void UsbTransport::readLoop(std::stop_token stop, const Receiver &received) {
    constexpr int kReaders = kLastReadSlot - kFirstReadSlot + 1;
    std::array<std::uint8_t, 64> data{};
    std::vector<std::uint8_t> batch;
    batch.reserve(kReaders * data.size());
    std::array<std::shared_ptr<HidDevice>, kReaders> devices;
    std::array<pollfd, kReaders + 1> fds{};
    std::array<int, kReaders + 1> slotOf{};
    nfds_t count = 0;
    bool look = true;
    while (!stop.stop_requested()) {
        if (look) {
            // The devices to wait on, taken again only when the slots change.
            look = false;
            devices = {};
            count = 0;
            fds[count++] = {wakeFd_, POLLIN, 0};
            std::lock_guard guard(lock_);
            for (int slot = kFirstReadSlot; slot <= kLastReadSlot; ++slot) {
                // A slot whose device has gone waits for the next enumeration.
                if (!slots_[slot].device || slots_[slot].failed) continue;
                devices[count - 1] = slots_[slot].device;
                slotOf[count] = slot;
                fds[count] = {slots_[slot].device->readableFd(), POLLIN, 0};
                ++count;
            }
        }
        if (::poll(fds.data(), count, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) {
            // The slots changed, or the transport stops: look again.
            std::uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
            look = true;
            continue;
        }
        // What the stations had waiting goes on in one piece: one pass of the
        // frame processor and one hand-over for all of it, in the order read.
        batch.clear();
        std::array<bool, kReaders> gone{};
        for (nfds_t i = 1; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            const int n = devices[i - 1]->readNow(data);
            if (n > 0) batch.insert(batch.end(), data.begin(), data.begin() + n);
            const bool hungUp = (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            gone[i - 1] = n < 0 || (n == 0 && hungUp);
        }
        if (!batch.empty()) received(batch);
        for (nfds_t i = 1; i < count; ++i) {
            if (!gone[i - 1]) continue;
            deviceGone(slotOf[i], devices[i - 1]);
            look = true;
        }
    }
}

void UsbTransport::deviceGone(int slot, const std::shared_ptr<HidDevice> &device) {
    bool marked = false;
    {
        std::lock_guard guard(lock_);
        if (slots_[slot].device == device && !slots_[slot].failed) {
            slots_[slot].failed = true;
            marked = true;
        }
    }
    // A device unplugged and plugged back before the reader noticed may already
    // have been enumerated again with its old, dead handle; enumerating once
    // more opens it afresh.
    if (marked && devicesChanged_) devicesChanged_();
}

bool UsbTransport::stop() {
    bus_->stopMonitor();
    monitoring_ = false;
    if (reader_.joinable()) {
        reader_.request_stop();
        wakeReader();
        reader_.join();
    }
    std::lock_guard guard(lock_);
    for (auto &slot : slots_)
        slot = Slot{};
    return true;
}

void UsbTransport::enumerate() {
    std::array<Slot, kSlots> current;
    {
        std::lock_guard guard(lock_);
        current = slots_;
    }
    std::array<Slot, kSlots> fresh;
    std::array<float, kSlots> revisions;
    {
        std::lock_guard guard(lock_);
        revisions = revisions_;
    }
    for (const HidInfo &info : bus_->enumerate()) {
        if (info.vendor != kBaseStationVendor || info.product != kBaseStationProduct) continue;
        int slot = slotFromSerial(info.serial);
        if (slot < 0 || slot > kLastDeviceSlot) continue;
        // A base station that is still there keeps its open handle, so nothing
        // it sends is lost while another device comes or goes.
        std::shared_ptr<HidDevice> device;
        for (const Slot &old : current) {
            if (old.device && !old.failed && old.info.path == info.path &&
                old.info.serial == info.serial && old.info.release == info.release) {
                device = old.device;
            }
        }
        if (!device) device = bus_->open(info);
        if (!device) continue;
        fresh[slot] = Slot{device, info, false};  // a later device with the same slot replaces it
        revisions[slot] = revisionFromRelease(info.release);
    }
    {
        std::lock_guard guard(lock_);
        slots_ = fresh;
        revisions_ = revisions;
    }
    // The reader lets go of devices that have gone and waits on the new ones.
    wakeReader();
}

bool UsbTransport::send(std::uint8_t address, std::span<const std::uint8_t> frame) {
    if (address > kLastWriteSlot) return false;
    auto reports = link::splitIntoReports(frame);
    if (!reports) return false;
    std::shared_ptr<HidDevice> device;
    {
        std::lock_guard guard(lock_);
        device = slots_[address].device;
    }
    if (!device) return false;
    for (const auto &report : *reports) {
        if (!device->write(report)) return false;  // not repeated
    }
    return true;
}

float UsbTransport::revision(int slot) const {
    if (slot < 0 || slot >= kSlots) return 0.0f;
    std::lock_guard guard(lock_);
    return revisions_[slot];
}

std::uint32_t UsbTransport::stations() const {
    std::uint32_t bits = 0;
    std::lock_guard guard(lock_);
    for (int slot = 0; slot < kSlots; ++slot) {
        if (slots_[slot].device && !slots_[slot].failed) bits |= 1u << slot;
    }
    return bits;
}

bool UsbTransport::occupied(int slot) const {
    if (slot < 0 || slot >= kSlots) return false;
    std::lock_guard guard(lock_);
    return static_cast<bool>(slots_[slot].device);
}

std::unique_ptr<HidBus> makeHidBus() {
    const char *folder = std::getenv("LYX_VHID_DIR");
    if (folder != nullptr && *folder != '\0') return makeVhidBus(folder);
    return makeHidapiBus();
}

}  // namespace lyx::drv
