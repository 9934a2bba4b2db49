// lyx: watch, log and command the telemetry network from a terminal or a
// script, through the DataProvider component.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "lyx/platform/automation_error.hpp"
#include "network.hpp"
#include "subcommand.hpp"

using namespace lyx::cli;

namespace {

std::string overview(const std::vector<Subcommand> &commands) {
    std::string out =
        "usage: lyx SUBCOMMAND [OPTIONS]\n"
        "       lyx SUBCOMMAND --help | lyx --help | lyx --version\n\n"
        "Watch, log and command the Lyx telemetry network through the DataProvider component.\n"
        "Every subcommand that uses the network takes --usb (the default) or --port N\n"
        "[--baud RATE] (115200).\n\nsubcommands:\n";
    for (const auto &c : commands) {
        char line[160];
        std::snprintf(line, sizeof line, "  %-11s %s\n", c.name.c_str(), c.summary.c_str());
        out += line;
    }
    out +=
        "\nExit status: 0 done; 1 a request refused or not answered, or a log that could\n"
        "not be written; 2 bad arguments, no component, no base station or no serial port.\n";
    return out;
}

std::string versions() {
    std::string out = "lyx " LYX_CLI_VERSION "\n";
    try {
        auto dp = createComponent();
        char line[96];
        std::snprintf(line, sizeof line, "DataProvider component %.1f\ndriver %.1f\n",
                      static_cast<double>(dp->get_Version()),
                      static_cast<double>(dp->get_DLLVersion()));
        out += line;
    } catch (const Failure &e) {
        out += std::string("DataProvider component: ") + e.what() + "\n";
    }
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    const std::vector<Subcommand> commands = allSubcommands();
    if (argc < 2) {
        std::fputs(overview(commands).c_str(), stderr);
        return 2;
    }
    const std::string first = argv[1];
    if (first == "--help" || first == "-h" || first == "help") {
        std::fputs(overview(commands).c_str(), stdout);
        return 0;
    }
    if (first == "--version") {
        std::fputs(versions().c_str(), stdout);
        return 0;
    }
    const Subcommand *command = nullptr;
    for (const auto &c : commands)
        if (c.name == first) command = &c;
    if (command == nullptr) {
        std::fprintf(stderr, "lyx: unknown subcommand '%s' (see lyx --help)\n", first.c_str());
        return 2;
    }
    std::vector<std::string> words(argv + 2, argv + argc);
    for (const auto &w : words) {
        if (w == "--") break;
        if (w == "--help" || w == "-h") {
            std::fputs(helpText(*command).c_str(), stdout);
            return 0;
        }
    }
    try {
        return command->run(Arguments(words, command->options));
    } catch (const UsageError &e) {
        std::fprintf(stderr, "lyx %s: %s\n", command->name.c_str(), e.what());
        return 2;
    } catch (const Failure &e) {
        std::fprintf(stderr, "lyx: %s\n", e.what());
        return e.status();
    } catch (const lyx::platform::AutomationError &e) {
        std::fprintf(stderr, "lyx: the component raised 0x%08X: %s\n",
                     static_cast<unsigned>(e.number()), e.description().c_str());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "lyx: %s\n", e.what());
        return 1;
    }
}
