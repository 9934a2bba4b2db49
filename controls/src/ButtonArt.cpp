#include "lyx/controls/ButtonArt.h"

#include "lyx/controls/ImageButton.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <numbers>

namespace lyx::controls::art {

namespace {

// Pictures are drawn on a 64 x 64 grid and scaled to the asked size.
constexpr double kGrid = 64.0;

struct Look {
    QColor faceTop;
    QColor faceBottom;
    QColor edge;
    double edgeWidth;
    QColor glyph;
    QColor accent;  ///< the record mark of the log button
    QPointF shift;  ///< a pressed button's glyph sinks a little
};

Look lookOf(ButtonState state) {
    switch (state) {
        case ButtonState::Hover:
            return {QColor(0xFF, 0xFF, 0xFF),
                    QColor(0xDD, 0xEA, 0xF8),
                    QColor(0x2F, 0x74, 0xC8),
                    3.0,
                    QColor(0x15, 0x48, 0x82),
                    QColor(0xE0, 0x30, 0x30),
                    {0, 0}};
        case ButtonState::Down:
            return {QColor(0xB9, 0xC3, 0xCE),
                    QColor(0xD8, 0xDE, 0xE5),
                    QColor(0x3A, 0x4A, 0x5A),
                    3.0,
                    QColor(0x10, 0x22, 0x36),
                    QColor(0xA8, 0x18, 0x18),
                    {1.5, 1.5}};
        case ButtonState::Disabled:
            return {QColor(0xE8, 0xE8, 0xE8),
                    QColor(0xE0, 0xE0, 0xE0),
                    QColor(0xB8, 0xB8, 0xB8),
                    2.0,
                    QColor(0xA6, 0xA6, 0xA6),
                    QColor(0xB4, 0xB4, 0xB4),
                    {0, 0}};
        case ButtonState::Normal:
            break;
    }
    return {QColor(0xF6, 0xF8, 0xFA),
            QColor(0xD3, 0xDA, 0xE2),
            QColor(0x7D, 0x8A, 0x98),
            2.0,
            QColor(0x26, 0x36, 0x48),
            QColor(0xC8, 0x26, 0x26),
            {0, 0}};
}

void drawFace(QPainter &p, const Look &look) {
    QLinearGradient gradient(0, 4, 0, kGrid - 4);
    gradient.setColorAt(0, look.faceTop);
    gradient.setColorAt(1, look.faceBottom);
    p.setPen(QPen(look.edge, look.edgeWidth));
    p.setBrush(gradient);
    const double inset = 2 + look.edgeWidth / 2;
    p.drawRoundedRect(QRectF(inset, inset, kGrid - 2 * inset, kGrid - 2 * inset), 10, 10);
}

QPen strokePen(const QColor &colour, double width = 4.5) {
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawArrowHead(QPainter &p, QPointF tip, double angleRadians, double length) {
    const double spread = 0.5;
    const QPointF a =
        tip - QPointF(std::cos(angleRadians - spread), std::sin(angleRadians - spread)) * length;
    const QPointF b =
        tip - QPointF(std::cos(angleRadians + spread), std::sin(angleRadians + spread)) * length;
    p.drawPolygon(QPolygonF{tip, a, b});
}

void drawDigitsLegend(QPainter &p, const QColor &colour, double baseline) {
    // "0.0" as small seven-segment-like zeros with a point, the look of the display.
    p.setPen(strokePen(colour, 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(17, baseline - 14, 10, 14), 2, 2);
    p.drawRoundedRect(QRectF(37, baseline - 14, 10, 14), 2, 2);
    p.setPen(strokePen(colour, 4));
    p.drawPoint(QPointF(32, baseline));
}

void drawGlyph(QPainter &p, ButtonIcon icon, const Look &look) {
    const QColor c = look.glyph;
    p.setPen(strokePen(c));
    p.setBrush(Qt::NoBrush);
    switch (icon) {
        case ButtonIcon::Search:
            p.drawEllipse(QPointF(28, 28), 11, 11);
            p.setPen(strokePen(c, 7));
            p.drawLine(QPointF(37, 37), QPointF(47, 47));
            break;
        case ButtonIcon::Pair:
            // Two interlocking links.
            p.drawRoundedRect(QRectF(12, 24, 24, 16), 8, 8);
            p.drawRoundedRect(QRectF(28, 24, 24, 16), 8, 8);
            break;
        case ButtonIcon::Sleep: {
            QPainterPath moon;
            moon.addEllipse(QPointF(28, 35), 14, 14);
            QPainterPath bite;
            bite.addEllipse(QPointF(36, 28), 12, 12);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPath(moon.subtracted(bite));
            p.setPen(strokePen(c, 3));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(QPolygonF{{40, 12}, {50, 12}, {40, 22}, {50, 22}});
            break;
        }
        case ButtonIcon::Wake:
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(QPointF(32, 32), 8.5, 8.5);
            p.setPen(strokePen(c, 3.5));
            for (int i = 0; i < 8; ++i) {
                const double a = i * std::numbers::pi / 4;
                const QPointF d(std::cos(a), std::sin(a));
                p.drawLine(QPointF(32, 32) + d * 13, QPointF(32, 32) + d * 19);
            }
            break;
        case ButtonIcon::Zero:
            p.drawEllipse(QPointF(32, 32), 7, 11);
            p.setPen(strokePen(c, 3.5));
            p.drawLine(QPointF(9, 32), QPointF(19, 32));
            p.drawLine(QPointF(45, 32), QPointF(55, 32));
            p.setBrush(c);
            p.setPen(strokePen(c, 1));
            drawArrowHead(p, QPointF(22, 32), 0, 7);
            drawArrowHead(p, QPointF(42, 32), std::numbers::pi, 7);
            break;
        case ButtonIcon::Gross: {
            // A turning-back arrow: three quarters of a circle ending in a head.
            const QRectF circle(18, 18, 28, 28);
            p.drawArc(circle, 90 * 16, 270 * 16);
            p.setBrush(c);
            p.setPen(strokePen(c, 1));
            drawArrowHead(p, QPointF(43, 26), -std::numbers::pi / 2 + 0.25, 10);
            break;
        }
        case ButtonIcon::Log:
            p.setPen(Qt::NoPen);
            p.setBrush(look.accent);
            p.drawEllipse(QPointF(32, 32), 13, 13);
            break;
        case ButtonIcon::StopLog:
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawRoundedRect(QRectF(20, 20, 24, 24), 3, 3);
            break;
        case ButtonIcon::ViewLog: {
            p.setPen(strokePen(c, 3));
            p.setBrush(Qt::NoBrush);
            p.drawPolygon(QPolygonF{{19, 11}, {37, 11}, {46, 20}, {46, 53}, {19, 53}});
            p.drawPolyline(QPolygonF{{37, 11}, {37, 20}, {46, 20}});
            for (int i = 0; i < 4; ++i)
                p.drawLine(QPointF(24, 27 + 7 * i), QPointF(41, 27 + 7 * i));
            break;
        }
        case ButtonIcon::DigitsUp:
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPolygon(QPolygonF{{32, 10}, {44, 24}, {20, 24}});
            drawDigitsLegend(p, c, 48);
            break;
        case ButtonIcon::DigitsDown:
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawPolygon(QPolygonF{{32, 54}, {44, 40}, {20, 40}});
            drawDigitsLegend(p, c, 30);
            break;
        case ButtonIcon::Modules:
            // A list: three rows, each a status dot and a line of text.
            for (int i = 0; i < 3; ++i) {
                const double y = 20 + 12 * i;
                p.setPen(Qt::NoPen);
                p.setBrush(c);
                p.drawEllipse(QPointF(19, y), 4, 4);
                p.setPen(strokePen(c, 4));
                p.drawLine(QPointF(29, y), QPointF(47, y));
            }
            break;
    }
}

}  // namespace

QString iconName(ButtonIcon icon) {
    switch (icon) {
        case ButtonIcon::Search:
            return QStringLiteral("search");
        case ButtonIcon::Pair:
            return QStringLiteral("pair");
        case ButtonIcon::Sleep:
            return QStringLiteral("sleep");
        case ButtonIcon::Wake:
            return QStringLiteral("wake");
        case ButtonIcon::Zero:
            return QStringLiteral("zero");
        case ButtonIcon::Gross:
            return QStringLiteral("gross");
        case ButtonIcon::Log:
            return QStringLiteral("log");
        case ButtonIcon::StopLog:
            return QStringLiteral("stop-log");
        case ButtonIcon::ViewLog:
            return QStringLiteral("view-log");
        case ButtonIcon::DigitsUp:
            return QStringLiteral("digits-up");
        case ButtonIcon::DigitsDown:
            return QStringLiteral("digits-down");
        case ButtonIcon::Modules:
            return QStringLiteral("modules");
    }
    return {};
}

QString stateName(ButtonState state) {
    switch (state) {
        case ButtonState::Normal:
            return QStringLiteral("normal");
        case ButtonState::Hover:
            return QStringLiteral("hover");
        case ButtonState::Down:
            return QStringLiteral("down");
        case ButtonState::Disabled:
            return QStringLiteral("disabled");
    }
    return {};
}

QImage paintButton(ButtonIcon icon, ButtonState state, QSize size) {
    QImage image(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(image.width() / kGrid, image.height() / kGrid);
    const Look look = lookOf(state);
    drawFace(p, look);
    p.translate(look.shift);
    drawGlyph(p, icon, look);
    p.end();
    return image;
}

void applyButtonArt(ImageButton &button, ButtonIcon icon, QSize size) {
    button.setNormalPic(Picture(paintButton(icon, ButtonState::Normal, size)));
    button.setHoverPic(Picture(paintButton(icon, ButtonState::Hover, size)));
    button.setDownPic(Picture(paintButton(icon, ButtonState::Down, size)));
    button.setDisabledPic(Picture(paintButton(icon, ButtonState::Disabled, size)));
}

}  // namespace lyx::controls::art
