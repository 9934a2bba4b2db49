// Scenario files: commands of the control language with waits between them.
#include "command_syntax.hpp"
#include "lyx/sim/control.hpp"

namespace lyx::sim {

Scenario parseScenario(std::string_view text, Interpreter &checker) {
    Scenario scenario;
    std::chrono::milliseconds at{0};
    int number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (end == text.size() && line.empty()) break;

        auto fail = [&](std::string message) {
            scenario.steps.clear();
            scenario.errorLine = number;
            scenario.error = std::move(message);
            return scenario;
        };
        syntax::Line words;
        if (auto ok = syntax::tokenize(line, words); !ok) return fail(ok.error());
        if (words.empty()) continue;
        if (!words.words.empty() && words.words[0] == "wait") {
            std::chrono::milliseconds step{};
            if (words.words.size() != 2 || !words.options.empty() ||
                !syntax::parseDuration(words.words[1], step)) {
                return fail("wait: expected one time such as 500ms or 2s");
            }
            at += step;
            continue;
        }
        Reply checked = checker.execute(line);
        if (!checked.ok) {
            // "error: " is the protocol's prefix; a file's reader wants the reason.
            std::string message = checked.text.substr(checked.text.find(' ') + 1);
            return fail(message);
        }
        for (const auto &warning : checked.warnings)
            scenario.warnings.push_back(std::to_string(number) + ": " + warning);
        scenario.steps.push_back({at, number, std::string(line)});
    }
    return scenario;
}

}  // namespace lyx::sim
