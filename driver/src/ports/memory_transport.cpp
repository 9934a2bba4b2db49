#include "ports/memory_transport.hpp"

namespace lyx::drv {

void MemoryTransport::start(Receiver received, DeviceChange devicesChanged) {
    std::lock_guard guard(lock_);
    received_ = std::move(received);
    devicesChanged_ = std::move(devicesChanged);
}

bool MemoryTransport::stop() {
    std::lock_guard guard(lock_);
    received_ = nullptr;
    devicesChanged_ = nullptr;
    return true;
}

bool MemoryTransport::send(std::uint8_t address, std::span<const std::uint8_t> frame) {
    SendHook hook;
    link::Bytes copy(frame.begin(), frame.end());
    {
        std::lock_guard guard(lock_);
        sent_.push_back({address, copy});
        hook = hook_;
    }
    if (hook) hook(address, copy);
    return true;
}

void MemoryTransport::enumerate() {
    std::lock_guard guard(lock_);
    ++enumerations_;
}

bool MemoryTransport::inject(std::span<const std::uint8_t> bytes) {
    // Held while the driver appends, so that stop() cannot return while a chunk
    // is still being handed over, as with a real reader thread.
    std::lock_guard guard(lock_);
    if (!received_) return false;
    received_(bytes);
    return true;
}

void MemoryTransport::signalDeviceChange() {
    std::lock_guard guard(lock_);
    if (devicesChanged_) devicesChanged_();
}

std::vector<MemoryTransport::Sent> MemoryTransport::sent() const {
    std::lock_guard guard(lock_);
    return sent_;
}

void MemoryTransport::setSendHook(SendHook hook) {
    std::lock_guard guard(lock_);
    hook_ = std::move(hook);
}

bool MemoryTransport::running() const {
    std::lock_guard guard(lock_);
    return static_cast<bool>(received_);
}

int MemoryTransport::enumerations() const {
    std::lock_guard guard(lock_);
    return enumerations_;
}

}  // namespace lyx::drv
