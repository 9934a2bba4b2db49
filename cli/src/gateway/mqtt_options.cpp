#include "mqtt_options.hpp"

#include <arpa/inet.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "arguments.hpp"
#include "mqtt_topics.hpp"
#include "network.hpp"

namespace lyx::cli {

namespace {

constexpr std::size_t kLargestQueue = 1000000;
constexpr std::uint64_t kSmallestSpool = 4096;

std::string defaultClientId() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "lyx-gateway";
    std::string id = "lyx-";
    for (const char *c = host; *c != '\0'; ++c)
        id += (*c == '/' || *c == '+' || *c == '#') ? '-' : *c;
    return id;
}

void requireReadable(const std::string &path, const char *option) {
    if (::access(path.c_str(), R_OK) != 0)
        throw Failure(2,
                      std::string(option) + ": cannot read " + path + ": " + std::strerror(errno));
}

}  // namespace

BrokerAddress BrokerAddress::parse(std::string_view url) {
    const std::string given(url);
    BrokerAddress address;
    if (const auto scheme = url.find("://"); scheme != std::string_view::npos) {
        const std::string_view name = url.substr(0, scheme);
        if (name == "mqtts") {
            address.tls = true;
            address.port = 8883;
        } else if (name != "mqtt") {
            throw UsageError("--broker: unknown scheme '" + std::string(name) +
                             "://' (mqtt:// or mqtts://)");
        }
        url.remove_prefix(scheme + 3);
    }
    if (!url.empty() && url.back() == '/') url.remove_suffix(1);
    if (url.find('@') != std::string_view::npos)
        throw UsageError(
            "--broker: give the user name with --username and the password in a "
            "file with --password-file, not in the address");
    if (url.find('/') != std::string_view::npos)
        throw UsageError("--broker: '" + given + "' has a path; expected mqtt://HOST[:PORT]");
    std::string_view host = url;
    std::optional<std::string_view> port;
    if (!url.empty() && url.front() == '[') {
        const auto close = url.find(']');
        if (close == std::string_view::npos)
            throw UsageError("--broker: '" + given + "' has no closing ']'");
        host = url.substr(1, close - 1);
        const std::string_view rest = url.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':')
                throw UsageError("--broker: unexpected '" + std::string(rest) + "' in " + given);
            port = rest.substr(1);
        }
    } else if (const auto colon = url.find(':'); colon != std::string_view::npos) {
        if (url.find(':', colon + 1) != std::string_view::npos)
            throw UsageError("--broker: an IPv6 address goes in brackets (mqtt://[::1]:1883)");
        host = url.substr(0, colon);
        port = url.substr(colon + 1);
    }
    if (host.empty()) throw UsageError("--broker: '" + given + "' names no host");
    address.host = std::string(host);
    if (port) address.port = static_cast<int>(parseInteger(*port, 1, 65535, "--broker port"));
    return address;
}

std::string BrokerAddress::url() const {
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

bool BrokerAddress::loopback() const {
    if (host == "localhost" || host == "localhost.localdomain" || host == "ip6-localhost")
        return true;
    in_addr v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return ::inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

MetricsAddress MetricsAddress::parse(std::string_view text) {
    const std::string given(text);
    const auto bad = [&](const std::string &why) {
        return UsageError("--metrics: '" + given + "' " + why +
                          "; expected PORT, ADDRESS:PORT or [IPV6]:PORT");
    };
    MetricsAddress address;
    std::string_view port = text;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            throw bad("is not [IPV6]:PORT");
        address.host = std::string(text.substr(1, close - 1));
        address.ipv6 = true;
        port = text.substr(close + 2);
        in6_addr probe{};
        if (::inet_pton(AF_INET6, address.host.c_str(), &probe) != 1)
            throw bad("does not hold an IPv6 address");
    } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        address.host = std::string(text.substr(0, colon));
        port = text.substr(colon + 1);
        if (address.host == "localhost") address.host = "127.0.0.1";
        in_addr probe{};
        if (::inet_pton(AF_INET, address.host.c_str(), &probe) != 1)
            throw bad("does not name a numeric IPv4 address, localhost or [IPV6]");
    }
    if (port.empty() || port.find_first_not_of("0123456789") != std::string_view::npos)
        throw bad("has no port number");
    address.port = static_cast<int>(parseInteger(port, 1, 65535, "--metrics"));
    return address;
}

std::string MetricsAddress::text() const {
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool MetricsAddress::loopback() const {
    if (ipv6) {
        in6_addr a{};
        return ::inet_pton(AF_INET6, host.c_str(), &a) == 1 && IN6_IS_ADDR_LOOPBACK(&a);
    }
    in_addr a{};
    return ::inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

std::uint64_t parseSize(std::string_view text, const char *option) {
    const std::string given(text);
    const auto digits = text.find_first_not_of("0123456789");
    std::string_view number = text.substr(0, digits);
    std::string_view unit = digits == std::string_view::npos ? "" : text.substr(digits);
    int shift = 0;
    if (!unit.empty()) {
        const std::string_view units = "KMGT";
        const auto at = units.find(static_cast<char>(std::toupper(unit.front())));
        const std::string_view rest = unit.substr(1);
        if (at == std::string_view::npos || !(rest.empty() || rest == "B" || rest == "iB"))
            throw UsageError(std::string(option) + ": '" + given +
                             "' is not a size (a number of bytes, or with K, M, G or T)");
        shift = 10 * static_cast<int>(at + 1);
    }
    const auto value =
        static_cast<std::uint64_t>(parseInteger(number, 0, std::int64_t{1} << 50, option));
    if (shift > 0 && value > (std::uint64_t{1} << (60 - shift)))
        throw UsageError(std::string(option) + ": '" + given + "' is too large");
    return value << shift;
}

std::string readPasswordFile(const std::string &path) {
    std::ifstream in(path);
    if (!in) throw Failure(2, "--password-file: cannot read " + path + ": " + std::strerror(errno));
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) throw Failure(2, "--password-file: " + path + " is empty");
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0)
        std::fprintf(stderr, "lyx mqtt: warning: %s can be read by other users (chmod 600 it)\n",
                     path.c_str());
    return line;
}

GatewayOptions GatewayOptions::from(const Arguments &args) {
    GatewayOptions o;
    const auto broker = args.value("--broker");
    if (!broker) throw UsageError("--broker URL is needed (mqtt://HOST[:PORT] or mqtts://...)");
    o.broker = BrokerAddress::parse(*broker);
    if (auto prefix = args.value("--prefix")) o.prefix = *prefix;
    checkTopicPrefix(o.prefix);
    o.clientId = args.value("--client-id").value_or(defaultClientId());
    checkClientId(o.clientId);
    if (auto qos = args.value("--qos")) o.qos = static_cast<int>(parseInteger(*qos, 0, 1, "--qos"));
    if (auto queue = args.value("--queue"))
        o.queue = static_cast<std::size_t>(
            parseInteger(*queue, 1, static_cast<std::int64_t>(kLargestQueue), "--queue"));

    o.caFile = args.value("--tls-ca").value_or("");
    o.certFile = args.value("--tls-cert").value_or("");
    o.keyFile = args.value("--tls-key").value_or("");
    const bool tlsFiles = !o.caFile.empty() || !o.certFile.empty() || !o.keyFile.empty();
    if (tlsFiles && !o.broker.tls)
        throw UsageError("--tls-ca, --tls-cert and --tls-key need an mqtts:// broker");
    if (o.certFile.empty() != o.keyFile.empty())
        throw UsageError("--tls-cert and --tls-key go together");
    if (!o.certFile.empty() && o.caFile.empty())
        throw UsageError("--tls-cert needs --tls-ca (the CA of the broker's certificate)");

    if (auto user = args.value("--username")) {
        if (user->empty()) throw UsageError("--username: the user name is empty");
        o.username = *user;
    }
    const auto passwordFile = args.value("--password-file");
    if (passwordFile && !o.username) throw UsageError("--password-file needs --username");
    // Anyone on the network between could read it.
    if (passwordFile && !o.broker.tls && !o.broker.loopback() &&
        !args.has("--allow-cleartext-password"))
        throw UsageError("--password-file: the password would go to " + o.broker.host +
                         " in clear text over mqtt://; use mqtts:// (TLS), or give "
                         "--allow-cleartext-password where the network between is trusted");

    if (auto commands = args.value("--commands")) o.commands = CommandPolicy::parse(*commands);
    if (args.has("--no-discovery") && args.has("--discovery-prefix"))
        throw UsageError("--no-discovery and --discovery-prefix exclude each other");
    o.discovery = !args.has("--no-discovery");
    if (auto prefix = args.value("--discovery-prefix")) {
        checkTopicPrefix(*prefix, "--discovery-prefix");
        o.discoveryPrefix = *prefix;
    }

    if (auto metrics = args.value("--metrics")) o.metrics = MetricsAddress::parse(*metrics);
    if (auto spool = args.value("--spool")) {
        if (spool->empty()) throw UsageError("--spool: the folder is empty");
        o.spool = *spool;
    }
    if (auto size = args.value("--spool-size")) {
        if (o.spool.empty()) throw UsageError("--spool-size needs --spool");
        o.spoolSize = parseSize(*size, "--spool-size");
        if (o.spoolSize < kSmallestSpool)
            throw UsageError("--spool-size: '" + *size + "' is less than " +
                             std::to_string(kSmallestSpool) + " bytes");
    }

    // Files last: the usage faults are reported first, whatever the files hold.
    if (!o.caFile.empty()) requireReadable(o.caFile, "--tls-ca");
    if (!o.certFile.empty()) requireReadable(o.certFile, "--tls-cert");
    if (!o.keyFile.empty()) requireReadable(o.keyFile, "--tls-key");
    if (passwordFile) o.password = readPasswordFile(*passwordFile);
    return o;
}

std::vector<OptionSpec> gatewayOptionSpecs() {
    return {
        {"--broker", "URL", "the broker: mqtt://HOST[:PORT] (1883) or mqtts://HOST[:PORT] (8883)"},
        {"--prefix", "P", "the first topic level(s) (lyx)"},
        {"--client-id", "ID", "the MQTT client ID (lyx-HOSTNAME)"},
        {"--qos", "0|1", "quality of service of readings and replies (0)"},
        {"--username", "U", "the user name to log in with"},
        {"--password-file", "F", "the file whose first line is the password"},
        {"--tls-ca", "FILE", "the CA certificate(s) to check the broker's with (PEM)"},
        {"--tls-cert", "FILE", "a client certificate to log in with (PEM)"},
        {"--tls-key", "FILE", "the client certificate's private key (PEM)"},
        {"--queue", "N", "packets kept while the broker is away (10000)"},
        {"--spool", "DIR",
         "keep the packets the broker cannot take at once on disk, in DIR/spool.sqlite3, across "
         "outages and restarts"},
        {"--spool-size", "SIZE", "the most the spool holds; then the oldest go (1G)"},
        {"--metrics", "[ADDRESS:]PORT",
         "serve Prometheus metrics on http://ADDRESS:PORT/metrics (ADDRESS 127.0.0.1 unless "
         "given)"},
        {"--commands", "LIST",
         "the commands it runs: none, read (station, read; the default), control (read, sleep, "
         "pause, wake, stay-awake, forget), all, or names separated by commas"},
        {"--allow-cleartext-password", "",
         "send the password over mqtt:// (no TLS) to another host all the same"},
        {"--no-discovery", "", "publish no Home Assistant discovery"},
        {"--discovery-prefix", "P", "Home Assistant's discovery prefix (homeassistant)"},
    };
}

}  // namespace lyx::cli
