#pragma once

#include "LocaleEncoding.h"
#include "ProgramState.h"
#include "TimeModule.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QWidget;

namespace lyx::controls {
class ImageButton;
}

namespace lyx::viewer {

/// CSV logging of the followed module's values: choosing the file, starting and stopping,
/// writing the rows, opening the last log.
///
/// Rows are written as they come and handed to the system at least once a second (and when
/// logging stops or the program ends), so a crash of the program loses at most the last
/// second. The text is in the locale's character set (LocaleEncoding). A file that cannot be
/// created leaves logging off; one that cannot be written any more (a full disk) stops it,
/// with a message, and so does a last flush or sync that fails when logging stops (by the
/// button or at shutdown).
///
/// Settings: section "Files" of config.ini, "LogInitDir" (folder of the last chosen file;
/// without it the user's documents folder, else the home folder) and "LogInitFile" (its
/// name). Log rows are CSV: a field holding the separator is quoted (LogRows.h).
class FileModule : public QObject {
    Q_OBJECT
  public:
    struct Buttons {
        controls::ImageButton *log = nullptr;      ///< shown while logging is off
        controls::ImageButton *stopLog = nullptr;  ///< shown while it is on
        controls::ImageButton *view = nullptr;     ///< enabled once a log was stopped
    };

    FileModule(ProgramState &state, QString programFolder, Buttons buttons,
               QObject *parent = nullptr);
    ~FileModule() override;

    /// Starts logging when it is off (the user chooses the file, `defaultName` proposed),
    /// stops it when it is on.
    void ToggleLogging(QWidget *owner, const QString &defaultName);

    /// Starts logging to `path` (created new or overwritten) without asking; false, logging
    /// staying off, when the file cannot be created.
    bool startLogging(const QString &path);
    /// Stops logging and closes the file.
    void stopLogging();

    /// The save dialog for a log file; the chosen path, or empty text when cancelled. The
    /// "Files" settings are written either way (the proposed name when cancelled).
    QString ChooseLogFile(QWidget *owner, const QString &defaultName);

    /// Opens the last log file with the desktop's program for it. Its result is not examined.
    void ViewLog();

    /// Writes one row for `value` (the offset-corrected value text), timed now.
    void writeRow(const QString &value);

    /// Stops logging, if on, without touching the buttons (the program is ending).
    void close();

    bool isOpen() const { return file_ != nullptr; }
    QString path() const { return file_ ? file_->fileName() : QString(); }
    const LocaleEncoding &encoding() const { return encoding_; }

  private:
    /// The folder proposed when config.ini names none: the documents folder (XDG) where it
    /// exists, else the home folder, else the program's folder.
    QString defaultFolder() const;
    bool start(const QString &path);
    void stop();
    void flush();
    void writeFailed();
    /// The warning that rows were lost: the file's path and the system's reason.
    static void showWriteFailure(const QString &path, const QString &reason);

    ProgramState &state_;
    QString programFolder_;
    Buttons buttons_;
    LocaleEncoding encoding_;
    std::unique_ptr<QFile> file_;
    std::unique_ptr<TimeStamper> stamper_;  ///< in the locale of the log started
    QTimer flushTimer_;
};

}  // namespace lyx::viewer
