#include "FileModule.h"

#include "ButtonStates.h"

#include "FileDialogModule.h"
#include "INIFileModule.h"
#include "LogRows.h"
#include "TimeModule.h"

#include "LyxPlatform.h"
#include "lyx/controls/ImageButton.h"
#include "lyx/platform/clock.hpp"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lyx::viewer {

namespace {

const QString kFiles = QStringLiteral("Files");
const QString kLogInitDir = QStringLiteral("LogInitDir");
const QString kLogInitFile = QStringLiteral("LogInitFile");
constexpr int kFlushIntervalMs = 1000;

void show(controls::ImageButton *button, bool visible) {
    if (button != nullptr) button->setVisible(visible);
}

}  // namespace

QString FileModule::defaultFolder() const {
    // Not the program's folder: installed, that is /usr/bin, where a user cannot write.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
    const QString home = QDir::homePath();
    if (!home.isEmpty() && home != QDir::rootPath() && QFileInfo(home).isDir()) return home;
    return programFolder_;
}

FileModule::FileModule(ProgramState &state, QString programFolder, Buttons buttons, QObject *parent)
    : QObject(parent), state_(state), programFolder_(std::move(programFolder)), buttons_(buttons) {
    flushTimer_.setInterval(kFlushIntervalMs);
    connect(&flushTimer_, &QTimer::timeout, this, &FileModule::flush);
}

FileModule::~FileModule() {
    close();
}

void FileModule::ToggleLogging(QWidget *owner, const QString &defaultName) {
    if (state_.loggingActive) {
        stopLogging();
        return;
    }
    const QString path = ChooseLogFile(owner, defaultName);
    if (path.isEmpty()) return;
    startLogging(path);  // a file that cannot be created leaves logging off, silently
}

bool FileModule::startLogging(const QString &path) {
    state_.fieldSeparator = fieldSeparatorFor(state_.decimalSeparator);
    if (!start(path)) return false;
    state_.loggingActive = true;
    show(buttons_.log, false);
    show(buttons_.stopLog, true);
    state_.logStartTime = platform::tickCount();
    return true;
}

void FileModule::stopLogging() {
    show(buttons_.log, true);
    show(buttons_.stopLog, false);
    stop();
    if (buttons_.view != nullptr) enableButton(buttons_.view, true);
}

QString FileModule::ChooseLogFile(QWidget *owner, const QString &defaultName) {
    QString folder = ReadIniString(state_.iniPath, kFiles, kLogInitDir, defaultFolder());
    QString name = !defaultName.isEmpty() ? defaultName
                                          : ReadIniString(state_.iniPath, kFiles, kLogInitFile,
                                                          QStringLiteral("*.csv"));
    // "All Files" is "*" here: a pattern "*.*" would hide the files without an extension.
    const QString path = ShowSaveDialog(
        owner, {QStringLiteral("CSV Files (*.csv)"), QStringLiteral("All Files (*)")},
        QStringLiteral("lxf"), folder, QStringLiteral("Log File"), name, true);
    WriteIniString(state_.iniPath, kFiles, kLogInitFile, name);
    WriteIniString(state_.iniPath, kFiles, kLogInitDir, folder);
    return path;
}

void FileModule::ViewLog() {
    const QString folder = ReadIniString(state_.iniPath, kFiles, kLogInitDir, defaultFolder());
    const QString name = ReadIniString(state_.iniPath, kFiles, kLogInitFile, QString());
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder + QLatin1Char('/') + name));
}

bool FileModule::start(const QString &path) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray header = encoding_.encode(logHeader(state_.fieldSeparator));
    if (file->write(header) != header.size() || !file->flush()) {
        file->close();
        return false;
    }
    file_ = std::move(file);
    stamper_ = std::make_unique<TimeStamper>();
    flushTimer_.start();
    return true;
}

void FileModule::writeRow(const QString &value) {
    if (!file_) return;
    // The tick first, then the row.
    const auto elapsed = static_cast<std::int32_t>(platform::tickCount() - state_.logStartTime);
    const QByteArray row = encoding_.encode(
        logRow(elapsed, value, stamper_->stamp(), state_.fieldSeparator, state_.decimalSeparator));
    if (file_->write(row) != row.size()) writeFailed();
}

void FileModule::flush() {
    if (file_ && !file_->flush()) writeFailed();
}

void FileModule::stop() {
    state_.loggingActive = false;
    flushTimer_.stop();
    if (!file_) return;
    // The rows of the last second are handed over and synced now: where that
    // fails (a full disk, a removed network share) the end of the log is lost,
    // which is said as for a failed write while logging.
    const QString path = file_->fileName();
    QString reason;
    if (!file_->flush()) {
        reason = file_->errorString();
    } else if (::fsync(file_->handle()) != 0) {
        reason = QString::fromLocal8Bit(std::strerror(errno));
    }
    file_->close();
    file_.reset();
    if (!reason.isEmpty()) showWriteFailure(path, reason);
}

void FileModule::close() {
    stop();
}

namespace {

QByteArray writeFailureText(const QString &path, const QString &reason) {
    return (QStringLiteral("Logging stopped: the log file could not be written.\r\n") + path +
            QStringLiteral("\r\n") + reason)
        .toUtf8();
}

}  // namespace

void FileModule::showWriteFailure(const QString &path, const QString &reason) {
    LyxMessageBox(writeFailureText(path, reason).constData(), "Log File",
                  LYX_MB_OK | LYX_MB_ICONWARNING);
}

void FileModule::writeFailed() {
    const QString path = file_ ? file_->fileName() : QString();
    const QString reason = file_ ? file_->errorString() : QString();
    if (file_) file_->close();  // what could not be written is gone; keep nothing half-open
    file_.reset();
    stopLogging();
    // Said once the packet handler that wrote the row has returned, so that the driver's
    // frame delivery does not wait behind the message box.
    QTimer::singleShot(0, this, [path, reason] { showWriteFailure(path, reason); });
}

}  // namespace lyx::viewer
