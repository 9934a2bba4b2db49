// The request/reply exchange through SENDCOMMAND and the raw-send exports.

#include <thread>

#include "engine_test_support.hpp"

using namespace lyx::drv;
using namespace lyx::drv::testing;
using lyx::link::Bytes;
using Clock = std::chrono::steady_clock;

using Exchange = EngineTest;

TEST_F(Exchange, ReplyEndsTheWaitAndIsNotDeliveredWhileOtherFramesAre) {
    useCallback2();
    open();
    Bytes data = frame(1, {0x03, 0x00, 0x07, 0x00, 0x01, 0x05});
    Bytes reply = frame(1, {0x17, 0x05});
    transport->setSendHook([&](std::uint8_t, const Bytes &) {
        transport->inject(data);
        transport->inject(reply);
    });
    Bytes payload{21, 11};
    Bytes result = d.SENDCOMMAND(1, payload, 2000);
    EXPECT_EQ(result, reply);
    EXPECT_EQ(d.lastReplyCode, 23);
    ASSERT_TRUE(pumpUntil([] { return !EngineTest::received.empty(); }));
    ASSERT_TRUE(waitIdle());
    LyxPumpMessages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].frame, data);
    auto sent = transport->sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].frame, lyx::link::buildFrame(1, payload));
}

TEST_F(Exchange, ReplyAfterADelayReturnsThenWithItsCode) {
    open();
    std::jthread base;
    transport->setSendHook([&](std::uint8_t, const Bytes &) {
        base = std::jthread([this] {
            std::this_thread::sleep_for(100ms);  // the base station takes its time
            transport->inject(frame(1, {0x18}));
        });
    });
    auto start = Clock::now();
    Bytes result = d.SENDCOMMAND(1, Bytes{22, 11, 5}, 500);
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(result, frame(1, {0x18}));
    EXPECT_EQ(d.lastReplyCode, 24);
    EXPECT_GE(elapsed, 100ms);
    EXPECT_LT(elapsed, 500ms);
}

TEST_F(Exchange, NoReplyReturnsEmptyAfterTheTimeOut) {
    open();
    auto start = Clock::now();
    Bytes result = d.SENDCOMMAND(1, Bytes{21, 11}, 150);
    EXPECT_TRUE(result.empty());
    EXPECT_GE(Clock::now() - start, 150ms);
    EXPECT_EQ(d.lastReplyCode, 0);
}

TEST_F(Exchange, ReplyCarryingAnotherDeviceIdIsIgnored) {
    open();
    transport->setSendHook([&](std::uint8_t, const Bytes &) {
        transport->inject(frame(1, {0x07, 0x00, 0x03, 0xE9, 0x05}));
    });
    Bytes result = d.SENDCOMMAND(1, Bytes{5, 0x00, 0x03, 0xE8, 50}, 150);
    EXPECT_TRUE(result.empty());
    EXPECT_EQ(d.lastReplyCode, 7);  // examined, not taken

    transport->setSendHook([&](std::uint8_t, const Bytes &) {
        transport->inject(frame(1, {0x07, 0x00, 0x03, 0xE9, 0x05}));
        transport->inject(frame(1, {0x47, 0x00, 0x03, 0xE8, 0x05}));
    });
    result = d.SENDCOMMAND(1, Bytes{5, 0x00, 0x03, 0xE8, 50}, 2000);
    EXPECT_EQ(result, frame(1, {0x47, 0x00, 0x03, 0xE8, 0x05}));
    EXPECT_EQ(d.lastReplyCode, 7);  // 0x47: status bits on top of code 7
}

TEST_F(Exchange, ShortReplyCannotMatchAnAddress) {
    open();
    transport->setSendHook(
        [&](std::uint8_t, const Bytes &) { transport->inject(frame(1, {0x07})); });
    EXPECT_TRUE(d.SENDCOMMAND(1, Bytes{5, 0x0A, 0x0B, 0x0C, 50}, 100).empty());
}

TEST_F(Exchange, CommandWithoutReplyStillWaitsOutItsTimeOut) {
    open();
    transport->setSendHook(
        [&](std::uint8_t, const Bytes &) { transport->inject(frame(1, {0x17})); });
    auto start = Clock::now();
    EXPECT_TRUE(d.SENDCOMMAND(1, Bytes{3, 0, 1}, 120).empty());
    EXPECT_GE(Clock::now() - start, 120ms);
}

TEST_F(Exchange, PolledFramesWaitingAndArrivingDuringAnExchangeAreKeptInOrder) {
    open();  // polling mode
    Bytes waiting = frame(1, {0x03, 0x01});
    inject(waiting);
    ASSERT_TRUE(waitIdle());
    ASSERT_EQ(ANYINQUEUE(), 1);
    Bytes during = frame(1, {0x03, 0x02});
    Bytes reply = frame(1, {0x17, 0x09});
    transport->setSendHook([&](std::uint8_t, const Bytes &) {
        transport->inject(during);
        transport->inject(reply);
    });
    EXPECT_EQ(d.SENDCOMMAND(1, Bytes{21, 11}, 2000), reply);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(nextPacket(), waiting);
    EXPECT_EQ(nextPacket(), during);
    EXPECT_EQ(nextPacket(), std::nullopt);
}

TEST_F(Exchange, WritePacketPutsTheFrameOnTheLinkAndReturnsAtOnce) {
    open();
    std::uint8_t payload[] = {0x03, 0x00, 0x00, 0x07};
    auto start = Clock::now();
    EXPECT_EQ(WRITEPACKET(1, payload, 4), 0);
    EXPECT_LT(Clock::now() - start, 300ms);  // no reply awaited: far below any time-out
    auto sent = transport->sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].address, 1);
    EXPECT_EQ(Bytes(sent[0].frame.begin(), sent[0].frame.begin() + 7),
              (Bytes{0x04, 0x04, 0x01, 0x03, 0x00, 0x00, 0x07}));
    EXPECT_EQ(sent[0].frame.size(), 9u);
}

TEST_F(Exchange, RawSendOfARequestCodeLeavesAQuickReplyToTheApplication) {
    open();  // polling mode
    Bytes reply = frame(1, {0x17, 0x05});
    // The base station answers before WRITEPACKET has even returned.
    transport->setSendHook([&](std::uint8_t, const Bytes &) { transport->inject(reply); });
    std::uint8_t request[] = {21, 11};
    EXPECT_EQ(WRITEPACKET(1, request, 2), 0);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(ANYINQUEUE(), 1);
    EXPECT_EQ(nextPacket(), reply);
}

TEST_F(Exchange, BroadcastPutsTypeZeroInFrontOfTheCallerBytes) {
    open();
    SENDBROADCAST(1, nullptr, 0);
    std::uint8_t bytes[] = {0x32, 0xFF, 0xFF};
    SENDBROADCAST(2, bytes, 3);
    auto sent = transport->sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].frame, (Bytes{0x01, 0x01, 0x01, 0x00, 0x51, 0x88}));
    EXPECT_EQ(sent[1].frame, lyx::link::buildFrame(2, Bytes{0x00, 0x32, 0xFF, 0xFF}));
}

TEST_F(Exchange, NothingIsSentWithoutALink) {
    std::uint8_t payload[] = {0x03, 0x00};
    EXPECT_EQ(WRITEPACKET(1, payload, 2), 0);
    EXPECT_TRUE(transport->sent().empty());
}

TEST(Identity, VersionIs2Point7AndRevisionOutsideTheSlotsIsZero) {
    EXPECT_FLOAT_EQ(VERSION(), 2.7f);
    EXPECT_EQ(READREVISION(0), 0.0f);
    EXPECT_EQ(READREVISION(17), 0.0f);
    EXPECT_EQ(READREVISION(255), 0.0f);
}
