// A simulated acquisition module: what it sends, how it answers.
//
// Module behaviour, as the simulator plays it:
//   - While powered, awake, not paused and not in configuration mode, it sends
//     one data-provider packet every 1/rate seconds on its radio channel; every
//     plugged-in base station listening on that channel passes it to the PC.
//   - Commands (data-provider packets of type interface to its data tag or to
//     65535) reach it only through a base station on its channel: 1 sleep (it
//     stops sending until woken), 2 pause (no data for `pauseTime`), 3 stay
//     awake (restarts its own sleep timer, if it has one). A module in
//     configuration mode ignores sleep and pause.
//   - Writing remote parameter 50 (any value) wakes it, by its ID or by the
//     broadcast ID 0xFFFFFF; a table entry 50, if there is one, is written (and
//     read) as well. A sleeping module hears nothing else.
//   - Remote parameters (request codes 5 and 6, replies 7 to 10) come from
//     `parameters`; radio-module parameters (codes 11 and 12, replies 13 to 16)
//     from `radioParameters`, where 3 (its ID, int32, read-only) and 11 (its
//     radio channel, uint8, writable: the module moves to the new channel after
//     answering) are built in unless the table holds them.
//   - A module that `answers` nothing ignores remote requests; the base station
//     then replies "no answer" (9 or 15).
//   - Powering up restarts it: awake, not paused, out of configuration mode,
//     waveform time from 0. A base station waiting for a bind takes the module
//     that powers up (see simulator.hpp).
//   - Status flags in the upper three bits of reply codes: 0x20 configuration
//     mode, 0x40 battery low, 0x80 error (the data packet's type byte carries
//     battery low and error in the same bits).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

#include "lyx/sim/outcome.hpp"
#include "lyx/sim/typed_value.hpp"
#include "lyx/sim/waveform.hpp"

namespace lyx::sim {

inline constexpr std::uint32_t kBroadcastId = 0xFFFFFF;
inline constexpr std::uint16_t kAllTags = 65535;
inline constexpr std::uint8_t kWakeParameter = 50;
inline constexpr std::size_t kRecordSize = 117;       // record-mode value
inline constexpr std::size_t kStoreForwardSize = 42;  // ten readings and a timestamp

struct Parameter {
    enum class Access {
        ReadWrite,
        ReadOnly,   // writes refused (reply 8 / 14)
        WriteOnly,  // reads refused
        Refused,    // every request refused
    };

    TypedValue value;
    Access access = Access::ReadWrite;
    std::optional<double> min;  // numeric values written outside are refused (10 / 16)
    std::optional<double> max;
    // Answer every request for this parameter with this reply code (7 to 10 or
    // 13 to 16; the value goes along with reads), to exercise a client's handling
    // of each code.
    std::optional<std::uint8_t> forcedReply;
};

// A parameter holding `value`, with the given access.
inline Parameter makeParameter(TypedValue value,
                               Parameter::Access access = Parameter::Access::ReadWrite) {
    Parameter p;
    p.value = std::move(value);
    p.access = access;
    return p;
}

enum class Layout {
    Value,         // one value of `type`
    Record,        // 117 bytes (binary): the reading as int32, 28 earlier readings
                   // taken within the last send period, a sequence byte
    StoreForward,  // 42 bytes (binary): ten int32 readings spread over the last
                   // send period, oldest first, then uint16 seconds since power-up
};

struct ModuleConfig {
    std::uint32_t id = 1;  // 24-bit, not 0 and not 0xFFFFFF
    std::uint16_t tag = 1;
    std::uint8_t channel = 1;
    DataType type = DataType::Float;
    Layout layout = Layout::Value;
    // Sent instead of the waveform for string, binary and other non-numeric
    // types. Without it a string carries the reading as text with `decimals`
    // places and binary carries it as int32; other types carry no value bytes.
    std::optional<Bytes> fixedValue;
    int decimals = 2;
    double rate = 1.0;  // packets per second; 0 sends no data
    Waveform wave;
    std::uint8_t status = 0;  // the packet's status byte
    int rssi = -60;           // dBm, as the driver reports it (signal byte - 45)
    // The link-quality byte: receivers read bits 0 to 6 (0 to 127); bit 7 is
    // sent as given, to show that a receiver ignores it.
    std::uint8_t linkQuality = 100;
    bool batteryLow = false;
    bool error = false;
    bool answers = true;
    std::chrono::milliseconds latency{5};     // from request to answer
    std::chrono::milliseconds sleepTimer{0};  // falls asleep this long after power-up,
                                              // wake or stay-awake; 0 never
    std::chrono::milliseconds pauseTime{10000};
    bool poweredOn = true;
    std::map<std::uint8_t, Parameter> parameters;
    std::map<std::uint8_t, Parameter> radioParameters;
};

// Checks ranges and sizes; the message names the offending setting.
Outcome validate(const ModuleConfig &module);
Outcome validate(const Parameter &parameter);

}  // namespace lyx::sim
