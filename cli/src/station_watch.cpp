#include "station_watch.hpp"

#include <cstdio>
#include <memory>

#include "event_loop.hpp"
#include "network.hpp"

namespace lyx::cli {

namespace {
constexpr std::chrono::milliseconds kCheckEvery{500};
constexpr int kBits = 32;
}  // namespace

std::vector<StationWatch::Change> StationWatch::update(std::uint32_t stations) {
    std::vector<Change> changes;
    if (started_) {
        for (int n = 0; n < kBits; ++n) {
            const std::uint32_t bit = 1u << n;
            if ((present_ & bit) && !(stations & bit)) changes.push_back({n, Kind::Gone});
            if (!(present_ & bit) && (stations & bit))
                changes.push_back({n, (seen_ & bit) ? Kind::Back : Kind::New});
        }
    }
    started_ = true;
    present_ = stations;
    seen_ |= stations;
    return changes;
}

std::string stationName(Network &net, int station) {
    // A serial link has one station, whatever number its packets carry.
    if (net.link().port != 0) return "the base station";
    return "base station " + std::to_string(station);
}

void reportStationChanges(EventLoop &loop, Network &net,
                          std::function<void(const std::string &)> also) {
    auto watch = std::make_shared<StationWatch>();
    watch->update(net.linkStatistics().stations);
    loop.every(kCheckEvery, [watch, &net, also = std::move(also)] {
        const std::string link = net.link().describe();
        for (const auto &change : watch->update(net.linkStatistics().stations)) {
            const char *what = change.kind == StationWatch::Kind::Gone   ? "is gone from"
                               : change.kind == StationWatch::Kind::Back ? "is back on"
                                                                         : "is there on";
            const std::string text = stationName(net, change.station) + " " + what + " " + link;
            std::fprintf(stderr, "lyx: %s\n", text.c_str());
            if (also) also(text);
        }
    });
}

}  // namespace lyx::cli
