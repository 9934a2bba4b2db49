// The driver's C exports. Pointers from the caller are checked here: a null
// pointer or a negative length is a defined no-op, never a crash.

#include <algorithm>
#include <cstring>
#include <vector>

#include "LyxDrv.h"
#include "commands/commands.hpp"
#include "driver.hpp"

using lyx::drv::driver;

extern "C" {

void INITIALISE(const intptr_t *callbackAddress) {
    driver().initialise(callbackAddress != nullptr ? *callbackAddress : 0);
}

void INITIALISEMULTI(const intptr_t *callbackAddress, int32_t instance) {
    driver().initialiseMulti(callbackAddress != nullptr ? *callbackAddress : 0, instance);
}

intptr_t CREATECALLBACKWINDOW(const int32_t *threadId) {
    if (threadId == nullptr) return 0;
    return driver().createCallbackWindow(*threadId);
}

LyxBStr GETNEXTPACKET(void) {
    return driver().getNextPacket();
}

int32_t ANYINQUEUE(void) {
    return driver().anyInQueue();
}

void CLRBUFFERS(void) {
    driver().clearBuffers();
}

int32_t OPENPORT(int16_t port, int32_t baudRate) {
    return driver().openPort(port, baudRate);
}

int32_t OPENUSB(void) {
    return driver().openUsb();
}

void ENUMUSB(void) {
    driver().enumUsb();
}

int32_t CLOSEPORT(void) {
    return driver().closePort();
}

int32_t WRITEPACKET(uint8_t address, const uint8_t *payload, int32_t length) {
    if (payload == nullptr || length <= 0) return 0;
    auto &d = driver();
    d.SENDCOMMAND(address, {payload, static_cast<std::size_t>(length)}, 0);
    std::lock_guard guard(d.rxLock);
    d.replyFrame.clear();
    return 0;
}

void SENDBROADCAST(uint8_t address, const uint8_t *bytes, int32_t length) {
    if (length < 0 || (bytes == nullptr && length > 0)) return;
    std::vector<uint8_t> payload;
    payload.reserve(static_cast<std::size_t>(length) + 1);
    payload.push_back(0);
    if (length > 0) payload.insert(payload.end(), bytes, bytes + length);
    auto &d = driver();
    d.SENDCOMMAND(address, payload, 0);
    std::lock_guard guard(d.rxLock);
    d.replyFrame.clear();
}

float VERSION(void) {
    return lyx::drv::kDriverVersion;
}

float READREVISION(uint8_t slot) {
    return driver().readRevision(slot);
}

int32_t BIND(uint8_t baseStation, uint8_t useRemoteSettings, int32_t mode, uint8_t duration,
             int32_t *id, int32_t *dataTag) {
    return lyx::drv::bind(driver(), baseStation, useRemoteSettings, mode, duration, id, dataTag);
}

int32_t BINDASYNC(uint8_t baseStation, uint8_t useRemoteSettings, uint8_t mode, uint8_t duration) {
    return lyx::drv::bindAsync(driver(), baseStation, useRemoteSettings, mode, duration);
}

int32_t BINDASYNCPOLL(int32_t *id, int32_t *dataTag) {
    return lyx::drv::bindAsyncPoll(driver(), id, dataTag);
}

int32_t READMODULE(uint8_t baseStation, uint8_t parameter, uint8_t *buffer, int32_t *length) {
    return lyx::drv::readModule(driver(), baseStation, parameter, buffer, length);
}

int32_t WRITEMODULE(uint8_t baseStation, uint8_t parameter, const uint8_t *data, int32_t length) {
    return lyx::drv::writeModule(driver(), baseStation, parameter, data, length);
}

int32_t READREMOTEMODULE(uint8_t baseStation, int32_t id, uint8_t parameter, uint8_t *buffer,
                         int32_t *length, int16_t *rssi, int16_t *linkQuality,
                         int16_t *statusFlags) {
    return lyx::drv::readRemote(driver(), true, baseStation, id, parameter, buffer, length,
                                {rssi, linkQuality, statusFlags});
}

int32_t WRITEREMOTEMODULE(uint8_t baseStation, int32_t id, uint8_t parameter, const uint8_t *data,
                          int32_t length, int16_t *rssi, int16_t *linkQuality,
                          int16_t *statusFlags) {
    return lyx::drv::writeRemote(driver(), true, baseStation, id, parameter, data, length,
                                 {rssi, linkQuality, statusFlags});
}

int32_t READREMOTE(uint8_t baseStation, int32_t id, uint8_t parameter, uint8_t *buffer,
                   int32_t *length, int16_t *rssi, int16_t *linkQuality, int16_t *statusFlags) {
    return lyx::drv::readRemote(driver(), false, baseStation, id, parameter, buffer, length,
                                {rssi, linkQuality, statusFlags});
}

int32_t WRITEREMOTE(uint8_t baseStation, int32_t id, uint8_t parameter, const uint8_t *data,
                    int32_t length, int16_t *rssi, int16_t *linkQuality, int16_t *statusFlags) {
    return lyx::drv::writeRemote(driver(), false, baseStation, id, parameter, data, length,
                                 {rssi, linkQuality, statusFlags});
}

int32_t LyxDrvGetLinkStatistics(LyxDrvLinkStatistics *statistics) {
    constexpr uint32_t kHeader = 2 * sizeof(uint32_t);
    if (statistics == nullptr || statistics->size < kHeader) return -1;
    const uint32_t room = statistics->size;
    LyxDrvLinkStatistics now = driver().statistics();
    // Past the size field only as much as the caller's structure holds.
    const std::size_t count = std::min<std::size_t>(room, sizeof now) - sizeof now.size;
    std::memcpy(reinterpret_cast<uint8_t *>(statistics) + sizeof now.size,
                reinterpret_cast<const uint8_t *>(&now) + sizeof now.size, count);
    return 0;
}

}  // extern "C"
