// CallbackModule: the routine the driver calls for every received frame, and
// the registry of initialised DataProvider objects by instance number, held
// once per client thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>

namespace lyx::dataprovider {
class DataProvider;
}

namespace lyx::dataprovider::CallbackModule {

inline constexpr std::size_t kReceiveBufferSize = 129;

// The objects of one thread by instance number. Entries do not hold the
// objects: an object leaves the registry when it closes its driver, at the
// latest when it is destroyed.
struct Registry {
    std::map<std::int32_t, DataProvider *> instanceRegistry;
    std::int32_t instanceCount = 0;  // the number handed out last
    DataProvider *firstInstance = nullptr;
};

// The calling thread's registry, made on first use.
std::shared_ptr<Registry> currentRegistry();

// Registers `object` under instanceCount + 1, or the next number above it that
// no registered object holds; returns the number.
std::int32_t RegisterInstance(Registry &registry, DataProvider &object);
// Removes `object`'s entry `instance`; nothing happens when the entry is not
// the object's (already removed, or 0).
void UnregisterInstance(Registry &registry, std::int32_t instance, const DataProvider &object);

// The three-argument frame callback of the driver: routes the frame to
// TriggerEvent of the object registered on this thread under `*instance`.
// Frames of length 0, longer than the receive buffer, or for numbers not
// registered reach nobody; errors are ignored.
void DriverCallback(const std::uint8_t **frame, std::int32_t *length, std::int32_t *instance);

// The address of DriverCallback, as the driver takes it.
std::intptr_t FunctionAddress();

// Where the driver library lies: $LYX_SYSTEM_DIR, else the folder of the
// libLyxDrv.so that the component is linked with.
std::string SystemDirectory();

// buffer[offset] * 65536 + buffer[offset + 1] * 256 + buffer[offset + 2]; 0 when
// the buffer is too short.
std::int32_t BytesToID(std::span<const std::uint8_t> buffer, std::size_t offset);

}  // namespace lyx::dataprovider::CallbackModule
