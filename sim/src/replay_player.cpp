#include "replay_player.hpp"

#include <algorithm>
#include <climits>
#include <set>

namespace lyx::sim {

std::vector<std::uint32_t> replayModuleIds(const Recording &recording,
                                           const std::function<bool(std::uint32_t)> &taken) {
    std::vector<std::uint32_t> ids;
    std::set<std::uint32_t> used;
    for (const auto &m : recording.modules) {
        std::uint32_t id = static_cast<std::uint32_t>(m.station) * 65536u + m.tag;
        while (id == 0 || id >= kBroadcastId || taken(id) || used.contains(id)) {
            id = (id + 1) % kBroadcastId;
        }
        used.insert(id);
        ids.push_back(id);
    }
    return ids;
}

Outcome addReplayModules(World &world, const Recording &recording,
                         std::vector<std::uint32_t> &ids) {
    for (int number : recording.stations()) {
        if (!world.station(number)) return Outcome::failure("no station " + std::to_string(number));
    }
    ids =
        replayModuleIds(recording, [&](std::uint32_t id) { return world.module(id).has_value(); });
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const RecordedModule &recorded = recording.modules[i];
        ModuleConfig config;
        config.id = ids[i];
        config.tag = recorded.tag;
        config.type = recorded.type;
        config.rate = 0;  // it sends its rows, nothing of its own
        Outcome ok = world.addModule(config);
        if (ok) ok = world.attachToStation(ids[i], recorded.station);
        if (!ok) {
            for (std::size_t k = 0; k <= i; ++k)
                (void)world.removeModule(ids[k]);
            return ok;
        }
    }
    return {};
}

ReplayPlayer::ReplayPlayer(World &world, Scheduler &scheduler, EventSink &events,
                           std::shared_ptr<const Recording> recording, ReplaySettings settings,
                           std::vector<std::uint32_t> moduleIds)
    : world_(world),
      scheduler_(scheduler),
      events_(events),
      recording_(std::move(recording)),
      settings_(settings),
      moduleIds_(std::move(moduleIds)) {}

ReplayPlayer::~ReplayPlayer() {
    scheduler_.cancel(timer_);
}

Outcome ReplayPlayer::start() {
    const auto &rows = recording_->rows;
    const auto at = [](const RecordedRow &row) { return row.at; };
    begin_ = static_cast<std::size_t>(std::ranges::lower_bound(rows, settings_.from, {}, at) -
                                      rows.begin());
    end_ = settings_.to ? static_cast<std::size_t>(
                              std::ranges::upper_bound(rows, *settings_.to, {}, at) - rows.begin())
                        : rows.size();
    if (begin_ >= end_) return Outcome::failure("no row lies within from= and to=");
    if (!(settings_.speed >= 0.0)) return Outcome::failure("the speed must be 0 or more");

    // A round lasts from `from` to its last row, and one more average gap
    // between rows, so that the next round does not follow in the same instant.
    const std::int64_t first = rows[begin_].at;
    const std::int64_t last = rows[end_ - 1].at;
    const std::size_t count = end_ - begin_;
    std::int64_t gap = count > 1 ? (last - first) / static_cast<std::int64_t>(count - 1) : 1000;
    gap = std::max<std::int64_t>(gap, 1);
    if (settings_.speed > 0) {
        roundLength_ =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(
                static_cast<double>(last - settings_.from + gap) / settings_.speed));
    }
    status_.running = true;
    next_ = begin_;
    roundStart_ = scheduler_.now();
    arm(roundStart_);
    return {};
}

void ReplayPlayer::stop() {
    if (!status_.running) return;
    scheduler_.cancel(timer_);
    timer_ = 0;
    ended(true);
}

ReplayStatus ReplayPlayer::status() const {
    ReplayStatus s = status_;
    s.files = recording_->files;
    s.settings = settings_;
    s.moduleIds = moduleIds_;
    s.rows = end_ - begin_;
    s.end = end_ > begin_ ? recording_->rows[end_ - 1].at : 0;
    if (s.row == 0 && s.sent + s.quiet + s.unheard == 0) s.position = settings_.from;
    return s;
}

TimePoint ReplayPlayer::dueOf(const RecordedRow &row) const {
    return roundStart_ +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(
               static_cast<double>(row.at - settings_.from) / settings_.speed));
}

void ReplayPlayer::arm(TimePoint when) {
    timer_ = scheduler_.at(when, [this] { step(); });
}

void ReplayPlayer::step() {
    timer_ = 0;
    const auto &rows = recording_->rows;
    const bool paced = settings_.speed == 0;
    TimePoint now = scheduler_.now();
    for (std::size_t count = 0; next_ < end_ && count < kBatch; ++count) {
        const RecordedRow &row = rows[next_];
        if (paced) {
            // As fast as the station's link takes frames: what it took since
            // the last turn (two milliseconds' worth at most), then the next
            // turn a millisecond later.
            TimePoint &free = linkFree_[static_cast<std::size_t>(
                recording_->modules[row.module].station & 0xFF)];
            free = std::max(free, now - kLinkBacklog);
            if (free > now) {
                arm(std::max(free, now + kLinkTurn));
                return;
            }
            free += kFramePeriod;
        } else {
            const TimePoint due = dueOf(row);
            if (due > now) break;
            status_.maxLag = std::max(
                status_.maxLag, std::chrono::duration_cast<std::chrono::microseconds>(now - due));
        }
        switch (world_.sendRecorded(moduleIds_[row.module], row, recording_->valueOf(row), paced)) {
            case World::Sent::Yes:
                ++status_.sent;
                break;
            case World::Sent::Quiet:
                ++status_.quiet;
                break;
            case World::Sent::Unheard:
                ++status_.unheard;
                break;
        }
        status_.position = row.at;
        ++status_.row;
        ++next_;
        if (paced) now = scheduler_.now();  // a send may have waited for the reader
    }
    if (next_ < end_) {
        arm(paced ? now : std::max(now, dueOf(rows[next_])));
        return;
    }
    roundDone(now);
}

void ReplayPlayer::roundDone(TimePoint now) {
    if (!settings_.loop) {
        ended(false);
        return;
    }
    ++status_.loops;
    Event event;
    event.time = now;
    event.kind = EventKind::ReplayLooped;
    event.code = static_cast<int>(std::min<std::uint64_t>(status_.loops, INT_MAX));
    event.detail = "position=" + std::to_string(recording_->rows[begin_].at) + "ms";
    events_.publish(std::move(event));
    next_ = begin_;
    status_.row = 0;
    if (settings_.speed == 0) {
        roundStart_ = now;
        arm(now);
    } else {
        roundStart_ += roundLength_;
        arm(std::max(now, dueOf(recording_->rows[begin_])));
    }
}

void ReplayPlayer::ended(bool stopped) {
    status_.running = false;
    status_.stopped = stopped;
    Event event;
    event.time = scheduler_.now();
    event.kind = EventKind::ReplayEnded;
    event.code = static_cast<int>(std::min<std::uint64_t>(status_.sent, INT_MAX));
    event.detail = "sent=" + std::to_string(status_.sent) +
                   " quiet=" + std::to_string(status_.quiet) +
                   " unheard=" + std::to_string(status_.unheard) +
                   " loops=" + std::to_string(status_.loops) + (stopped ? " stopped" : "");
    events_.publish(std::move(event));
}

}  // namespace lyx::sim
