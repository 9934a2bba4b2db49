#include "DisplayRules.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace lyx::viewer {

namespace {

constexpr std::string_view kIncorrectLength = "Incorrect data length to decode data type!";
constexpr const char *kHexDigits = "0123456789ABCDEF";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The C locale's text of a number, shortest with up to 15 significant digits.
QString plainNumberText(double value) {
    QString text = QString::number(value, 'g', 15);
    text.replace(QLatin1Char('e'), QLatin1Char('E'));
    return text;
}

std::uint32_t byteAt(std::string_view data, std::size_t i) {
    return static_cast<unsigned char>(data[i]);
}

// A number's digits in the format "0..0.0..0": at least `integerDigits` whole digits (none
// for a whole part of 0 when the format has none), then the point and `decimalPlaces`
// digits.
QString formatted(double value, int integerDigits, int decimalPlaces, const QString &point) {
    QString digits = QString::number(std::abs(value), 'f', decimalPlaces);
    QString whole = digits.section(QLatin1Char('.'), 0, 0);
    const QString fraction = decimalPlaces > 0 ? digits.section(QLatin1Char('.'), 1) : QString();
    if (integerDigits == 0 && whole == QLatin1String("0")) whole.clear();
    while (whole.size() < integerDigits)
        whole.prepend(QLatin1Char('0'));
    // A value that rounds to zero shows no sign.
    bool negative = false;
    if (value < 0) {
        for (QChar c : digits)
            if (c >= QLatin1Char('1') && c <= QLatin1Char('9')) negative = true;
    }
    return (negative ? QStringLiteral("-") : QString()) + whole + point + fraction;
}

}  // namespace

std::optional<double> parseValueNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    // Only a plain decimal number: sign, digits with at most one point, an exponent.
    std::size_t i = 0;
    if (text[i] == '+' || text[i] == '-') ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    const char *first = text.data();
    if (*first == '+') ++first;
    double value = 0;
    const auto read = std::from_chars(first, text.data() + text.size(), value);
    if (read.ec != std::errc() || !std::isfinite(value)) return std::nullopt;
    return value;
}

QString valueText(double value, const QString &decimalSeparator) {
    QString text = plainNumberText(value);
    if (decimalSeparator != QLatin1String(".")) text.replace(QLatin1Char('.'), decimalSeparator);
    return text;
}

std::variant<double, std::string> DecodeDPP(std::string_view data) {
    if (data.empty()) return std::string();
    const int type = byteAt(data, 0) & 15;
    const std::string_view bytes = data.substr(1);
    const auto need = [&](std::size_t n) { return bytes.size() == n; };
    switch (type) {
        case 1:
            if (!need(1)) return std::string(kIncorrectLength);
            return double(byteAt(bytes, 0));
        case 2:
            if (!need(2)) return std::string(kIncorrectLength);
            return double(byteAt(bytes, 0) * 256 + byteAt(bytes, 1));
        case 3: {
            if (!need(4)) return std::string(kIncorrectLength);
            const std::uint32_t u = (byteAt(bytes, 0) << 24) | (byteAt(bytes, 1) << 16) |
                                    (byteAt(bytes, 2) << 8) | byteAt(bytes, 3);
            return double(static_cast<std::int32_t>(u));
        }
        case 4: {
            if (!need(4)) return std::string(kIncorrectLength);
            const std::uint32_t u = (byteAt(bytes, 0) << 24) | (byteAt(bytes, 1) << 16) |
                                    (byteAt(bytes, 2) << 8) | byteAt(bytes, 3);
            float f;
            static_assert(sizeof f == sizeof u);
            std::memcpy(&f, &u, sizeof f);
            return double(f);
        }
        case 5:
            return std::string(bytes);
        case 6:
            return CVStr2HEX(bytes).toStdString();
        default:
            return std::string();
    }
}

QString CVStr2HEX(std::string_view data) {
    QString text;
    text.reserve(qsizetype(data.size() * 3));
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint32_t b = byteAt(data, i);
        text += QLatin1Char(kHexDigits[b >> 4]);
        text += QLatin1Char(kHexDigits[b & 15]);
        text += QLatin1Char(' ');
    }
    return text;
}

float linkQuality(int rssi, int cv) {
    const float q = static_cast<float>((rssi + cv + 39) / 2.0 * 3.9);
    return q > 100 ? 100.0f : q;
}

double secondsSince(double start, double now) {
    double elapsed = now - start;
    if (elapsed < 0) elapsed += 86400.0;  // the clock went past midnight
    return elapsed;
}

DisplayScale::Result DisplayScale::format(double value, int &digits,
                                          const QString &decimalSeparator) {
    Result result;
    // The length of the whole part's text; 0 for a whole part of 0. The whole part rounds
    // towards minus infinity, so -0.5 has the whole part -1, one digit.
    const double whole = std::abs(std::floor(value));
    const int n = whole == 0 ? 0 : int(plainNumberText(whole).size());

    int rest = totalDigits - n;
    if (rest < 0) {
        decimalPlaces = 0;
        totalDigits = std::int16_t(totalDigits + 1);  // one digit more per value
        rest = totalDigits - n;
    }
    if (n > integerDigits || (decimalPlaces == 0 && integerDigits != 6)) {
        decimalPlaces = std::int16_t(rest);
        integerDigits = std::int16_t(n);
        if (digits < n) digits = n + 1;
        result.rescaled = true;
    }
    if (decimalPlaces < 0) decimalPlaces = 0;

    displayFormat = QString(integerDigits, QLatin1Char('0')) + QLatin1Char('.') +
                    QString(decimalPlaces, QLatin1Char('0'));
    if (value > 0) displayFormat.prepend(QLatin1Char(' '));

    const QString text = (value > 0 ? QStringLiteral(" ") : QString()) +
                         formatted(value, integerDigits, decimalPlaces, decimalSeparator);
    // A text longer than the cells would lose its sign or a digit on the left: the display
    // gets the cells it needs rather than show a wrong number.
    const int needed = int(text.trimmed().size()) - 1;
    if (needed > digits) digits = needed;
    result.caption = (QString(7, QLatin1Char(' ')) + text).right(digits + 1);
    return result;
}

void DisplayScale::reset() {
    integerDigits = 0;
    decimalPlaces = 0;
    totalDigits = 5;
}

ButtonStates buttonStates(bool lostSignalShown, std::int32_t followedTag, bool recordMode,
                          std::int16_t totalDigits) {
    ButtonStates wanted;
    if (lostSignalShown || followedTag == 0) {
        wanted.value = false;
        wanted.digitsUp = false;
        wanted.digitsDown = false;
        return wanted;
    }
    wanted.value = true;
    if (!recordMode) {
        if (totalDigits < 5) wanted.digitsUp = true;
        if (totalDigits > 2) wanted.digitsDown = true;
    }
    return wanted;
}

}  // namespace lyx::viewer
