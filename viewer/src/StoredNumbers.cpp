#include "StoredNumbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace lyx::viewer {

namespace {
constexpr double kLimit = 1e6;
}

QString storedNumberText(double value) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, static_cast<float>(value));
    return QString::fromLatin1(text, written.ptr - text);
}

double storedNumberValue(const QString &text) {
    const QByteArray bytes = text.trimmed().toLatin1();
    const char *first = bytes.constData();
    const char *last = first + bytes.size();
    bool negative = false;
    if (first != last && (*first == '+' || *first == '-')) {
        negative = *first == '-';
        ++first;
    }
    double value = 0;
    const auto read = std::from_chars(first, last, value);
    if (read.ec != std::errc() || !std::isfinite(value)) return 0;
    if (negative) value = -value;
    return std::clamp(value, -kLimit, kLimit);
}

}  // namespace lyx::viewer
