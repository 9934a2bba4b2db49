#pragma once

#include <QByteArray>
#include <QImage>
#include <QMetaType>
#include <QtGlobal>

#include <memory>

namespace lyx::controls {

/// A shared, immutable picture that may be empty.
///
/// Copies share one image; `handle()` names that image (0 for an empty picture), and two
/// pictures are equal when their handles are, that is when they are copies of one another.
/// Two pictures built from equal pixels are different pictures.
class Picture {
  public:
    /// An empty picture (handle 0).
    Picture() = default;
    /// A picture holding `image`; a null image gives an empty picture.
    explicit Picture(QImage image);

    bool isEmpty() const { return !image_; }
    quintptr handle() const { return reinterpret_cast<quintptr>(image_.get()); }
    /// The image; a null image when the picture is empty.
    const QImage &image() const;

    /// PNG bytes of the image, empty for an empty picture: for hosts whose store keeps bytes.
    QByteArray toPng() const;
    /// The picture held in PNG (or another format Qt reads) bytes; empty on failure.
    static Picture fromData(const QByteArray &bytes);

    friend bool operator==(const Picture &a, const Picture &b) { return a.image_ == b.image_; }

  private:
    std::shared_ptr<const QImage> image_;
};

}  // namespace lyx::controls

Q_DECLARE_METATYPE(lyx::controls::Picture)
