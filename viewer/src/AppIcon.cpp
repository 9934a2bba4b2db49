#include "AppIcon.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <array>

namespace lyx::viewer {

namespace {

// The seven segments of one digit cell in a 10 x 18 box: a, b, c, d, e, f, g.
constexpr std::array<std::array<float, 4>, 7> kSegments{{
    {1.5f, 1.0f, 8.5f, 1.0f},    // a, top
    {9.0f, 1.5f, 9.0f, 8.5f},    // b, top right
    {9.0f, 9.5f, 9.0f, 16.5f},   // c, bottom right
    {1.5f, 17.0f, 8.5f, 17.0f},  // d, bottom
    {1.0f, 9.5f, 1.0f, 16.5f},   // e, bottom left
    {1.0f, 1.5f, 1.0f, 8.5f},    // f, top left
    {1.5f, 9.0f, 8.5f, 9.0f},    // g, middle
}};

void drawDigit(QPainter &p, const QRectF &cell, unsigned litMask, const QColor &on,
               const QColor &off, qreal pen) {
    const qreal sx = cell.width() / 10.0;
    const qreal sy = cell.height() / 18.0;
    for (std::size_t i = 0; i < kSegments.size(); ++i) {
        const auto &s = kSegments[i];
        p.setPen(QPen((litMask >> i) & 1u ? on : off, pen, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(cell.left() + s[0] * sx, cell.top() + s[1] * sy),
                   QPointF(cell.left() + s[2] * sx, cell.top() + s[3] * sy));
    }
}

}  // namespace

void paintAppIcon(QPainter &p, const QRectF &box) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = box.width() / 48.0;  // the drawing is laid out on a 48-unit grid
    const QColor face(53, 53, 53), rim(90, 90, 90), lit(255, 24, 24), unlit(76, 16, 16),
        trace(159, 222, 112);

    // The body: a rounded dark plate.
    const QRectF body = box.adjusted(1.5 * u, 1.5 * u, -1.5 * u, -1.5 * u);
    p.setPen(QPen(rim, std::max<qreal>(1.0, 1.5 * u)));
    p.setBrush(face);
    p.drawRoundedRect(body, 8 * u, 8 * u);

    // Two digit cells reading "42".
    const qreal pen = std::max<qreal>(1.2, 3.2 * u);
    const QRectF first(box.left() + 7 * u, box.top() + 9 * u, 11 * u, 20 * u);
    const QRectF second = first.translated(15 * u, 0);
    drawDigit(p, first, 0b1100110u, lit, unlit, pen);   // 4: b c f g
    drawDigit(p, second, 0b1011011u, lit, unlit, pen);  // 2: a b d e g

    // The trend line along the bottom.
    QPainterPath line;
    line.moveTo(box.left() + 7 * u, box.top() + 40 * u);
    line.lineTo(box.left() + 15 * u, box.top() + 35 * u);
    line.lineTo(box.left() + 22 * u, box.top() + 38 * u);
    line.lineTo(box.left() + 31 * u, box.top() + 33 * u);
    line.lineTo(box.left() + 41 * u, box.top() + 36 * u);
    p.setBrush(Qt::NoBrush);
    p.setPen(
        QPen(trace, std::max<qreal>(1.0, 2.4 * u), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(line);

    // A radio wave at the top right, where there is room for it.
    if (box.width() >= 24) {
        p.setPen(QPen(trace, std::max<qreal>(1.0, 2.0 * u), Qt::SolidLine, Qt::RoundCap));
        const QPointF centre(box.left() + 36 * u, box.top() + 17 * u);
        for (int r : {4, 8}) {
            const QRectF arc(centre.x() - r * u, centre.y() - r * u, 2 * r * u, 2 * r * u);
            p.drawArc(arc, 5 * 16, 80 * 16);
        }
        p.setBrush(trace);
        p.drawEllipse(centre, 1.4 * u, 1.4 * u);
    }
    p.restore();
}

QImage appIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintAppIcon(painter, QRectF(0, 0, size, size));
    painter.end();
    return image;
}

QIcon appIcon(const QString &resourceName) {
    if (resourceName != QStringLiteral("AAA")) return {};
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
    return icon;
}

void SetAppIcon(QWidget *window, const QString &resourceName, bool alsoOwner) {
    const QIcon icon = appIcon(resourceName);
    if (icon.isNull() || window == nullptr) return;
    // The owner first, so that the task bar and the window's dialogs show it too.
    if (alsoOwner) QApplication::setWindowIcon(icon);
    window->setWindowIcon(icon);
}

}  // namespace lyx::viewer
