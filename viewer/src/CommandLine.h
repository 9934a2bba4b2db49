#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

class QCommandLineParser;

namespace lyx::viewer {

/// Whether the command line asks for the min/max ("delta") display: the five letters "delta"
/// anywhere in it, in any letter case, also inside another word.
bool hasDeltaSwitch(const QString &commandLine);

/// The program's command line: the arguments after the program name.
struct CommandLine {
    bool ok = true;  ///< false: `error` says what is wrong
    QString error;
    bool help = false;          ///< --help / -h
    bool version = false;       ///< --version / -v
    std::int16_t port = 0;      ///< --port N: a serial base station on port N (1 to 255)
    std::int32_t baudRate = 0;  ///< --baud RATE, 115200 for a serial port when not given
    QString text;               ///< the arguments as one text, for the "delta" switch
};

/// Reads the arguments after the program name. Other words are kept for the "delta" switch.
/// An option that is neither the viewer's, nor Qt's own (-platform, -style, ...), nor holds
/// the switch (as "-delta" does) is an error.
CommandLine parseCommandLine(const QStringList &arguments);

/// Describes the options to `parser`, which prints --help and --version in the usual form.
void describeOptions(QCommandLineParser &parser);

}  // namespace lyx::viewer
