// The gateway's side on the link's thread, the thread that owns the Network:
// it gives every packet its base station's topic level, notes it in the model of
// tags and hands it to every output, reads station IDs when the directory asks
// for them, and runs the commands the outputs took, one at a time, answering
// each.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "event_flag.hpp"
#include "mailbox.hpp"
#include "network.hpp"
#include "output.hpp"
#include "station_directory.hpp"
#include "tag_tracker.hpp"
#include "station_watch.hpp"

namespace lyx::cli {

class GatewayLink {
  public:
    // `held`: how many packets may wait for their station's ID; `stopFd` (if
    // not -1) ends a long command early once it is readable.
    GatewayLink(Network &net, TagTracker &tags, std::vector<Output *> outputs,
                Mailbox<CommandMessage> &commands, std::size_t held, int stopFd);
    ~GatewayLink();
    GatewayLink(const GatewayLink &) = delete;
    GatewayLink &operator=(const GatewayLink &) = delete;

    // Reads the ID of base station 1; false when it does not answer. The
    // others are read when they are first heard: a read of a station that is
    // not there waits for its time-out.
    bool readFirstStation();

    // Readable while station IDs wait to be read.
    int resolveFd() const { return resolveFlag_.fd(); }
    // Reads them and passes on the packets that waited for them.
    void resolve();

    // The base stations on the link now (bit n: station n), checked every
    // second: a station that left has its status "offline"; one that came
    // back, or was there at the start without a known ID, has its ID read
    // and its status "online".
    void stationsOnLink(std::uint32_t present);

    // Runs the commands waiting, in order, each to its end.
    void runCommands();
    // Packets stop coming in; the commands still waiting are answered with
    // `why` and not run.
    void close(const std::string &why);

  private:
    void onPacket(const Packet &p);
    void deliver(const std::string &level, const Packet &p);
    void record(int station, std::int32_t id);
    void release(int station, const std::string &level);
    void publishStations();
    bool stopRequested() const;
    // The stations whose status is "online" (bit n: station n).
    std::uint32_t presentMask() const;

    Network &net_;
    TagTracker &tags_;
    std::vector<Output *> outputs_;
    Mailbox<CommandMessage> &commands_;
    std::size_t heldCapacity_;
    int stopFd_;
    StationDirectory directory_;
    StationWatch watch_;
    bool watched_ = false;     // stationsOnLink() ran
    std::deque<Packet> held_;  // packets of stations whose ID is being read
    EventFlag resolveFlag_;
    int handler_ = 0;
};

}  // namespace lyx::cli
