// An output of the gateway: a place where what the network says goes. MQTT is one
// (output_mqtt); others (a metrics endpoint, a spool on disk) go beside it behind the same
// interface. The gateway's link side calls every output on the link's thread and must never
// wait on one, so an output with slow work (a broker, a disk) does it on a thread of its own.
//
// What every output may read besides: the shared model of tags (tag_tracker.hpp), which
// says which tags are heard, gone or back, by what name.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "device_commands.hpp"
#include "lyx/dataprovider/data_provider.hpp"
#include "mqtt_commands.hpp"
#include "packet.hpp"

namespace lyx::cli {

// A command an output took (from the broker), for the link's thread to run.
struct CommandMessage {
    std::string origin;   // where it came from, for the journal ("lyx/cmd/read")
    std::string station;  // the station level the origin names; empty when none
    CommandRequest request;
    // Called once on the link's thread with how it went; must not wait.
    std::function<void(const Outcome &)> answer;
};

class Output {
  public:
    virtual ~Output() = default;

    // Starts it; raises std::runtime_error when it cannot work at all.
    virtual void start() = 0;
    // A packet of the base station whose topic level is `station`.
    virtual void packet(const std::string &station, const Packet &p) = 0;
    // Packets received but lost before they reached the outputs.
    virtual void lost(std::uint64_t count) = 0;
    // The base stations now: number -> topic level, and those on the link now
    // (bit n: station n).
    virtual void stations(const std::map<int, std::string> &levels, std::uint32_t present) = 0;
    // The link's counters, about once a second.
    virtual void link(const dataprovider::LinkStatistics &statistics) = 0;
    // Ends it, giving what waits up to `flushFor` to go out; one line for the journal.
    virtual std::string stop(std::chrono::milliseconds flushFor) = 0;
};

}  // namespace lyx::cli
