#include "lyx/controls/Picture.h"

#include <QBuffer>

namespace lyx::controls {

Picture::Picture(QImage image) {
    if (!image.isNull()) image_ = std::make_shared<const QImage>(std::move(image));
}

const QImage &Picture::image() const {
    static const QImage kNone;
    return image_ ? *image_ : kNone;
}

QByteArray Picture::toPng() const {
    QByteArray bytes;
    if (!image_) return bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image_->save(&buffer, "PNG");
    return bytes;
}

Picture Picture::fromData(const QByteArray &bytes) {
    if (bytes.isEmpty()) return {};
    return Picture(QImage::fromData(bytes));
}

}  // namespace lyx::controls
