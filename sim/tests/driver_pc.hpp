// The PC side for end-to-end tests: the real driver, opened on the test
// thread in callback mode, collecting every frame it delivers.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lyx/link/frame.hpp"

namespace lyx::sim::testing {

using link::Bytes;

class DriverPc {
  public:
    DriverPc();   // registers the callback
    ~DriverPc();  // closes the link

    // Opens the USB link on the vhid bus in `folder`.
    bool openUsb(const std::string &folder);
    // Opens serial port `number` found in `portFolder`.
    bool openSerial(const std::string &portFolder, int number);
    void close();

    void send(std::uint8_t station, const Bytes &payload);

    // Pumps this thread's messages until a delivered frame (any since the last
    // clear) satisfies `match`; nullopt after `timeout`.
    std::optional<Bytes> waitFrame(const std::function<bool(const Bytes &)> &match,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Pumps until `done` holds.
    bool pumpUntil(const std::function<bool()> &done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Frames delivered so far; clear() forgets them.
    const std::vector<Bytes> &frames() const;
    void clear();
};

// Matchers on delivered frames.
bool isData(const Bytes &frame, std::uint16_t tag);
bool hasCode(const Bytes &frame, std::uint8_t code);

}  // namespace lyx::sim::testing
