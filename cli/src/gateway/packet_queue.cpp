#include "packet_queue.hpp"

#include <algorithm>

namespace lyx::cli {

PacketQueue::PacketQueue(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void PacketQueue::push(QueuedPacket packet) {
    std::lock_guard lock(mutex_);
    ++counts_.received;
    if (packets_.size() >= capacity_) {
        packets_.pop_front();
        ++counts_.dropped;
    }
    if (packets_.empty()) flag_.raise();
    packets_.push_back(std::move(packet));
}

void PacketQueue::countDropped(std::uint64_t count) {
    std::lock_guard lock(mutex_);
    counts_.received += count;
    counts_.dropped += count;
}

std::size_t PacketQueue::take(std::vector<QueuedPacket> &out, std::size_t most) {
    std::lock_guard lock(mutex_);
    const std::size_t n = std::min(most, packets_.size());
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(std::move(packets_.front()));
        packets_.pop_front();
    }
    if (packets_.empty()) flag_.clear();
    return n;
}

PacketQueue::Counts PacketQueue::counts() const {
    std::lock_guard lock(mutex_);
    Counts c = counts_;
    c.waiting = packets_.size();
    return c;
}

}  // namespace lyx::cli
