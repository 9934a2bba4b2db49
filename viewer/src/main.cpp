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

namespace {

void nameTheApplication() {
    QCoreApplication::setApplicationName(QStringLiteral("LyxGlance"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(LYXGLANCE_VERSION_MAJOR)
                                                .arg(LYXGLANCE_VERSION_MINOR)
                                                .arg(LYXGLANCE_VERSION_PATCH));
}

}  // namespace

int main(int argc, char **argv) {
    // The command line first: --help, --version and a bad option need no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString program = QString::fromLocal8Bit(argc > 0 ? argv[0] : "LyxGlance");
    const lyx::viewer::CommandLine line = lyx::viewer::parseCommandLine(arguments);
    if (line.help || line.version || !line.ok) {
        QCoreApplication console(argc, argv);
        nameTheApplication();
        if (!line.ok) {
            const QString name = QFileInfo(program).fileName();
            std::fprintf(stderr,
                         "%s: %s\nUsage: %s [--port N [--baud RATE]] [delta]\n"
                         "Try '%s --help' for more.\n",
                         qPrintable(name), qPrintable(line.error), qPrintable(name),
                         qPrintable(name));
            return 2;
        }
        QCommandLineParser parser;
        lyx::viewer::describeOptions(parser);
        parser.parse(QCoreApplication::arguments());
        if (line.help) parser.showHelp(0);
        parser.showVersion();
    }

    QApplication app(argc, argv);
    nameTheApplication();
    QApplication::setDesktopFileName(QStringLiteral("lyxglance"));

    lyx::viewer::installQtMessageBoxes();
    lyx::viewer::accessibility::install();

    lyx::viewer::StartupOptions options;
    options.executableName = QFileInfo(program).completeBaseName();
    if (options.executableName.isEmpty()) options.executableName = QStringLiteral("LyxGlance");
    options.commandLine = line.text;
    options.port = line.port;
    options.baudRate = line.baudRate;

    lyx::viewer::MainFrm window(options);
    // Ended by a signal, the window closes as if the user closed it. A signal during the
    // start-up (while one of its message boxes waits) closes the box; the program then ends
    // as at a normal close once the start-up is over.
    bool started = false;
    bool quitAsked = false;
    lyx::viewer::QuitSignals quit([&] {
        const bool modal = QApplication::activeModalWidget() != nullptr;
        lyx::viewer::dismissModalWindows();
        if (!started) {
            quitAsked = true;
        } else if (modal) {
            // After the dialog's own loop has returned to its caller.
            QMetaObject::invokeMethod(
                &window, [&window] { window.close(); }, Qt::QueuedConnection);
        } else {
            window.close();
        }
    });
    switch (window.load()) {
        case lyx::viewer::MainFrm::LoadResult::Ended:
            return 1;  // the component is missing: nothing was started, nothing is saved
        case lyx::viewer::MainFrm::LoadResult::Closed:
            return 1;  // the link could not be opened; the window has shut down
        case lyx::viewer::MainFrm::LoadResult::Running:
            break;
    }
    started = true;
    if (quitAsked) {
        window.close();
        return 0;
    }
    window.show();
    return QApplication::exec();
}
