// A recording replayed through the world in virtual time: when each row goes
// out and what it carries, loops and ranges, and replayed modules that answer
// commands and are heard by their own station only.

#include <bit>

#include "replay_player.hpp"
#include "world_fixture.hpp"

namespace lyx::sim::testing {

namespace {

constexpr const char *kHeader = "time,ms,station,tag,value,status,rssi,cv,batt_low,error\n";

std::shared_ptr<const Recording> recordingOf(const std::string &csv) {
    RecordingReader reader;
    auto out = std::make_shared<Recording>();
    Outcome ok = reader.addText("test.csv", csv);
    if (ok) ok = reader.finish(*out);
    EXPECT_TRUE(ok) << ok.error();
    return out;
}

// `count` rows of tag 7 on station 1, every `period` ms from 0, valued 1, 2, ...
std::string counting(int count, int period) {
    std::string csv = kHeader;
    for (int i = 0; i < count; ++i) {
        csv += "2026-12-08T07:00:00.000Z," + std::to_string(i * period) + ",1,7," +
               std::to_string(i + 1) + ",0,-60,100,0,0\n";
    }
    return csv;
}

}  // namespace

class Replay : public WorldTest {
  protected:
    struct Frame {
        TimePoint at;
        int station;
        link::Bytes payload;  // the data-provider payload
        bool waited;
    };

    bool send(int number, std::span<const std::uint8_t> bytes) override {
        return keep(number, bytes, false);
    }
    bool sendWaiting(int number, std::span<const std::uint8_t> bytes) override {
        return keep(number, bytes, true);
    }
    bool keep(int number, std::span<const std::uint8_t> bytes, bool waited) {
        // Without faults each call is one whole frame: length twice, address,
        // payload, CRC.
        sent.push_back(
            {clock.now(), number, link::Bytes(bytes.begin() + 3, bytes.end() - 2), waited});
        return true;
    }

    std::unique_ptr<ReplayPlayer> play(std::shared_ptr<const Recording> recording,
                                       ReplaySettings settings = {}) {
        std::vector<std::uint32_t> ids;
        Outcome ok = addReplayModules(world, *recording, ids);
        EXPECT_TRUE(ok) << ok.error();
        EventSink &sink = *this;
        auto player = std::make_unique<ReplayPlayer>(world, clock, sink, recording, settings, ids);
        ok = player->start();
        EXPECT_TRUE(ok) << ok.error();
        return player;
    }

    // The value bytes of data payloads of tag 7, as the numbers they count.
    std::vector<int> counts(int station = 1) const {
        std::vector<int> out;
        for (const auto &f : sent) {
            if (f.station == station && f.payload.size() == 11) {
                out.push_back(f.payload[5] << 24 | f.payload[6] << 16 | f.payload[7] << 8 |
                              f.payload[8]);
            }
        }
        return out;
    }

    std::vector<Frame> sent;
};

TEST_F(Replay, RowsGoOutAtTheirTimesScaledByTheSpeedWithEveryField) {
    station(1, 1);
    station(2, 4);
    auto recording = recordingOf(std::string(kHeader) +
                                 "2026-12-08T07:00:00.000Z,1000,1,301,42,3,-71,99,1,0\n"
                                 "2026-12-08T07:00:00.000Z,1100,1,302,1.500000,0,-60,127,0,1\n"
                                 "2026-12-08T07:00:00.000Z,1250,2,301,hi,0,82,0,0,0\n"
                                 "2026-12-08T07:00:00.000Z,2000,1,301,,0,-60,100,0,0\n");
    for (double speed : {1.0, 4.0}) {
        sent.clear();
        const TimePoint start = clock.now();
        auto player = play(recording, ReplaySettings{speed, false, 0, std::nullopt});
        clock.advance(3s);
        ASSERT_EQ(sent.size(), 4u) << speed;
        const std::vector<int> at = {0, 100, 250, 1000};
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].at - start,
                      std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double, std::milli>(at[i] / speed)))
                << "row " << i << " at speed " << speed;
            EXPECT_FALSE(sent[i].waited);
        }
        EXPECT_EQ(sent[0].station, 1);
        // Type code with battery low, tag, status, int32, value, signal byte (rssi + 45), quality.
        EXPECT_EQ(sent[0].payload, (link::Bytes{0x43, 0x01, 0x2D, 3, 3, 0, 0, 0, 42,
                                                static_cast<std::uint8_t>(-71 + 45), 99}));
        EXPECT_EQ(sent[1].payload, (link::Bytes{0x83, 0x01, 0x2E, 0, 4, 0x3F, 0xC0, 0, 0,
                                                static_cast<std::uint8_t>(-60 + 45), 127}));
        EXPECT_EQ(sent[2].station, 2);  // on another channel: its own station carries it
        EXPECT_EQ(sent[2].payload, (link::Bytes{0x03, 0x01, 0x2D, 0, 5, 'h', 'i', 127, 0}));
        EXPECT_EQ(sent[3].payload, (link::Bytes{0x03, 0x01, 0x2D, 0, 0, 241, 100}));  // type none
        const ReplayStatus status = player->status();
        EXPECT_FALSE(status.running);
        EXPECT_EQ(
            std::tuple(status.sent, status.quiet, status.rows, status.position),
            std::tuple(std::uint64_t{4}, std::uint64_t{0}, std::uint64_t{4}, std::int64_t{1000}));
        EXPECT_EQ(count(EventKind::ReplayEnded), speed == 1.0 ? 1u : 2u);
        EXPECT_EQ(events.back().kind, EventKind::ReplayEnded);
        EXPECT_EQ(events.back().code, 4);
        // The module of station 1 tag 301 took the last row's flags.
        EXPECT_FALSE(world.module(status.moduleIds[0])->config.batteryLow);
    }
    EXPECT_EQ(world.module(65536 + 301)->station, 1);  // the first replay's IDs
    EXPECT_EQ(world.module(2 * 65536 + 301)->config.type, DataType::String);
}

TEST_F(Replay, ARangeLoopsUntilStoppedAndEveryRoundIsAnEvent) {
    station();
    auto recording = recordingOf(counting(5, 100));  // 1 to 5 at 0 to 400 ms
    const TimePoint start = clock.now();
    auto player = play(recording, ReplaySettings{1.0, true, 100, 300});
    clock.advance(1050ms);
    // Rows 2, 3, 4 (100 to 300 ms), then again after one more gap of 100 ms.
    EXPECT_EQ(counts(), (std::vector<int>{2, 3, 4, 2, 3, 4, 2, 3, 4, 2, 3}));
    EXPECT_EQ(sent[3].at - start, 300ms);
    EXPECT_EQ(count(EventKind::ReplayLooped), 3u);
    ReplayStatus status = player->status();
    EXPECT_TRUE(status.running);
    EXPECT_EQ(std::tuple(status.loops, status.row, status.rows, status.position, status.end),
              std::tuple(std::uint64_t{3}, std::uint64_t{2}, std::uint64_t{3}, std::int64_t{200},
                         std::int64_t{300}));
    player->stop();
    EXPECT_FALSE(player->status().running);
    EXPECT_TRUE(player->status().stopped);
    EXPECT_EQ(events.back().kind, EventKind::ReplayEnded);
    EXPECT_EQ(events.back().detail, "sent=11 quiet=0 unheard=0 loops=3 stopped");
    clock.advance(1s);
    EXPECT_EQ(counts().size(), 11u);  // nothing after the stop
}

TEST_F(Replay, AtSpeedZeroRowsGoAsFastAsEachStationsLinkTakesThem) {
    station(1, 1);
    station(2, 2);
    // 300 s of two stations, a row of each every second.
    std::string csv = kHeader;
    for (int i = 0; i < 300; ++i) {
        const std::string ms = std::to_string(i * 1000);
        csv += "2026-12-08T07:00:00.000Z," + ms + ",1,7," + std::to_string(i + 1) + ",0,-60,100,0,0\n";
        csv += "2026-12-08T07:00:00.000Z," + ms + ",2,8,1,0,-60,100,0,0\n";
    }
    auto player = play(recordingOf(csv), ReplaySettings{0.0, false, 0, std::nullopt});
    const TimePoint start = clock.now();
    clock.advance(10ms);
    // 12 000 frames a second a link: 12 a millisecond, each station's link its own.
    for (int s : {1, 2}) {
        const auto n = std::count_if(sent.begin(), sent.end(), [&](const Frame &f) { return f.station == s; });
        EXPECT_GE(n, 120) << s;
        EXPECT_LE(n, 145) << s;  // and two milliseconds' worth at the start
    }
    clock.advance(100ms);
    std::vector<int> expected(300);
    for (int i = 0; i < 300; ++i) expected[i] = i + 1;
    EXPECT_EQ(counts(), expected);  // every row, in order
    EXPECT_LE(sent.back().at - start, 26ms);
    EXPECT_TRUE(std::all_of(sent.begin(), sent.end(), [](const Frame &f) { return f.waited; }));
    EXPECT_FALSE(player->status().running);
}

TEST_F(Replay, AReplayedModuleAnswersCommandsThroughItsOwnStationOnly) {
    // Two stations on one channel, each with a module of tag 7.
    station(1, 1);
    station(2, 1);
    std::string csv = kHeader;
    for (int i = 0; i < 10; ++i) {
        for (int s : {1, 2}) {
            csv += "2026-12-08T07:00:00.000Z," + std::to_string(i * 100) + "," + std::to_string(s) +
                   ",7," + std::to_string(i + 1) + ",0,-60,100,0,0\n";
        }
    }
    auto player = play(recordingOf(csv));
    clock.advance(250ms);                               // rows at 0, 100, 200
    EXPECT_EQ(counts(1), (std::vector<int>{1, 2, 3}));  // only its own rows
    EXPECT_EQ(counts(2), (std::vector<int>{1, 2, 3}));

    // Sleep for tag 7 through station 1: only station 1's module hears it.
    const std::uint32_t one = player->moduleIds()[0];
    const std::uint32_t two = player->moduleIds()[1];
    pcSends(1, {3, 0, 7, 0, 0xFF, 1});
    EXPECT_TRUE(world.module(one)->asleep);
    EXPECT_FALSE(world.module(two)->asleep);
    clock.advance(300ms);  // 300 to 500: quiet on station 1
    // Its station moves to another channel; the module follows and still hears it.
    ASSERT_TRUE(world.setStationChannel(1, 9));
    EXPECT_EQ(world.module(one)->config.channel, 9);
    pcSends(1, {6, static_cast<std::uint8_t>(one >> 16), static_cast<std::uint8_t>(one >> 8),
                static_cast<std::uint8_t>(one), 50, 5});  // wake by ID
    clock.advance(5ms);
    EXPECT_FALSE(world.module(one)->asleep);
    clock.advance(1s);
    EXPECT_EQ(counts(1), (std::vector<int>{1, 2, 3, 7, 8, 9, 10}));
    EXPECT_EQ(counts(2), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(player->status().quiet, 3u);
    EXPECT_EQ(player->status().sent, 17u);
}

}  // namespace lyx::sim::testing
