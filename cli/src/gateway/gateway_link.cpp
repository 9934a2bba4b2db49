#include "gateway_link.hpp"

#include <poll.h>

#include <cstdio>
#include <string>

#include "mqtt_commands.hpp"
#include "mqtt_topics.hpp"

namespace lyx::cli {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

GatewayLink::GatewayLink(Network &net, PacketQueue &packets, Mailbox<CommandMessage> &commands,
                         MqttPublisher &publisher, int stopFd)
    : net_(net), packets_(packets), commands_(commands), publisher_(publisher), stopFd_(stopFd) {
    handler_ = net_.addPacketHandler([this](const Packet &p) { onPacket(p); });
}

GatewayLink::~GatewayLink() {
    if (handler_ != 0) net_.removePacketHandler(handler_);
}

void GatewayLink::onPacket(const Packet &p) {
    if (auto level = directory_.levelFor(p.station, Clock::now())) {
        packets_.push({std::move(*level), p});
        return;
    }
    // Its station's ID is read once the loop runs again; the packet waits, in
    // the same bounds as the queue.
    if (held_.size() >= packets_.capacity()) {
        held_.pop_front();
        packets_.countDropped(1);
    }
    held_.push_back(p);
    resolveFlag_.raise();
}

bool GatewayLink::readFirstStation() {
    const std::int32_t id = net_.stationId(1);
    if (id != 0) record(1, id);
    resolve();
    publisher_.setStations(directory_.levels());
    return id != 0;
}

void GatewayLink::resolve() {
    resolveFlag_.clear();
    bool changed = false;
    for (int station : directory_.waiting()) {
        const std::int32_t id = net_.stationId(station);
        const auto before = directory_.levels();
        record(station, id);
        changed = changed || directory_.levels() != before;
    }
    if (changed) publisher_.setStations(directory_.levels());
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
            packets_.push({level, std::move(p)});
        else
            others.push_back(std::move(p));
    }
    held_ = std::move(others);
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
        if (station != 0) outcome = runRequest(net_, request, station, stopFd_);
        // The journal's line: which request, how the network answered, what it said.
        const std::string who = request.id.empty() ? "" : " (id " + request.id + ")";
        const std::string answer = outcome.response.empty() ? "" : outcome.response + ", ";
        std::fprintf(stderr, "lyx mqtt: %s on %s%s: %s%s\n", request.name.c_str(),
                     command->topic.c_str(), who.c_str(), answer.c_str(), outcome.message.c_str());
        publisher_.reply(Topics::result(command->topic),
                         replyJson(request.name, request.id, outcome));
        // A station read by the request itself: its ID is fresh.
        if (request.name == "station" && outcome.status == 0) {
            for (const auto &[field, literal] : outcome.fields) {
                if (field != "station_id") continue;
                const auto before = directory_.levels();
                record(station, static_cast<std::int32_t>(std::stol(literal)));
                if (directory_.levels() != before) publisher_.setStations(directory_.levels());
            }
        }
        if (!directory_.waiting().empty()) resolve();
    }
}

void GatewayLink::close(const std::string &why) {
    if (handler_ != 0) net_.removePacketHandler(handler_);
    handler_ = 0;
    packets_.countDropped(held_.size());
    held_.clear();
    while (auto command = commands_.take())
        publisher_.reply(Topics::result(command->topic),
                         errorReplyJson(command->request.name, command->request.id, why));
}

}  // namespace lyx::cli
