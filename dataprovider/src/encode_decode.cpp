#include "encode_decode.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/automation_error.hpp"
#include "lyx/platform/variant.hpp"

namespace lyx::dataprovider::EncodeDecode {
namespace {

using platform::AutomationError;

Bytes header(std::int32_t DataTag, std::uint8_t Status, std::int32_t DataType) {
    const auto tag = static_cast<std::uint16_t>(DataTag & 0xFFFF);
    return {kDataProviderPacket, static_cast<std::uint8_t>(tag >> 8),
            static_cast<std::uint8_t>(tag & 0xFF), Status, static_cast<std::uint8_t>(DataType)};
}

void appendBigEndian(Bytes &out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Rounds to the nearest whole number, halves to even (the default rounding mode).
double roundHalfEven(double value) {
    return std::nearbyint(value);
}

[[noreturn]] void invalidValue(const char *type) {
    throw AutomationError(kInvalidValue, std::string("Value invalid for ") + type + "!");
}

std::string fixedText(double value, int decimals) {
    char text[400];
    auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, result.ptr);
}

// The text of a single read from a typed value: the default text, or for
// exponent forms a fixed-point text of eight characters (nine when negative).
// From 1E+08 on, where eight characters would drop digits of the whole part,
// the whole part is kept complete.
std::string singleValueText(float value) {
    std::string text = platform::singleText(value);
    if (text.find('E') == std::string::npos) return text;
    std::string fixed = fixedText(value, 9);
    std::size_t keep = value < 0 ? 9 : 8;
    std::size_t point = fixed.find('.');
    if (point != std::string::npos && point > keep) keep = point;
    return fixed.substr(0, keep);
}

std::uint32_t bigEndian32(std::span<const std::uint8_t> bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

}  // namespace

Bytes StringPayload(std::int32_t DataTag, std::uint8_t Status, std::string_view Value,
                    std::int32_t DataType) {
    switch (DataType) {
        case DT_NONE:
        case DT_STRING:
        case DT_BINARY:
        case DT_INTERFACE:
            break;
        default:
            throw AutomationError(
                kInvalidDataType,
                "Invalid DataType! Type must be DT_STRING or DT_BINARY or DT_NONE!");
    }
    Bytes payload = header(DataTag, Status, DataType);
    if (DataType != DT_NONE) {
        // Byte by byte: the range insert trips a false -Warray-bounds of GCC 12 at -O3.
        payload.reserve(payload.size() + Value.size());
        for (char c : Value) payload.push_back(static_cast<std::uint8_t>(c));
    }
    return payload;
}

Bytes NumericPayload(std::int32_t DataTag, std::uint8_t Status, double Value,
                     std::int32_t DataType) {
    Bytes payload;
    switch (DataType) {
        case DT_UINT8:
        case DT_INTERFACE:
            if (!(Value >= 0 && Value <= 255)) invalidValue("DT_UINT8");
            payload = header(DataTag, Status, DataType);
            payload.push_back(static_cast<std::uint8_t>(roundHalfEven(Value)));
            break;
        case DT_UINT16: {
            if (!(Value >= 0 && Value <= 65535)) invalidValue("DT_UINT16");
            payload = header(DataTag, Status, DataType);
            auto n = static_cast<std::uint32_t>(roundHalfEven(Value));
            payload.push_back(static_cast<std::uint8_t>((n & 0xFF00) / 256));
            payload.push_back(static_cast<std::uint8_t>(n & 0xFF));
            break;
        }
        case DT_INT32: {
            if (!(Value >= -2147483648.0 && Value <= 4294967296.0)) invalidValue("DT_INT32");
            double n = roundHalfEven(Value);
            if (n > 2147483647.0) throw AutomationError(platform::errors::kOverflow, "Overflow");
            payload = header(DataTag, Status, DataType);
            appendBigEndian(payload, static_cast<std::uint32_t>(static_cast<std::int32_t>(n)));
            break;
        }
        case DT_FLOAT:
            payload = header(DataTag, Status, DataType);
            appendBigEndian(payload, std::bit_cast<std::uint32_t>(ToSingle(Value)));
            break;
        default:
            throw AutomationError(
                kInvalidDataType,
                "Invalid DataType! Type must be DT_UINT8, DT_UINT16, DT_INT32 or DT_FLOAT!");
    }
    return payload;
}

float ToSingle(double value) {
    constexpr double kMax = std::numeric_limits<float>::max();
    // Halfway between the largest single and 2^128: from here on the nearest
    // single (ties to even) is infinity.
    constexpr double kInfinityFrom = 340282356779733661637539395458142568448.0;
    if (std::isfinite(value) && std::fabs(value) > kMax) {
        if (std::fabs(value) >= kInfinityFrom)
            return value < 0 ? -std::numeric_limits<float>::infinity()
                             : std::numeric_limits<float>::infinity();
        return value < 0 ? -std::numeric_limits<float>::max() : std::numeric_limits<float>::max();
    }
    return static_cast<float>(value);
}

void DecodeTypedValue(std::span<const std::uint8_t> Buffer, std::int32_t Length,
                      std::string &Value) {
    if (Length <= 0 || Buffer.empty()) return;
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(Length), Buffer.size());
    const auto bytes = Buffer.first(length);
    switch (bytes[0] & 0x0F) {
        case DT_NONE:
            return;
        case DT_UINT8:
            Value = length == 2 ? std::to_string(bytes[1]) : std::string();
            return;
        case DT_UINT16:
            Value = length == 3 ? std::to_string(bytes[1] * 256 + bytes[2]) : std::string();
            return;
        case DT_INT32:
            Value = length == 5
                        ? std::to_string(static_cast<std::int32_t>(bigEndian32(bytes.subspan(1))))
                        : std::string();
            return;
        case DT_FLOAT:
            Value = length == 5
                        ? singleValueText(std::bit_cast<float>(bigEndian32(bytes.subspan(1))))
                        : std::string();
            return;
        case DT_STRING:
            Value.assign(bytes.begin() + 1, bytes.end());
            return;
        case DT_BINARY:
            Value = BytesToHex(bytes, 1, static_cast<std::int32_t>(length) - 1);
            return;
        default:
            Value.clear();
            return;
    }
}

std::string BytesToHex(std::span<const std::uint8_t> Buffer, std::int32_t Start,
                       std::int32_t Count) {
    if (Count <= 0) return {};
    if (Start < 0) platform::throwSubscriptOutOfRange(Start);
    const auto end = static_cast<std::int64_t>(Start) + Count;
    if (end > static_cast<std::int64_t>(Buffer.size())) platform::throwSubscriptOutOfRange(end - 1);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(static_cast<std::size_t>(Count) * 2);
    for (std::int64_t i = Start; i < end; ++i) {
        const std::uint8_t b = Buffer[static_cast<std::size_t>(i)];
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::string FloatPacketText(float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    std::string text = fixedText(value, 7);
    std::size_t keep = 7;
    if (text.find('-') != std::string::npos) ++keep;
    if (text.find('.') != std::string::npos) ++keep;
    if (text.front() == '0') ++keep;
    const std::size_t point = text.find('.');
    if (point != std::string::npos && point > keep) keep = point;
    return text.substr(0, keep);
}

std::optional<std::string> PacketValueText(std::span<const std::uint8_t> frame) {
    const std::size_t n = frame.size();
    if (n < 13) return std::string();
    const auto value = frame.subspan(8, n - 12);
    switch (frame[7] & 0x0F) {
        case DT_NONE:
            return std::string();
        case DT_UINT8:
            return n == 13 ? std::to_string(value[0]) : std::string();
        case DT_UINT16:
            return n == 14 ? std::to_string(value[0] * 256 + value[1]) : std::string();
        case DT_INT32:
            if (n != 16) return std::string();
            return platform::singleText(
                static_cast<float>(static_cast<std::int32_t>(bigEndian32(value))));
        case DT_FLOAT:
            if (n != 16) return std::string();
            return FloatPacketText(std::bit_cast<float>(bigEndian32(value)));
        case DT_STRING:
        case DT_BINARY:
            return std::string(value.begin(), value.end());
        default:
            return std::nullopt;
    }
}

float BytesToSingle(std::string_view text) {
    if (text.size() != 4) return 0.0f;
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    return static_cast<float>(static_cast<std::int32_t>(bigEndian32({bytes, 4})));
}

}  // namespace lyx::dataprovider::EncodeDecode
