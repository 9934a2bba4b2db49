#include "lyx/controls/eLCDBar.h"

#include "Probe.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace lyx::controls;
using lyx::controls::test::render;
using lyx::controls::test::rgb;
using lyx::controls::test::runsInRow;

namespace {

constexpr int kHeight = 18;

// Widens a bar until it holds `marks` marks.
void fitMarks(eLCDBar &bar, int marks) {
    bar.show();  // a shown widget gets its resize events at once
    for (int w = 20; w < 2000 && bar.markCount() != marks; ++w)
        bar.resize(w, kHeight);
    ASSERT_EQ(bar.markCount(), marks);
}

// Lit and unlit marks as drawn: runs of each colour along the middle row.
struct Marks {
    int lit;
    int unlit;
};

Marks drawnMarks(eLCDBar &bar) {
    const QImage image = render(bar);
    const int y = image.height() / 2;
    return {runsInRow(image, y, rgb(bar.onColor())), runsInRow(image, y, rgb(bar.offColor()))};
}

}  // namespace

struct PercentCase {
    float percent;
    int lit;
};

void PrintTo(const PercentCase &c, std::ostream *os) {
    *os << c.percent << " %";
}

class eLCDBarPercent : public ::testing::TestWithParam<PercentCase> {};

TEST_P(eLCDBarPercent, LightsRoundedShareOfTwentyMarks) {
    eLCDBar bar;
    bar.setOnColor(0x0000FF);
    bar.setOffColor(0x004000);
    fitMarks(bar, 20);
    bar.setPercent(GetParam().percent);
    EXPECT_EQ(bar.litCount(), GetParam().lit);
    const Marks drawn = drawnMarks(bar);
    EXPECT_EQ(drawn.lit, GetParam().lit);
    EXPECT_EQ(drawn.lit + drawn.unlit, 20);
}

INSTANTIATE_TEST_SUITE_P(Percentages, eLCDBarPercent,
                         ::testing::Values(PercentCase{50, 10}, PercentCase{58, 12},
                                           PercentCase{100, 20}, PercentCase{0, 0},
                                           PercentCase{2.5f, 0},   // 0.5 rounds to even 0
                                           PercentCase{7.5f, 2}),  // 1.5 rounds to even 2
                         [](const auto &info) {
                             return "Percent" + std::to_string(int(info.param.percent * 10));
                         });

TEST(eLCDBar, BorderHoldsOneMarkMoreForTheSameInnerWidth) {
    for (int marks : {8, 15, 20}) {
        eLCDBar plain;
        fitMarks(plain, marks);
        eLCDBar framed;
        framed.setBorderStyle(1);
        framed.show();
        const int frame = 2 * framed.frameWidth();
        framed.resize(plain.width() + frame, kHeight + frame);
        framed.resize(plain.width() + frame, kHeight);
        EXPECT_EQ(framed.contentsRect().width(), plain.contentsRect().width());
        EXPECT_EQ(framed.markCount(), marks + 1);
    }
}

TEST(eLCDBar, NegativeOrInvalidPercentKeepsTheLitMarks) {
    eLCDBar bar;
    fitMarks(bar, 20);
    bar.setPercent(50);
    bar.setPercent(-10);
    EXPECT_EQ(bar.litCount(), 10);
    bar.setPercent(std::nanf(""));
    EXPECT_EQ(bar.litCount(), 10);
    bar.setPercent(1e30f);  // far too many marks to build: kept as it was
    EXPECT_EQ(bar.litCount(), 10);
    bar.setPercent(150);  // beyond the row: lit to the edge
    EXPECT_EQ(bar.litCount(), 30);
    EXPECT_EQ(drawnMarks(bar).unlit, 0);
}

TEST(eLCDBar, PercentBeforeTheFirstSizingLightsNothing) {
    eLCDBar bar;
    bar.setPercent(80);
    EXPECT_EQ(bar.markCount(), 0);
    EXPECT_EQ(bar.litCount(), 0);
    fitMarks(bar, 10);  // the first sizing re-applies the percentage
    EXPECT_EQ(bar.litCount(), 8);
}

TEST(eLCDBar, MarkSizeFollowsHeightAndSizeSetsIt) {
    eLCDBar bar;
    bar.show();
    bar.resize(200, 20);  // 300 twips at 96 DPI
    EXPECT_FLOAT_EQ(bar.markSize(), 30);
    const int before = bar.markCount();
    bar.setMarkSize(15);
    EXPECT_FLOAT_EQ(bar.markSize(), 15);
    EXPECT_EQ(bar.height(), 10);
    EXPECT_GT(bar.markCount(), before) << "smaller marks, more of them";
}

TEST(eLCDBar, SavesAndLoadsSixKeysInOrderAndNotPercent) {
    eLCDBar a;
    a.setBackColor(0x010203);
    a.setOnColor(0x00FF00);
    a.setOffColor(0x004000);
    a.setMousePointer(3);
    a.setBorderStyle(1);
    a.setPercent(40);
    PropertyBag bag;
    a.writeProperties(bag);
    EXPECT_EQ(bag.keys(), (QStringList{QStringLiteral("BackColor"), QStringLiteral("OnColor"),
                                       QStringLiteral("OffColor"), QStringLiteral("MousePointer"),
                                       QStringLiteral("BorderStyle")}));
    eLCDBar b;
    b.readProperties(bag);
    EXPECT_EQ(b.backColor(), 0x010203u);
    EXPECT_EQ(b.onColor(), 0x00FF00u);
    EXPECT_EQ(b.offColor(), 0x004000u);
    EXPECT_EQ(b.mousePointer(), 3);
    EXPECT_EQ(b.borderStyle(), 1);
    EXPECT_EQ(b.percent(), 0);

    eLCDBar c;
    c.readProperties(PropertyBag());
    EXPECT_EQ(c.backColor(), SystemColour::ButtonFace) << "load default differs from a new bar";
}
