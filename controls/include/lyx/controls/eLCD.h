#pragma once

#include "lyx/controls/LcdControl.h"

#include <QImage>
#include <QLineF>
#include <QPointF>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

namespace lyx::controls {

/// A row of seven-segment digit cells with a decimal-point mark in every gap, in the look of a
/// liquid-crystal display: every segment is always drawn, lit ones in `OnColor`, unlit ones in
/// `OffColor`, on `BackColor`.
///
/// The width chooses the digit size; the control then fixes its own height from it (Qt tells a
/// hidden widget of a size change only when it is shown or rendered: `heightForWidth` gives
/// that height in advance, for laying the control out before it shows). The text
/// is placed from the left, one character per cell; the first "." lights the point in front of
/// the cell that follows it. Drawing goes to a retained surface that is redrawn only when the
/// caption, a colour, the size or the digit count changes.
///
/// Properties and their keys, in saving and loading order (load default in brackets):
/// "BackColor" [0x8000000F], "OnColor" [0], "OffColor" [7969130], "Size" [100] (segment length,
/// internal), "Caption" ["12345678"], "Digits" [8], "MouseIcon" [none], "MousePointer" [0],
/// "BorderStyle" [0]. A new control has BackColor 0x80000016 and the other values above.
class eLCD : public LcdControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(int DIGITS READ digits WRITE setDigits)
  public:
    explicit eLCD(QWidget *parent = nullptr);

    QString caption() const { return caption_; }
    /// Sets the shown text; every "," becomes ".". Reports "Caption" every time, but stores
    /// and repaints only when the resulting text differs from the stored one.
    void setCaption(const QString &text);
    /// Sets a number as the caption, written as the user's locale writes it (no grouping).
    void setCaption(double value);
    /// Sets any value convertible to text as the caption (numbers as above). A null or
    /// unconvertible value is refused: returns false, and caption and picture stay as they were.
    bool setCaptionValue(const QVariant &value);

    int digits() const { return digits_; }
    /// Number of digit cells, clamped to 1..99; lays the cells out again and repaints.
    void setDigits(int count);

    // Geometry of the last layout, read-only.
    /// Segment length S in twips (persisted as "Size").
    int segmentLength() const { return size_; }
    /// Gap G between segments in twips.
    int gap() const { return gap_; }
    /// Cell pitch P in twips.
    int pitch() const { return pitch_; }
    /// Pen width of the marks in pixels.
    int penWidth() const;

    /// The height, in pixels, that the control gives itself at width `w` (pixels): lets a
    /// host lay the control out before it has been shown.
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int w) const override;

    void readProperties(const PropertyBag &bag) override;
    void writeProperties(PropertyBag &bag) const override;

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void backColorApplied() override;
    void onColorChanged() override;
    void offColorChanged() override;
    void borderApplied() override;

  private:
    /// Fixes the digit size from the width and the height from the digit size, lays out and
    /// paints. Guarded against the re-entry its own height change causes.
    void runResizeProcedure();
    /// Segment length for a control `widthTw` twips wide, or no value when it would not fit
    /// the 16-bit stored size.
    std::optional<int> segmentLengthFor(double widthTw) const;
    void LayoutDigits();
    void PaintDigits(const QString &value);
    void repaintCaption();
    void fitSurfaceToClientArea();

    QString caption_;
    int digits_ = 8;
    int size_ = 100;
    int gap_ = 45;
    int pitch_ = 325;
    bool resizing_ = false;

    // Cell geometry in pixels of the client area: 7 segments per cell, one point per gap.
    std::vector<QLineF> seg_;
    std::vector<QPointF> dot_;
    QImage surface_;  ///< the retained drawing surface
};

}  // namespace lyx::controls
