// CRC-16 in its Modbus form: reflected polynomial 0xA001, initial value 0xFFFF,
// no final XOR. The CRC of "123456789" is 0x4B37.
#pragma once

#include <cstdint>
#include <span>

namespace lyx::link {

inline constexpr std::uint16_t kCrcInitial = 0xFFFF;

// The CRC of `bytes`, continuing from `crc` (so a CRC can be taken over pieces).
std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc = kCrcInitial);

}  // namespace lyx::link
