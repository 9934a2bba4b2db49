#include "ring.hpp"

#include <algorithm>
#include <cstring>

namespace lyx::drv {

std::uint32_t RxRing::append(std::span<const std::uint8_t> chunk) {
    std::uint32_t dropped = 0;
    if (chunk.size() > freeSpace()) {
        dropped = held();
        clear();
        if (chunk.size() > kCapacity) {
            dropped += static_cast<std::uint32_t>(chunk.size() - kCapacity);
            chunk = chunk.last(kCapacity);
        }
    }
    auto count = static_cast<std::uint32_t>(chunk.size());
    std::uint32_t untilEnd = kPositions - write_ + 1;
    std::uint32_t firstPart = std::min(count, untilEnd);
    std::memcpy(&at(write_), chunk.data(), firstPart);
    if (count > firstPart) std::memcpy(&at(1), chunk.data() + firstPart, count - firstPart);
    write_ = advance(write_, count);
    return dropped;
}

link::HeldBytes RxRing::heldBytes() const {
    const std::uint8_t *base = bytes_.data();
    if (write_ >= read_) {
        return {{base + read_ - 1, write_ - read_}, {}};
    }
    return {{base + read_ - 1, kPositions - read_ + 1}, {base, write_ - 1}};
}

void RxRing::discard(std::uint32_t count) {
    read_ = advance(read_, std::min(count, held()));
}

link::Bytes RxRing::take(std::uint32_t count) {
    count = std::min(count, held());
    link::Bytes out;
    out.reserve(count);
    link::HeldBytes h = heldBytes();
    std::uint32_t fromFirst =
        std::min<std::uint32_t>(count, static_cast<std::uint32_t>(h.first.size()));
    out.insert(out.end(), h.first.begin(), h.first.begin() + fromFirst);
    out.insert(out.end(), h.second.begin(), h.second.begin() + (count - fromFirst));
    discard(count);
    return out;
}

void RxRing::discardZeros() {
    while (read_ != write_ && at(read_) == 0)
        read_ = advance(read_, 1);
}

}  // namespace lyx::drv
