#include "INIFileModule.h"

#include "lyx/platform/profile.hpp"

#include <QFileInfo>

namespace lyx::viewer {

QString ReadIniString(const QString &file, const QString &section, const QString &key,
                      const QString &defaultValue) {
    const std::string value = platform::getPrivateProfileString(
        section.toStdString(), key.toStdString(), "", file.toStdString());
    // A missing key and an empty value both give the default.
    if (value.empty()) return defaultValue;
    return QString::fromStdString(value);
}

bool WriteIniString(const QString &file, const QString &section, const QString &key,
                    const QString &value) {
    // The profile writer would make a missing folder; the viewer's folder is made once at
    // start-up, and where that failed the writes fail too rather than appear elsewhere.
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir()) return false;
    const std::string text = value.toStdString();
    return platform::writePrivateProfileString(section.toStdString(), key.toStdString(),
                                               std::string_view(text), file.toStdString());
}

}  // namespace lyx::viewer
