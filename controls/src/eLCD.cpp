#include "lyx/controls/eLCD.h"

#include "Rounding.h"
#include "SegmentTable.h"
#include "lyx/controls/Twips.h"

#include <QLocale>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace lyx::controls {

namespace {

constexpr OleColor kNewBackColor = SystemColour::ThreeDLight;
constexpr OleColor kLoadBackColor = SystemColour::ButtonFace;
constexpr OleColor kDefaultOnColor = 0;
constexpr OleColor kDefaultOffColor = 7969130;  // red 106, green 153, blue 121
constexpr int kDefaultSize = 100;
constexpr int kDefaultDigits = 8;
constexpr int kMinDigits = 1;
constexpr int kMaxDigits = 99;
constexpr int kLeftMargin = 200;  // X0, twips
const QString kDefaultCaption = QStringLiteral("12345678");

QString numberText(double value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

QString numberText(qlonglong value) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value);
}

}  // namespace

eLCD::eLCD(QWidget *parent)
    : LcdControl(kNewBackColor, kDefaultOnColor, kDefaultOffColor, parent),
      caption_(kDefaultCaption) {
    fitSurfaceToClientArea();
    runResizeProcedure();
}

void eLCD::setCaption(const QString &text) {
    QString t = text;
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    reportChange(QStringLiteral("Caption"));
    if (t == caption_) return;  // the text already shown: no repaint
    caption_ = std::move(t);
    PaintDigits(caption_);
}

void eLCD::setCaption(double value) {
    setCaption(numberText(value));
}

bool eLCD::setCaptionValue(const QVariant &value) {
    if (!value.isValid() || value.isNull()) return false;
    switch (value.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
            setCaption(value.toDouble());
            return true;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::LongLong:
        case QMetaType::SChar:
        case QMetaType::UChar:
            setCaption(numberText(value.toLongLong()));
            return true;
        default:
            break;
    }
    if (!value.canConvert<QString>()) return false;
    setCaption(value.toString());
    return true;
}

void eLCD::setDigits(int count) {
    digits_ = std::clamp(count, kMinDigits, kMaxDigits);
    reportChange(QStringLiteral("Digits"));
    runResizeProcedure();  // its layout makes the cell geometry match the new count
}

int eLCD::penWidth() const {
    const double w = size_ / 32.0;
    return w < 1.0 ? 1 : int(detail::roundHalfEven(w));
}

void eLCD::runResizeProcedure() {
    if (resizing_) return;
    resizing_ = true;
    const int border = borderStyle();

    // A control lower than the least height grows to it first. The size change this causes
    // re-enters here and returns at once; the steps below then do the rest.
    const double leastHeight = 195 + 60 * border;
    if (heightTwips() < leastHeight) setHeightTwips(leastHeight);
    fitSurfaceToClientArea();  // a hidden widget gets no resize event for its own size change

    // A length that does not fit the 16-bit stored size is dropped and the previous one kept.
    if (const auto s = segmentLengthFor(widthTwips())) size_ = *s;

    LayoutDigits();
    setHeightTwips((size_ + 20) * 4 + 60 * border);
    fitSurfaceToClientArea();
    PaintDigits(caption_);
    resizing_ = false;
}

std::optional<int> eLCD::segmentLengthFor(double widthTw) const {
    // Each step is rounded to the nearest integer, ties to even.
    double s = detail::roundHalfEven(widthTw - 60 * borderStyle() - 400);
    s = detail::roundHalfEven(s / digits_);
    s = detail::roundHalfEven(s / 2.8);
    if (s < std::numeric_limits<qint16>::min() || s > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return int(s);
}

int eLCD::heightForWidth(int w) const {
    const int s = segmentLengthFor(twips::fromPixelsX(*this, w)).value_or(size_);
    return std::max(0, twips::wholePixelsY(*this, (s + 20) * 4 + 60 * borderStyle()));
}

void eLCD::LayoutDigits() {
    const int s = size_;
    // Gap: a third of the segment, rounded up to whole pixels of 15 twips, at least 15.
    int g = (int(std::floor(s / 3.0 / 15.0)) + 1) * 15;
    if (g < 15) g = 15;
    const int p = s + 5 * g;
    const int x0 = kLeftMargin;
    gap_ = g;
    pitch_ = p;

    // Cell 0 segments in twips, (x1, y1, x2, y2), in segment order.
    const std::array<std::array<int, 4>, detail::kSegmentsPerCell> cell0{{
        {x0 + g, 2 * g, x0 + g, 2 * g + s},                          // 0 upper-left
        {x0 + 2 * g, g, x0 + 2 * g + s, g},                          // 1 top
        {x0 + 3 * g + s, 2 * g, x0 + 3 * g + s, 2 * g + s},          // 2 upper-right
        {x0 + 2 * g, 3 * g + s, x0 + 2 * g + s, 3 * g + s},          // 3 middle
        {x0 + g, 4 * g + s, x0 + g, 4 * g + 2 * s},                  // 4 lower-left
        {x0 + 2 * g, 5 * g + 2 * s, x0 + 2 * g + s, 5 * g + 2 * s},  // 5 bottom
        {x0 + 3 * g + s, 4 * g + s, x0 + 3 * g + s, 4 * g + 2 * s},  // 6 lower-right
    }};

    const auto px = [this](double x) { return twips::toPixelsX(*this, x); };
    const auto py = [this](double y) { return twips::toPixelsY(*this, y); };

    seg_.resize(std::size_t(detail::kSegmentsPerCell) * std::size_t(digits_));
    for (int c = 0; c < digits_; ++c) {
        const double dx = double(c) * p;
        for (int j = 0; j < detail::kSegmentsPerCell; ++j) {
            const auto &e = cell0[std::size_t(j)];
            seg_[std::size_t(c * detail::kSegmentsPerCell + j)] =
                QLineF(px(e[0] + dx), py(e[1]), px(e[2] + dx), py(e[3]));
        }
    }
    // Point k sits half-way across the gap in front of cell k, on the bottom line.
    dot_.resize(std::size_t(digits_) + 1);
    for (int k = 0; k <= digits_; ++k)
        dot_[std::size_t(k)] = QPointF(px(x0 - g / 2.0 + double(k) * p), py(5 * g + 2 * s));

    surface_.fill(resolved(backColor()));
}

void eLCD::PaintDigits(const QString &value) {
    // Until the layout has caught up with the digit count there is nothing to draw on.
    if (surface_.isNull() ||
        seg_.size() != std::size_t(detail::kSegmentsPerCell) * std::size_t(digits_) ||
        dot_.size() != std::size_t(digits_) + 1)
        return;
    // Only the first point is a decimal point; it lights the point in front of the cell that
    // follows it and takes no cell itself. Further points are blank cells.
    const qsizetype point = value.indexOf(QLatin1Char('.'));
    const qsizetype litDot = point;  // -1: none

    const int w = penWidth();
    const QPen onPen(resolved(onColor()), w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const QPen offPen(resolved(offColor()), w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);

    QPainter painter(&surface_);
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (int k = 0; k <= digits_; ++k) {
        painter.setPen(k == litDot ? onPen : offPen);
        painter.drawPoint(dot_[std::size_t(k)]);
        if (k == digits_) break;
        const qsizetype index = (point >= 0 && k >= point) ? k + 1 : k;
        const std::uint8_t mask =
            index < value.size() ? detail::segmentMask(value.at(index)) : std::uint8_t(0);
        for (int j = 0; j < detail::kSegmentsPerCell; ++j) {
            painter.setPen((mask >> j) & 1u ? onPen : offPen);
            painter.drawLine(seg_[std::size_t(k * detail::kSegmentsPerCell + j)]);
        }
    }
    painter.end();
    update(contentsRect());
}

void eLCD::repaintCaption() {
    PaintDigits(caption_);
}

void eLCD::fitSurfaceToClientArea() {
    const QSize size = contentsRect().size().expandedTo(QSize(1, 1));
    if (surface_.size() == size) return;
    QImage next(size, QImage::Format_RGB32);
    next.fill(resolved(backColor()));
    if (!surface_.isNull()) {
        QPainter painter(&next);  // what was drawn survives the size change
        painter.drawImage(0, 0, surface_);
    }
    surface_ = std::move(next);
}

void eLCD::resizeEvent(QResizeEvent *event) {
    LcdControl::resizeEvent(event);
    fitSurfaceToClientArea();
    runResizeProcedure();
}

void eLCD::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), surface_);
    drawFrame(&painter);
}

void eLCD::backColorApplied() {
    surface_.fill(resolved(backColor()));  // a new background clears the surface
    repaintCaption();
}

void eLCD::onColorChanged() {
    repaintCaption();
}

void eLCD::offColorChanged() {
    repaintCaption();
}

void eLCD::borderApplied() {
    fitSurfaceToClientArea();
    runResizeProcedure();
    update();
}

void eLCD::readProperties(const PropertyBag &bag) {
    applyBackColor(bag.readColour(u"BackColor", kLoadBackColor));
    storeOnColor(bag.readColour(u"OnColor", kDefaultOnColor));
    storeOffColor(bag.readColour(u"OffColor", kDefaultOffColor));
    size_ = std::clamp(bag.readInt(u"Size", kDefaultSize), int(std::numeric_limits<qint16>::min()),
                       int(std::numeric_limits<qint16>::max()));
    caption_ = bag.readText(u"Caption", kDefaultCaption);
    // A stored count outside 1..99 (a damaged store) is clamped like a set one.
    digits_ = std::clamp(bag.readInt(u"Digits", kDefaultDigits), kMinDigits, kMaxDigits);
    setMouseIcon(bag.readPicture(u"MouseIcon"));
    applyMousePointer(bag.readInt(u"MousePointer", 0));
    applyBorderStyle(bag.readInt(u"BorderStyle", 0));  // lays out and paints the loaded state
}

void eLCD::writeProperties(PropertyBag &bag) const {
    bag.writeColour(u"BackColor", backColor(), kLoadBackColor);
    bag.writeColour(u"OnColor", onColor(), kDefaultOnColor);
    bag.writeColour(u"OffColor", offColor(), kDefaultOffColor);
    bag.writeInt(u"Size", size_, kDefaultSize);
    bag.writeText(u"Caption", caption_, kDefaultCaption);
    bag.writeInt(u"Digits", digits_, kDefaultDigits);
    bag.writePicture(u"MouseIcon", mouseIcon(), false);
    bag.writeInt(u"MousePointer", mousePointer(), 0);
    bag.writeInt(u"BorderStyle", borderStyle(), 0);
}

}  // namespace lyx::controls
