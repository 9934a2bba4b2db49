// A virtual base station on the vhid bus: a listening SOCK_SEQPACKET socket in
// the bus folder that identifies itself on every connection, sends each input
// report to every open connection and passes the output reports it receives to
// its owner.
//
// Threads: one thread serves the socket. sendReport() may be called from any
// thread; the output handler runs on the serving thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "lyx/link/vhid_protocol.hpp"

namespace lyx::sim {

class VirtualHidDevice {
  public:
    using OutputHandler = std::function<void(std::span<const std::uint8_t> report)>;

    // `name` without the ".sock" ending.
    VirtualHidDevice(std::string folder, std::string name, vhid::Identity identity,
                     OutputHandler onOutput = nullptr);
    ~VirtualHidDevice();
    VirtualHidDevice(const VirtualHidDevice &) = delete;
    VirtualHidDevice &operator=(const VirtualHidDevice &) = delete;

    // Binds under a temporary name, listens, then renames the socket to its
    // *.sock name (an arrival). False when the socket cannot be made.
    bool plugIn();
    // Closes every connection and removes the socket file (a removal).
    void unplug();
    bool pluggedIn() const { return serving_.joinable(); }

    enum class Delivery {
        Wait,          // a reader whose buffer is full gets up to a second to make room
        DropWhenFull,  // a reader whose buffer is full misses the report at once
    };

    // Sends one input report: report ID 0 and up to 64 data bytes, zero-filled.
    // Returns how many connections took it.
    int sendReport(std::span<const std::uint8_t> data, Delivery delivery = Delivery::Wait);
    // Sends a link frame the way a base station does: in as many zero-filled
    // reports as it needs.
    int sendFrame(std::span<const std::uint8_t> frame, Delivery delivery = Delivery::Wait);
    // Reports that an open connection did not take.
    std::uint64_t reportsDropped() const;

    std::size_t connections() const;
    // Waits until at least `count` connections are open; false on time-out.
    bool waitForConnections(std::size_t count, int timeoutMs) const;
    // Waits until no connection is open; false on time-out.
    bool waitForNoConnections(int timeoutMs) const;

    std::string socketPath() const;
    const vhid::Identity &identity() const { return identity_; }

  private:
    void serve(int listenFd);

    const std::string folder_;
    const std::string name_;
    const vhid::Identity identity_;
    OutputHandler onOutput_;
    int wakeFd_ = -1;
    mutable std::mutex lock_;
    mutable std::condition_variable connectionsChanged_;
    std::vector<int> connections_;
    std::uint64_t dropped_ = 0;
    std::jthread serving_;
};

}  // namespace lyx::sim
