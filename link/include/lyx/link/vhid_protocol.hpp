// The virtual HID bus protocol, shared by the driver (client) and the devices
// that serve it (the simulator, test devices).
//
// A device is a listening Unix-domain SOCK_SEQPACKET socket named *.sock in the
// bus folder. On each connection it first sends its identity as one message of
// ASCII text, "vid=1781 pid=0ba4 release=0203 serial=1" (vid, pid and release
// in hexadecimal, the serial-number string as UTF-8 to the end of the message).
// After that every message in either direction is one 65-byte report, byte 0 the
// report ID.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lyx::vhid {

inline constexpr std::size_t kReportSize = 65;
inline constexpr std::string_view kSocketSuffix = ".sock";

struct Identity {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t release = 0;
    std::string serial;  // UTF-8
};

std::string formatIdentity(const Identity &identity);
std::optional<Identity> parseIdentity(std::string_view message);

// UTF-8 to the characters of a HID string; invalid sequences become U+FFFD.
std::wstring utf8ToWide(std::string_view text);

bool isDeviceSocketName(std::string_view name);

}  // namespace lyx::vhid
