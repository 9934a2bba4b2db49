// Commands that arrive as MQTT messages: the JSON body of each is checked on
// arrival (a bad one is answered at once and goes no further), run on the
// link's thread like the command-line requests, and answered with a JSON reply.
//
// Body fields are named after the command-line options: {"tag":1234},
// {"all":true}, {"module":66051,"param":20}, {"station":1}, ... "module" is a
// module's ID; "id" belongs to the request and comes back in its reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device_commands.hpp"

namespace lyx::cli {

struct CommandRequest {
    std::string name;  // "sleep"
    std::string id;    // the request's "id" as JSON; empty when it had none
    std::optional<int> station;
    bool all = false;
    std::optional<int> tag;
    std::optional<std::int32_t> module;
    int param = 0;
    ValueType type = ValueType::String;
    std::string value;  // checked against `type`
    int status = 0;
    int seconds = 10;
    bool configuration = false;
    bool keepChannel = false;  // pair: the module moves to the station's channel
    int channel = 0;
    std::chrono::milliseconds duration{0};
};

struct ParsedRequest {
    std::optional<CommandRequest> request;  // nothing when the body was refused
    std::string id;                         // the request's "id" as JSON, for the reply
    std::string error;                      // why it was refused
};

// The commands taken, in the order the documentation lists them.
const std::vector<std::string_view> &commandNames();

// Checks the body of command `name`. `stationTopic`: the topic names the base
// station, so the body must not.
ParsedRequest parseRequest(std::string_view name, std::string_view body, bool stationTopic);

// Runs the request on the thread that owns `net`; it waits for the command's
// answer, dispatching messages meanwhile. `stopFd` (if not -1) ends a
// stay-awake early once it is readable. Failures become the outcome.
Outcome runRequest(Network &net, const CommandRequest &request, int station, int stopFd);

// {"id":..,"command":..,"gateway":..,"status":..,"response":..,"message":.., values...};
// "gateway" (the client ID of the gateway that answers) only when given.
std::string replyJson(std::string_view name, std::string_view id, const Outcome &outcome,
                      std::string_view gateway = {});
// The reply to a request that was refused before it ran: status 2.
std::string errorReplyJson(std::string_view name, std::string_view id, std::string_view message,
                           std::string_view gateway = {});

}  // namespace lyx::cli
