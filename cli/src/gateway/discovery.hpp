// Home Assistant's MQTT discovery for the tags the gateway hears: retained config messages
// on <prefix>/<component>/<node>/<object>/config, one per entity, the form every version of
// Home Assistant still in use reads (the device form, <prefix>/device/..., needs 2024.11).
//
// Each tag heard under a base station is a device of its own (identifiers from the station's
// ID and the tag, its name from the tag file, reached through the base station's device),
// with a sensor for its value, diagnostic sensors for signal strength and link quality,
// binary sensors for battery low and error, and the wake and sleep buttons the command
// policy allows. Its entities are available while both the gateway's status and the tag's
// availability say "online". The base station is a device too, with a sensor of the modules
// heard through it.
#pragma once

#include <string>
#include <vector>

#include "lyx/tags/tag_table.hpp"
#include "mqtt_topics.hpp"

namespace lyx::cli {

struct DiscoverySettings {
    std::string prefix = "homeassistant";
    bool wakeButton = false;   // the policy runs "wake"
    bool sleepButton = false;  // and "sleep"
    std::string version;       // the gateway's, for the origin
};

struct DiscoveryMessage {
    std::string topic;
    std::string payload;  // empty: removes the entity
};

class Discovery {
  public:
    Discovery(DiscoverySettings settings, const Topics &topics)
        : settings_(std::move(settings)), topics_(topics) {}

    // Where Home Assistant says "online" when it starts.
    std::string statusTopic() const { return settings_.prefix + "/status"; }

    // The configs of `tag` heard under `station`; `numeric`: its values are numbers (a
    // unit, device class and state class go with numbers only). Buttons the policy does not
    // allow are removed.
    std::vector<DiscoveryMessage> tag(const std::string &station, int tag,
                                      const tags::TagInfo &info, bool numeric) const;
    // The base station's own device.
    std::vector<DiscoveryMessage> station(const std::string &station) const;
    // Empty configs for every entity of `tag` under `station`.
    std::vector<DiscoveryMessage> remove(const std::string &station, int tag) const;

  private:
    std::string configTopic(const char *component, const std::string &station,
                            const std::string &object) const;

    DiscoverySettings settings_;
    const Topics &topics_;
};

// Whether `station` is a base station's ID ("001234") rather than the place-holder of one
// that gave none ("station-1"), which has no identity to discover.
bool hasStationId(const std::string &station);

}  // namespace lyx::cli
