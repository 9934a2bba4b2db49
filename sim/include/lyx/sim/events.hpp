// What happened in the simulation, for tests to assert on and for the program
// to report.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace lyx::sim {

enum class EventKind {
    StationPlugged,
    StationUnplugged,
    StationParameterRead,     // code: parameter
    StationParameterWritten,  // code: parameter, detail: value
    StationRequestRefused,    // code: parameter
    ChannelChanged,           // station or module; code: new channel
    BindRequested,            // code: duration in seconds
    BindTimedOut,
    Paired,           // station and module
    BroadcastFromPc,  // type 0
    PacketToTag,      // a data packet (not a command) from the PC; code: tag
    UnknownFrame,     // code: type code
    CommandHeard,     // code: command byte (1 sleep, 2 pause, 3 stay awake)
    Asleep,           // detail: "command" or "sleep timer"
    Woken,
    Paused,
    Resumed,
    ConfigurationMode,  // entered
    PoweredUp,
    PoweredDown,
    ParameterRead,     // code: parameter; detail: "radio" for radio parameters
    ParameterWritten,  // code: parameter; detail: value
    RequestRefused,    // code: parameter
    ValueRefused,      // code: parameter
    NoAnswer,          // the station got no answer from the module; code: parameter
    ReplyLost,         // fault: a reply was not sent; code: reply code
    FrameDropped,      // fault
    FrameCorrupted,    // fault
    DataSent,          // only while data tracing is on; code: tag
    FrameFromPc,       // every frame the PC sent; code: type code, detail: its payload
    ReplayLooped,      // a looping replay starts again; code: the loops so far
    ReplayEnded,       // code: the rows sent; detail: sent= quiet= unheard= loops= [stopped]
};

struct Event {
    std::uint64_t sequence = 0;  // 1, 2, 3, ... in order of occurrence
    std::chrono::steady_clock::time_point time;
    EventKind kind = EventKind::UnknownFrame;
    int station = -1;          // -1: none
    std::uint32_t module = 0;  // 0: none
    int code = -1;             // -1: none
    std::string detail;
};

// A short lower-case name such as "asleep" or "bind-requested".
std::string kindName(EventKind kind);
// One line: the kind name, then station=, module=, code= where set, then the
// detail, e.g. "asleep station=1 module=658188 by command".
std::string describe(const Event &event);

}  // namespace lyx::sim
