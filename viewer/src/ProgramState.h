#pragma once

#include <QString>

#include <cstdint>

namespace lyx::viewer {

/// What the whole program shares: where its settings live, the locale's separators and the
/// state of CSV logging. One instance, held by the main window.
struct ProgramState {
    QString iniPath;           ///< full path of config.ini
    QString dataFolder;        ///< the per-user data folder of the program
    QString decimalSeparator;  ///< the user's locale's decimal separator, "." or ","
    QString fieldSeparator;    ///< the CSV field separator, "," or ";"
    bool loggingActive = false;
    std::uint32_t logStartTime = 0;  ///< tick count when logging started, milliseconds
};

}  // namespace lyx::viewer
