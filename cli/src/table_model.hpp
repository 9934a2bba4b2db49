// The live table of `lyx table`: one row per tag heard, its last reading, age,
// packets per second and link figures, rendered as text.
#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <string>

#include "packet.hpp"

namespace lyx::cli {

class TableModel {
  public:
    using Clock = std::chrono::steady_clock;

    // A row turns stale after this long without a packet of its tag.
    static constexpr std::chrono::milliseconds kStaleAfter{3000};

    void add(const Packet &p, Clock::time_point now);
    std::size_t rows() const { return rows_.size(); }
    bool stale(int tag, Clock::time_point now) const;
    // Packets per second of `tag` over the last few seconds.
    double rate(int tag, Clock::time_point now) const;

    // The table as lines of at most `width` characters, a header first; with
    // `ansi`, stale rows are dimmed.
    std::string render(Clock::time_point now, std::size_t width, bool ansi) const;

  private:
    struct Row {
        Packet last;
        Clock::time_point first;
        Clock::time_point lastSeen;
        std::deque<Clock::time_point> recent;  // arrivals within the rate window
        std::uint64_t count = 0;
    };
    std::map<int, Row> rows_;
};

}  // namespace lyx::cli
