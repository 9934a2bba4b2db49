// The program's main loop: commands from standard input and a local socket,
// events printed to whoever watches, timed scenario steps, signals.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lyx/sim/control.hpp"
#include "lyx/sim/simulator.hpp"

namespace lyx::sim::app {

struct LoopSettings {
    bool readStdin = true;
    bool watchStdout = true;  // events on standard output
    bool traceData = false;
    std::string socketPath;
    std::string scenarioName;              // for messages about its lines
    std::vector<ScenarioStep> laterSteps;  // steps after the start, in order
    std::optional<std::chrono::milliseconds> duration;
};

class ControlLoop {
  public:
    ControlLoop(Simulator &simulator, Interpreter &interpreter, LoopSettings settings);
    ~ControlLoop();
    ControlLoop(const ControlLoop &) = delete;
    ControlLoop &operator=(const ControlLoop &) = delete;

    // Opens the socket; false with a message on standard error. A replay
    // started while setting up may have looped or ended before the loop
    // listened: such events after `setupFrom` (a sequence) are told too.
    bool start(std::uint64_t setupFrom = 0);
    // Runs until quit, the end of the duration or a signal; the exit status.
    int run();

  private:
    enum class Watch { Off, Events, Data };
    struct Session {
        int in = -1;
        int out = -1;
        std::string input;
        std::string output;  // not yet written (sockets only)
        Watch watch = Watch::Off;
        bool closed = false;
    };

    void onEvent(const Event &event);
    void handleInput(Session &session);
    void execute(Session &session, const std::string &line);
    void write(Session &session, const std::string &line);
    void flush(Session &session);
    void deliverEvents();
    void updateTracing();
    void runDueSteps();

    Simulator &simulator_;
    Interpreter &interpreter_;
    LoopSettings settings_;
    std::chrono::steady_clock::time_point started_;
    std::size_t nextStep_ = 0;
    int listenFd_ = -1;
    int signalFd_ = -1;
    int eventFd_ = -1;
    bool quit_ = false;
    bool tracing_ = false;
    std::vector<std::unique_ptr<Session>> sessions_;  // [0] is standard input/output

    std::mutex eventsLock_;
    std::deque<Event> pending_;  // from the simulator thread
    std::uint64_t eventsDropped_ = 0;
};

}  // namespace lyx::sim::app
