#pragma once

#include "lyx/controls/LcdControl.h"

#include <QFont>
#include <QString>

namespace lyx::controls {

/// A text label that shows its caption unlit (`OffColor`) or lit (`OnColor`), like a printed
/// legend that the display switches on and off.
///
/// Two copies of the caption lie one on the other at the top-left corner: the unlit copy,
/// always shown, and the lit copy on top of it, shown while `State` is true. With `Inverse`
/// the copies are drawn as blocks of the unlit (or lit) colour with the text in the background
/// colour that was current when the colours were applied. The control always sizes itself to
/// fit its caption in its font; the host only positions it.
///
/// Properties and keys, in saving order (load default in brackets): "Caption" ["Caption"],
/// "BackColor" [0x8000000F], "OnColor" [0], "OffColor" [7969130], "MouseIcon" [none],
/// "MousePointer" [0], "BorderStyle" [0], "Font" [the parent's font], "State" [false],
/// "Inverse" [false]. Loading reads "Font" first, then the others in that order. A new control
/// has BackColor 10269842 and a bold 12-point sans-serif font.
///
/// MouseDown, MouseMove and MouseUp are raised only over the control surface outside the text;
/// Click and DblClick anywhere on the control.
class eLCDText : public LcdControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
    Q_PROPERTY(bool State READ state WRITE setState)
    Q_PROPERTY(bool Inverse READ inverse WRITE setInverse)
    Q_PROPERTY(QFont Font READ controlFont WRITE setControlFont)
    Q_PROPERTY(QString FontName READ fontName WRITE setFontName)
    Q_PROPERTY(float FontSize READ fontSize WRITE setFontSize)
    Q_PROPERTY(bool FontBold READ fontBold WRITE setFontBold)
    Q_PROPERTY(bool FontItalic READ fontItalic WRITE setFontItalic)
    Q_PROPERTY(bool FontUnderline READ fontUnderline WRITE setFontUnderline)
    Q_PROPERTY(bool FontStrikethru READ fontStrikethru WRITE setFontStrikethru)
  public:
    explicit eLCDText(QWidget *parent = nullptr);

    QString caption() const { return caption_; }
    /// Stores the text unchanged and resizes the control to fit it at once.
    void setCaption(const QString &text);

    bool state() const { return state_; }
    /// True lights the caption (shows the lit copy).
    void setState(bool lit);
    bool inverse() const { return inverse_; }
    void setInverse(bool on);

    QFont controlFont() const { return font(); }
    void setControlFont(const QFont &font);

    QString fontName() const { return font().family(); }
    void setFontName(const QString &name);
    float fontSize() const { return float(font().pointSizeF()); }
    void setFontSize(float points);
    bool fontBold() const { return font().bold(); }
    void setFontBold(bool on);
    bool fontItalic() const { return font().italic(); }
    void setFontItalic(bool on);
    bool fontUnderline() const { return font().underline(); }
    void setFontUnderline(bool on);
    bool fontStrikethru() const { return font().strikeOut(); }
    void setFontStrikethru(bool on);

    void readProperties(const PropertyBag &bag) override;
    void writeProperties(PropertyBag &bag) const override;

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void onColorChanged() override { applyColours(); }
    void offColorChanged() override { applyColours(); }
    void borderApplied() override;
    bool raisesMouseEventsAt(QPoint pos) const override;

  private:
    /// Colours of one text copy, fixed when the colours are applied.
    struct Copy {
        bool opaque = false;
        OleColor background = 0;
        OleColor text = 0;
    };

    void applyColours();
    void applyFont();
    void changeFont(const QFont &font, const QString &property);
    void runResizeProcedure();
    QRect textRect() const;

    QString caption_;
    bool state_ = false;
    bool inverse_ = false;
    bool resizing_ = false;
    Copy back_;  ///< the unlit copy, always shown
    Copy fore_;  ///< the lit copy, shown while State is true
};

}  // namespace lyx::controls
