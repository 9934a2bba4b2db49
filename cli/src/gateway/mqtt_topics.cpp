#include "mqtt_topics.hpp"

#include <cstdio>
#include <vector>

#include "arguments.hpp"

namespace lyx::cli {

namespace {

std::vector<std::string_view> levels(std::string_view topic) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t slash = topic.find('/', at);
        if (slash == std::string_view::npos) {
            out.push_back(topic.substr(at));
            return out;
        }
        out.push_back(topic.substr(at, slash - at));
        at = slash + 1;
    }
}

// What is wrong with `level` as one topic level, or nothing.
const char *levelFault(std::string_view level) {
    if (level.empty()) return "has an empty topic level";
    for (char c : level) {
        if (c == '+' || c == '#') return "holds a wildcard ('+' or '#')";
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return "holds a control character";
    }
    return nullptr;
}

}  // namespace

void checkTopicPrefix(std::string_view prefix, std::string_view option) {
    const std::string name(option);
    if (prefix.empty()) throw UsageError(name + ": the prefix is empty");
    for (std::string_view level : levels(prefix))
        if (const char *fault = levelFault(level))
            throw UsageError(name + ": '" + std::string(prefix) + "' " + fault);
}

void checkClientId(std::string_view id) {
    if (id.find('/') != std::string_view::npos)
        throw UsageError("--client-id: '" + std::string(id) + "' holds a '/'");
    if (const char *fault = levelFault(id))
        throw UsageError("--client-id: '" + std::string(id) + "' " +
                         (id.empty() ? "is empty" : fault));
}

std::string stationLevel(std::int32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(id));
    return text;
}

std::string unnamedStationLevel(int number) {
    return "station-" + std::to_string(number);
}

Topics::Topics(std::string prefix, std::string clientId)
    : prefix_(std::move(prefix)), clientId_(std::move(clientId)) {}

std::string Topics::status() const {
    return prefix_ + "/gateway/" + clientId_ + "/status";
}

std::string Topics::statusDetail() const {
    return status() + "/detail";
}

std::string Topics::stationStatus(std::string_view station) const {
    return prefix_ + "/" + std::string(station) + "/status";
}

std::string Topics::packet(std::string_view station, int tag) const {
    return prefix_ + "/" + std::string(station) + "/" + std::to_string(tag) + "/packet";
}

std::string Topics::state(std::string_view station, int tag) const {
    return prefix_ + "/" + std::string(station) + "/" + std::to_string(tag) + "/state";
}

std::string Topics::modules() const {
    return prefix_ + "/gateway/" + clientId_ + "/modules";
}

std::string Topics::event() const {
    return prefix_ + "/gateway/" + clientId_ + "/event";
}

std::string Topics::availability(std::string_view station, int tag) const {
    return prefix_ + "/" + std::string(station) + "/" + std::to_string(tag) + "/availability";
}

std::string Topics::gatewayCommands() const {
    return prefix_ + "/gateway/" + clientId_ + "/cmd/#";
}

std::string Topics::gatewayCommand(std::string_view name) const {
    return prefix_ + "/gateway/" + clientId_ + "/cmd/" + std::string(name);
}

std::string Topics::stationCommand(std::string_view station, std::string_view name) const {
    return prefix_ + "/" + std::string(station) + "/cmd/" + std::string(name);
}

std::string Topics::commands() const {
    return prefix_ + "/cmd/#";
}

std::string Topics::stationCommands(std::string_view station) const {
    return prefix_ + "/" + std::string(station) + "/cmd/#";
}

std::optional<CommandTopic> Topics::command(std::string_view topic) const {
    if (topic.size() <= prefix_.size() + 1 || topic.substr(0, prefix_.size()) != prefix_ ||
        topic[prefix_.size()] != '/')
        return std::nullopt;
    const auto rest = levels(topic.substr(prefix_.size() + 1));
    if (rest.size() == 2 && rest[0] == "cmd" && !rest[1].empty())
        return CommandTopic{"", std::string(rest[1])};
    if (rest.size() == 3 && rest[1] == "cmd" && !rest[0].empty() && !rest[2].empty())
        return CommandTopic{std::string(rest[0]), std::string(rest[2])};
    // Another gateway's own topic is not a command for this one.
    if (rest.size() == 4 && rest[0] == "gateway" && rest[1] == clientId_ && rest[2] == "cmd" &&
        !rest[3].empty())
        return CommandTopic{"", std::string(rest[3]), true};
    return std::nullopt;
}

std::string Topics::result(std::string_view commandTopic) {
    return std::string(commandTopic) + "/result";
}

}  // namespace lyx::cli
