#include "SpecialFolders.h"

#include "LyxPlatform.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace lyx::viewer {

namespace {

QString configHome() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return QDir::cleanPath(xdg);
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) return {};
    return QDir::cleanPath(home + QStringLiteral("/.config"));
}

// The reason a folder could not be made, in the words the message shows.
QString describe(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return QStringLiteral("Path not found");
        case ENOSPC:
        case EDQUOT:
            return QStringLiteral("Disk full");
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
}

}  // namespace

QString GetSpecialFolder(int csidl) {
    if (csidl != CSIDL_LOCAL_APPDATA) return {};
    const QString folder = configHome();
    if (folder.isEmpty()) return {};
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) return {};
    return folder.trimmed();
}

void CreateFolder(const QString &path) {
    if (path.isEmpty() || QFileInfo::exists(path)) return;
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0) return;
    const int error = errno;
    // An access error (the folder exists, a file has its name, no permission) is not
    // reported: the program then simply cannot keep its settings.
    if (error == EEXIST || error == EACCES || error == EPERM || error == EROFS) return;
    const QString text = QStringLiteral("Error ") + describe(error) +
                         QStringLiteral(" while attempting to create folder: ") + path;
    LyxMessageBox(text.toUtf8().constData(), "Error", LYX_MB_OK | LYX_MB_ICONERROR);
}

}  // namespace lyx::viewer
