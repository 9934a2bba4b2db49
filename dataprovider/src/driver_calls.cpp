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
std::int32_t DirectDriver::BIND(std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                                std::int32_t mode, std::uint8_t duration, std::int32_t *id,
                                std::int32_t *dataTag) {
    return ::BIND(baseStation, useRemoteSettings, mode, duration, id, dataTag);
}
std::int32_t DirectDriver::BINDASYNC(std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                                     std::uint8_t mode, std::uint8_t duration) {
    return ::BINDASYNC(baseStation, useRemoteSettings, mode, duration);
}
std::int32_t DirectDriver::BINDASYNCPOLL(std::int32_t *id, std::int32_t *dataTag) {
    return ::BINDASYNCPOLL(id, dataTag);
}
std::int32_t DirectDriver::READMODULE(std::uint8_t baseStation, std::uint8_t parameter,
                                      std::uint8_t *buffer, std::int32_t *length) {
    return ::READMODULE(baseStation, parameter, buffer, length);
}
std::int32_t DirectDriver::WRITEMODULE(std::uint8_t baseStation, std::uint8_t parameter,
                                       const std::uint8_t *data, std::int32_t length) {
    return ::WRITEMODULE(baseStation, parameter, data, length);
}
std::int32_t DirectDriver::READREMOTE(std::uint8_t baseStation, std::int32_t id,
                                      std::uint8_t parameter, std::uint8_t *buffer,
                                      std::int32_t *length, std::int16_t *rssi,
                                      std::int16_t *linkQuality, std::int16_t *statusFlags) {
    return ::READREMOTE(baseStation, id, parameter, buffer, length, rssi, linkQuality, statusFlags);
}
std::int32_t DirectDriver::WRITEREMOTE(std::uint8_t baseStation, std::int32_t id,
                                       std::uint8_t parameter, const std::uint8_t *data,
                                       std::int32_t length, std::int16_t *rssi,
                                       std::int16_t *linkQuality, std::int16_t *statusFlags) {
    return ::WRITEREMOTE(baseStation, id, parameter, data, length, rssi, linkQuality, statusFlags);
}

std::int32_t DirectDriver::LyxDrvGetLinkStatistics(LyxDrvLinkStatistics *statistics) {
    return ::LyxDrvGetLinkStatistics(statistics);
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
std::int32_t DynamicDriver::BIND(std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                                 std::int32_t mode, std::uint8_t duration, std::int32_t *id,
                                 std::int32_t *dataTag) {
    return wholeResult(call("BIND", {baseStation, useRemoteSettings, mode, duration, addressOf(id),
                                     addressOf(dataTag)}));
}
std::int32_t DynamicDriver::BINDASYNC(std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                                      std::uint8_t mode, std::uint8_t duration) {
    return wholeResult(call("BINDASYNC", {baseStation, useRemoteSettings, mode, duration}));
}
std::int32_t DynamicDriver::BINDASYNCPOLL(std::int32_t *id, std::int32_t *dataTag) {
    return wholeResult(call("BINDASYNCPOLL", {addressOf(id), addressOf(dataTag)}));
}
std::int32_t DynamicDriver::READMODULE(std::uint8_t baseStation, std::uint8_t parameter,
                                       std::uint8_t *buffer, std::int32_t *length) {
    return wholeResult(
        call("READMODULE", {baseStation, parameter, addressOf(buffer), addressOf(length)}));
}
std::int32_t DynamicDriver::WRITEMODULE(std::uint8_t baseStation, std::uint8_t parameter,
                                        const std::uint8_t *data, std::int32_t length) {
    return wholeResult(call("WRITEMODULE", {baseStation, parameter, addressOf(data), length}));
}
std::int32_t DynamicDriver::READREMOTE(std::uint8_t baseStation, std::int32_t id,
                                       std::uint8_t parameter, std::uint8_t *buffer,
                                       std::int32_t *length, std::int16_t *rssi,
                                       std::int16_t *linkQuality, std::int16_t *statusFlags) {
    return wholeResult(
        call("READREMOTE", {baseStation, id, parameter, addressOf(buffer), addressOf(length),
                            addressOf(rssi), addressOf(linkQuality), addressOf(statusFlags)}));
}
std::int32_t DynamicDriver::WRITEREMOTE(std::uint8_t baseStation, std::int32_t id,
                                        std::uint8_t parameter, const std::uint8_t *data,
                                        std::int32_t length, std::int16_t *rssi,
                                        std::int16_t *linkQuality, std::int16_t *statusFlags) {
    return wholeResult(
        call("WRITEREMOTE", {baseStation, id, parameter, addressOf(data), length, addressOf(rssi),
                             addressOf(linkQuality), addressOf(statusFlags)}));
}
std::int32_t DynamicDriver::LyxDrvGetLinkStatistics(LyxDrvLinkStatistics *statistics) {
    return wholeResult(call("LyxDrvGetLinkStatistics", {addressOf(statistics)}));
}
float DynamicDriver::VERSION() {
    Variant result = call("VERSION", {});
    if (auto *value = result.getIf<float>()) return *value;
    return 0.0f;
}

}  // namespace lyx::dataprovider
