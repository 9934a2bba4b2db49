#include "subcommand.hpp"

#include <algorithm>

namespace lyx::cli {

namespace {

// `text` broken into lines of at most `width` characters, each indented.
std::string wrap(const std::string &text, std::size_t width, const std::string &indent) {
    std::string out;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        at = end + 1;
    }
    if (!line.empty()) out += indent + line + "\n";
    return out;
}

}  // namespace

std::vector<Subcommand> allSubcommands() {
    std::vector<Subcommand> all = streamSubcommands();
    for (auto &c : requestSubcommands())
        all.push_back(std::move(c));
    for (auto &c : mqttSubcommands())
        all.push_back(std::move(c));
    return all;
}

std::string helpText(const Subcommand &c) {
    const bool link = std::any_of(c.options.begin(), c.options.end(),
                                  [](const OptionSpec &o) { return o.name == "--port"; });
    std::string out = "usage: lyx " + c.name + (c.usage.empty() ? "" : " " + c.usage) +
                      (link ? " [--usb | --port N [--baud RATE]]" : "") + "\n\n";
    out += wrap(c.summary + ".", 78, "");
    if (!c.details.empty()) {
        // Appended apart: "\n" + string makes GCC 12 warn (-Wrestrict), a false positive.
        out += '\n';
        out += wrap(c.details, 78, "");
    }
    if (!c.options.empty()) {
        out += "\noptions:\n";
        for (const auto &o : c.options) {
            std::string left = "  " + o.name + (o.argument.empty() ? "" : " " + o.argument);
            if (left.size() < 24)
                left.resize(24, ' ');
            else
                left += "\n" + std::string(24, ' ');
            out += left + o.help + "\n";
        }
    }
    return out;
}

}  // namespace lyx::cli
