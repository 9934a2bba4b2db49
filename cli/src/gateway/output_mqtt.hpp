// The gateway's MQTT output, on a thread of its own so that neither the broker
// nor the network between blocks the link's thread: it keeps the connection
// (reconnecting with a growing wait while the broker is away), publishes the
// packets of its queue, the retained states, each tag's availability, the list
// of modules, the tags' events, Home Assistant's discovery, the gateway's status
// and each base station's (online while it is on the link); it takes the
// commands the policy allows and hands them to the link's thread, and publishes
// the replies that come back. With a spool, packets that cannot go at once wait on disk
// and go, in order and marked "historical", once the broker takes them again.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "command_policy.hpp"
#include "discovery.hpp"
#include "lyx/dataprovider/data_provider.hpp"
#include "mailbox.hpp"
#include "mqtt_client.hpp"
#include "mqtt_commands.hpp"
#include "mqtt_topics.hpp"
#include "output.hpp"
#include "packet_queue.hpp"
#include "spool.hpp"
#include "tag_tracker.hpp"

namespace lyx::cli {

struct PublisherSettings {
    ClientSettings client;
    Topics topics{"lyx", "lyx"};
    int qos = 0;  // of readings, states, events and replies; the status always goes at 1
    std::size_t queue = 10000;
    CommandPolicy commands = CommandPolicy::defaults();
    bool discovery = true;
    DiscoverySettings discoverySettings;
    std::chrono::milliseconds stateInterval{1000};
    std::chrono::milliseconds modulesInterval{1000};
    std::chrono::milliseconds firstRetry{1000};
    std::chrono::milliseconds longestRetry{30000};
    std::chrono::milliseconds connectTimeout{15000};
    // send, pause and stay-awake: radio transmissions a second, for the whole gateway.
    double transmitsPerSecond = 10;
    // Store and forward: the folder of the spool (none: the memory queue alone) and its bound.
    std::string spoolFolder;
    std::uint64_t spoolLimit = std::uint64_t{1} << 30;
};

class MqttPublisher final : public Output {
  public:
    // At most this many commands wait for the link's thread; more are refused.
    static constexpr std::size_t kMostWaitingCommands = 64;

    MqttPublisher(PublisherSettings settings, TagTracker &tags, Mailbox<CommandMessage> &commands);
    ~MqttPublisher() override;
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    // Output, called on the link's thread. start() raises std::runtime_error when the
    // client settings are refused.
    void start() override;
    void packet(const std::string &station, const Packet &p) override;
    void lost(std::uint64_t count) override;
    void stations(const std::map<int, std::string> &levels, std::uint32_t present) override;
    void link(const dataprovider::LinkStatistics &statistics) override;
    // Publishes what waits for up to `flushFor`, then "offline", disconnects and ends the
    // thread; the line counts the packets received, published, dropped and left.
    std::string stop(std::chrono::milliseconds flushFor) override;

    // From any thread: a reply to publish.
    void reply(std::string topic, std::string payload);

    // What the MQTT side has done, for the metrics; from any thread.
    struct Statistics {
        PacketQueue::Counts queue;     // received, dropped (queue full or lost before), waiting
        std::uint64_t lostBefore = 0;  // of queue.dropped: lost before they reached the queue
        std::uint64_t published = 0;   // packets
        std::uint64_t failed = 0;      // packets the client would not take
        std::uint64_t connections = 0;
        bool connected = false;
        std::optional<std::chrono::system_clock::time_point> lastConnection;
        // (command, result) -> count; result "ok", "failed" or "refused", a command not known
        // "unknown" (names from the network never make new series).
        std::map<std::pair<std::string, std::string>, std::uint64_t> commands;
        std::optional<Spool::Counts> spool;  // with a spool
    };
    Statistics statistics() const;

    struct Summary {
        std::uint64_t published = 0;           // packets
        std::size_t left = 0;                  // packets still waiting in memory
        std::optional<std::uint64_t> spooled;  // packets left in the spool
        bool offline = false;                  // "offline" was acknowledged by the broker
    };

  private:
    class Session;
    struct Control {
        enum class Kind { Reply, Stations, Stop } kind;
        std::string topic;
        std::string payload;
        std::map<int, std::string> stations;
        std::uint32_t present = 0;
        std::chrono::milliseconds flushFor{0};
    };

    PublisherSettings settings_;
    TagTracker &tags_;
    PacketQueue packets_;
    std::unique_ptr<Spool> spool_;  // opened by start(), used by the thread
    Mailbox<CommandMessage> &commands_;
    Mailbox<Control> control_;
    std::thread thread_;
    Summary summary_;  // written by the thread before it ends
    void countCommand(std::string_view name, std::string_view result);
    mutable std::mutex statisticsLock_;
    Statistics statistics_;  // but for the queue's counts
    mutable std::mutex linkLock_;
    dataprovider::LinkStatistics link_;
    dataprovider::LinkStatistics linkStatistics() const;
};

}  // namespace lyx::cli
