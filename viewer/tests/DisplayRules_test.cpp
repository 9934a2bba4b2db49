// The viewer's value rules on their own: value texts, typed values, the display format, link
// quality and the button rule.

#include "DisplayRules.h"

#include <QString>

#include <gtest/gtest.h>

#include <ostream>

using namespace lyx::viewer;

inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

TEST(ValueNumbers, AreReadWithThePointWhateverTheLocale) {
    EXPECT_EQ(parseValueNumber("12.50000"), 12.5);
    EXPECT_EQ(parseValueNumber("-3"), -3.0);
    EXPECT_EQ(parseValueNumber(" 7 "), 7.0);
    EXPECT_EQ(parseValueNumber("+4.5"), 4.5);
    EXPECT_EQ(parseValueNumber(".5"), 0.5);
    EXPECT_EQ(parseValueNumber("1.234568E+08"), 123456800.0);
    EXPECT_EQ(parseValueNumber("0.0012340"), 0.001234);
    for (const char *text : {"", "binary", "1,5", "NaN", "Infinity", "-Infinity", "12abc", "1e",
                             "0x10", "--1", ".", "1.2.3", "1E+400"})
        EXPECT_FALSE(parseValueNumber(text).has_value()) << text;
}

TEST(ValueNumbers, AreWrittenShortestWithTheLocalesSeparator) {
    EXPECT_EQ(valueText(12.5, QStringLiteral(".")), QStringLiteral("12.5"));
    EXPECT_EQ(valueText(12.5, QStringLiteral(",")), QStringLiteral("12,5"));
    EXPECT_EQ(valueText(1.1 - double(0.1f), QStringLiteral(".")),
              QStringLiteral("0.999999998509884"));
    EXPECT_EQ(valueText(123456800, QStringLiteral(".")), QStringLiteral("123456800"));
    EXPECT_EQ(valueText(-0.25, QStringLiteral(",")), QStringLiteral("-0,25"));
    EXPECT_EQ(valueText(1e16, QStringLiteral(".")), QStringLiteral("1E+16"));
    EXPECT_EQ(valueText(1234567.5, QStringLiteral(".")), QStringLiteral("1234567.5"))
        << "no group separators";
}

TEST(TypedValues, DecodeEveryTypeAndRefuseWrongLengths) {
    using V = std::variant<double, std::string>;
    EXPECT_EQ(DecodeDPP(std::string("\x01\xFF", 2)), V(255.0));
    EXPECT_EQ(DecodeDPP(std::string("\x02\x01\x02", 3)), V(258.0));
    EXPECT_EQ(DecodeDPP(std::string("\x03\xFF\xFF\xFF\x85", 5)), V(-123.0));
    EXPECT_EQ(DecodeDPP(std::string("\x03\x7F\xFF\xFF\xFF", 5)), V(2147483647.0));
    EXPECT_EQ(DecodeDPP(std::string("\x04\x41\x48\x00\x00", 5)), V(12.5));
    EXPECT_EQ(DecodeDPP(std::string("\x15"
                                    "abc",
                                    4)),
              V(std::string("abc")))
        << "only the low four bits name the type";
    EXPECT_EQ(DecodeDPP(std::string("\x06\x0A\x1B\xFF", 4)), V(std::string("0A 1B FF ")));
    for (const char *t : {"\x01", "\x02\x01", "\x03\x01\x02\x03", "\x04\x01\x02\x03\x04\x05"})
        EXPECT_EQ(DecodeDPP(t), V(std::string("Incorrect data length to decode data type!")))
            << int(t[0]);
    EXPECT_EQ(DecodeDPP(std::string("\x07\x01", 2)), V(std::string()));
    EXPECT_EQ(DecodeDPP(std::string("\x00\x01", 2)), V(std::string()));
    EXPECT_EQ(DecodeDPP(""), V(std::string()));
}

TEST(TypedValues, HexadecimalKeepsLeadingZerosAndEndsWithASpace) {
    EXPECT_EQ(CVStr2HEX(std::string("\x0A\x1B\xFF", 3)), QStringLiteral("0A 1B FF "));
    EXPECT_EQ(CVStr2HEX(std::string("\x00", 1)), QStringLiteral("00 "));
    EXPECT_EQ(CVStr2HEX(""), QString());
}

TEST(LinkQuality, RisesWithSignalAndLinkFiguresUpTo100) {
    EXPECT_FLOAT_EQ(linkQuality(0, 0), 76.05f);
    EXPECT_FLOAT_EQ(linkQuality(-48, 60), 99.45f);
    EXPECT_FLOAT_EQ(linkQuality(13, 0), 100.0f);
    EXPECT_FLOAT_EQ(linkQuality(-60, 127), 100.0f);
    EXPECT_FLOAT_EQ(linkQuality(-39, 0), 0.0f);
    EXPECT_FLOAT_EQ(linkQuality(-40, 0), -1.95f);
    EXPECT_FLOAT_EQ(linkQuality(-128, 0), -173.55f);
}

TEST(SearchClock, CountsAcrossMidnight) {
    EXPECT_DOUBLE_EQ(secondsSince(100.0, 100.5), 0.5);
    EXPECT_NEAR(secondsSince(86399.8, 0.3), 0.5, 1e-9);
}

namespace {

struct Shown {
    QString caption;
    int digits;
};

Shown show(DisplayScale &scale, double value, int digits = 6, const char *point = ".") {
    const auto result = scale.format(value, digits, QString::fromLatin1(point));
    return {result.caption, digits};
}

}  // namespace

TEST(DisplayFormat, FollowsTheWholePartAndTheBudget) {
    DisplayScale scale;
    EXPECT_EQ(show(scale, 12.5).caption, QStringLiteral(" 12.500"));
    EXPECT_EQ(scale.displayFormat, QStringLiteral(" 00.000"));
    EXPECT_EQ(show(scale, -3.25).caption, QStringLiteral("-03.250"));
    EXPECT_EQ(show(scale, 0).caption, QStringLiteral(" 00.000"));
    EXPECT_EQ(show(scale, -0.0001).caption, QStringLiteral(" 00.000")) << "no sign for a zero";
    EXPECT_EQ(show(scale, 99.9996).caption, QStringLiteral("100.000")) << "rounded up";

    DisplayScale fraction;  // no whole digits: the point comes first
    EXPECT_EQ(show(fraction, 0.5).caption, QStringLiteral(" .50000"));
    EXPECT_EQ(fraction.integerDigits, 0);
    EXPECT_EQ(show(fraction, -0.5).caption, QStringLiteral("-0.5000")) << "-0.5 has a whole part";
}

TEST(DisplayFormat, UsesTheLocalesSeparator) {
    DisplayScale scale;
    EXPECT_EQ(show(scale, 12.5, 6, ",").caption, QStringLiteral(" 12,500"));
    EXPECT_EQ(show(scale, -3.25, 6, ",").caption, QStringLiteral("-03,250"));
}

TEST(DisplayFormat, GrowsTheBudgetOneDigitAtATimeAndTheCellsToFit) {
    DisplayScale scale;
    Shown s = show(scale, 123456);
    EXPECT_EQ(s.caption, QStringLiteral("123456."));
    EXPECT_EQ(scale.totalDigits, 6);
    EXPECT_EQ(s.digits, 6);

    DisplayScale wide;
    s = show(wide, 12345678);
    EXPECT_EQ(wide.totalDigits, 6) << "one step per value";
    EXPECT_EQ(s.digits, 9);
    EXPECT_EQ(s.caption, QStringLiteral(" 12345678."));
    EXPECT_EQ(wide.decimalPlaces, 0);

    DisplayScale negative;
    s = show(negative, -123456);
    EXPECT_EQ(s.caption, QStringLiteral("-123456."));
    EXPECT_EQ(s.digits, 7);
}

TEST(DisplayFormat, RescalesAfterTheDecimalsWereResetButNotOnTheSixDigitScale) {
    DisplayScale scale;
    EXPECT_TRUE(show(scale, 12.5).caption.size() == 7);
    int digits = 6;
    EXPECT_FALSE(scale.format(12.5, digits, QStringLiteral(".")).rescaled);
    scale.totalDigits = 4;
    scale.decimalPlaces = 0;  // what the decimal-place buttons do
    const auto r = scale.format(12.5, digits, QStringLiteral("."));
    EXPECT_TRUE(r.rescaled);
    EXPECT_EQ(r.caption, QStringLiteral("  12.50"));

    DisplayScale six;
    show(six, 123456);
    six.decimalPlaces = 0;
    digits = 6;
    EXPECT_FALSE(six.format(123456, digits, QStringLiteral(".")).rescaled);
}

TEST(ButtonRule, DisablesWhileLostOrSearchingAndLeavesDecimalsInRecordMode) {
    const ButtonStates lost = buttonStates(true, 0x10, false, 4);
    EXPECT_EQ(lost.value, false);
    EXPECT_EQ(lost.digitsUp, false);
    EXPECT_EQ(lost.digitsDown, false);
    const ButtonStates searching = buttonStates(false, 0, false, 4);
    EXPECT_EQ(searching.value, false);
    EXPECT_EQ(searching.digitsUp, false);

    const ButtonStates middle = buttonStates(false, 0x10, false, 4);
    EXPECT_EQ(middle.value, true);
    EXPECT_EQ(middle.digitsUp, true);
    EXPECT_EQ(middle.digitsDown, true);
    const ButtonStates top = buttonStates(false, 0x10, false, 5);
    EXPECT_FALSE(top.digitsUp.has_value()) << "left as it is, not disabled";
    EXPECT_EQ(top.digitsDown, true);
    const ButtonStates bottom = buttonStates(false, 0x10, false, 2);
    EXPECT_EQ(bottom.digitsUp, true);
    EXPECT_FALSE(bottom.digitsDown.has_value());
    const ButtonStates record = buttonStates(false, 0x10, true, 8);
    EXPECT_EQ(record.value, true);
    EXPECT_FALSE(record.digitsUp.has_value());
    EXPECT_FALSE(record.digitsDown.has_value());
}
