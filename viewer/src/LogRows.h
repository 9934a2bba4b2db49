#pragma once

// The text of the CSV log: its separator, header and rows, and the name proposed for a new
// log. Every line ends with CR LF.

#include <QDate>
#include <QLocale>
#include <QString>

#include <cstdint>

namespace lyx::viewer {

/// "," where the decimal separator is ".", ";" for any other.
QString fieldSeparatorFor(const QString &decimalSeparator);

/// "mS Elapsed", "Value" and "Time Stamp" joined by the separator.
QString logHeader(const QString &separator);

/// One data row: the milliseconds since logging started, the value text (every "." replaced
/// by the decimal separator) and the time stamp. A field that holds the separator, a double
/// quote or a line break (a long date such as "Tuesday, 8 December 2026" beside ",") is
/// written in double quotes with its own quotes doubled, so that a spreadsheet or a CSV
/// reader sees three fields.
/// `field` as one CSV field: as it is, or quoted as above.
QString csvField(const QString &field, const QString &separator);

QString logRow(std::int32_t elapsedMs, const QString &value, const QString &timeStamp,
               const QString &separator, const QString &decimalSeparator);

/// The name proposed for a new log: the followed tag's low 16 bits as four upper-case
/// hexadecimal digits, a space and the long date ("04D2 Tuesday, 8 December 2026"). A "/"
/// of the date, which would make the name a path, becomes "-".
QString defaultLogName(std::int32_t followedTag, const QDate &today,
                       const QLocale &locale = QLocale());

}  // namespace lyx::viewer
