#pragma once

#include "lyx/controls/HostedControl.h"
#include "lyx/controls/Picture.h"

#include <QPointer>

namespace lyx::controls {

/// A push button drawn entirely by pictures: one for the normal state, one while the pointer
/// hovers over it, one while a mouse button is pressed on it and one while it is disabled.
///
/// It raises `Click` only when a mouse button is released over it. It tracks the pointer's
/// entry and exit itself by grabbing the mouse while the pointer is inside: entering shows the
/// hover picture and the hand cursor and raises `MouseIn`; leaving shows the normal picture and
/// the arrow cursor and raises `MouseOut`. While the left button is held, moves do no hover
/// handling. While disabled (`Enabled` false) it shows the disabled picture and ignores mouse
/// buttons and moves; `DblClick` is still raised.
///
/// The grab is a real pointer grab on X11, so the button gives it back before raising `MouseUp`
/// and `Click`: a handler that opens a modal dialog or blocks the GUI thread leaves the pointer
/// of the display free. The hover state stays; the next move over the button takes the grab
/// again without a second `MouseIn`. While it holds
/// no grab, the pointer leaving the widget (a Leave event) is the exit. The hover state also
/// ends (normal picture, arrow cursor, `MouseInside` false, `MouseOut`) and the grab is given
/// back when the button is hidden or its window is blocked by a modal window or deactivated.
/// While disabled none of this changes anything.
///
/// Mouse events carry Button (1 left, 2 right, 4 middle; for MouseMove the buttons held),
/// Shift (1 Shift, 2 Ctrl, 4 Alt) and X, Y in pixels of the client area. The picture fills
/// the control from its top-left corner, scaled to it when `Stretch` is set; the background
/// is white.
///
/// Properties and keys, in saving and loading order (load default in brackets):
/// "NormalPic", "DownPic", "HoverPic", "DisabledPic" [empty; always written], "Stretch"
/// [false; always written], "Enabled" [true].
class ImageButton : public HostedControl {
    Q_OBJECT
    Q_PROPERTY(lyx::controls::Picture NormalPic READ normalPic WRITE setNormalPic)
    Q_PROPERTY(lyx::controls::Picture DownPic READ downPic WRITE setDownPic)
    Q_PROPERTY(lyx::controls::Picture HoverPic READ hoverPic WRITE setHoverPic)
    Q_PROPERTY(lyx::controls::Picture DisabledPic READ disabledPic WRITE setDisabledPic)
    Q_PROPERTY(bool Stretch READ stretch WRITE setStretch)
    Q_PROPERTY(bool Enabled READ buttonEnabled WRITE setButtonEnabled)
    Q_PROPERTY(bool MouseInside READ mouseInside)
    Q_PROPERTY(int CurPicture READ curPicture)
  public:
    explicit ImageButton(QWidget *parent = nullptr);
    ~ImageButton() override;

    /// What `CurPicture` gives for the shown picture.
    enum PictureKind { OtherPicture = 0, DownPicture = 1, HoverPicture = 2, NormalPicture = 3 };

    Picture normalPic() const { return normal_; }
    /// Stores the picture and shows it at once.
    void setNormalPic(const Picture &picture);
    Picture downPic() const { return down_; }
    void setDownPic(const Picture &picture);
    Picture hoverPic() const { return hover_; }
    void setHoverPic(const Picture &picture);
    Picture disabledPic() const { return disabled_; }
    void setDisabledPic(const Picture &picture);

    bool stretch() const { return stretch_; }
    void setStretch(bool on);

    /// Whether the button reacts to the mouse. Kept apart from QWidget's own enabled state,
    /// which would also swallow the double clicks the button still raises while disabled.
    bool buttonEnabled() const { return enabled_; }
    void setButtonEnabled(bool on);

    /// The pointer is inside and the hover state is active.
    bool mouseInside() const { return mouseInside_; }
    /// Which picture is shown: 3 NormalPic, 1 DownPic, 2 HoverPic, 0 anything else (no
    /// picture, or DisabledPic).
    int curPicture() const;
    /// The picture shown now.
    Picture shownPicture() const { return shown_; }

    /// Enabled: shows NormalPic. Disabled: shows DisabledPic and gives the mouse back.
    void CheckEnabled();
    /// Gives the mouse back, shows NormalPic, clears MouseInside, sets the arrow cursor,
    /// raises MouseOut and enables the button.
    void Release();

    void readProperties(const PropertyBag &bag) override;
    void writeProperties(PropertyBag &bag) const override;

  Q_SIGNALS:
    void Click();
    void DblClick();
    void MouseDown(int button, int shift, float x, float y);
    void MouseMove(int button, int shift, float x, float y);
    void MouseUp(int button, int shift, float x, float y);
    void MouseIn();
    void MouseOut();
    void Resize();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

  private:
    void showPicture(const Picture &picture);
    bool isShowing(const Picture &picture) const;
    bool holdsMouse() const;
    void giveMouseBack();
    /// Gives the mouse back and, if the pointer was inside, shows NormalPic, clears
    /// MouseInside, sets the arrow cursor and raises MouseOut. Does nothing while disabled.
    void endHover();
    /// Moves the event filter that watches the top-level window to `window` (none if null).
    void watchWindow(QWidget *window);
    /// Whether the widget under the client point (rounded) is this button.
    bool isUnder(QPointF clientPoint) const;

    Picture normal_;
    Picture down_;
    Picture hover_;
    Picture disabled_;
    Picture shown_;
    QPointer<QWidget> watchedWindow_;
    bool stretch_ = false;
    bool enabled_ = true;
    bool mouseInside_ = false;
};

}  // namespace lyx::controls
