#pragma once

#include "lyx/controls/Colour.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace lyx::viewer {

class PictureBox;

/// A small scrolling trend chart drawn on a picture area.
///
/// Each sample is kept as the y pixel coordinate it is drawn at: y = height - value / FullScale
/// x height, so 0 lies on the bottom edge and FullScale on the top edge. The newest sample sits
/// at the right-hand column (x = width - 1), older ones one column further left each; a chart
/// as wide as the area holds one sample per column. `RePaint` draws the grid and the trace;
/// `AddPoint` only records, so drawing costs nothing per sample and adding costs the same
/// whatever the width (the samples sit in a ring).
///
/// GUI thread only. Nothing happens before `InitDiagram`.
class LineChart {
  public:
    /// Horizontal grid lines at multiples of (height - 1) / (HorizontalDivisions + 1).
    std::int32_t HorizontalDivisions = 0;
    /// Vertical grid lines at multiples of (width - 1) / (VerticalDivisions + 1).
    std::int32_t VerticalDivisions = 0;
    /// The value that reaches the top edge (0 at the bottom); 0 or less becomes 1 on the next
    /// `AddPoint`.
    float FullScale = 0;
    /// 0 joins consecutive samples with lines, 1 draws each sample as one pixel, anything else
    /// draws no trace.
    std::int32_t PlotStyle = 0;

    /// Takes the picture area `pBox` and its current inner size (read once, in whole pixels),
    /// sets its background to `bBackColor` (black when omitted) and empties the chart. The
    /// grid colour defaults to RGB(0, 130, 0) and the moving grid to off. The public fields
    /// keep their values.
    void InitDiagram(PictureBox *pBox, controls::OleColor LineColor, bool ShowGrid,
                     std::optional<controls::OleColor> bBackColor = std::nullopt,
                     std::optional<controls::OleColor> GridColor = std::nullopt,
                     std::optional<bool> MovingGrid = std::nullopt);

    /// Records one sample as the newest; the oldest beyond the width is dropped. With the
    /// moving grid, the vertical grid lines move one pixel left per sample.
    void AddPoint(float value);

    /// Clears the area and draws the grid (when shown) and the trace, then shows the area.
    void RePaint();

    /// The auto scale: instead of 0 at the bottom edge and FullScale at the top, the trace
    /// spans the smallest to the largest sample in view, with a margin of a tenth of that
    /// range above and below (a flat trace lies in the middle). Every `RePaint` draws the
    /// whole trace on the range of the samples then in view. Off by default; the setting
    /// outlives `InitDiagram`.
    void setAutoScale(bool on) { autoScale_ = on; }
    bool autoScale() const { return autoScale_; }
    /// The values at the bottom and top edges of the last auto-scaled `RePaint` (nothing
    /// before one, or with no sample in view).
    struct Range {
        double bottom = 0;
        double top = 0;
    };
    std::optional<Range> autoRange() const { return autoRange_; }

    // For tests and the viewer: the chart's geometry and samples.
    bool initialised() const { return pBox_ != nullptr; }
    int width() const { return width_; }
    int height() const { return height_; }
    /// How many valid samples are held (0 .. width).
    int sampleCount() const;
    /// The y coordinate of the sample at column `column` (0 .. width - 1; width - 1 is the
    /// newest). Columns left of the oldest valid sample read 0.
    float sampleAt(int column) const;
    /// The x position of the first vertical grid line of the moving grid (0 or negative).
    int gridOffset() const { return gridOffset_; }

  private:
    PictureBox *pBox_ = nullptr;
    controls::OleColor lineColor_ = 0;
    controls::OleColor gridColor_ = 0;
    bool showGrid_ = false;
    bool movingGrid_ = false;
    int width_ = 0;
    int height_ = 0;
    std::vector<float> ring_;    ///< width_ samples; ring_[head_] is the oldest column (0)
    std::vector<float> values_;  ///< the values of those samples, in the same slots
    int head_ = 0;
    int count_ = 0;        ///< valid samples held (0 .. width_)
    int firstIndex_ = -1;  ///< the column just before the oldest valid sample
    int gridOffset_ = 0;
    bool autoScale_ = false;
    std::optional<Range> autoRange_;

    /// The range the auto scale draws the samples in view on; nothing when none is finite.
    std::optional<Range> rangeInView() const;
};

}  // namespace lyx::viewer
