// The CSV log's text on its own: separators, header and rows, the proposed name, the time
// stamp and the character set.

#include "LocaleEncoding.h"
#include "LogRows.h"
#include "TimeModule.h"

#include <QLocale>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <ostream>

using namespace lyx::viewer;

inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

TEST(LogText, SeparatorFollowsTheDecimalSeparator) {
    EXPECT_EQ(fieldSeparatorFor(QStringLiteral(".")), QStringLiteral(","));
    EXPECT_EQ(fieldSeparatorFor(QStringLiteral(",")), QStringLiteral(";"));
    EXPECT_EQ(fieldSeparatorFor(QStringLiteral("\u066B")), QStringLiteral(";"));
    EXPECT_EQ(logHeader(QStringLiteral(",")), QStringLiteral("mS Elapsed,Value,Time Stamp\r\n"));
    EXPECT_EQ(logHeader(QStringLiteral(";")), QStringLiteral("mS Elapsed;Value;Time Stamp\r\n"));
}

TEST(LogText, RowsHoldElapsedValueAndStampWithTheLocalesPoint) {
    EXPECT_EQ(logRow(17, QStringLiteral("12.5"), QStringLiteral("stamp"), QStringLiteral(","),
                     QStringLiteral(".")),
              QStringLiteral("17,12.5,stamp\r\n"));
    EXPECT_EQ(logRow(17, QStringLiteral("12.5"), QStringLiteral("stamp"), QStringLiteral(";"),
                     QStringLiteral(",")),
              QStringLiteral("17;12,5;stamp\r\n"));
    EXPECT_EQ(logRow(-5, QStringLiteral("1E+16"), QStringLiteral("s"), QStringLiteral(","),
                     QStringLiteral(".")),
              QStringLiteral("-5,1E+16,s\r\n"));
}

TEST(LogText, AFieldWithTheSeparatorAQuoteOrALineBreakIsQuoted) {
    const QString stamp = QStringLiteral("Tuesday, 8 December 2026 15:55:01:181");
    EXPECT_EQ(logRow(3, QStringLiteral("1.5"), stamp, QStringLiteral(","), QStringLiteral(".")),
              QStringLiteral("3,1.5,\"Tuesday, 8 December 2026 15:55:01:181\"\r\n"));
    // With ";" the same stamp needs nothing, and neither does a decimal comma.
    EXPECT_EQ(logRow(3, QStringLiteral("1.5"), stamp, QStringLiteral(";"), QStringLiteral(",")),
              QStringLiteral("3;1,5;Tuesday, 8 December 2026 15:55:01:181\r\n"));
    EXPECT_EQ(csvField(QStringLiteral("say \"hi\""), QStringLiteral(",")),
              QStringLiteral("\"say \"\"hi\"\"\""));
    EXPECT_EQ(csvField(QStringLiteral("a;b"), QStringLiteral(";")), QStringLiteral("\"a;b\""));
    EXPECT_EQ(csvField(QStringLiteral("two\nlines"), QStringLiteral(",")),
              QStringLiteral("\"two\nlines\""));
    EXPECT_EQ(csvField(QStringLiteral("a;b"), QStringLiteral(",")), QStringLiteral("a;b"));
}

TEST(LogText, TheProposedNameIsTheTagsLow16BitsAndTheLongDate) {
    const QLocale c = QLocale::c();
    const QDate day(2026, 12, 8);
    EXPECT_EQ(defaultLogName(0x1A2B, day, c), QStringLiteral("1A2B ") + longDate(day, c));
    EXPECT_EQ(defaultLogName(0x12345, day, c).left(5), QStringLiteral("2345 "));
    EXPECT_EQ(defaultLogName(0x4D2, day, c).left(5), QStringLiteral("04D2 "));
    EXPECT_EQ(longDate(day, c), QStringLiteral("Tuesday, 8 December 2026"));
}

TEST(LogText, TheTimeStampIsLongDateLongTimeAndMillisecondsWithoutLeadingZeros) {
    const QLocale c = QLocale::c();
    const QDateTime at(QDate(2026, 12, 8), QTime(14, 3, 27, 5));
    EXPECT_EQ(TimeStamp(at, c), QStringLiteral("Tuesday, 8 December 2026 14:03:27:5"));
    const QDateTime later(QDate(2026, 12, 8), QTime(9, 0, 0, 250));
    EXPECT_EQ(TimeStamp(later, c), QStringLiteral("Tuesday, 8 December 2026 09:00:00:250"));
    const QLocale german(QLocale::German, QLocale::Germany);
    const QString stamp = TimeStamp(at, german);
    EXPECT_TRUE(stamp.startsWith(QStringLiteral("Dienstag, 8. Dezember 2026 14:03:27")))
        << stamp.toStdString();
    EXPECT_TRUE(stamp.endsWith(QStringLiteral(":5")));
    EXPECT_FALSE(longTime(at.time(), QLocale(QLocale::English, QLocale::UnitedStates))
                     .contains(QRegularExpression(QStringLiteral("[A-Z]{3,}"))))
        << "no time zone in the long time";
}

TEST(LogText, TheStamperGivesTheTimeStampsTextAcrossSecondsAndDays) {
    for (const QLocale &locale : {QLocale::c(), QLocale(QLocale::German, QLocale::Germany),
                                  QLocale(QLocale::English, QLocale::UnitedStates)}) {
        TimeStamper stamper(locale);
        QDateTime t(QDate(2026, 12, 31), QTime(23, 59, 58, 990));
        for (int i = 0; i < 40; ++i) {
            EXPECT_EQ(stamper.stamp(t), TimeStamp(t, locale)) << t.toString().toStdString();
            t = t.addMSecs(97);
        }
        EXPECT_EQ(t.date(), QDate(2027, 1, 1)) << "the stamps went past midnight";
    }
}

TEST(LogText, IsWrittenInTheLocalesEightBitSetOrUtf8) {
    const QString text = QStringLiteral("März 12,5");
    LocaleEncoding utf8(QByteArrayLiteral("UTF-8"));
    EXPECT_TRUE(utf8.isUtf8());
    EXPECT_EQ(utf8.encode(text), text.toUtf8());
    LocaleEncoding ascii(QByteArrayLiteral("ANSI_X3.4-1968"));
    EXPECT_TRUE(ascii.isUtf8()) << "ASCII is written as UTF-8, its superset";

    LocaleEncoding latin1(QByteArrayLiteral("ISO-8859-1"));
    ASSERT_FALSE(latin1.isUtf8());
    EXPECT_EQ(latin1.encode(text), QByteArray("M\xE4rz 12,5"));
    LocaleEncoding latin9(QByteArrayLiteral("ISO-8859-15"));
    EXPECT_EQ(latin9.encode(QStringLiteral("\u20AC")), QByteArray("\xA4"));
    // A character the set lacks is approximated or replaced, never dropped with the rest.
    const QByteArray greek = latin1.encode(QStringLiteral("a\u03A9b"));
    EXPECT_EQ(greek.size(), 3);
    EXPECT_EQ(greek.front(), 'a');
    EXPECT_EQ(greek.back(), 'b');

    LocaleEncoding unknown(QByteArrayLiteral("NO-SUCH-CHARSET"));
    EXPECT_TRUE(unknown.isUtf8());
}
