#pragma once

#include "lyx/controls/Colour.h"

#include <QFrame>
#include <QImage>

namespace lyx::viewer {

/// A picture area: a panel that keeps what is drawn on it.
///
/// Drawing goes to a retained surface the size of the inner area (the widget less its border);
/// the panel shows that surface whenever it repaints, so what was drawn stays until it is
/// drawn over or cleared. Coordinates on the surface are pixels from the inner area's top-left.
/// When the panel is resized the surface follows: what lies inside the new size is kept and
/// the rest is filled with the background colour.
///
/// `BackColor` is a stored colour (0x00BBGGRR, or a system colour). `BorderStyle` 0 is no
/// border, 1 a fixed single border (one pixel).
///
/// GUI thread only.
class PictureBox : public QFrame {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget *parent = nullptr);

    controls::OleColor backColor() const { return backColor_; }
    /// Sets the background colour and clears the surface to it (as a picture area does).
    void setBackColor(controls::OleColor colour);

    int borderStyle() const { return borderStyle_; }
    void setBorderStyle(int style);

    /// Width and height of the inner area in pixels.
    int innerWidth() const;
    int innerHeight() const;

    /// The retained drawing surface; call `update()` after drawing on it to show it. It follows
    /// the inner size also while the panel is hidden (Qt holds resize events back until shown).
    QImage &surface();
    const QImage &surface() const;

    /// Clears the surface to the background colour.
    void cls();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    void fitSurface() const;

    controls::OleColor backColor_;
    int borderStyle_ = 1;
    mutable QImage surface_;  ///< resized lazily, on first use after a geometry change
};

}  // namespace lyx::viewer
