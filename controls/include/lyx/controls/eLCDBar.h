#pragma once

#include "lyx/controls/LcdControl.h"

#include <QFont>

namespace lyx::controls {

/// A bar graph drawn as a row of "|" marks: as many as fit the control's inner width (one more
/// with a border), of which `Percent` percent are lit from the left. The mark size follows the
/// control height.
///
/// Properties and keys, in saving and loading order (load default in brackets):
/// "BackColor" [0x8000000F], "OnColor" [0], "OffColor" [7969130], "MouseIcon" [none],
/// "MousePointer" [0], "BorderStyle" [0]. `Percent` and `Size` are not stored. A new control
/// has BackColor 10269842.
class eLCDBar : public LcdControl {
    Q_OBJECT
    Q_PROPERTY(float Percent READ percent WRITE setPercent)
    Q_PROPERTY(float Size READ markSize WRITE setMarkSize)
  public:
    explicit eLCDBar(QWidget *parent = nullptr);

    float percent() const { return percent_; }
    /// Lights round(N / 100 x percent) marks, ties to even. A negative or non-finite value
    /// keeps the lit marks as they were; above 100 the extra marks lie beyond the edge. Not
    /// reported to the host.
    void setPercent(float percent);

    /// The mark font size in points (the control height in twips / 10).
    float markSize() const { return float(markFont_.pointSizeF()); }
    /// Makes the marks `points` large by setting the control height to `points` x 10 twips.
    void setMarkSize(float points);

    /// How many marks fill the control at full scale (0 until the control was first sized).
    int markCount() const { return markCount_; }
    /// How many marks are lit.
    int litCount() const { return litCount_; }

    void readProperties(const PropertyBag &bag) override;
    void writeProperties(PropertyBag &bag) const override;

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void borderApplied() override;

  private:
    void runResizeProcedure();
    void applyPercent();

    float percent_ = 0;
    int markCount_ = 0;
    int litCount_ = 0;
    double rowTopTwips_ = 0;  ///< top of the mark rows, above the control's top edge
    bool resizing_ = false;
    QFont markFont_;
};

}  // namespace lyx::controls
