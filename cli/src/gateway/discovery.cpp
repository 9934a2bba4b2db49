#include "discovery.hpp"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace lyx::cli {

namespace {

using nlohmann::json;

// What one tag's entities are: component, object (the config topic's last level but one).
struct Entity {
    const char *component;
    const char *object;
};
constexpr Entity kValue{"sensor", "value"};
constexpr Entity kRssi{"sensor", "rssi"};
constexpr Entity kQuality{"sensor", "link_quality"};
constexpr Entity kBattery{"binary_sensor", "battery_low"};
constexpr Entity kError{"binary_sensor", "error"};
constexpr Entity kWake{"button", "wake"};
constexpr Entity kSleep{"button", "sleep"};
constexpr Entity kEntities[] = {kValue, kRssi, kQuality, kBattery, kError, kWake, kSleep};

std::string deviceId(const std::string &station) {
    return "lyx_" + station;
}

std::string deviceId(const std::string &station, int tag) {
    return "lyx_" + station + "_" + std::to_string(tag);
}

std::string hexId(std::int32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(id) & 0xFFFFFFu);
    return text;
}

}  // namespace

bool hasStationId(const std::string &station) {
    return !station.empty() && station.rfind("station-", 0) != 0;
}

std::string Discovery::configTopic(const char *component, const std::string &station,
                                   const std::string &object) const {
    // Node and object IDs take letters, digits, '_' and '-'; a station's level is hexadecimal.
    return settings_.prefix + "/" + component + "/" + deviceId(station) + "/" + object + "/config";
}

std::vector<DiscoveryMessage> Discovery::tag(const std::string &station, int tag,
                                             const tags::TagInfo &info, bool numeric) const {
    const std::string t = std::to_string(tag);
    const std::string id = deviceId(station, tag);
    json device = {{"identifiers", json::array({id})},
                   {"name", info.name.empty() ? "Tag " + t : info.name},
                   {"manufacturer", "Lyx"},
                   {"model", "Acquisition module, data tag " + t},
                   {"via_device", deviceId(station)}};
    if (info.module) device["serial_number"] = hexId(*info.module);
    const json availability = json::array(
        {{{"topic", topics_.status()}}, {{"topic", topics_.availability(station, tag)}}});
    const std::string state = topics_.state(station, tag);
    const auto entity = [&](const Entity &e, json fields) {
        fields["unique_id"] = id + "_" + e.object;
        fields["availability"] = availability;
        fields["availability_mode"] = "all";
        fields["device"] = device;
        fields["origin"] = {{"name", "lyx mqtt"}, {"sw_version", settings_.version}};
        return DiscoveryMessage{configTopic(e.component, station, t + "_" + e.object),
                                fields.dump()};
    };
    std::vector<DiscoveryMessage> out;

    // The value: the device's own entity, named after the device.
    json value = {
        {"name", nullptr}, {"state_topic", state}, {"value_template", "{{ value_json.value }}"}};
    if (numeric) {
        if (!info.unit.empty()) value["unit_of_measurement"] = info.unit;
        if (!info.deviceClass.empty()) value["device_class"] = info.deviceClass;
        value["state_class"] = info.stateClass.empty() ? "measurement" : info.stateClass;
    }
    out.push_back(entity(kValue, value));
    out.push_back(entity(kRssi, {{"name", "Signal strength"},
                                 {"state_topic", state},
                                 {"value_template", "{{ value_json.rssi }}"},
                                 {"unit_of_measurement", "dBm"},
                                 {"device_class", "signal_strength"},
                                 {"state_class", "measurement"},
                                 {"entity_category", "diagnostic"}}));
    out.push_back(entity(kQuality, {{"name", "Link quality"},
                                    {"state_topic", state},
                                    {"value_template", "{{ value_json.cv }}"},
                                    {"unit_of_measurement", "%"},
                                    {"state_class", "measurement"},
                                    {"entity_category", "diagnostic"}}));
    out.push_back(
        entity(kBattery, {{"name", "Battery low"},
                          {"state_topic", state},
                          {"value_template", "{{ 'ON' if value_json.batt_low else 'OFF' }}"},
                          {"device_class", "battery"},
                          {"entity_category", "diagnostic"}}));
    out.push_back(entity(kError, {{"name", "Error"},
                                  {"state_topic", state},
                                  {"value_template", "{{ 'ON' if value_json.error else 'OFF' }}"},
                                  {"device_class", "problem"},
                                  {"entity_category", "diagnostic"}}));
    // The buttons go through this gateway's own topics: sleep by the tag, wake the module by
    // its ID where the tag file gives it, else every module through the base station.
    if (settings_.wakeButton) {
        const json press = info.module ? json{{"module", *info.module}} : json::object();
        out.push_back(entity(kWake, {{"name", info.module ? "Wake" : "Wake all on its station"},
                                     {"command_topic", topics_.stationCommand(station, "wake")},
                                     {"payload_press", press.dump()}}));
    } else {
        out.push_back({configTopic(kWake.component, station, t + "_" + kWake.object), ""});
    }
    if (settings_.sleepButton) {
        out.push_back(entity(kSleep, {{"name", "Sleep"},
                                      {"command_topic", topics_.gatewayCommand("sleep")},
                                      {"payload_press", json{{"tag", tag}}.dump()}}));
    } else {
        out.push_back({configTopic(kSleep.component, station, t + "_" + kSleep.object), ""});
    }
    return out;
}

std::vector<DiscoveryMessage> Discovery::station(const std::string &station) const {
    const json config = {
        {"name", "Modules heard"},
        {"unique_id", deviceId(station) + "_modules"},
        {"state_topic", topics_.modules()},
        {"value_template", "{{ value_json | selectattr('station_id', 'equalto', '" + station +
                               "') | list | count }}"},
        {"state_class", "measurement"},
        {"entity_category", "diagnostic"},
        {"availability", json::array({{{"topic", topics_.status()}}})},
        {"device",
         {{"identifiers", json::array({deviceId(station)})},
          {"name", "Lyx base station " + station},
          {"manufacturer", "Lyx"},
          {"model", "Base station"}}},
        {"origin", {{"name", "lyx mqtt"}, {"sw_version", settings_.version}}}};
    return {{configTopic("sensor", station, "modules"), config.dump()}};
}

std::vector<DiscoveryMessage> Discovery::remove(const std::string &station, int tag) const {
    std::vector<DiscoveryMessage> out;
    for (const Entity &e : kEntities)
        out.push_back(
            {configTopic(e.component, station, std::to_string(tag) + "_" + e.object), ""});
    return out;
}

}  // namespace lyx::cli
