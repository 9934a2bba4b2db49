#include "LineChart.h"
#include "PictureBox.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <set>
#include <vector>

using namespace lyx::viewer;
using lyx::controls::OleColor;
using lyx::controls::rgbColour;

namespace {
const OleColor kLine = rgbColour(159, 222, 112), kBack = rgbColour(57, 60, 55),
               kGrid = rgbColour(53, 53, 53);

QRgb rgb(OleColor c) {
    return lyx::controls::toQColor(c).rgb() | 0xFF000000u;
}
bool is(const QImage &image, int x, int y, OleColor c) {
    return image.pixel(x, y) == rgb(c);
}
int count(const QImage &image, OleColor c, QRect area = {}) {
    if (area.isNull()) area = image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += is(image, x, y, c);
    return n;
}
std::set<int> columnsIn(const QImage &image, int row, OleColor c) {
    std::set<int> columns;
    for (int x = 0; x < image.width(); ++x)
        if (is(image, x, row, c)) columns.insert(x);
    return columns;
}

// A chart set up as the viewer sets it up: values v arrive as v + 10, so +-10 spans the area.
struct Chart {
    explicit Chart(int w = 101, int h = 65, bool grid = true, bool moving = true) {
        box.resize(w + 2, h + 2);
        chart.InitDiagram(&box, kLine, grid, kBack, kGrid, moving);
        chart.HorizontalDivisions = 3;
        chart.VerticalDivisions = 20;
        chart.FullScale = 20;
    }
    void add(std::initializer_list<float> values) {
        for (float v : values)
            chart.AddPoint(v + 10);
    }
    const QImage &paint() {
        chart.RePaint();
        return box.surface();
    }
    PictureBox box;
    LineChart chart;
};
}  // namespace

TEST(PictureBox, BorderBackColourAndRetainedSurface) {
    PictureBox box;
    box.resize(30, 20);
    EXPECT_EQ(box.borderStyle(), 1);
    EXPECT_EQ(box.backColor(), lyx::controls::SystemColour::ButtonFace);
    EXPECT_EQ(box.surface().size(), QSize(28, 18));
    QPalette palette = box.palette();
    palette.setColor(QPalette::Button, QColor(1, 2, 3));
    box.setPalette(palette);
    box.cls();
    EXPECT_EQ(box.surface().pixel(5, 5), qRgb(1, 2, 3)) << "system colours use the own palette";

    box.setBackColor(kBack);
    EXPECT_EQ(count(box.surface(), kBack), 28 * 18) << "a new background clears the surface";
    box.surface().setPixel(3, 4, qRgb(255, 0, 0));
    box.resize(12, 40);  // narrower and taller: the marker stays, the new rows are background
    EXPECT_EQ(box.surface().size(), QSize(10, 38));
    EXPECT_EQ(box.surface().pixel(3, 4), qRgb(255, 0, 0));
    EXPECT_EQ(count(box.surface(), kBack), 10 * 38 - 1);

    const QImage shown = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(4, 5), qRgb(255, 0, 0)) << "the surface sits inside the border";
    EXPECT_FALSE(is(shown, 0, 0, kBack));
    box.setBorderStyle(0);
    EXPECT_EQ(box.innerWidth(), 12);
    EXPECT_EQ(box.surface().size(), QSize(12, 40));
}

TEST(LineChart, ZeroAtMidHeightFullScaleAtTheEdgesAndBeyondClipped) {
    Chart c(40, 65, false);
    c.add({0, 0, 0});
    EXPECT_EQ(c.paint().pixel(38, 32), rgb(kLine)) << "32.5 rounds to the even 32";
    EXPECT_EQ(count(c.box.surface(), kLine), 3) << "columns 37 .. 39";
    c.add({10});
    EXPECT_EQ(columnsIn(c.paint(), 0, kLine), std::set<int>{39});
    c.add({-10});  // row 65 lies just below the area
    EXPECT_EQ(columnsIn(c.paint(), 64, kLine), std::set<int>{39});

    c.add({0, 15});  // from row 32 to row -16: the line turns halfway, leaving at column 39
    const QImage &img = c.paint();
    EXPECT_EQ(count(img, kLine, {38, 0, 2, 32}), 32) << "one pixel on each row up to the top";
    EXPECT_TRUE(is(img, 38, 31, kLine) && is(img, 39, 0, kLine));
    for (float huge : {1e30F, -1e30F, INFINITY, -INFINITY, NAN}) {
        c.add({0, 0, huge});  // a jump far out shows as half the area in one column
        const QImage &out = c.paint();
        EXPECT_EQ(count(out, kLine, {38, 0, 1, 65}), std::isnan(huge) ? 1 : 33) << huge;
        EXPECT_EQ(count(out, kLine, {39, 0, 1, 65}), 0) << huge;
    }
    const QImage framed = c.box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(count(framed, kLine, {0, 0, 42, 1}) + count(framed, kLine, {0, 66, 42, 1}), 0)
        << "the trace stays off the border";
}

TEST(LineChart, TraceStartsWithTheSecondSampleAtTheRightEdge) {
    Chart c(101, 65, true, false);
    const int grid = count(c.paint(), kGrid);
    c.add({0});
    EXPECT_EQ(count(c.paint(), kGrid), grid);
    EXPECT_EQ(count(c.box.surface(), kBack), 101 * 65 - grid) << "grid and background only";
    c.add({10});  // one steep segment, 32 rows up from column 99 to 100
    const QImage &img = c.paint();
    EXPECT_EQ(count(img, kLine, {99, 0, 2, 65}), 33);
    EXPECT_EQ(count(img, kLine), 33);
    EXPECT_TRUE(is(img, 99, 32, kLine) && is(img, 100, 0, kLine));
}

TEST(LineChart, MovingGridShiftsPerSampleAndStartsOverAfterAWidth) {
    Chart moving, still;
    still.chart.InitDiagram(&still.box, kLine, true, kBack, kGrid, false);
    const std::set<int> start = columnsIn(moving.paint(), 5, kGrid);
    ASSERT_EQ(start.size(), 22U);  // 21 divisions: both edges carry a line
    EXPECT_EQ(columnsIn(still.paint(), 5, kGrid), start);
    const auto shifted = [&](int n) {
        std::set<int> s;
        for (int x : start)
            if (x - n >= 0) s.insert(x - n);
        return s;
    };
    const auto left = [](std::set<int> s) {  // new lines enter at the right; compare the rest
        return std::set<int>(s.begin(), s.lower_bound(80));
    };
    for (int n = 1; n <= 7; ++n) {
        moving.add({0});
        still.add({0});
        EXPECT_EQ(left(columnsIn(moving.paint(), 5, kGrid)), left(shifted(n))) << n;
        if (n == 1) {  // 3 divisions: rows 0, 16, 32, 48 and 64 run the full width
            EXPECT_EQ(count(moving.box.surface(), kGrid, {2, 0, 1, 65}), 5);
            for (int y : {0, 16, 48, 64})
                EXPECT_EQ(columnsIn(moving.box.surface(), y, kGrid).size(), 101U) << y;
        }
        EXPECT_EQ(columnsIn(still.paint(), 5, kGrid), start) << n;
    }
    for (int n = 8; n < 100; ++n)
        moving.add({0});
    moving.paint();
    EXPECT_EQ(moving.chart.gridOffset(), -99);
    moving.add({0});
    moving.paint();  // drawn at -100, then the grid starts over: -Int(101 - 1/4) = -100
    EXPECT_EQ(moving.chart.gridOffset(), 0);
    EXPECT_EQ(columnsIn(moving.paint(), 5, kGrid), start);

    Chart small(11, 9, true, false);  // steps of 2.5 less a hair: 7.4997 rounds down
    small.chart.VerticalDivisions = 3;
    EXPECT_EQ(columnsIn(small.paint(), 1, kGrid), (std::set<int>{0, 2, 5, 7, 10}));

    Chart hidden(101, 65, false);  // the restart belongs to the grid drawing
    for (int n = 0; n < 150; ++n)
        hidden.add({0});
    hidden.paint();
    EXPECT_EQ(hidden.chart.gridOffset(), -150);
}

TEST(LineChart, PlotStylesDrawLinesPixelsOrNothing) {
    for (int style : {0, 1, 2, -1}) {
        Chart c(50, 65, false);
        c.chart.PlotStyle = style;
        for (int n = 0; n < 20; ++n)
            c.add({n % 2 ? 10.0F : -5.0F});
        const QImage &img = c.paint();  // samples in columns 30 .. 49, rows 49 and 0 in turn
        EXPECT_EQ(count(img, kLine, {0, 0, 30, 65}), 0) << style;
        if (style == 0) {
            for (int y = 0; y <= 49; ++y)
                EXPECT_GT(count(img, kLine, {30, y, 20, 1}), 0) << y;
        } else {
            EXPECT_EQ(count(img, kLine), style == 1 ? 19 : 0) << style;
        }
        if (style == 1) {
            EXPECT_TRUE(is(img, 49, 0, kLine) && is(img, 48, 49, kLine));
        }
    }
}

TEST(LineChart, FullScaleInitialisationAndUninitialisedCalls) {
    LineChart idle;
    idle.AddPoint(5);
    idle.RePaint();
    EXPECT_EQ(idle.FullScale, 0.0F) << "nothing happens before InitDiagram";
    EXPECT_EQ(idle.sampleCount(), 0);

    PictureBox box;
    box.resize(22, 12);
    LineChart chart;
    chart.HorizontalDivisions = 7, chart.VerticalDivisions = 9, chart.PlotStyle = 1;
    chart.FullScale = -3;
    chart.InitDiagram(&box, kLine, true);
    EXPECT_EQ(count(box.surface(), rgbColour(0, 0, 0)), 20 * 10) << "black by default";
    chart.RePaint();
    EXPECT_EQ(chart.FullScale, -3.0F) << "only AddPoint repairs the full scale";
    EXPECT_GT(count(box.surface(), rgbColour(0, 130, 0)), 0) << "the default grid colour";
    chart.AddPoint(0.25F);
    EXPECT_EQ(chart.FullScale, 1.0F);
    EXPECT_EQ(chart.sampleAt(19), 10 - 0.25F * 10);
    chart.AddPoint(0.5F);
    EXPECT_EQ(chart.gridOffset(), -2);
    chart.RePaint();
    EXPECT_EQ(count(box.surface(), kLine), 1);

    box.resize(32, 12);
    chart.InitDiagram(&box, kLine, false, kBack);
    EXPECT_EQ(chart.HorizontalDivisions, 7);
    EXPECT_EQ(chart.VerticalDivisions, 9);
    EXPECT_EQ(chart.PlotStyle, 1);
    EXPECT_EQ(chart.FullScale, 1.0F);
    EXPECT_EQ(chart.width(), 30);
    EXPECT_EQ(chart.sampleCount(), 0);
    EXPECT_EQ(chart.gridOffset(), 0);
    chart.RePaint();
    EXPECT_EQ(count(box.surface(), kBack), 30 * 10) << "an emptied trace, no grid";
}

TEST(LineChart, ANarrowWindowShowsTheNewestSamples) {
    QWidget window;
    window.resize(200, 67);
    Chart c(1920, 65, false);
    c.box.setParent(&window);
    c.box.move(window.width() - c.box.width(), 0);
    c.box.show();
    for (int n = 0; n < 1920; ++n)
        c.add({n < 1820 ? -5.0F : 5.0F});
    c.chart.RePaint();
    const QImage shown = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // Window column x shows chart column x + 1721; the last 100 samples sit in row 16.
    for (int x = 0; x < 199; ++x) {
        const int column = x + 1721;
        EXPECT_TRUE(is(shown, x, 1 + (column < 1820 ? 49 : 16), kLine)) << x;
    }
    EXPECT_FALSE(is(shown, 199, 16, kLine)) << "the right border stays";
}

TEST(LineChart, RingMatchesAShiftingArray) {
    for (int style : {0, 1}) {
        Chart c(61, 40, false);
        c.chart.PlotStyle = style;
        std::vector<float> model(61, 0.0F);
        int first = 60;
        std::minstd_rand values(7);  // the same sequence on every run
        for (int n = 1; n <= 3 * 61 + 7; ++n) {
            const float v = float(int(values() % 3000) - 1500) / 100.0F;  // -15 .. 15
            c.add({v});
            model.erase(model.begin());
            model.push_back(40 - (v + 10) / 20 * 40);
            if (first >= 1) --first;
            if (n != 60 && n != 61 && n != 62 && n != 3 * 61 + 7) continue;
            for (int x = 0; x < 61; ++x)
                ASSERT_EQ(c.chart.sampleAt(x), model[x]) << n;
            // Each step of the trace covers the rows between its ends, a pixel per row in
            // the column nearer to the line.
            QImage expected(61, 40, QImage::Format_RGB32);
            expected.fill(QColor(rgb(kBack)));
            const auto put = [&](int x, int y) {
                if (y >= 0 && y < 40) expected.setPixel(x, y, rgb(kLine));
            };
            for (int i = first + 1; i <= 59; ++i) {
                const int a = int(std::nearbyint(model[i])), b = int(std::nearbyint(model[i + 1]));
                put(i + 1, b);
                if (style == 1) continue;
                put(i, a);
                for (int y = std::min(a, b) + 1; y < std::max(a, b); ++y)
                    put(2 * std::abs(y - a) > std::abs(b - a) ? i + 1 : i, y);
            }
            ASSERT_TRUE(c.paint() == expected) << "style " << style << " after " << n;
        }
        EXPECT_EQ(c.chart.sampleCount(), 61);
    }
}

TEST(LineChart, DegenerateSizesAndDivisionsStayBounded) {
    for (QSize size : {QSize(0, 0), QSize(1, 1), QSize(2, 0), QSize(1, 30), QSize(30, 1)}) {
        for (int divisions : {-1, -2, 0, INT_MAX, INT_MIN}) {
            Chart c(size.width(), size.height());
            c.chart.HorizontalDivisions = c.chart.VerticalDivisions = divisions;
            c.add({0, 3, 30});
            c.paint();
            EXPECT_EQ(c.chart.sampleCount(), std::min(3, size.width()));
        }
    }
    Chart dense(1920, 65);  // a step of about 1e-4 px, starting a million pixels left
    dense.chart.VerticalDivisions = 9'000'000;
    for (int n = 0; n < 1'000'000; ++n)
        dense.chart.AddPoint(10);
    EXPECT_EQ(columnsIn(dense.paint(), 5, kGrid).size(), 1920U);
    Chart none;
    none.chart.VerticalDivisions = none.chart.HorizontalDivisions = -1;
    EXPECT_EQ(count(none.paint(), kGrid), 0) << "no spacing, no lines";
}

TEST(LineChart, AutoScaleSpansTheSamplesInViewAndFollowsThem) {
    // A load cell reading 975 to 1 025 on the fixed scale of +-10: off the top, one row.
    Chart c(40, 65, false);
    for (int i = 0; i < 39; ++i)
        c.add({975.0F + float(i % 3) * 25.0F});
    std::set<int> rows;
    const auto traceRows = [&](const QImage &img) {
        rows.clear();
        for (int y = 0; y < img.height(); ++y)
            if (!columnsIn(img, y, kLine).empty()) rows.insert(y);
        return rows.size();
    };
    EXPECT_LE(traceRows(c.paint()), 1U);
    EXPECT_FALSE(c.chart.autoRange());

    // Auto: the samples (shifted by 10) span 985 .. 1035, a tenth more above and below.
    c.chart.setAutoScale(true);
    EXPECT_GE(traceRows(c.paint()), 50U);
    EXPECT_GE(*rows.begin(), 4);
    EXPECT_LE(*rows.rbegin(), 61);
    ASSERT_TRUE(c.chart.autoRange());
    EXPECT_NEAR(c.chart.autoRange()->bottom, 980.0, 1e-3);
    EXPECT_NEAR(c.chart.autoRange()->top, 1040.0, 1e-3);

    // The high samples scroll out of view: the range shrinks to what is left, and a flat
    // trace lies across the middle.
    for (int i = 0; i < 39; ++i)
        c.add({500.0F});
    EXPECT_EQ(traceRows(c.paint()), 1U);
    EXPECT_NEAR(*rows.begin(), 32, 1);
    EXPECT_NEAR(c.chart.autoRange()->bottom, 510.0 - 0.255, 1e-3);

    // The choice outlives a new start of the chart, which empties it.
    c.chart.InitDiagram(&c.box, kLine, false, kBack, kGrid, true);
    EXPECT_TRUE(c.chart.autoScale());
    EXPECT_EQ(traceRows(c.paint()), 0U);
    EXPECT_FALSE(c.chart.autoRange()) << "no sample in view";
    c.chart.setAutoScale(false);
    c.add({0, 0});
    c.paint();
    EXPECT_FALSE(c.chart.autoRange());
}
