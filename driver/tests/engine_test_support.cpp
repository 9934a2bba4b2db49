#include "engine_test_support.hpp"

#include <thread>

#include "lyx/platform/messages.hpp"

namespace lyx::drv::testing {

std::vector<Received> EngineTest::received;
std::function<void(const Received &)> EngineTest::onFrame;

namespace {

void record(const std::uint8_t **frame, std::int32_t *length, std::int32_t instance) {
    Received r;
    r.frame.assign(*frame, *frame + *length);
    r.length = *length;
    r.instance = instance;
    r.thread = platform::currentThreadId();
    EngineTest::received.push_back(r);
    if (EngineTest::onFrame) EngineTest::onFrame(r);
}

void callback2(const std::uint8_t **frame, std::int32_t *length) {
    record(frame, length, -1);
}

void callback3(const std::uint8_t **frame, std::int32_t *length, std::int32_t *instance) {
    record(frame, length, *instance);
}

}  // namespace

void EngineTest::SetUp() {
    CLOSEPORT();
    INITIALISEMULTI(nullptr, 0);
    CLRBUFFERS();
    SysFreeString(GETNEXTPACKET());
    {
        std::lock_guard guard(d.rxLock);
        d.held = FrameStore();
        d.counters = {};
    }
    d.bindDeadline = 0.0;
    d.bindStatus = 0;
    d.bindId = 0;
    d.bindValue = 0;
    d.commandBusy = 0;
    received.clear();
    onFrame = nullptr;
    transport = std::make_shared<MemoryTransport>();
}

void EngineTest::TearDown() {
    CLOSEPORT();
    platform::pumpMessages();
    onFrame = nullptr;
    INITIALISEMULTI(nullptr, 0);
}

void EngineTest::open(bool usb) {
    ASSERT_TRUE(d.openLink(transport, usb));
}

Bytes EngineTest::frame(std::uint8_t address, std::initializer_list<std::uint8_t> payload) {
    return link::buildFrame(address, Bytes(payload));
}

bool EngineTest::pumpUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return false;
        if (platform::waitForMessages(static_cast<int>(std::min<long>(left.count(), 50)))) {
            platform::pumpMessages();
        }
    }
    return true;
}

bool EngineTest::waitIdle(std::chrono::milliseconds) {
    d.waitUntilIdle();
    return true;
}

std::optional<Bytes> EngineTest::nextPacket() {
    LyxBStr packet = GETNEXTPACKET();
    if (packet == nullptr) return std::nullopt;
    Bytes bytes(packet, packet + SysStringByteLen(packet));
    SysFreeString(packet);
    return bytes;
}

void EngineTest::useCallback2() {
    intptr_t address = reinterpret_cast<intptr_t>(&callback2);
    INITIALISEMULTI(&address, 0);
}

void EngineTest::useCallback3(std::int32_t instance) {
    intptr_t address = reinterpret_cast<intptr_t>(&callback3);
    INITIALISEMULTI(&address, instance);
}

}  // namespace lyx::drv::testing
