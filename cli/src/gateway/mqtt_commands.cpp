#include "mqtt_commands.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "arguments.hpp"
#include "lyx/platform/automation_error.hpp"
#include "packet.hpp"

namespace lyx::cli {

namespace {

using nlohmann::json;

constexpr std::size_t kLargestBody = 64 * 1024;
constexpr int kDeepestBody = 16;
constexpr double kLongestStayAwake = 3600.0;
// A longer pairing would keep the link's thread, and every command behind it, waiting.
constexpr int kLongestPairing = 60;

struct CommandFields {
    std::string_view name;
    std::vector<std::string_view> fields;  // besides "id"
};

const std::vector<CommandFields> &commandTable() {
    static const std::vector<CommandFields> table = {
        {"sleep", {"tag", "all"}},
        {"pause", {"tag", "all"}},
        {"wake", {"module", "station"}},
        {"stay-awake", {"for"}},
        {"pair", {"seconds", "config", "keep_channel", "station"}},
        {"station", {"station"}},
        {"channel", {"channel", "station"}},
        {"read", {"module", "param", "station"}},
        {"write", {"module", "param", "type", "value", "station"}},
        {"send", {"tag", "type", "value", "status", "station"}},
        {"forget", {"tag"}},
    };
    return table;
}

std::string joined(const std::vector<std::string_view> &words, std::string_view last) {
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) out += i + 1 == words.size() ? std::string(last) : ", ";
        out += words[i];
    }
    return out;
}

// How deeply arrays and objects nest in `text`, strings skipped; the parser
// is only given bodies of a sane depth.
int nesting(std::string_view text) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

// The parser's message without its "[json.exception.parse_error.101] " tag.
std::string parseMessage(const json::exception &e) {
    std::string text = e.what();
    if (const auto close = text.find("] ");
        text.rfind("[json.", 0) == 0 && close != std::string::npos)
        text.erase(0, close + 2);
    return text;
}

std::int64_t wholeNumber(const json &value, const char *name, std::int64_t least,
                         std::int64_t most) {
    if (value.is_number_integer()) return parseInteger(value.dump(), least, most, name);
    if (value.is_string()) return parseInteger(value.get<std::string>(), least, most, name);
    throw UsageError(std::string(name) + ": expected a whole number from " + std::to_string(least) +
                     " to " + std::to_string(most) + ", got " + value.dump());
}

bool flag(const json &value, const char *name) {
    if (!value.is_boolean())
        throw UsageError(std::string(name) + ": expected true or false, got " + value.dump());
    return value.get<bool>();
}

std::string text(const json &value, const char *name) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number()) return value.dump();
    throw UsageError(std::string(name) + ": expected a string or a number, got " + value.dump());
}

// A message of the shared value checks with the field's JSON name ("VALUE: ..." -> "value: ...").
UsageError renamed(const UsageError &e, std::string_view from, std::string_view to) {
    std::string message = e.what();
    if (message.rfind(from, 0) == 0) message.replace(0, from.size(), to);
    return UsageError(message);
}

void readTypedValue(const json &body, CommandRequest &r) {
    if (!body.contains("type"))
        throw UsageError("\"type\" is missing (uint8, uint16, int32, float, string or binary)");
    if (!body.contains("value")) throw UsageError("\"value\" is missing");
    if (!body.at("type").is_string())
        throw UsageError("type: expected a string, got " + body.at("type").dump());
    try {
        r.type = parseValueType(body.at("type").get<std::string>());
    } catch (const UsageError &e) {
        throw renamed(e, "TYPE", "type");
    }
    r.value = text(body.at("value"), "value");
    try {
        valueBytes(r.type, r.value);
    } catch (const UsageError &e) {
        throw renamed(e, "VALUE", "value");
    }
}

void readFields(const json &body, CommandRequest &r) {
    const auto has = [&](const char *name) { return body.contains(name); };
    const auto required = [&](const char *name) -> const json & {
        if (!body.contains(name)) throw UsageError("\"" + std::string(name) + "\" is missing");
        return body.at(name);
    };
    if (has("station"))
        r.station = static_cast<int>(wholeNumber(body.at("station"), "station", 1, 254));
    const std::string &n = r.name;
    if (n == "sleep" || n == "pause") {
        r.all = has("all") && flag(body.at("all"), "all");
        if (has("tag")) r.tag = static_cast<int>(wholeNumber(body.at("tag"), "tag", 1, 65535));
        if (r.all == r.tag.has_value())
            throw UsageError(r.all ? "give \"tag\" or \"all\", not both"
                                   : "\"tag\" is missing (or give \"all\":true)");
    } else if (n == "wake") {
        if (has("module"))
            r.module =
                static_cast<std::int32_t>(wholeNumber(body.at("module"), "module", 0, 0xFFFFFF));
    } else if (n == "stay-awake") {
        const json &value = required("for");
        double seconds = 0;
        if (value.is_number())
            seconds = value.get<double>();
        else if (value.is_string())
            seconds = parseDuration(value.get<std::string>(), "for");
        else
            throw UsageError("for: expected seconds or a time such as \"10min\", got " +
                             value.dump());
        if (!(seconds > 0 && seconds <= kLongestStayAwake))
            throw UsageError("for: " + value.dump() +
                             " is out of range (more than 0 s, up to 1 h)");
        r.duration = std::chrono::milliseconds(static_cast<std::int64_t>(seconds * 1000.0));
    } else if (n == "pair") {
        if (has("seconds"))
            r.seconds = static_cast<int>(wholeNumber(body.at("seconds"), "seconds", 1, 255));
        if (r.seconds > kLongestPairing)
            throw UsageError("seconds: a pairing through the gateway takes at most " +
                             std::to_string(kLongestPairing) + " s, not " +
                             std::to_string(r.seconds));
        r.configuration = has("config") && flag(body.at("config"), "config");
        r.keepChannel = has("keep_channel") && flag(body.at("keep_channel"), "keep_channel");
    } else if (n == "channel") {
        r.channel = static_cast<int>(wholeNumber(required("channel"), "channel", 1, 255));
    } else if (n == "read" || n == "write") {
        r.module =
            static_cast<std::int32_t>(wholeNumber(required("module"), "module", 0, 0xFFFFFF));
        r.param = static_cast<int>(wholeNumber(required("param"), "param", 0, 255));
        if (n == "write") readTypedValue(body, r);
    } else if (n == "forget") {
        r.tag = static_cast<int>(wholeNumber(required("tag"), "tag", 0, 65534));
    } else if (n == "send") {
        r.tag = static_cast<int>(wholeNumber(required("tag"), "tag", 0, 65535));
        if (has("status"))
            r.status = static_cast<int>(wholeNumber(body.at("status"), "status", 0, 255));
        readTypedValue(body, r);
    }
}

}  // namespace

const std::vector<std::string_view> &commandNames() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> out;
        for (const auto &c : commandTable())
            out.push_back(c.name);
        return out;
    }();
    return names;
}

ParsedRequest parseRequest(std::string_view name, std::string_view body, bool stationTopic) {
    ParsedRequest parsed;
    json object = json::object();
    std::string bodyFault;
    if (body.size() > kLargestBody) {
        bodyFault = "the body is larger than 64 KiB";
    } else if (nesting(body) > kDeepestBody) {
        bodyFault = "the body nests deeper than " + std::to_string(kDeepestBody) + " levels";
    } else if (body.find_first_not_of(" \t\r\n") != std::string_view::npos) {
        try {
            object = json::parse(body);
        } catch (const json::exception &e) {
            bodyFault = "the body is not JSON: " + parseMessage(e);
        }
    }
    // The id first, so that every reply that can carry it does.
    if (bodyFault.empty() && object.is_object() && object.contains("id"))
        parsed.id = object.at("id").dump();
    const auto command = std::find_if(commandTable().begin(), commandTable().end(),
                                      [&](const CommandFields &c) { return c.name == name; });
    if (command == commandTable().end()) {
        parsed.error =
            "unknown command '" + std::string(name) + "' (" + joined(commandNames(), " or ") + ")";
        return parsed;
    }
    if (!bodyFault.empty()) {
        parsed.error = bodyFault;
        return parsed;
    }
    if (!object.is_object()) {
        parsed.error = "the body must be a JSON object, not " + std::string(object.type_name());
        return parsed;
    }
    for (const auto &[key, value] : object.items()) {
        if (key == "id") continue;
        const auto &allowed = command->fields;
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            parsed.error = "unknown field \"" + key + "\" (" + std::string(name) + " takes " +
                           (allowed.empty() ? "none" : joined(allowed, " and ")) +
                           ", and \"id\" for the request)";
            return parsed;
        }
    }
    if (stationTopic && object.contains("station")) {
        parsed.error = "the topic names the base station; leave \"station\" out";
        return parsed;
    }
    CommandRequest request;
    request.name = std::string(name);
    request.id = parsed.id;
    try {
        readFields(object, request);
    } catch (const UsageError &e) {
        parsed.error = e.what();
        return parsed;
    } catch (const json::exception &e) {
        parsed.error = parseMessage(e);
        return parsed;
    }
    parsed.request = std::move(request);
    return parsed;
}

Outcome runRequest(Network &net, const CommandRequest &r, int station, int stopFd) {
    try {
        const std::string &n = r.name;
        if (n == "sleep") return r.all ? sleepAll(net) : sleepTag(net, *r.tag);
        if (n == "pause") return r.all ? pauseAll(net) : pauseTag(net, *r.tag);
        if (n == "wake") return wake(net, station, r.module);
        if (n == "stay-awake") return stayAwake(net, r.duration, stopFd);
        if (n == "pair") return pair(net, station, r.seconds, r.configuration, r.keepChannel);
        if (n == "station") return stationInfo(net, station);
        if (n == "channel") return setChannel(net, station, r.channel);
        if (n == "read") return readParameter(net, station, *r.module, r.param);
        if (n == "write") return writeParameter(net, station, *r.module, r.param, r.type, r.value);
        if (n == "send") return sendPacket(net, station, *r.tag, r.status, r.type, r.value);
        return {2, "", "unknown command '" + n + "'", {}};
    } catch (const Failure &e) {
        // The commands fail this way only for a base station that does not answer.
        const std::string message = e.what();
        const bool noBase = message.find("RT_NOBASE") != std::string::npos;
        return {e.status(), noBase ? "RT_NOBASE" : "", message, {}};
    } catch (const UsageError &e) {
        return {2, "", e.what(), {}};
    } catch (const platform::AutomationError &e) {
        return {1, "", "the component raised an error: " + e.description(), {}};
    }
}

std::string replyJson(std::string_view name, std::string_view id, const Outcome &outcome,
                      std::string_view gateway) {
    std::string out = "{\"id\":" + (id.empty() ? std::string("null") : std::string(id));
    out += ",\"command\":" + jsonString(name);
    if (!gateway.empty()) out += ",\"gateway\":" + jsonString(gateway);
    out += ",\"status\":" + std::to_string(outcome.status);
    out += ",\"response\":" +
           (outcome.response.empty() ? std::string("null") : jsonString(outcome.response));
    out += ",\"message\":" + jsonString(outcome.message);
    for (const auto &[field, literal] : outcome.fields) {
        // Appended piece by piece: "," + string makes GCC 12 warn (-Wrestrict, a false
        // positive on the inlined insert at the front of a temporary).
        out += ',';
        out += jsonString(field);
        out += ':';
        out += literal;
    }
    return out + "}";
}

std::string errorReplyJson(std::string_view name, std::string_view id, std::string_view message,
                           std::string_view gateway) {
    return replyJson(name, id, {2, "", std::string(message), {}}, gateway);
}

}  // namespace lyx::cli
