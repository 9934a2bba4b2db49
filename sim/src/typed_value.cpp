#include "lyx/sim/typed_value.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace lyx::sim {

namespace {

struct TypeName {
    DataType type;
    std::string_view name;
};
constexpr std::array<TypeName, 8> kNames{{
    {DataType::None, "none"},
    {DataType::UInt8, "uint8"},
    {DataType::UInt16, "uint16"},
    {DataType::Int32, "int32"},
    {DataType::Float, "float"},
    {DataType::String, "string"},
    {DataType::Binary, "binary"},
    {DataType::Interface, "interface"},
}};

std::uint32_t readBigEndian(const Bytes &bytes) {
    std::uint32_t value = 0;
    for (auto b : bytes)
        value = (value << 8) | b;
    return value;
}

Bytes bigEndian(std::uint32_t value, std::size_t size) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[size - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A decimal number (with sign, fraction and exponent) or 0x hexadecimal.
std::optional<double> parseNumber(std::string_view text) {
    text = trim(text);
    if (text.empty()) return std::nullopt;
    bool negative = text.front() == '-';
    std::string_view digits = text;
    if (text.front() == '+' || negative) digits.remove_prefix(1);
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        std::uint64_t value = 0;
        auto [end, ec] =
            std::from_chars(digits.data() + 2, digits.data() + digits.size(), value, 16);
        if (ec != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
        return negative ? -static_cast<double>(value) : static_cast<double>(value);
    }
    if (text.front() == '+') text.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<Bytes> parseHex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-') continue;
        int digit = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
        if (digit < 0) return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return out;
}

std::string hex(const Bytes &bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (auto b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

bool isWhole(double value) {
    return std::floor(value) == value;
}

}  // namespace

std::string dataTypeName(DataType type) {
    for (const auto &n : kNames) {
        if (n.type == type) return std::string(n.name);
    }
    return std::to_string(static_cast<int>(type));
}

std::optional<DataType> parseDataType(std::string_view text) {
    for (const auto &n : kNames) {
        if (n.name == text) return n.type;
    }
    unsigned code = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || code > 255) {
        return std::nullopt;
    }
    return static_cast<DataType>(code);
}

std::size_t fixedSize(DataType type) {
    switch (type) {
        case DataType::UInt8:
            return 1;
        case DataType::UInt16:
            return 2;
        case DataType::Int32:
        case DataType::Float:
            return 4;
        default:
            return 0;
    }
}

bool isNumeric(DataType type) {
    return fixedSize(type) != 0;
}

Bytes TypedValue::wire() const {
    Bytes out;
    out.reserve(bytes.size() + 1);
    out.push_back(static_cast<std::uint8_t>(type));
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::string TypedValue::text() const {
    if (type == DataType::String) return std::string(bytes.begin(), bytes.end());
    if (type == DataType::Float && bytes.size() == 4) {
        char buffer[32];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer,
                                       std::bit_cast<float>(readBigEndian(bytes)));
        return ec == std::errc{} ? std::string(buffer, end) : std::string("?");
    }
    if (auto number = toNumber(*this)) {
        return std::to_string(static_cast<std::int64_t>(*number));
    }
    return hex(bytes);
}

std::optional<TypedValue> numberValue(DataType type, double number) {
    if (!std::isfinite(number)) return std::nullopt;
    switch (type) {
        case DataType::UInt8:
        case DataType::Interface:
            if (!isWhole(number) || number < 0 || number > 255) return std::nullopt;
            return TypedValue{type, {static_cast<std::uint8_t>(number)}};
        case DataType::UInt16:
            if (!isWhole(number) || number < 0 || number > 65535) return std::nullopt;
            return TypedValue{type, bigEndian(static_cast<std::uint32_t>(number), 2)};
        case DataType::Int32:
            if (!isWhole(number) || number < std::numeric_limits<std::int32_t>::min() ||
                number > std::numeric_limits<std::int32_t>::max()) {
                return std::nullopt;
            }
            return TypedValue{
                type, bigEndian(static_cast<std::uint32_t>(static_cast<std::int32_t>(number)), 4)};
        case DataType::Float: {
            auto single = static_cast<float>(number);
            if (!std::isfinite(single)) return std::nullopt;
            return TypedValue{type, bigEndian(std::bit_cast<std::uint32_t>(single), 4)};
        }
        default:
            return std::nullopt;
    }
}

std::optional<TypedValue> parseValue(DataType type, std::string_view text) {
    if (isNumeric(type) || type == DataType::Interface) {
        auto number = parseNumber(text);
        if (!number) return std::nullopt;
        return numberValue(type, *number);
    }
    if (type == DataType::String) return TypedValue{type, Bytes(text.begin(), text.end())};
    if (type == DataType::None) {
        if (!trim(text).empty()) return std::nullopt;
        return TypedValue{type, {}};
    }
    auto bytes = parseHex(text);
    if (!bytes) return std::nullopt;
    return TypedValue{type, std::move(*bytes)};
}

std::optional<double> toNumber(const TypedValue &value) {
    if (value.bytes.size() != fixedSize(value.type) || !isNumeric(value.type)) {
        return std::nullopt;
    }
    std::uint32_t raw = readBigEndian(value.bytes);
    switch (value.type) {
        case DataType::Int32:
            return static_cast<double>(static_cast<std::int32_t>(raw));
        case DataType::Float:
            return static_cast<double>(std::bit_cast<float>(raw));
        default:
            return static_cast<double>(raw);
    }
}

std::optional<TypedValue> convertWritten(DataType target, std::span<const std::uint8_t> wire) {
    if (wire.empty()) return std::nullopt;
    TypedValue given{static_cast<DataType>(wire[0]), Bytes(wire.begin() + 1, wire.end())};
    std::optional<TypedValue> result;
    if (given.type == target) {
        if (fixedSize(target) == 0 || given.bytes.size() == fixedSize(target)) result = given;
    } else if (target == DataType::None) {
        result = TypedValue{DataType::None, {}};
    } else if (given.type == DataType::String && isNumeric(target)) {
        auto number = parseNumber(std::string_view(
            reinterpret_cast<const char *>(given.bytes.data()), given.bytes.size()));
        if (number) result = numberValue(target, *number);
    } else if (isNumeric(given.type) && isNumeric(target)) {
        if (auto number = toNumber(given)) result = numberValue(target, *number);
    } else if (target == DataType::String) {
        if (isNumeric(given.type)) {
            if (toNumber(given)) {
                std::string text = given.text();
                result = TypedValue{target, Bytes(text.begin(), text.end())};
            }
        } else if (given.type == DataType::Binary) {
            result = TypedValue{target, given.bytes};
        }
    } else if (target == DataType::Binary && given.type == DataType::String) {
        result = TypedValue{target, given.bytes};
    }
    if (result && result->bytes.size() > kMaxValueBytes) return std::nullopt;
    return result;
}

}  // namespace lyx::sim
