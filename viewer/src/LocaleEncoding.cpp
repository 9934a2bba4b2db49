#include "LocaleEncoding.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>

namespace lyx::viewer {

namespace {

bool writesAsUtf8(const QByteArray &codeset) {
    const QByteArray c = codeset.toUpper();
    // ASCII is a subset of UTF-8; "ANSI_X3.4-1968" is what the C locale reports.
    return c.isEmpty() || c == "UTF-8" || c == "UTF8" || c == "ANSI_X3.4-1968" || c == "ASCII" ||
           c == "US-ASCII";
}

iconv_t descriptor(void *converter) {
    return static_cast<iconv_t>(converter);
}

}  // namespace

LocaleEncoding::LocaleEncoding() {
    open(QByteArray(nl_langinfo(CODESET)));
}

LocaleEncoding::LocaleEncoding(const QByteArray &codeset) {
    open(codeset);
}

LocaleEncoding::~LocaleEncoding() {
    if (converter_ != nullptr) iconv_close(descriptor(converter_));
}

void LocaleEncoding::open(const QByteArray &codeset) {
    if (writesAsUtf8(codeset)) return;
    iconv_t cd = iconv_open((codeset + "//TRANSLIT").constData(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;  // unknown: UTF-8
    converter_ = cd;
    name_ = codeset;
}

QByteArray LocaleEncoding::encode(const QString &text) const {
    QByteArray utf8 = text.toUtf8();
    if (converter_ == nullptr) return utf8;
    iconv(descriptor(converter_), nullptr, nullptr, nullptr, nullptr);  // a fresh start
    QByteArray out(utf8.size() * 2 + 16, Qt::Uninitialized);
    char *in = utf8.data();
    size_t inLeft = size_t(utf8.size());
    char *to = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        if (iconv(descriptor(converter_), &in, &inLeft, &to, &outLeft) != size_t(-1)) break;
        if (errno == E2BIG) {
            const qsizetype used = to - out.data();
            out.resize(out.size() * 2);
            to = out.data() + used;
            outLeft = size_t(out.size() - used);
        } else {
            // A character the set cannot hold even approximately: "?" for its UTF-8 bytes.
            do {
                ++in;
                --inLeft;
            } while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80);
            if (outLeft == 0) {
                const qsizetype used = to - out.data();
                out.resize(out.size() * 2);
                to = out.data() + used;
                outLeft = size_t(out.size() - used);
            }
            *to++ = '?';
            --outLeft;
        }
    }
    out.resize(to - out.data());
    return out;
}

}  // namespace lyx::viewer
