#pragma once
// Helpers the controls' tests share: rendering widgets and reading their pixels.

#include "lyx/controls/Colour.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

#include <ostream>

class QWidget;

/// Lets test failures show texts as text.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

namespace lyx::controls::test {

/// The widget as it would show on screen, in 32-bit RGB.
QImage render(QWidget &widget);

/// The colour a stored colour draws in (system colours through the application palette).
QRgb rgb(OleColor colour);

/// How many pixels of `area` have exactly the colour `colour`.
int countPixels(const QImage &image, const QRect &area, QRgb colour);

/// Runs of consecutive pixels of `colour` along row `y`.
int runsInRow(const QImage &image, int y, QRgb colour);

/// Counts paint events a widget receives.
class PaintCounter : public QObject {
  public:
    explicit PaintCounter(QWidget *widget);
    int count() const { return count_; }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    int count_ = 0;
};

}  // namespace lyx::controls::test
