// Replaying a recording (recording.hpp) as a live network.
//
// Each station and tag of the recording is played by one module wired to that
// station (only it hears the module; the module follows its channel), with
// the ID station x 65536 + tag where that ID is free (else the next free one).
// The module sends each of its rows at the row's time, scaled by the speed,
// with the row's type, value, status, signal, link quality and flags. It
// answers commands as any simulated module: asleep, paused, switched off or in
// configuration mode it sends nothing, and its rows of that time are passed
// over (counted as quiet); the replay goes on with the others.
//
// Events: replay-looped (code: the loops so far) when a looping replay starts
// again, replay-ended (code: the rows sent) when it ends or is stopped.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lyx/sim/recording.hpp"

namespace lyx::sim {

struct ReplaySettings {
    double speed = 1.0;              // 2: twice as fast; 0: as fast as the link takes the frames
    bool loop = false;               // start again after the last row, for ever
    std::int64_t from = 0;           // milliseconds into the recording
    std::optional<std::int64_t> to;  // milliseconds into the recording, the last row's included
};

struct ReplayStatus {
    std::vector<std::string> files;
    ReplaySettings settings;
    std::vector<std::uint32_t> moduleIds;  // by Recording::modules
    bool running = false;
    bool stopped = false;       // ended by a stop, not at its end
    std::int64_t position = 0;  // milliseconds into the recording of the last row sent
    std::int64_t end = 0;       // milliseconds into the recording of the last row in range
    std::uint64_t row = 0;      // rows of the range done in this round
    std::uint64_t rows = 0;     // rows in the range
    std::uint64_t loops = 0;    // times it started again
    std::uint64_t sent = 0;     // rows sent, over all rounds
    std::uint64_t quiet = 0;    // rows a module did not send (asleep, paused, off)
    std::uint64_t unheard = 0;  // rows whose station was unplugged or removed
    std::chrono::microseconds maxLag{0};  // the latest a row went out after its time
};

// The module IDs for a recording's modules (see above), given which IDs are
// taken already.
std::vector<std::uint32_t> replayModuleIds(const Recording &recording,
                                           const std::function<bool(std::uint32_t)> &taken);

}  // namespace lyx::sim
