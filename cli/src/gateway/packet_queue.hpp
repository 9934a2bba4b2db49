// The packets on their way from the link's thread to the broker. The queue is
// bounded: when it is full the oldest packet is dropped and counted, so a long
// broker outage costs the oldest readings, never memory without limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "event_flag.hpp"
#include "packet.hpp"

namespace lyx::cli {

struct QueuedPacket {
    std::string station;  // the base station's topic level ("001234")
    Packet packet;
};

class PacketQueue {
  public:
    explicit PacketQueue(std::size_t capacity);

    // Readable while packets wait.
    int fd() const { return flag_.fd(); }
    std::size_t capacity() const { return capacity_; }

    void push(QueuedPacket packet);
    // Packets received but lost before they reached the queue.
    void countDropped(std::uint64_t count);
    // Moves up to `most` of the oldest packets to the end of `out`; returns how many.
    std::size_t take(std::vector<QueuedPacket> &out, std::size_t most);

    struct Counts {
        std::uint64_t received = 0;  // pushed, and counted as dropped before the queue
        std::uint64_t dropped = 0;
        std::size_t waiting = 0;
    };
    Counts counts() const;

  private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<QueuedPacket> packets_;
    Counts counts_;
    EventFlag flag_;
};

}  // namespace lyx::cli
