// Recordings of lyx log read back: both formats, the type of each module, the
// timeline over files and runs, and what a malformed file is told.

#include <gtest/gtest.h>

#include <bit>
#include <random>

#include "lyx/sim/recording.hpp"

using namespace lyx::sim;

namespace {

constexpr const char *kHeader = "time,ms,station,tag,value,status,rssi,cv,batt_low,error\n";

Outcome read(Recording &out, std::vector<std::pair<std::string, std::string>> files,
             bool skipBad = false) {
    RecordingReader reader(RecordingOptions{skipBad});
    for (const auto &[name, text] : files) {
        if (auto ok = reader.addText(name, text); !ok) return ok;
    }
    return reader.finish(out);
}

Recording recording(std::vector<std::pair<std::string, std::string>> files) {
    Recording out;
    Outcome ok = read(out, std::move(files));
    EXPECT_TRUE(ok) << ok.error();
    return out;
}

std::string error(std::vector<std::pair<std::string, std::string>> files, bool skipBad = false) {
    Recording out;
    Outcome ok = read(out, std::move(files), skipBad);
    EXPECT_FALSE(ok);
    return ok.error();
}

Bytes valueOf(const Recording &r, std::size_t row) {
    auto v = r.valueOf(r.rows.at(row));
    return Bytes(v.begin(), v.end());
}

Bytes int32(std::int32_t n) {
    const auto u = static_cast<std::uint32_t>(n);
    return {static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16),
            static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
}

float floatOf(const Bytes &b) {
    return std::bit_cast<float>(
        static_cast<std::uint32_t>(b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]));
}

std::vector<DataType> types(const Recording &r) {
    std::vector<DataType> out;
    for (const auto &m : r.modules)
        out.push_back(m.type);
    return out;
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(Recording, CsvAndJsonLinesOfTheSamePacketsReadAlike) {
    const std::string csv = std::string(kHeader) +
                            "2026-12-08T07:05:09.042+01:00,1000,1,301,7,0,-60,100,0,0\n"
                            "2026-12-08T07:05:09.142+01:00,1100,1,302,1.500000,3,-71,99,1,0\n"
                            "2026-12-08T07:05:09.242+01:00,1200,1,303,\"hi, \"\"you\"\"\",0,-60,"
                            "127,0,1\r\n"
                            "2026-12-08T07:05:09.250+01:00,1208,2,301,,255,-173,0,1,1\n"
                            "\n"
                            "2026-12-08T07:05:09.342+01:00,1300,1,301,-8,0,82,100,0,0\n";
    const std::string jsonl =
        R"({"time":"2026-12-08T07:05:09.042+01:00","ms":1000,"station":1,"tag":301,"value":7,"value_type":"number","status":0,"rssi":-60,"cv":100,"batt_low":false,"error":false}
{"time":"2026-12-08T07:05:09.142+01:00","ms":1100,"station":1,"tag":302,"value":1.500000,"value_type":"number","status":3,"rssi":-71,"cv":99,"batt_low":true,"error":false}
{"time":"2026-12-08T07:05:09.242+01:00","ms":1200,"station":1,"tag":303,"value":"hi, \"you\"","value_type":"text","status":0,"rssi":-60,"cv":127,"batt_low":false,"error":true}
{"time":"2026-12-08T07:05:09.250+01:00","ms":1208,"station":2,"tag":301,"value":null,"value_type":"none","status":255,"rssi":-173,"cv":0,"batt_low":true,"error":true}

{"time":"2026-12-08T07:05:09.342+01:00","ms":1300,"station":1,"tag":301,"value":-8,"value_type":"number","status":0,"rssi":82,"cv":100,"batt_low":false,"error":false}
)";
    const Recording a = recording({{"run.csv", csv}});
    const Recording b = recording({{"run.jsonl", jsonl}});
    for (const Recording *r : {&a, &b}) {
        ASSERT_EQ(r->rows.size(), 5u);
        ASSERT_EQ(r->modules.size(), 4u);  // by station, then tag
        EXPECT_EQ(types(*r), (std::vector<DataType>{DataType::Int32, DataType::Float,
                                                    DataType::String, DataType::None}));
        EXPECT_EQ(r->modules[3].station, 2);
        EXPECT_EQ(r->stations(), (std::vector<int>{1, 2}));
        std::vector<std::int64_t> at;
        for (const auto &row : r->rows)
            at.push_back(row.at);
        EXPECT_EQ(at, (std::vector<std::int64_t>{0, 100, 200, 208, 300}));
        EXPECT_EQ(valueOf(*r, 0), int32(7));
        EXPECT_EQ(valueOf(*r, 4), int32(-8));
        EXPECT_EQ(floatOf(valueOf(*r, 1)), 1.5f);
        EXPECT_EQ(valueOf(*r, 2), (Bytes{'h', 'i', ',', ' ', '"', 'y', 'o', 'u', '"'}));
        EXPECT_TRUE(valueOf(*r, 3).empty());
        const RecordedRow &flags = r->rows[1];
        EXPECT_EQ(flags.status, 3);
        EXPECT_EQ(flags.rssi, -71);
        EXPECT_EQ(flags.linkQuality, 99);
        EXPECT_TRUE(flags.batteryLow);
        EXPECT_FALSE(flags.error);
        const RecordedRow &edge = r->rows[3];
        EXPECT_EQ(edge.type, DataType::None);
        EXPECT_EQ(std::tuple(edge.status, edge.rssi, edge.linkQuality, edge.batteryLow, edge.error),
                  std::tuple(std::uint8_t{255}, std::int16_t{-173}, std::uint8_t{0}, true, true));
        EXPECT_TRUE(r->warnings.empty());
        // 07:05:09.042 local, as written.
        EXPECT_EQ(*r->firstLocalTime % (24 * 3600 * 1000LL), (7 * 3600 + 5 * 60 + 9) * 1000LL + 42);
    }
    // Without ms (lyx monitor --json), the time column gives the times.
    const Recording monitor = recording(
        {{"m.jsonl", R"({"time":"2026-12-08T07:05:09.042+01:00","station":1,"tag":5,"value":"a"}
{"time":"2026-12-08T06:05:10.542Z","station":1,"tag":5,"value":"b"})"}});
    EXPECT_EQ(monitor.rows.at(1).at, 1500);
}

TEST(Recording, EachModulesTypeFollowsAllItsValues) {
    const Recording r = recording(
        {{"types.csv", std::string(kHeader) +
                           // int32, also in the exponent form of eight digits and more
                           "2026-12-08T07:00:00.000Z,0,1,1,12,0,-60,100,0,0\n"
                           "2026-12-08T07:00:00.000Z,0,1,1,1.234568E+07,0,-60,100,0,0\n"
                           // floats as a receiver shows them, NaN among them
                           "2026-12-08T07:00:00.000Z,0,1,2,2.000000,0,-60,100,0,0\n"
                           "2026-12-08T07:00:00.000Z,0,1,2,NaN,0,-60,100,0,0\n"
                           // numbers no receiver shows so: a module's text, sent as string
                           "2026-12-08T07:00:00.000Z,0,1,3,1,0,-60,100,0,0\n"
                           "2026-12-08T07:00:00.000Z,0,1,3,12.3,0,-60,100,0,0\n"
                           // text among numbers: every value a string
                           "2026-12-08T07:00:00.000Z,0,1,4,12,0,-60,100,0,0\n"
                           "2026-12-08T07:00:00.000Z,0,1,4,twelve,0,-60,100,0,0\n"
                           // hexadecimal bytes that are not all printable: binary
                           "2026-12-08T07:00:00.000Z,0,1,5,0A1B,0,-60,100,0,0\n"
                           "2026-12-08T07:00:00.000Z,0,1,5,4142,0,-60,100,0,0\n"
                           // hexadecimal digits of printable text ("OK"): a string
                           "2026-12-08T07:00:00.000Z,0,1,6,4F4B,0,-60,100,0,0\n"
                           // a float's large reading, out of int32's range
                           "2026-12-08T07:00:00.000Z,0,1,7,3000000000,0,-60,100,0,0\n"}});
    EXPECT_EQ(types(r), (std::vector<DataType>{DataType::Int32, DataType::Float, DataType::String,
                                               DataType::String, DataType::Binary, DataType::String,
                                               DataType::Float}));
    EXPECT_EQ(valueOf(r, 1), int32(12345680));
    EXPECT_EQ(floatOf(valueOf(r, 2)), 2.0f);
    EXPECT_TRUE(std::isnan(floatOf(valueOf(r, 3))));
    EXPECT_EQ(valueOf(r, 5), (Bytes{'1', '2', '.', '3'}));
    EXPECT_EQ(floatOf(valueOf(r, 11)), 3e9f);
    EXPECT_EQ(valueOf(r, 6), (Bytes{'1', '2'}));
    EXPECT_EQ(valueOf(r, 8), (Bytes{0x0A, 0x1B}));
    EXPECT_EQ(valueOf(r, 9), (Bytes{0x41, 0x42}));
    EXPECT_EQ(valueOf(r, 10), (Bytes{'4', 'F', '4', 'B'}));
    // JSON Lines say which values are binary.
    const Recording j =
        recording({{"b.jsonl",
                    R"({"ms":0,"station":1,"tag":9,"value":"4142","value_type":"binary"}
{"ms":5,"station":1,"tag":9,"value":"00ff","value_type":"binary"})"}});
    EXPECT_EQ(types(j), (std::vector<DataType>{DataType::Binary}));
    EXPECT_EQ(valueOf(j, 0), (Bytes{0x41, 0x42}));
    EXPECT_EQ(valueOf(j, 1), (Bytes{0x00, 0xFF}));
}

TEST(Recording, AFloatIsSentAsTheValueAReceiverShowsAsTheLoggedText) {
    // Readings of every size, shown as a receiver shows them, read back: the
    // value chosen must show as the same text (a receiver cuts digits, so the
    // nearest single is not always it).
    std::mt19937 random(7);
    std::string csv = kHeader;
    std::vector<std::string> texts;
    for (int i = 0; i < 20000; ++i) {
        const double magnitude =
            std::pow(10.0, std::uniform_real_distribution<double>(-6, 9)(random));
        const float f = static_cast<float>((i % 2 == 0 ? 1 : -1) * magnitude);
        texts.push_back(receivedFloatText(f));
        csv += "2026-12-08T07:00:00.000Z," + std::to_string(i) + ",1,2," + texts.back() +
               ",0,-60,100,0,0\n";
    }
    const Recording r = recording({{"floats.csv", csv}});
    ASSERT_EQ(r.modules.at(0).type, DataType::Float);
    int differ = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (receivedFloatText(floatOf(valueOf(r, i))) != texts[i]) {
            ADD_FAILURE_AT(__FILE__, __LINE__)
                << texts[i] << " came back as " << receivedFloatText(floatOf(valueOf(r, i)));
            if (++differ == 5) break;
        }
    }
    EXPECT_EQ(receivedFloatText(12.5f), "12.50000");
    EXPECT_EQ(receivedFloatText(-0.1234567f), "-0.123456");
    EXPECT_EQ(receivedFloatText(123456800.0f), "123456800");
}

TEST(Recording, FilesAndRunsMakeOneTimeline) {
    // A rotation's files, given out of order, are put in the order of their times.
    const std::string second = std::string(kHeader) +
                               "2026-12-08T07:00:02.000Z,2000,1,7,3,0,-60,100,0,0\n"
                               "2026-12-08T07:00:03.000Z,3000,1,7,4,0,-60,100,0,0\n";
    const std::string first = std::string(kHeader) +
                              "2026-12-08T07:00:00.500Z,500,1,7,1,0,-60,100,0,0\n"
                              "2026-12-08T07:00:01.000Z,1000,1,7,2,0,-60,100,0,0\n";
    // Another run of the logger appended to the file an hour later: ms starts again.
    const std::string appended = std::string(kHeader) +
                                 "2026-12-08T08:00:03.000Z,40,1,7,5,0,-60,100,0,0\n"
                                 "2026-12-08T08:00:03.250Z,290,1,7,6,0,-60,100,0,0\n";
    const Recording r =
        recording({{"run-2.csv", second}, {"run-10.csv", appended}, {"run.csv", first}});
    EXPECT_EQ(r.files, (std::vector<std::string>{"run.csv", "run-2.csv", "run-10.csv"}));
    std::vector<std::int64_t> at;
    for (const auto &row : r.rows)
        at.push_back(row.at);
    EXPECT_EQ(at, (std::vector<std::int64_t>{0, 500, 1500, 2500, 3602500, 3602750}));
    EXPECT_TRUE(r.warnings.empty());
    for (std::size_t i = 0; i < r.rows.size(); ++i)
        EXPECT_EQ(valueOf(r, i), int32(static_cast<int>(i) + 1));

    // A time that goes back: a warning, and the row follows the one before it.
    const Recording back =
        recording({{"back.csv", std::string(kHeader) +
                                    "2026-12-08T07:00:00.000Z,0,1,7,1,0,-60,100,0,0\n"
                                    "2026-12-08T07:00:00.300Z,300,1,7,2,0,-60,100,0,0\n"
                                    "2026-12-08T07:00:00.100Z,100,1,7,3,0,-60,100,0,0\n"
                                    "2026-12-08T07:00:00.400Z,400,1,7,4,0,-60,100,0,0\n"}});
    at.clear();
    for (const auto &row : back.rows)
        at.push_back(row.at);
    EXPECT_EQ(at, (std::vector<std::int64_t>{0, 300, 300, 400}));
    ASSERT_EQ(back.warnings.size(), 1u);
    EXPECT_TRUE(contains(back.warnings[0], "back.csv:4: the time goes back by 200 ms"))
        << back.warnings[0];
    EXPECT_TRUE(contains(back.warnings[0], "replayed in file order")) << back.warnings[0];
}

TEST(Recording, MalformedFilesSayWhichFileLineAndWhat) {
    const std::string row = "2026-12-08T07:00:00.000Z,0,1,7,1,0,-60,100,0,0\n";
    // Not a log of ours at all.
    EXPECT_TRUE(contains(error({{"notes.txt", "shopping list\neggs\n"}}),
                         "notes.txt: not a log of lyx log: unknown column 'shopping list'"));
    EXPECT_TRUE(contains(error({{"x.csv", "time,ms,value\n"}}), "needs the columns station, tag"));
    EXPECT_TRUE(
        contains(error({{"x.jsonl", "{\"a\":1}\n"}}),
                 "x.jsonl: not a log of lyx log: line 1: a row needs station, tag and value"));
    EXPECT_TRUE(contains(error({{"bin", std::string("\x7F"
                                                    "ELF\x01\x02\0\0",
                                                    8)}}),
                         "bin: not a log of lyx log"));
    EXPECT_EQ(error({{"empty.csv", ""}}), "empty.csv: no rows to replay");
    EXPECT_EQ(error({{"head.csv", kHeader}, {"b.jsonl", "\n"}}),
              "head.csv, b.jsonl: no rows to replay");

    // A row that does not parse: where and what, and how to go on.
    struct Case {
        std::string line;
        std::string message;
    };
    const Case cases[] = {
        {"2026-12-08T07:00:00.000Z,0,1,7,1,300,-60,100,0,0",
         "status: expected a whole number from 0 to 255, not '300'"},
        {"2026-12-08T07:00:00.000Z,0,1,7,1", "expected 10 fields, found 5"},
        {"yesterday,0,1,7,1,0,-60,100,0,0", "time: expected a time such as"},
        {"2026-12-08T07:00:00.000Z,0,1,65535,1,0,-60,100,0,0", "tag: 65535 addresses all modules"},
        {"2026-12-08T07:00:00.000Z,0,1,7,\"open,0,-60,100,0,0", "a quoted field is not closed"},
        {"2026-12-08T07:00:00.000Z,0,1,7,1,0,-60,128,0,0",
         "cv: expected a whole number from 0 to 127"},
        {"2026-12-08T07:00:00.000Z,0,1,7," + std::string(100, 'x') + ",0,-60,100,0,0",
         "value: 100 bytes, more than a packet carries (93)"},
    };
    for (const auto &c : cases) {
        const std::string text = std::string(kHeader) + row + c.line + "\n" + row;
        const std::string e = error({{"bad.csv", text}});
        EXPECT_TRUE(contains(e, "bad.csv:3: " + c.message)) << e;
        EXPECT_TRUE(contains(e, "--skip-bad")) << e;
        Recording skipped;
        ASSERT_TRUE(read(skipped, {{"bad.csv", text}}, true));
        EXPECT_EQ(skipped.rows.size(), 2u) << c.line;
        EXPECT_EQ(skipped.skippedRows, 1u);
        ASSERT_EQ(skipped.warnings.size(), 1u);
        EXPECT_TRUE(
            contains(skipped.warnings[0],
                     "skipped 1 row that does not parse; the first: bad.csv:3: " + c.message))
            << skipped.warnings[0];
    }
    EXPECT_TRUE(contains(error({{"j.jsonl",
                                 "{\"ms\":0,\"station\":1,\"tag\":2,\"value\":1}\n"
                                 "{\"ms\":1,\"station\":\"one\",\"tag\":2,\"value\":1}\n"}}),
                         "j.jsonl:2: station: expected a number, not a string"));
    EXPECT_TRUE(contains(error({{"j.jsonl",
                                 "{\"ms\":0,\"station\":1,\"tag\":2,\"value\":1}\n"
                                 "{\"ms\":1,\"station\":1,\"tag\":2,\"value\":1,}\n"}}),
                         "j.jsonl:2: expected a member name at column"));
    EXPECT_TRUE(contains(error({{"j.jsonl",
                                 "{\"ms\":0,\"station\":1,\"tag\":2,\"value\":\"zz\","
                                 "\"value_type\":\"binary\"}\n"}}),
                         "a binary value needs hexadecimal byte pairs"));
    // Nothing left to replay once the bad rows are skipped.
    EXPECT_TRUE(
        contains(error({{"all.csv", std::string(kHeader) + "x,0,1,7,1,0,-60,100,0,0\n"}}, true),
                 "all.csv: no row parses (1 skipped; the first: all.csv:2: time:"));
}

TEST(Recording, TimesIntoARecordingForFromAndTo) {
    const Recording r =
        recording({{"t.csv", std::string(kHeader) +
                                 "2026-12-08T23:59:30.000+01:00,0,1,7,1,0,-60,100,0,0\n"
                                 "2026-12-09T00:00:30.000+01:00,60000,1,7,2,0,-60,100,0,0\n"}});
    std::int64_t ms = 0;
    ASSERT_TRUE(parseRecordingTime("1.5min", r, ms));
    EXPECT_EQ(ms, 90000);
    ASSERT_TRUE(parseRecordingTime("250ms", r, ms));
    EXPECT_EQ(ms, 250);
    ASSERT_TRUE(parseRecordingTime("23:59:45.500", r, ms));  // the recording's clock
    EXPECT_EQ(ms, 15500);
    ASSERT_TRUE(parseRecordingTime("00:00:10", r, ms));  // after midnight
    EXPECT_EQ(ms, 40000);
    EXPECT_FALSE(parseRecordingTime("2026-12-09T00:00", r, ms));
    ASSERT_TRUE(parseRecordingTime("2026-12-09T00:00:20", r, ms));
    EXPECT_EQ(ms, 50000);
    EXPECT_TRUE(contains(parseRecordingTime("2026-12-08T12:00:00", r, ms).error(),
                         "before the recording's first row"));
    EXPECT_FALSE(parseRecordingTime("soon", r, ms));
    EXPECT_FALSE(parseRecordingTime("25:00:00", r, ms));
    const Recording untimed =
        recording({{"u.jsonl", "{\"ms\":5,\"station\":1,\"tag\":2,\"value\":1}\n"}});
    EXPECT_TRUE(contains(parseRecordingTime("07:00:00", untimed, ms).error(), "no time column"));
}
