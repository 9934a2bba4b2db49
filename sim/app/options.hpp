// The command line of lyx-basestation-sim.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lyx::sim::app {

struct Command {
    std::string origin;  // where it came from, for error messages: "--module 5"
    std::string line;
};

struct Options {
    std::vector<Command> commands;  // -e, --station, --module, in order
    std::string scenarioFile;
    std::optional<Command> replay;  // --replay and its options, after the scenario's start
    std::string vhidDir;            // empty: from the environment
    std::string portDir;
    std::string socketPath;
    bool readStdin = true;
    bool quiet = false;
    bool traceData = false;
    bool checkOnly = false;
    bool help = false;
    bool version = false;
    std::optional<std::chrono::milliseconds> duration;
    std::uint64_t randomKey = 1;
};

// Nullopt with `error` set when the command line is wrong.
std::optional<Options> parseOptions(const std::vector<std::string> &arguments, std::string &error);

const char *helpText();

}  // namespace lyx::sim::app
