// What is known of every data tag heard since a program started: its last reading, when it
// was first and last heard, how many packets it sent and at what rate, whether it is still
// heard, and the name and unit a user gave it. One table serves `lyx table`, the MQTT gateway
// and the viewer's list of modules, each presenting it in its own way.
//
// The table keeps no clock: every call that depends on time takes `now`, so that callers
// and tests choose the clock. Not thread-safe; one thread owns a table.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

namespace lyx::tags {

/// One packet as the table keeps it: the arguments of the component's PacketArrived.
struct Reading {
    int station = 0;    ///< base-station number
    int tag = 0;        ///< data tag
    std::string value;  ///< the component's value text, one byte per character
    int status = 0;
    int rssi = 0;
    int cv = 0;
    bool battLow = false;
    bool error = false;
};

/// What a user says of a tag; either may be empty.
struct TagInfo {
    std::string name;
    std::string unit;
};

class TagTable {
  public:
    using Clock = std::chrono::steady_clock;

    /// How long a tag may stay silent and still count as heard, unless the table is given
    /// another time.
    static constexpr std::chrono::milliseconds kDefaultSilence{3000};
    /// Packets per second are counted over this much of the recent past.
    static constexpr std::chrono::milliseconds kRateWindow{3000};

    /// One tag heard.
    struct Entry {
        Reading last;  ///< its latest packet
        Clock::time_point firstHeard;
        Clock::time_point lastHeard;
        std::uint64_t packets = 0;  ///< since it was first heard

      private:
        friend class TagTable;
        std::deque<Clock::time_point> recent_;  ///< arrivals within the rate window
    };
    using Entries = std::map<int, Entry>;

    /// A tag silent for longer than `silence` is no longer available (until its next
    /// packet).
    explicit TagTable(std::chrono::milliseconds silence = kDefaultSilence) : silence_(silence) {}

    /// Records a packet heard at `now` (times passed in are expected not to go back).
    void add(const Reading &reading, Clock::time_point now);

    /// Names a tag, heard or not yet heard; naming does not make it a row.
    void describe(int tag, TagInfo info);
    /// The name and unit of `tag`, empty when it has none.
    const TagInfo &info(int tag) const;

    /// The tags heard, in ascending tag order.
    const Entries &entries() const { return entries_; }
    Entries::const_iterator begin() const { return entries_.begin(); }
    Entries::const_iterator end() const { return entries_.end(); }
    std::size_t size() const { return entries_.size(); }
    /// The entry of `tag`, or null when it was never heard.
    const Entry *find(int tag) const;

    std::chrono::milliseconds silence() const { return silence_; }
    /// Heard within the silence time before `now`. A tag never heard is not available.
    bool available(const Entry &entry, Clock::time_point now) const;
    bool available(int tag, Clock::time_point now) const;

    /// Packets per second over the rate window before `now`; while the tag is newer than
    /// the window, over the time since it was first heard (at least one second, so that a
    /// single packet does not read as a storm). 0 for a tag never heard.
    double rate(const Entry &entry, Clock::time_point now) const;
    double rate(int tag, Clock::time_point now) const;

  private:
    std::chrono::milliseconds silence_;
    Entries entries_;
    std::map<int, TagInfo> info_;
};

}  // namespace lyx::tags
