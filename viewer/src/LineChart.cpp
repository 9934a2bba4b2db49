#include "LineChart.h"

#include "PictureBox.h"

#include <QImage>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

namespace lyx::viewer {

namespace {

/// Nearest whole pixel, ties to the even neighbour.
double toPixel(double v) {
    return std::nearbyint(v);
}

/// The spacing of grid lines when `span` pixels are cut into `divisions + 1` parts, a hair
/// short so that the last line still lands on the far edge despite rounding. A zero divisor
/// has no spacing; then no line is drawn.
std::optional<double> gridStep(int span, std::int32_t divisions) {
    const double parts = double(divisions) + 1.0;
    if (parts == 0.0) return std::nullopt;
    return double(span - 1) / parts - 0.0001;
}

/// Calls `line(pixel)` for every position of `for (p = start; p <= limit - 1; p += step)` that
/// rounds into [0, limit); `start` is 0 or negative. The work is bounded by the size of the
/// area, however small the step and however far left the start lies: positions left of the
/// area are skipped arithmetically, and with a step below one pixel the positions cover
/// every pixel between the first and the last, so each pixel is visited once.
template <typename Line>
void forEachGridLine(double start, double step, int limit, Line &&line) {
    if (limit <= 0) return;
    const double end = limit - 1;
    const auto visit = [&](double position) {
        const double px = toPixel(position);
        if (px >= 0 && px < limit) line(int(px));
    };
    if (!(step > 0) || !std::isfinite(step)) {
        // A zero, negative or infinite step runs the loop once at most where it can be seen:
        // every later position lies left of the start, or beyond the end.
        if (step > 0 ? start <= end : start >= end) visit(start);
        return;
    }
    if (start > end) return;
    const auto at = [&](double k) { return start + k * step; };

    double last = std::floor((end - start) / step);
    while (last > 0 && at(last) > end)
        last -= 1;
    while (at(last + 1) <= end)
        last += 1;

    double first = std::max(0.0, std::ceil((-0.5 - start) / step));
    while (first > 0 && toPixel(at(first - 1)) >= 0)
        first -= 1;
    while (first <= last && toPixel(at(first)) < 0)
        first += 1;
    if (first > last) return;

    if (step >= 1) {
        for (double k = first; k <= last; k += 1)
            visit(at(k));
    } else {
        const int from = int(toPixel(at(first)));
        const int to = std::min(limit - 1, int(toPixel(at(last))));
        for (int px = from; px <= to; ++px)
            line(px);
    }
}

/// Aliased one-pixel drawing on a 32-bit surface; whatever falls outside it is clipped.
class Canvas {
  public:
    explicit Canvas(QImage &surface) : surface_(surface) {
        if (!surface_.isNull() && surface_.depth() != 32) surface_.convertTo(QImage::Format_RGB32);
        width_ = surface_.width();
        height_ = surface_.height();
    }

    void plot(int x, int y, QRgb colour) {
        if (x >= 0 && x < width_ && y >= 0 && y < height_) row(y)[x] = colour;
    }

    /// The line from (x, top) to (x, bottom), both ends included.
    void vertical(int x, int top, int bottom, QRgb colour) {
        if (x < 0 || x >= width_) return;
        for (int y = std::max(0, top); y <= std::min(height_ - 1, bottom); ++y)
            row(y)[x] = colour;
    }

    /// The line from (left, y) to (right, y), both ends included.
    void horizontal(int y, int left, int right, QRgb colour) {
        if (y < 0 || y >= height_) return;
        QRgb *line = row(y);
        for (int x = std::max(0, left); x <= std::min(width_ - 1, right); ++x)
            line[x] = colour;
    }

    /// The line from (x, y0) to (x + 1, y1), both ends included: one pixel per row, in the
    /// column nearer to the line (the first column on a tie), two pixels when flat.
    void step(int x, int y0, int y1, QRgb colour) {
        if (y0 == y1) {
            plot(x, y0, colour);
            plot(x + 1, y0, colour);
            return;
        }
        const int span = std::abs(y1 - y0);
        const int top = std::max(0, std::min(y0, y1));
        const int bottom = std::min(height_ - 1, std::max(y0, y1));
        for (int y = top; y <= bottom; ++y)
            plot(x + (2 * std::abs(y - y0) > span), y, colour);
    }

  private:
    QRgb *row(int y) { return reinterpret_cast<QRgb *>(surface_.scanLine(y)); }

    QImage &surface_;
    int width_ = 0;
    int height_ = 0;
};

/// Whole-pixel y of a sample, pulled into a band reaching four area heights above and below
/// the area so that it fits an int. A one-column step from inside the area to a point beyond
/// that band changes column at its midpoint, outside the area, either way; so the visible part
/// of the line is the same as for the true coordinate.
int bandedRow(float y, int areaHeight) {
    const double lo = -4.0 * areaHeight - 8.0;
    const double hi = 5.0 * areaHeight + 8.0;
    return int(toPixel(std::clamp(double(y), lo, hi)));
}

/// Whether the moving grid starts over: once its offset reaches -Int(width - 1 / (divisions +
/// 1)), about one chart width. A zero divisor leaves the width alone.
bool gridStartsOver(int width, std::int32_t horizontalDivisions, int gridOffset) {
    const double parts = double(horizontalDivisions) + 1.0;
    const double nudge = parts == 0.0 ? 0.0 : 1.0 / parts;
    return -std::floor(double(width) - nudge) >= double(gridOffset);
}

}  // namespace

void LineChart::InitDiagram(PictureBox *pBox, controls::OleColor LineColor, bool ShowGrid,
                            std::optional<controls::OleColor> bBackColor,
                            std::optional<controls::OleColor> GridColor,
                            std::optional<bool> MovingGrid) {
    if (pBox == nullptr) return;
    lineColor_ = LineColor;
    showGrid_ = ShowGrid;
    height_ = pBox->innerHeight();
    width_ = pBox->innerWidth();
    gridColor_ = GridColor.value_or(controls::rgbColour(0, 130, 0));
    pBox->setBackColor(bBackColor.value_or(controls::rgbColour(0, 0, 0)));
    movingGrid_ = MovingGrid.value_or(false);

    pBox_ = pBox;
    ring_.assign(std::size_t(width_), 0.0F);
    values_.assign(std::size_t(width_), 0.0F);
    autoRange_.reset();
    head_ = 0;
    count_ = 0;
    gridOffset_ = 0;
    firstIndex_ = width_ - 1;
}

void LineChart::AddPoint(float value) {
    if (pBox_ == nullptr) return;
    if (FullScale <= 0) FullScale = 1;
    if (width_ > 0) {
        // The slot of the oldest column becomes the newest; every other sample moves one
        // column left without being touched.
        ring_[std::size_t(head_)] = float(height_) - value / FullScale * float(height_);
        values_[std::size_t(head_)] = value;
        if (++head_ == width_) head_ = 0;
        if (count_ < width_) ++count_;
    }
    if (firstIndex_ >= 1) --firstIndex_;
    // Without the grid shown the offset is never restarted; it stops rather than overflow.
    if (gridOffset_ > INT_MIN) --gridOffset_;
}

int LineChart::sampleCount() const {
    return count_;
}

float LineChart::sampleAt(int column) const {
    if (column < 0 || column >= width_) return 0.0F;
    const int slot = head_ + column;
    return ring_[std::size_t(slot >= width_ ? slot - width_ : slot)];
}

void LineChart::RePaint() {
    if (pBox_ == nullptr) return;
    pBox_->cls();
    Canvas canvas(pBox_->surface());
    const QPalette &palette = pBox_->palette();

    if (showGrid_) {
        const QRgb grid = controls::toQColor(gridColor_, palette).rgb();
        if (const auto step = gridStep(width_, VerticalDivisions)) {
            forEachGridLine(movingGrid_ ? gridOffset_ : 0, *step, width_,
                            [&](int x) { canvas.vertical(x, 0, height_, grid); });
        }
        if (const auto step = gridStep(height_, HorizontalDivisions)) {
            forEachGridLine(0, *step, height_,
                            [&](int y) { canvas.horizontal(y, 0, width_, grid); });
        }
        if (gridStartsOver(width_, HorizontalDivisions, gridOffset_)) gridOffset_ = 0;
    }

    autoRange_.reset();
    if (autoScale_) autoRange_ = rangeInView();
    if (firstIndex_ <= width_ - 1 && (PlotStyle == 0 || PlotStyle == 1)) {
        const QRgb line = controls::toQColor(lineColor_, palette).rgb();
        const int band = std::max(height_, pBox_->surface().height());
        // The auto scale maps the values afresh on each paint; the fixed scale drew them
        // when they were added.
        const std::vector<float> &samples = autoRange_ ? values_ : ring_;
        const double bottom = autoRange_ ? autoRange_->bottom : 0.0;
        const double perPixel = autoRange_ ? (autoRange_->top - bottom) / height_ : 1.0;
        // Columns firstIndex_ + 1 .. width_ - 1 are read in order, walking the ring once.
        const int firstColumn = firstIndex_ + 1;
        int slot = head_ + firstColumn;
        if (slot >= width_) slot -= width_;
        const auto next = [&] {
            const float sample = samples[std::size_t(slot)];
            if (++slot == width_) slot = 0;
            if (!autoRange_) return sample;
            return float(height_ - (double(sample) - bottom) / perPixel);
        };
        float previous = firstColumn < width_ ? next() : 0.0F;
        for (int i = firstColumn; i <= width_ - 2; ++i) {
            const float current = next();
            if (!std::isnan(current)) {
                if (PlotStyle == 1) {
                    canvas.plot(i + 1, bandedRow(current, band), line);
                } else if (!std::isnan(previous)) {
                    canvas.step(i, bandedRow(previous, band), bandedRow(current, band), line);
                }
            }
            previous = current;
        }
    }
    pBox_->update();
}

std::optional<LineChart::Range> LineChart::rangeInView() const {
    // The columns right of firstIndex_ hold the samples; they are the newest count_ slots.
    const int inView = std::min(count_, width_ - 1 - firstIndex_);
    if (inView <= 0) return std::nullopt;
    double lo = INFINITY;
    double hi = -INFINITY;
    int slot = head_ + (width_ - inView);
    if (slot >= width_) slot -= width_;
    for (int i = 0; i < inView; ++i) {
        const double v = values_[std::size_t(slot)];
        if (++slot == width_) slot = 0;
        if (!std::isfinite(v)) continue;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (lo > hi) return std::nullopt;
    double span = hi - lo;
    if (!(span > 0)) {
        // A flat trace in the middle of a band a thousandth of its value wide (or one unit
        // wide around 0).
        span = std::abs(hi) > 0 ? std::abs(hi) * 1e-3 : 1.0;
        return Range{lo - span / 2, hi + span / 2};
    }
    return Range{lo - span / 10, hi + span / 10};
}

}  // namespace lyx::viewer
