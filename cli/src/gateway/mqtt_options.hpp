// The options of `lyx mqtt`: the broker's address, the topic prefix and
// client ID, the quality of service, credentials and TLS files, the queue size, the
// commands it runs and Home Assistant discovery.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_policy.hpp"

namespace lyx::cli {

class Arguments;
struct OptionSpec;

struct BrokerAddress {
    std::string host;
    int port = 1883;
    bool tls = false;

    // "mqtt://HOST[:PORT]", "mqtts://HOST[:PORT]" (TLS, port 8883) or a bare
    // "HOST[:PORT]"; an IPv6 address in brackets. Raises UsageError.
    static BrokerAddress parse(std::string_view url);
    std::string url() const;
    // The host is this machine: "localhost", 127.0.0.0/8 or ::1.
    bool loopback() const;
};

// Where the metrics are served: "PORT" (on 127.0.0.1), "HOST:PORT" or "[IPV6]:PORT", the host a
// numeric address or "localhost". A host that is not this machine is served only when
// written out, never by default.
struct MetricsAddress {
    std::string host = "127.0.0.1";
    int port = 0;
    bool ipv6 = false;

    static MetricsAddress parse(std::string_view text);  // raises UsageError
    std::string text() const;                            // "127.0.0.1:9108", "[::1]:9108"
    bool loopback() const;
};

struct GatewayOptions {
    BrokerAddress broker;
    CommandPolicy commands = CommandPolicy::defaults();
    bool discovery = true;  // Home Assistant discovery
    std::string discoveryPrefix = "homeassistant";
    std::string prefix = "lyx";
    std::string clientId;  // "lyx-HOSTNAME" unless given
    int qos = 0;
    std::optional<std::string> username;
    std::optional<std::string> password;  // the first line of --password-file
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::size_t queue = 10000;
    std::optional<MetricsAddress> metrics;
    std::string spool;  // the spool's folder; empty: none
    std::uint64_t spoolSize = std::uint64_t{1} << 30;

    // Raises UsageError for bad values and Failure(2) for files that cannot be read.
    static GatewayOptions from(const Arguments &args);
};

std::vector<OptionSpec> gatewayOptionSpecs();

// A size in bytes: a whole number with an optional K, M, G or T (1024 each; "KiB", "MB"
// and the like read the same). Raises UsageError naming `option`.
std::uint64_t parseSize(std::string_view text, const char *option);

// The password file's first line, without its line end. Raises Failure(2)
// when it cannot be read or is empty; warns on standard error when other
// users may read it.
std::string readPasswordFile(const std::string &path);

}  // namespace lyx::cli
