// The real main window's start-up, configuration and shutdown, against the component (found
// through activation) and a simulated USB base station.

#include "ViewerFixture.h"

#include "INIFileModule.h"
#include "PictureBox.h"

#include "LyxPlatform.h"
#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDContainer.h"
#include "lyx/controls/eLCDText.h"
#include "lyx/platform/profile.hpp"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QTest>

using namespace lyx::viewer;
using namespace lyx::viewer::testing;
using lyx::controls::eLCD;
using lyx::controls::eLCDContainer;
using lyx::controls::eLCDText;
using lyx::controls::ImageButton;

namespace {

QString setting(const QString &file, const char *key) {
    return ReadIniString(file, QStringLiteral("Settings"), QString::fromLatin1(key),
                         QStringLiteral("<none>"));
}

class Startup : public ViewerTest {
  protected:
    void SetUp() override {
        registerComponent();
        addUsbStation(1);
    }
};

}  // namespace

TEST_F(Startup, FirstRunOpensAtTheDefaultPlaceAndANormalCloseStoresIt) {
    ASSERT_FALSE(QFile::exists(iniFile()));
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_EQ(window->logicalDpiX(), 96);
    // 12000 by 6500 twips at 15 twips a pixel.
    EXPECT_EQ(window->frameGeometry(), QRect(0, 0, 800, 433));
    EXPECT_EQ(window->program().iniPath, iniFile());
    EXPECT_TRUE(boxes_.shown.empty());

    closeWindow(*window);
    EXPECT_EQ(setting(iniFile(), "Left"), QStringLiteral("0"));
    EXPECT_EQ(setting(iniFile(), "Top"), QStringLiteral("0"));
    EXPECT_EQ(setting(iniFile(), "Width"), QStringLiteral("12000"));
    // 433 whole pixels are 6495 twips.
    EXPECT_EQ(setting(iniFile(), "Height"), QStringLiteral("6495"));
}

TEST_F(Startup, StoredPlaceIsUsedAndKeptWhenClosingMaximisedOrMinimised) {
    QDir().mkpath(QFileInfo(iniFile()).path());
    for (auto [key, value] :
         {std::pair{"Left", "1500"}, {"Top", "750"}, {"Width", "13500"}, {"Height", "7500"}})
        ASSERT_TRUE(WriteIniString(iniFile(), QStringLiteral("Settings"), QString::fromLatin1(key),
                                   QString::fromLatin1(value)));
    QFile file(iniFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    for (Qt::WindowState state : {Qt::WindowMaximized, Qt::WindowMinimized}) {
        auto window = makeWindow();
        ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
        EXPECT_EQ(window->frameGeometry(), QRect(100, 50, 900, 500));
        window->show();
        window->setWindowState(state);
        QTest::qWait(50);
        if (state == Qt::WindowMaximized) {
            EXPECT_NE(window->frameGeometry(), QRect(100, 50, 900, 500));
        }
        closeWindow(*window);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), before) << "closed in state " << int(state);
        file.close();
    }
}

TEST_F(Startup, TheDeltaSwitchIsFoundInAnyCaseAndInsideWords) {
    const struct {
        const char *line;
        bool shown;
    } cases[] = {{"", false},       {"DELTA", true}, {"xdeltax", true}, {"--port 0 DeLtA", true},
                 {"del ta", false}, {"-delta", true}};
    for (const auto &c : cases) {
        auto window = makeWindow(QString::fromLatin1(c.line));
        ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
        auto *mode = control<eLCDText>(*window, "mmmode");
        EXPECT_EQ(mode->isVisibleTo(window.get()), c.shown) << c.line;
        EXPECT_EQ(mode->caption(), QStringLiteral("Normal"));
        closeWindow(*window);
    }
}

TEST_F(Startup, WithoutAUsableConfigFolderConfigIniLivesInTheProgramFolder) {
    // The configured folder lies under a file, so it can neither be found nor made.
    QFile blocker(path(QStringLiteral("a-file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ScopedEnv config("XDG_CONFIG_HOME", path(QStringLiteral("a-file/config")));
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    EXPECT_EQ(window->program().dataFolder, programFolder());
    EXPECT_EQ(window->program().iniPath, programFolder() + QStringLiteral("/config.ini"));
    closeWindow(*window);
    EXPECT_EQ(setting(programFolder() + QStringLiteral("/config.ini"), "Width"),
              QStringLiteral("12000"));
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(Startup, AFileInThePlaceOfTheFolderLosesTheSettingsSilently) {
    QFile blocker(path(QStringLiteral("config/LyxGlance")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    EXPECT_EQ(window->program().iniPath, iniFile());
    closeWindow(*window);
    EXPECT_TRUE(boxes_.shown.empty());
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("config/LyxGlance"))).isFile());
    EXPECT_FALSE(QFile::exists(programFolder() + QStringLiteral("/config.ini")));
}

TEST_F(Startup, TheStationsChannelAndTheVersionsAreShown) {
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    EXPECT_EQ(control<eLCDText>(*window, "ChannelLabel")->caption(),
              QStringLiteral("RF Channel: 1"));
    auto *versions = control<eLCDText>(*window, "VersionLabel");
    EXPECT_EQ(versions->caption(), QStringLiteral("App: 1.0.0 | Drv COM: 2.3 | Drv DLL: 2.7"));
    EXPECT_EQ(versions->toolTip(), versions->caption());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Lyx Glance"));
    EXPECT_TRUE(boxes_.shown.empty());
    closeWindow(*window);
}

TEST_F(Startup, TheFirstSearchShowsDashesAndTheSearchingIndicator) {
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    EXPECT_EQ(window->followedTag(), 0);
    auto *display = control<eLCD>(*window, "eLCD1");
    EXPECT_EQ(display->digits(), 6);
    EXPECT_EQ(display->caption(), QStringLiteral("------"));
    EXPECT_EQ(control<eLCDText>(*window, "TagLabel")->caption(), QStringLiteral("----"));
    auto *searching = control<eLCDText>(*window, "SearchLabel");
    EXPECT_TRUE(searching->isVisibleTo(window.get()));
    EXPECT_EQ(searching->caption(), QStringLiteral("Searching..."));
    EXPECT_FALSE(control<eLCDText>(*window, "NoCommsLabel")->isVisibleTo(window.get()));
    // Searching: the value buttons wait for a module.
    for (const char *name : {"CBZERO", "CBLOG", "SLEEPBYTAG", "dIGITSuP", "dIGITSdOWN"})
        EXPECT_FALSE(control<ImageButton>(*window, name)->buttonEnabled()) << name;
    for (const char *name : {"btnSearch", "ImageButton2", "bROADCASTwake"})
        EXPECT_TRUE(control<ImageButton>(*window, name)->buttonEnabled()) << name;
    ASSERT_NE(window->chart(), nullptr);
    EXPECT_TRUE(window->chart()->initialised());
    EXPECT_EQ(window->chart()->sampleCount(), 0);
    closeWindow(*window);
}

TEST_F(Startup, WithoutABaseStationItSaysSoAndKeepsRunning) {
    ASSERT_TRUE(sim_->removeStation(1).ok());
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].caption, QStringLiteral("No Base Station"));
    EXPECT_EQ(boxes_.shown[0].flags, std::uint32_t(LYX_MB_OK | LYX_MB_ICONERROR));
    EXPECT_EQ(boxes_.shown[0].text,
              QStringLiteral("Could not detect the base station!\r\nThis program only works with "
                             "a USB base station so ensure that the base station is plugged in "
                             "and restart the program."));
    EXPECT_EQ(control<eLCDText>(*window, "ChannelLabel")->caption(),
              QStringLiteral("RF Channel: "));
    EXPECT_EQ(control<eLCD>(*window, "eLCD1")->caption(), QStringLiteral("------"));
    EXPECT_TRUE(control<eLCDText>(*window, "SearchLabel")->isVisibleTo(window.get()));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    closeWindow(*window);
}

TEST_F(Startup, WithoutTheComponentItSaysSoOnceAndEndsWithoutSavingAnything) {
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("classes.ini"))));
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Ended);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].caption, QStringLiteral("LyxGlance"));
    EXPECT_EQ(boxes_.shown[0].flags, std::uint32_t(LYX_MB_OK | LYX_MB_ICONERROR));
    const QString expected =
        QStringLiteral(
            "Cannot find LyxDataProviderCOM.DLL or DLL is not registered!\r\n"
            "Class not registered: {B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D} has no "
            "entry in ") +
        path(QStringLiteral("classes.ini"));
    EXPECT_EQ(boxes_.shown[0].text, expected);
    EXPECT_FALSE(window->isVisible());
    window.reset();  // the program ends: nothing runs the shutdown
    EXPECT_FALSE(QFile::exists(iniFile()));
    EXPECT_TRUE(QDir(path(QStringLiteral("tmp"))).isEmpty()) << "no driver copy left behind";
}

TEST_F(Startup, ASerialPortThatCannotBeOpenedClosesTheWindow) {
    ASSERT_TRUE(QFile::link(path(QStringLiteral("gone")), path(QStringLiteral("ports/COM9"))));
    auto window = makeWindow(QStringLiteral("--port 9"), 9, 115200);
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Closed);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    // The reason as lyx gives it: the entry and where it points.
    EXPECT_EQ(boxes_.shown[0].text,
              QStringLiteral("Cannot open serial port COM9\r\nSerial port "
                             "COM9 (%1 -> %2): %2 does not exist.")
                  .arg(path(QStringLiteral("ports/COM9")), path(QStringLiteral("gone"))));
    EXPECT_EQ(boxes_.shown[0].caption, QStringLiteral("Lyx Glance"));
    EXPECT_EQ(boxes_.shown[0].flags, std::uint32_t(LYX_MB_OK));
    EXPECT_TRUE(window->shutDown());
    EXPECT_FALSE(window->isVisible());
    // The shutdown ran: the window's place was stored and the component released.
    EXPECT_EQ(setting(iniFile(), "Width"), QStringLiteral("12000"));
    EXPECT_TRUE(QDir(path(QStringLiteral("tmp"))).isEmpty());
}

TEST_F(Startup, ASerialBaseStationIsOpenedOnThePortGiven) {
    ASSERT_TRUE(sim_->removeStation(1).ok());
    lyx::sim::StationConfig serial;
    serial.serialPort = true;
    serial.portFolder = path(QStringLiteral("ports")).toStdString();
    serial.com = 5;
    serial.channel = 3;
    ASSERT_TRUE(sim_->addStation(serial).ok());
    auto window = makeWindow(QStringLiteral("--port 5"), 5, 115200);
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    EXPECT_EQ(control<eLCDText>(*window, "ChannelLabel")->caption(),
              QStringLiteral("RF Channel: 3"));
    EXPECT_TRUE(boxes_.shown.empty());
    closeWindow(*window);
}

TEST_F(Startup, TheShutdownReleasesTheComponentAndItsDriverCopy) {
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    EXPECT_FALSE(QDir(path(QStringLiteral("tmp"))).isEmpty()) << "the component's driver copy";
    closeWindow(*window);
    EXPECT_TRUE(QDir(path(QStringLiteral("tmp"))).isEmpty());
    window->close();  // a second close does nothing more
    EXPECT_TRUE(window->shutDown());
}

TEST_F(Startup, TheWindowCannotBeMadeSmallerThan800By432) {
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->resize(300, 200);
    QTest::qWait(20);
    // The limit holds for the outside of the window, its frame included.
    EXPECT_EQ(window->frameGeometry().size(), QSize(800, 432));
    window->resize(810, 440);
    QTest::qWait(20);
    EXPECT_EQ(window->size(), QSize(810, 440));
    closeWindow(*window);
}

TEST_F(Startup, PanelsFollowTheWindowsSize) {
    auto window = makeWindow();
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto *container = control<eLCDContainer>(*window, "eLCDContainer1");
    auto *display = control<eLCD>(*window, "eLCD1");
    auto *chart = control<PictureBox>(*window, "ChartPanel");
    auto *lcdBottom = control<PictureBox>(*window, "LCDBottom");
    auto *bottom = control<PictureBox>(*window, "BottomPanel");
    auto *versions = control<eLCDText>(*window, "VersionLabel");
    const int screenWidth = window->screen()->geometry().width();

    for (QSize size : {QSize(1000, 600), QSize(820, 450), QSize(1400, 700)}) {
        window->resize(size);
        QTest::qWait(20);
        ASSERT_EQ(window->size(), size);
        EXPECT_EQ(container->geometry(), QRect(QPoint(0, 0), size));
        EXPECT_EQ(bottom->geometry(), QRect(0, size.height() - 57, size.width(), 57));
        EXPECT_EQ(versions->x(), size.width() - versions->width() - 5);
        // Twips: the display 16 in from the container's edges (one pixel), the chart 64 from
        // the right edge and 64 below the display, the label strip 128 below the chart.
        EXPECT_EQ(display->geometry().topLeft(), QPoint(1, 1));
        EXPECT_EQ(display->width(), size.width() - 2);
        EXPECT_EQ(display->height(), display->heightForWidth(display->width()));
        EXPECT_EQ(chart->size(), QSize(screenWidth, 65));
        EXPECT_EQ(chart->geometry().topLeft(),
                  QPoint(size.width() - screenWidth - 4, display->height() + 4));
        EXPECT_EQ(lcdBottom->geometry(), QRect(4, display->height() + 65 + 9, 777, 85));
    }
    closeWindow(*window);
}
