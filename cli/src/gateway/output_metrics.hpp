// The gateway's metrics for Prometheus: an output that counts what the link delivers (per
// base station and per tag: packets, the last numeric value, signal, link quality, battery,
// error, silence) and, with what the MQTT output says of itself (published, dropped by
// cause, commands, connections), serves it all as Prometheus text on GET /metrics.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "metrics_server.hpp"
#include "output.hpp"
#include "output_mqtt.hpp"

namespace lyx::cli {

class MetricsOutput final : public Output {
  public:
    // `mqtt` (may be null) gives the broker's side; it must outlive this.
    MetricsOutput(MetricsAddress address, const MqttPublisher *mqtt);

    // Output, called on the link's thread. start() raises std::runtime_error when the
    // address cannot be served.
    void start() override;
    void packet(const std::string &station, const Packet &p) override;
    void lost(std::uint64_t count) override;
    void stations(const std::map<int, std::string> &levels, std::uint32_t present) override;
    void link(const dataprovider::LinkStatistics &statistics) override;
    std::string stop(std::chrono::milliseconds flushFor) override;

    // The Prometheus text now; from any thread.
    std::string render() const;

  private:
    using Clock = std::chrono::steady_clock;
    struct Tag {
        std::uint64_t packets = 0;
        std::optional<double> value;  // the last, where it was a number
        int rssi = 0;
        int quality = 0;
        bool batteryLow = false;
        bool error = false;
        Clock::time_point lastHeard;
    };

    const MqttPublisher *mqtt_;
    MetricsServer server_;
    const MetricsAddress address_;
    mutable std::mutex lock_;
    std::uint64_t received_ = 0;
    std::uint64_t lost_ = 0;
    std::map<int, std::string> levels_;
    std::uint32_t present_ = 0;
    std::map<std::string, std::uint64_t> stationPackets_;
    std::map<std::pair<std::string, int>, Tag> tags_;
    dataprovider::LinkStatistics link_;
};

}  // namespace lyx::cli
