#pragma once

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTime>

namespace lyx::viewer {

/// The locale's long date ("Tuesday, 8 December 2026").
QString longDate(const QDate &date, const QLocale &locale = QLocale());

/// The locale's long time without its time zone ("14:03:27", "2:03:27 PM").
QString longTime(const QTime &time, const QLocale &locale = QLocale());

/// The time stamp of a log row: the long date, a space, the long time, ":" and the
/// milliseconds without leading zeros ("Tuesday, 8 December 2026 14:03:27:5").
QString TimeStamp(const QDateTime &now, const QLocale &locale = QLocale());

/// The same for the current local time.
QString TimeStamp();

/// Time stamps for a stream of rows: the same text as TimeStamp, with the date and the time
/// of day to the second formatted once each and reused while they last.
class TimeStamper {
  public:
    explicit TimeStamper(const QLocale &locale = QLocale());
    QString stamp(const QDateTime &now);
    QString stamp() { return stamp(QDateTime::currentDateTime()); }

  private:
    QLocale locale_;
    QString timeFormat_;
    QDate date_;
    QString dateText_;
    int second_ = -1;  ///< of the day, for `timeText_`
    QString timeText_;
};

}  // namespace lyx::viewer
