// Several DataProvider objects on one thread against simulated base stations:
// instance 1 on the driver loaded by plain name, the others on their private
// copies; notifications routed by instance number; closing and destruction.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "LyxDrv.h"
#include "callback_module.hpp"
#include "data_provider.hpp"
#include "lyx/link/frame.hpp"
#include "lyx/platform/messages.hpp"
#include "lyx/sim/pty_port.hpp"
#include "lyx/sim/vhid_device.hpp"
#include "test_support.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::testing;
using lyx::link::Bytes;
using lyx::platform::Ref;
using lyx::sim::PtyPort;
using namespace std::chrono_literals;

namespace {

// Pumps the thread's messages until `done` holds; false after five seconds.
bool pumpUntil(const std::function<bool()> &done) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        LyxPumpMessages();
        if (done()) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return false;
        lyx::platform::waitForMessages(static_cast<int>(left.count()));
    }
}

// Whether the serial line behind `port` is held open exclusively, as the
// driver holds an open port.
bool heldExclusively(const PtyPort &port) {
    int fd = ::open(port.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;  // refused: someone holds it exclusively
    int exclusive = 0;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    return exclusive != 0;
}

// The first `length` bytes of what reached TriggerEvent.
struct Seen {
    std::vector<Bytes> frames;
    std::vector<std::size_t> bufferSizes;
    DataProvider::TriggerProbe probe() {
        return [this](const lyx::platform::ByteArray &bytes, std::int32_t length) {
            frames.emplace_back(bytes.items.begin(), bytes.items.begin() + length);
            bufferSizes.push_back(bytes.items.size());
        };
    }
};

Bytes dataPacket(std::uint8_t baseStation, std::uint8_t value) {
    const std::uint8_t payload[] = {0x03, 0x00, 0x07, 0x00, 0x01, value, 0xC8, 0xB0};
    return lyx::link::buildFrame(baseStation, payload);
}

void notify(Bytes frame, std::int32_t length, std::int32_t instance) {
    const std::uint8_t *bytes = frame.data();
    CallbackModule::DriverCallback(&bytes, &length, &instance);
}

}  // namespace

class Routing : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(com5.ok() && com6.ok());
        ASSERT_TRUE(com5.linkAs(folder / "ports", 5));
        ASSERT_TRUE(com6.linkAs(folder / "ports", 6));
    }
    std::size_t copiesOnDisk() const {
        std::size_t n = 0;
        for (const auto &entry : fs::directory_iterator(folder.path()))
            n += entry.path().filename().string().starts_with("Lyx");
        return n;
    }
    CallbackModule::Registry &registry() { return *CallbackModule::currentRegistry(); }

    TestFolder folder;
    ScopedEnv tmp{"TMPDIR", folder.path().c_str()};
    ScopedEnv ports{"LYX_PORT_DIR", (folder / "ports").c_str()};
    PtyPort com5;
    PtyPort com6;
};

TEST_F(Routing, TwoObjectsOnOneThreadGetOnlyTheirOwnNotificationsAndBothSend) {
    Ref<DataProvider> a = DataProvider::create();
    Ref<DataProvider> b = DataProvider::create();
    Seen seenA, seenB;
    a->setTriggerProbe(seenA.probe());
    b->setTriggerProbe(seenB.probe());
    ASSERT_EQ(a->Initialise(5, 115200), 0);
    ASSERT_EQ(b->Initialise(6, 115200), 0);
    EXPECT_EQ(a->instance(), 1);
    EXPECT_EQ(b->instance(), 2);
    EXPECT_NE(a->driverCopy(), b->driverCopy());

    Bytes fromA = dataPacket(1, 10), fromB = dataPacket(1, 20);
    ASSERT_TRUE(com5.write(fromA));
    ASSERT_TRUE(com6.write(fromB));
    ASSERT_TRUE(pumpUntil([&] { return seenA.frames.size() == 1 && seenB.frames.size() == 1; }));
    EXPECT_EQ(seenA.frames[0], fromA);
    EXPECT_EQ(seenB.frames[0], fromB);
    EXPECT_EQ(seenA.bufferSizes[0], 129u);  // the receive buffer

    a->WritePacketNumeric(1, 0x1234, 0, 1000, DT_UINT16);
    b->WritePacketString(1, 5, 0, "abc", DT_STRING);
    EXPECT_EQ(com5.read(12, 2000),
              lyx::link::buildFrame(1, Bytes{3, 0x12, 0x34, 0, 2, 0x03, 0xE8}));
    EXPECT_EQ(com6.read(13, 2000), lyx::link::buildFrame(1, Bytes{3, 0, 5, 0, 5, 'a', 'b', 'c'}));
    EXPECT_EQ(b->lastDriverResult(), 0);

    // Instance 1 runs on the plain driver: closing that closes a's port only.
    EXPECT_TRUE(heldExclusively(com5));
    EXPECT_TRUE(heldExclusively(com6));
    ::CLOSEPORT();
    EXPECT_FALSE(heldExclusively(com5));
    EXPECT_TRUE(heldExclusively(com6));
}

TEST_F(Routing, EmptyOverlongAndUnregisteredNotificationsReachNobody) {
    Ref<DataProvider> a = DataProvider::create();
    Ref<DataProvider> b = DataProvider::create();
    Seen seenA, seenB;
    a->setTriggerProbe(seenA.probe());
    b->setTriggerProbe(seenB.probe());
    ASSERT_EQ(a->Initialise(5, 9600), 0);
    ASSERT_EQ(b->Initialise(6, 9600), 0);

    Bytes frame = dataPacket(1, 1);
    notify(frame, 0, 1);
    notify(frame, 0, 2);
    notify(frame, -4, 2);
    notify(Bytes(200, 3), 130, 2);
    notify(frame, static_cast<std::int32_t>(frame.size()), 7);
    notify(frame, static_cast<std::int32_t>(frame.size()), 0);
    EXPECT_TRUE(seenA.frames.empty());
    EXPECT_TRUE(seenB.frames.empty());

    notify(frame, static_cast<std::int32_t>(frame.size()), 2);
    notify(Bytes(129, 5), 129, 1);
    ASSERT_EQ(seenB.frames.size(), 1u);
    EXPECT_EQ(seenB.frames[0], frame);
    ASSERT_EQ(seenA.frames.size(), 1u);
    EXPECT_EQ(seenA.frames[0], Bytes(129, 5));
}

TEST_F(Routing, DestructionWithoutTerminateClosesThePortLeavesTheRegistryAndDeletesTheCopy) {
    Ref<DataProvider> a = DataProvider::create();
    Ref<DataProvider> b = DataProvider::create();
    ASSERT_EQ(a->Initialise(5, 9600), 0);
    ASSERT_EQ(b->Initialise(6, 9600), 0);
    const std::string copyA = a->driverCopy(), copyB = b->driverCopy();
    ASSERT_TRUE(fs::exists(copyA) && fs::exists(copyB));
    const std::string windowB =
        "LyxDrv " + std::to_string(lyx::platform::currentThreadId()) + "- 2";
    EXPECT_NE(lyx::platform::findWindow(windowB), 0);

    b.reset();
    EXPECT_FALSE(heldExclusively(com6));
    EXPECT_FALSE(fs::exists(copyB));
    EXPECT_EQ(lyx::platform::findWindow(windowB), 0);  // its copy is unloaded
    EXPECT_FALSE(registry().instanceRegistry.contains(2));
    EXPECT_TRUE(heldExclusively(com5));

    a.reset();
    EXPECT_FALSE(heldExclusively(com5));  // the plain driver stays loaded, its port closed
    EXPECT_FALSE(fs::exists(copyA));
    EXPECT_TRUE(registry().instanceRegistry.empty());
    EXPECT_EQ(registry().firstInstance, nullptr);
    EXPECT_EQ(registry().instanceCount, 0);
    EXPECT_EQ(copiesOnDisk(), 0u);
}

TEST_F(Routing, TerminateDispatchesMessagesForOneSecondAndTheCountNeverGoesBelowZero) {
    Ref<DataProvider> a = DataProvider::create();
    Ref<DataProvider> b = DataProvider::create();
    Seen seenB;
    b->setTriggerProbe(seenB.probe());
    ASSERT_EQ(a->Initialise(5, 9600), 0);
    ASSERT_EQ(b->Initialise(6, 9600), 0);

    // b's frame can only be delivered while this thread dispatches messages,
    // which it does inside a's Terminate.
    ASSERT_TRUE(com6.write(dataPacket(1, 99)));
    auto start = std::chrono::steady_clock::now();
    a->Terminate();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
    ASSERT_EQ(seenB.frames.size(), 1u);
    EXPECT_FALSE(heldExclusively(com5));
    EXPECT_EQ(registry().instanceCount, 1);
    EXPECT_EQ(registry().firstInstance, nullptr);

    a.reset();  // closes again, but leaves the count alone
    EXPECT_EQ(registry().instanceCount, 1);
    b.reset();
    EXPECT_EQ(registry().instanceCount, 0);

    Ref<DataProvider> c = DataProvider::create();
    ASSERT_EQ(c->Initialise(5, 9600), 0);
    EXPECT_EQ(c->instance(), 1);  // back on the plain driver
    EXPECT_TRUE(heldExclusively(com5));
}

TEST_F(Routing, NumbersStillHeldAreSkippedAndASecondInitialiseKeepsTheNumber) {
    Ref<DataProvider> a = DataProvider::create();
    Ref<DataProvider> b = DataProvider::create();
    ASSERT_EQ(a->Initialise(5, 9600), 0);
    ASSERT_EQ(b->Initialise(6, 9600), 0);
    a.reset();  // the count drops to 1 while 2 is still held
    Ref<DataProvider> c = DataProvider::create();
    Seen seenC;
    c->setTriggerProbe(seenC.probe());
    c->Initialise(5, 9600);
    EXPECT_EQ(c->instance(), 3);
    EXPECT_EQ(registry().instanceRegistry.size(), 2u);

    ASSERT_TRUE(com5.write(dataPacket(1, 3)));
    ASSERT_TRUE(pumpUntil([&] { return seenC.frames.size() == 1; }));

    ASSERT_EQ(c->Initialise(5, 9600), 0);
    EXPECT_EQ(c->instance(), 3);
    EXPECT_EQ(registry().instanceRegistry.size(), 2u);
    ASSERT_TRUE(com5.write(dataPacket(1, 4)));
    ASSERT_TRUE(pumpUntil([&] { return seenC.frames.size() == 2; }));
}

TEST_F(Routing, PortZeroOpensTheUsbBaseStations) {
    ScopedEnv bus("LYX_VHID_DIR", (folder / "vhid").c_str());
    fs::create_directories(folder.path() / "vhid");
    std::mutex lock;
    std::vector<Bytes> outputs;
    lyx::sim::VirtualHidDevice station((folder / "vhid"), "bs1", {0x1781, 0x0BA4, 0x0203, "1"},
                                       [&](std::span<const std::uint8_t> report) {
                                           std::lock_guard guard(lock);
                                           outputs.emplace_back(report.begin(), report.end());
                                       });
    ASSERT_TRUE(station.plugIn());

    Ref<DataProvider> a = DataProvider::create();
    Seen seen;
    a->setTriggerProbe(seen.probe());
    ASSERT_EQ(a->Initialise(0, 12345), 0);
    ASSERT_TRUE(station.waitForConnections(1, 5000));
    Bytes frame = dataPacket(1, 42);
    ASSERT_TRUE(pumpUntil([&] {
        if (!seen.frames.empty()) return true;
        station.sendFrame(frame);
        return false;
    }));
    EXPECT_EQ(seen.frames[0], frame);

    a->WritePacketNumeric(1, 5, 0, 1.5, DT_FLOAT);
    Bytes expected = lyx::link::buildFrame(1, Bytes{3, 0, 5, 0, 4, 0x3F, 0xC0, 0, 0});
    ASSERT_TRUE(pumpUntil([&] {
        std::lock_guard guard(lock);
        return !outputs.empty();
    }));
    std::lock_guard guard(lock);
    EXPECT_EQ(Bytes(outputs[0].begin() + 1, outputs[0].begin() + 1 + expected.size()), expected);
}
