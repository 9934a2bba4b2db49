#pragma once

#include "lyx/controls/Colour.h"
#include "lyx/controls/HostedControl.h"
#include "lyx/controls/Picture.h"

namespace lyx::controls {

/// Common ground of the LCD controls (eLCD, eLCDText, eLCDBar, eLCDContainer): the three
/// colours, the border, the cursor and the mouse events.
///
/// The colour properties are Qt properties named "BackColor", "OnColor" and "OffColor", so that
/// a container can set them on its children by name.
///
/// Mouse events carry Button (1 left, 2 right, 4 middle; for MouseMove the buttons held),
/// Shift (1 Shift, 2 Ctrl, 4 Alt) and X, Y in twips from the top-left of the client area.
/// `Click` follows a press and a release of the left button on the control; a double click
/// raises `DblClick` in place of the second press.
class LcdControl : public HostedControl {
    Q_OBJECT
    Q_PROPERTY(quint32 BackColor READ backColor WRITE setBackColor)
    Q_PROPERTY(quint32 OnColor READ onColor WRITE setOnColor)
    Q_PROPERTY(quint32 OffColor READ offColor WRITE setOffColor)
    Q_PROPERTY(int BorderStyle READ borderStyle WRITE setBorderStyle)
    Q_PROPERTY(int MousePointer READ mousePointer WRITE setMousePointer)
    Q_PROPERTY(lyx::controls::Picture MouseIcon READ mouseIcon WRITE setMouseIcon)
  public:
    OleColor backColor() const { return backColor_; }
    void setBackColor(OleColor colour);
    OleColor onColor() const { return onColor_; }
    void setOnColor(OleColor colour);
    OleColor offColor() const { return offColor_; }
    void setOffColor(OleColor colour);

    /// 0 no border, 1 fixed single border (values outside are clamped).
    int borderStyle() const { return borderStyle_; }
    void setBorderStyle(int style);

    /// Cursor kind: 0 default, 1 to 15 the standard cursors, 99 the `MouseIcon` picture.
    int mousePointer() const { return mousePointer_; }
    void setMousePointer(int kind);
    Picture mouseIcon() const { return mouseIcon_; }
    void setMouseIcon(const Picture &icon);

    /// A colour resolved for drawing, system colours through this widget's palette.
    QColor resolved(OleColor colour) const;

  Q_SIGNALS:
    void Click();
    void DblClick();
    void MouseDown(int button, int shift, float x, float y);
    void MouseMove(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);

  protected:
    LcdControl(OleColor back, OleColor on, OleColor off, QWidget *parent);

    // Apply a value to the control window without reporting it (used by loading).
    void applyBackColor(OleColor colour);
    void applyBorderStyle(int style);
    void applyMousePointer(int kind);
    // Store a colour without reporting or running the hook (used by loading).
    void storeOnColor(OleColor colour) { onColor_ = colour; }
    void storeOffColor(OleColor colour) { offColor_ = colour; }
    // Loads BackColor, OnColor, OffColor, MouseIcon, MousePointer and
    // BorderStyle, in that order, as the label, the bar and the container store them.
    void readLookAndPointer(const PropertyBag &bag, OleColor onDefault, OleColor offDefault);

    /// Width and height of the whole control in twips.
    double widthTwips() const;
    double heightTwips() const;
    /// Sets the control height, given in twips, in whole pixels.
    void setHeightTwips(double twips);

    // Hooks run after a value changed (set or loaded).
    virtual void backColorApplied() { update(); }
    virtual void onColorChanged() { update(); }
    virtual void offColorChanged() { update(); }
    virtual void borderApplied() { update(); }

    /// Whether MouseDown, MouseMove and MouseUp are raised at `pos` (widget pixels).
    virtual bool raisesMouseEventsAt(QPoint pos) const;

    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

  private:
    void emitMouse(void (LcdControl::*signal)(int, int, float, float), int button,
                   const QMouseEvent *event);
    void applyCursor();

    OleColor backColor_;
    OleColor onColor_;
    OleColor offColor_;
    int borderStyle_ = 0;
    int mousePointer_ = 0;
    Picture mouseIcon_;
    bool clickArmed_ = false;  ///< the left button went down on the control
};

}  // namespace lyx::controls
