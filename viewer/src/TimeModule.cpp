#include "TimeModule.h"

#include <QRegularExpression>

namespace lyx::viewer {

QString longDate(const QDate &date, const QLocale &locale) {
    return locale.toString(date, QLocale::LongFormat);
}

namespace {

// The locale's long time format without its time zone ("t", "tttt"): the time of a row is the
// local time of day.
QString longTimeFormat(const QLocale &locale) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b\\s*")));
    return format.trimmed();
}

}  // namespace

QString longTime(const QTime &time, const QLocale &locale) {
    return locale.toString(time, longTimeFormat(locale));
}

QString TimeStamp(const QDateTime &now, const QLocale &locale) {
    return longDate(now.date(), locale) + QLatin1Char(' ') + longTime(now.time(), locale) +
           QLatin1Char(':') + QString::number(now.time().msec());
}

QString TimeStamp() {
    return TimeStamp(QDateTime::currentDateTime());
}

TimeStamper::TimeStamper(const QLocale &locale)
    : locale_(locale), timeFormat_(longTimeFormat(locale)) {}

QString TimeStamper::stamp(const QDateTime &now) {
    const QDate date = now.date();
    const QTime time = now.time();
    if (date != date_) {
        date_ = date;
        dateText_ = longDate(date, locale_);
        second_ = -1;
    }
    const int second = time.msecsSinceStartOfDay() / 1000;
    if (second != second_) {
        second_ = second;
        timeText_ = locale_.toString(QTime(time.hour(), time.minute(), time.second()), timeFormat_);
    }
    return dateText_ + QLatin1Char(' ') + timeText_ + QLatin1Char(':') +
           QString::number(time.msec());
}

}  // namespace lyx::viewer
