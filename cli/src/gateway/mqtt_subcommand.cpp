// `lyx mqtt`: the network published to an MQTT broker, and commands taken
// from it. The link's thread runs the event loop, the packets and the
// commands; the MQTT thread keeps the broker's connection.
#include <cstdio>
#include <optional>

#include "event_loop.hpp"
#include "gateway_link.hpp"
#include "mqtt_options.hpp"
#include "output_metrics.hpp"
#include "output_mqtt.hpp"
#include "subcommand.hpp"
#include "systemd_notify.hpp"

namespace lyx::cli {

namespace {

using std::chrono::milliseconds;

// How long a clean stop goes on publishing what waits.
constexpr milliseconds kFlushOnStop{3000};

// The gateway in one line, for systemd's status.
std::string summary(const MqttPublisher::Statistics &s, std::uint64_t linkDropped) {
    const std::uint64_t dropped = s.queue.dropped + s.failed + linkDropped;
    return std::string(s.connected ? "broker connected" : "broker away") + "; " +
           std::to_string(s.queue.received) + " packets received, " + std::to_string(s.published) +
           " published, " + std::to_string(s.queue.waiting) + " waiting, " +
           std::to_string(dropped) + " dropped";
}

PublisherSettings publisherSettings(const GatewayOptions &o) {
    PublisherSettings s;
    s.topics = Topics(o.prefix, o.clientId);
    s.qos = o.qos;
    s.queue = o.queue;
    s.commands = o.commands;
    s.discovery = o.discovery;
    s.discoverySettings.prefix = o.discoveryPrefix;
    s.discoverySettings.wakeButton = o.commands.allows("wake");
    s.discoverySettings.sleepButton = o.commands.allows("sleep");
    s.discoverySettings.version = LYX_CLI_VERSION;
    s.spoolFolder = o.spool;
    s.spoolLimit = o.spoolSize;
    s.client.broker = o.broker;
    s.client.clientId = o.clientId;
    s.client.username = o.username;
    s.client.password = o.password;
    s.client.caFile = o.caFile;
    s.client.certFile = o.certFile;
    s.client.keyFile = o.keyFile;
    s.client.will = {s.topics.status(), "offline", 1, true};
    return s;
}

int mqttCommand(const Arguments &args) {
    args.expectPositional(0, 0, "");
    const GatewayOptions options = GatewayOptions::from(args);
    const LinkOptions link = LinkOptions::from(args);
    const tags::LoadedTags tagFile = cli::tagFile(args);
    // First: the stop signals are blocked before the MQTT thread starts, so
    // that they reach this loop only.
    EventLoop loop;
    Network net(link);
    TagTracker tags(tagFile.names);
    Mailbox<CommandMessage> commands;
    MqttPublisher mqtt(publisherSettings(options), tags, commands);
    std::optional<MetricsOutput> metrics;
    if (options.metrics) metrics.emplace(*options.metrics, &mqtt);
    // Every output the gateway feeds.
    std::vector<Output *> outputs = {&mqtt};
    if (metrics) outputs.push_back(&*metrics);
    // The metrics server starts before the MQTT thread connects, so that a
    // port already in use stops the gateway before it says "online".
    std::vector<Output *> starting(outputs.rbegin(), outputs.rend());
    for (Output *output : starting) {
        try {
            output->start();
        } catch (const std::runtime_error &e) {
            throw Failure(2, e.what());
        }
    }
    GatewayLink gateway(net, tags, outputs, commands, options.queue, loop.signalFd());
    // The link's counters and stations are read on this thread, the component's,
    // and passed on.
    std::uint64_t linkDropped = 0;
    const auto checkLink = [&] {
        const auto statistics = net.linkStatistics();
        linkDropped = statistics.framesDropped;
        for (Output *output : outputs)
            output->link(statistics);
        gateway.stationsOnLink(statistics.stations);
    };
    checkLink();
    if (!gateway.readFirstStation())
        std::fprintf(stderr,
                     "lyx mqtt: base station 1 does not answer on %s yet; waiting for "
                     "packets\n",
                     link.describe().c_str());
    loop.watch(gateway.resolveFd(), [&] { gateway.resolve(); });
    loop.watch(commands.fd(), [&] { gateway.runCommands(); });
    loop.every(std::chrono::seconds(1), checkLink);
    // The link is open: the service is ready, whether the broker is there yet or not.
    SystemdNotifier systemd([&] { return summary(mqtt.statistics(), linkDropped); });
    systemd.ready();
    std::fprintf(stderr, "lyx mqtt: %s to %s under %s/ (Ctrl-C ends); commands: %s%s%s\n",
                 link.describe().c_str(), options.broker.url().c_str(), options.prefix.c_str(),
                 options.commands.describe().c_str(), tagFile.path.empty() ? "" : "; tags from ",
                 tagFile.path.c_str());
    loop.run();
    systemd.stopping();
    gateway.close("the gateway is stopping");
    const auto linkStats = net.linkStatistics();
    for (Output *output : outputs) {
        output->link(linkStats);
        std::fprintf(stderr, "lyx mqtt: %s\n", output->stop(kFlushOnStop).c_str());
    }
    std::fprintf(stderr, "lyx mqtt: %s\n", describeLink(linkStats).c_str());
    return 0;
}

}  // namespace

std::vector<Subcommand> mqttSubcommands() {
    std::vector<OptionSpec> options = gatewayOptionSpecs();
    options.push_back(tagsOption());
    addLinkOptions(options);
    return {
        {"mqtt",
         "--broker URL [--prefix P] [--client-id ID] [--qos 0|1] [--username U --password-file F] "
         "[--tls-ca FILE [--tls-cert FILE --tls-key FILE]] [--queue N] [--commands LIST] "
         "[--tags FILE] [--no-discovery | --discovery-prefix P] [--spool DIR [--spool-size SIZE]] "
         "[--metrics [ADDRESS:]PORT]",
         "publish every packet to an MQTT broker and take commands from it",
         "Every packet goes to PREFIX/STATION/TAG/packet as JSON (STATION is the base station's "
         "ID in hexadecimal), the latest of each tag to PREFIX/STATION/TAG/state (retained, at "
         "most once a second), with the name and unit the tag file gives the tag. "
         "PREFIX/STATION/TAG/availability is \"online\" while the tag is heard and "
         "\"offline\" once it has been silent for its timeout; PREFIX/gateway/CLIENT/modules "
         "lists every tag heard and PREFIX/gateway/CLIENT/event says when one joins, goes or "
         "comes back. PREFIX/gateway/CLIENT/status is \"online\" (retained; the last will and a "
         "clean stop make it \"offline\"), PREFIX/gateway/CLIENT/status/detail holds counters "
         "as JSON, among them the packets dropped. Home Assistant finds every tag by its MQTT "
         "discovery (under homeassistant/, unless --no-discovery). Commands on PREFIX/cmd/NAME, "
         "PREFIX/STATION/cmd/NAME and this gateway's own PREFIX/gateway/CLIENT/cmd/NAME (sleep, "
         "pause, wake, stay-awake, pair, station, channel, read, write, send, forget) take JSON "
         "bodies with fields named like the options ({\"tag\":1234}, "
         "{\"module\":66051,\"param\":20}); \"id\" is the request's own and comes back in "
         "the reply on .../NAME/result. Only the commands --commands allows run (station and "
         "read by default); a retained command never runs. While the broker is away packets wait "
         "in a queue of N (the oldest are dropped when it is full), or with --spool on disk (up to "
         "--spool-size, across restarts; published later in order with \"historical\":true), and "
         "the gateway reconnects, "
         "waiting 1 s, 2 s, 4 s ... up to 30 s between attempts. --metrics serves Prometheus "
         "metrics on http://ADDRESS:PORT/metrics (127.0.0.1 unless another address is given). "
         "SIGINT and SIGTERM stop it "
         "cleanly. See lyx-mqtt(1), whose SECURITY section says how to run it on a shared "
         "broker.",
         options, mqttCommand},
    };
}

}  // namespace lyx::cli
