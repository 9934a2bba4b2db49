#include "receive/frame_store.hpp"

#include <algorithm>
#include <cstring>

namespace lyx::drv {

namespace {
constexpr std::size_t kLengthBytes = 2;
}

FrameStore::FrameStore(std::size_t maxBlocks) : maxBlocks_(std::max<std::size_t>(maxBlocks, 1)) {}

std::size_t FrameStore::dropOldestBlock() {
    const std::size_t dropped = blocks_.front().frames;
    frames_ -= dropped;
    releaseFront();
    return dropped;
}

void FrameStore::releaseFront() {
    if (!spare_) spare_ = std::move(blocks_.front().data);
    blocks_.pop_front();
}

std::size_t FrameStore::push(std::span<const std::uint8_t> frame) {
    const std::size_t length = std::min<std::size_t>(frame.size(), 0xFFFF);
    const std::size_t need = kLengthBytes + length;
    std::size_t dropped = 0;
    if (blocks_.empty() || kBlockBytes - blocks_.back().write < need) {
        if (blocks_.size() == maxBlocks_) dropped = dropOldestBlock();
        Block block;
        block.data = spare_ ? std::move(spare_) : std::make_unique<std::uint8_t[]>(kBlockBytes);
        blocks_.push_back(std::move(block));
    }
    Block &tail = blocks_.back();
    tail.data[tail.write] = static_cast<std::uint8_t>(length >> 8);
    tail.data[tail.write + 1] = static_cast<std::uint8_t>(length);
    if (length > 0) std::memcpy(&tail.data[tail.write + kLengthBytes], frame.data(), length);
    tail.write += need;
    ++tail.frames;
    ++frames_;
    return dropped;
}

bool FrameStore::pop(link::Bytes &out) {
    if (frames_ == 0) return false;
    Block &head = blocks_.front();
    const std::size_t length = (std::size_t{head.data[head.read]} << 8) | head.data[head.read + 1];
    const std::uint8_t *bytes = &head.data[head.read + kLengthBytes];
    out.assign(bytes, bytes + length);
    head.read += kLengthBytes + length;
    --head.frames;
    --frames_;
    if (head.frames == 0) {
        if (blocks_.size() > 1) {
            releaseFront();
        } else {
            head.read = head.write = 0;  // the only block: reuse it from its start
        }
    }
    return true;
}

std::size_t FrameStore::clear() {
    const std::size_t dropped = frames_;
    while (!blocks_.empty())
        releaseFront();
    frames_ = 0;
    return dropped;
}

}  // namespace lyx::drv
