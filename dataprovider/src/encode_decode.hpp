// Value encodings of Data Provider packets and typed values: the payloads that
// WritePacketString and WritePacketNumeric send, and the decoding of typed
// values read from remote devices. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lyx::dataprovider::EncodeDecode {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kDataProviderPacket = 3;

// 3, tag high, tag low, status, data type, then the characters of `Value` (none
// for DT_NONE). Raises 0x800403EB for a type other than DT_NONE, DT_STRING,
// DT_BINARY and DT_INTERFACE.
Bytes StringPayload(std::int32_t DataTag, std::uint8_t Status, std::string_view Value,
                    std::int32_t DataType);

// 3, tag high, tag low, status, data type, then the value's bytes, high byte
// first. Raises 0x800403EB for a type other than DT_UINT8, DT_UINT16, DT_INT32,
// DT_FLOAT and DT_INTERFACE, 0x800403EC for a value outside the type's range,
// and the overflow error 0x800A0006 for a DT_INT32 value that rounds beyond
// 2^31 - 1.
Bytes NumericPayload(std::int32_t DataTag, std::uint8_t Status, double Value,
                     std::int32_t DataType);

// Decodes the typed value in the first `Length` bytes of `Buffer` into `Value`;
// leaves `Value` unchanged for an empty buffer or DT_NONE. Bytes beyond the
// buffer are never read: a Length past its end counts as the buffer's size.
void DecodeTypedValue(std::span<const std::uint8_t> Buffer, std::int32_t Length,
                      std::string &Value);

// Bytes Start .. Start + Count - 1 as upper-case hexadecimal, two digits each.
// Raises "Subscript out of range" when they are not all in the buffer.
std::string BytesToHex(std::span<const std::uint8_t> Buffer, std::int32_t Start,
                       std::int32_t Count);

// The value text of an arriving Data Provider packet (the complete frame as
// the driver delivers it: value bytes 8 to n-5). Numeric types need their exact
// frame length (13, 14, 16, 16) and give an empty text otherwise; strings and
// binary values keep their bytes. No text at all (nullopt) for data type codes
// 7 to 15. Decimal points are always ".".
std::optional<std::string> PacketValueText(std::span<const std::uint8_t> frame);

// A single as a DT_FLOAT packet shows it: seven decimal places, then cut to
// seven characters plus one each for a "-", a "." and a leading "0"
// (1.5 -> "1.500000", 1234.5678 -> "1234.567", 0.001234 -> "0.0012340"). From
// 1E+08 in magnitude, where the cut would drop digits of the whole part, the
// whole part is kept complete. NaN and infinities read "NaN", "Infinity".
std::string FloatPacketText(float value);

// Four characters as a signed 32-bit integer, first character highest, in
// single precision; 0 for a text that is not exactly four characters long.
float BytesToSingle(std::string_view text);

// `value` rounded to single precision the way the automation conversion does:
// magnitudes beyond the single range become infinities.
float ToSingle(double value);

}  // namespace lyx::dataprovider::EncodeDecode
