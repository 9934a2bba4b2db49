#include "PacketFeed.h"

#include "lyx/link/frame.hpp"

#include <algorithm>
#include <cstring>

namespace lyx::viewer::testing {

namespace {

std::string bigEndian(std::uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

}  // namespace

platform::ByteArray packetFrame(std::uint16_t tag, std::uint8_t type, const std::string &value,
                                const PacketOptions &options) {
    // Sized once and filled in place: growing it push by push makes GCC 12 warn
    // (-Wstringop-overflow), a false positive on the inlined reallocation.
    std::vector<std::uint8_t> payload(5 + value.size() + 2);
    payload[0] = std::uint8_t(3 | (options.battLow ? 0x40 : 0) | (options.error ? 0x80 : 0));
    payload[1] = std::uint8_t(tag >> 8);
    payload[2] = std::uint8_t(tag & 0xFF);
    payload[3] = 0;  // status
    payload[4] = type;
    std::copy(value.begin(), value.end(), payload.begin() + 5);
    payload[5 + value.size()] = std::uint8_t(std::int8_t(options.rssi + 45));
    payload[6 + value.size()] = std::uint8_t(options.cv & 0x7F);
    platform::ByteArray frame;
    frame.items = link::buildFrame(options.station, payload);
    return frame;
}

platform::ByteArray floatFrame(std::uint16_t tag, float value, const PacketOptions &options) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return packetFrame(tag, 4, bigEndian(bits), options);
}

platform::ByteArray int32Frame(std::uint16_t tag, std::int32_t value,
                               const PacketOptions &options) {
    return packetFrame(tag, 3, bigEndian(std::uint32_t(value)), options);
}

platform::ByteArray stringFrame(std::uint16_t tag, const std::string &text,
                                const PacketOptions &options) {
    return packetFrame(tag, 5, text, options);
}

platform::ByteArray recordFrame(std::uint16_t tag, std::int32_t first,
                                const PacketOptions &options) {
    std::string record = bigEndian(std::uint32_t(first));
    for (int i = 0; record.size() < 117; ++i)
        record.push_back(char(i * 7 + 1));
    return packetFrame(tag, 6, record, options);
}

}  // namespace lyx::viewer::testing
