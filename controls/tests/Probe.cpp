#include "Probe.h"

#include <QEvent>
#include <QPixmap>
#include <QWidget>

namespace lyx::controls::test {

QImage render(QWidget &widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb rgb(OleColor colour) {
    return toQColor(colour).rgb();
}

int countPixels(const QImage &image, const QRect &area, QRgb colour) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF)) ++n;
    return n;
}

int runsInRow(const QImage &image, int y, QRgb colour) {
    int runs = 0;
    bool in = false;
    for (int x = 0; x < image.width(); ++x) {
        const bool match = (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
        if (match && !in) ++runs;
        in = match;
    }
    return runs;
}

PaintCounter::PaintCounter(QWidget *widget) : QObject(widget) {
    widget->installEventFilter(this);
}

bool PaintCounter::eventFilter(QObject *, QEvent *event) {
    if (event->type() == QEvent::Paint) ++count_;
    return false;
}

}  // namespace lyx::controls::test
