// The hand-over between the link's thread and the MQTT thread.
#include "packet_queue.hpp"

#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <thread>

#include "mailbox.hpp"

namespace lyx::cli {
namespace {

bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

QueuedPacket numbered(int n) {
    QueuedPacket q;
    q.station = "001234";
    q.packet.tag = 7;
    q.packet.value = std::to_string(n);
    return q;
}

TEST(PacketQueue, FullDropsTheOldestAndCountsThem) {
    PacketQueue queue(3);
    EXPECT_FALSE(readable(queue.fd()));
    for (int n = 1; n <= 5; ++n)
        queue.push(numbered(n));
    queue.countDropped(2);  // lost before they reached it
    EXPECT_TRUE(readable(queue.fd()));
    const auto counts = queue.counts();
    EXPECT_EQ(counts.received, 7u);
    EXPECT_EQ(counts.dropped, 4u);
    EXPECT_EQ(counts.waiting, 3u);
    std::vector<QueuedPacket> out;
    EXPECT_EQ(queue.take(out, 2), 2u);
    EXPECT_TRUE(readable(queue.fd()));
    EXPECT_EQ(queue.take(out, 10), 1u);
    EXPECT_FALSE(readable(queue.fd()));  // readable exactly while packets wait
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].packet.value, "3");
    EXPECT_EQ(out[2].packet.value, "5");
}

// One thread pushes, another waits on the descriptor and takes: every packet
// arrives once, in order, or is counted as dropped.
void handOver(std::size_t capacity, int total) {
    PacketQueue queue(capacity);
    std::thread producer([&] {
        for (int n = 1; n <= total; ++n)
            queue.push(numbered(n));
    });
    std::vector<QueuedPacket> batch;
    int taken = 0;
    int last = 0;
    bool ordered = true;
    for (;;) {
        pollfd p{queue.fd(), POLLIN, 0};
        ::poll(&p, 1, 100);
        batch.clear();
        queue.take(batch, 64);
        for (const auto &q : batch) {
            const int n = std::stoi(q.packet.value);
            ordered = ordered && n > last;
            last = n;
            ++taken;
        }
        if (last == total && queue.counts().waiting == 0) break;
    }
    producer.join();
    EXPECT_TRUE(ordered);
    const auto counts = queue.counts();
    EXPECT_EQ(counts.received, static_cast<std::uint64_t>(total));
    EXPECT_EQ(counts.dropped + static_cast<std::uint64_t>(taken),
              static_cast<std::uint64_t>(total));
    if (capacity >= static_cast<std::size_t>(total)) {
        EXPECT_EQ(counts.dropped, 0u);
    } else {
        EXPECT_GT(counts.dropped, 0u);
    }
}

TEST(PacketQueue, HandOverBetweenThreadsWithRoom) {
    handOver(100000, 50000);
}

TEST(PacketQueue, HandOverBetweenThreadsWhenFull) {
    handOver(16, 50000);
}

TEST(Mailbox, ItemsInOrderAcrossThreads) {
    Mailbox<int> box;
    std::thread sender([&] {
        for (int n = 0; n < 10000; ++n)
            box.post(n);
    });
    int expected = 0;
    while (expected < 10000) {
        pollfd p{box.fd(), POLLIN, 0};
        ::poll(&p, 1, 100);
        while (auto n = box.take())
            ASSERT_EQ(*n, expected++);
    }
    sender.join();
    EXPECT_FALSE(readable(box.fd()));
    EXPECT_TRUE(box.takeAll().empty());
}

}  // namespace
}  // namespace lyx::cli
