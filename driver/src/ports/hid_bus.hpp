// The USB HID side of the driver: a bus that lists and opens HID devices and
// reports arrivals and removals, with two backends chosen at run time:
//   - hidapi on hidraw, with a udev monitor, for real base stations;
//   - vhid, virtual devices served on Unix sockets in $LYX_VHID_DIR, with an
//     inotify watch on that folder (used whenever LYX_VHID_DIR is set).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lyx::drv {

inline constexpr std::uint16_t kBaseStationVendor = 0x1781;
inline constexpr std::uint16_t kBaseStationProduct = 0x0BA4;

struct HidInfo {
    std::string path;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t release = 0;  // the device's release number, BCD as 0x0203
    std::wstring serial;        // the serial-number string
};

// One opened device. Reading and writing may run on different threads.
class HidDevice {
  public:
    virtual ~HidDevice() = default;
    // A descriptor that polls readable while an input report waits, and reports
    // POLLHUP or POLLERR once the device is gone: one thread waits on every
    // device at once.
    virtual int readableFd() const = 0;
    // Takes one waiting input report without waiting and copies its data (the
    // bytes after the report ID) to `data`. Returns the byte count, 0 when no
    // report waits, -1 when the device is gone.
    virtual int readNow(std::span<std::uint8_t, 64> data) = 0;
    // Writes one 65-byte output report (byte 0 the report ID); false on failure.
    virtual bool write(std::span<const std::uint8_t, 65> report) = 0;
};

class HidBus {
  public:
    using Changed = std::function<void()>;
    virtual ~HidBus() = default;
    // The HID devices present now, in enumeration order.
    virtual std::vector<HidInfo> enumerate() = 0;
    // Opens a listed device; null when it cannot be opened.
    virtual std::unique_ptr<HidDevice> open(const HidInfo &info) = 0;
    // Calls `changed` (from a thread of the bus) whenever a device arrives or
    // leaves, until stopMonitor(). False when arrivals cannot be watched.
    virtual bool startMonitor(Changed changed) = 0;
    virtual void stopMonitor() = 0;
};

std::unique_ptr<HidBus> makeHidapiBus();
std::unique_ptr<HidBus> makeVhidBus(const std::string &folder);
// vhid when LYX_VHID_DIR is set, else hidapi.
std::unique_ptr<HidBus> makeHidBus();

// The slot number a serial-number string names: the low byte of each character
// up to the first zero, read as a leading decimal number (none reads as 0).
int slotFromSerial(const std::wstring &serial);

// The firmware revision a release number gives: high byte and low byte written
// in hexadecimal, joined by a point, read as a decimal number (0x0203 gives 2.3,
// 0x0110 gives 1.1).
float revisionFromRelease(std::uint16_t release);

}  // namespace lyx::drv
