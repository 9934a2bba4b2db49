// The main window's start-up and shutdown: configuration, the component and the link.

#include "AppIcon.h"
#include "CommandLine.h"
#include "FileModule.h"
#include "INIFileModule.h"
#include "MainFrm.h"
#include "MessagePump.h"
#include "MinFormSizeModule.h"
#include "PacketSink.h"
#include "PictureBox.h"
#include "SpecialFolders.h"
#include "StoredNumbers.h"

#include "LyxPlatform.h"
#include "lyx/controls/eLCDText.h"
#include "lyx/platform/activation.hpp"
#include "lyx/platform/events.hpp"
#include "lyx/ports/serial_ports.hpp"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QTimer>

#include <chrono>
#include <thread>

namespace lyx::viewer {

using dataprovider::IDataProvider;
using dataprovider::IDataProviderEvents;

namespace {

const QString kSettings = QStringLiteral("Settings");

// The window's place and size in twips when config.ini holds none.
constexpr double kDefaultLeft = 0;
constexpr double kDefaultTop = 0;
constexpr double kDefaultWidth = 12000;
constexpr double kDefaultHeight = 6500;

void messageBox(const QString &text, const QString &caption, std::uint32_t flags) {
    LyxMessageBox(text.toUtf8().constData(), caption.toUtf8().constData(), flags);
}

}  // namespace

QString MainFrm::serialPortReason(std::int16_t opened, const QString &raised) const {
    if (!raised.isEmpty()) return raised;
    // -1: the port opened but refused the rate; otherwise the port itself is the problem.
    if (opened == -1)
        return QStringLiteral("Serial port COM%1 does not take %2 baud.")
            .arg(options_.port)
            .arg(options_.baudRate);
    QString reason = QString::fromStdString(ports::serialPortProblem(options_.port));
    if (!reason.isEmpty()) reason[0] = reason[0].toUpper();
    return reason + QLatin1Char('.');
}

MainFrm::LoadResult MainFrm::load() {
    // 1. The timers already have a millisecond resolution here.

    // 2. The locale's decimal separator: the second character of 1 written as "0.0".
    program_.decimalSeparator = QLocale().toString(1.0, 'f', 1).mid(1, 1);

    // 3. to 5. config.ini lives in the per-user folder of the program, or beside the program
    // when there is no such folder.
    const QString programFolder = options_.programFolder.isEmpty()
                                      ? QCoreApplication::applicationDirPath()
                                      : options_.programFolder;
    program_.iniPath = programFolder + QStringLiteral("/config.ini");
    const QString userFolder = GetSpecialFolder(CSIDL_LOCAL_APPDATA);
    program_.dataFolder = userFolder.isEmpty()
                              ? programFolder
                              : userFolder + QLatin1Char('/') + options_.executableName;
    CreateFolder(program_.dataFolder);
    program_.iniPath = program_.dataFolder + QStringLiteral("/config.ini");
    log_ = std::make_unique<FileModule>(program_, programFolder,
                                        FileModule::Buttons{CBLOG, CBSTOPLOG, CBVIEW});

    // The names and units of the modules in "All modules".
    applyTagFile();

    // 6. to 9.
    scale_.totalDigits = 5;
    applyStoredGeometry();
    applyDeltaSwitch();
    SetAppIcon(this, QStringLiteral("AAA"), true);
    sectimer->start();
    KeepAwakeTimer->start();

    // 10. and 11. The component, through activation by its class identifier.
    QString failure;
    if (!createComponent(failure)) {
        sectimer->stop();
        KeepAwakeTimer->stop();
        messageBox(QStringLiteral("Cannot find LyxDataProviderCOM.DLL or DLL is not registered!") +
                       QStringLiteral("\r\n") + failure,
                   options_.executableName, LYX_MB_OK | LYX_MB_ICONERROR);
        return LoadResult::Ended;
    }
    loaded_ = true;

    // 12. The link: the USB base stations, or the serial port asked for.
    std::int16_t opened = -1;
    QString raised;
    try {
        opened = DP->Initialise(options_.port, options_.baudRate);
    } catch (const platform::AutomationError &e) {
        opened = -1;
        raised = QString::fromStdString(e.description());
    }
    if (opened != 0) {
        QString text = options_.port == 0
                           ? QStringLiteral("Cannot open USB interface")
                           : QStringLiteral("Cannot open serial port COM%1").arg(options_.port);
        if (options_.port != 0) text += QStringLiteral("\r\n") + serialPortReason(opened, raised);
        messageBox(text, QStringLiteral("Lyx Glance"), LYX_MB_OK);
        runShutdown();
        close();
        return LoadResult::Closed;
    }

    // 13. The base station's radio channel.
    const int channel = readChannel();
    showChannel(channel);
    if (channel == 0) {
        messageBox(QStringLiteral("Could not detect the base station!\r\nThis program only works "
                                  "with a USB base station so ensure that the base station is "
                                  "plugged in and restart the program."),
                   QStringLiteral("No Base Station"), LYX_MB_OK | LYX_MB_ICONERROR);
    }

    // 14. and 15.
    scale_.integerDigits = 0;
    scale_.decimalPlaces = 0;
    LCDBottom->setBorderStyle(0);
    ChartPanel->setBorderStyle(0);
    BottomPanel->setBorderStyle(0);
    const QScreen *display = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (display != nullptr) ChartPanel->resize(display->geometry().width(), ChartPanel->height());

    // 16. to 19. The first search, the layout and the smallest size.
    btnSearch_Click();
    eLCDContainer1_Resize();
    SetMinFormSize(this, 800, 432);
    // The chart's scale and the module list as the last run left them.
    applyStoredModules();
    return LoadResult::Running;
}

bool MainFrm::createComponent(QString &failure) {
    try {
        DP = platform::createInstance<IDataProvider>(dataprovider::kClassId);
        if (!DP) throw platform::AutomationError(platform::errors::kNoInterface, "No interface");
        pump_ = new MessagePump(this);
        sink_ = platform::makeObject<PacketSink>([this](std::uint8_t &station, std::int32_t &tag,
                                                        std::string &value, std::uint8_t &status,
                                                        std::int16_t &rssi, std::int16_t &cv,
                                                        bool &battLow, bool &error) {
            DP_PacketArrived(station, tag, value, status, rssi, cv, battLow, error);
        });
        auto events = DP.query<platform::EventSource>();
        if (!events)
            throw platform::AutomationError(platform::errors::kNoInterface,
                                            "The component raises no events");
        sinkCookie_ = events->advise(IDataProviderEvents::iid, *sink_);
        const float com = DP->get_Version();
        const float dll = DP->get_DLLVersion();
        const QLocale locale;
        const QString versions =
            QStringLiteral("App: %1.%2.%3 | Drv COM: %4 | Drv DLL: %5")
                .arg(LYXGLANCE_VERSION_MAJOR)
                .arg(LYXGLANCE_VERSION_MINOR)
                .arg(LYXGLANCE_VERSION_PATCH)
                .arg(locale.toString(com, 'f', 1), locale.toString(dll, 'f', 1));
        VersionLabel->setCaption(versions);
        VersionLabel->setToolTip(versions);
        Form_Resize();  // the label keeps its place at the right
        return true;
    } catch (const platform::AutomationError &e) {
        failure = QString::fromStdString(e.description());
    } catch (const std::exception &e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    if (sink_) sink_->detach();
    sink_.reset();
    DP.reset();
    return false;
}

void MainFrm::applyStoredGeometry() {
    const auto stored = [this](const char *key, double fallback) {
        const QString text = ReadIniString(program_.iniPath, kSettings, QString::fromLatin1(key),
                                           storedNumberText(fallback));
        return storedNumberValue(text);
    };
    const double left = stored("Left", kDefaultLeft);
    const double top = stored("Top", kDefaultTop);
    const double width = stored("Width", kDefaultWidth);
    const double height = stored("Height", kDefaultHeight);
    // The stored place and size are the window's outside, its frame included.
    move(pixelsX(left), pixelsY(top));
    const QSize outer(pixelsX(width), pixelsY(height));
    resize(outer);
    pendingOuterSize_ = outer;
}

void MainFrm::applyDeltaSwitch() {
    if (hasDeltaSwitch(options_.commandLine)) mmmode->setVisible(true);
}

void MainFrm::closeEvent(QCloseEvent *event) {
    // The shutdown cannot be cancelled.
    if (!shutDown_) runShutdown();
    event->accept();
}

void MainFrm::runShutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    // 1. Logging stops and its file is closed.
    program_.loggingActive = false;
    if (log_) log_->close();
    // 2.
    NoCommsTimer->stop();
    sectimer->stop();
    KeepAwakeTimer->stop();
    if (!loaded_) return;
    // 3. to 6. The link is closed, then the component is given a second before it goes.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    if (DP) {
        try {
            DP->Terminate();
        } catch (const platform::AutomationError &) {
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (sink_) {
            sink_->detach();
            if (auto events = DP.query<platform::EventSource>()) {
                try {
                    events->unadvise(IDataProviderEvents::iid, sinkCookie_);
                } catch (const platform::AutomationError &) {
                }
            }
            sink_.reset();
        }
        DP.reset();
    }
    delete pump_;
    pump_ = nullptr;
    // The module list's place, size, sort and whether it is open.
    storeModules();
    // 7. The place and size, only from the normal window state.
    if (!(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        storeGeometry();
    // 8. and 9.
    QGuiApplication::restoreOverrideCursor();
}

void MainFrm::storeGeometry() {
    const QRect outer = frameGeometry();
    const auto write = [this](const char *key, double twips) {
        WriteIniString(program_.iniPath, kSettings, QString::fromLatin1(key),
                       storedNumberText(twips));
    };
    write("Left", twipsX(outer.x()));
    write("Top", twipsY(outer.y()));
    write("Width", twipsX(outer.width()));
    write("Height", twipsY(outer.height()));
}

}  // namespace lyx::viewer
