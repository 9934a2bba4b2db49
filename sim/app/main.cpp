// lyx-basestation-sim: virtual base stations and modules for programs that use
// the driver, controlled by options, a scenario file and a line protocol.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "control_loop.hpp"
#include "lyx/sim/control.hpp"
#include "lyx/sim/simulator.hpp"
#include "options.hpp"

using namespace lyx::sim;

namespace {

constexpr const char *kName = "lyx-basestation-sim";

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string defaultPortFolder() {
    if (auto folder = environment("LYX_PORT_DIR"); !folder.empty()) return folder;
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty()) config = environment("HOME") + "/.config";
    return config + "/lyx/ports";
}

std::string errorText(const Reply &reply) {
    return reply.text.substr(reply.text.find(' ') + 1);
}

int usage(const std::string &message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kName, message.c_str(), kName);
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    auto parsed = app::parseOptions(arguments, error);
    if (!parsed) return usage(error);
    const app::Options &options = *parsed;
    if (options.help) {
        std::fputs(app::helpText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", kName, LYX_VERSION);
        return 0;
    }

    ControlSettings settings;
    settings.usbFolder = options.vhidDir.empty() ? environment("LYX_VHID_DIR") : options.vhidDir;
    settings.portFolder = options.portDir.empty() ? defaultPortFolder() : options.portDir;
    // Recordings read while checking are kept for the run.
    settings.recordings = std::make_shared<RecordingCache>();

    // Everything is checked before anything is started.
    Interpreter checker(nullptr, settings);
    const auto warn = [](const std::string &origin, const Reply &reply) {
        for (const auto &w : reply.warnings)
            std::fprintf(stderr, "%s: %s: warning: %s\n", kName, origin.c_str(), w.c_str());
    };
    for (const auto &command : options.commands) {
        Reply reply = checker.execute(command.line);
        if (!reply.ok) return usage(command.origin + ": " + errorText(reply));
        warn(command.origin, reply);
    }
    Scenario scenario;
    if (!options.scenarioFile.empty()) {
        std::ifstream file(options.scenarioFile);
        if (!file) {
            std::fprintf(stderr, "%s: cannot read %s\n", kName, options.scenarioFile.c_str());
            return 2;
        }
        std::stringstream text;
        text << file.rdbuf();
        scenario = parseScenario(text.str(), checker);
        if (!scenario.ok()) {
            std::fprintf(stderr, "%s: %s:%d: %s\n", kName, options.scenarioFile.c_str(),
                         scenario.errorLine, scenario.error.c_str());
            return 2;
        }
        for (const auto &w : scenario.warnings) {
            // "line: text"
            const std::size_t colon = w.find(':');
            std::fprintf(stderr, "%s: %s:%s: warning:%s\n", kName, options.scenarioFile.c_str(),
                         w.substr(0, colon).c_str(), w.substr(colon + 1).c_str());
        }
    }
    std::string replayChecked;
    if (options.replay) {
        Reply reply = checker.execute(options.replay->line);
        if (!reply.ok) {
            std::fprintf(stderr, "%s: %s\n", kName, errorText(reply).c_str());
            return 2;
        }
        warn("--replay", reply);
        replayChecked = "; " + reply.text.substr(3);
    }
    if (options.checkOnly) {
        std::printf("ok: %zu commands, %zu scenario steps%s\n", options.commands.size(),
                    scenario.steps.size(), replayChecked.c_str());
        return 0;
    }

    // Signals are taken by the control loop's signalfd; every thread started
    // from here on inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Simulator simulator(options.randomKey);
    Interpreter interpreter(&simulator, settings);
    app::LoopSettings loopSettings;
    loopSettings.readStdin = options.readStdin;
    loopSettings.watchStdout = !options.quiet;
    loopSettings.traceData = options.traceData;
    loopSettings.socketPath = options.socketPath;
    loopSettings.scenarioName = options.scenarioFile;
    loopSettings.duration = options.duration;
    for (const auto &step : scenario.steps) {
        if (step.at.count() > 0) loopSettings.laterSteps.push_back(step);
    }

    // What the options and the scenario set up at the start; each line printed.
    std::vector<std::pair<std::string, std::string>> setup;  // origin, line
    for (const auto &command : options.commands)
        setup.emplace_back(command.origin, command.line);
    for (const auto &step : scenario.steps) {
        if (step.at.count() == 0) {
            setup.emplace_back(options.scenarioFile + ":" + std::to_string(step.line),
                               step.command);
        }
    }
    if (options.replay) setup.emplace_back(options.replay->origin, options.replay->line);
    bool quitAtOnce = false;
    const std::uint64_t setupFrom = simulator.lastSequence();
    for (const auto &[origin, line] : setup) {
        Reply reply = interpreter.execute(line);
        if (!reply.ok) {
            std::fprintf(stderr, "%s: %s: %s\n", kName, origin.c_str(), errorText(reply).c_str());
            return 1;
        }
        quitAtOnce = quitAtOnce || reply.action == Reply::Action::Quit;
        if (reply.text.size() > 3) std::printf("%s\n", reply.text.c_str() + 3);
    }
    if (simulator.stations().empty()) {
        Reply reply = interpreter.execute("station 1");
        if (!reply.ok) {
            std::fprintf(stderr, "%s: station 1: %s\n", kName, errorText(reply).c_str());
            return 1;
        }
        std::printf("%s\n", reply.text.c_str() + 3);
    }

    app::ControlLoop loop(simulator, interpreter, std::move(loopSettings));
    if (!loop.start(setupFrom)) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    if (quitAtOnce) return 0;
    return loop.run();
}
