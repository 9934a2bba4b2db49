#pragma once

#include <QString>

namespace lyx::viewer {

/// The value of `key` in `section` of the profile file `file`, or `defaultValue` when the key,
/// its section or the file is missing, or the value is empty. Values are read whole, however
/// long (a long log folder must not come back cut off).
QString ReadIniString(const QString &file, const QString &section, const QString &key,
                      const QString &defaultValue);

/// Writes `value` under `key` in `section`, creating the file (not its folder) when needed.
/// True when the file was written.
bool WriteIniString(const QString &file, const QString &section, const QString &key,
                    const QString &value);

}  // namespace lyx::viewer
