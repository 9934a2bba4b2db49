// Plays a recording's rows through the world's replayed modules at their
// times, on the simulation's scheduler (see lyx/sim/replay.hpp).
#pragma once

#include <array>
#include <memory>

#include "lyx/sim/replay.hpp"
#include "world.hpp"

namespace lyx::sim {

// Adds a module for each of the recording's modules, wired to its station
// (which must exist), and gives their IDs by Recording::modules.
Outcome addReplayModules(World &world, const Recording &recording, std::vector<std::uint32_t> &ids);

class ReplayPlayer {
  public:
    // `moduleIds` by Recording::modules; the modules exist in `world`.
    ReplayPlayer(World &world, Scheduler &scheduler, EventSink &events,
                 std::shared_ptr<const Recording> recording, ReplaySettings settings,
                 std::vector<std::uint32_t> moduleIds);
    ~ReplayPlayer();
    ReplayPlayer(const ReplayPlayer &) = delete;
    ReplayPlayer &operator=(const ReplayPlayer &) = delete;

    // Fails when no row lies within the range.
    Outcome start();
    // Ends a running replay (event replay-ended).
    void stop();
    ReplayStatus status() const;
    const std::vector<std::uint32_t> &moduleIds() const { return moduleIds_; }

    // The most frames a base station's link passes to the PC in a second: the
    // pace of a replay at speed 0, which sends them in turns a millisecond
    // apart (and no more than two milliseconds' worth at once).
    static constexpr int kLinkFramesPerSecond = 12000;

  private:
    // Rows sent per turn before other work of the simulation thread runs.
    static constexpr std::size_t kBatch = 64;
    static constexpr Clock::duration kLinkTurn = std::chrono::milliseconds(1);
    static constexpr Clock::duration kLinkBacklog = std::chrono::milliseconds(2);
    static constexpr Clock::duration kFramePeriod =
        std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) /
        kLinkFramesPerSecond;

    void step();
    void arm(TimePoint when);
    TimePoint dueOf(const RecordedRow &row) const;
    void roundDone(TimePoint now);
    void ended(bool stopped);

    World &world_;
    Scheduler &scheduler_;
    EventSink &events_;
    std::shared_ptr<const Recording> recording_;
    ReplaySettings settings_;
    std::vector<std::uint32_t> moduleIds_;
    std::size_t begin_ = 0;  // the rows in range: [begin_, end_)
    std::size_t end_ = 0;
    std::size_t next_ = 0;
    TimePoint roundStart_;
    Clock::duration roundLength_{};  // in real time, at the speed
    TimerId timer_ = 0;
    std::array<TimePoint, 256> linkFree_{};  // by station: when its link takes the next frame
    ReplayStatus status_;
};

}  // namespace lyx::sim
