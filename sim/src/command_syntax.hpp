// The words and values of the control language shared by scenario files, the
// command line and the runtime line protocol: a line is a verb, bare words and
// key=value options, e.g.
//
//   module 0x0A0B0C tag=1234 type=float wave=sine amplitude=50 period=4s
//
// Values may be quoted ("two words", with \" \\ \n \t \xHH escapes); '#'
// outside quotes starts a comment.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lyx/sim/module_config.hpp"
#include "lyx/sim/station_config.hpp"

namespace lyx::sim::syntax {

struct Line {
    std::vector<std::string> words;  // the verb first
    std::vector<std::pair<std::string, std::string>> options;
    bool empty() const { return words.empty() && options.empty(); }
};

// Splits a line; fails on an unterminated quote or a bad escape.
Outcome tokenize(std::string_view text, Line &line);

// Values. Each fails with a message that names what was expected.
Outcome parseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t &out);
Outcome parseInteger(std::string_view text, long long min, long long max, long long &out);
Outcome parseNumber(std::string_view text, double &out);
// "500ms", "2s", "1.5min", or a bare number of seconds.
Outcome parseDuration(std::string_view text, std::chrono::milliseconds &out);
// 0 to 1, or a percentage such as "5%".
Outcome parseProbability(std::string_view text, double &out);
// yes/no, on/off, true/false, 1/0.
Outcome parseSwitch(std::string_view text, bool &out);
// A module ID: 1 to 0xFFFFFE, decimal or 0x hexadecimal.
Outcome parseModuleId(std::string_view text, std::uint32_t &out);

// Applies one option to a module, station, set of faults or parameter. Options
// that depend on the type (value=) must come after type=, which
// sortTypeFirst() arranges.
Outcome applyModuleOption(ModuleConfig &module, std::string_view key, std::string_view value);
Outcome applyStationOption(StationConfig &station, std::string_view key, std::string_view value);
Outcome applyParameterOption(Parameter &parameter, std::string_view key, std::string_view value);

// One-shot faults of the fault command, beside the lasting ones.
struct OneShots {
    std::optional<unsigned> corruptNext;
    std::optional<unsigned> dropNext;
    std::optional<unsigned> loseReplies;
};
Outcome applyFaultOption(Faults &faults, OneShots &once, std::string_view key,
                         std::string_view value);

void sortTypeFirst(std::vector<std::pair<std::string, std::string>> &options);

}  // namespace lyx::sim::syntax
