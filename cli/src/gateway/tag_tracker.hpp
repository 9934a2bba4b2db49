// The gateway's model of every tag heard: the shared table of tags, one per base station's
// topic level (a tag is a module heard through one station; the same tag through another
// station is another row), fed on the link's thread as packets arrive and read by the
// outputs on their own threads. It says when a tag joins, falls silent for longer than its
// timeout (its own from the tag file, else three times its measured packet interval, at
// least 10 s) and comes back, and lists every tag heard with its name, last packet and
// availability.
//
// Every member may be called from any thread; one lock guards the tables.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "event_flag.hpp"
#include "lyx/tags/tag_file.hpp"
#include "lyx/tags/tag_table.hpp"
#include "packet.hpp"

namespace lyx::cli {

class TagTracker {
  public:
    using Clock = std::chrono::steady_clock;

    // The gateway's rule for a tag's silence where the tag file gives no timeout.
    static constexpr tags::TagTable::Silence kSilence{std::chrono::milliseconds(10000), 3};
    // Events that wait for a reader; beyond this the oldest go (and are counted).
    static constexpr std::size_t kMostEvents = 4096;

    struct Event {
        enum class Kind { Joined, Gone, Back } kind;
        std::string station;  // the station's topic level
        int stationNumber = 0;
        int tag = 0;
        Clock::time_point at;                  // when it was heard, or when its silence ended
        Clock::time_point lastHeard;           // its last packet before the event
        std::chrono::milliseconds timeout{0};  // its silence time then
    };

    struct Module {
        std::string station;
        int stationNumber = 0;
        int tag = 0;
        std::string value;  // its last value text
        Clock::time_point lastHeard;
        std::uint64_t packets = 0;
        bool available = false;
        std::chrono::milliseconds timeout{0};
    };

    explicit TagTracker(tags::TagNames names, tags::TagTable::Silence silence = kSilence);

    // A packet of the base station whose topic level is `station`, heard at `when` (times
    // passed in do not go back for a station).
    void heard(const std::string &station, const Packet &p, Clock::time_point when);

    // Readable while events wait.
    int fd() const { return flag_.fd(); }
    // The events since the last call, with the tags that fell silent by `now`, in order.
    std::vector<Event> takeEvents(Clock::time_point now);
    // When the next tag falls silent, where one can.
    std::optional<Clock::time_point> nextSilence() const;
    std::uint64_t eventsLost() const;

    // Every tag heard, by station level and tag.
    std::vector<Module> modules(Clock::time_point now) const;
    // Grows with every change of what modules() gives, but for the passing of time.
    std::uint64_t version() const;

    // Drops `tag` under every station (or under `station` only) as if never heard; the
    // station levels it was known under.
    std::vector<std::string> forget(int tag, const std::string &station = {});

    // The tag file's names; fixed for the tracker's life, so read without the lock.
    const tags::TagNames &names() const { return names_; }
    const tags::TagInfo &info(int tag) const;

  private:
    struct Station {
        int number = 0;
        tags::TagTable table;
    };
    void sweep(Clock::time_point now);  // under the lock
    void push(Event event);             // under the lock

    const tags::TagNames names_;
    const tags::TagTable::Silence silence_;
    mutable std::mutex lock_;
    std::map<std::string, Station> stations_;
    std::deque<Event> events_;
    std::uint64_t eventsLost_ = 0;
    std::uint64_t version_ = 0;
    EventFlag flag_;
};

}  // namespace lyx::cli
