// The driver's C exports. Pointers from the caller are checked here: a null
// pointer or a negative length is a defined no-op, never a crash.

#include <vector>

#include "LyxDrv.h"
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

}  // extern "C"
