// The gateway's side on the link's thread, the thread that owns the Network:
// it gives every packet its base station's topic level and queues it for the
// MQTT thread, reads station IDs when the directory asks for them, and runs
// the commands from the broker one at a time, sending each reply back.
#pragma once

#include <deque>
#include <string>

#include "event_flag.hpp"
#include "mailbox.hpp"
#include "output_mqtt.hpp"
#include "network.hpp"
#include "packet_queue.hpp"
#include "station_directory.hpp"

namespace lyx::cli {

class GatewayLink {
  public:
    // `stopFd` (if not -1) ends a long command early once it is readable.
    GatewayLink(Network &net, PacketQueue &packets, Mailbox<CommandMessage> &commands,
                MqttPublisher &publisher, int stopFd);
    ~GatewayLink();
    GatewayLink(const GatewayLink &) = delete;
    GatewayLink &operator=(const GatewayLink &) = delete;

    // Reads the ID of base station 1; false when it does not answer. The
    // others are read when they are first heard: a read of a station that is
    // not there waits for its time-out, and every frame arriving meanwhile is
    // lost.
    bool readFirstStation();

    // Readable while station IDs wait to be read.
    int resolveFd() const { return resolveFlag_.fd(); }
    // Reads them and queues the packets that waited for them.
    void resolve();

    // Runs the commands waiting, in order, each to its end.
    void runCommands();
    // Packets stop coming in; the commands still waiting are answered with
    // `why` and not run.
    void close(const std::string &why);

  private:
    void onPacket(const Packet &p);
    void record(int station, std::int32_t id);
    void release(int station, const std::string &level);
    bool stopRequested() const;

    Network &net_;
    PacketQueue &packets_;
    Mailbox<CommandMessage> &commands_;
    MqttPublisher &publisher_;
    int stopFd_;
    StationDirectory directory_;
    std::deque<Packet> held_;  // packets of stations whose ID is being read
    EventFlag resolveFlag_;
    int handler_ = 0;
};

}  // namespace lyx::cli
