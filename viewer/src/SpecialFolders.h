#pragma once

#include <QString>

namespace lyx::viewer {

/// The per-user folder for a program's own settings and data.
inline constexpr int CSIDL_LOCAL_APPDATA = 28;

/// The path of a special folder, or empty text when it cannot be had. CSIDL_LOCAL_APPDATA is
/// $XDG_CONFIG_HOME when that is an absolute path, else ~/.config; it is made when missing,
/// and is empty when it cannot be made (or no home folder is known). Other folders are
/// empty.
QString GetSpecialFolder(int csidl);

/// Makes the folder `path` when it does not exist. A failure other than an access error (no
/// permission, a file of that name) is reported in a critical message box titled "Error":
/// "Error <reason> while attempting to create folder: <path>". The program carries on either
/// way.
void CreateFolder(const QString &path);

}  // namespace lyx::viewer
