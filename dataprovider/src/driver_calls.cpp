#include "driver_calls.hpp"

#include "LyxDrv.h"

namespace lyx::dataprovider {
namespace {

using platform::Variant;

platform::Variant addressOf(const void *pointer) {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(pointer));
}

std::int32_t wholeResult(Variant result) {
    if (auto *value = result.getIf<std::int32_t>()) return *value;
    return 0;
}

}  // namespace

void DirectDriver::INITIALISEMULTI(const std::intptr_t *callbackAddress, std::int32_t instance) {
    ::INITIALISEMULTI(callbackAddress, instance);
}
std::int32_t DirectDriver::OPENPORT(std::int16_t port, std::int32_t baudRate) {
    return ::OPENPORT(port, baudRate);
}
std::int32_t DirectDriver::OPENUSB() {
    return ::OPENUSB();
}
std::int32_t DirectDriver::CLOSEPORT() {
    return ::CLOSEPORT();
}
std::int32_t DirectDriver::WRITEPACKET(std::uint8_t address, const std::uint8_t *payload,
                                       std::int32_t length) {
    return ::WRITEPACKET(address, payload, length);
}
float DirectDriver::VERSION() {
    return ::VERSION();
}

Variant DynamicDriver::call(const char *name, std::vector<Variant> arguments) {
    call_.put_FunctionName(name);
    platform::VariantArray list{0, std::move(arguments)};
    return call_.CallFunction(list);
}

void DynamicDriver::INITIALISEMULTI(const std::intptr_t *callbackAddress, std::int32_t instance) {
    call("INITIALISEMULTI", {addressOf(callbackAddress), instance});
}
std::int32_t DynamicDriver::OPENPORT(std::int16_t port, std::int32_t baudRate) {
    return wholeResult(call("OPENPORT", {port, baudRate}));
}
std::int32_t DynamicDriver::OPENUSB() {
    return wholeResult(call("OPENUSB", {}));
}
std::int32_t DynamicDriver::CLOSEPORT() {
    return wholeResult(call("CLOSEPORT", {}));
}
std::int32_t DynamicDriver::WRITEPACKET(std::uint8_t address, const std::uint8_t *payload,
                                        std::int32_t length) {
    return wholeResult(call("WRITEPACKET", {address, addressOf(payload), length}));
}
float DynamicDriver::VERSION() {
    Variant result = call("VERSION", {});
    if (auto *value = result.getIf<float>()) return *value;
    return 0.0f;
}

}  // namespace lyx::dataprovider
