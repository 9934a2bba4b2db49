// A subcommand of `lyx`: its name, what it takes, its help and what it runs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "lyx/tags/tag_file.hpp"

namespace lyx::cli {

struct Subcommand {
    std::string name;
    std::string usage;    // what follows the name in the usage line: "FILE [--format csv|jsonl]"
    std::string summary;  // one line for the overview
    std::string details;  // paragraphs for its --help, may be empty
    std::vector<OptionSpec> options;
    std::function<int(const Arguments &)> run;  // returns the exit status
};

// Every subcommand, in the order the overview lists them.
std::vector<Subcommand> allSubcommands();

// The streaming subcommands (stream_commands.cpp) and the requests (request_commands.cpp).
std::vector<Subcommand> streamSubcommands();
std::vector<Subcommand> requestSubcommands();
// The MQTT gateway (mqtt_subcommand.cpp).
std::vector<Subcommand> mqttSubcommands();

// The --help text of one subcommand.
std::string helpText(const Subcommand &command);

// Tag numbers from --tag options, each a number or a comma-separated list;
// empty means every tag.
std::vector<int> tagFilter(const Arguments &args);

// --tags FILE: the tag file to name the tags from (the default file when not given).
OptionSpec tagsOption();
// The tag file of --tags, else the default one where there is one; raises Failure(2) naming
// the file, the line and the fault when it cannot be used.
tags::LoadedTags tagFile(const Arguments &args);

}  // namespace lyx::cli
