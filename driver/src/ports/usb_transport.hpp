// USB base stations: a table of 17 slots filled from the HID bus by the slot
// number each device names in its serial-number string (0 to 4), one reader
// thread that waits on the devices of slots 1, 2 and 3 together, and
// re-enumeration on every device arrival and removal.
//
// Threads: the reader and the bus monitor run on their own threads;
// enumerate() runs on the thread that opened the link; send() on any thread.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ports/hid_bus.hpp"
#include "ports/transport.hpp"

namespace lyx::drv {

class UsbTransport final : public LinkTransport {
  public:
    static constexpr int kSlots = 17;

    explicit UsbTransport(std::unique_ptr<HidBus> bus);
    ~UsbTransport() override;

    void start(Receiver received, DeviceChange devicesChanged) override;
    bool stop() override;
    bool send(std::uint8_t address, std::span<const std::uint8_t> frame) override;
    void enumerate() override;
    float revision(int slot) const override;
    std::uint32_t stations() const override;

    // Whether a device sits in `slot` (for tests and diagnostics).
    bool occupied(int slot) const;
    bool monitoring() const { return monitoring_; }

  private:
    struct Slot {
        std::shared_ptr<HidDevice> device;
        HidInfo info;
        bool failed = false;  // a read reported the device gone
    };

    void readLoop(std::stop_token stop, const Receiver &received);
    // Marks `slot` failed if `device` is still its device, and asks for an
    // enumeration.
    void deviceGone(int slot, const std::shared_ptr<HidDevice> &device);
    void wakeReader();

    std::unique_ptr<HidBus> bus_;
    mutable std::mutex lock_;
    std::array<Slot, kSlots> slots_;
    std::array<float, kSlots> revisions_{};
    std::jthread reader_;
    int wakeFd_;                   // written when the slots change or the reader is to stop
    DeviceChange devicesChanged_;  // also called by a reader that finds its device gone
    bool monitoring_ = false;
};

}  // namespace lyx::drv
