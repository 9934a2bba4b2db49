// Pairing and parameter access through the exports against the simulator,
// over the virtual USB bus and over a pseudo-terminal.

#include <unistd.h>

#include <filesystem>
#include <thread>

#include "engine_test_support.hpp"
#include "lyx/sim/simulator.hpp"

using namespace lyx::drv;
using namespace lyx::drv::testing;
using lyx::link::Bytes;
using lyx::sim::EventKind;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

lyx::sim::TypedValue floatValue(float f) {
    auto raw = std::bit_cast<std::uint32_t>(f);
    return {lyx::sim::DataType::Float,
            {static_cast<std::uint8_t>(raw >> 24), static_cast<std::uint8_t>(raw >> 16),
             static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw)}};
}

}  // namespace

class SimulatedStation : public EngineTest, public ::testing::WithParamInterface<bool> {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        folder = fs::path("/tmp") / ("lyx-simcmd-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        lyx::sim::StationConfig station;
        station.number = 1;
        station.id = 0x001234;
        station.channel = 1;
        if (GetParam()) {
            ::setenv("LYX_VHID_DIR", folder.c_str(), 1);
            station.usb = true;
            station.usbFolder = folder.string();
        } else {
            ::setenv("LYX_PORT_DIR", folder.c_str(), 1);
            station.serialPort = true;
            station.portFolder = folder.string();
            station.com = 5;
        }
        ASSERT_TRUE(sim.addStation(station));

        lyx::sim::ModuleConfig gauge;
        gauge.id = 658188;  // 0A 0B 0C
        gauge.tag = 1234;
        gauge.rate = 0;  // quiet: these tests are about requests
        gauge.rssi = -101;
        gauge.linkQuality = 0xB0;
        gauge.batteryLow = true;
        gauge.parameters[20] = lyx::sim::makeParameter(floatValue(1.5f));
        lyx::sim::Parameter refusedWrite = lyx::sim::makeParameter(floatValue(2.0f));
        refusedWrite.forcedReply = 16;
        gauge.radioParameters[30] = refusedWrite;
        ASSERT_TRUE(sim.addModule(gauge));

        lyx::sim::ModuleConfig silent;
        silent.id = 1000;
        silent.tag = 7;
        silent.rate = 0;
        silent.answers = false;
        ASSERT_TRUE(sim.addModule(silent));

        lyx::sim::ModuleConfig faraway;
        faraway.id = 66051;  // 01 02 03
        faraway.tag = 42;
        faraway.channel = 7;
        faraway.rate = 0;
        ASSERT_TRUE(sim.addModule(faraway));

        ASSERT_EQ(GetParam() ? OPENUSB() : OPENPORT(5, 115200), 0);
    }
    void TearDown() override {
        EngineTest::TearDown();
        ::unsetenv("LYX_VHID_DIR");
        ::unsetenv("LYX_PORT_DIR");
    }
    // Powers `id` up as soon as the station waits for a bind (as a person
    // pressing the module's button would).
    std::jthread powerUpWhenAsked(std::uint32_t id) {
        return std::jthread([this, id] {
            if (sim.waitFor([](const auto &e) { return e.kind == EventKind::BindRequested; }, 5s)) {
                EXPECT_TRUE(sim.powerUp(id));
            }
        });
    }

    fs::path folder;
    lyx::sim::Simulator sim;
};

TEST_P(SimulatedStation, BindPairsTheModuleThatPowersUp) {
    auto button = powerUpWhenAsked(66051);
    std::int32_t id = 0, tag = 0;
    EXPECT_EQ(BIND(1, 0, 0, 10, &id, &tag), 0);
    EXPECT_EQ(id, 66051);
    EXPECT_EQ(tag, 42);
    EXPECT_TRUE(sim.waitFor([](const auto &e) { return e.kind == EventKind::Paired; }, 2s));
}

TEST_P(SimulatedStation, BindWithNobodyPoweringUpPairsNothing) {
    std::int32_t id = 5, tag = 6;
    EXPECT_EQ(BIND(1, 0, 0, 1, &id, &tag), 1);
    EXPECT_EQ(id, 5);
    EXPECT_EQ(tag, 6);
}

TEST_P(SimulatedStation, BindAsyncPendingThenPairedWithConfigurationMode) {
    std::int32_t id = 0, tag = 0;
    ASSERT_EQ(BINDASYNC(1, 0, 1, 5), 0);
    EXPECT_EQ(BINDASYNCPOLL(&id, &tag), 99);
    auto button = powerUpWhenAsked(66051);
    auto deadline = Clock::now() + 5s;
    while (BINDASYNCPOLL(&id, &tag) == 99 && Clock::now() < deadline)
        waitIdle(100ms);
    EXPECT_EQ(BINDASYNCPOLL(&id, &tag), 0);
    EXPECT_EQ(id, 66051);
    EXPECT_EQ(tag, 42);
    ASSERT_TRUE(sim.waitFor([](const auto &e) { return e.kind == EventKind::Paired; }, 2s));
    EXPECT_TRUE(sim.module(66051)->configurationMode);
}

TEST_P(SimulatedStation, BaseStationParametersReadWriteAndRefusal) {
    std::uint8_t buffer[99] = {};
    std::int32_t length = 0;
    EXPECT_EQ(READMODULE(1, 3, buffer, &length), 0);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x00, 0x12, 0x34}));
    std::uint8_t channel = 9;
    EXPECT_EQ(WRITEMODULE(1, 11, &channel, 1), 0);
    EXPECT_EQ(READMODULE(1, 11, buffer, &length), 0);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(sim.station(1)->config.channel, 9);
    ASSERT_TRUE(sim.setRefusedParameters(1, {11}));
    EXPECT_EQ(READMODULE(1, 11, buffer, &length), 3);
    EXPECT_EQ(length, 0);
}

TEST_P(SimulatedStation, RemoteReadGivesTheTypedValueWithSignalAndFlags) {
    std::uint8_t buffer[94] = {};
    std::int32_t length = 0;
    std::int16_t rssi = 0, quality = 0, flags = 0;
    EXPECT_EQ(READREMOTE(1, 658188, 20, buffer, &length, &rssi, &quality, &flags), 0);
    ASSERT_EQ(length, 5);
    EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{0x04, 0x3F, 0xC0, 0x00, 0x00}));
    EXPECT_EQ(rssi, -101);
    EXPECT_EQ(quality, 0x30);  // 0xB0 without its top bit
    EXPECT_EQ(flags, 2);       // battery low
    auto request = sim.waitFor(
        [](const auto &e) { return e.kind == EventKind::FrameFromPc && e.code == 5; }, 1s);
    ASSERT_TRUE(request);
}

TEST_P(SimulatedStation, RemoteWriteIsTakenAndReadBack) {
    Bytes value{0x05, '2', '.', '5'};  // as text; the module converts it
    std::int16_t rssi = 0, quality = 0, flags = 0;
    EXPECT_EQ(WRITEREMOTE(1, 658188, 20, value.data(), 4, &rssi, &quality, &flags), 0);
    std::uint8_t buffer[94] = {};
    std::int32_t length = 0;
    EXPECT_EQ(READREMOTE(1, 658188, 20, buffer, &length, &rssi, &quality, &flags), 0);
    EXPECT_EQ(Bytes(buffer, buffer + length), (Bytes{0x04, 0x40, 0x20, 0x00, 0x00}));
}

TEST_P(SimulatedStation, ModuleThatDoesNotAnswerGivesTwo) {
    std::uint8_t buffer[94] = {0x77};
    std::int32_t length = -1;
    std::int16_t rssi = 1, quality = 1, flags = 1;
    EXPECT_EQ(READREMOTE(1, 1000, 20, buffer, &length, &rssi, &quality, &flags), 2);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer[0], 0x77);
    // A module on another channel is not heard either.
    EXPECT_EQ(READREMOTE(1, 66051, 20, buffer, &length, &rssi, &quality, &flags), 2);
}

TEST_P(SimulatedStation, ValueRefusedByTheRadioModuleIsFourForWritesAndDataForReads) {
    std::uint8_t value[] = {0x04, 0x40, 0x00, 0x00, 0x00};
    std::int16_t rssi = 0, quality = 0, flags = 0;
    EXPECT_EQ(WRITEREMOTEMODULE(1, 658188, 30, value, 5, &rssi, &quality, &flags), 4);
    std::uint8_t buffer[94] = {};
    std::int32_t length = 0;
    EXPECT_EQ(READREMOTEMODULE(1, 658188, 30, buffer, &length, &rssi, &quality, &flags), 0);
    EXPECT_EQ(Bytes(buffer, buffer + length), (Bytes{0x04, 0x40, 0x00, 0x00, 0x00}));
}

TEST_P(SimulatedStation, CommandsFromInsideTheCallbackAreBusyAndSendNothing) {
    useCallback2();
    ASSERT_EQ(GetParam() ? OPENUSB() : OPENPORT(5, 115200), 0);
    std::vector<std::int32_t> results;
    onFrame = [&](const Received &) {
        std::uint8_t buffer[99];
        std::int32_t length = 0, id = 0, tag = 0;
        results.push_back(READMODULE(1, 11, buffer, &length));
        results.push_back(BIND(1, 0, 0, 1, &id, &tag));
    };
    const auto before = sim.lastSequence();
    ASSERT_TRUE(sim.sendFrame(1, Bytes{0x03, 0x00, 0x07, 0x00, 0x01, 0x05, 0xC8, 0xB0}));
    ASSERT_TRUE(pumpUntil([] { return !EngineTest::received.empty(); }));
    EXPECT_EQ(results, (std::vector<std::int32_t>{99, 99}));
    EXPECT_FALSE(
        sim.waitFor([](const auto &e) { return e.kind == EventKind::FrameFromPc; }, 200ms, before));
}

INSTANTIATE_TEST_SUITE_P(UsbAndSerial, SimulatedStation, ::testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Usb" : "Serial"; });
