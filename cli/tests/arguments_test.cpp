#include "arguments.hpp"

#include <gtest/gtest.h>

#include "device_commands.hpp"

namespace lyx::cli {
namespace {

const std::vector<OptionSpec> kOptions = {
    {"--tag", "T", "", true}, {"--json", "", ""}, {"--port", "N", ""}};

TEST(Arguments, OptionsValuesAndPositionalWords) {
    Arguments a({"--tag", "7", "file.csv", "--tag=8", "--json", "--", "--port"}, kOptions);
    EXPECT_EQ(a.values("--tag"), (std::vector<std::string>{"7", "8"}));
    EXPECT_TRUE(a.has("--json"));
    EXPECT_FALSE(a.has("--port"));
    // After "--" an option's name is a word; a negative number is never an option.
    EXPECT_EQ(a.positional(), (std::vector<std::string>{"file.csv", "--port"}));
    EXPECT_EQ(Arguments({"-5"}, kOptions).positional(), (std::vector<std::string>{"-5"}));
}

TEST(Arguments, FaultsAreUsageErrorsNamingTheOption) {
    const auto message = [](std::vector<std::string> words) {
        try {
            Arguments a(words, kOptions);
            a.expectPositional(0, 0, "");
        } catch (const UsageError &e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message({"--colour"}), "unknown option '--colour'");
    EXPECT_EQ(message({"--port"}), "--port needs a value (N)");
    EXPECT_EQ(message({"--port", "1", "--port", "2"}), "--port given more than once");
    EXPECT_EQ(message({"--json=yes"}), "--json takes no value");
    EXPECT_EQ(message({"extra"}), "unexpected argument 'extra'");
}

TEST(Arguments, OnlyTheMissingWordsAreNamed) {
    const auto missing = [](std::vector<std::string> words) {
        try {
            Arguments(words, kOptions).expectWords({"ID", "PARAM", "TYPE", "VALUE"});
        } catch (const UsageError &e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(missing({}), "missing ID, PARAM, TYPE and VALUE");
    EXPECT_EQ(missing({"0x0A0B0C"}), "missing PARAM, TYPE and VALUE");
    EXPECT_EQ(missing({"0x0A0B0C", "20"}), "missing TYPE and VALUE");
    EXPECT_EQ(missing({"0x0A0B0C", "20", "float"}), "missing VALUE");
    EXPECT_EQ(missing({"1", "2", "float", "3"}), "no error");
    EXPECT_EQ(missing({"1", "2", "float", "3", "4"}), "unexpected argument '4'");
}

TEST(Arguments, NumbersDurationsSizesAndHex) {
    EXPECT_EQ(parseInteger("0x0A0B0C", 0, 0xFFFFFF, "ID"), 0x0A0B0C);
    EXPECT_EQ(parseInteger("-2", -5, 5, "N"), -2);
    EXPECT_THROW(parseInteger("65536", 0, 65535, "TAG"), UsageError);
    EXPECT_THROW(parseInteger("12abc", 0, 100, "TAG"), UsageError);
    EXPECT_THROW(parseInteger("", 0, 100, "TAG"), UsageError);
    EXPECT_DOUBLE_EQ(parseDuration("500ms", "t"), 0.5);
    EXPECT_DOUBLE_EQ(parseDuration("10min", "t"), 600);
    EXPECT_DOUBLE_EQ(parseDuration("2", "t"), 2);
    EXPECT_THROW(parseDuration("0s", "t"), UsageError);
    EXPECT_THROW(parseDuration("5 weeks", "t"), UsageError);
    EXPECT_EQ(parseSize("64k", "s"), 65536u);
    EXPECT_EQ(parseSize("1.5M", "s"), 1572864u);
    EXPECT_THROW(parseSize("10X", "s"), UsageError);
    EXPECT_EQ(parseHexBytes("0x00 ff:10", "h"), std::string("\x00\xff\x10", 3));
    EXPECT_THROW(parseHexBytes("abc", "h"), UsageError);
    EXPECT_THROW(parseHexBytes("zz", "h"), UsageError);
}

TEST(ValueBytes, CheckedAgainstTheTypeAndWrittenAsText) {
    EXPECT_EQ(valueBytes(ValueType::UInt8, "255"), "255");
    EXPECT_THROW(valueBytes(ValueType::UInt8, "256"), UsageError);
    EXPECT_THROW(valueBytes(ValueType::UInt16, "-1"), UsageError);
    EXPECT_EQ(valueBytes(ValueType::Int32, "-2147483648"), "-2147483648");
    EXPECT_THROW(valueBytes(ValueType::Int32, "2147483648"), UsageError);
    EXPECT_EQ(valueBytes(ValueType::Float, "2.5"), "2.5");
    EXPECT_THROW(valueBytes(ValueType::Float, "1e39"), UsageError);
    EXPECT_THROW(valueBytes(ValueType::Float, "2,5"), UsageError);
    EXPECT_EQ(valueBytes(ValueType::Binary, "0102"), std::string("\x01\x02"));
    EXPECT_THROW(parseValueType("double"), UsageError);
    EXPECT_EQ(responseName(dataprovider::RT_NORESPONSE), "RT_NORESPONSE");
    EXPECT_EQ(statusOf(dataprovider::RT_ACK), 0);
    EXPECT_EQ(statusOf(dataprovider::RT_NOBASE), 2);
    EXPECT_EQ(statusOf(dataprovider::RT_NAK), 1);
}

}  // namespace
}  // namespace lyx::cli
