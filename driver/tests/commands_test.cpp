// Pairing and parameter access through the exports, against a scripted base
// station on a pseudo-terminal and on the virtual USB bus.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "engine_test_support.hpp"
#include "scripted_station.hpp"

using namespace lyx::drv;
using namespace lyx::drv::testing;
using lyx::link::Bytes;
using Link = ScriptedStation::Link;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

// The payload of a frame: bytes 3 to n-3.
Bytes payloadOf(const Bytes &frame) {
    return Bytes(frame.begin() + 3, frame.end() - 2);
}

// A reply from base station 1 with this payload, for every request.
ScriptedStation::Script replyWith(Bytes payload) {
    return
        [payload](const Bytes &) { return std::vector<Bytes>{lyx::link::buildFrame(1, payload)}; };
}

}  // namespace

class Commands : public EngineTest, public ::testing::WithParamInterface<Link> {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        folder = fs::temp_directory_path() / ("lyx-cmd-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        station = std::make_unique<ScriptedStation>(GetParam(), folder);
        ASSERT_TRUE(station->ok());
        ASSERT_EQ(station->open(), 0);
    }
    void TearDown() override {
        EngineTest::TearDown();
        station.reset();
        fs::remove_all(folder);
    }
    Bytes onlyRequest() {
        EXPECT_TRUE(station->waitForRequests(1, 2000));
        auto all = station->requests();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? Bytes{} : payloadOf(all[0]);
    }

    fs::path folder;
    std::unique_ptr<ScriptedStation> station;
};

TEST_P(Commands, BindSendsTheRequestAndReturnsIdAndTag) {
    station->setScript(replyWith({0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}));
    std::int32_t id = -1, tag = -1;
    EXPECT_EQ(BIND(1, 0, 0, 10, &id, &tag), 0);
    EXPECT_EQ(id, 66051);
    EXPECT_EQ(tag, 42);
    EXPECT_EQ(onlyRequest(), (Bytes{0x13, 0x00, 0x00, 0x00, 0x00, 0x0A}));
}

TEST_P(Commands, BindPassesRemoteSettingsAndConfigurationMode) {
    station->setScript(replyWith({0x14, 0x00, 0x00, 0x07, 0x12, 0x34}));
    std::int32_t id = 0, tag = 0;
    EXPECT_EQ(BIND(1, 1, 1, 3, &id, &tag), 0);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(tag, 0x1234);
    EXPECT_EQ(onlyRequest(), (Bytes{0x13, 0x00, 0x00, 0x01, 0x01, 0x03}));
}

TEST_P(Commands, BindAsyncIsPendingThenPaired) {
    std::int32_t id = -1, tag = -1;
    EXPECT_EQ(BINDASYNC(1, 1, 1, 5), 0);
    EXPECT_EQ(onlyRequest(), (Bytes{0x13, 0x00, 0x00, 0x01, 0x01, 0x05}));
    EXPECT_EQ(BINDASYNCPOLL(&id, &tag), 99);
    station->send(lyx::link::buildFrame(1, Bytes{0x14, 0x0A, 0x0B, 0x0C, 0x01, 0x00}));
    auto deadline = Clock::now() + 5s;
    while (BINDASYNCPOLL(&id, &tag) == 99 && Clock::now() < deadline) {
        LyxPumpMessages();  // the processor finishes the bind on its own; nothing to pump for
                            // polling mode
        waitIdle(50ms);
    }
    EXPECT_EQ(BINDASYNCPOLL(&id, &tag), 0);
    EXPECT_EQ(id, 0x0A0B0C);
    EXPECT_EQ(tag, 256);
}

TEST_P(Commands, ReadModuleReturnsTheDataOrRefusal) {
    std::uint8_t buffer[99] = {};
    std::int32_t length = -1;
    station->setScript(replyWith({0x17, 0x05}));
    EXPECT_EQ(READMODULE(1, 11, buffer, &length), 0);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(buffer[0], 5);
    EXPECT_EQ(onlyRequest(), (Bytes{0x15, 0x0B}));

    station->setScript(replyWith({0x18}));
    buffer[0] = 0xEE;
    EXPECT_EQ(READMODULE(1, 11, buffer, &length), 3);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer[0], 0xEE);
}

TEST_P(Commands, ReadRemoteDecodesDataSignalQualityAndFlags) {
    station->setScript(replyWith({0x47, 0x0A, 0x0B, 0x0C, 0x05, 0x41, 0x42, 0xC8, 0xB0}));
    std::uint8_t buffer[94] = {};
    std::int32_t length = -1;
    std::int16_t rssi = 0, quality = 0, flags = 0;
    EXPECT_EQ(READREMOTE(1, 658188, 50, buffer, &length, &rssi, &quality, &flags), 0);
    EXPECT_EQ(onlyRequest(), (Bytes{0x05, 0x0A, 0x0B, 0x0C, 0x32}));
    EXPECT_EQ(length, 3);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{0x05, 0x41, 0x42}));
    EXPECT_EQ(rssi, -101);
    EXPECT_EQ(quality, 48);
    EXPECT_EQ(flags, 2);
}

TEST_P(Commands, NoAnswerFromTheDeviceStillGivesTheSignal) {
    station->setScript(replyWith({0x09, 0x0A, 0x0B, 0x0C, 0xD0, 0x22}));
    std::uint8_t buffer[94] = {0x77};
    std::int32_t length = -1;
    std::int16_t rssi = 0, quality = 0, flags = -1;
    EXPECT_EQ(READREMOTE(1, 658188, 50, buffer, &length, &rssi, &quality, &flags), 2);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer[0], 0x77);
    EXPECT_EQ(rssi, -48 - 45);
    EXPECT_EQ(quality, 0x22);
    EXPECT_EQ(flags, 0);
}

TEST_P(Commands, ValueRefusedIsFourForWritesAndDataForReads) {
    station->setScript(replyWith({0x10, 0x00, 0x00, 0x2A, 0x07, 0x00, 0x10}));
    std::int16_t rssi = 0, quality = 0, flags = 0;
    std::uint8_t value[] = {0x01, 0x02};
    EXPECT_EQ(WRITEREMOTEMODULE(1, 42, 9, value, 2, &rssi, &quality, &flags), 4);
    EXPECT_EQ(onlyRequest(), (Bytes{0x0C, 0x00, 0x00, 0x2A, 0x09, 0x01, 0x02}));

    std::uint8_t buffer[94] = {};
    std::int32_t length = 0;
    EXPECT_EQ(READREMOTEMODULE(1, 42, 9, buffer, &length, &rssi, &quality, &flags), 0);
    EXPECT_EQ(length, 1);
    EXPECT_EQ(buffer[0], 0x07);
}

TEST_P(Commands, RemoteRefusalAndAcknowledgedWrite) {
    std::int16_t rssi = 0, quality = 0, flags = 0;
    std::uint8_t value[] = {0x03, 0x00, 0x00, 0x00, 0x05};
    station->setScript(replyWith({0x08, 0x00, 0x01, 0x00, 0xE0, 0x7F}));
    EXPECT_EQ(WRITEREMOTE(1, 256, 20, value, 5, &rssi, &quality, &flags), 3);
    station->setScript(replyWith({0x07, 0x00, 0x01, 0x00, 0xE0, 0xFF}));
    EXPECT_EQ(WRITEREMOTE(1, 256, 20, value, 5, &rssi, &quality, &flags), 0);
    EXPECT_EQ(quality, 0x7F);
    auto requests = station->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(payloadOf(requests[1]),
              (Bytes{0x06, 0x00, 0x01, 0x00, 0x14, 0x03, 0x00, 0x00, 0x00, 0x05}));
}

TEST_P(Commands, ReplyForAnotherDeviceIsNotTaken) {
    station->setScript([](const Bytes &) {
        return std::vector<Bytes>{
            lyx::link::buildFrame(1, Bytes{0x07, 0x0A, 0x0B, 0x0D, 0x05, 0xE0, 0x20}),
            lyx::link::buildFrame(1, Bytes{0x07, 0x0A, 0x0B, 0x0C, 0x06, 0xE0, 0x20})};
    });
    std::uint8_t buffer[94] = {};
    std::int32_t length = 0;
    EXPECT_EQ(READREMOTE(1, 658188, 50, buffer, &length, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(buffer[0], 0x06);
}

TEST_P(Commands, NoReplyGivesOneAndLeavesTheOutputs) {
    std::uint8_t buffer[94] = {0x55};
    std::int32_t length = -1;
    std::int16_t rssi = 777, quality = 777, flags = 777;
    EXPECT_EQ(READREMOTEMODULE(1, 5, 1, buffer, &length, &rssi, &quality, &flags), 1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(rssi, 777);
    EXPECT_EQ(quality, 777);
    EXPECT_EQ(flags, 777);
    EXPECT_EQ(buffer[0], 0x55);
}

TEST_P(Commands, CommandsFromInsideTheCallbackAreBusyAndSendNothing) {
    useCallback2();
    ASSERT_EQ(station->open(), 0);  // again, now with the callback registered
    std::vector<std::int32_t> results;
    onFrame = [&](const Received &) {
        std::uint8_t buffer[99];
        std::int32_t length = -1, id = 0, tag = 0;
        results.push_back(READMODULE(1, 11, buffer, &length));
        results.push_back(length);
        results.push_back(BIND(1, 0, 0, 1, &id, &tag));
        results.push_back(BINDASYNC(1, 0, 0, 1));
        results.push_back(WRITEREMOTE(1, 1, 1, buffer, 1, nullptr, nullptr, nullptr));
    };
    station->send(frame(1, {0x03, 0x00, 0x01, 0x00, 0x01, 0x05}));
    ASSERT_TRUE(pumpUntil([] { return !EngineTest::received.empty(); }));
    EXPECT_EQ(results, (std::vector<std::int32_t>{99, 0, 99, 99, 99}));
    EXPECT_FALSE(station->waitForRequests(1, 200));
    EXPECT_EQ(d.commandBusy.load(), 0);
}

// Readings that arrive while a command waits for its reply, while a bind runs
// and while the callback is slow all reach the callback afterwards, in order;
// the replies the commands wait for do not.
TEST_P(Commands, ReadingsDuringCommandsAndASlowCallbackAreAllDeliveredInOrder) {
    useCallback2();
    ASSERT_EQ(station->open(), 0);
    std::atomic<int> next{0};
    auto reading = [&next] {
        int i = next++;
        return frame(1, {0x03, 0x00, 0x2A, 0x00, 0x02, static_cast<std::uint8_t>(i >> 8),
                         static_cast<std::uint8_t>(i)});
    };
    station->setScript([&](const Bytes &request) {
        std::vector<Bytes> out{reading(), reading()};
        if (payloadOf(request)[0] == 21) out.push_back(frame(1, {0x17, 0x05}));
        if (payloadOf(request)[0] == 19)
            out.push_back(frame(1, {0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}));
        out.push_back(reading());
        return out;
    });
    std::uint8_t buffer[99];
    std::int32_t length = 0, id = 0, tag = 0;
    EXPECT_EQ(READMODULE(1, 11, buffer, &length), 0);
    EXPECT_EQ(BIND(1, 0, 0, 1, &id, &tag), 0);
    EXPECT_EQ(id, 66051);
    // A callback that takes its time while readings keep coming.
    onFrame = [&](const Received &) {
        if (EngineTest::received.size() == 1) {
            for (int i = 0; i < 200; ++i)
                station->send(reading());
            std::this_thread::sleep_for(100ms);
        }
    };
    ASSERT_TRUE(pumpUntil([&] { return EngineTest::received.size() >= 206; }));
    ASSERT_TRUE(waitIdle());
    LyxPumpMessages();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(next.load()));
    for (std::size_t i = 0; i < received.size(); ++i) {
        ASSERT_EQ(received[i].frame[3], 0x03) << "a reply was delivered";
        ASSERT_EQ((received[i].frame[8] << 8) | received[i].frame[9], static_cast<int>(i));
    }
}

TEST_P(Commands, NullOutputsAreSkipped) {
    station->setScript(replyWith({0x47, 0x0A, 0x0B, 0x0C, 0x05, 0xC8, 0xB0}));
    EXPECT_EQ(READREMOTE(1, 658188, 50, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    station->setScript(replyWith({0x17, 0x05}));
    EXPECT_EQ(READMODULE(1, 11, nullptr, nullptr), 0);
    station->setScript(replyWith({0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}));
    EXPECT_EQ(BIND(1, 0, 0, 1, nullptr, nullptr), 0);
    EXPECT_EQ(WRITEMODULE(1, 11, nullptr, 5),
              1);  // 22 0B goes out; this script answers with a bind reply
}

INSTANTIATE_TEST_SUITE_P(OverSerialAndUsb, Commands, ::testing::Values(Link::Serial, Link::Usb),
                         [](const auto &info) {
                             return info.param == Link::Serial ? "Serial" : "Usb";
                         });

// Time-outs and size limits, on the serial line where long requests fit.
using SerialCommands = Commands;

TEST_P(SerialCommands, BindWithDurationZeroSendsTwoAndWaits2300Ms) {
    std::int32_t id = 5, tag = 6;
    auto start = Clock::now();
    EXPECT_EQ(BIND(1, 0, 0, 0, &id, &tag), 1);
    EXPECT_GE(Clock::now() - start, 2300ms);
    EXPECT_EQ(onlyRequest(), (Bytes{0x13, 0x00, 0x00, 0x00, 0x00, 0x02}));
    EXPECT_EQ(id, 5);
    EXPECT_EQ(tag, 6);
}

TEST_P(SerialCommands, BindAsyncTimesOutAndStaysTimedOut) {
    std::int32_t id = 0, tag = 0;
    ASSERT_EQ(BINDASYNC(1, 0, 0, 1), 0);
    EXPECT_EQ(BINDASYNCPOLL(&id, &tag), 99);
    std::this_thread::sleep_for(1100ms);  // the bind's own one-second duration
    EXPECT_EQ(BINDASYNCPOLL(&id, &tag), 1);
    // A reply after the time-out no longer completes it.
    station->send(lyx::link::buildFrame(1, Bytes{0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(BINDASYNCPOLL(&id, &tag), 1);
}

TEST_P(SerialCommands, WriteModuleSendsAtMost128DataBytes) {
    station->setScript(replyWith({0x17}));
    Bytes data(200);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(WRITEMODULE(1, 11, data.data(), 200), 0);
    Bytes request = onlyRequest();
    ASSERT_EQ(request.size(), 130u);
    EXPECT_EQ(request[0], 0x16);
    EXPECT_EQ(request[1], 0x0B);
    EXPECT_TRUE(std::equal(request.begin() + 2, request.end(), data.begin()));
}

INSTANTIATE_TEST_SUITE_P(OverSerial, SerialCommands, ::testing::Values(Link::Serial),
                         [](const auto &) { return "Serial"; });

using UsbCommands = Commands;

TEST_P(UsbCommands, RequestTooLongForUsbIsNotSentAndEndsAsNoReply) {
    Bytes data(200, 1);
    auto start = Clock::now();
    EXPECT_EQ(WRITEMODULE(1, 11, data.data(), 200), 1);
    EXPECT_GE(Clock::now() - start, 600ms);
    EXPECT_FALSE(station->waitForRequests(1, 100));
}

INSTANTIATE_TEST_SUITE_P(OverUsb, UsbCommands, ::testing::Values(Link::Usb),
                         [](const auto &) { return "Usb"; });
