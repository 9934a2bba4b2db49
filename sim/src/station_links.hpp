// The devices through which one simulated station meets the PC: a device on
// the virtual HID bus and/or a pseudo-terminal with its COM entry. Used on the
// simulator thread only.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "event_loop.hpp"
#include "lyx/link/frame.hpp"
#include "lyx/sim/outcome.hpp"
#include "lyx/sim/pty_port.hpp"
#include "lyx/sim/station_config.hpp"
#include "lyx/sim/vhid_device.hpp"
#include "world.hpp"

namespace lyx::sim {

class StationLinks {
  public:
    // `receive` gets the bytes the PC sends and the link they came by, on the
    // loop thread.
    using Receive = std::function<void(std::span<const std::uint8_t>, World::Source)>;

    StationLinks(const StationConfig &config, EventLoop &loop, Receive receive);
    ~StationLinks();
    StationLinks(const StationLinks &) = delete;
    StationLinks &operator=(const StationLinks &) = delete;

    // Creates the *.sock file and/or a new pseudo-terminal (and COM entry).
    Outcome plugIn();
    // Removes them: the PC sees the device leave or the line hang up.
    void unplug();

    // Sends bytes to the PC; false when a reader had no room. Without `wait`
    // they are dropped at once for a reader whose buffer is full; with it,
    // the link waits while the reader makes room (up to a second), as fast as
    // it takes them. A reader that took nothing for that long is not waited
    // for again until it takes bytes once more.
    bool send(std::span<const std::uint8_t> bytes, bool wait);

    std::string usbSocket() const;
    std::string ptyDevice() const;
    const std::string &comEntry() const { return comEntry_; }

  private:
    void readPty();
    // USB with reportEvery: queues the bytes for the next report slots.
    bool queueReports(std::span<const std::uint8_t> bytes);
    // The first USB frame at or after `t` on the shared grid of reportEvery.
    TimePoint nextPoll(TimePoint t) const;
    void sendDueReport();
    void removeComEntry();

    const StationConfig config_;
    EventLoop &loop_;
    Receive receive_;
    std::unique_ptr<VirtualHidDevice> usb_;
    std::unique_ptr<PtyPort> pty_;
    std::string comEntry_;
    bool stalled_ = false;        // a waiting send timed out; the reader does not read
    link::Bytes pendingReports_;  // bytes waiting for their report slot
    TimePoint nextReport_{};
    TimerId reportTimer_ = 0;
};

}  // namespace lyx::sim
