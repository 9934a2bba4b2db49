// The commands the tool sends to modules and base stations. Each runs on the
// thread that owns the Network, waits for its answer (dispatching messages,
// so packets keep arriving meanwhile) and returns an Outcome; the command line
// prints it and the gateway sends it as a reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "network.hpp"

namespace lyx::cli {

struct Outcome {
    int status = 0;        // 0 done; 1 refused or not answered; 2 no link or bad input
    std::string response;  // Response_Type name where the request had one ("RT_ACK")
    std::string message;   // one line for people
    // Values for programs: names and JSON literals ("id" -> "66051").
    std::vector<std::pair<std::string, std::string>> fields;
};

// A module's or base station's ID as every message shows it: "0x0A0B0C (658188)".
std::string idText(std::int32_t id);

// The Response_Type name of a driver or component result ("RT_NORESPONSE").
std::string responseName(std::int32_t result);
// Exit status for a Response_Type: 0 acknowledged, 2 no base station, else 1.
int statusOf(std::int32_t result);

// Value types of `write` and `send`.
enum class ValueType { UInt8, UInt16, Int32, Float, String, Binary };
// "uint8", "uint16", "int32", "float", "string", "binary"; raises UsageError.
ValueType parseValueType(std::string_view text);
// The value's bytes as they are sent: numbers checked against the type's
// range and written in the C locale's form, binary from hexadecimal; raises
// UsageError naming what is wrong.
std::string valueBytes(ValueType type, std::string_view text);

// How long the sleep and pause windows stay open: the component's own window.
inline constexpr std::chrono::milliseconds kCommandWindow{5000};

Outcome sleepTag(Network &net, int tag);
Outcome sleepAll(Network &net);
Outcome pauseTag(Network &net, int tag);
Outcome pauseAll(Network &net);
Outcome wake(Network &net, int station, std::optional<std::int32_t> id);
// Keeps every module awake for `duration` (until `stopFd` is readable when
// empty), repeating the broadcast every 3 s.
Outcome stayAwake(Network &net, std::optional<std::chrono::milliseconds> duration, int stopFd = -1);
// Pairs with the module powered up within `seconds`. By default the base station takes the
// module's radio channel ("use remote settings"); with `keepChannel` the module takes the
// station's. The outcome names the station's channel afterwards (field "channel").
Outcome pair(Network &net, int station, int seconds, bool configuration, bool keepChannel = false);
Outcome stationInfo(Network &net, int station);
Outcome setChannel(Network &net, int station, int channel);
Outcome readParameter(Network &net, int station, std::int32_t id, int parameter);
Outcome writeParameter(Network &net, int station, std::int32_t id, int parameter, ValueType type,
                       std::string_view value);
Outcome sendPacket(Network &net, int station, int tag, int status, ValueType type,
                   std::string_view value);
// Runs `ask`, a request that changes nothing, again while it goes unanswered
// (RT_NORESPONSE, or RT_NOBASE from a base station that is on the link: a lost frame),
// at most `retries` more times. `retrying` is told of each new try (numbered from 2) with
// the outcome of the one before.
Outcome askWithRetries(
    Network &net, int station, int retries, const std::function<Outcome()> &ask,
    const std::function<void(const Outcome &, int attempt, int attempts)> &retrying);

// Needs the component only, no link.
Outcome decodeRlx(dataprovider::IDataProvider &dp, const std::string &block);

// Dispatches messages for `duration`; ends early, returning true, when `stopFd`
// (if not -1) becomes readable.
bool dispatchFor(std::chrono::milliseconds duration, int stopFd = -1);

}  // namespace lyx::cli
