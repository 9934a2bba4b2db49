// What is known of every data tag heard since a program started: its last reading, when it
// was first and last heard, how many packets it sent and at what rate, whether it is still
// heard or has gone silent, and the name, unit and timeout a user gave it (the tag file,
// tag_file.hpp). One table serves `lyx table`, `lyx monitor` and `lyx log`, the MQTT gateway
// and the viewer's list of modules, each presenting it in its own way.
//
// A tag counts as gone once it has been silent for longer than its silence time: its own
// timeout where the user gave one, else the table's rule (a fixed time, or a multiple of the
// tag's measured packet interval). sweep() reports each tag once as it goes; its next
// packet arrives as "back".
//
// The table keeps no clock: every call that depends on time takes `now`, so that callers
// and tests choose the clock. Not thread-safe; one thread owns a table.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

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

/// What a user says of a tag (in the tag file); every part may be missing.
struct TagInfo {
    std::string name;
    std::string unit;
    std::string deviceClass{};  ///< for Home Assistant: "weight", "temperature", ...
    std::string stateClass{};   ///< for Home Assistant: "measurement", "total", ...
    /// How long the tag may stay silent before its module counts as gone; the table's
    /// own rule when not given.
    std::optional<std::chrono::milliseconds> timeout{};
    std::optional<std::int32_t> module{};  ///< the module's ID

    bool operator==(const TagInfo &) const = default;
};

class TagTable {
  public:
    using Clock = std::chrono::steady_clock;

    /// How long a tag may stay silent and still count as heard, unless the table is given
    /// another time.
    static constexpr std::chrono::milliseconds kDefaultSilence{3000};
    /// Packets per second are counted over this much of the recent past.
    static constexpr std::chrono::milliseconds kRateWindow{3000};
    /// A tag's packet interval is the median of this many of its latest intervals.
    static constexpr std::size_t kIntervalsKept = 8;

    /// The silence after which a tag counts as gone, where its TagInfo gives no timeout:
    /// `intervals` times its measured packet interval, but at least `least`; `least` alone
    /// while no interval has been measured, or when `intervals` is 0.
    struct Silence {
        std::chrono::milliseconds least;
        int intervals = 0;
    };

    /// How a packet found its tag.
    enum class Arrival {
        Joined,  ///< never heard before (or forgotten since)
        Back,    ///< silent for longer than its silence time, or swept as gone
        Heard,   ///< heard within its silence time
    };

    /// One tag heard.
    struct Entry {
        Reading last;  ///< its latest packet
        Clock::time_point firstHeard;
        Clock::time_point lastHeard;
        std::uint64_t packets = 0;  ///< since it was first heard

        /// Marked gone by sweep() and not heard since.
        bool gone() const { return gone_; }

      private:
        friend class TagTable;
        std::deque<Clock::time_point> recent_;  ///< arrivals within the rate window
        std::deque<Clock::duration> gaps_;      ///< the latest intervals between packets
        bool gone_ = false;
    };
    using Entries = std::map<int, Entry>;

    /// A tag silent for longer than `silence` is no longer available (until its next
    /// packet).
    explicit TagTable(std::chrono::milliseconds silence = kDefaultSilence) : policy_{silence, 0} {}
    explicit TagTable(Silence policy) : policy_(policy) {}

    /// Records a packet heard at `now` (times passed in are expected not to go back).
    Arrival add(const Reading &reading, Clock::time_point now);

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
    /// Drops the row of `tag`, as if it had never been heard (its name stays); false when
    /// there was none.
    bool forget(int tag);

    /// The least silence time (the whole of it for a table of fixed silence).
    std::chrono::milliseconds silence() const { return policy_.least; }
    /// The silence time of this entry: its tag's timeout, else the table's rule.
    std::chrono::milliseconds silence(int tag, const Entry &entry) const;
    /// The median of the entry's latest packet intervals; nothing before its second packet.
    std::optional<Clock::duration> interval(const Entry &entry) const;

    /// Heard within its silence time before `now`. A tag never heard is not available.
    bool available(int tag, const Entry &entry, Clock::time_point now) const;
    bool available(const Entry &entry, Clock::time_point now) const {
        return available(entry.last.tag, entry, now);
    }
    bool available(int tag, Clock::time_point now) const;

    /// Marks every tag that has been silent for longer than its silence time at `now` as
    /// gone, and returns those not marked before, in tag order. Their next packet arrives
    /// as Arrival::Back.
    std::vector<int> sweep(Clock::time_point now);
    /// When the next tag that is not marked gone falls silent; nothing when there is none.
    std::optional<Clock::time_point> nextSilence() const;

    /// Packets per second over the rate window before `now`; while the tag is newer than
    /// the window, over the time since it was first heard (at least one second, so that a
    /// single packet does not read as a storm). 0 for a tag never heard.
    double rate(const Entry &entry, Clock::time_point now) const;
    double rate(int tag, Clock::time_point now) const;

  private:
    Silence policy_;
    Entries entries_;
    std::map<int, TagInfo> info_;
};

}  // namespace lyx::tags
