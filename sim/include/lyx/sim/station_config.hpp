// A simulated base station and the faults it can inject.
//
// Base-station behaviour, as the simulator plays it:
//   - Parameters (requests 21 read / 22 write, replies 23 done / 24 refused):
//     3 its 24-bit ID (3 bytes, high byte first), 11 its radio channel (1 byte,
//     1 to 255; it listens on the new channel at once), 24 and 25 (written with
//     no data after a channel change: "store settings" and "restart radio"; both
//     accepted, reading them is refused). Anything else is refused, and so
//     are the parameters listed in `refusedParameters`.
//   - Remote requests (5, 6, 11, 12) go by radio to the module with that ID on
//     the station's channel. Its answer comes back after the module's latency;
//     without an answer within 250 ms the station replies "no answer" (9 / 15,
//     with signal and link bytes 0). A write to 0xFFFFFF reaches every module on
//     the channel and is acknowledged by the station itself; a read from it is
//     refused (8 / 14).
//   - A bind request (19) waits for its duration (2 s for 0) for a module to
//     power up; the first such module is answered with 20, its ID and data tag.
//     With "use remote settings" set the station moves to the module's channel,
//     otherwise the module moves to the station's. Mode 1 leaves the module in
//     configuration mode. A new request replaces a waiting one.
//   - Data-provider packets from the PC go out by radio: type interface carries
//     a command to modules of that tag (65535: all) on the station's channel.
//   - Unplugged, it sends nothing and forgets a waiting bind; its ID and channel
//     are kept.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "lyx/sim/outcome.hpp"

namespace lyx::sim {

// Faults applied to every frame the station sends to the PC.
struct Faults {
    double corrupt = 0.0;                     // probability that one bit of a frame is flipped
    double drop = 0.0;                        // probability that a frame is not sent
    unsigned noise = 0;                       // random bytes sent before each frame
    unsigned zeros = 0;                       // zero bytes sent before each frame
    std::chrono::milliseconds replyDelay{0};  // added to every reply
    double replyLoss = 0.0;                   // probability that a reply is not sent
};

struct StationConfig {
    int number = 1;                  // address byte of its frames, 0 to 255
    std::string serial;              // HID serial-number string (the slot); empty: `number`
    std::uint16_t release = 0x0203;  // firmware revision, 0x0203 = 2.3
    std::uint32_t id = 1;            // 24-bit
    std::uint8_t channel = 1;
    // Parameters this station refuses (reply 24) although it knows them, as a
    // station whose firmware lacks them would.
    std::vector<std::uint8_t> refusedParameters;

    // Served on the virtual HID bus as <usbFolder>/<usbName>.sock.
    bool usb = false;
    std::string usbFolder;
    std::string usbName;  // empty: "basestation-<number>"
    // At most one report per this time, as a full-speed device's interrupt
    // endpoint sends one per millisecond: frames that come sooner wait and share
    // the next report (up to 64 KiB wait; more are dropped). 0: every frame goes
    // at once in reports of its own.
    std::chrono::milliseconds reportEvery{0};

    // Served on a pseudo-terminal; with `com` > 0 also as <portFolder>/COM<com>.
    bool serialPort = false;
    std::string portFolder;
    int com = 0;

    Faults faults;
};

Outcome validate(const StationConfig &station);
Outcome validate(const Faults &faults);

}  // namespace lyx::sim
