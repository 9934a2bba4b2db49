// The simulator's control language: one command per line, used by scenario
// files, by the program's command line and by its runtime line protocol
// (standard input and a local socket). Every command answers one line, "ok ..."
// or "error: ...".
//
//   station <n> [usb] [serial] [channel=] [id=] [serial=] [release=] [com=]
//           [name=] [vhid-dir=] [port-dir=] [refuse=]   add a base station, or
//                                          change the channel, ID or refusals of one
//   module <id> [tag=] [channel=] [type=] [rate=] [wave=] [offset=]
//          [amplitude=] [period=] [steps=] [random-key=] [value=] [text=] [bytes=]
//          [decimals=] [status=] [rssi=] [quality=] [battery=low|ok]
//          [error=] [answers=] [latency=] [sleep-timer=] [pause=] [power=]
//   set <id> <module options> [asleep=yes|no] [config=yes|no]
//   param <id> <number> [radio] [type=] [value=] [access=rw|ro|wo|refused]
//         [min=] [max=] [reply=]
//   remove <id> | powerup <id> | powerdown <id>
//   unplug <n> | plug <n>
//   fault <n> [corrupt=] [drop=] [noise=] [zeros=] [reply-delay=]
//         [reply-loss=] [corrupt-next=] [drop-next=] [lose-replies=]
//   send <n> <hex bytes>            the station sends a frame with this payload
//   replay <file|glob>... [speed=] [loop=] [from=] [to=] [skip-bad=] [usb] [serial]
//          [channel=]               replay a recording (see replay.hpp); replay stop
//   show [stations | modules | station <n> | module <id> | stats | replay]
//   watch on | off | data          quit          help
//
// Scenario files add "wait <time>" between commands.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "lyx/sim/module_config.hpp"
#include "lyx/sim/outcome.hpp"
#include "lyx/sim/recording.hpp"

namespace lyx::sim {

class Simulator;
namespace syntax {
struct Line;
}

// Recordings that a checking interpreter has read, for the interpreter that
// runs the same commands to take instead of reading them again.
struct RecordingCache {
    std::map<std::string, std::shared_ptr<const Recording>> byFiles;
};

struct ControlSettings {
    std::string usbFolder;                       // for stations on the virtual HID bus
    std::string portFolder;                      // where COM<n> entries are made
    std::shared_ptr<RecordingCache> recordings;  // may be shared by a checker and a runner
};

struct Reply {
    enum class Action { None, Quit, WatchOn, WatchOff, WatchData };
    bool ok = true;
    std::string text;  // one line, without the line end
    Action action = Action::None;
    std::vector<std::string> warnings;  // for standard error (a replay's recording)
};

class Interpreter {
  public:
    // With a simulator: runs commands on it. With nullptr: only checks them,
    // keeping track of the stations and modules the checked lines define.
    Interpreter(Simulator *simulator, ControlSettings settings);

    Reply execute(std::string_view line);

  private:
    using Line = syntax::Line;
    Reply station(const Line &line);
    Reply module(const Line &line);
    Reply set(const Line &line);
    Reply param(const Line &line);
    Reply byModule(const Line &line);
    Reply byStation(const Line &line);
    Reply fault(const Line &line);
    Reply sendFrame(const Line &line);
    Reply replay(const Line &line);
    Reply show(const Line &line);
    std::optional<ModuleConfig> moduleConfig(std::uint32_t id) const;
    bool hasStation(int number) const;

    Simulator *simulator_;
    ControlSettings settings_;
    std::map<std::uint32_t, ModuleConfig> checkedModules_;  // checking only
    std::set<int> checkedStations_;                         // checking only
    std::vector<std::uint32_t> checkedReplayModules_;       // checking only
};

struct ScenarioStep {
    std::chrono::milliseconds at{0};  // after the start
    int line = 0;
    std::string command;
};

struct Scenario {
    std::vector<ScenarioStep> steps;
    std::vector<std::string> warnings;  // "line: text", from the checks of its commands
    int errorLine = 0;                  // with `error`: the line at fault
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads a scenario: commands, "wait <time>", comments (#) and blank lines.
// Every command is checked with `checker` (an Interpreter without simulator);
// the first fault ends the reading.
Scenario parseScenario(std::string_view text, Interpreter &checker);

}  // namespace lyx::sim
