#include "CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace lyx::viewer {

namespace {

constexpr std::int32_t kDefaultSerialBaudRate = 115200;

// Qt's own options, which QApplication takes off the command line: with a value, and flags.
const char *const kQtOptionsWithValue[] = {"platform",        "platformpluginpath",
                                           "platformtheme",   "plugin",
                                           "display",         "geometry",
                                           "qwindowgeometry", "qwindowtitle",
                                           "qwindowicon",     "style",
                                           "stylesheet",      "session",
                                           "title",           "name",
                                           "qmljsdebugger"};
const char *const kQtFlags[] = {"reverse", "widgetcount", "sync", "nograb", "dograb"};

// "platform" for "-platform" and "--platform"; empty for a word that is no option.
QString optionName(const QString &word) {
    if (word.size() < 2 || word[0] != QLatin1Char('-')) return {};
    QString name = word.mid(word.startsWith(QLatin1String("--")) ? 2 : 1);
    return name.section(QLatin1Char('='), 0, 0);
}

bool isOneOf(const QString &name, const auto &list) {
    for (const char *known : list)
        if (name == QLatin1String(known)) return true;
    return false;
}

bool readNumber(const QString &text, long long low, long long high, long long &value) {
    bool ok = false;
    value = text.toLongLong(&ok, 10);
    return ok && value >= low && value <= high;
}

}  // namespace

bool hasDeltaSwitch(const QString &commandLine) {
    return commandLine.toLower().contains(QLatin1String("delta"));
}

CommandLine parseCommandLine(const QStringList &arguments) {
    CommandLine line;
    line.text = arguments.join(QLatin1Char(' '));
    bool baudGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        QString name = a;
        QString value;
        bool inlineValue = false;
        if (a.startsWith(QLatin1String("--")) && a.contains(QLatin1Char('='))) {
            name = a.section(QLatin1Char('='), 0, 0);
            value = a.section(QLatin1Char('='), 1);
            inlineValue = true;
        }
        if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
            name == QLatin1String("--help-all")) {
            line.help = true;
        } else if (name == QLatin1String("--version") || name == QLatin1String("-v")) {
            line.version = true;
        } else if (name == QLatin1String("--port") || name == QLatin1String("--baud")) {
            if (!inlineValue) {
                if (i + 1 >= arguments.size()) {
                    line.ok = false;
                    line.error = QStringLiteral("Missing value after \"%1\".").arg(name);
                    return line;
                }
                value = arguments[++i];
            }
            long long number = 0;
            if (name == QLatin1String("--port")) {
                if (!readNumber(value, 1, 255, number)) {
                    line.ok = false;
                    line.error = QStringLiteral("Invalid port \"%1\": give a number from 1 to 255.")
                                     .arg(value);
                    return line;
                }
                line.port = static_cast<std::int16_t>(number);
            } else {
                if (!readNumber(value, 1, 4000000, number)) {
                    line.ok = false;
                    line.error = QStringLiteral(
                                     "Invalid baud rate \"%1\": give a number of bits per second.")
                                     .arg(value);
                    return line;
                }
                line.baudRate = static_cast<std::int32_t>(number);
                baudGiven = true;
            }
        } else if (const QString option = optionName(a); !option.isEmpty()) {
            // Any other option must be Qt's or hold the "delta" switch ("-delta").
            if (hasDeltaSwitch(a) || isOneOf(option, kQtFlags)) continue;
            if (isOneOf(option, kQtOptionsWithValue)) {
                if (!a.contains(QLatin1Char('='))) ++i;  // its value
                continue;
            }
            line.ok = false;
            line.error = QStringLiteral("Unknown option \"%1\".").arg(name);
            return line;
        }
    }
    if (line.port == 0) {
        line.baudRate = 0;  // the USB base stations take no rate
    } else if (!baudGiven) {
        line.baudRate = kDefaultSerialBaudRate;
    }
    return line;
}

void describeOptions(QCommandLineParser &parser) {
    parser.setApplicationDescription(
        QStringLiteral("Shows the value of one acquisition module of the telemetry network, "
                       "received through the USB base stations or a serial one, with its "
                       "trend, and logs it to a CSV file."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        QStringLiteral("port"),
        QStringLiteral("Use the serial base station on port <N> (COM<N>, 1 to 255) instead of "
                       "the USB base stations."),
        QStringLiteral("N")));
    parser.addOption(QCommandLineOption(QStringLiteral("baud"),
                                        QStringLiteral("Its baud rate (default 115200)."),
                                        QStringLiteral("RATE")));
    parser.addPositionalArgument(
        QStringLiteral("delta"),
        QStringLiteral("Anywhere on the command line, in any case: offer the min/max display "
                       "(the spread of the values seen)."),
        QStringLiteral("[delta]"));
}

}  // namespace lyx::viewer
