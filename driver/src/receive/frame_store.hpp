// The held frames: every frame taken from the ring that the application has
// not had yet, oldest first, in a bounded store.
//
// Frames wait here while a command runs, while the opening thread is busy and
// not dispatching, and in polling mode until they are fetched. They are kept in
// blocks of 64 KiB (a two-byte length, then the frame's bytes), so that holding
// and handing over a frame allocates nothing in the steady state. The store
// holds at most `maxBlocks` blocks: 256 by default, 16 MiB, which is more than
// 80 s of the most three full-speed USB base stations can send (3 x 64 KiB/s)
// and about 15 minutes of a serial line at 115 200 baud. When a frame does not
// fit, the oldest block's frames are dropped and counted.
//
// Not thread-safe: the driver guards it with rxLock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>

#include "lyx/link/frame.hpp"

namespace lyx::drv {

class FrameStore {
  public:
    static constexpr std::size_t kBlockBytes = 64 * 1024;
    static constexpr std::size_t kDefaultBlocks = 256;  // 16 MiB

    explicit FrameStore(std::size_t maxBlocks = kDefaultBlocks);

    // Appends a frame (at most 65 535 bytes). Returns how many older frames had to
    // be dropped to make room for it.
    std::size_t push(std::span<const std::uint8_t> frame);

    // Moves the oldest frame into `out` (whose capacity is reused); false when
    // nothing is held.
    bool pop(link::Bytes &out);

    // Drops everything held; returns how many frames that was.
    std::size_t clear();

    std::size_t size() const { return frames_; }
    bool empty() const { return frames_ == 0; }
    // Bytes of memory the store holds now (whole blocks).
    std::size_t memoryBytes() const { return blocks_.size() * kBlockBytes; }
    std::size_t memoryLimit() const { return maxBlocks_ * kBlockBytes; }

  private:
    struct Block {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t read = 0;    // offset of the oldest frame's length
        std::size_t write = 0;   // where the next frame goes
        std::size_t frames = 0;  // frames between read and write
    };

    std::size_t dropOldestBlock();
    void releaseFront();

    std::size_t maxBlocks_;
    std::deque<Block> blocks_;
    std::unique_ptr<std::uint8_t[]> spare_;  // one emptied block kept for reuse
    std::size_t frames_ = 0;
};

}  // namespace lyx::drv
