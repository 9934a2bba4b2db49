#include "command_policy.hpp"

#include <algorithm>

#include "arguments.hpp"
#include "mqtt_commands.hpp"

namespace lyx::cli {

namespace {

const std::vector<std::string_view> kRead = {"station", "read"};
const std::vector<std::string_view> kControl = {"sleep", "pause", "wake", "stay-awake", "forget"};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

}  // namespace

CommandPolicy CommandPolicy::parse(std::string_view text) {
    CommandPolicy policy;
    const auto &names = commandNames();
    std::size_t at = 0;
    bool none = false;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view word = trimmed(text.substr(at, comma - at));
        at = comma + 1;
        if (word == "none") {
            none = true;
        } else if (word == "read" || word == "control" || word == "all") {
            // "read" names a level and a command at once; both allow the same.
            policy.allowed_.insert(kRead.begin(), kRead.end());
            if (word != "read") policy.allowed_.insert(kControl.begin(), kControl.end());
            if (word == "all") policy.allowed_.insert(names.begin(), names.end());
        } else if (std::find(names.begin(), names.end(), word) != names.end()) {
            policy.allowed_.insert(std::string(word));
        } else {
            throw UsageError("--commands: '" + std::string(word) +
                             "' is not none, read, control, all or a command name (" +
                             [&] {
                                 std::string list;
                                 for (auto n : names)
                                     list += (list.empty() ? "" : ", ") + std::string(n);
                                 return list;
                             }() +
                             ")");
        }
    }
    if (none && !policy.allowed_.empty()) throw UsageError("--commands: 'none' goes alone");
    return policy;
}

std::string CommandPolicy::describe() const {
    std::string out;
    for (auto name : commandNames()) {
        if (!allows(name)) continue;
        // Appended piece by piece: "," + string makes GCC 12 warn (-Wrestrict, a false
        // positive on the inlined insert at the front of a temporary).
        if (!out.empty()) out += ',';
        out += name;
    }
    return out.empty() ? "none" : out;
}

std::string CommandPolicy::refusal(std::string_view command) const {
    return "this gateway does not run '" + std::string(command) + "' (--commands " + describe() +
           "); start it with --commands all, or --commands " +
           (allowed_.empty() ? std::string(command) : describe() + "," + std::string(command)) +
           ", to allow it";
}

bool RateLimit::take(Clock::time_point now) {
    if (last_) {
        const double passed = std::chrono::duration<double>(now - *last_).count();
        if (passed > 0) tokens_ = std::min(burst_, tokens_ + passed * rate_);
    }
    if (!last_ || now > *last_) last_ = now;
    if (tokens_ < 1.0) return false;
    tokens_ -= 1.0;
    return true;
}

}  // namespace lyx::cli
