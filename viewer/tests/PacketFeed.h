#pragma once
// Frames for the component's TriggerEvent, the way a base station delivers them, so that the
// tests feed the real window through the real component.

#include "lyx/platform/variant.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace lyx::viewer::testing {

struct PacketOptions {
    int rssi = -60;  ///< dBm, as the component reports it
    int cv = 60;     ///< link quality figure, 0 to 127
    bool battLow = false;
    bool error = false;
    std::uint8_t station = 1;
};

/// A Data Provider frame of data type `type` with the value bytes `value`.
platform::ByteArray packetFrame(std::uint16_t tag, std::uint8_t type, const std::string &value,
                                const PacketOptions &options = {});

platform::ByteArray floatFrame(std::uint16_t tag, float value, const PacketOptions &options = {});
platform::ByteArray int32Frame(std::uint16_t tag, std::int32_t value,
                               const PacketOptions &options = {});
platform::ByteArray stringFrame(std::uint16_t tag, const std::string &text,
                                const PacketOptions &options = {});
/// A 117-byte record (129-byte frame) whose first four bytes hold `first`, big-endian.
platform::ByteArray recordFrame(std::uint16_t tag, std::int32_t first,
                                const PacketOptions &options = {});

}  // namespace lyx::viewer::testing
