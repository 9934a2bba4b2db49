#include "lyx/link/frame.hpp"

#include <algorithm>

#include "lyx/link/crc16.hpp"

namespace lyx::link {

Bytes buildFrame(std::uint8_t address, std::span<const std::uint8_t> payload) {
    if (payload.empty() || payload.size() > 255) return {};
    Bytes frame;
    frame.reserve(payload.size() + kFrameOverhead);
    auto length = static_cast<std::uint8_t>(payload.size());
    frame.push_back(length);
    frame.push_back(length);
    frame.push_back(address);
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::uint16_t crc = crc16(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFFu));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

bool isValidFrame(std::span<const std::uint8_t> frame) {
    if (frame.size() < kFrameOverhead + 1) return false;
    if (frame[0] != frame[1] || frame.size() != frame[0] + kFrameOverhead) return false;
    std::uint16_t crc = crc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFFu) && frame[frame.size() - 1] == (crc >> 8);
}

std::optional<std::vector<Report>> splitIntoReports(std::span<const std::uint8_t> frame) {
    if (frame.empty() || frame.size() > kMaxUsbFrame) return std::nullopt;
    std::vector<Report> reports;
    for (std::size_t offset = 0; offset < frame.size(); offset += kReportData) {
        Report report{};  // report ID 0, zero fill
        std::size_t count = std::min(kReportData, frame.size() - offset);
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(offset), count, report.begin() + 1);
        reports.push_back(report);
    }
    return reports;
}

}  // namespace lyx::link
