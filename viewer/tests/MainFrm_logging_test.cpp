// CSV logging on the real main window: the real save dialog, answered in-process the way a
// user fills it in, and the file it writes.

#include "PacketFeed.h"
#include "ViewerFixture.h"

#include "FileModule.h"
#include "INIFileModule.h"
#include "LogRows.h"
#include "TimeModule.h"

#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <csignal>
#include <functional>

using namespace lyx::viewer;
using namespace lyx::viewer::testing;
using lyx::controls::ImageButton;

namespace {

// Waits (in the event loop of the modal dialog that is about to open) for the active modal
// widget of type T, then hands it to `action`.
template <class T>
void whenModal(std::function<void(T *)> action) {
    auto *poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        auto *found = qobject_cast<T *>(QApplication::activeModalWidget());
        if (found == nullptr || !found->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        action(found);
    });
    poll->start();
}

// Presses the dialog's Save (or Open) button as a user does.
void pressSave(QFileDialog *dialog) {
    auto *buttons = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    ASSERT_NE(buttons, nullptr);
    QPushButton *save = buttons->button(QDialogButtonBox::Save);
    if (save == nullptr) save = buttons->button(QDialogButtonBox::Open);
    ASSERT_NE(save, nullptr);
    save->click();
}

struct DialogSeen {
    QString title;
    QString folder;
    QString proposedName;
    QStringList filters;
    QString defaultSuffix;
};

// Every packet arrives after the display's refresh interval. The user's home is the test's,
// with a documents folder.
class Logging : public RunningWindowTest {
  protected:
    Logging() : home_("HOME", path(QStringLiteral("home"))) { QDir().mkpath(documents()); }
    QString documents() const { return path(QStringLiteral("home/Documents")); }

    void feed(lyx::platform::ByteArray frame) { refreshWith(std::move(frame)); }
    ImageButton *button(const char *name) { return control<ImageButton>(*window, name); }
    bool shown(const char *name) { return button(name)->isVisibleTo(window.get()); }

    // Presses Log and answers the save dialog with `path` (nothing: cancels it).
    DialogSeen startLog(const QString &path, bool confirmOverwrite = false) {
        DialogSeen seen;
        whenModal<QFileDialog>([&, path, confirmOverwrite](QFileDialog *dialog) {
            seen.title = dialog->windowTitle();
            seen.folder = dialog->directory().absolutePath();
            seen.filters = dialog->nameFilters();
            seen.defaultSuffix = dialog->defaultSuffix();
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                seen.proposedName = name->text();
            if (path.isEmpty()) {
                dialog->reject();
                return;
            }
            if (confirmOverwrite) {
                whenModal<QMessageBox>([](QMessageBox *box) {
                    if (QAbstractButton *yes = box->button(QMessageBox::Yes)) yes->click();
                });
            }
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
            pressSave(dialog);
        });
        Q_EMIT button("CBLOG")->Click();
        return seen;
    }
    void stopLog() { Q_EMIT button("CBSTOPLOG")->Click(); }

    static QStringList lines(const QString &path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) return {};
        const QByteArray all = file.readAll();
        EXPECT_TRUE(all.isEmpty() || all.endsWith("\r\n")) << "every line ends with CR LF";
        QStringList out = QString::fromUtf8(all).split(QStringLiteral("\r\n"));
        if (!out.isEmpty() && out.last().isEmpty()) out.removeLast();
        return out;
    }
    QString files(const char *key) {
        return ReadIniString(window->program().iniPath, QStringLiteral("Files"),
                             QString::fromLatin1(key), QStringLiteral("<none>"));
    }

    ScopedEnv home_;
};

// While alive, no file of this process may grow past its present size: the disk is full.
class FullDisk {
  public:
    explicit FullDisk(const QString &file) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        ::signal(SIGXFSZ, SIG_IGN);
        const auto size = static_cast<rlim_t>(QFileInfo(file).size());
        const rlimit full{size, before_.rlim_max};
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &full), 0);
    }
    ~FullDisk() { ::setrlimit(RLIMIT_FSIZE, &before_); }
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

  private:
    rlimit before_{};
};

}  // namespace

TEST_F(Logging, APointLocaleLogsCommaSeparatedRowsOfTheFollowedModule) {
    open();
    feed(floatFrame(0x1A2B, 12.5f));
    EXPECT_FALSE(button("CBVIEW")->buttonEnabled());
    const QString path = this->path(QStringLiteral("logs/run.csv"));
    QDir().mkpath(this->path(QStringLiteral("logs")));
    const DialogSeen seen = startLog(path);
    EXPECT_EQ(seen.title, QStringLiteral("Log File"));
    EXPECT_EQ(seen.folder, documents()) << "the documents folder the first time";
    EXPECT_EQ(seen.proposedName, QStringLiteral("1A2B ") + longDate(QDate::currentDate()));
    EXPECT_EQ(seen.filters,
              (QStringList{QStringLiteral("CSV Files (*.csv)"), QStringLiteral("All Files (*)")}));
    EXPECT_EQ(seen.defaultSuffix, QStringLiteral("csv"));
    ASSERT_TRUE(window->program().loggingActive);
    EXPECT_FALSE(shown("CBLOG"));
    EXPECT_TRUE(shown("CBSTOPLOG"));
    EXPECT_EQ(files("LogInitDir"), this->path(QStringLiteral("logs")));
    EXPECT_EQ(files("LogInitFile"), QStringLiteral("run.csv"));

    feed(floatFrame(0x1A2B, 12.5f));
    QTest::qWait(30);
    feed(floatFrame(0x1A2C, 99.0f));  // another module: no row
    feed(floatFrame(0x1A2B, -3.25f));
    QTest::qWait(30);
    feed(floatFrame(0x1A2B, 1234.5f));
    stopLog();
    EXPECT_FALSE(window->program().loggingActive);
    EXPECT_TRUE(shown("CBLOG"));
    EXPECT_FALSE(shown("CBSTOPLOG"));
    EXPECT_TRUE(button("CBVIEW")->buttonEnabled());

    const QStringList rows = lines(path);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0], QStringLiteral("mS Elapsed,Value,Time Stamp"));
    const QStringList values{QStringLiteral("12.5"), QStringLiteral("-3.25"),
                             QStringLiteral("1234.5")};
    int previous = -1;
    for (int i = 1; i < rows.size(); ++i) {
        const QStringList fields = rows[i].split(QLatin1Char(','));
        ASSERT_GE(fields.size(), 3) << rows[i].toStdString();
        const int elapsed = fields[0].toInt();
        EXPECT_GE(elapsed, previous);
        previous = elapsed;
        EXPECT_EQ(fields[1], values[i - 1]);
        // A long date with a comma is quoted, so that the row has three fields.
        const QString date = longDate(QDate::currentDate());
        const QString stamp = fields.mid(2).join(QLatin1Char(','));
        if (date.contains(QLatin1Char(','))) {
            EXPECT_TRUE(stamp.startsWith(QLatin1Char('"') + date) && stamp.endsWith('"'))
                << stamp.toStdString();
        } else {
            EXPECT_TRUE(stamp.startsWith(date)) << stamp.toStdString();
        }
    }
    EXPECT_LT(rows[1].split(QLatin1Char(','))[0].toInt(), 1000) << "the first row comes soon";
    EXPECT_GE(previous, 60) << "later rows count on";
}

TEST_F(Logging, ACommaLocaleUsesSemicolonsAndItsDecimalComma) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    open();
    feed(floatFrame(0x10, 12.5f));
    const QString path = this->path(QStringLiteral("komma.csv"));
    startLog(path);
    feed(floatFrame(0x10, 12.5f));
    stopLog();
    const QStringList rows = lines(path);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], QStringLiteral("mS Elapsed;Value;Time Stamp"));
    const QStringList fields = rows[1].split(QLatin1Char(';'));
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[1], QStringLiteral("12,5"));
    EXPECT_TRUE(fields[2].startsWith(longDate(QDate::currentDate())));
}

TEST_F(Logging, RowsContinueAcrossASearchForWhicheverModuleIsFollowed) {
    open();
    feed(floatFrame(0xA, 1.0f));
    const QString path = this->path(QStringLiteral("search.csv"));
    startLog(path);
    feed(floatFrame(0xA, 1.5f));
    Q_EMIT button("btnSearch")->Click();
    now -= 0.2;
    feed(floatFrame(0xA, 2.0f));  // the module just left: ignored in the search's first second
    feed(floatFrame(0xB, 7.0f));  // taken
    feed(floatFrame(0xA, 3.0f));  // no longer followed
    feed(floatFrame(0xB, 8.0f));
    stopLog();
    const QStringList rows = lines(path);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[1].section(QLatin1Char(','), 1, 1), QStringLiteral("1.5"));
    EXPECT_EQ(rows[2].section(QLatin1Char(','), 1, 1), QStringLiteral("7"));
    EXPECT_EQ(rows[3].section(QLatin1Char(','), 1, 1), QStringLiteral("8"));
}

TEST_F(Logging, TheProposedNameUsesTheTagsLow16Bits) {
    open();
    std::uint8_t station = 1, status = 0;
    std::int32_t tag = 0x12345;
    std::string value = "1.0";
    std::int16_t rssi = -60, cv = 60;
    bool battLow = false, error = false;
    window->DP_PacketArrived(station, tag, value, status, rssi, cv, battLow, error);
    ASSERT_EQ(window->followedTag(), 0x12345);
    const DialogSeen seen = startLog(QString());
    EXPECT_EQ(seen.proposedName, QStringLiteral("2345 ") + longDate(QDate::currentDate()));
}

TEST_F(Logging, CancellingStartsNothingButStoresTheProposedName) {
    open();
    feed(floatFrame(0x4D2, 1.0f));
    startLog(QString());
    EXPECT_FALSE(window->program().loggingActive);
    EXPECT_TRUE(shown("CBLOG"));
    EXPECT_FALSE(window->fileModule()->isOpen());
    EXPECT_EQ(files("LogInitFile"), QStringLiteral("04D2 ") + longDate(QDate::currentDate()));
    EXPECT_EQ(files("LogInitDir"), documents());
}

TEST_F(Logging, WithoutADocumentsFolderTheHomeIsProposedAndAStoredFolderIsKept) {
    open();
    feed(floatFrame(0x4D2, 1.0f));
    QDir(documents()).removeRecursively();
    EXPECT_EQ(startLog(QString()).folder, path(QStringLiteral("home")));
    const QString stored = path(QStringLiteral("elsewhere"));
    QDir().mkpath(stored);
    ASSERT_TRUE(WriteIniString(window->program().iniPath, QStringLiteral("Files"),
                               QStringLiteral("LogInitDir"), stored));
    EXPECT_EQ(startLog(QString()).folder, stored);
}

TEST_F(Logging, AnEndOfTheLogLostWhenLoggingStopsIsReported) {
    open();
    feed(floatFrame(0x10, 1.0f));
    for (const bool atShutdown : {false, true}) {
        const QString path =
            this->path(atShutdown ? QStringLiteral("shutdown.csv") : QStringLiteral("stop.csv"));
        startLog(path);
        ASSERT_TRUE(window->program().loggingActive);
        const std::size_t before = boxes_.shown.size();
        {
            FullDisk full(path);
            feed(floatFrame(0x10, 2.0f));  // kept in the file's buffer until the stop
            if (atShutdown) {
                closeWindow(*window);
            } else {
                stopLog();
            }
        }
        EXPECT_FALSE(window->program().loggingActive);
        ASSERT_EQ(boxes_.shown.size(), before + 1) << (atShutdown ? "at shutdown" : "by Stop");
        const ShownBox &box = boxes_.shown.back();
        EXPECT_EQ(box.caption, QStringLiteral("Log File"));
        EXPECT_TRUE(box.text.startsWith(QStringLiteral("Logging stopped: the log file could not "
                                                       "be written.\r\n") +
                                        path))
            << box.text.toStdString();
        EXPECT_NE(box.flags & LYX_MB_ICONWARNING, 0u);
    }
    window.reset();
}

TEST_F(Logging, StartingAgainWithTheSameNameOverwritesAfterThePrompt) {
    open();
    feed(floatFrame(0x10, 1.0f));
    const QString path = this->path(QStringLiteral("again.csv"));
    startLog(path);
    for (int i = 0; i < 5; ++i)
        feed(floatFrame(0x10, 1.0f));
    stopLog();
    ASSERT_EQ(lines(path).size(), 6);

    const DialogSeen seen = startLog(path, true);
    EXPECT_EQ(seen.folder, folder_.path()) << "the last folder is offered";
    ASSERT_TRUE(window->program().loggingActive);
    feed(floatFrame(0x10, 2.0f));
    stopLog();
    const QStringList rows = lines(path);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].section(QLatin1Char(','), 1, 1), QStringLiteral("2"));
}

TEST_F(Logging, ANameTypedWithoutExtensionGetsTheCsvExtension) {
    open();
    feed(floatFrame(0x10, 1.0f));
    startLog(this->path(QStringLiteral("plain")));
    ASSERT_TRUE(window->program().loggingActive);
    EXPECT_EQ(window->fileModule()->path(), this->path(QStringLiteral("plain.csv")));
    stopLog();
    EXPECT_EQ(files("LogInitFile"), QStringLiteral("plain.csv"));
}

TEST_F(Logging, NonNumericPacketsWriteNoRows) {
    open();
    feed(stringFrame(0x10, "abc"));
    const QString path = this->path(QStringLiteral("binary.csv"));
    startLog(path);
    feed(stringFrame(0x10, "abc"));
    feed(packetFrame(0x10, 6, std::string("\x01\x02", 2)));
    feed(floatFrame(0x10, 5.0f));
    stopLog();
    const QStringList rows = lines(path);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].section(QLatin1Char(','), 1, 1), QStringLiteral("5"));
}

TEST_F(Logging, TheLogHoldsTheFullOffsetCorrectedValueNotTheRoundedDisplay) {
    open();
    feed(floatFrame(0x10, 12.5f));  // two whole digits, three decimals
    feed(floatFrame(0x10, 0.1f));
    Q_EMIT button("CBZERO")->Click();  // the offset: 0.1 as a single
    const QString path = this->path(QStringLiteral("net.csv"));
    startLog(path);
    feed(floatFrame(0x10, 1.1f));
    stopLog();
    EXPECT_EQ(control<lyx::controls::eLCD>(*window, "eLCD1")->caption(), QStringLiteral(" 01.000"));
    const QStringList rows = lines(path);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[1].section(QLatin1Char(','), 1, 1), QStringLiteral("0.999999998509884"));
}

TEST_F(Logging, AFileThatCannotBeCreatedLeavesLoggingOff) {
    open();
    feed(floatFrame(0x10, 1.0f));
    const QString path = this->path(QStringLiteral("blocked.csv"));
    whenModal<QFileDialog>([path](QFileDialog *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        pressSave(dialog);
        // Chosen, then taken by a folder of that name before the program creates it.
        QDir().mkpath(path);
    });
    Q_EMIT button("CBLOG")->Click();
    EXPECT_FALSE(window->program().loggingActive);
    EXPECT_TRUE(shown("CBLOG"));
    EXPECT_FALSE(shown("CBSTOPLOG"));
    EXPECT_TRUE(boxes_.shown.empty()) << "no message";
}

TEST_F(Logging, RowsReachTheFileWithinASecondWhileLoggingRuns) {
    open();
    feed(floatFrame(0x10, 1.0f));
    const QString path = this->path(QStringLiteral("live.csv"));
    startLog(path);
    for (int i = 0; i < 20; ++i)
        feed(floatFrame(0x10, float(i)));
    // Still logging: the rows are in the file once the program has handed them over.
    EXPECT_TRUE(QTest::qWaitFor([&] { return lines(path).size() == 21; }, 2500));
    EXPECT_TRUE(window->program().loggingActive);
}

TEST_F(Logging, ClosingTheWindowClosesTheLog) {
    open();
    feed(floatFrame(0x10, 1.0f));
    const QString path = this->path(QStringLiteral("shutdown.csv"));
    startLog(path);
    feed(floatFrame(0x10, 4.0f));
    closeWindow(*window);
    EXPECT_FALSE(window->program().loggingActive);
    EXPECT_FALSE(window->fileModule()->isOpen());
    EXPECT_EQ(lines(path).size(), 2);
    window.reset();
}
