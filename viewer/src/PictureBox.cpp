#include "PictureBox.h"

#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <utility>

namespace lyx::viewer {

PictureBox::PictureBox(QWidget *parent)
    : QFrame(parent), backColor_(controls::SystemColour::ButtonFace) {
    setBorderStyle(1);
}

void PictureBox::setBackColor(controls::OleColor colour) {
    backColor_ = colour;
    cls();
}

void PictureBox::setBorderStyle(int style) {
    borderStyle_ = std::clamp(style, 0, 1);
    if (borderStyle_ == 1) {
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
    } else {
        setFrameStyle(QFrame::NoFrame);
    }
    fitSurface();
    update();
}

int PictureBox::innerWidth() const {
    return std::max(0, contentsRect().width());
}

int PictureBox::innerHeight() const {
    return std::max(0, contentsRect().height());
}

QImage &PictureBox::surface() {
    fitSurface();
    return surface_;
}

const QImage &PictureBox::surface() const {
    fitSurface();
    return surface_;
}

void PictureBox::cls() {
    fitSurface();
    if (!surface_.isNull()) surface_.fill(controls::toQColor(backColor_, palette()));
    update();
}

void PictureBox::paintEvent(QPaintEvent *) {
    fitSurface();
    QPainter painter(this);
    if (!surface_.isNull()) painter.drawImage(contentsRect().topLeft(), surface_);
    drawFrame(&painter);
}

void PictureBox::resizeEvent(QResizeEvent *event) {
    QFrame::resizeEvent(event);
    fitSurface();
}

void PictureBox::fitSurface() const {
    const QSize size(innerWidth(), innerHeight());
    if (size.isEmpty()) {
        if (!surface_.isNull()) surface_ = QImage();
        return;
    }
    if (size == surface_.size()) return;
    QImage fresh(size, QImage::Format_RGB32);
    fresh.fill(controls::toQColor(backColor_, palette()));
    if (!surface_.isNull()) {
        QPainter painter(&fresh);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, surface_);
    }
    surface_ = std::move(fresh);
}

}  // namespace lyx::viewer
