// Drives a World in virtual time: a manual scheduler, an output that records
// what each station sends, and the events it publishes.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "lyx/link/frame.hpp"
#include "lyx/link/synchroniser.hpp"
#include "world.hpp"

namespace lyx::sim::testing {

using namespace std::chrono_literals;

class ManualScheduler final : public Scheduler {
  public:
    TimePoint now() const override { return now_; }
    TimerId at(TimePoint when, Task task) override { return queue_.add(when, std::move(task)); }
    void cancel(TimerId id) override { queue_.cancel(id); }
    // Moves time forward, running every timer that falls due on the way at its
    // own time.
    void advance(Clock::duration step) {
        const TimePoint end = now_ + step;
        while (auto next = queue_.next()) {
            if (*next > end) break;
            if (*next > now_) now_ = *next;
            if (auto task = queue_.popDue(now_)) (*task)();
        }
        now_ = end;
    }

  private:
    TimePoint now_ = TimePoint(std::chrono::hours(1));
    DeadlineQueue queue_;
};

class WorldTest : public ::testing::Test, protected FrameOutput, protected EventSink {
  protected:
    bool send(int number, std::span<const std::uint8_t> bytes) override {
        auto &stream = streams[number];
        stream.insert(stream.end(), bytes.begin(), bytes.end());
        return true;
    }
    void publish(Event event) override { events.push_back(std::move(event)); }

    // Adds station `number` on `channel`.
    void station(int number = 1, std::uint8_t channel = 1) {
        StationConfig c;
        c.number = number;
        c.channel = channel;
        c.id = 0x123456;
        ASSERT_TRUE(world.addStation(c));
    }
    static ModuleConfig moduleConfig(std::uint32_t id, std::uint16_t tag, std::uint8_t channel = 1,
                                     double rate = 10) {
        ModuleConfig m;
        m.id = id;
        m.tag = tag;
        m.channel = channel;
        m.rate = rate;
        return m;
    }
    void module(std::uint32_t id, std::uint16_t tag, std::uint8_t channel = 1, double rate = 10) {
        ASSERT_TRUE(world.addModule(moduleConfig(id, tag, channel, rate)));
    }
    // The PC sends `payload` to station `number`.
    void pcSends(int number, link::Bytes payload) {
        world.receive(number, link::buildFrame(static_cast<std::uint8_t>(number), payload));
    }
    // Every whole frame station `number` has sent since the last call, found as
    // a receiver finds them.
    std::vector<link::Bytes> frames(int number = 1) {
        auto &stream = streams[number];
        std::vector<link::Bytes> out;
        std::size_t pos = 0;
        for (;;) {
            link::HeldBytes held{std::span(stream).subspan(pos), {}};
            auto found = link::findFrame(held);
            if (found.frameLength == 0) break;
            auto begin = stream.begin() + static_cast<std::ptrdiff_t>(pos + found.discard);
            out.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(found.frameLength));
            pos += found.discard + found.frameLength;
        }
        stream.clear();
        return out;
    }
    // Frames of station `number` whose type code is `code`, as payloads.
    std::vector<link::Bytes> payloads(int number, std::uint8_t code) {
        std::vector<link::Bytes> out;
        for (const auto &f : frames(number)) {
            if ((f[3] & 0x1F) == code) out.emplace_back(f.begin() + 3, f.end() - 2);
        }
        return out;
    }
    std::size_t count(EventKind kind, std::uint32_t module = 0) const {
        std::size_t n = 0;
        for (const auto &e : events) {
            if (e.kind == kind && (module == 0 || e.module == module)) ++n;
        }
        return n;
    }

    ManualScheduler clock;
    std::map<int, link::Bytes> streams;
    std::vector<Event> events;
    World world{clock, *this, *this, 7};
};

}  // namespace lyx::sim::testing
