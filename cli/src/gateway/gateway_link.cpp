#include "gateway_link.hpp"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "mqtt_commands.hpp"

namespace lyx::cli {

namespace {

using Clock = std::chrono::steady_clock;

// The commands that act through one base station; their replies name it.
bool actsOnStation(const std::string &name) {
    static const char *const names[] = {"wake", "pair",  "station", "channel",
                                        "read", "write", "send"};
    return std::any_of(std::begin(names), std::end(names),
                       [&](const char *n) { return name == n; });
}

}  // namespace

GatewayLink::GatewayLink(Network &net, TagTracker &tags, std::vector<Output *> outputs,
                         Mailbox<CommandMessage> &commands, std::size_t held, int stopFd)
    : net_(net),
      tags_(tags),
      outputs_(std::move(outputs)),
      commands_(commands),
      heldCapacity_(std::max<std::size_t>(held, 1)),
      stopFd_(stopFd) {
    handler_ = net_.addPacketHandler([this](const Packet &p) { onPacket(p); });
}

GatewayLink::~GatewayLink() {
    if (handler_ != 0) net_.removePacketHandler(handler_);
}

void GatewayLink::onPacket(const Packet &p) {
    if (auto level = directory_.levelFor(p.station, Clock::now())) {
        deliver(*level, p);
        return;
    }
    // Its station's ID is read once the loop runs again; the packet waits, in
    // the bounds of the outputs' queues.
    if (held_.size() >= heldCapacity_) {
        held_.pop_front();
        for (Output *o : outputs_)
            o->lost(1);
    }
    held_.push_back(p);
    resolveFlag_.raise();
}

void GatewayLink::deliver(const std::string &level, const Packet &p) {
    // Heard when it arrived, also when it waited for its station's ID.
    tags_.heard(level, p, net_.started() + std::chrono::milliseconds(p.sinceStartMs));
    for (Output *o : outputs_)
        o->packet(level, p);
}

bool GatewayLink::readFirstStation() {
    if (directory_.confirmed(1)) return true;  // read as a station on the link
    const std::int32_t id = net_.stationId(1);
    if (id != 0) record(1, id);
    resolve();
    publishStations();
    return id != 0;
}

void GatewayLink::publishStations() {
    const auto levels = directory_.levels();
    const std::uint32_t present = presentMask();
    for (Output *o : outputs_)
        o->stations(levels, present);
}

void GatewayLink::resolve() {
    resolveFlag_.clear();
    // A station heard again may have come back since the last check: its
    // return is taken first, so that its level is published as online.
    stationsOnLink(net_.linkStatistics().stations);
    bool changed = false;
    for (int station : directory_.waiting()) {
        const std::int32_t id = net_.stationId(station);
        const auto before = directory_.levels();
        record(station, id);
        changed = changed || directory_.levels() != before;
    }
    if (changed) publishStations();
}

void GatewayLink::stationsOnLink(std::uint32_t present) {
    const bool first = !watched_;
    watched_ = true;
    const auto changes = watch_.update(present);
    if (!first && changes.empty()) return;
    const std::string link = net_.link().describe();
    if (first) {
        // Those there from the start whose ID is not known yet: reading it
        // cannot wait for a time-out, the station is there.
        for (int n = 0; n < 32; ++n)
            if ((present & (1u << n)) && !directory_.confirmed(n)) {
                const std::int32_t id = net_.stationId(n);
                if (id != 0) record(n, id);
            }
    }
    for (const auto &change : changes) {
        const auto levels = directory_.levels();
        const auto known = levels.find(change.station);
        const std::string name = stationName(net_, change.station) +
                                 (known == levels.end() ? "" : " (" + known->second + ")");
        if (change.kind == StationWatch::Kind::Gone) {
            directory_.expire(change.station);
            std::fprintf(stderr, "lyx mqtt: %s is gone from %s\n", name.c_str(), link.c_str());
            continue;
        }
        std::fprintf(stderr, "lyx mqtt: %s is %s %s\n", name.c_str(),
                     change.kind == StationWatch::Kind::Back ? "back on" : "there on",
                     link.c_str());
        // Another station may sit in its place now.
        const std::int32_t id = net_.stationId(change.station);
        if (id != 0) record(change.station, id);
    }
    publishStations();
}

void GatewayLink::record(int station, std::int32_t id) {
    const auto change = directory_.record(station, id, Clock::now());
    if (change.changed()) {
        if (id == 0)
            std::fprintf(stderr,
                         "lyx mqtt: base station %d does not give its ID; its packets go under "
                         "%s until it does\n",
                         station, change.after.c_str());
        else if (change.before.empty())
            std::fprintf(stderr, "lyx mqtt: base station %d is %s\n", station,
                         change.after.c_str());
        else
            std::fprintf(stderr, "lyx mqtt: base station %d is now %s (was %s)\n", station,
                         change.after.c_str(), change.before.c_str());
    }
    // Its waiting packets go before any that arrive during the next read.
    if (!change.after.empty()) release(station, change.after);
}

void GatewayLink::release(int station, const std::string &level) {
    std::deque<Packet> others;
    for (auto &p : held_) {
        if (p.station == station)
            deliver(level, p);
        else
            others.push_back(std::move(p));
    }
    held_ = std::move(others);
}

std::uint32_t GatewayLink::presentMask() const {
    // The packets of a serial link's one station may carry any number: while
    // it is there, every level the link has seen is.
    if (net_.link().port != 0) return watch_.present() != 0 ? ~0u : 0u;
    return watch_.present();
}

bool GatewayLink::stopRequested() const {
    if (stopFd_ < 0) return false;
    pollfd fd{stopFd_, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN);
}

void GatewayLink::runCommands() {
    while (!stopRequested()) {
        auto command = commands_.take();
        if (!command) return;
        const CommandRequest &request = command->request;
        Outcome outcome;
        int station = request.station.value_or(1);
        if (!command->station.empty()) {
            if (auto number = directory_.numberOf(command->station)) {
                station = *number;
            } else {
                outcome = {2,
                           "RT_NOBASE",
                           "base station " + command->station + " is not connected here any more",
                           {}};
                station = 0;
            }
        }
        if (station != 0) {
            outcome = runRequest(net_, request, station, stopFd_);
            // A station read by the request itself: its ID is fresh.
            if (request.name == "station" && outcome.status == 0) {
                for (const auto &[field, literal] : outcome.fields) {
                    if (field != "station_id") continue;
                    const auto before = directory_.levels();
                    record(station, static_cast<std::int32_t>(std::stol(literal)));
                    if (directory_.levels() != before) publishStations();
                }
            }
            if (actsOnStation(request.name)) {
                // The station by its number and by its ID as the topics give it.
                const bool named = std::any_of(outcome.fields.begin(), outcome.fields.end(),
                                               [](const auto &f) { return f.first == "station"; });
                if (!named) outcome.fields.emplace_back("station", std::to_string(station));
                const auto levels = directory_.levels();
                const auto level = levels.find(station);
                outcome.fields.emplace_back(
                    "station_hex", level == levels.end() || level->second.rfind("station-", 0) == 0
                                       ? std::string("null")
                                       : jsonString(level->second));
            }
        }
        // The journal's line: which request, how the network answered, what it said.
        const std::string who = request.id.empty() ? "" : " (id " + request.id + ")";
        const std::string answer = outcome.response.empty() ? "" : outcome.response + ", ";
        std::fprintf(stderr, "lyx mqtt: %s on %s%s: %s%s\n", request.name.c_str(),
                     command->origin.c_str(), who.c_str(), answer.c_str(), outcome.message.c_str());
        command->answer(outcome);
        if (!directory_.waiting().empty()) resolve();
    }
}

void GatewayLink::close(const std::string &why) {
    if (handler_ != 0) net_.removePacketHandler(handler_);
    handler_ = 0;
    for (Output *o : outputs_)
        o->lost(held_.size());
    held_.clear();
    while (auto command = commands_.take())
        command->answer({2, "", why, {}});
}

}  // namespace lyx::cli
