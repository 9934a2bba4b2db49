// The simulated stations and modules, driven in virtual time: what they send,
// how they answer, and how commands, pairing and faults change that.

#include "world_fixture.hpp"

using namespace lyx::sim;
using namespace lyx::sim::testing;
using lyx::link::Bytes;

namespace {

const Bytes kSleepTag7{3, 0, 7, 0, 0xFF, 1};
const Bytes kPauseTag7{3, 0, 7, 0, 0xFF, 2};
const Bytes kStayAwakeAll{3, 0xFF, 0xFF, 0, 0xFF, 3};

Bytes remoteRead(std::uint32_t id, std::uint8_t parameter, std::uint8_t code = 5) {
    return {code, static_cast<std::uint8_t>(id >> 16), static_cast<std::uint8_t>(id >> 8),
            static_cast<std::uint8_t>(id), parameter};
}

Bytes remoteWrite(std::uint32_t id, std::uint8_t parameter, Bytes typed, std::uint8_t code = 6) {
    Bytes p = remoteRead(id, parameter, code);
    // One at a time: GCC 12 warns (-Warray-bounds) about the inlined range
    // insert into a vector that must grow, which stays within its bounds.
    for (std::uint8_t byte : typed)
        p.push_back(byte);
    return p;
}

Bytes text(std::string_view s) {
    Bytes out(s.size() + 1);
    out[0] = static_cast<std::uint8_t>(DataType::String);
    std::copy(s.begin(), s.end(), out.begin() + 1);
    return out;
}

std::set<int> tagsOf(const std::vector<Bytes> &dataPayloads) {
    std::set<int> tags;
    for (const auto &p : dataPayloads)
        tags.insert((p[1] << 8) | p[2]);
    return tags;
}

}  // namespace

// ---- what modules send ----

TEST_F(WorldTest, Uint8PacketCarriesTagStatusFlagsSignalAndLinkQuality) {
    station();
    ModuleConfig m = moduleConfig(0x0A0B0C, 0x1234);
    m.type = DataType::UInt8;
    m.wave.offset = 200;
    m.status = 5;
    m.rssi = -101;
    m.linkQuality = 48;
    m.batteryLow = true;
    ASSERT_TRUE(world.addModule(m));
    clock.advance(50ms);
    auto sent = frames();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0],
              lyx::link::buildFrame(1, Bytes{0x43, 0x12, 0x34, 0x05, 0x01, 0xC8, 0xC8, 0x30}));
    EXPECT_EQ(sent[0].size(), 13u);
}

TEST_F(WorldTest, EveryDataTypeHasItsFrameLengthAndEncoding) {
    struct Case {
        DataType type;
        Layout layout;
        std::optional<Bytes> fixed;
        double value;
        std::size_t frameLength;
        Bytes valueBytes;  // empty: not checked
    };
    const std::vector<Case> cases{
        {DataType::None, Layout::Value, {}, 1, 12, {}},
        {DataType::UInt8, Layout::Value, {}, 300, 13, {0xFF}},  // clamped
        {DataType::UInt16, Layout::Value, {}, 65534, 14, {0xFF, 0xFE}},
        {DataType::Int32, Layout::Value, {}, -2, 16, {0xFF, 0xFF, 0xFF, 0xFE}},
        {DataType::Float, Layout::Value, {}, 1.5, 16, {0x3F, 0xC0, 0x00, 0x00}},
        {DataType::String, Layout::Value, Bytes{'h', 'e', 'l', 'l', 'o'}, 0, 17, {}},
        {DataType::String, Layout::Value, {}, 12.5, 17, {'1', '2', '.', '5', '0'}},
        {DataType::Binary, Layout::Value, {}, 256, 16, {0, 0, 1, 0}},
        {DataType::Binary, Layout::Record, {}, 7, 129, {}},
        {DataType::Binary, Layout::StoreForward, {}, 7, 54, {}},
    };
    station();
    std::uint32_t id = 1;
    for (const auto &c : cases) {
        ModuleConfig m = moduleConfig(id, static_cast<std::uint16_t>(id));
        m.type = c.type;
        m.layout = c.layout;
        m.fixedValue = c.fixed;
        m.wave.offset = c.value;
        ASSERT_TRUE(world.addModule(m)) << id;
        clock.advance(50ms);
        // A record's frame (129 bytes) is longer than a receiver accepts, so it
        // is taken from the raw stream.
        auto sent = c.layout == Layout::Record ? std::vector<Bytes>{streams[1]} : frames();
        streams[1].clear();
        EXPECT_TRUE(lyx::link::isValidFrame(sent.at(0))) << id;
        ASSERT_EQ(sent.size(), 1u) << id;
        EXPECT_EQ(sent[0].size(), c.frameLength) << id;
        if (!c.valueBytes.empty()) {
            Bytes value(sent[0].begin() + 8, sent[0].end() - 4);
            EXPECT_EQ(value, c.valueBytes) << id;
        }
        ASSERT_TRUE(world.powerDown(id));
        ++id;
    }
}

TEST_F(WorldTest, StoreForwardBlockHoldsTenReadingsAndSecondsSincePowerUp) {
    station();
    ModuleConfig m = moduleConfig(5, 5, 1, 1);
    m.layout = Layout::StoreForward;
    m.wave.offset = 256;
    ASSERT_TRUE(world.addModule(m));
    clock.advance(300s + 50ms);
    auto sent = frames();
    ASSERT_FALSE(sent.empty());
    Bytes block(sent.back().begin() + 8, sent.back().end() - 4);
    ASSERT_EQ(block.size(), 42u);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(Bytes(block.begin() + 4 * k, block.begin() + 4 * k + 4), (Bytes{0, 0, 1, 0}));
    EXPECT_EQ(block[40], 0x01);
    EXPECT_EQ(block[41], 0x2C);  // 300 s
}

TEST_F(WorldTest, RecordStartsWithTheReadingAndCountsItsSequence) {
    station();
    ModuleConfig m = moduleConfig(5, 5, 1, 10);
    m.layout = Layout::Record;
    m.wave.offset = -2;
    ASSERT_TRUE(world.addModule(m));
    clock.advance(150ms);
    // Two 129-byte frames, too long for a receiver's synchroniser: split by hand.
    ASSERT_EQ(streams[1].size(), 2 * 129u);
    for (std::size_t i = 0; i < 2; ++i) {
        Bytes frame(streams[1].begin() + 129 * i, streams[1].begin() + 129 * (i + 1));
        EXPECT_TRUE(lyx::link::isValidFrame(frame));
        Bytes record(frame.begin() + 8, frame.end() - 4);
        ASSERT_EQ(record.size(), kRecordSize);
        EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFE}));
        EXPECT_EQ(record.back(), i);
    }
}

TEST_F(WorldTest, CountingModuleCarriesItsPacketNumberFromTheOffset) {
    station();
    ModuleConfig m = moduleConfig(5, 5, 1, 10);
    m.type = DataType::UInt16;
    m.wave.shape = Waveform::Shape::Count;
    m.wave.offset = 100;
    ASSERT_TRUE(world.addModule(m));
    clock.advance(350ms);
    auto sent = frames();
    ASSERT_EQ(sent.size(), 4u);
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ((sent[i][8] << 8) | sent[i][9], 100 + static_cast<int>(i));
}

TEST_F(WorldTest, ModuleOnAnotherChannelIsNotHeardAndItsRequestsGetNoAnswer) {
    station(1, 5);
    module(100, 7, 6);
    clock.advance(1s);
    EXPECT_TRUE(frames().empty());
    pcSends(1, remoteRead(100, 20));
    clock.advance(200ms);
    EXPECT_TRUE(frames().empty());  // the station still waits for an answer
    clock.advance(100ms);
    EXPECT_EQ(payloads(1, 9), (std::vector<Bytes>{{0x09, 0, 0, 100, 0, 0}}));

    ASSERT_TRUE(world.updateModule(100, [](ModuleConfig &c) { c.channel = 5; }));
    clock.advance(1s);
    EXPECT_EQ(tagsOf(payloads(1, 3)), std::set<int>{7});
}

TEST_F(WorldTest, EveryStationOnTheChannelPassesThePacketOnWithItsOwnAddress) {
    station(1, 3);
    station(2, 3);
    station(3, 4);
    module(100, 7, 3);
    clock.advance(50ms);
    auto one = frames(1);
    auto two = frames(2);
    ASSERT_EQ(one.size(), 1u);
    ASSERT_EQ(two.size(), 1u);
    EXPECT_EQ(one[0][2], 1);
    EXPECT_EQ(two[0][2], 2);
    EXPECT_TRUE(frames(3).empty());
}

// ---- commands ----

TEST_F(WorldTest, SleepStopsAModuleThatThenHearsOnlyTheWakeParameter) {
    station();
    module(100, 7);
    module(200, 8);
    clock.advance(1s);
    frames();
    pcSends(1, kSleepTag7);
    clock.advance(1s);
    EXPECT_EQ(tagsOf(payloads(1, 3)), std::set<int>{8});
    EXPECT_TRUE(world.module(100)->asleep);
    EXPECT_FALSE(world.module(200)->asleep);
    EXPECT_EQ(count(EventKind::CommandHeard, 100), 1u);

    pcSends(1, remoteRead(100, 20));
    clock.advance(300ms);
    EXPECT_EQ(payloads(1, 9).size(), 1u);
    pcSends(1, kPauseTag7);  // not heard while asleep
    EXPECT_EQ(count(EventKind::CommandHeard, 100), 1u);

    pcSends(1, remoteWrite(100, kWakeParameter, text("")));
    clock.advance(20ms);
    auto replies = payloads(1, 7);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(Bytes(replies[0].begin() + 1, replies[0].begin() + 4), (Bytes{0, 0, 100}));
    EXPECT_FALSE(world.module(100)->asleep);
    clock.advance(1s);
    EXPECT_EQ(tagsOf(payloads(1, 3)), (std::set<int>{7, 8}));
}

TEST_F(WorldTest, BroadcastWakeReachesEverySleeperOnTheStationsChannelOnly) {
    station(1, 1);
    module(100, 7, 1);
    module(200, 8, 1);
    module(300, 9, 2);
    pcSends(1, {3, 0xFF, 0xFF, 0, 0xFF, 1});  // sleep, to every tag
    EXPECT_TRUE(world.module(100)->asleep);
    EXPECT_TRUE(world.module(200)->asleep);
    EXPECT_FALSE(world.module(300)->asleep);
    ASSERT_TRUE(world.setAsleep(300, true));
    frames();

    pcSends(1, remoteWrite(kBroadcastId, kWakeParameter, text("")));
    EXPECT_EQ(payloads(1, 7), (std::vector<Bytes>{{0x07, 0xFF, 0xFF, 0xFF, 0, 0}}));
    EXPECT_FALSE(world.module(100)->asleep);
    EXPECT_FALSE(world.module(200)->asleep);
    EXPECT_TRUE(world.module(300)->asleep);

    pcSends(1, remoteRead(kBroadcastId, 20));
    EXPECT_EQ(payloads(1, 8).size(), 1u);  // a read needs one answer: refused
}

TEST_F(WorldTest, PauseStopsDataForThePauseTimeThenDataResumes) {
    station();
    ModuleConfig m = moduleConfig(100, 7);
    m.pauseTime = 3s;
    ASSERT_TRUE(world.addModule(m));
    clock.advance(1s);
    pcSends(1, kPauseTag7);
    frames();
    clock.advance(2900ms);
    EXPECT_TRUE(payloads(1, 3).empty());
    EXPECT_TRUE(world.module(100)->paused);
    clock.advance(1s);
    EXPECT_FALSE(world.module(100)->paused);
    EXPECT_EQ(count(EventKind::Resumed, 100), 1u);
    EXPECT_FALSE(payloads(1, 3).empty());
}

TEST_F(WorldTest, StayAwakeKeepsAModuleFromItsOwnSleepTimer) {
    station();
    ModuleConfig m = moduleConfig(100, 7);
    m.sleepTimer = 10s;
    ASSERT_TRUE(world.addModule(m));
    clock.advance(8s);
    pcSends(1, kStayAwakeAll);
    clock.advance(8s);
    EXPECT_FALSE(world.module(100)->asleep);  // 16 s after power-up
    clock.advance(3s);
    EXPECT_TRUE(world.module(100)->asleep);
    ASSERT_EQ(count(EventKind::Asleep, 100), 1u);
    for (const auto &e : events) {
        if (e.kind == EventKind::Asleep) {
            EXPECT_EQ(e.detail, "by sleep timer");
        }
    }
}

// ---- pairing ----

TEST_F(WorldTest, BindIsAnsweredOnlyByAModulePoweredUpWithinTheDuration) {
    station();
    module(66051, 42);
    ASSERT_TRUE(world.powerUp(66051));  // before any request: nobody asked
    pcSends(1, {19, 0, 0, 0, 0, 10});
    clock.advance(9s);
    EXPECT_TRUE(payloads(1, 20).empty());
    EXPECT_TRUE(world.station(1)->bindWaiting);

    ASSERT_TRUE(world.powerUp(66051));
    clock.advance(20ms);
    EXPECT_EQ(payloads(1, 20), (std::vector<Bytes>{{0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}}));
    EXPECT_FALSE(world.station(1)->bindWaiting);
    EXPECT_EQ(count(EventKind::Paired, 66051), 1u);

    ASSERT_TRUE(world.powerUp(66051));  // once paired, the request is done
    clock.advance(20ms);
    EXPECT_TRUE(payloads(1, 20).empty());
}

TEST_F(WorldTest, BindWithDurationZeroWaitsTwoSecondsThenTimesOut) {
    station();
    module(100, 7);
    pcSends(1, {19, 0, 0, 0, 0, 0});
    clock.advance(1900ms);
    EXPECT_TRUE(world.station(1)->bindWaiting);
    clock.advance(200ms);
    EXPECT_FALSE(world.station(1)->bindWaiting);
    EXPECT_EQ(count(EventKind::BindTimedOut), 1u);
    ASSERT_TRUE(world.powerUp(100));
    clock.advance(20ms);
    EXPECT_TRUE(payloads(1, 20).empty());
}

TEST_F(WorldTest, UseRemoteSettingsMovesTheStationOtherwiseTheModuleMoves) {
    station(1, 1);
    module(100, 7, 5);
    pcSends(1, {19, 0, 0, 0xFF, 0, 10});
    ASSERT_TRUE(world.powerUp(100));
    EXPECT_EQ(world.station(1)->config.channel, 5);
    frames();
    pcSends(1, {21, 11});
    EXPECT_EQ(payloads(1, 23), (std::vector<Bytes>{{0x17, 0x05}}));

    module(200, 8, 9);
    pcSends(1, {19, 0, 0, 0, 0, 10});
    ASSERT_TRUE(world.powerUp(200));
    EXPECT_EQ(world.module(200)->config.channel, 5);
    EXPECT_EQ(world.station(1)->config.channel, 5);
    clock.advance(1s);
    EXPECT_EQ(tagsOf(payloads(1, 3)), (std::set<int>{7, 8}));
}

TEST_F(WorldTest, ConfigurationModeAfterPairingStopsDataAndIgnoresSleepButAnswers) {
    station();
    ModuleConfig m = moduleConfig(100, 7);
    m.parameters[20] = makeParameter(*numberValue(DataType::UInt8, 9));
    ASSERT_TRUE(world.addModule(m));
    pcSends(1, {19, 0, 0, 0, 1, 10});
    ASSERT_TRUE(world.powerUp(100));
    clock.advance(1s);
    EXPECT_TRUE(payloads(1, 3).empty());
    EXPECT_TRUE(world.module(100)->configurationMode);

    pcSends(1, kSleepTag7);
    EXPECT_FALSE(world.module(100)->asleep);
    pcSends(1, remoteRead(100, 20));
    clock.advance(20ms);
    auto replies = payloads(1, 7);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0][0], 0x27);  // configuration-mode flag 0x20
    EXPECT_EQ(Bytes(replies[0].begin() + 4, replies[0].end() - 2), (Bytes{0x01, 0x09}));

    ASSERT_TRUE(world.powerUp(100));  // powered up again: normal
    clock.advance(1s);
    EXPECT_FALSE(payloads(1, 3).empty());
}

// ---- parameters ----

TEST_F(WorldTest, StationParametersThreeElevenTwentyFourTwentyFive) {
    station();
    pcSends(1, {21, 3});
    pcSends(1, {21, 11});
    pcSends(1, {22, 11, 7});
    pcSends(1, {22, 24});
    pcSends(1, {22, 25});
    pcSends(1, {21, 11});
    pcSends(1, {22, 3, 0x00, 0x12, 0x34});
    pcSends(1, {21, 3});
    std::vector<Bytes> expected{
        {0x17, 0x12, 0x34, 0x56}, {0x17, 0x01}, {0x17}, {0x17}, {0x17}, {0x17, 0x07}, {0x17},
        {0x17, 0x00, 0x12, 0x34}};
    EXPECT_EQ(payloads(1, 23), expected);

    pcSends(1, {21, 99});
    pcSends(1, {21, 24});
    pcSends(1, {22, 11, 0});
    pcSends(1, {22, 11, 1, 2});
    pcSends(1, {22, 3, 1, 2});
    pcSends(1, {22, 24, 1});
    pcSends(1, {21});
    EXPECT_EQ(payloads(1, 24).size(), 7u);
    EXPECT_EQ(world.station(1)->config.channel, 7);

    ASSERT_TRUE(world.setRefusedParameters(1, {11}));
    pcSends(1, {21, 11});
    pcSends(1, {22, 11, 5});
    pcSends(1, {21, 3});
    EXPECT_EQ(payloads(1, 24), (std::vector<Bytes>{{0x18}, {0x18}}));
    EXPECT_EQ(world.station(1)->config.channel, 7);
}

TEST_F(WorldTest, StationSendsAnyPayloadItIsGiven) {
    station();
    ASSERT_TRUE(world.sendFrame(1, Bytes{0x07, 0x0A, 0x0B}));  // a reply too short for its kind
    EXPECT_EQ(frames(), (std::vector<Bytes>{lyx::link::buildFrame(1, Bytes{0x07, 0x0A, 0x0B})}));
    EXPECT_FALSE(world.sendFrame(1, Bytes{}));
    EXPECT_FALSE(world.sendFrame(2, Bytes{0x07}));
    ASSERT_TRUE(world.setPlugged(1, false));
    EXPECT_FALSE(world.sendFrame(1, Bytes{0x07}));
}

TEST_F(WorldTest, RemoteReadReplyCarriesFlagsValueSignalAndLinkQuality) {
    station();
    ModuleConfig m = moduleConfig(658188, 1);
    m.batteryLow = true;
    m.rssi = -101;
    m.linkQuality = 0xB0;  // 48, with bit 7 set
    m.parameters[50] = makeParameter(TypedValue{DataType::String, {'A', 'B'}});
    ASSERT_TRUE(world.addModule(m));
    frames();
    pcSends(1, {0x05, 0x0A, 0x0B, 0x0C, 0x32});
    clock.advance(10ms);
    EXPECT_EQ(payloads(1, 7),
              (std::vector<Bytes>{{0x47, 0x0A, 0x0B, 0x0C, 0x05, 0x41, 0x42, 0xC8, 0xB0}}));
}

TEST_F(WorldTest, WrittenTextIsConvertedToTheParameterTypeAndBadValuesAreRefused) {
    station();
    ModuleConfig m = moduleConfig(1000, 1, 1, 0);
    Parameter gain = makeParameter(*numberValue(DataType::Float, 1.0));
    gain.min = 0;
    gain.max = 10;
    m.parameters[20] = gain;
    m.parameters[21] =
        makeParameter(*numberValue(DataType::UInt16, 5), Parameter::Access::ReadOnly);
    m.parameters[22] = makeParameter(*numberValue(DataType::UInt16, 5), Parameter::Access::Refused);
    ASSERT_TRUE(world.addModule(m));
    auto replyCode = [&] {
        clock.advance(10ms);
        auto all = frames();
        return all.size() == 1 ? all[0][3] : -1;
    };
    frames();
    pcSends(1, remoteWrite(1000, 20, text("2.5")));
    EXPECT_EQ(replyCode(), 7);
    pcSends(1, remoteRead(1000, 20));
    clock.advance(10ms);
    auto read = payloads(1, 7);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(Bytes(read[0].begin() + 4, read[0].end() - 2), (Bytes{0x04, 0x40, 0x20, 0, 0}));

    pcSends(1, remoteWrite(1000, 20, text("abc")));
    EXPECT_EQ(replyCode(), 10);
    pcSends(1, remoteWrite(1000, 20, text("11")));  // above max
    EXPECT_EQ(replyCode(), 10);
    pcSends(1, remoteWrite(1000, 20, {0x04, 0x40}));  // float of two bytes
    EXPECT_EQ(replyCode(), 10);
    pcSends(1, remoteWrite(1000, 21, text("7")));
    EXPECT_EQ(replyCode(), 8);
    pcSends(1, remoteRead(1000, 22));
    EXPECT_EQ(replyCode(), 8);
    pcSends(1, remoteRead(1000, 99));
    EXPECT_EQ(replyCode(), 8);
    EXPECT_EQ(toNumber(world.module(1000)->config.parameters[20].value), 2.5);
}

TEST_F(WorldTest, RadioParametersAnswerWithThirteenToSixteen) {
    station();
    ModuleConfig m = moduleConfig(0x0A0B0C, 7, 1, 0);
    Parameter forced = makeParameter(*numberValue(DataType::UInt8, 9));
    forced.forcedReply = 16;
    m.radioParameters[30] = forced;
    ASSERT_TRUE(world.addModule(m));
    frames();
    pcSends(1, remoteRead(0x0A0B0C, 3, 11));
    pcSends(1, remoteRead(0x0A0B0C, 30, 11));
    pcSends(1, remoteWrite(0x0A0B0C, 30, text("1"), 12));
    clock.advance(10ms);
    auto replies = frames();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(Bytes(replies[0].begin() + 3, replies[0].end() - 4),
              (Bytes{0x0D, 0x0A, 0x0B, 0x0C, 0x03, 0x00, 0x0A, 0x0B, 0x0C}));
    EXPECT_EQ(Bytes(replies[1].begin() + 3, replies[1].end() - 4),
              (Bytes{0x10, 0x0A, 0x0B, 0x0C, 0x01, 0x09}));
    EXPECT_EQ(Bytes(replies[2].begin() + 3, replies[2].end() - 4), (Bytes{0x10, 0x0A, 0x0B, 0x0C}));

    // Writing its radio channel moves the module after it has answered.
    pcSends(1, remoteWrite(0x0A0B0C, 11, text("7"), 12));
    clock.advance(10ms);
    EXPECT_EQ(payloads(1, 13).size(), 1u);
    EXPECT_EQ(world.module(0x0A0B0C)->config.channel, 7);
    ASSERT_TRUE(world.updateModule(0x0A0B0C, [](ModuleConfig &c) { c.rate = 10; }));
    clock.advance(1s);
    EXPECT_TRUE(payloads(1, 3).empty());
}

TEST_F(WorldTest, ModuleThatDoesNotAnswerOrAnswersTooLateGetsNoAnswer) {
    station();
    ModuleConfig quiet = moduleConfig(100, 7, 1, 0);
    quiet.answers = false;
    ModuleConfig slow = moduleConfig(200, 8, 1, 0);
    slow.latency = 400ms;
    ASSERT_TRUE(world.addModule(quiet));
    ASSERT_TRUE(world.addModule(slow));
    frames();
    pcSends(1, remoteRead(100, 3, 11));
    pcSends(1, remoteWrite(200, kWakeParameter, text("")));
    clock.advance(300ms);
    auto replies = frames();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0][3], 15);
    EXPECT_EQ(replies[1][3], 9);
}

// ---- input and faults ----

TEST_F(WorldTest, RequestsAreFoundInNoisyInputSplitAcrossReads) {
    station();
    Bytes request = lyx::link::buildFrame(1, Bytes{21, 11});
    Bytes first{0x00, 0x00, 0x5A, 0x13};
    first.insert(first.end(), request.begin(), request.begin() + 3);
    world.receive(1, first);
    EXPECT_TRUE(frames().empty());
    world.receive(1, Bytes(request.begin() + 3, request.end()));
    EXPECT_EQ(payloads(1, 23), (std::vector<Bytes>{{0x17, 0x01}}));
    // A run of equal bytes looks like length pairs until their CRC fails; the
    // zero fill of USB reports completes them.
    world.receive(1, Bytes(300, 0x65));
    world.receive(1, Bytes(300, 0x00));
    pcSends(1, {21, 11});
    EXPECT_EQ(payloads(1, 23).size(), 1u);
}

TEST_F(WorldTest, EachLinkOfAStationIsItsOwnStream) {
    station();
    Bytes request = lyx::link::buildFrame(1, Bytes{21, 11});
    world.receive(1, Bytes(request.begin(), request.begin() + 4), World::Source::Usb);
    world.receive(1, Bytes(request.begin() + 4, request.end()), World::Source::Serial);
    EXPECT_TRUE(frames().empty());
    world.receive(1, Bytes(request.begin() + 4, request.end()), World::Source::Usb);
    EXPECT_EQ(payloads(1, 23).size(), 1u);
}

TEST_F(WorldTest, LongFramesFromThePcAreTakenAndRecorded) {
    station();
    Bytes write{22, 11};
    write.resize(2 + 128, 0x07);  // a channel write with far too much data
    pcSends(1, write);
    EXPECT_EQ(payloads(1, 24).size(), 1u);
    std::size_t frames = 0;
    for (const auto &e : events) {
        if (e.kind == EventKind::FrameFromPc) {
            ++frames;
            EXPECT_EQ(e.code, 22);
            EXPECT_EQ(e.detail.size(), 130u * 3 - 1);  // "16 0B 07 ..."
            EXPECT_EQ(e.detail.substr(0, 8), "16 0B 07");
        }
    }
    EXPECT_EQ(frames, 1u);
}

TEST_F(WorldTest, OneShotFaultsDropAndCorruptTheNextFrames) {
    station();
    ASSERT_TRUE(world.dropNext(1, 1));
    pcSends(1, {21, 11});
    EXPECT_TRUE(streams[1].empty());
    EXPECT_EQ(count(EventKind::FrameDropped), 1u);
    ASSERT_TRUE(world.corruptNext(1, 1));
    pcSends(1, {21, 11});
    EXPECT_EQ(streams[1].size(), 7u);
    EXPECT_TRUE(frames().empty());  // one flipped bit: no longer a frame
    pcSends(1, {21, 11});
    EXPECT_EQ(payloads(1, 23).size(), 1u);
}

TEST_F(WorldTest, NoiseAndZerosGoBeforeEveryFrameWithoutHidingIt) {
    station();
    Faults f;
    f.noise = 20;
    f.zeros = 30;
    ASSERT_TRUE(world.setFaults(1, f));
    pcSends(1, {21, 11});
    pcSends(1, {21, 3});
    EXPECT_EQ(streams[1].size(), 50u + 7u + 50u + 9u);
    EXPECT_EQ(Bytes(streams[1].begin() + 20, streams[1].begin() + 50), Bytes(30, 0));
    EXPECT_EQ(payloads(1, 23).size(), 2u);
}

TEST_F(WorldTest, ReplyDelayAndLostRepliesApplyToRepliesOnly) {
    station();
    Faults f;
    f.replyDelay = 500ms;
    ASSERT_TRUE(world.setFaults(1, f));
    pcSends(1, {21, 11});
    clock.advance(400ms);
    EXPECT_TRUE(frames().empty());
    clock.advance(200ms);
    EXPECT_EQ(payloads(1, 23).size(), 1u);

    ASSERT_TRUE(world.setFaults(1, Faults{}));
    ASSERT_TRUE(world.loseNextReplies(1, 1));
    module(100, 7);
    pcSends(1, {21, 11});
    clock.advance(1s);
    auto sent = frames();
    EXPECT_EQ(count(EventKind::ReplyLost), 1u);
    EXPECT_FALSE(sent.empty());
    for (const auto &frame : sent)
        EXPECT_EQ(frame[3] & 0x1F, 3);  // data still flows
}

TEST_F(WorldTest, UnpluggedStationSendsNothingAndForgetsAWaitingBind) {
    station();
    module(100, 7);
    pcSends(1, {19, 0, 0, 0, 0, 10});
    pcSends(1, {21, 11});
    ASSERT_TRUE(world.setPlugged(1, false));
    frames();
    clock.advance(1s);
    pcSends(1, {21, 11});
    ASSERT_TRUE(world.powerUp(100));
    clock.advance(1s);
    EXPECT_TRUE(streams[1].empty());
    ASSERT_TRUE(world.setPlugged(1, true));
    EXPECT_FALSE(world.station(1)->bindWaiting);
    clock.advance(1s);
    EXPECT_FALSE(payloads(1, 3).empty());
}

TEST_F(WorldTest, ReplyScheduledBeforeAnUnplugIsNotSentAfterTheReplug) {
    station();
    module(100, 7);
    pcSends(1, remoteRead(100, 3, 11));  // answered after 5 ms
    ASSERT_TRUE(world.setPlugged(1, false));
    ASSERT_TRUE(world.setPlugged(1, true));
    clock.advance(10ms);
    EXPECT_TRUE(payloads(1, 13).empty());
}

TEST_F(WorldTest, InvalidSettingsAreRefusedWithTheirReason) {
    ModuleConfig m = moduleConfig(0, 1);
    EXPECT_NE(world.addModule(m).error().find("module ID"), std::string::npos);
    m = moduleConfig(kBroadcastId, 1);
    EXPECT_FALSE(world.addModule(m));
    m = moduleConfig(5, 1);
    m.rate = -1;
    EXPECT_NE(world.addModule(m).error().find("rate"), std::string::npos);
    m = moduleConfig(5, 1);
    m.fixedValue = Bytes(94, 'x');
    m.type = DataType::String;
    EXPECT_NE(world.addModule(m).error().find("93"), std::string::npos);
    module(5, 1);
    EXPECT_FALSE(world.addModule(moduleConfig(5, 2)));
    EXPECT_FALSE(world.updateModule(5, [](ModuleConfig &c) { c.id = 6; }));
    EXPECT_FALSE(world.updateModule(5, [](ModuleConfig &c) { c.channel = 0; }));
    EXPECT_EQ(world.module(5)->config.channel, 1);
    EXPECT_FALSE(world.updateModule(77, [](ModuleConfig &) {}));
}
