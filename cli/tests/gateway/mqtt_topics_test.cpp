#include "mqtt_topics.hpp"

#include <gtest/gtest.h>

#include "arguments.hpp"
#include "mqtt_options.hpp"

namespace lyx::cli {
namespace {

TEST(MqttTopics, TreeUnderThePrefix) {
    const Topics t("site/lyx", "gw1");
    EXPECT_EQ(t.status(), "site/lyx/gateway/gw1/status");
    EXPECT_EQ(t.statusDetail(), "site/lyx/gateway/gw1/status/detail");
    EXPECT_EQ(t.packet(stationLevel(0x001234), 101), "site/lyx/001234/101/packet");
    EXPECT_EQ(t.state(stationLevel(0x001234), 101), "site/lyx/001234/101/state");
    EXPECT_EQ(t.commands(), "site/lyx/cmd/#");
    EXPECT_EQ(t.stationCommands("001234"), "site/lyx/001234/cmd/#");
    EXPECT_EQ(stationLevel(0x12345678), "12345678");
    EXPECT_EQ(unnamedStationLevel(2), "station-2");
    EXPECT_EQ(Topics::result("lyx/cmd/sleep"), "lyx/cmd/sleep/result");
    EXPECT_EQ(t.availability("001234", 101), "site/lyx/001234/101/availability");
    EXPECT_EQ(t.modules(), "site/lyx/gateway/gw1/modules");
    EXPECT_EQ(t.event(), "site/lyx/gateway/gw1/event");
    EXPECT_EQ(t.gatewayCommands(), "site/lyx/gateway/gw1/cmd/#");
    EXPECT_EQ(t.gatewayCommand("sleep"), "site/lyx/gateway/gw1/cmd/sleep");
    EXPECT_EQ(t.stationCommand("001234", "wake"), "site/lyx/001234/cmd/wake");
}

TEST(MqttTopics, CommandTopicsAndWhatIsNotOne) {
    const Topics t("site/lyx", "gw1");
    auto gatewayWide = t.command("site/lyx/cmd/sleep");
    ASSERT_TRUE(gatewayWide);
    EXPECT_EQ(gatewayWide->station, "");
    EXPECT_EQ(gatewayWide->name, "sleep");
    auto station = t.command("site/lyx/001234/cmd/read");
    ASSERT_TRUE(station);
    EXPECT_EQ(station->station, "001234");
    EXPECT_EQ(station->name, "read");
    EXPECT_FALSE(station->gateway);
    auto own = t.command("site/lyx/gateway/gw1/cmd/forget");
    ASSERT_TRUE(own);
    EXPECT_EQ(own->station, "");
    EXPECT_EQ(own->name, "forget");
    EXPECT_TRUE(own->gateway);
    // Replies (ours come back through the same subscription), other depths, other prefixes.
    for (const char *topic :
         {"site/lyx/cmd/sleep/result", "site/lyx/001234/cmd/read/result", "site/lyx/cmd",
          "site/lyx/cmd/", "site/lyx/001234/cmd", "site/lyxx/cmd/sleep", "other/cmd/sleep",
          "site/lyx", "site/lyx/001234/101/packet", "site/lyx/gateway/gw2/cmd/sleep",
          "site/lyx/gateway/gw1/cmd/sleep/result", "site/lyx/gateway/gw1/cmd/"})
        EXPECT_FALSE(t.command(topic)) << topic;
}

TEST(MqttTopics, PrefixAndClientIdMustBeUsableLevels) {
    EXPECT_NO_THROW(checkTopicPrefix("plant 1/lyx"));
    for (const char *bad : {"", "a/+/b", "lyx/#", "a//b", "/lyx", "lyx/"})
        EXPECT_THROW(checkTopicPrefix(bad), UsageError) << bad;
    EXPECT_NO_THROW(checkClientId("lyx-host.local"));
    for (const char *bad : {"", "a/b", "a+b", "a#"})
        EXPECT_THROW(checkClientId(bad), UsageError) << bad;
}

TEST(BrokerAddress, SchemesPortsAndHosts) {
    const struct {
        const char *url, *host;
        int port;
        bool tls;
    } good[] = {
        {"mqtt://broker", "broker", 1883, false},
        {"mqtts://broker", "broker", 8883, true},
        {"mqtt://10.0.0.5:1884/", "10.0.0.5", 1884, false},
        {"broker.local:2000", "broker.local", 2000, false},
        {"mqtts://[::1]:8884", "::1", 8884, true},
        {"mqtt://[fe80::1]", "fe80::1", 1883, false},
    };
    for (const auto &g : good) {
        const BrokerAddress a = BrokerAddress::parse(g.url);
        EXPECT_EQ(a.host, g.host) << g.url;
        EXPECT_EQ(a.port, g.port) << g.url;
        EXPECT_EQ(a.tls, g.tls) << g.url;
    }
    EXPECT_EQ(BrokerAddress::parse("mqtts://[::1]").url(), "mqtts://[::1]:8883");
    for (const char *bad : {"http://host", "mqtt://", "mqtt://:1883", "mqtt://host:", "host:99999",
                            "mqtt://u:p@host", "mqtt://host/path", "::1", "mqtt://[::1"})
        EXPECT_THROW(BrokerAddress::parse(bad), UsageError) << bad;
    // Where a password may go without TLS: this machine only.
    for (const char *local : {"localhost", "127.0.0.1", "127.1.2.3", "[::1]"})
        EXPECT_TRUE(BrokerAddress::parse(local).loopback()) << local;
    for (const char *remote :
         {"broker.local", "10.0.0.5", "128.0.0.1", "[fe80::1]", "[::2]", "localhost.example.org"})
        EXPECT_FALSE(BrokerAddress::parse(remote).loopback()) << remote;
}

TEST(MetricsAddress, LoopbackUnlessAnotherAddressIsWrittenOut) {
    const struct {
        const char *text, *address;
        bool loopback;
    } good[] = {
        {"9108", "127.0.0.1:9108", true},        {"localhost:9108", "127.0.0.1:9108", true},
        {"127.0.0.2:1", "127.0.0.2:1", true},    {"[::1]:9108", "[::1]:9108", true},
        {"0.0.0.0:9108", "0.0.0.0:9108", false}, {"192.168.1.5:65535", "192.168.1.5:65535", false},
        {"[::]:9108", "[::]:9108", false},
    };
    for (const auto &g : good) {
        const MetricsAddress a = MetricsAddress::parse(g.text);
        EXPECT_EQ(a.text(), g.address) << g.text;
        EXPECT_EQ(a.loopback(), g.loopback) << g.text;
    }
    for (const char *bad : {"", "0", "65536", "host.example:9108", "127.0.0.1:", ":9108",
                            "127.0.0.1:91x", "::1:9108", "[::1]", "[::1]9108", "[zz]:9108"})
        EXPECT_THROW(MetricsAddress::parse(bad), UsageError) << bad;
}

}  // namespace
}  // namespace lyx::cli
