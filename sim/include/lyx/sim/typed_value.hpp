// Data types and typed values: the value of a data-provider packet and of a
// module parameter is a type code followed by the value bytes. Multi-byte
// values travel high byte first; floats are IEEE-754 single precision.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lyx::sim {

using Bytes = std::vector<std::uint8_t>;

// The most value bytes a data packet or a parameter reply can carry in a frame
// that a receiver accepts (100 payload bytes).
inline constexpr std::size_t kMaxValueBytes = 93;

enum class DataType : std::uint8_t {
    None = 0,
    UInt8 = 1,
    UInt16 = 2,
    Int32 = 3,
    Float = 4,
    String = 5,
    Binary = 6,
    Interface = 255,  // commands between applications and modules
};

// "none", "uint8", "uint16", "int32", "float", "string", "binary", "interface";
// the decimal code for any other type code.
std::string dataTypeName(DataType type);
// The inverse of dataTypeName; also accepts a decimal code from 0 to 255.
std::optional<DataType> parseDataType(std::string_view text);
// The value size of the fixed-size types (1, 2, 4, 4); 0 for the others.
std::size_t fixedSize(DataType type);
bool isNumeric(DataType type);  // uint8, uint16, int32, float

struct TypedValue {
    DataType type = DataType::None;
    Bytes bytes;  // the value in its type's encoding

    bool operator==(const TypedValue &) const = default;
    // The type byte followed by the value bytes, as it travels in a reply.
    Bytes wire() const;
    // Readable form: decimal numbers, the characters of a string, binary and
    // other types as upper-case hexadecimal.
    std::string text() const;
};

// `number` in a numeric type (uint8, uint16, int32 must be whole and in range;
// float is rounded to single precision). Nullopt when it does not fit.
std::optional<TypedValue> numberValue(DataType type, double number);
// A value from readable text: a number for the numeric types and for interface
// (one byte), the characters for string, hexadecimal digits for binary and any
// other code. Nullopt when the text does not fit the type.
std::optional<TypedValue> parseValue(DataType type, std::string_view text);
// The number held by a numeric value.
std::optional<double> toNumber(const TypedValue &value);

// How a module takes a written typed value (`wire` = type byte and value) into
// a parameter of type `target`. Clients send every value as text, so text is
// converted to the target type; the same type is taken when its size is right;
// a string parameter takes numbers as their decimal text and binary bytes as
// they are. Nullopt when the module refuses the value (also one longer than
// kMaxValueBytes, which could not be read back).
std::optional<TypedValue> convertWritten(DataType target, std::span<const std::uint8_t> wire);

}  // namespace lyx::sim
