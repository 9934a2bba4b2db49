// The gateway's topics under one prefix ("lyx"):
//   PREFIX/gateway/CLIENT/status          "online" / "offline", retained
//   PREFIX/gateway/CLIENT/status/detail   counters as JSON, retained
//   PREFIX/STATION/TAG/packet             every reading
//   PREFIX/STATION/TAG/state              the latest reading, retained
//   PREFIX/cmd/NAME, PREFIX/STATION/cmd/NAME   commands; replies on .../result
// STATION is the base station's ID in hexadecimal ("001234").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lyx::cli {

// Raise UsageError naming the fault: a prefix is one or more topic levels
// without wildcards or empty levels; a client ID is one level.
void checkTopicPrefix(std::string_view prefix);
void checkClientId(std::string_view id);

// The topic level of a base station's ID: six or more upper-case hex digits.
std::string stationLevel(std::int32_t id);
// The level of a base station that did not give its ID: "station-N".
std::string unnamedStationLevel(int number);

struct CommandTopic {
    std::string station;  // the station level, empty on PREFIX/cmd/NAME
    std::string name;     // "sleep"
};

class Topics {
  public:
    Topics(std::string prefix, std::string clientId);

    const std::string &prefix() const { return prefix_; }
    std::string status() const;
    std::string statusDetail() const;
    std::string packet(std::string_view station, int tag) const;
    std::string state(std::string_view station, int tag) const;
    std::string commands() const;                                 // PREFIX/cmd/#
    std::string stationCommands(std::string_view station) const;  // PREFIX/STATION/cmd/#

    // The command a message on `topic` asks for: nothing for a reply, a topic
    // deeper or shallower than a command, or one outside the prefix.
    std::optional<CommandTopic> command(std::string_view topic) const;
    static std::string result(std::string_view commandTopic);

  private:
    std::string prefix_;
    std::string clientId_;
};

}  // namespace lyx::cli
