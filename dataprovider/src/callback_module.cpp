#include "callback_module.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "LyxDrv.h"
#include "data_provider.hpp"
#include "lyx/platform/dispatch.hpp"

namespace lyx::dataprovider::CallbackModule {

std::shared_ptr<Registry> currentRegistry() {
    thread_local std::shared_ptr<Registry> registry = std::make_shared<Registry>();
    return registry;
}

std::int32_t RegisterInstance(Registry &registry, DataProvider &object) {
    std::int32_t number = registry.instanceCount + 1;
    // Numbers are counts: after other objects closed, the next count may still
    // be held by a live object. Skip it rather than fail.
    while (registry.instanceRegistry.contains(number))
        ++number;
    registry.instanceCount = number;
    registry.instanceRegistry[number] = &object;
    if (number == 1) registry.firstInstance = &object;
    return number;
}

void UnregisterInstance(Registry &registry, std::int32_t instance, const DataProvider &object) {
    if (instance == 0) return;
    auto found = registry.instanceRegistry.find(instance);
    if (found == registry.instanceRegistry.end() || found->second != &object) return;
    registry.instanceRegistry.erase(found);
    if (instance == 1) registry.firstInstance = nullptr;
    if (registry.instanceCount > 0) --registry.instanceCount;
}

void DriverCallback(const std::uint8_t **frame, std::int32_t *length, std::int32_t *instance) {
    if (frame == nullptr || length == nullptr || instance == nullptr) return;
    const std::int32_t count = *length;
    if (count <= 0 || *frame == nullptr) return;
    if (count > static_cast<std::int32_t>(kReceiveBufferSize)) return;

    try {
        platform::ByteArray buffer{0, std::vector<std::uint8_t>(kReceiveBufferSize, 0)};
        std::copy_n(*frame, count, buffer.items.begin());
        std::int32_t bufferLength = count;
        Registry &registry = *currentRegistry();
        if (*instance == 1) {
            platform::Ref<DataProvider> first(registry.firstInstance);
            if (first) first->TriggerEvent(buffer, bufferLength);
            return;
        }
        auto found = registry.instanceRegistry.find(*instance);
        if (found == registry.instanceRegistry.end()) return;
        platform::Ref<DataProvider> target(found->second);
        platform::Variant bytes(std::move(buffer));
        platform::Variant lengthArg(bufferLength);
        platform::Variant args[] = {platform::Variant::ref(bytes),
                                    platform::Variant::ref(lengthArg)};
        platform::callByName(*target, "TriggerEvent", platform::kInvokeMethod, args);
    } catch (...) {
        // Nothing that goes wrong here may reach the driver.
    }
}

std::intptr_t FunctionAddress() {
    return reinterpret_cast<std::intptr_t>(&DriverCallback);
}

std::string SystemDirectory() {
    if (const char *folder = std::getenv("LYX_SYSTEM_DIR"); folder != nullptr && *folder != '\0')
        return folder;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void *>(&::VERSION), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code ec;
    auto path = std::filesystem::absolute(info.dli_fname, ec);
    return path.parent_path().string();
}

std::int32_t BytesToID(std::span<const std::uint8_t> buffer, std::size_t offset) {
    if (offset > buffer.size() || buffer.size() - offset < 3) return 0;
    return buffer[offset] * 65536 + buffer[offset + 1] * 256 + buffer[offset + 2];
}

}  // namespace lyx::dataprovider::CallbackModule
