// Device commands of DataProvider against a scripted base station, on the
// serial line of a pseudo-terminal and on the virtual USB bus.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>

#include "data_provider.hpp"
#include "lyx/link/frame.hpp"
#include "lyx/platform/messages.hpp"
#include "scripted_station.hpp"
#include "test_support.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::testing;
using namespace lyx::platform;
using lyx::drv::testing::ScriptedStation;
using lyx::link::Bytes;
using Link = ScriptedStation::Link;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

Bytes payloadOf(const Bytes &frame) {
    return Bytes(frame.begin() + 3, frame.end() - 2);
}

ScriptedStation::Script replyWith(Bytes payload) {
    return [payload](const Bytes &request) {
        return std::vector<Bytes>{lyx::link::buildFrame(request[2], payload)};
    };
}

class Sink final : public Implements<IDataProviderEvents> {
  public:
    void PacketArrived(std::uint8_t &, std::int32_t &, std::string &, std::uint8_t &,
                       std::int16_t &, std::int16_t &, bool &, bool &) override {
        if (handler) handler();
    }
    std::function<void()> handler;
};

}  // namespace

class Commands : public ::testing::TestWithParam<Link> {
  protected:
    void SetUp() override {
        // A short folder of its own: socket paths are limited to 107 characters.
        stationFolder = fs::path("/tmp") / ("lyxdp-station-" + std::to_string(::getpid()));
        fs::remove_all(stationFolder);
        fs::create_directories(stationFolder);
        station = std::make_unique<ScriptedStation>(GetParam(), stationFolder);
        ASSERT_TRUE(station->ok());
        dp = DataProvider::create();
        ASSERT_EQ(dp->Initialise(GetParam() == Link::Serial ? 5 : 0, 115200), 0);
    }
    void TearDown() override {
        dp.reset();  // closes the link without Terminate's one-second wait
        station.reset();
        fs::remove_all(stationFolder);
    }
    std::vector<Bytes> requestPayloads() {
        std::vector<Bytes> out;
        for (const auto &frame : station->requests())
            out.push_back(payloadOf(frame));
        return out;
    }

    TestFolder folder;
    ScopedEnv tmp{"TMPDIR", folder.path().c_str()};
    fs::path stationFolder;
    std::unique_ptr<ScriptedStation> station;
    Ref<DataProvider> dp;
};

TEST_P(Commands, WakeBroadcastWritesParameter50OfEveryDeviceWithAnEmptyText) {
    station->setScript(replyWith({0x07, 0xFF, 0xFF, 0xFF, 0xD0, 0x40}));
    dp->WakeBroadcast(1);
    dp->WakeByID(1, 0x0A0B0C);
    EXPECT_EQ(requestPayloads(), (std::vector<Bytes>{{0x06, 0xFF, 0xFF, 0xFF, 0x32, 0x05},
                                                     {0x06, 0x0A, 0x0B, 0x0C, 0x32, 0x05}}));
}

TEST_P(Commands, RemoteWriteSendsTheTextAsATypedStringAndReturnsTheResult) {
    station->setScript(replyWith({0x08, 0x00, 0x03, 0xE8, 0xD0, 0x40}));
    std::uint8_t bs = 1, cmd = 20;
    std::int32_t id = 1000;
    std::string value = "2.5";
    EXPECT_EQ(dp->RemoteWrite(bs, id, cmd, value), RT_NAK);
    EXPECT_EQ(requestPayloads(),
              (std::vector<Bytes>{{0x06, 0x00, 0x03, 0xE8, 0x14, 0x05, 0x32, 0x2E, 0x35}}));
}

TEST_P(Commands, RemoteReadDecodesTheTypedValueOrEmptiesIt) {
    std::uint8_t bs = 1, cmd = 20;
    std::int32_t id = 1000;
    std::string value = "old";
    station->setScript(
        replyWith({0x07, 0x00, 0x03, 0xE8, 0x03, 0x00, 0x00, 0x01, 0x00, 0xD0, 0x40}));
    EXPECT_EQ(dp->RemoteRead(bs, id, cmd, value), RT_ACK);
    EXPECT_EQ(value, "256");
    station->setScript(replyWith({0x09, 0x00, 0x03, 0xE8, 0xD0, 0x40}));
    EXPECT_EQ(dp->RemoteRead(bs, id, cmd, value), RT_NORESPONSE);
    EXPECT_EQ(value, "");
    EXPECT_EQ(payloadOf(station->requests()[0]), (Bytes{0x05, 0x00, 0x03, 0xE8, 0x14}));
}

TEST_P(Commands, BaseStationIdFromThreeBytes) {
    station->setScript(replyWith({0x17, 0x00, 0x12, 0x34}));
    EXPECT_EQ(dp->BaseStationID(1), 4660);
    EXPECT_EQ(requestPayloads(), (std::vector<Bytes>{{0x15, 0x03}}));
}

TEST_P(Commands, ChannelReadAndTheThreeStepWrite) {
    station->setScript(replyWith({0x17, 0x0C}));
    EXPECT_EQ(dp->get_BaseStationChannel(1), 12);
    EXPECT_EQ(dp->get_ReadBaseStationChannel(), 12);

    std::vector<Clock::time_point> times;
    station->setScript([&](const Bytes &request) {
        times.push_back(Clock::now());
        return std::vector<Bytes>{lyx::link::buildFrame(request[2], Bytes{0x17})};
    });
    dp->put_BaseStationChannel(1, 7);
    auto payloads = requestPayloads();
    ASSERT_EQ(payloads.size(), 5u);
    EXPECT_EQ(payloads[2], (Bytes{0x16, 0x0B, 0x07}));
    EXPECT_EQ(payloads[3], (Bytes{0x16, 0x18}));
    EXPECT_EQ(payloads[4], (Bytes{0x16, 0x19}));
    ASSERT_EQ(times.size(), 3u);
    EXPECT_GE(times[2] - times[1], 500ms);
    EXPECT_EQ(dp->lastDriverResult(), 0);
}

TEST_P(Commands, PairAndPairConfigReturnTheDeviceAndItsTag) {
    station->setScript(replyWith({0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}));
    std::int32_t id = 0, tag = 0;
    EXPECT_EQ(dp->Pair(1, 0, 5, id, tag), 0);
    EXPECT_EQ(id, 66051);
    EXPECT_EQ(tag, 42);
    EXPECT_EQ(dp->PairConfig(1, 1, 5, id, tag), 0);
    EXPECT_EQ(requestPayloads(),
              (std::vector<Bytes>{{0x13, 0, 0, 0, 0, 5}, {0x13, 0, 0, 1, 1, 5}}));
}

TEST_P(Commands, WithoutAnswerIdAndChannelAreZero) {
    EXPECT_EQ(dp->BaseStationID(1), 0);
    EXPECT_EQ(dp->get_BaseStationChannel(1), 0);
    EXPECT_EQ(dp->lastDriverResult(), 1);
}

// Inside its own PacketArrived the driver stays busy: a waiting member is
// refused at once instead of retrying for ever; a non-waiting one still works.
TEST_P(Commands, WaitingMembersFromInsidePacketArrivedAreRefusedNotHung) {
    auto sink = makeObject<Sink>();
    dp->advise(kEventsId, *sink);
    std::vector<std::int32_t> errorsSeen;
    bool handled = false;
    sink->handler = [&] {
        handled = true;
        errorsSeen.push_back(errorOf([&] { dp->BaseStationID(1); }).number());
        errorsSeen.push_back(errorOf([&] { dp->WakeBroadcast(1); }).number());
        dp->WritePacketNumeric(1, 9, 0, 5, DT_UINT8);  // does not wait: allowed
    };
    station->send(lyx::link::buildFrame(1, Bytes{0x03, 0x00, 0x07, 0x00, 0x01, 0x05, 0xC8, 0xB0}));
    auto deadline = Clock::now() + 5s;
    while (!handled && Clock::now() < deadline) {
        if (waitForMessages(100)) LyxPumpMessages();
    }
    ASSERT_TRUE(handled);
    EXPECT_EQ(errorsSeen, (std::vector<std::int32_t>{kBusyError, kBusyError}));
    ASSERT_TRUE(station->waitForRequests(1, 2000));
    EXPECT_EQ(requestPayloads(), (std::vector<Bytes>{{0x03, 0x00, 0x09, 0x00, 0x01, 0x05}}));
    // Afterwards the same member works again.
    station->setScript(replyWith({0x17, 0x00, 0x12, 0x34}));
    EXPECT_EQ(dp->BaseStationID(1), 4660);
}

INSTANTIATE_TEST_SUITE_P(OverSerialAndUsb, Commands, ::testing::Values(Link::Serial, Link::Usb),
                         [](const auto &info) {
                             return info.param == Link::Serial ? "Serial" : "Usb";
                         });
