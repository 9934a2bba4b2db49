#include "lyx/link/synchroniser.hpp"

#include <algorithm>

#include "lyx/link/crc16.hpp"
#include "lyx/link/frame.hpp"

namespace lyx::link {

std::uint16_t HeldBytes::crc(std::size_t offset, std::size_t count) const {
    std::uint16_t value = kCrcInitial;
    if (offset < first.size()) {
        std::size_t n = std::min(count, first.size() - offset);
        value = crc16(first.subspan(offset, n), value);
        count -= n;
        offset = 0;
    } else {
        offset -= first.size();
    }
    if (count > 0) value = crc16(second.subspan(offset, count), value);
    return value;
}

SyncResult findFrame(const HeldBytes &held) {
    const std::size_t n = held.size();
    if (n < 3) return {};
    std::size_t pos = 0;
    while (n - pos >= 2) {
        std::uint8_t a = held[pos];
        if (a != 0 && a <= kMaxReceivedPayload && held[pos + 1] == a) {
            std::size_t length = a + kFrameOverhead;
            if (n - pos < length) return {pos, 0};  // may still complete: keep it
            std::uint16_t crc = held.crc(pos, a + 3u);
            if (held[pos + a + 3] == (crc & 0xFFu) && held[pos + a + 4] == (crc >> 8)) {
                return {pos, length};
            }
        }
        ++pos;
    }
    return {pos, 0};
}

}  // namespace lyx::link
