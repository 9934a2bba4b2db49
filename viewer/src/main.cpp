// LyxGlance: the viewer of the telemetry network. Follows one acquisition module and shows
// its value, trend and status; logs it; pairs with and commands modules.

#include "Accessibility.h"
#include "CommandLine.h"
#include "MainFrm.h"
#include "MessageBoxHost.h"
#include "QuitSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("LyxGlance"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(LYXGLANCE_VERSION_MAJOR)
                                            .arg(LYXGLANCE_VERSION_MINOR)
                                            .arg(LYXGLANCE_VERSION_PATCH));
    QApplication::setDesktopFileName(QStringLiteral("lyxglance"));

    QStringList arguments = QApplication::arguments();
    const QString program =
        arguments.isEmpty() ? QStringLiteral("LyxGlance") : arguments.takeFirst();
    const lyx::viewer::CommandLine line = lyx::viewer::parseCommandLine(arguments);
    if (line.help || line.version) {
        QCommandLineParser parser;
        lyx::viewer::describeOptions(parser);
        parser.parse(QApplication::arguments());
        if (line.help) parser.showHelp(0);
        parser.showVersion();
    }
    if (!line.ok) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QFileInfo(program).fileName()),
                     qPrintable(line.error));
        return 2;
    }

    lyx::viewer::installQtMessageBoxes();
    lyx::viewer::accessibility::install();

    lyx::viewer::StartupOptions options;
    options.executableName = QFileInfo(program).completeBaseName();
    if (options.executableName.isEmpty()) options.executableName = QStringLiteral("LyxGlance");
    options.commandLine = line.text;
    options.port = line.port;
    options.baudRate = line.baudRate;

    lyx::viewer::MainFrm window(options);
    switch (window.load()) {
        case lyx::viewer::MainFrm::LoadResult::Ended:
            return 1;  // the component is missing: nothing was started, nothing is saved
        case lyx::viewer::MainFrm::LoadResult::Closed:
            return 1;  // the link could not be opened; the window has shut down
        case lyx::viewer::MainFrm::LoadResult::Running:
            break;
    }
    // Ended by a signal, the window closes as if the user closed it.
    lyx::viewer::QuitSignals quit([&window] { window.close(); });
    window.show();
    return QApplication::exec();
}
