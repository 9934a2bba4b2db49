// Packet reception: TriggerEvent decoding, the last-value store, PacketArrived,
// the command windows answered on the serial line of a pseudo-terminal base
// station, and DecodeRLX.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "LyxPlatform.h"
#include "data_provider.hpp"
#include "encode_decode.hpp"
#include "lyx/link/frame.hpp"
#include "lyx/platform/messages.hpp"
#include "lyx/sim/pty_port.hpp"
#include "recording_sink.hpp"
#include "test_support.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::testing;
using namespace lyx::platform;
using lyx::link::Bytes;
using namespace std::chrono_literals;

namespace {

// A frame as the driver delivers it: payload type byte, tag, status, data type,
// value bytes, signal byte, link byte.
Bytes packet(std::uint8_t typeByte, std::uint16_t tag, std::uint8_t status, std::uint8_t dataType,
             Bytes value, std::uint8_t signal = 0xC8, std::uint8_t link = 0xB0,
             std::uint8_t station = 1) {
    Bytes payload{typeByte, static_cast<std::uint8_t>(tag >> 8), static_cast<std::uint8_t>(tag),
                  status, dataType};
    payload.insert(payload.end(), value.begin(), value.end());
    payload.push_back(signal);
    payload.push_back(link);
    return lyx::link::buildFrame(station, payload);
}

class Reception : public ::testing::Test {
  protected:
    void SetUp() override {
        dp = DataProvider::create();
        sink = makeObject<RecordingSink>();
        dp->advise(kEventsId, *sink);
    }
    // Hands `frame` to TriggerEvent in a receive buffer, as the driver's
    // notification does.
    void deliver(const Bytes &frame) {
        ByteArray buffer{0, std::vector<std::uint8_t>(129, 0)};
        std::copy(frame.begin(), frame.end(), buffer.items.begin());
        std::int32_t length = static_cast<std::int32_t>(frame.size());
        dp->TriggerEvent(buffer, length);
    }
    std::string valueOf(const Bytes &frame) {
        sink->seen.clear();
        deliver(frame);
        return sink->seen.size() == 1 ? sink->seen[0].value : "<no event>";
    }

    TestFolder folder;
    ScopedEnv tmp{"TMPDIR", folder.path().c_str()};
    Ref<DataProvider> dp;
    Ref<RecordingSink> sink;
};

}  // namespace

TEST_F(Reception, Uint8PacketRaisesEveryFieldDecoded) {
    deliver(packet(0x43, 0x1234, 5, DT_UINT8, {200}));
    ASSERT_EQ(sink->seen.size(), 1u);
    const Arrival &a = sink->seen[0];
    EXPECT_EQ(a.baseStation, 1);
    EXPECT_EQ(a.tag, 4660);
    EXPECT_EQ(a.value, "200");
    EXPECT_EQ(a.status, 5);
    EXPECT_EQ(a.rssi, -101);
    EXPECT_EQ(a.cv, 48);
    EXPECT_TRUE(a.battLow);
    EXPECT_FALSE(a.error);
}

TEST_F(Reception, NumericValuesAsTheirTexts) {
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_UINT16, {0xFF, 0xFE})), "65534");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_INT32, {0xFF, 0xFF, 0xFF, 0xFE})), "-2");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_INT32, {0x07, 0x5B, 0xCD, 0x15})), "1.234568E+08");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_INT32, {0x00, 0x98, 0x96, 0x7F})), "9999999");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_FLOAT, {0x3F, 0xC0, 0x00, 0x00})), "1.500000");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_FLOAT, {0x44, 0x9A, 0x52, 0x2B})), "1234.567");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_FLOAT, {0xC0, 0xB0, 0x00, 0x00})), "-5.500000");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_FLOAT, {0x3A, 0xA1, 0xBE, 0x2B})), "0.0012340");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_NONE, {0x11})), "");
}

TEST_F(Reception, WrongNumericLengthStillRaisesWithAnEmptyValue) {
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_UINT8, {1, 2})), "");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_UINT16, {1})), "");
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_FLOAT, {1, 2, 3})), "");
}

TEST_F(Reception, StringsAndBinaryKeepEveryByte) {
    Bytes five{'H', 'e', 'l', 'l', 'o'};
    Bytes frame = packet(3, 7, 0, DT_STRING, five);
    ASSERT_EQ(frame.size(), 17u);
    EXPECT_EQ(valueOf(frame), "Hello");
    Bytes high{0x00, 0x7F, 0x80, 0xC3, 0xFF};
    EXPECT_EQ(valueOf(packet(3, 7, 0, DT_BINARY, high)), std::string(high.begin(), high.end()));
}

TEST_F(Reception, KindIsTheLowFiveBitsOfTheTypeByte) {
    EXPECT_EQ(valueOf(packet(0x23, 7, 0, DT_UINT8, {9})), "9");
    deliver(packet(0x83, 7, 0, DT_UINT8, {9}));
    EXPECT_TRUE(sink->seen.back().error);
}

TEST_F(Reception, OtherKindsShortPacketsAndUnknownTypesRaiseNothing) {
    deliver(packet(0x04, 7, 0, DT_UINT8, {9}));
    Bytes twelve = lyx::link::buildFrame(1, Bytes{3, 0, 7, 0, DT_UINT8, 0xC8, 0xB0});
    ASSERT_EQ(twelve.size(), 12u);
    deliver(twelve);
    for (std::uint8_t type = 7; type <= 15; ++type)
        deliver(packet(3, 7, 0, type, {1, 2, 3, 4}));
    EXPECT_TRUE(sink->seen.empty());
    EXPECT_EQ(dp->get_ReadPacket(7, 100000), "");
}

TEST_F(Reception, HandlerChangesReachTheStore) {
    sink->handler = [](std::uint8_t &status, std::int16_t &rssi) {
        status = 77;
        rssi = -20;
    };
    deliver(packet(0x43, 9, 5, DT_UINT8, {200}));
    std::uint8_t status = 0;
    std::int16_t rssi = 0, cv = 0;
    bool battLow = false, error = true;
    EXPECT_EQ(dp->get_ReadPacketEx(9, 1000, status, rssi, cv, battLow, error), "200");
    EXPECT_EQ(status, 77);
    EXPECT_EQ(rssi, -20);
    EXPECT_EQ(cv, 48);
    EXPECT_TRUE(battLow);
    EXPECT_FALSE(error);
}

TEST_F(Reception, ReadPacketOnlyWhileTheValueIsFreshButExAlwaysGivesTheFields) {
    EXPECT_EQ(dp->get_ReadPacket(7, 1000), "");  // never arrived
    deliver(packet(0x03, 7, 3, DT_UINT8, {42}));
    EXPECT_EQ(dp->get_ReadPacket(7, 1000), "42");
    EXPECT_EQ(dp->get_ReadPacket(7 + 65536, 1000), "42");  // the tag is the low 16 bits
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(dp->get_ReadPacket(7, 30), "");
    std::uint8_t status = 0;
    std::int16_t rssi = 0, cv = 0;
    bool battLow = true, error = true;
    EXPECT_EQ(dp->get_ReadPacketEx(7, 30, status, rssi, cv, battLow, error), "");
    EXPECT_EQ(status, 3);
    EXPECT_EQ(rssi, -101);
    EXPECT_FALSE(battLow);
}

TEST_F(Reception, InitialiseEmptiesTheStoreButTagZero) {
    deliver(packet(0x03, 0, 0, DT_UINT8, {1}));
    deliver(packet(0x03, 7, 0, DT_UINT8, {2}));
    lyx::sim::PtyPort pty;
    ASSERT_TRUE(pty.linkAs(folder / "ports", 3));
    ScopedEnv ports("LYX_PORT_DIR", (folder / "ports").c_str());
    ASSERT_EQ(dp->Initialise(3, 9600), 0);
    EXPECT_EQ(dp->get_ReadPacket(0, 100000), "1");
    EXPECT_EQ(dp->get_ReadPacket(7, 100000), "");
    dp->Terminate();
}

TEST_F(Reception, BufferShorterThanTheLengthIsAnErrorNotAnOverread) {
    ByteArray small{0, std::vector<std::uint8_t>(8, 3)};
    std::int32_t length = 16;
    try {
        dp->TriggerEvent(small, length);
        FAIL() << "no error";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.number(), errors::kSubscriptOutOfRange);
    }
}

// The command windows, answered on the serial line.
class Windows : public Reception {
  protected:
    void SetUp() override {
        Reception::SetUp();
        ASSERT_TRUE(pty.linkAs(folder / "ports", 4));
        ASSERT_EQ(dp->Initialise(4, 115200), 0);
    }
    void TearDown() override {
        if (dp) dp.reset();
    }
    // The command frame the component sent, if any, within a short wait.
    Bytes sentCommand(int waitMs = 200) { return pty.read(11, waitMs); }
    static Bytes command(std::uint16_t tag, std::uint8_t code) {
        return lyx::link::buildFrame(1, Bytes{3, static_cast<std::uint8_t>(tag >> 8),
                                              static_cast<std::uint8_t>(tag), 0, 0xFF, code});
    }

    ScopedEnv ports{"LYX_PORT_DIR", (folder / "ports").c_str()};
    lyx::sim::PtyPort pty;
};

TEST_F(Windows, SleepAnswersOnlyTheTargetTag) {
    dp->SleepByDataTag(7);
    deliver(packet(3, 8, 0, DT_UINT8, {1}));
    EXPECT_TRUE(sentCommand().empty());
    deliver(packet(3, 7, 0, DT_UINT8, {1}));
    EXPECT_EQ(sentCommand(), command(7, 1));
    deliver(packet(3, 7, 0, DT_UINT8, {1}));  // answered for as long as the window lasts
    EXPECT_EQ(sentCommand(), command(7, 1));
}

TEST_F(Windows, SleepToTagZeroArmsNothing) {
    dp->SleepByDataTag(0);
    deliver(packet(3, 0, 0, DT_UINT8, {1}));
    deliver(packet(3, 5, 0, DT_UINT8, {1}));
    EXPECT_TRUE(sentCommand().empty());
}

TEST_F(Windows, SleepBroadcastAnswersEveryTag) {
    dp->SleepBroadcastByDataTag();
    deliver(packet(3, 11, 0, DT_UINT8, {1}));
    EXPECT_EQ(sentCommand(), command(11, 1));
    deliver(packet(3, 12, 0, DT_UINT8, {1}));
    EXPECT_EQ(sentCommand(), command(12, 1));
}

TEST_F(Windows, PauseAnswersEveryTagUntilSwitchedOff) {
    dp->PauseByDataTag(99);
    deliver(packet(3, 5, 0, DT_UINT8, {1}));
    EXPECT_EQ(sentCommand(), command(5, 2));
    dp->PauseByDataTag(0);
    deliver(packet(3, 5, 0, DT_UINT8, {1}));
    EXPECT_TRUE(sentCommand().empty());
}

TEST_F(Windows, SleepComesBeforePauseAndOnlyOneCommandPerPacket) {
    dp->PauseByDataTag(1);
    dp->SleepByDataTag(7);
    dp->BroadcastStayAwake();
    deliver(packet(3, 7, 0, DT_UINT8, {1}));
    EXPECT_EQ(sentCommand(), command(7, 1));
    EXPECT_TRUE(sentCommand(100).empty());
}

TEST_F(Windows, StayAwakeGoesToAllTagsOncePerTagEveryFiveSeconds) {
    dp->BroadcastStayAwake();
    deliver(packet(3, 7, 0, DT_UINT8, {1}));
    EXPECT_EQ(sentCommand(), command(65535, 3));
    deliver(packet(3, 7, 0, DT_UINT8, {1}));
    EXPECT_TRUE(sentCommand().empty());
    deliver(packet(3, 8, 0, DT_UINT8, {1}));  // another tag has its own five seconds
    EXPECT_EQ(sentCommand(), command(65535, 3));
}

TEST_F(Windows, PacketsFromBaseStation255AreNotAnswered) {
    dp->SleepBroadcastByDataTag();
    deliver(packet(3, 7, 0, DT_UINT8, {1}, 0xC8, 0xB0, 255));
    EXPECT_TRUE(sentCommand().empty());
    EXPECT_EQ(sink->seen.size(), 1u);
}

TEST_F(Windows, UnknownDataTypeIsStillAnsweredButRaisesNothing) {
    dp->SleepByDataTag(7);
    deliver(packet(3, 7, 0, 9, {1, 2}));
    EXPECT_EQ(sentCommand(), command(7, 1));
    EXPECT_TRUE(sink->seen.empty());
}

TEST(DecodeRLX, ReadingsAndTimestampOfABlock) {
    TestFolder folder;
    ScopedEnv tmp("TMPDIR", folder.path().c_str());
    Ref<DataProvider> dp = DataProvider::create();
    std::string block(42, '\0');
    block[2] = 0x01;  // reading 1: 00 00 01 00 = 256
    for (int k = 4; k < 8; ++k)
        block[static_cast<std::size_t>(k)] = '\xFF';  // reading 2: -1
    block[40] = 0x01;
    block[41] = 0x2C;  // timestamp 300
    std::int32_t timestamp = 0;
    FloatArray values{1, std::vector<float>(10, 99.0f)};
    dp->DecodeRLX(block, timestamp, values);
    EXPECT_EQ(values.at(1), 256.0f);
    EXPECT_EQ(values.at(2), -1.0f);
    EXPECT_EQ(values.at(3), 0.0f);
    EXPECT_EQ(timestamp, 300);

    std::string empty;
    dp->DecodeRLX(empty, timestamp, values);
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(values.at(i), 0.0f);
    EXPECT_EQ(timestamp, 0);

    std::string shortBlock("\x00\x00\x00\x05\x00\x00", 6);  // reading 2 cut short
    timestamp = 7;
    dp->DecodeRLX(shortBlock, timestamp, values);
    EXPECT_EQ(values.at(1), 5.0f);
    EXPECT_EQ(values.at(2), 0.0f);
    EXPECT_EQ(timestamp, 0);
}

TEST(DecodeRLX, AnEmptyArrayIsGivenTenIndexesAndATooSmallOneIsRefused) {
    TestFolder folder;
    ScopedEnv tmp("TMPDIR", folder.path().c_str());
    Ref<DataProvider> dp = DataProvider::create();
    std::string block(42, '\x01');
    std::int32_t timestamp = 0;
    FloatArray fresh;
    dp->DecodeRLX(block, timestamp, fresh);
    EXPECT_EQ(fresh.lowerBound, 1);
    EXPECT_EQ(fresh.items.size(), 10u);
    EXPECT_EQ(fresh.at(10), static_cast<float>(0x01010101));
    EXPECT_EQ(timestamp, 0x0101);

    FloatArray zeroBased{0, std::vector<float>(10, 0.0f)};  // indexes 0 to 9: no 10
    auto e = errorOf([&] { dp->DecodeRLX(block, timestamp, zeroBased); });
    EXPECT_EQ(e.number(), errors::kSubscriptOutOfRange);
    EXPECT_EQ(zeroBased.items, std::vector<float>(10, 0.0f));  // nothing written
}

TEST(PacketTexts, FloatRuleAndItsLimits) {
    EXPECT_EQ(EncodeDecode::FloatPacketText(1.5f), "1.500000");
    EXPECT_EQ(EncodeDecode::FloatPacketText(-0.5f), "-0.500000");
    EXPECT_EQ(EncodeDecode::FloatPacketText(12345678.0f), "12345678");
    EXPECT_EQ(EncodeDecode::FloatPacketText(123456792.0f), "123456792");  // whole part kept
    EXPECT_EQ(EncodeDecode::FloatPacketText(0.0f), "0.0000000");
    EXPECT_EQ(EncodeDecode::FloatPacketText(std::nanf("")), "NaN");
    EXPECT_EQ(EncodeDecode::FloatPacketText(-INFINITY), "-Infinity");
    EXPECT_EQ(EncodeDecode::BytesToSingle(std::string("\xFF\xFF\xFF\xFE", 4)), -2.0f);
    EXPECT_EQ(EncodeDecode::BytesToSingle("abc"), 0.0f);
}

// The last reference goes while a packet is on its way to this thread: the
// destructor dispatches messages, and that packet must not reach the object
// being destroyed (it would be brought back to life and destroyed twice).
TEST_F(Windows, ReleasingTheObjectWithAPacketOnItsWayIsSafe) {
    ASSERT_TRUE(pty.write(packet(3, 7, 0, DT_UINT8, {1})));
    ASSERT_TRUE(waitForMessages(5000));  // the hand-over waits for this thread
    dp.reset();
    EXPECT_TRUE(sink->seen.empty());
    ASSERT_TRUE(pty.write(packet(3, 7, 0, DT_UINT8, {2})));
    std::this_thread::sleep_for(50ms);
    LyxPumpMessages();  // the driver is closed: nothing arrives
    EXPECT_TRUE(sink->seen.empty());
}
