// A base station that answers as a test scripts it, over a real link: a
// pseudo-terminal found as COM5, or a virtual USB base station in slot 1.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "lyx/link/frame.hpp"
#include "lyx/sim/pty_port.hpp"
#include "lyx/sim/vhid_device.hpp"

namespace lyx::drv::testing {

class ScriptedStation {
  public:
    enum class Link { Serial, Usb };
    // The frames to send back for a request frame (none: stay silent).
    using Script = std::function<std::vector<link::Bytes>(const link::Bytes &request)>;

    ScriptedStation(Link link, const std::filesystem::path &folder);
    ~ScriptedStation();

    // Whether the station could be set up (a socket path must fit its limit).
    bool ok() const { return ok_; }
    // Opens the driver's link to this station: OPENPORT(5, 115200) or OPENUSB().
    std::int32_t open();
    void setScript(Script script);
    // Sends a frame on its own, as a module's packet would arrive.
    void send(const link::Bytes &frame);

    std::vector<link::Bytes> requests();
    bool waitForRequests(std::size_t count, int timeoutMs);

  private:
    void received(std::span<const std::uint8_t> bytes);

    Link link_;
    bool ok_ = false;
    std::mutex lock_;
    std::condition_variable arrived_;
    Script script_;
    std::vector<link::Bytes> requests_;
    link::Bytes pending_;  // bytes of a frame not complete yet
    std::unique_ptr<sim::PtyPort> pty_;
    std::unique_ptr<sim::VirtualHidDevice> device_;
    std::jthread ptyReader_;
};

}  // namespace lyx::drv::testing
