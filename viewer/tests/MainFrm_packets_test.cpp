// The real main window's live display, fed through the component's TriggerEvent as the base
// station's frames reach it, on a clock the test moves.

#include "PacketFeed.h"
#include "ViewerFixture.h"

#include "PictureBox.h"

#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDBar.h"
#include "lyx/controls/eLCDText.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>
#include <QTest>
#include <QTimer>

#include <cmath>

using namespace lyx::viewer;
using namespace lyx::viewer::testing;
using lyx::controls::eLCD;
using lyx::controls::eLCDBar;
using lyx::controls::eLCDText;
using lyx::controls::ImageButton;

namespace {

class LiveDisplay : public RunningWindowTest {
  protected:
    void open(const QString &commandLine = {}) {
        RunningWindowTest::open(commandLine);
        display = control<eLCD>(*window, "eLCD1");
    }
    QString caption() const { return display->caption(); }
    ImageButton *button(const char *name) { return control<ImageButton>(*window, name); }
    eLCDText *label(const char *name) { return control<eLCDText>(*window, name); }
    bool shown(const char *name) {
        return window->findChild<QWidget *>(QString::fromLatin1(name))->isVisibleTo(window.get());
    }
    void click(const char *name) { Q_EMIT button(name)->Click(); }

    eLCD *display = nullptr;
};

}  // namespace

TEST_F(LiveDisplay, TheFirstModuleHeardIsFollowedAndShownOnItsScale) {
    open();
    refreshWith(floatFrame(0x4D2, 12.5f));
    EXPECT_EQ(window->followedTag(), 0x4D2);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Lyx Glance - 4D2"));
    EXPECT_EQ(label("TagLabel")->caption(), QStringLiteral("4D2"));
    EXPECT_FALSE(shown("SearchLabel"));
    // Two whole digits, three decimals, a blank in front of a positive number.
    EXPECT_EQ(caption(), QStringLiteral(" 12.500"));
    EXPECT_EQ(window->scale().integerDigits, 2);
    EXPECT_EQ(window->scale().decimalPlaces, 3);
    EXPECT_EQ(window->scale().displayFormat, QStringLiteral(" 00.000"));
    for (const char *name : {"CBZERO", "CBLOG", "SLEEPBYTAG", "dIGITSdOWN"})
        EXPECT_TRUE(button(name)->buttonEnabled()) << name;
    EXPECT_FALSE(button("dIGITSuP")->buttonEnabled()) << "the budget is at its five digits";

    refreshWith(floatFrame(0x4D2, -3.25f));
    EXPECT_EQ(caption(), QStringLiteral("-03.250"));
    EXPECT_EQ(window->scale().displayFormat, QStringLiteral("00.000"));
    EXPECT_EQ(window->scale().integerDigits, 2) << "no rescale for a shorter whole part";

    // Another module is ignored while this one is followed.
    refreshWith(floatFrame(0x4D3, 99.0f));
    EXPECT_EQ(caption(), QStringLiteral("-03.250"));
}

TEST_F(LiveDisplay, AWholePartTooLongForTheBudgetGrowsItAndKeepsItsSign) {
    open();
    refreshWith(int32Frame(0x10, 123456));
    EXPECT_EQ(window->scale().totalDigits, 6);
    EXPECT_EQ(window->scale().displayFormat, QStringLiteral(" 000000."));
    EXPECT_EQ(caption(), QStringLiteral("123456."));
    EXPECT_EQ(display->digits(), 6);

    // Six digits and a minus sign need seven cells: the display takes them rather than show
    // a positive number.
    refreshWith(int32Frame(0x10, -123456));
    EXPECT_EQ(caption(), QStringLiteral("-123456."));
    EXPECT_EQ(display->digits(), 7);

    refreshWith(int32Frame(0x10, 1234567));
    EXPECT_EQ(window->scale().totalDigits, 7);
    EXPECT_EQ(caption(), QStringLiteral("1234567."));
}

TEST_F(LiveDisplay, AWholePartWiderThanTheCellsGrowsThemToItsLengthAndOne) {
    open();
    refreshWith(int32Frame(0x10, 1234567));
    EXPECT_EQ(display->digits(), 8);
    EXPECT_EQ(caption(), QStringLiteral(" 1234567."));
}

TEST_F(LiveDisplay, ATagDifferingOnlyAboveBit15IsTheFollowedModule) {
    open();
    refreshWith(floatFrame(0x4D2, 1.0f));
    std::uint8_t station = 1, status = 0;
    std::int32_t tag = 0x104D2;
    std::string value = "7.5";
    std::int16_t rssi = -60, cv = 60;
    bool battLow = false, error = false;
    now += 0.31;
    window->DP_PacketArrived(station, tag, value, status, rssi, cv, battLow, error);
    EXPECT_EQ(caption(), QStringLiteral(" 7.5000"));
    EXPECT_EQ(window->followedTag(), 0x4D2);
}

TEST_F(LiveDisplay, ASearchTakesAnotherModuleWithinItsFirstSecondAndTheSameOneAfterIt) {
    open();
    refreshWith(floatFrame(0xA, 1.0f));
    ASSERT_EQ(window->followedTag(), 0xA);

    click("btnSearch");
    EXPECT_EQ(window->followedTag(), 0);
    EXPECT_EQ(label("TagLabel")->caption(), QStringLiteral("----"));
    EXPECT_EQ(caption(), QStringLiteral("------"));
    EXPECT_TRUE(shown("SearchLabel"));
    now += 0.5;
    feed(floatFrame(0xA, 1.0f));  // the module just left, within the first second: ignored
    EXPECT_EQ(window->followedTag(), 0);
    now += 0.2;
    feed(floatFrame(0xB, 2.0f));
    EXPECT_EQ(window->followedTag(), 0xB);

    click("btnSearch");
    now += 0.4;
    feed(floatFrame(0xB, 2.0f));
    EXPECT_EQ(window->followedTag(), 0);
    now += 0.7;  // 1.1 s into the search
    feed(floatFrame(0xB, 2.0f));
    EXPECT_EQ(window->followedTag(), 0xB) << "the only module is taken again after a second";
}

TEST_F(LiveDisplay, TheSearchWindowHoldsAcrossMidnight) {
    open();
    now = 86399.6;
    refreshWith(floatFrame(0xA, 1.0f));
    click("btnSearch");  // at 86399.91
    now = 0.2;           // 0.29 s later, the next day
    feed(floatFrame(0xA, 1.0f));
    EXPECT_EQ(window->followedTag(), 0);
    now = 1.0;
    feed(floatFrame(0xA, 1.0f));
    EXPECT_EQ(window->followedTag(), 0xA);
}

TEST_F(LiveDisplay, ZeroTogglesTheOffsetAndAZeroReadingZeroesAgain) {
    open();
    refreshWith(floatFrame(0x7, 0.0f));
    click("CBZERO");
    EXPECT_TRUE(label("eZeroed")->state());
    EXPECT_FALSE(shown("CBZERO"));
    EXPECT_TRUE(shown("CBNOZERO"));
    EXPECT_EQ(window->zeroOffset(), 0.0f);
    // The offset stayed 0, so the next click zeroes again instead of going back to gross.
    click("CBNOZERO");
    EXPECT_TRUE(label("eZeroed")->state());
    EXPECT_TRUE(shown("CBNOZERO"));

    refreshWith(floatFrame(0x7, 12.5f));
    click("CBNOZERO");
    EXPECT_EQ(window->zeroOffset(), 12.5f);
    refreshWith(floatFrame(0x7, 13.0f));
    EXPECT_EQ(caption(), QStringLiteral(" 00.500"));
    click("CBNOZERO");  // back to gross
    EXPECT_EQ(window->zeroOffset(), 0.0f);
    EXPECT_FALSE(label("eZeroed")->state());
    EXPECT_TRUE(shown("CBZERO"));
    refreshWith(floatFrame(0x7, 13.0f));
    EXPECT_EQ(caption(), QStringLiteral(" 13.000"));

    // Following another module starts without an offset.
    click("CBZERO");
    click("btnSearch");
    now += 2;
    feed(floatFrame(0x8, 5.0f));
    EXPECT_EQ(window->zeroOffset(), 0.0f);
    EXPECT_FALSE(label("eZeroed")->state());
}

TEST_F(LiveDisplay, LinkQualityFollowsSignalAndLinkFiguresWithoutALowerLimit) {
    open();
    auto *bar = control<eLCDBar>(*window, "eLQI");
    const struct {
        int rssi, cv;
        float percent;
    } cases[] = {{-60, 60, 76.05f}, {-48, 60, 99.45f},  {-47, 60, 100.0f},
                 {-99, 60, 0.0f},   {-100, 60, -1.95f}, {-60, 127, 100.0f}};
    for (const auto &c : cases) {
        PacketOptions o;
        o.rssi = c.rssi;
        o.cv = c.cv;
        refreshWith(floatFrame(0x5, 1.0f, o));
        EXPECT_FLOAT_EQ(bar->percent(), c.percent) << c.rssi << " + " << c.cv;
    }
}

TEST_F(LiveDisplay, ErrorAndLowBatteryFlagsLightTheirIndicators) {
    open();
    PacketOptions flags;
    flags.battLow = true;
    flags.error = true;
    refreshWith(floatFrame(0x5, 1.0f, flags));
    EXPECT_TRUE(label("eLoBatt")->state());
    EXPECT_TRUE(label("eError")->state());
    refreshWith(floatFrame(0x5, 1.0f));
    EXPECT_FALSE(label("eLoBatt")->state());
    EXPECT_FALSE(label("eError")->state());
}

TEST_F(LiveDisplay, PacketsPerSecondCountOnlyTheFollowedModule) {
    open();
    refreshWith(floatFrame(0x5, 1.0f));
    auto *persec = label("Persec");
    auto *ticker = window->findChild<QTimer *>(QStringLiteral("sectimer"));
    ASSERT_NE(ticker, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return persec->caption() == QLatin1String("1"); }, 2000));
    ticker->start();  // the next tick is a second away
    for (int i = 0; i < 10; ++i) {
        feed(floatFrame(0x5, 1.0f));
        if (i < 5) feed(floatFrame(0x6, 2.0f));
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return persec->caption() != QLatin1String("1"); }, 2000));
    EXPECT_EQ(persec->caption(), QStringLiteral("10"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return persec->caption() == QLatin1String("0"); }, 2000));
}

TEST_F(LiveDisplay, NonNumericValuesShowBinaryAndAreCountedButNotCharted) {
    open();
    refreshWith(stringFrame(0x9, "abc"));
    EXPECT_EQ(window->followedTag(), 0x9);
    EXPECT_EQ(caption(), QStringLiteral("binary"));
    EXPECT_EQ(window->chart()->sampleCount(), 0);
    refreshWith(stringFrame(0x9, "12.5"));  // digits in a text are a number
    EXPECT_EQ(caption(), QStringLiteral(" 12.500"));
    EXPECT_EQ(window->chart()->sampleCount(), 1);
    refreshWith(packetFrame(0x9, 6, std::string("\x01\x02", 2)));
    EXPECT_EQ(caption(), QStringLiteral("binary"));
    EXPECT_EQ(window->chart()->sampleCount(), 1);
}

TEST_F(LiveDisplay, RecordsShowTheirFirstFourBytesAsASignedNumberOnNineCells) {
    open();
    refreshWith(recordFrame(0x77, -123));
    EXPECT_TRUE(window->recordMode());
    EXPECT_EQ(display->digits(), 9);
    EXPECT_EQ(window->scale().totalDigits, 8);
    EXPECT_FALSE(button("dIGITSuP")->buttonEnabled());
    EXPECT_FALSE(button("dIGITSdOWN")->buttonEnabled());
    EXPECT_EQ(caption().trimmed(), QStringLiteral("-123.00000"));
    EXPECT_EQ(caption().size(), 10);
    // In record mode the chart takes a sample only with a refresh.
    EXPECT_EQ(window->chart()->sampleCount(), 1);
    feed(recordFrame(0x77, 5));
    EXPECT_EQ(window->chart()->sampleCount(), 1);
    refreshWith(recordFrame(0x77, 456));
    EXPECT_EQ(window->chart()->sampleCount(), 2);
    // A longer whole part rescales: the chart starts again with this sample.
    refreshWith(recordFrame(0x77, 100000));
    EXPECT_EQ(window->chart()->sampleCount(), 1);
    EXPECT_EQ(caption().trimmed(), QStringLiteral("100000.00"));
    EXPECT_FALSE(button("dIGITSuP")->buttonEnabled());

    refreshWith(floatFrame(0x77, 1.0f));
    EXPECT_FALSE(window->recordMode());
}

TEST_F(LiveDisplay, ChartSamplesAreShiftedSoThatZeroSitsMidHeight) {
    open();
    refreshWith(floatFrame(0x3, 0.0f));  // scale: no whole digits, so 10^0 = 1
    LineChart *chart = window->chart();
    ASSERT_EQ(window->scale().integerDigits, 0);
    EXPECT_FLOAT_EQ(chart->FullScale, 2.0f);
    const int h = chart->height();
    EXPECT_FLOAT_EQ(chart->sampleAt(chart->width() - 1), h - 1.0f / 2.0f * h);
    refreshWith(floatFrame(0x3, 25.0f));  // two whole digits: full scale 200
    EXPECT_FLOAT_EQ(chart->FullScale, 200.0f);
    feed(floatFrame(0x3, -50.0f));
    EXPECT_FLOAT_EQ(chart->sampleAt(chart->width() - 1), h - 50.0f / 200.0f * h);
}

TEST_F(LiveDisplay, WithoutDecimalPlacesTheRefreshesKeepTheTrend) {
    open();
    for (int i = 0; i < 5; ++i)
        refreshWith(floatFrame(0x3, 12345.0f + i));
    EXPECT_EQ(window->scale().decimalPlaces, 0);
    EXPECT_EQ(caption(), QStringLiteral(" 12349."));
    EXPECT_EQ(window->chart()->sampleCount(), 5);
}

TEST_F(LiveDisplay, DecimalPlaceButtonsMoveTheBudgetBetweenTwoAndFive) {
    open();
    refreshWith(floatFrame(0x3, 12.5f));
    click("dIGITSdOWN");
    EXPECT_EQ(window->scale().totalDigits, 4);
    EXPECT_TRUE(button("dIGITSuP")->buttonEnabled());
    refreshWith(floatFrame(0x3, 12.5f));
    EXPECT_EQ(caption(), QStringLiteral("  12.50"));
    click("dIGITSdOWN");
    click("dIGITSdOWN");
    EXPECT_EQ(window->scale().totalDigits, 2);
    click("dIGITSdOWN");
    EXPECT_EQ(window->scale().totalDigits, 2);
    EXPECT_FALSE(button("dIGITSdOWN")->buttonEnabled());
    refreshWith(floatFrame(0x3, 12.5f));
    EXPECT_EQ(caption(), QStringLiteral("    13."));
    for (int i = 0; i < 4; ++i)
        click("dIGITSuP");
    EXPECT_EQ(window->scale().totalDigits, 5);
    EXPECT_FALSE(button("dIGITSuP")->buttonEnabled());
    EXPECT_TRUE(button("dIGITSdOWN")->buttonEnabled());
}

TEST_F(LiveDisplay, TheDeltaModeShowsTheSpreadAndADoubleClickCopiesAndResetsIt) {
    open(QStringLiteral("delta"));
    refreshWith(floatFrame(0x3, 10.0f));
    refreshWith(floatFrame(0x3, 14.0f));
    auto *mode = label("mmmode");
    Q_EMIT mode->Click();
    EXPECT_TRUE(window->deltaMode());
    EXPECT_EQ(mode->caption(), QStringLiteral("Delta"));
    refreshWith(floatFrame(0x3, 12.0f));
    EXPECT_EQ(caption(), QStringLiteral(" 14.000")) << "0 to 14: min and max count from 0";

    Q_EMIT display->DblClick();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral(" 14.000"));
    refreshWith(floatFrame(0x3, 12.0f));
    refreshWith(floatFrame(0x3, 12.5f));
    EXPECT_EQ(caption(), QStringLiteral(" 00.500"));
    Q_EMIT mode->Click();
    EXPECT_EQ(mode->caption(), QStringLiteral("Normal"));
    refreshWith(floatFrame(0x3, 12.5f));
    EXPECT_EQ(caption(), QStringLiteral(" 12.500"));
}

TEST_F(LiveDisplay, ALostSignalDisablesTheValueButtonsUntilTheSecondRefresh) {
    open();
    auto *lost = window->findChild<QTimer *>(QStringLiteral("NoCommsTimer"));
    ASSERT_NE(lost, nullptr);
    lost->setInterval(100);
    refreshWith(floatFrame(0x3, 12.5f));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown("NoCommsLabel"); }, 2000));
    EXPECT_EQ(caption(), QStringLiteral("------"));
    EXPECT_EQ(control<eLCDBar>(*window, "eLQI")->percent(), 0.0f);
    for (const char *name : {"CBZERO", "CBLOG", "SLEEPBYTAG", "dIGITSuP", "dIGITSdOWN"})
        EXPECT_FALSE(button(name)->buttonEnabled()) << name;
    EXPECT_EQ(window->followedTag(), 0x3) << "the module stays followed";

    lost->setInterval(60000);
    refreshWith(floatFrame(0x3, 12.5f));
    EXPECT_FALSE(shown("NoCommsLabel"));
    EXPECT_FALSE(button("CBZERO")->buttonEnabled()) << "set while the indicator still showed";
    refreshWith(floatFrame(0x3, 12.5f));
    for (const char *name : {"CBZERO", "CBLOG", "SLEEPBYTAG", "dIGITSdOWN"})
        EXPECT_TRUE(button(name)->buttonEnabled()) << name;
}

TEST_F(LiveDisplay, ACommaLocaleReadsTheComponentsPointAndShowsItsOwnSeparator) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    open();
    EXPECT_EQ(window->program().decimalSeparator, QStringLiteral(","));
    refreshWith(floatFrame(0x3, 12.5f));  // the component writes "12.50000"
    EXPECT_EQ(caption(), QStringLiteral(" 12.500")) << "the display draws its point for ','";
    EXPECT_FLOAT_EQ(window->maxValue(), 12.5f);
    refreshWith(floatFrame(0x3, -3.25f));
    EXPECT_EQ(caption(), QStringLiteral("-03.250"));
}

TEST_F(LiveDisplay, SleepAndWakeReachTheModuleAndStayAwakeCommandsAreSent) {
    addModule(0x0A0B0C, 1234, 10);
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->followedTag() == 1234; }, 5000));
    const auto heard = [this](int command, std::uint64_t since) {
        return sim_->waitFor(
            [command](const lyx::sim::Event &e) {
                return e.kind == lyx::sim::EventKind::CommandHeard && e.code == command;
            },
            std::chrono::milliseconds(0), since);
    };
    // The stay-awake broadcast goes out with the module's packets.
    EXPECT_TRUE(QTest::qWaitFor([&] { return heard(3, 0).has_value(); }, 6000));

    auto since = sim_->lastSequence();
    click("SLEEPBYTAG");  // answered at the module's next packet
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return sim_->module(0x0A0B0C) && sim_->module(0x0A0B0C)->asleep; }, 5000));
    EXPECT_TRUE(heard(1, since).has_value());
    since = sim_->lastSequence();
    click("bROADCASTwake");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return sim_->module(0x0A0B0C) && !sim_->module(0x0A0B0C)->asleep; }, 5000));
}

TEST_F(LiveDisplay, PairingReadsTheNewChannelAndSearchesAgain) {
    lyx::sim::ModuleConfig remote;
    remote.id = 66051;
    remote.tag = 42;
    remote.channel = 7;
    remote.rate = 20;
    remote.wave.offset = 12.5;
    ASSERT_TRUE(sim_->addModule(remote).ok());
    // The module is powered up while the base station waits for it.
    sim_->setEventListener([this](const lyx::sim::Event &e) {
        if (e.kind == lyx::sim::EventKind::BindRequested) (void)sim_->powerUp(66051);
    });
    open();
    click("ImageButton2");
    sim_->setEventListener(nullptr);
    EXPECT_EQ(label("ChannelLabel")->caption(), QStringLiteral("RF Channel: 7"));
    EXPECT_EQ(label("SearchLabel")->caption(), QStringLiteral("Searching.."));
    EXPECT_EQ(window->followedTag(), 0);
    // Packets that came during the pairing are dispatched before the search starts: when
    // one did, the search passes the paired module for its first second, as it passes any
    // module it has just left. The test's clock moves on while it waits.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            now += 0.05;
            return window->followedTag() == 42;
        },
        5000));
}
