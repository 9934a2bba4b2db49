// The frame synchroniser: finds the next link frame in received bytes.
//
// A position starts a frame when its byte and the next are equal, between 1 and
// 100, and the CRC over that many payload bytes plus three matches the two bytes
// after them. A zero byte never starts a frame, which is how report fill and idle
// bytes are skipped. Anything else is dropped one byte at a time, so reception
// resumes with the next good frame after any corruption.
//
// Pure function: it reads the held bytes and says how many to drop and how long
// the frame behind them is; the caller owns the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lyx::link {

// Bytes held by a ring buffer, as up to two contiguous pieces (before and after
// the wrap), oldest first.
struct HeldBytes {
    std::span<const std::uint8_t> first;
    std::span<const std::uint8_t> second;

    std::size_t size() const { return first.size() + second.size(); }
    std::uint8_t operator[](std::size_t i) const {
        return i < first.size() ? first[i] : second[i - first.size()];
    }
    // The CRC of `count` bytes starting at `offset`.
    std::uint16_t crc(std::size_t offset, std::size_t count) const;
};

struct SyncResult {
    std::size_t discard = 0;      // bytes at the head that are not a frame start
    std::size_t frameLength = 0;  // length of the frame right after them; 0 when none yet
};

// Looks for the next complete frame. With frameLength 0, the bytes after
// `discard` may still become a frame when more bytes arrive and must be kept.
SyncResult findFrame(const HeldBytes &held);

}  // namespace lyx::link
