#include "ports/usb_transport.hpp"

#include <cstdlib>

#include "lyx/link/frame.hpp"

namespace lyx::drv {

namespace {
constexpr int kFirstReadSlot = 1;
constexpr int kLastReadSlot = 3;
constexpr int kLastWriteSlot = 3;
constexpr int kLastDeviceSlot = 4;
}  // namespace

UsbTransport::UsbTransport(std::unique_ptr<HidBus> bus) : bus_(std::move(bus)) {}

UsbTransport::~UsbTransport() {
    stop();
}

void UsbTransport::start(Receiver received, DeviceChange devicesChanged) {
    if (!readers_.empty()) return;
    auto shared = std::make_shared<Receiver>(std::move(received));
    for (int slot = kFirstReadSlot; slot <= kLastReadSlot; ++slot) {
        readers_.emplace_back(
            [this, slot, shared](std::stop_token stop) { readLoop(slot, stop, *shared); });
    }
    devicesChanged_ = devicesChanged;
    monitoring_ = bus_->startMonitor(std::move(devicesChanged));
}

void UsbTransport::readLoop(int slot, std::stop_token stop, const Receiver &received) {
    std::array<std::uint8_t, 64> data{};
    while (!stop.stop_requested()) {
        std::shared_ptr<HidDevice> device;
        {
            std::unique_lock guard(lock_);
            // An empty slot, or one whose device has gone, waits for the next
            // enumeration instead of spinning.
            slotsChanged_.wait(guard, stop,
                               [&] { return slots_[slot].device && !slots_[slot].failed; });
            if (stop.stop_requested()) return;
            device = slots_[slot].device;
        }
        int n = device->read(data, kReadLimitMs);
        if (n > 0) {
            received({data.data(), static_cast<std::size_t>(n)});
            data.fill(0);
        } else if (n < 0) {
            bool marked = false;
            {
                std::lock_guard guard(lock_);
                if (slots_[slot].device == device && !slots_[slot].failed) {
                    slots_[slot].failed = true;
                    marked = true;
                }
            }
            // A device unplugged and plugged back before this reader noticed
            // may already have been enumerated again with its old, dead handle;
            // enumerating once more opens it afresh.
            if (marked && devicesChanged_) devicesChanged_();
        }
    }
}

bool UsbTransport::stop() {
    bus_->stopMonitor();
    monitoring_ = false;
    for (auto &reader : readers_)
        reader.request_stop();
    {
        std::lock_guard guard(lock_);
        for (auto &slot : slots_) {
            if (slot.device) slot.device->interrupt();
        }
    }
    readers_.clear();  // joins; a reader in a read that cannot be woken ends within its limit
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
    std::lock_guard guard(lock_);
    for (auto &old : slots_) {
        bool kept = false;
        for (const auto &now : fresh)
            kept = kept || (old.device && now.device == old.device);
        if (old.device && !kept) old.device->interrupt();
    }
    slots_ = fresh;
    revisions_ = revisions;
    slotsChanged_.notify_all();
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
