// The gateway's topics under one prefix ("lyx"):
//   PREFIX/gateway/CLIENT/status          "online" / "offline", retained
//   PREFIX/gateway/CLIENT/status/detail   counters as JSON, retained
//   PREFIX/gateway/CLIENT/modules         every tag heard, as JSON, retained
//   PREFIX/gateway/CLIENT/event           a tag joined, went or came back (not retained)
//   PREFIX/STATION/status                 "online" / "offline", retained
//   PREFIX/STATION/TAG/packet             every reading
//   PREFIX/STATION/TAG/state              the latest reading, retained
//   PREFIX/STATION/TAG/availability       "online" / "offline", retained
//   PREFIX/cmd/NAME, PREFIX/STATION/cmd/NAME, PREFIX/gateway/CLIENT/cmd/NAME
//                                         commands; replies on .../result
// STATION is the base station's ID in hexadecimal ("001234").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lyx::cli {

// Raise UsageError naming the fault: a prefix is one or more topic levels
// without wildcards or empty levels; a client ID is one level.
void checkTopicPrefix(std::string_view prefix, std::string_view option = "--prefix");
void checkClientId(std::string_view id);

// The topic level of a base station's ID: six or more upper-case hex digits.
std::string stationLevel(std::int32_t id);
// The level of a base station that did not give its ID: "station-N".
std::string unnamedStationLevel(int number);

struct CommandTopic {
    std::string station;   // the station level, empty on PREFIX/cmd/NAME
    std::string name;      // "sleep"
    bool gateway = false;  // PREFIX/gateway/CLIENT/cmd/NAME: this gateway's own topic
};

class Topics {
  public:
    Topics(std::string prefix, std::string clientId);

    const std::string &prefix() const { return prefix_; }
    const std::string &clientId() const { return clientId_; }
    std::string status() const;
    std::string statusDetail() const;
    std::string stationStatus(std::string_view station) const;
    std::string packet(std::string_view station, int tag) const;
    std::string state(std::string_view station, int tag) const;
    std::string modules() const;
    std::string event() const;
    std::string availability(std::string_view station, int tag) const;
    std::string commands() const;                                 // PREFIX/cmd/#
    std::string stationCommands(std::string_view station) const;  // PREFIX/STATION/cmd/#
    std::string gatewayCommands() const;                          // PREFIX/gateway/CLIENT/cmd/#
    // The topic of command `name` on this gateway's own topic, or on `station`'s.
    std::string gatewayCommand(std::string_view name) const;
    std::string stationCommand(std::string_view station, std::string_view name) const;

    // The command a message on `topic` asks for: nothing for a reply, a topic
    // deeper or shallower than a command, or one outside the prefix.
    std::optional<CommandTopic> command(std::string_view topic) const;
    static std::string result(std::string_view commandTopic);

  private:
    std::string prefix_;
    std::string clientId_;
};

}  // namespace lyx::cli
