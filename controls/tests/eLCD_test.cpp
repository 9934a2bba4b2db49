#include "lyx/controls/eLCD.h"

#include "Probe.h"
#include "lyx/controls/Twips.h"

#include <QEvent>
#include <QLocale>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace lyx::controls;
using lyx::controls::test::render;
using lyx::controls::test::rgb;

namespace {

// The character patterns the display must show, one flag per segment (segment 0 first).
const std::map<char, std::string> kPatterns{
    {'0', "1110111"}, {'1', "0010001"}, {'2', "0111110"}, {'3', "0111011"}, {'4', "1011001"},
    {'5', "1101011"}, {'6', "1101111"}, {'7', "0110001"}, {'8', "1111111"}, {'-', "0001000"},
    {'A', "1111101"}, {'B', "1001111"}, {'C', "0001110"}, {'E', "1101110"}, {'O', "0001111"},
    {'R', "0001100"}, {' ', "0000000"}};

// Patterns expected in the cells for a text, one character per cell.
std::vector<std::string> patternsOf(const std::string &text) {
    std::vector<std::string> out;
    for (char c : text)
        out.push_back(kPatterns.at(c));
    return out;
}

// What a rendered display shows: each cell's segments as lit "1" or unlit "0", and the points.
struct Reading {
    std::vector<std::string> cells;
    std::vector<int> litPoints;
};

// Reads the display from its pixels. Sample spots are the middles of the segments and the
// points, placed by the cell geometry: X0 = 200 twips, gap G and segment length S.
Reading read(eLCD &lcd) {
    const QImage image = render(lcd);
    const QRgb on = rgb(lcd.onColor());
    const QRgb off = rgb(lcd.offColor());
    const double s = lcd.segmentLength(), g = lcd.gap(), p = lcd.pitch(), x0 = 200;
    const int half = std::max(1, lcd.penWidth() / 2);  // inside the mark, clear of others
    // "1" if the spot is drawn lit, "0" if unlit; anything else is a fault.
    const auto sample = [&](double xt, double yt) -> char {
        const QPoint c(int(twips::toPixelsX(lcd, xt)), int(twips::toPixelsY(lcd, yt)));
        const QRect box(c - QPoint(half, half), c + QPoint(half, half));
        const int lit = test::countPixels(image, box, on);
        const int unlit = test::countPixels(image, box, off);
        if (lit > 0 && unlit == 0) return '1';
        if (unlit > 0 && lit == 0) return '0';
        return '?';
    };
    Reading r;
    for (int c = 0; c < lcd.digits(); ++c) {
        const double dx = c * p;
        const double mid = x0 + 2 * g + s / 2 + dx;
        std::string cell;
        cell += sample(x0 + g + dx, 2 * g + s / 2);            // 0 upper-left
        cell += sample(mid, g);                                // 1 top
        cell += sample(x0 + 3 * g + s + dx, 2 * g + s / 2);    // 2 upper-right
        cell += sample(mid, 3 * g + s);                        // 3 middle
        cell += sample(x0 + g + dx, 4 * g + 1.5 * s);          // 4 lower-left
        cell += sample(mid, 5 * g + 2 * s);                    // 5 bottom
        cell += sample(x0 + 3 * g + s + dx, 4 * g + 1.5 * s);  // 6 lower-right
        r.cells.push_back(cell);
    }
    for (int k = 0; k <= lcd.digits(); ++k) {
        const char point = sample(x0 - g / 2 + k * p, 5 * g + 2 * s);
        EXPECT_NE(point, '?') << "point " << k;
        if (point == '1') r.litPoints.push_back(k);
    }
    return r;
}

// A display wide enough for clear pixels: 267 pixels (4005 twips at 96 DPI).
constexpr int kWide = 267;

}  // namespace

TEST(eLCD, NewControlLightsEveryDigitOf12345678AndNoPoint) {
    eLCD lcd;
    lcd.show();  // a shown widget gets its resize events at once
    lcd.resize(kWide, 10);
    const Reading r = read(lcd);
    EXPECT_EQ(r.cells, patternsOf("12345678"));
    EXPECT_TRUE(r.litPoints.empty());
    EXPECT_EQ(lcd.caption(), QStringLiteral("12345678"));
    EXPECT_EQ(lcd.digits(), 8);
}

struct CaptionCase {
    const char *name;
    int digits;
    const char *caption;
    const char *cells;   // characters shown, one per cell (blank: space)
    int litPoint;        // -1: none
    const char *stored;  // caption as stored
};

void PrintTo(const CaptionCase &c, std::ostream *os) {
    *os << c.digits << " cells, caption \"" << c.caption << '"';
}

class eLCDCaption : public ::testing::TestWithParam<CaptionCase> {};

TEST_P(eLCDCaption, ShowsCellsAndPoint) {
    const CaptionCase &c = GetParam();
    eLCD lcd;
    lcd.setDigits(c.digits);
    lcd.show();  // a shown widget gets its resize events at once
    lcd.resize(kWide, 10);
    lcd.setCaption(QString::fromUtf8(c.caption));
    EXPECT_EQ(lcd.caption(), QString::fromUtf8(c.stored));

    std::string cells = c.cells;
    cells.resize(std::size_t(c.digits), ' ');
    const Reading r = read(lcd);
    EXPECT_EQ(r.cells, patternsOf(cells));
    if (c.litPoint < 0)
        EXPECT_TRUE(r.litPoints.empty());
    else
        EXPECT_EQ(r.litPoints, std::vector<int>{c.litPoint});
}

INSTANTIATE_TEST_SUITE_P(
    Captions, eLCDCaption,
    ::testing::Values(CaptionCase{"MinusOnePointFive", 6, "-1.5", "-15", 2, "-1.5"},
                      CaptionCase{"LeadingPoint", 8, ".5", "5", 0, ".5"},
                      CaptionCase{"TrailingPoint", 8, "5.", "5", 1, "5."},
                      CaptionCase{"CommaBecomesPoint", 8, "1,25", "125", 1, "1.25"},
                      CaptionCase{"SecondPointIsBlankCell", 8, "1.2.3", "12 3", 1, "1.2.3"},
                      CaptionCase{"LowerCaseLetters", 8, "abc", "ABC", -1, "abc"},
                      CaptionCase{"TextBeyondCellsIsDropped", 6, "ERROR 7", "ERROR ", -1,
                                  "ERROR 7"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(eLCD, Width2175TwipsGivesTheStatedGeometry) {
    eLCD lcd;
    lcd.show();
    lcd.resize(twips::wholePixelsX(lcd, 2175), 40);
    ASSERT_EQ(twips::fromPixelsX(lcd, lcd.width()), 2175);
    EXPECT_EQ(lcd.segmentLength(), 79);
    EXPECT_EQ(lcd.gap(), 30);
    EXPECT_EQ(lcd.pitch(), 229);
    EXPECT_EQ(lcd.penWidth(), 2);
    EXPECT_EQ(lcd.height(), twips::wholePixelsY(lcd, 396));

    // The pen is 2 pixels wide: cell 0 shows "1", whose upper-right segment is lit; across it
    // the row holds one run of lit pixels, 2 wide, and the same segment of cell 1 ("2") lies
    // one pitch further right.
    const QImage image = render(lcd);
    const QRgb on = rgb(lcd.onColor());
    const int y = twips::wholePixelsY(lcd, 2 * 30 + 79 / 2.0);
    std::vector<int> litColumns;
    for (int x = 0; x < image.width(); ++x)
        if ((image.pixel(x, y) & 0xFFFFFF) == (on & 0xFFFFFF)) litColumns.push_back(x);
    ASSERT_GE(litColumns.size(), 4u);
    EXPECT_EQ(litColumns[1] - litColumns[0], 1);
    EXPECT_GT(litColumns[2] - litColumns[1], 1) << "a run of exactly two lit pixels";
    EXPECT_NEAR(litColumns[2] - litColumns[0], twips::toPixelsX(lcd, 229), 1.0);
}

TEST(eLCD, LowControlGrowsToTheLeastHeightFirst) {
    for (const int border : {0, 1}) {
        QWidget window;
        auto *lcd = new eLCD(&window);
        lcd->setBorderStyle(border);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

        std::vector<int> heights;
        struct Recorder : QObject {
            std::vector<int> *heights;
            bool eventFilter(QObject *o, QEvent *e) override {
                if (e->type() == QEvent::Resize)
                    heights->push_back(static_cast<QWidget *>(o)->height());
                return false;
            }
        } recorder;
        recorder.heights = &heights;
        lcd->installEventFilter(&recorder);
        lcd->resize(twips::wholePixelsX(*lcd, 2175), 5);
        lcd->removeEventFilter(&recorder);

        const int least = twips::wholePixelsY(*lcd, 195 + 60 * border);
        ASSERT_EQ(heights.size(), 3u) << "border " << border;
        EXPECT_EQ(heights[0], 5);
        EXPECT_EQ(heights[1], least) << "border " << border;
        EXPECT_EQ(heights[2], twips::wholePixelsY(*lcd, 396 + 60 * border));
    }
}

TEST(eLCD, DigitsAreClampedToOneAndNinetyNine) {
    eLCD lcd;
    QStringList changes;
    QObject::connect(&lcd, &HostedControl::propertyChanged,
                     [&](const QString &n) { changes << n; });
    lcd.setDigits(0);
    EXPECT_EQ(lcd.digits(), 1);
    lcd.show();  // a shown widget gets its resize events at once
    lcd.resize(kWide, 10);
    EXPECT_EQ(read(lcd).cells, patternsOf("1"));
    lcd.setDigits(150);
    EXPECT_EQ(lcd.digits(), 99);
    lcd.setDigits(-3);
    EXPECT_EQ(lcd.digits(), 1);
    EXPECT_EQ(changes, QStringList(3, QStringLiteral("Digits")));
}

TEST(eLCD, SameCaptionTwicePaintsOnceButReportsEachTime) {
    eLCD lcd;
    lcd.show();  // a shown widget gets its resize events at once
    lcd.resize(kWide, 10);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&lcd));
    QCoreApplication::processEvents();
    test::PaintCounter paints(&lcd);
    int reports = 0;
    QObject::connect(&lcd, &HostedControl::propertyChanged, [&](const QString &) { ++reports; });

    lcd.setCaption(QStringLiteral("4.2"));
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.count(), 1);
    lcd.setCaption(QStringLiteral("4.2"));
    lcd.setCaption(QStringLiteral("4,2"));  // the same text once the comma is a point
    QCoreApplication::processEvents();
    EXPECT_EQ(paints.count(), 1) << "an unchanged caption must not repaint";
    EXPECT_EQ(reports, 3);
}

TEST(eLCD, NumbersAreWrittenAsTheLocaleWritesThemWithCommaAsPoint) {
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    eLCD lcd;
    lcd.setCaption(1.25);
    EXPECT_EQ(lcd.caption(), QStringLiteral("1.25"));
    lcd.setCaption(12345.5);
    EXPECT_EQ(lcd.caption(), QStringLiteral("12345.5")) << "no group separator";
    EXPECT_TRUE(lcd.setCaptionValue(QVariant(-7)));
    EXPECT_EQ(lcd.caption(), QStringLiteral("-7"));
    QLocale::setDefault(saved);
}

TEST(eLCD, NullCaptionValueIsRefusedAndChangesNothing) {
    eLCD lcd;
    lcd.show();  // a shown widget gets its resize events at once
    lcd.resize(kWide, 10);
    lcd.setCaption(QStringLiteral("-1.5"));
    const QImage before = render(lcd);
    EXPECT_FALSE(lcd.setCaptionValue(QVariant()));
    EXPECT_EQ(lcd.caption(), QStringLiteral("-1.5"));
    EXPECT_EQ(render(lcd), before);
}

TEST(eLCD, ColoursRepaintEveryMark) {
    eLCD lcd;
    lcd.show();  // a shown widget gets its resize events at once
    lcd.resize(kWide, 10);
    lcd.setBackColor(65557);
    lcd.setOffColor(64);
    lcd.setOnColor(255);
    const QImage image = render(lcd);
    EXPECT_EQ(image.pixel(1, 1) & 0xFFFFFF, rgb(65557) & 0xFFFFFF) << "background cleared";
    EXPECT_EQ(read(lcd).cells, patternsOf("12345678"));
    EXPECT_EQ(test::countPixels(image, image.rect(), rgb(7969130)), 0)
        << "no old unlit colour left";
}

TEST(eLCD, MouseEventsCarryTwipsAndClickFollowsRelease) {
    eLCD lcd;
    lcd.show();  // a shown widget gets its resize events at once
    lcd.resize(kWide, 10);
    QStringList events;
    float downX = -1, downY = -1;
    QObject::connect(&lcd, &LcdControl::MouseDown, [&](int b, int, float x, float y) {
        events << QStringLiteral("down%1").arg(b);
        downX = x;
        downY = y;
    });
    QObject::connect(&lcd, &LcdControl::MouseUp,
                     [&](int b, int, float, float) { events << QStringLiteral("up%1").arg(b); });
    QObject::connect(&lcd, &LcdControl::Click, [&] { events << QStringLiteral("click"); });
    QTest::mouseClick(&lcd, Qt::LeftButton, {}, QPoint(10, 4));
    QTest::mouseClick(&lcd, Qt::RightButton, {}, QPoint(10, 4));
    EXPECT_EQ(events,
              (QStringList{QStringLiteral("down1"), QStringLiteral("up1"), QStringLiteral("click"),
                           QStringLiteral("down2"), QStringLiteral("up2")}));
    EXPECT_FLOAT_EQ(downX, 150);
    EXPECT_FLOAT_EQ(downY, 60);
}

namespace {
// Records the keys a control reads, in order.
class RecordingBag : public PropertyBag {
  public:
    std::optional<PropertyValue> value(QStringView key) const override {
        reads.append(key.toString());
        return PropertyBag::value(key);
    }
    mutable QStringList reads;
};
}  // namespace

TEST(eLCD, SavesAndLoadsEveryPropertyInOrder) {
    eLCD a;
    a.show();  // a shown widget gets its resize events at once
    a.resize(kWide, 10);
    a.setBackColor(0x102030);
    a.setOnColor(0x0000FF);
    a.setOffColor(0x000040);
    a.setCaption(QStringLiteral("-3.25"));
    a.setDigits(6);
    QImage icon(8, 8, QImage::Format_ARGB32);
    icon.fill(Qt::black);
    a.setMouseIcon(Picture(icon));
    a.setMousePointer(99);
    a.setBorderStyle(1);

    RecordingBag bag;
    a.writeProperties(bag);
    const QStringList order{
        QStringLiteral("BackColor"), QStringLiteral("OnColor"),      QStringLiteral("OffColor"),
        QStringLiteral("Size"),      QStringLiteral("Caption"),      QStringLiteral("Digits"),
        QStringLiteral("MouseIcon"), QStringLiteral("MousePointer"), QStringLiteral("BorderStyle")};
    EXPECT_EQ(bag.keys(), order);
    EXPECT_EQ(bag.readInt(u"Size", 0), a.segmentLength());

    eLCD b;
    b.show();  // a shown widget gets its resize events at once
    b.resize(kWide, 10);
    bag.reads.clear();
    b.readProperties(bag);
    EXPECT_EQ(bag.reads.mid(0, order.size()), order);
    EXPECT_EQ(b.backColor(), 0x102030u);
    EXPECT_EQ(b.onColor(), 0x0000FFu);
    EXPECT_EQ(b.offColor(), 0x000040u);
    EXPECT_EQ(b.caption(), QStringLiteral("-3.25"));
    EXPECT_EQ(b.digits(), 6);
    EXPECT_EQ(b.mouseIcon(), a.mouseIcon());
    EXPECT_EQ(b.mousePointer(), 99);
    EXPECT_EQ(b.cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(b.borderStyle(), 1);
    EXPECT_EQ(render(b), render(a)) << "the loaded control looks the same";
}

TEST(eLCD, NewControlRoundTripsThroughAnEmptyLookingBag) {
    eLCD a;  // BackColor of a new control differs from the load default
    PropertyBag bag;
    a.writeProperties(bag);
    EXPECT_EQ(bag.keys(), (QStringList{QStringLiteral("BackColor"), QStringLiteral("Size")}));
    eLCD b;
    b.readProperties(bag);
    EXPECT_EQ(b.backColor(), SystemColour::ThreeDLight);
    EXPECT_EQ(b.caption(), QStringLiteral("12345678"));
}

TEST(eLCD, LoadingMatchesKeysWithoutCaseAndUsesLoadDefaults) {
    PropertyBag bag;
    bag.writeText(u"CAPTION", QStringLiteral("7"));
    bag.writeInt(u"digits", 3);
    bag.writeInt(u"DiGiTs", 250);  // a damaged store: clamped like a set
    eLCD b;
    b.readProperties(bag);
    EXPECT_EQ(b.caption(), QStringLiteral("7"));
    EXPECT_EQ(b.digits(), 99);
    EXPECT_EQ(b.backColor(), SystemColour::ButtonFace);
    EXPECT_EQ(b.offColor(), 7969130u);
}

TEST(eLCD, BorderIsPartOfTheHeightAndHasAWindowHandle) {
    eLCD lcd;
    lcd.show();
    lcd.resize(twips::wholePixelsX(lcd, 2175), 40);
    lcd.setBorderStyle(1);
    EXPECT_EQ(lcd.frameWidth(), twips::wholePixelsX(lcd, 30));
    // S = round(round(2175 - 60 - 400) / 8) / 2.8 = 76; height (76 + 20) * 4 + 60.
    EXPECT_EQ(lcd.segmentLength(), 76);
    EXPECT_EQ(lcd.height(), twips::wholePixelsY(lcd, 444));
    EXPECT_EQ(lcd.heightForWidth(lcd.width()), lcd.height());
    EXPECT_NE(lcd.hWnd(), WId(0));
}
