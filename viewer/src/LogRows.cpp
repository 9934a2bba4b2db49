#include "LogRows.h"

#include "TimeModule.h"

namespace lyx::viewer {

namespace {
const QString kLineEnd = QStringLiteral("\r\n");
}

QString fieldSeparatorFor(const QString &decimalSeparator) {
    return decimalSeparator == QLatin1String(".") ? QStringLiteral(",") : QStringLiteral(";");
}

QString logHeader(const QString &separator) {
    return QStringLiteral("mS Elapsed") + separator + QStringLiteral("Value") + separator +
           QStringLiteral("Time Stamp") + kLineEnd;
}

QString csvField(const QString &field, const QString &separator) {
    const bool plain = !field.contains(separator) && !field.contains(QLatin1Char('"')) &&
                       !field.contains(QLatin1Char('\r')) && !field.contains(QLatin1Char('\n'));
    if (plain) return field;
    QString quoted = field;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString logRow(std::int32_t elapsedMs, const QString &value, const QString &timeStamp,
               const QString &separator, const QString &decimalSeparator) {
    QString text = value;
    text.replace(QLatin1Char('.'), decimalSeparator);
    return QString::number(elapsedMs) + separator + csvField(text, separator) + separator +
           csvField(timeStamp, separator) + kLineEnd;
}

QString defaultLogName(std::int32_t followedTag, const QDate &today, const QLocale &locale) {
    QString date = longDate(today, locale);
    date.replace(QLatin1Char('/'), QLatin1Char('-'));
    return QStringLiteral("%1")
               .arg(quint32(followedTag) & 0xFFFFu, 4, 16, QLatin1Char('0'))
               .toUpper() +
           QLatin1Char(' ') + date;
}

}  // namespace lyx::viewer
