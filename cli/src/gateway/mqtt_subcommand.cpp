// `lyx mqtt`: the network published to an MQTT broker, and commands taken
// from it. The link's thread runs the event loop, the packets and the
// commands; the MQTT thread keeps the broker's connection.
#include <cstdio>

#include "event_loop.hpp"
#include "gateway_link.hpp"
#include "mqtt_options.hpp"
#include "output_mqtt.hpp"
#include "subcommand.hpp"

namespace lyx::cli {

namespace {

using std::chrono::milliseconds;

// How long a clean stop goes on publishing what waits.
constexpr milliseconds kFlushOnStop{3000};

PublisherSettings publisherSettings(const GatewayOptions &o) {
    PublisherSettings s;
    s.topics = Topics(o.prefix, o.clientId);
    s.qos = o.qos;
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
    // First: the stop signals are blocked before the MQTT thread starts, so
    // that they reach this loop only.
    EventLoop loop;
    Network net(link);
    PacketQueue packets(options.queue);
    Mailbox<CommandMessage> commands;
    MqttPublisher publisher(publisherSettings(options), packets, commands);
    try {
        publisher.start();
    } catch (const std::runtime_error &e) {
        throw Failure(2, e.what());
    }
    GatewayLink gateway(net, packets, commands, publisher, loop.signalFd());
    if (!gateway.readFirstStation())
        std::fprintf(stderr,
                     "lyx mqtt: base station 1 does not answer on %s yet; waiting for "
                     "packets\n",
                     link.describe().c_str());
    loop.watch(gateway.resolveFd(), [&] { gateway.resolve(); });
    loop.watch(commands.fd(), [&] { gateway.runCommands(); });
    // The link's counters are read on this thread, the component's, and passed on.
    loop.every(std::chrono::seconds(1), [&] { publisher.setLink(net.linkStatistics()); });
    std::fprintf(stderr, "lyx mqtt: %s to %s under %s/ (Ctrl-C ends)\n", link.describe().c_str(),
                 options.broker.url().c_str(), options.prefix.c_str());
    loop.run();
    gateway.close("the gateway is stopping");
    const auto linkStats = net.linkStatistics();
    publisher.setLink(linkStats);
    const auto summary = publisher.stop(kFlushOnStop);
    const auto counts = packets.counts();
    std::fprintf(stderr,
                 "lyx mqtt: %llu packets received, %llu published, %llu dropped, %zu left "
                 "unpublished; %s\n",
                 static_cast<unsigned long long>(counts.received),
                 static_cast<unsigned long long>(summary.published),
                 static_cast<unsigned long long>(counts.dropped), summary.left,
                 summary.offline ? "\"offline\" published" : "\"offline\" not published");
    std::fprintf(stderr, "lyx mqtt: %s\n", describeLink(linkStats).c_str());
    return 0;
}

}  // namespace

std::vector<Subcommand> mqttSubcommands() {
    std::vector<OptionSpec> options = gatewayOptionSpecs();
    addLinkOptions(options);
    return {
        {"mqtt",
         "--broker URL [--prefix P] [--client-id ID] [--qos 0|1] [--username U --password-file F] "
         "[--tls-ca FILE [--tls-cert FILE --tls-key FILE]] [--queue N]",
         "publish every packet to an MQTT broker and take commands from it",
         "Every packet goes to PREFIX/STATION/TAG/packet as JSON (STATION is the base station's "
         "ID in hexadecimal), the latest of each tag to PREFIX/STATION/TAG/state (retained, at "
         "most once a second). PREFIX/gateway/CLIENT/status is \"online\" (retained; the last "
         "will and a clean stop make it \"offline\"), PREFIX/gateway/CLIENT/status/detail holds "
         "counters as JSON, among them the packets dropped. Commands on PREFIX/cmd/NAME and "
         "PREFIX/STATION/cmd/NAME (sleep, pause, wake, stay-awake, pair, station, channel, read, "
         "write, send) take JSON bodies with fields named like the options ({\"tag\":1234}, "
         "{\"module\":66051,\"param\":20}); \"id\" is the request's own and comes back in the "
         "reply on .../NAME/result. While the broker is away packets wait in a queue of N "
         "(the oldest are dropped when it is full) and the gateway reconnects, waiting 1 s, "
         "2 s, 4 s ... up to 30 s between attempts. SIGINT and SIGTERM stop it cleanly. See "
         "lyx-mqtt(1).",
         options, mqttCommand},
    };
}

}  // namespace lyx::cli
