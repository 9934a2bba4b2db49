// A transport in memory: the test side injects received bytes and reads back
// what the driver sent, so the engine runs end to end without a device.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "lyx/link/frame.hpp"
#include "ports/transport.hpp"

namespace lyx::drv {

class MemoryTransport final : public LinkTransport {
  public:
    struct Sent {
        std::uint8_t address;
        link::Bytes frame;
    };
    // Called for every frame sent, on the sending thread; may inject a reply.
    using SendHook = std::function<void(std::uint8_t address, const link::Bytes &frame)>;

    void start(Receiver received, DeviceChange devicesChanged) override;
    bool stop() override;
    bool send(std::uint8_t address, std::span<const std::uint8_t> frame) override;
    void enumerate() override;
    std::uint32_t stations() const override { return running() ? 1u << 1 : 0; }

    // Hands bytes to the driver as if the base station had sent them; false when
    // the link is not started.
    bool inject(std::span<const std::uint8_t> bytes);
    // Reports a device change as the hot-plug monitor would.
    void signalDeviceChange();

    std::vector<Sent> sent() const;
    void setSendHook(SendHook hook);
    bool running() const;
    int enumerations() const;

  private:
    mutable std::mutex lock_;
    Receiver received_;
    DeviceChange devicesChanged_;
    SendHook hook_;
    std::vector<Sent> sent_;
    int enumerations_ = 0;
};

}  // namespace lyx::drv
