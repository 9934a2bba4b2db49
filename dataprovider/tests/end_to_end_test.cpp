// DataProvider against the simulator over the virtual USB bus: simulated
// modules of every data type to PacketArrived, the command windows reaching the
// modules, pairing, remote parameters, the base station's ID and channel.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <map>
#include <thread>

#include "LyxPlatform.h"
#include "data_provider.hpp"
#include "lyx/platform/messages.hpp"
#include "lyx/sim/simulator.hpp"
#include "recording_sink.hpp"
#include "test_support.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::testing;
using namespace lyx::platform;
using lyx::sim::DataType;
using lyx::sim::EventKind;
using lyx::sim::ModuleConfig;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// A module sending a constant reading of a numeric type.
ModuleConfig numeric(std::uint32_t id, std::uint16_t tag, DataType type, double value,
                     double rate = 20) {
    ModuleConfig m;
    m.id = id;
    m.tag = tag;
    m.type = type;
    m.wave.offset = value;
    m.rate = rate;
    return m;
}

// A module sending fixed value bytes (strings, binary, other types).
ModuleConfig fixed(std::uint32_t id, std::uint16_t tag, DataType type, lyx::sim::Bytes value,
                   double rate = 20) {
    ModuleConfig m;
    m.id = id;
    m.tag = tag;
    m.type = type;
    m.fixedValue = std::move(value);
    m.rate = rate;
    return m;
}

}  // namespace

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        bus = fs::path("/tmp") / ("lyx-e2e-" + std::to_string(::getpid()));
        fs::remove_all(bus);
        fs::create_directories(bus);
        ::setenv("LYX_VHID_DIR", bus.c_str(), 1);
        lyx::sim::StationConfig station;
        station.number = 1;
        station.id = 0x001234;
        station.channel = 3;
        station.usb = true;
        station.usbFolder = bus.string();
        ASSERT_TRUE(sim.addStation(station));
        dp = DataProvider::create();
        sink = makeObject<RecordingSink>();
        dp->advise(kEventsId, *sink);
    }
    void TearDown() override {
        dp.reset();
        ::unsetenv("LYX_VHID_DIR");
        fs::remove_all(bus);
    }
    void add(ModuleConfig m) {
        m.channel = 3;
        auto added = sim.addModule(m);
        ASSERT_TRUE(added) << added.error();
    }
    void open() { ASSERT_EQ(dp->Initialise(0, 0), 0); }
    // Pumps messages until `done` holds; false after `limit`.
    bool pumpUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 5s) {
        auto deadline = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > deadline) return false;
            if (waitForMessages(50)) LyxPumpMessages();
        }
        return true;
    }
    bool pumpFor(std::chrono::milliseconds time) {
        return !pumpUntil([] { return false; }, time);
    }

    TestFolder folder;
    ScopedEnv tmp{"TMPDIR", folder.path().c_str()};
    fs::path bus;
    lyx::sim::Simulator sim;
    Ref<DataProvider> dp;
    Ref<RecordingSink> sink;
};

TEST_F(EndToEnd, ModulesOfEveryDataTypeRaisePacketArrived) {
    ModuleConfig u8 = numeric(0x100001, 0x1234, DataType::UInt8, 200);
    u8.status = 5;
    u8.rssi = -101;
    u8.linkQuality = 0xB0;
    u8.batteryLow = true;
    add(u8);
    add(numeric(0x100002, 2, DataType::UInt16, 65534));
    add(numeric(0x100003, 3, DataType::Int32, -2));
    add(numeric(0x100004, 4, DataType::Int32, 123456789));
    add(numeric(0x100005, 5, DataType::Float, 1.5));
    add(numeric(0x100006, 6, DataType::Float, 1234.5678));
    add(numeric(0x100007, 7, DataType::Float, -5.5));
    add(numeric(0x100008, 8, DataType::Float, 0.001234));
    add(fixed(0x100009, 9, DataType::String, {'H', 'e', 'l', 'l', 'o'}));
    add(fixed(0x10000A, 10, DataType::Binary, {0x00, 0x80, 0xFF}));
    ModuleConfig flagged = numeric(0x10000B, 11, DataType::UInt8, 9);
    flagged.error = true;
    add(flagged);
    add(fixed(0x10000C, 12, static_cast<DataType>(9), {1, 2}));  // unknown type: nothing
    open();
    const std::map<std::int32_t, std::string> expected{
        {0x1234, "200"},  {2, "65534"},
        {3, "-2"},        {4, "1.234568E+08"},
        {5, "1.500000"},  {6, "1234.567"},
        {7, "-5.500000"}, {8, "0.0012340"},
        {9, "Hello"},     {10, std::string("\x00\x80\xFF", 3)},
        {11, "9"}};
    pumpUntil([&] {
        for (const auto &[tag, _] : expected) {
            if (!sink->lastOf(tag)) return false;
        }
        return true;
    });
    for (const auto &[tag, text] : expected) {
        ASSERT_TRUE(sink->lastOf(tag)) << "nothing for tag " << tag;
        EXPECT_EQ(sink->lastOf(tag)->value, text) << tag;
    }
    const Arrival a = *sink->lastOf(0x1234);
    EXPECT_EQ(a.baseStation, 1);
    EXPECT_EQ(a.status, 5);
    EXPECT_EQ(a.rssi, -101);
    EXPECT_EQ(a.cv, 48);
    EXPECT_TRUE(a.battLow);
    EXPECT_FALSE(a.error);
    EXPECT_TRUE(sink->lastOf(11)->error);
    EXPECT_FALSE(sink->lastOf(12));
    EXPECT_EQ(dp->get_ReadPacket(2, 5000), "65534");
}

TEST_F(EndToEnd, SleepStopsTheModuleAndWakeBroadcastStartsItAgain) {
    add(numeric(0x0A0B0C, 1234, DataType::UInt8, 1));
    open();
    ASSERT_TRUE(pumpUntil([&] { return sink->lastOf(1234).has_value(); }));
    dp->SleepByDataTag(1234);
    ASSERT_TRUE(pumpUntil([&] { return sim.module(0x0A0B0C)->asleep; }));
    pumpFor(300ms);  // the last packets on their way
    const std::size_t asleepCount = sink->seen.size();
    pumpFor(500ms);
    EXPECT_EQ(sink->seen.size(), asleepCount) << "a sleeping module sent data";

    // Woken within the sleep's five-second window, it stays awake.
    dp->WakeBroadcast(1);
    ASSERT_TRUE(pumpUntil([&] { return !sim.module(0x0A0B0C)->asleep; }));
    ASSERT_TRUE(pumpUntil([&] { return sink->seen.size() > asleepCount + 3; }));
    EXPECT_TRUE(sim.waitFor([](const auto &e) { return e.kind == EventKind::Woken; }, 1s));
    EXPECT_FALSE(sim.module(0x0A0B0C)->asleep) << "sent back to sleep by the open window";
}

TEST_F(EndToEnd, WakeByIdWakesOnlyThatModule) {
    add(numeric(0x0A0B0C, 1, DataType::UInt8, 1));
    add(numeric(0x0A0B0D, 2, DataType::UInt8, 2));
    ASSERT_TRUE(sim.setAsleep(0x0A0B0C, true));
    ASSERT_TRUE(sim.setAsleep(0x0A0B0D, true));
    open();
    dp->WakeByID(1, 0x0A0B0D);
    ASSERT_TRUE(pumpUntil([&] { return sink->lastOf(2).has_value(); }));
    EXPECT_TRUE(sim.module(0x0A0B0C)->asleep);
}

TEST_F(EndToEnd, PauseReachesTheModule) {
    add(numeric(0x0A0B0C, 1234, DataType::UInt8, 1));
    open();
    ASSERT_TRUE(pumpUntil([&] { return sink->lastOf(1234).has_value(); }));
    dp->PauseByDataTag(1234);
    ASSERT_TRUE(pumpUntil([&] { return sim.module(0x0A0B0C)->paused; }));
}

// A module sending every second: one stay-awake command on its first packet,
// the next no earlier than five seconds later.
TEST_F(EndToEnd, StayAwakeAtMostOncePerFiveSecondsPerTag) {
    add(numeric(0x0A0B0C, 7, DataType::UInt8, 1, 1.0));
    open();
    ASSERT_TRUE(pumpUntil([&] { return sink->lastOf(7).has_value(); }, 3s));
    const auto armed = sim.lastSequence();
    dp->BroadcastStayAwake();
    pumpFor(6500ms);
    std::vector<Clock::time_point> heard;
    for (const auto &e : sim.events(armed)) {
        if (e.kind == EventKind::CommandHeard && e.code == 3) heard.push_back(e.time);
    }
    ASSERT_GE(heard.size(), 1u);
    ASSERT_LE(heard.size(), 2u);
    if (heard.size() == 2) {
        // Sent at least 5 000 ms apart by the tick; heard after the radio's own delays.
        EXPECT_GE(heard[1] - heard[0], 4900ms);
    }
}

TEST_F(EndToEnd, PairTakesTheModuleThatPowersUp) {
    ModuleConfig faraway = numeric(66051, 42, DataType::UInt8, 1, 0);
    faraway.channel = 7;
    ASSERT_TRUE(sim.addModule(faraway));
    open();
    std::jthread button([&] {
        if (sim.waitFor([](const auto &e) { return e.kind == EventKind::BindRequested; }, 5s)) {
            EXPECT_TRUE(sim.powerUp(66051));
        }
    });
    std::int32_t id = 0, tag = 0;
    EXPECT_EQ(dp->Pair(1, 0, 5, id, tag), 0);
    EXPECT_EQ(id, 66051);
    EXPECT_EQ(tag, 42);
    EXPECT_EQ(sim.module(66051)->config.channel, 3);  // moved to the station's channel
}

TEST_F(EndToEnd, APairingStartedAsynchronouslyLetsPacketsThroughWhileItWaits) {
    ModuleConfig faraway = numeric(66051, 42, DataType::UInt8, 1, 0);
    faraway.channel = 7;
    ASSERT_TRUE(sim.addModule(faraway));
    add(numeric(0x0A0B0C, 7, DataType::UInt16, 3, 20));
    open();
    auto pairing = dp.query<IPairing>();
    ASSERT_TRUE(pairing);
    ASSERT_EQ(pairing->PairStart(1, 0, true, 5), 0);
    std::int32_t id = 0, tag = 0;
    EXPECT_EQ(pairing->PairPoll(id, tag), 99);
    // A second of waiting for a module: the other module's packets arrive meanwhile.
    const auto heard = [&] {
        return std::count_if(sink->seen.begin(), sink->seen.end(),
                             [](const auto &a) { return a.tag == 7; });
    };
    const auto before = heard();
    pumpFor(1000ms);
    EXPECT_GE(heard() - before, 10);
    EXPECT_EQ(pairing->PairPoll(id, tag), 99);
    ASSERT_TRUE(sim.powerUp(66051));
    ASSERT_TRUE(pumpUntil([&] { return pairing->PairPoll(id, tag) != 99; }, 3s));
    EXPECT_EQ(pairing->PairPoll(id, tag), 0);
    EXPECT_EQ((std::pair{id, tag}), (std::pair{66051, 42}));
    EXPECT_TRUE(sim.module(66051)->configurationMode) << "configuration mode asked for";
}

TEST_F(EndToEnd, RemoteParametersOfEveryTypeRoundTrip) {
    ModuleConfig m = numeric(0x0A0B0C, 1, DataType::UInt8, 1, 0);
    m.parameters[1] = lyx::sim::makeParameter({DataType::UInt8, {7}});
    m.parameters[2] = lyx::sim::makeParameter({DataType::UInt16, {0, 0}});
    m.parameters[3] = lyx::sim::makeParameter({DataType::Int32, {0, 0, 0, 0}});
    m.parameters[4] = lyx::sim::makeParameter({DataType::Float, {0, 0, 0, 0}});
    m.parameters[5] = lyx::sim::makeParameter({DataType::String, {}});
    m.parameters[6] = lyx::sim::makeParameter({DataType::Binary, {}});
    add(m);
    open();
    const std::vector<std::pair<std::uint8_t, std::pair<std::string, std::string>>> cases{
        {1, {"200", "200"}},
        {2, {"65534", "65534"}},
        {3, {"-70000", "-70000"}},
        {4, {"2.5", "2.5"}},
        {5, {"Load cell 1", "Load cell 1"}},
        {6, {"AB", "4142"}}};  // the text's bytes, read back in hexadecimal
    std::uint8_t bs = 1;
    std::int32_t id = 0x0A0B0C;
    for (const auto &[parameter, texts] : cases) {
        std::uint8_t command = parameter;
        std::string written = texts.first;
        EXPECT_EQ(dp->RemoteWrite(bs, id, command, written), RT_ACK) << int(parameter);
        std::string read = "?";
        EXPECT_EQ(dp->RemoteRead(bs, id, command, read), RT_ACK) << int(parameter);
        EXPECT_EQ(read, texts.second) << int(parameter);
    }
    std::uint8_t missing = 99;
    std::string value = "x";
    EXPECT_EQ(dp->RemoteRead(bs, id, missing, value), RT_NAK);
    EXPECT_EQ(value, "");
}

TEST_F(EndToEnd, BaseStationIdAndChannelChange) {
    open();
    EXPECT_EQ(dp->BaseStationID(1), 0x1234);
    EXPECT_EQ(dp->get_BaseStationChannel(1), 3);
    const auto before = sim.lastSequence();
    dp->put_BaseStationChannel(1, 9);
    EXPECT_EQ(dp->get_BaseStationChannel(1), 9);
    std::vector<lyx::sim::Event> writes;
    for (const auto &e : sim.events(before)) {
        if (e.kind == EventKind::StationParameterWritten) writes.push_back(e);
    }
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].code, 11);
    EXPECT_EQ(writes[1].code, 24);
    EXPECT_EQ(writes[2].code, 25);
    EXPECT_GE(writes[2].time - writes[1].time, 450ms);
}

TEST_F(EndToEnd, WithoutABaseStationIdAndChannelAreZero) {
    ASSERT_TRUE(sim.removeStation(1));
    open();
    EXPECT_EQ(dp->BaseStationID(1), 0);
    EXPECT_EQ(dp->get_BaseStationChannel(1), 0);
}
