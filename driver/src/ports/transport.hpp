// The link transport: what the receive engine and the exchange need from a
// serial port, a set of USB base stations or a test double.
//
// Threads: start() and stop() are called by the thread that opens and closes the
// link. The transport calls `received` from its own reader threads, one chunk at
// a time, and `devicesChanged` from any thread when devices come or go; it calls
// neither after stop() has returned. send() may be called from any thread,
// including concurrently with reading. enumerate() runs on the thread that opened
// the link.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace lyx::drv {

class LinkTransport {
  public:
    using Receiver = std::function<void(std::span<const std::uint8_t>)>;
    using DeviceChange = std::function<void()>;

    virtual ~LinkTransport() = default;

    // Starts the readers.
    virtual void start(Receiver received, DeviceChange devicesChanged) = 0;

    // Stops the readers, waits until they have ended and releases the device.
    // False when the device could not be closed cleanly.
    virtual bool stop() = 0;

    // Sends one link frame to base station `address`; false when it was not sent.
    virtual bool send(std::uint8_t address, std::span<const std::uint8_t> frame) = 0;

    // Finds the devices again after a device change (USB); nothing for a serial port.
    virtual void enumerate() {}

    // The base stations on the link now, bit n for station n: the USB slots that
    // hold a working device, bit 1 for a serial port that is up.
    virtual std::uint32_t stations() const { return 0; }

    // Firmware revision of the device in USB slot `slot`; 0 when unknown.
    virtual float revision(int slot) const {
        (void)slot;
        return 0.0f;
    }
};

}  // namespace lyx::drv
