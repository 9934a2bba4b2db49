// The simulated radio world: base stations, the modules they hear, and every
// rule of how they answer. Single-threaded and free of I/O: time comes from a
// Scheduler, frames for the PC go to a FrameOutput, events to an EventSink, and
// bytes from the PC come in through receive(). The Simulator runs it on its
// event loop; tests drive it in virtual time.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "lyx/sim/recording.hpp"
#include "lyx/sim/simulator.hpp"
#include "packets.hpp"
#include "scheduler.hpp"

namespace lyx::sim {

class FrameOutput {
  public:
    virtual ~FrameOutput() = default;
    // Bytes that station `number` sends to the PC (a frame, with any noise
    // before it); false when the PC side had no room for them.
    virtual bool send(int number, std::span<const std::uint8_t> bytes) = 0;
    // The same, waiting while a reader is slow to make room (as fast as the
    // link takes them); false when it did not.
    virtual bool sendWaiting(int number, std::span<const std::uint8_t> bytes) {
        return send(number, bytes);
    }
};

class EventSink {
  public:
    virtual ~EventSink() = default;
    virtual void publish(Event event) = 0;
};

// How long a station waits for a module's answer before it replies "no answer".
inline constexpr std::chrono::milliseconds kAnswerWindow{250};

class World {
  public:
    World(Scheduler &scheduler, FrameOutput &output, EventSink &events, std::uint64_t randomKey);
    ~World();
    World(const World &) = delete;
    World &operator=(const World &) = delete;

    Outcome addStation(const StationConfig &config);
    Outcome removeStation(int number);
    Outcome setPlugged(int number, bool plugged);
    Outcome setStationChannel(int number, std::uint8_t channel);
    Outcome setStationId(int number, std::uint32_t id);
    Outcome setFaults(int number, const Faults &faults);
    Outcome corruptNext(int number, unsigned frames);
    Outcome dropNext(int number, unsigned frames);
    Outcome loseNextReplies(int number, unsigned replies);
    Outcome setRefusedParameters(int number, std::vector<std::uint8_t> parameters);
    // Station `number` sends a frame with this payload, as it is.
    Outcome sendFrame(int number, std::span<const std::uint8_t> payload);
    // Everything but the device paths, which the Simulator knows.
    std::optional<StationStatus> station(int number) const;
    std::vector<int> stationNumbers() const;

    Outcome addModule(const ModuleConfig &config);
    Outcome removeModule(std::uint32_t id);
    Outcome updateModule(std::uint32_t id, const std::function<void(ModuleConfig &)> &change);
    Outcome setParameter(std::uint32_t id, std::uint8_t number, const Parameter &parameter,
                         bool radio);
    Outcome powerUp(std::uint32_t id);
    Outcome powerDown(std::uint32_t id);
    Outcome setAsleep(std::uint32_t id, bool asleep);
    Outcome setConfigurationMode(std::uint32_t id, bool on);
    std::optional<ModuleStatus> module(std::uint32_t id) const;
    std::vector<std::uint32_t> moduleIds() const;

    // Wires a module to station `number`, as a replayed module is: only that
    // station hears it and passes on what it sends, and it follows the
    // station's channel.
    Outcome attachToStation(std::uint32_t id, int number);
    enum class Sent { Yes, Quiet, Unheard };
    // Module `id` sends one recorded row now (its status, signal, link quality
    // and flags become the module's). Quiet: the module is off, asleep, paused
    // or in configuration mode; Unheard: it has no plugged-in station. With
    // `wait`, the frame waits for room at the PC side.
    Sent sendRecorded(std::uint32_t id, const RecordedRow &row, std::span<const std::uint8_t> value,
                      bool wait);

    // Bytes the PC sent to station `number`: frames are found in them as a
    // receiver finds them (noise skipped, partial frames kept for later).
    // Each link of a station (USB, serial) is its own stream.
    enum class Source { Usb, Serial };
    void receive(int number, std::span<const std::uint8_t> bytes, Source source = Source::Usb);

    void traceData(bool on) { traceData_ = on; }
    Stats stats() const { return stats_; }

  private:
    struct PendingBind {
        TimePoint requested;
        TimePoint deadline;
        packets::BindRequest request;
    };
    struct StationState {
        StationConfig config;
        bool plugged = true;
        std::array<Bytes, 2> received;  // from the PC by link, not yet a whole frame
        std::optional<PendingBind> bind;
        TimerId bindTimer = 0;
        std::mt19937_64 random;
        unsigned corruptNext = 0;
        unsigned dropNext = 0;
        unsigned loseReplies = 0;
        std::uint64_t generation = 0;  // changes on unplug: older replies are not sent
        std::uint64_t framesSent = 0;
        std::uint64_t framesReceived = 0;
    };
    struct ModuleState {
        ModuleConfig config;
        bool asleep = false;
        bool paused = false;
        bool configurationMode = false;
        TimePoint poweredAt;
        TimePoint nextSend;
        TimerId sendTimer = 0;
        TimerId pauseTimer = 0;
        TimerId sleepTimer = 0;
        std::uint64_t packetsSent = 0;
        std::uint8_t sequence = 0;
        int station = -1;  // the one station it is wired to, or -1: by radio channel
    };
    struct Answer {
        packets::Reply reply = packets::Reply::Refused;
        Bytes data;
    };

    StationState *findStation(int number);
    ModuleState *findModule(std::uint32_t id);
    void emit(EventKind kind, int station, std::uint32_t module, int code = -1,
              std::string detail = {});

    // Timers of one module.
    void startSending(ModuleState &m);
    void sendTick(std::uint32_t id);
    void transmitData(ModuleState &m, TimePoint now);
    void armSleepTimer(ModuleState &m);
    void goToSleep(ModuleState &m, const char *by);
    void wake(ModuleState &m, const char *by);
    void pause(ModuleState &m);
    void stopTimers(ModuleState &m);
    TimerId later(Clock::duration delay, Task task);

    // What a station sends: faults applied, then out.
    void transmit(StationState &s, Bytes frame, bool isReply, bool wait = false);
    void reply(StationState &s, Bytes payload, Clock::duration delay);

    // Requests from the PC (station_requests.cpp).
    void handleFrame(StationState &s, std::span<const std::uint8_t> frame);
    void handleStationParameter(StationState &s, std::span<const std::uint8_t> payload);
    void handleRemote(StationState &s, const packets::RemoteRequest &request);
    Answer answer(ModuleState &m, const packets::RemoteRequest &request);
    void handleBind(StationState &s, const packets::BindRequest &request);
    void pair(StationState &s, ModuleState &m);
    void handleCommand(StationState &s, const packets::Command &command);
    bool hears(const ModuleState &m, const StationState &s) const;
    // Whether station `s` is where module `m`'s packets go: its own station, or
    // any on its channel.
    static bool carries(const StationState &s, const ModuleState &m);

    Scheduler &scheduler_;
    FrameOutput &output_;
    EventSink &events_;
    std::uint64_t randomKey_;
    std::map<int, StationState> stations_;
    std::map<std::uint32_t, ModuleState> modules_;
    std::map<std::uint64_t, TimerId> oneShots_;  // replies and other one-shot timers
    std::uint64_t lastOneShot_ = 0;
    bool traceData_ = false;
    Stats stats_;
};

}  // namespace lyx::sim
