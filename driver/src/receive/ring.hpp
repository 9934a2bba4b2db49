// The receive ring: 22000 positions numbered 1 to 22000, `read` the oldest
// unconsumed byte, `write` where the next byte goes. read == write means empty;
// one position always stays free, so at most 21999 bytes are held.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "lyx/link/frame.hpp"
#include "lyx/link/synchroniser.hpp"

namespace lyx::drv {

class RxRing {
  public:
    static constexpr std::uint32_t kPositions = 22000;
    static constexpr std::uint32_t kCapacity = kPositions - 1;

    std::uint32_t read() const { return read_; }
    std::uint32_t write() const { return write_; }
    std::uint32_t held() const { return (write_ + kPositions - read_) % kPositions; }
    std::uint32_t freeSpace() const { return kCapacity - held(); }

    // Empties the ring: read = write = 1.
    void clear() { read_ = write_ = 1; }

    // Appends a received chunk. A chunk larger than the free space first empties
    // the ring (unprocessed bytes are dropped); a chunk larger than the whole ring
    // keeps only its newest bytes. Returns how many bytes were dropped.
    std::uint32_t append(std::span<const std::uint8_t> chunk);

    // The held bytes, oldest first, without copying.
    link::HeldBytes heldBytes() const;

    // Drops `count` bytes from the head (no more than are held).
    void discard(std::uint32_t count);

    // Removes `count` bytes from the head into a byte string.
    link::Bytes take(std::uint32_t count);

    // Drops the zero bytes at the head, stopping at the write position.
    void discardZeros();

  private:
    static std::uint32_t advance(std::uint32_t position, std::uint32_t count) {
        return (position - 1 + count) % kPositions + 1;
    }
    std::uint8_t &at(std::uint32_t position) { return bytes_[position - 1]; }

    std::array<std::uint8_t, kPositions> bytes_{};
    std::uint32_t read_ = 1;
    std::uint32_t write_ = 1;
};

}  // namespace lyx::drv
