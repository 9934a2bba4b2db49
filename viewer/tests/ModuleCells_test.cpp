// The texts of the module list: tags, ages, rates, link quality and values as the display
// formats them.

#include "ModuleCells.h"

#include <gtest/gtest.h>

#include <string>

using namespace lyx::viewer;
using std::chrono::milliseconds;

TEST(ModuleCells, TagsAgesRatesAndLinkQuality) {
    EXPECT_EQ(tagText(0x4D2), QStringLiteral("04D2"));
    EXPECT_EQ(tagText(0xBEEF), QStringLiteral("BEEF"));
    EXPECT_EQ(tagText(0), QStringLiteral("0000"));

    EXPECT_EQ(lastHeardText(milliseconds(0), false), QStringLiteral("now"));
    EXPECT_EQ(lastHeardText(milliseconds(999), false), QStringLiteral("now"));
    EXPECT_EQ(lastHeardText(milliseconds(2500), false), QStringLiteral("2 s"));
    EXPECT_EQ(lastHeardText(milliseconds(12'000), true), QStringLiteral("Lost Signal (12 s)"));
    EXPECT_EQ(lastHeardText(milliseconds(59'999), true), QStringLiteral("Lost Signal (59 s)"));
    EXPECT_EQ(lastHeardText(milliseconds(5 * 60'000 + 30'000), true),
              QStringLiteral("Lost Signal (5 min)"));
    EXPECT_EQ(lastHeardText(milliseconds(2 * 3'600'000 + 1), true),
              QStringLiteral("Lost Signal (2 h)"));
    EXPECT_EQ(lastHeardText(milliseconds(-5), false), QStringLiteral("now")) << "clock skew";

    EXPECT_EQ(rateText(15, QStringLiteral(".")), QStringLiteral("15.0"));
    EXPECT_EQ(rateText(0.5, QStringLiteral(",")), QStringLiteral("0,5"));

    // The display bar's figure, as a whole percent held within 0 .. 100.
    EXPECT_EQ(qualityText(-60, 60), QStringLiteral("76"));  // 76.05
    EXPECT_EQ(qualityText(-60, 100), QStringLiteral("100"));
    EXPECT_EQ(qualityText(-100, 0), QStringLiteral("0")) << "the bar's figure goes negative";

    EXPECT_EQ(moduleColumnTitle(ModuleColumn::Quality), QStringLiteral("LQI (%)"));
    EXPECT_EQ(moduleColumnTitle(ModuleColumn::Station), QStringLiteral("Station"));
    EXPECT_TRUE(isNumericColumn(ModuleColumn::Value));
    EXPECT_FALSE(isNumericColumn(ModuleColumn::LastHeard));
}

TEST(ModuleCells, ValuesReadAsTheDisplayShowsThemEachOnItsOwnScale) {
    const QString dot = QStringLiteral(".");
    ModuleValueFormat a;
    EXPECT_EQ(a.format("12.5", 5, dot), QStringLiteral("12.500"));
    EXPECT_EQ(a.format("-3.25", 5, dot), QStringLiteral("-03.250")) << "no rescale, as shown";
    EXPECT_EQ(a.format("12.5", 3, dot), QStringLiteral("12.5")) << "fewer decimals asked for";
    EXPECT_EQ(a.format("12.5", 3, QStringLiteral(",")), QStringLiteral("12,5"));

    // A whole part longer than the budget grows it; the display's point with no decimals
    // after it is not shown.
    ModuleValueFormat b;
    EXPECT_EQ(b.format("123456", 5, dot), QStringLiteral("123456"));
    EXPECT_EQ(b.format("1E+2", 5, dot), QStringLiteral("000100")) << "on the grown scale";

    // Text and binary values read "binary"; a 117-byte record shows its first four bytes
    // as a signed number on the record scale.
    ModuleValueFormat c;
    EXPECT_EQ(c.format("hello", 5, dot), QStringLiteral("binary"));
    EXPECT_EQ(c.format("", 5, dot), QStringLiteral("binary"));
    std::string record("\xFF\xFF\xFF\xF6", 4);
    record.resize(117, '\x01');
    EXPECT_EQ(c.format(record, 5, dot), QStringLiteral("-10.000000"));
    ASSERT_TRUE(ModuleValueFormat::number(record));
    EXPECT_EQ(*ModuleValueFormat::number(record), -10.0);
    EXPECT_FALSE(ModuleValueFormat::number("binary"));
    EXPECT_EQ(c.format("7", 5, dot), QStringLiteral("7.0000")) << "back from the record scale";
}
