#include "output_metrics.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>
#include <vector>

namespace lyx::cli {

namespace {

using Labels = std::vector<std::pair<std::string_view, std::string>>;

// Prometheus text: each metric's HELP and TYPE once, then its samples.
class Text {
  public:
    void family(std::string_view name, std::string_view type, std::string_view help) {
        out_ += "# HELP ";
        out_ += name;
        out_ += ' ';
        out_ += help;
        out_ += "\n# TYPE ";
        out_ += name;
        out_ += ' ';
        out_ += type;
        out_ += '\n';
    }
    void sample(std::string_view name, const Labels &labels, double value) {
        out_ += name;
        if (!labels.empty()) {
            out_ += '{';
            bool first = true;
            for (const auto &[key, text] : labels) {
                if (!first) out_ += ',';
                first = false;
                out_ += key;
                out_ += "=\"";
                escape(text);
                out_ += '"';
            }
            out_ += '}';
        }
        out_ += ' ';
        number(value);
        out_ += '\n';
    }
    void sample(std::string_view name, double value) { sample(name, {}, value); }
    // A metric of one sample.
    void single(std::string_view name, std::string_view type, std::string_view help, double value) {
        family(name, type, help);
        sample(name, value);
    }
    std::string take() { return std::move(out_); }

  private:
    void escape(std::string_view text) {
        for (const char c : text) {
            if (c == '\\' || c == '"') {
                out_ += '\\';
                out_ += c;
            } else if (c == '\n') {
                out_ += "\\n";
            } else {
                out_ += c;
            }
        }
    }
    void number(double v) {
        if (std::isnan(v)) {
            out_ += "NaN";
        } else if (std::isinf(v)) {
            out_ += v > 0 ? "+Inf" : "-Inf";
        } else {
            char text[32];
            const auto end = std::to_chars(text, text + sizeof text, v).ptr;
            out_.append(text, end);
        }
    }
    std::string out_;
};

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

MetricsOutput::MetricsOutput(MetricsAddress address, const MqttPublisher *mqtt)
    : mqtt_(mqtt), server_(address, [this] { return render(); }), address_(std::move(address)) {}

void MetricsOutput::start() {
    server_.start();
    std::fprintf(stderr, "lyx mqtt: metrics on http://%s/metrics%s\n", address_.text().c_str(),
                 address_.loopback() ? "" : " (open to other hosts)");
}

void MetricsOutput::packet(const std::string &station, const Packet &p) {
    std::optional<double> value;
    if (classify(p.value) == ValueKind::Number) {
        double v = 0;
        const char *end = p.value.data() + p.value.size();
        if (std::from_chars(p.value.data(), end, v).ptr == end) value = v;
    }
    const auto now = Clock::now();
    std::lock_guard guard(lock_);
    ++received_;
    ++stationPackets_[station];
    Tag &t = tags_[{station, p.tag}];
    ++t.packets;
    t.value = value;
    t.rssi = p.rssi;
    t.quality = p.cv;
    t.batteryLow = p.battLow;
    t.error = p.error;
    t.lastHeard = now;
}

void MetricsOutput::lost(std::uint64_t count) {
    std::lock_guard guard(lock_);
    lost_ += count;
}

void MetricsOutput::stations(const std::map<int, std::string> &levels, std::uint32_t present) {
    std::lock_guard guard(lock_);
    levels_ = levels;
    present_ = present;
}

void MetricsOutput::link(const dataprovider::LinkStatistics &statistics) {
    std::lock_guard guard(lock_);
    link_ = statistics;
}

std::string MetricsOutput::stop(std::chrono::milliseconds) {
    server_.stop();
    std::lock_guard guard(lock_);
    return "metrics: " + std::to_string(received_) + " packets counted, no longer served on " +
           address_.text();
}

std::string MetricsOutput::render() const {
    const std::optional<MqttPublisher::Statistics> mqtt =
        mqtt_ != nullptr ? std::optional(mqtt_->statistics()) : std::nullopt;
    const auto now = Clock::now();
    const auto wallNow = std::chrono::system_clock::now();
    std::lock_guard guard(lock_);
    Text t;
    t.single("lyx_packets_received_total", "counter",
             "Packets the gateway received from its base stations.",
             static_cast<double>(received_));
    if (mqtt) {
        t.single("lyx_packets_published_total", "counter", "Packets published to the broker.",
                 static_cast<double>(mqtt->published));
        t.single("lyx_packets_waiting", "gauge", "Packets waiting for the broker.",
                 static_cast<double>(mqtt->queue.waiting));
    }
    t.family("lyx_packets_dropped_total", "counter",
             "Packets lost, by cause: queue (full while the broker was away), spool (full), "
             "unresolved (held for a base station's ID), publish (refused by the MQTT client), "
             "link (lost below the gateway).");
    if (mqtt) {
        t.sample("lyx_packets_dropped_total", {{"cause", "queue"}},
                 static_cast<double>(mqtt->queue.dropped - mqtt->lostBefore));
        t.sample("lyx_packets_dropped_total", {{"cause", "publish"}},
                 static_cast<double>(mqtt->failed));
    }
    if (mqtt && mqtt->spool)
        t.sample("lyx_packets_dropped_total", {{"cause", "spool"}},
                 static_cast<double>(mqtt->spool->dropped));
    t.sample("lyx_packets_dropped_total", {{"cause", "unresolved"}}, static_cast<double>(lost_));
    if (mqtt && mqtt->spool) {
        const Spool::Counts &c = *mqtt->spool;
        t.single("lyx_packets_spooled_total", "counter",
                 "Packets that went to the spool to wait for the broker.",
                 static_cast<double>(c.spooled));
        t.single("lyx_spool_packets", "gauge", "Packets in the spool.",
                 static_cast<double>(c.packets));
        t.single("lyx_spool_bytes", "gauge", "Bytes of the packets in the spool.",
                 static_cast<double>(c.bytes));
        t.single("lyx_spool_oldest_age_seconds", "gauge",
                 "Seconds since the oldest packet in the spool was received (0: none).",
                 c.oldest ? std::chrono::duration<double>(wallNow - *c.oldest).count() : 0.0);
    }
    t.sample("lyx_packets_dropped_total", {{"cause", "link"}},
             static_cast<double>(link_.framesDropped));

    if (mqtt) {
        t.family("lyx_commands_total", "counter",
                 "Commands taken from the broker, by name and result (ok, failed, refused).");
        for (const auto &[key, count] : mqtt->commands)
            t.sample("lyx_commands_total", {{"command", key.first}, {"result", key.second}},
                     static_cast<double>(count));
        t.single("lyx_broker_connections_total", "counter", "Connections made to the broker.",
                 static_cast<double>(mqtt->connections));
        t.single("lyx_broker_connected", "gauge", "1 while the broker is connected.",
                 mqtt->connected ? 1 : 0);
        if (mqtt->lastConnection)
            t.single("lyx_broker_last_connection_age_seconds", "gauge",
                     "Seconds since the last connection to the broker was made.",
                     std::chrono::duration<double>(wallNow - *mqtt->lastConnection).count());
    }

    t.single("lyx_link_packets_delivered_total", "counter",
             "Packets the link handed to the gateway.", static_cast<double>(link_.framesDelivered));
    t.single("lyx_link_packets_held", "gauge", "Packets received by the link, not yet handed over.",
             static_cast<double>(link_.framesHeld));
    t.single("lyx_link_bytes_dropped_total", "counter", "Received bytes the link had no room for.",
             static_cast<double>(link_.bytesDropped));
    t.single("lyx_link_bytes_discarded_total", "counter",
             "Received bytes that were not part of a good frame.",
             static_cast<double>(link_.bytesDiscarded));

    // Every station known now or heard since the start.
    std::map<std::string, bool> up;
    for (const auto &[level, packets] : stationPackets_)
        up[level] = false;
    for (const auto &[number, level] : levels_)
        up[level] = up[level] || (number < 32 && (present_ & (1u << number)) != 0);
    t.family("lyx_station_up", "gauge", "1 while the base station is on the link.");
    for (const auto &[level, on] : up)
        t.sample("lyx_station_up", {{"station", level}}, on ? 1 : 0);
    t.family("lyx_station_packets_total", "counter", "Packets received through the base station.");
    for (const auto &[level, packets] : stationPackets_)
        t.sample("lyx_station_packets_total", {{"station", level}}, static_cast<double>(packets));

    const auto perTag = [&](std::string_view name, std::string_view type, std::string_view help,
                            auto value) {
        t.family(name, type, help);
        for (const auto &[key, tag] : tags_)
            if (const std::optional<double> v = value(tag))
                t.sample(name, {{"station", key.first}, {"tag", std::to_string(key.second)}}, *v);
    };
    using Value = std::optional<double>;
    perTag("lyx_tag_packets_total", "counter", "Packets of the tag.",
           [](const Tag &g) -> Value { return static_cast<double>(g.packets); });
    perTag("lyx_tag_value", "gauge", "The tag's last value, where it is a number.",
           [](const Tag &g) -> Value { return g.value; });
    perTag("lyx_tag_rssi_dbm", "gauge", "Signal strength of the tag's last packet.",
           [](const Tag &g) -> Value { return g.rssi; });
    perTag("lyx_tag_link_quality", "gauge", "Link quality of the tag's last packet.",
           [](const Tag &g) -> Value { return g.quality; });
    perTag("lyx_tag_battery_low", "gauge", "1 when the tag's last packet said its battery is low.",
           [](const Tag &g) -> Value { return g.batteryLow ? 1 : 0; });
    perTag("lyx_tag_error", "gauge", "1 when the tag's last packet carried its error flag.",
           [](const Tag &g) -> Value { return g.error ? 1 : 0; });
    perTag("lyx_tag_last_heard_age_seconds", "gauge", "Seconds since the tag was last heard.",
           [&](const Tag &g) -> Value { return seconds(now - g.lastHeard); });
    return t.take();
}

}  // namespace lyx::cli
