#include "packets.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>

namespace lyx::sim::packets {

namespace {

void putBigEndian(Bytes &out, std::uint32_t value, std::size_t size) {
    for (std::size_t i = size; i-- > 0;)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

double clampRound(double value, double low, double high) {
    if (!std::isfinite(value)) return std::isnan(value) ? 0.0 : (value < 0 ? low : high);
    return std::clamp(std::round(value), low, high);
}

std::uint32_t asInt32(double reading) {
    double v = clampRound(reading, std::numeric_limits<std::int32_t>::min(),
                          std::numeric_limits<std::int32_t>::max());
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
}

}  // namespace

Bytes dataPayload(const DataPacket &packet) {
    Bytes out;
    out.reserve(packet.value.size() + 7);
    out.push_back(static_cast<std::uint8_t>(kDataProvider | (packet.batteryLow ? 0x40 : 0) |
                                            (packet.error ? 0x80 : 0)));
    putBigEndian(out, packet.tag, 2);
    out.push_back(packet.status);
    out.push_back(static_cast<std::uint8_t>(packet.type));
    out.insert(out.end(), packet.value.begin(), packet.value.end());
    out.push_back(packet.signal);
    out.push_back(packet.linkQuality);
    return out;
}

std::uint8_t signalByte(int dbm) {
    int value = std::clamp(dbm + 45, -128, 127);
    return static_cast<std::uint8_t>(static_cast<std::int8_t>(value));
}

std::uint8_t replyFlags(bool configurationMode, bool batteryLow, bool error) {
    return static_cast<std::uint8_t>((configurationMode ? 0x20 : 0) | (batteryLow ? 0x40 : 0) |
                                     (error ? 0x80 : 0));
}

Bytes valueBytes(const ModuleConfig &module, double reading) {
    Bytes out;
    switch (module.type) {
        case DataType::None:
            break;
        case DataType::UInt8:
            out.push_back(static_cast<std::uint8_t>(clampRound(reading, 0, 255)));
            break;
        case DataType::UInt16:
            putBigEndian(out, static_cast<std::uint32_t>(clampRound(reading, 0, 65535)), 2);
            break;
        case DataType::Int32:
            putBigEndian(out, asInt32(reading), 4);
            break;
        case DataType::Float: {
            auto single = static_cast<float>(reading);
            putBigEndian(out, std::bit_cast<std::uint32_t>(single), 4);
            break;
        }
        case DataType::String:
            if (module.fixedValue) {
                out = *module.fixedValue;
            } else {
                char text[64];
                int n = std::snprintf(text, sizeof text, "%.*f", std::clamp(module.decimals, 0, 9),
                                      reading);
                if (n > 0) out.assign(text, text + std::min<std::size_t>(n, sizeof text - 1));
            }
            break;
        case DataType::Binary:
            if (module.fixedValue) {
                out = *module.fixedValue;
            } else {
                putBigEndian(out, asInt32(reading), 4);
            }
            break;
        default:
            if (module.fixedValue) out = *module.fixedValue;
            break;
    }
    return out;
}

Bytes recordValue(const Waveform &wave, double seconds, double span, std::uint8_t sequence) {
    Bytes out;
    out.reserve(kRecordSize);
    constexpr int kReadings = 29;  // the reading and 28 earlier ones
    for (int k = 0; k < kReadings; ++k)
        putBigEndian(out, asInt32(sample(wave, seconds - k * span / kReadings)), 4);
    out.push_back(sequence);
    return out;
}

Bytes storeForwardBlock(const Waveform &wave, double seconds, double span) {
    Bytes out;
    out.reserve(kStoreForwardSize);
    for (int k = 9; k >= 0; --k)
        putBigEndian(out, asInt32(sample(wave, seconds - k * span / 10)), 4);
    auto stamp = static_cast<std::uint64_t>(std::max(0.0, std::floor(seconds)));
    putBigEndian(out, static_cast<std::uint32_t>(stamp & 0xFFFF), 2);
    return out;
}

std::optional<RemoteRequest> parseRemoteRequest(std::span<const std::uint8_t> payload) {
    if (payload.size() < 5) return std::nullopt;
    std::uint8_t code = payload[0] & 0x1F;
    if (code != kRemoteRead && code != kRemoteWrite && code != kRadioRead && code != kRadioWrite) {
        return std::nullopt;
    }
    RemoteRequest request;
    request.id = (std::uint32_t{payload[1]} << 16) | (std::uint32_t{payload[2]} << 8) | payload[3];
    request.parameter = payload[4];
    request.write = code == kRemoteWrite || code == kRadioWrite;
    request.radio = code == kRadioRead || code == kRadioWrite;
    request.data = payload.subspan(5);
    return request;
}

Bytes remoteReply(bool radio, Reply reply, std::uint8_t flags, std::uint32_t id,
                  std::span<const std::uint8_t> data, std::uint8_t signal,
                  std::uint8_t linkQuality) {
    Bytes out;
    out.reserve(data.size() + 6);
    std::uint8_t base = radio ? kRadioReplies : kRemoteReplies;
    out.push_back(
        static_cast<std::uint8_t>((base + static_cast<std::uint8_t>(reply)) | (flags & 0xE0)));
    putBigEndian(out, id, 3);
    out.insert(out.end(), data.begin(), data.end());
    out.push_back(signal);
    out.push_back(linkQuality);
    return out;
}

std::optional<BindRequest> parseBindRequest(std::span<const std::uint8_t> payload) {
    if (payload.size() < 6 || (payload[0] & 0x1F) != kBindRequest) return std::nullopt;
    BindRequest request;
    request.useRemoteSettings = payload[3];
    request.mode = payload[4];
    request.seconds = payload[5] == 0 ? 2 : payload[5];
    return request;
}

Bytes bindReply(std::uint32_t id, std::uint16_t tag) {
    Bytes out{kBindReply};
    putBigEndian(out, id, 3);
    putBigEndian(out, tag, 2);
    return out;
}

std::optional<Command> parseCommand(std::span<const std::uint8_t> payload) {
    if (payload.size() < 6 || (payload[0] & 0x1F) != kDataProvider ||
        payload[4] != static_cast<std::uint8_t>(DataType::Interface)) {
        return std::nullopt;
    }
    return Command{static_cast<std::uint16_t>((payload[1] << 8) | payload[2]), payload[5]};
}

}  // namespace lyx::sim::packets
