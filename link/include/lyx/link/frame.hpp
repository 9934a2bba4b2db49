// Link frames: length, length copy, base-station address, payload, CRC low,
// CRC high. The CRC covers everything before it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lyx::link {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kFrameOverhead = 5;         // two length bytes, address, CRC
inline constexpr std::size_t kMaxReceivedPayload = 100;  // longer frames are never accepted
inline constexpr std::size_t kReportSize = 65;           // HID report: ID byte + 64 bytes
inline constexpr std::size_t kReportData = 64;
inline constexpr std::size_t kMaxUsbFrame = 2 * kReportData;  // at most two output reports

using Report = std::array<std::uint8_t, kReportSize>;

// The low five bits of a packet type byte; the upper three travel unchanged.
constexpr std::uint8_t typeCode(std::uint8_t typeByte) {
    return typeByte & 0x1Fu;
}

// The frame carrying `payload` to base station `address`; empty when the payload
// is empty or longer than a length byte can say (255).
Bytes buildFrame(std::uint8_t address, std::span<const std::uint8_t> payload);

// True when `frame` is a whole frame: repeated length byte, size and CRC agree.
bool isValidFrame(std::span<const std::uint8_t> frame);

// The output reports that carry `frame` over USB: report ID 0, then up to 64
// frame bytes, zero-filled. One report for frames up to 64 bytes, two up to 128;
// nothing for an empty frame or one longer than 128 bytes.
std::optional<std::vector<Report>> splitIntoReports(std::span<const std::uint8_t> frame);

}  // namespace lyx::link
