// The base stations on the link as the tools follow them: the set the link
// reports now (bit n: base station n) compared with the last one, so that a
// station that goes, comes back or turns up is said once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lyx::cli {

class EventLoop;
class Network;

class StationWatch {
  public:
    enum class Kind { Gone, Back, New };
    struct Change {
        int station;
        Kind kind;
    };

    // The changes since the last update; the first update only sets the
    // stations there at the start.
    std::vector<Change> update(std::uint32_t stations);
    std::uint32_t present() const { return present_; }

  private:
    bool started_ = false;
    std::uint32_t present_ = 0;
    std::uint32_t seen_ = 0;  // every station that was ever there
};

// "base station N" on USB; "the base station" on a serial link, which has one
// whatever number its packets carry.
std::string stationName(Network &net, int station);

// Checks the link of `net` every half second while `loop` runs and prints one
// line on standard error for each station that goes, comes back or turns up
// ("base station 1 is gone from USB", "the base station is back on serial port
// COM5 at 115200 baud"); `also` gets the same text.
void reportStationChanges(EventLoop &loop, Network &net,
                          std::function<void(const std::string &)> also = {});

}  // namespace lyx::cli
