// The simulator: virtual base stations (on the virtual HID bus and/or a
// pseudo-terminal) and the acquisition modules they hear by radio.
//
//   lyx::sim::Simulator sim;
//   lyx::sim::StationConfig station;
//   station.usb = true;
//   station.usbFolder = "/tmp/vhid";
//   sim.addStation(station);
//   lyx::sim::ModuleConfig module;
//   module.id = 0x0A0B0C;
//   module.tag = 1234;
//   module.rate = 10;
//   sim.addModule(module);
//   ...
//   sim.powerUp(0x0A0B0C);  // answers a waiting bind request
//   sim.waitFor([](const Event &e) { return e.kind == EventKind::Paired; }, 5s);
//
// Behaviour of stations and modules: station_config.hpp and module_config.hpp.
//
// Threads: one simulator thread runs every module's timer, reads what the PC
// sends and answers it. Every member function may be called from any thread,
// also from the event listener; calls that change the simulation take effect on
// the simulator thread before they return.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lyx/sim/events.hpp"
#include "lyx/sim/module_config.hpp"
#include "lyx/sim/outcome.hpp"
#include "lyx/sim/replay.hpp"
#include "lyx/sim/station_config.hpp"

namespace lyx::sim {

struct StationStatus {
    StationConfig config;  // with the current ID and channel
    bool pluggedIn = false;
    std::string usbSocket;  // the *.sock file while served on the virtual HID bus
    std::string ptyDevice;  // the terminal the PC opens, e.g. /dev/pts/3
    std::string comEntry;   // the COM<n> entry, when made
    bool bindWaiting = false;
    std::uint64_t framesSent = 0;
    std::uint64_t framesReceived = 0;
};

struct ModuleStatus {
    ModuleConfig config;  // with the current channel, parameters and power
    bool asleep = false;
    bool paused = false;
    bool configurationMode = false;
    std::uint64_t packetsSent = 0;  // data packets put on the air
    int station = -1;               // the station it is wired to (a replayed module), or -1
};

// How well the simulator thread keeps to the modules' send times.
struct Stats {
    std::uint64_t ticks = 0;              // send times reached
    std::uint64_t late = 0;               // send times skipped: the thread was over 50 ms behind
    std::chrono::microseconds maxLag{0};  // largest delay of a send time
    std::uint64_t framesSent = 0;         // by all stations
    std::uint64_t outputDropped = 0;      // frames a full PC-side buffer did not take
};

class Simulator {
  public:
    // `randomKey` makes random faults and noise repeatable.
    explicit Simulator(std::uint64_t randomKey = 1);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Base stations, by number. Adding plugs the station in: creates its
    // *.sock file and/or its pseudo-terminal (and COM entry).
    Outcome addStation(const StationConfig &station);
    Outcome removeStation(int number);
    Outcome unplug(int number);
    Outcome plugIn(int number);  // a pseudo-terminal gets a new device (and COM entry)
    Outcome setStationChannel(int number, std::uint8_t channel);
    Outcome setStationId(int number, std::uint32_t id);
    Outcome setFaults(int number, const Faults &faults);
    // One-shot faults on the next frames the station sends.
    Outcome corruptNext(int number, unsigned frames);
    Outcome dropNext(int number, unsigned frames);
    Outcome loseNextReplies(int number, unsigned replies);
    Outcome setRefusedParameters(int number, std::vector<std::uint8_t> parameters);
    // The station sends a frame with this payload (1 to 255 bytes) as it is:
    // any reply, however malformed, at the moment a test needs it.
    Outcome sendFrame(int number, const Bytes &payload);
    std::optional<StationStatus> station(int number) const;
    std::vector<int> stations() const;

    // Modules, by ID.
    Outcome addModule(const ModuleConfig &module);
    Outcome removeModule(std::uint32_t id);
    // Changes a module's settings (channel, rate, waveform, flags, parameters,
    // power, ...); the ID cannot change.
    Outcome updateModule(std::uint32_t id, const std::function<void(ModuleConfig &)> &change);
    Outcome setParameter(std::uint32_t id, std::uint8_t number, const Parameter &parameter,
                         bool radio = false);
    // Switches a module on (again): see module_config.hpp; answers a waiting bind.
    Outcome powerUp(std::uint32_t id);
    Outcome powerDown(std::uint32_t id);
    // Puts a module to sleep or wakes it directly, as if commanded.
    Outcome setAsleep(std::uint32_t id, bool asleep);
    Outcome setConfigurationMode(std::uint32_t id, bool on);
    std::optional<ModuleStatus> module(std::uint32_t id) const;
    std::vector<std::uint32_t> modules() const;

    // Events: the last 10 000 are kept.
    std::vector<Event> events(std::uint64_t afterSequence = 0) const;
    // Waits for an event after `afterSequence` that `match` accepts; nullopt on
    // time-out.
    std::optional<Event> waitFor(const std::function<bool(const Event &)> &match,
                                 std::chrono::milliseconds timeout,
                                 std::uint64_t afterSequence = 0) const;
    std::uint64_t lastSequence() const;
    // Called on the simulator thread for every event; nullptr to stop.
    void setEventListener(std::function<void(const Event &)> listener);
    // Also report every data packet sent (DataSent events). FrameFromPc events
    // (every frame the PC sent, as it came) are always kept.
    void traceData(bool on);

    Stats stats() const;

    // Replays a recording (see replay.hpp); its stations must exist. A replay
    // that runs is stopped first, and the modules of an earlier replay go.
    Outcome startReplay(std::shared_ptr<const Recording> recording, const ReplaySettings &settings);
    Outcome stopReplay();
    // The running or last replay.
    std::optional<ReplayStatus> replay() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lyx::sim
