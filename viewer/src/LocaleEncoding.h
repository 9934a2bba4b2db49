#pragma once

#include <QByteArray>
#include <QString>

namespace lyx::viewer {

/// Text in the user's locale's character set: its 8-bit encoding where it has one (ISO-8859-1,
/// KOI8-R, ...), UTF-8 where the locale uses UTF-8 or plain ASCII. Characters the 8-bit set
/// lacks are written as their nearest equivalent or "?".
class LocaleEncoding {
  public:
    /// The encoding of the current LC_CTYPE locale.
    LocaleEncoding();
    /// A given character set, by its iconv name ("ISO-8859-15"); UTF-8 for an unknown one.
    explicit LocaleEncoding(const QByteArray &codeset);
    ~LocaleEncoding();
    LocaleEncoding(const LocaleEncoding &) = delete;
    LocaleEncoding &operator=(const LocaleEncoding &) = delete;

    /// The character set text is written in ("UTF-8", "ISO-8859-1", ...).
    QByteArray name() const { return name_; }
    bool isUtf8() const { return converter_ == nullptr; }

    QByteArray encode(const QString &text) const;

  private:
    void open(const QByteArray &codeset);

    QByteArray name_ = "UTF-8";
    void *converter_ = nullptr;  // an iconv descriptor, or none for UTF-8
};

}  // namespace lyx::viewer
