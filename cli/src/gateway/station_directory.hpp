// Which topic level each base station's packets go under: the station's ID in
// hexadecimal, read once and kept per base-station number. Reading the ID is
// an exchange with the station, and frames that arrive during an exchange are
// lost, so it is read only when needed: when a station is first heard, and
// again when it speaks after a silence long enough for it to have been
// unplugged (another station may now sit in its slot). Packets that arrive
// while their station's ID is unknown wait until it has been read.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lyx::cli {

class StationDirectory {
  public:
    using Clock = std::chrono::steady_clock;

    // After this long without a packet a station's ID is read again.
    static constexpr std::chrono::milliseconds kSilence{5000};
    // A station that did not give its ID is asked again this often while it sends.
    static constexpr std::chrono::milliseconds kRetry{10000};

    // The level for a packet of `station` heard at `now`, or nothing: the ID
    // must be read first (the station is then listed by waiting()).
    std::optional<std::string> levelFor(int station, Clock::time_point now);

    // The stations whose ID must be read.
    std::vector<int> waiting() const;

    struct Change {
        std::string before;  // empty: had none
        std::string after;   // empty: still none
        bool changed() const { return before != after; }
    };
    // The answer to a read of `station`'s ID (0: it did not answer). A station
    // with packets waiting gets a level in any case: its last known ID, or
    // "station-N" until it answers.
    Change record(int station, std::int32_t id, Clock::time_point now);

    // The station left the link: whatever comes back in its place has its ID
    // read before its packets get a level (it keeps its level meanwhile).
    void expire(int station);
    bool confirmed(int station) const;

    std::optional<int> numberOf(std::string_view level) const;
    std::map<int, std::string> levels() const;  // number -> level, stations with a level only

  private:
    struct Entry {
        std::string level;
        bool confirmed = false;  // the level is the ID the station gave
        bool waiting = false;
        bool heard = false;
        bool expired = false;
        Clock::time_point lastHeard;
        Clock::time_point lastRead;
    };
    std::map<int, Entry> entries_;
};

}  // namespace lyx::cli
