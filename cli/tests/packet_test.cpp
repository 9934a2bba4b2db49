#include "packet.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace lyx::cli {
namespace {

Packet packet(std::string value) {
    Packet p;
    p.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'700'000'000'042));
    p.sinceStartMs = 1500;
    p.station = 2;
    p.tag = 4660;
    p.value = std::move(value);
    p.status = 5;
    p.rssi = -101;
    p.cv = 48;
    p.battLow = true;
    return p;
}

// Local time in a fixed zone for the duration of a test.
class InZone : public ::testing::Test {
  protected:
    void SetUp() override {
        const char *tz = std::getenv("TZ");
        saved_ = tz ? tz : "";
        hadZone_ = tz != nullptr;
        setenv("TZ", "UTC-1", 1);  // one hour east of UTC
        tzset();
    }
    void TearDown() override {
        if (hadZone_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    std::string saved_;
    bool hadZone_ = false;
};

TEST(Classify, NumbersTextBinaryAndEmpty) {
    for (const char *number : {"200", "-2", "1.500000", "1.234568E+08", "0.0012340", "0"})
        EXPECT_EQ(classify(number), ValueKind::Number) << number;
    // Texts that a JSON reader would not take as numbers stay text.
    for (const char *text : {"007", "1.", ".5", "1e", "LC-1", "NaN", "-"})
        EXPECT_EQ(classify(text), ValueKind::Text) << text;
    EXPECT_EQ(classify(std::string("\x00\x01", 2)), ValueKind::Binary);
    EXPECT_EQ(classify("caf\xe9"), ValueKind::Binary);
    EXPECT_EQ(classify(""), ValueKind::Empty);
}

TEST_F(InZone, JsonCarriesEveryFieldWithTheValueByItsKind) {
    EXPECT_EQ(jsonObject(packet("1.500000"), true),
              "{\"time\":\"2023-11-14T23:13:20.042+01:00\",\"ms\":1500,\"station\":2,"
              "\"tag\":4660,\"value\":1.500000,\"value_type\":\"number\",\"status\":5,"
              "\"rssi\":-101,\"cv\":48,\"batt_low\":true,\"error\":false}");
    const std::string text = jsonObject(packet("say \"hi\" \\"), false);
    EXPECT_NE(text.find("\"value\":\"say \\\"hi\\\" \\\\\",\"value_type\":\"text\""),
              std::string::npos)
        << text;
    EXPECT_EQ(jsonString("a\nb\x01"), "\"a\\nb\\u0001\"");
    EXPECT_NE(jsonObject(packet(std::string("\x00\xff", 2)), false)
                  .find("\"value\":\"00FF\",\"value_type\":\"binary\""),
              std::string::npos);
    EXPECT_NE(jsonObject(packet(""), false).find("\"value\":null,\"value_type\":\"none\""),
              std::string::npos);
    EXPECT_EQ(jsonObject(packet("x"), false).find("\"ms\""), std::string::npos);
}

TEST_F(InZone, CsvRowsQuoteWhatNeedsItAndShowBinaryAsHex) {
    EXPECT_EQ(csvRow(packet("1234.567")),
              "2023-11-14T23:13:20.042+01:00,1500,2,4660,1234.567,5,-101,48,1,0");
    EXPECT_NE(csvRow(packet("a,\"b\"")).find(",\"a,\"\"b\"\"\","), std::string::npos);
    EXPECT_NE(csvRow(packet(" padded")).find(",\" padded\","), std::string::npos);
    EXPECT_NE(csvRow(packet(std::string("\x01\x0a", 2))).find(",010A,"), std::string::npos);
    EXPECT_EQ(std::string(csvHeader()), "time,ms,station,tag,value,status,rssi,cv,batt_low,error");
}

TEST_F(InZone, TextLineShowsTagInDecimalAndHexAndTheFlags) {
    Packet p = packet("200");
    p.error = true;
    EXPECT_EQ(textLine(p),
              "2023-11-14T23:13:20.042  station 2  tag  4660 (0x1234)  200  status 5  rssi -101  "
              "cv 48  batt-low  error");
    EXPECT_NE(textLine(packet(std::string("\x7f", 1))).find("<hex 7F>"), std::string::npos);
}

TEST_F(InZone, IsoTimeBeforeTheEpochKeepsItsMilliseconds) {
    const auto t = std::chrono::system_clock::time_point(std::chrono::milliseconds(-1));
    EXPECT_EQ(isoTime(t, true), "1970-01-01T00:59:59.999+01:00");
}

}  // namespace
}  // namespace lyx::cli
