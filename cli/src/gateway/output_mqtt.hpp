// The gateway's MQTT side, on a thread of its own so that neither the broker
// nor the network between blocks the link's thread: it keeps the connection
// (reconnecting with a growing wait while the broker is away), publishes the
// packets of the queue, the retained states and the gateway's status, takes
// the commands and hands them to the link's thread, and publishes the replies
// that thread sends back.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "lyx/dataprovider/data_provider.hpp"
#include "mailbox.hpp"
#include "mqtt_client.hpp"
#include "mqtt_commands.hpp"
#include "mqtt_topics.hpp"
#include "packet_queue.hpp"

namespace lyx::cli {

struct PublisherSettings {
    ClientSettings client;
    Topics topics{"lyx", "lyx"};
    int qos = 0;  // of readings, states and replies; the status always goes at 1
    std::chrono::milliseconds stateInterval{1000};
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds longestRetry{30000};
    std::chrono::milliseconds connectTimeout{15000};
};

// A command that came from the broker, for the link's thread.
struct CommandMessage {
    std::string topic;    // the reply goes to topic + "/result"
    std::string station;  // the topic's station level; empty on PREFIX/cmd/NAME
    CommandRequest request;
};

class MqttPublisher {
  public:
    // At most this many commands wait for the link's thread; more are refused.
    static constexpr std::size_t kMostWaitingCommands = 64;

    MqttPublisher(PublisherSettings settings, PacketQueue &packets,
                  Mailbox<CommandMessage> &commands);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    // Starts the thread; raises std::runtime_error when the client settings
    // are refused.
    void start();

    // From any thread: a reply to publish, and the base stations' levels
    // (number -> level), whose command topics are subscribed.
    void reply(std::string topic, std::string payload);
    void setStations(std::map<int, std::string> levels);
    // From the link's thread: the link's counters, for the status detail.
    void setLink(const dataprovider::LinkStatistics &link);

    struct Summary {
        std::uint64_t published = 0;  // packets
        std::size_t left = 0;         // packets still waiting
        bool offline = false;         // "offline" was acknowledged by the broker
    };
    // Publishes what waits for up to `flushFor`, then "offline", disconnects
    // and ends the thread.
    Summary stop(std::chrono::milliseconds flushFor);

  private:
    class Session;
    struct Control {
        enum class Kind { Reply, Stations, Stop } kind;
        std::string topic;
        std::string payload;
        std::map<int, std::string> stations;
        std::chrono::milliseconds flushFor{0};
    };

    PublisherSettings settings_;
    PacketQueue &packets_;
    Mailbox<CommandMessage> &commands_;
    Mailbox<Control> control_;
    std::thread thread_;
    Summary summary_;  // written by the thread before it ends
    mutable std::mutex linkLock_;
    dataprovider::LinkStatistics link_;
    dataprovider::LinkStatistics link() const;
};

}  // namespace lyx::cli
