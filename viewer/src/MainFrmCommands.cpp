// The main window's module search, pairing, module commands, the stay-awake broadcast and the
// rule that enables the command buttons.

#include "ButtonStates.h"
#include "FileModule.h"
#include "MainFrm.h"
#include "PictureBox.h"

#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDText.h"
#include "lyx/platform/clock.hpp"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>

namespace lyx::viewer {

using controls::ImageButton;
using controls::rgbColour;

namespace {

void apply(ImageButton *button, const std::optional<bool> &wanted) {
    if (wanted) enableButton(button, *wanted);
}

}  // namespace

void MainFrm::connectControls() {
    connect(btnSearch, &ImageButton::Click, this, &MainFrm::btnSearch_Click);
    connect(ImageButton2, &ImageButton::Click, this, &MainFrm::ImageButton2_Click);
    connect(SLEEPBYTAG, &ImageButton::Click, this, &MainFrm::SLEEPBYTAG_Click);
    connect(bROADCASTwake, &ImageButton::Click, this, &MainFrm::bROADCASTwake_Click);
    connect(CBZERO, &ImageButton::Click, this, &MainFrm::CBZERO_Click);
    connect(CBNOZERO, &ImageButton::Click, this, &MainFrm::CBZERO_Click);
    connect(dIGITSuP, &ImageButton::Click, this, &MainFrm::dIGITSuP_Click);
    connect(dIGITSdOWN, &ImageButton::Click, this, &MainFrm::dIGITSdOWN_Click);
    connect(CBLOG, &ImageButton::Click, this, &MainFrm::CBLOG_Click);
    connect(CBSTOPLOG, &ImageButton::Click, this, &MainFrm::CBLOG_Click);
    connect(CBVIEW, &ImageButton::Click, this, &MainFrm::CBVIEW_Click);
    connect(CBMODULES, &ImageButton::Click, this, &MainFrm::CBMODULES_Click);
    connect(mmmode, &controls::eLCDText::Click, this, &MainFrm::mmmode_Click);
    connect(eLCD1, &controls::eLCD::DblClick, this, &MainFrm::eLCD1_DblClick);
    connect(sectimer, &QTimer::timeout, this, &MainFrm::sectimer_Timer);
    connect(NoCommsTimer, &QTimer::timeout, this, &MainFrm::NoCommsTimer_Timer);
    connect(KeepAwakeTimer, &QTimer::timeout, this, &MainFrm::KeepAwakeTimer_Timer);
}

void MainFrm::btnSearch_Click() {
    if (followedTag_ != 0) {
        previousTag_ = followedTag_;
        searchStartTime_ = clock_();
    }
    followedTag_ = 0;
    TagLabel->setCaption(QStringLiteral("----"));
    eLCD1->setCaption(QString(eLCD1->digits(), QLatin1Char('-')));
    SearchLabel->setVisible(true);
    NoCommsTimer->stop();
    setButtonStates();
    initialiseChart();
    scale_.reset();
    chartScaleForced_ = true;
    eLCD1->setDigits(6);
}

void MainFrm::initialiseChart() {
    if (!chart_) chart_ = std::make_unique<LineChart>();
    chart_->InitDiagram(ChartPanel, rgbColour(159, 222, 112), true, rgbColour(57, 60, 55),
                        rgbColour(53, 53, 53), true);
}

void MainFrm::ImageButton2_Click() {
    if (!DP) return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    SearchLabel->setCaption(QStringLiteral("Pairing.."));
    SearchLabel->setVisible(true);
    // The pairing blocks this thread for up to ten seconds: show the label and the pointer
    // before it does.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    std::int32_t id = 0;
    std::int32_t tag = 0;
    try {
        DP->Pair(1, 255, 10, id, tag);
    } catch (const platform::AutomationError &) {
        // The module is found by the search that follows, or not at all.
    }
    SearchLabel->setVisible(false);
    SearchLabel->setCaption(QStringLiteral("Searching.."));
    QGuiApplication::restoreOverrideCursor();
    showChannel(readChannel());
    QCoreApplication::processEvents();
    btnSearch_Click();
}

int MainFrm::readChannel() {
    if (!DP) return 0;
    try {
        return DP->get_BaseStationChannel(1) & 0xFF;
    } catch (const platform::AutomationError &) {
        return 0;  // no answer reads as no base station
    }
}

void MainFrm::showChannel(int channel) {
    // A channel of 0 (no answer) leaves the caption as it was.
    if (channel != 0) ChannelLabel->setCaption(QStringLiteral("RF Channel: %1").arg(channel));
}

void MainFrm::SLEEPBYTAG_Click() {
    if (!DP) return;
    try {
        DP->SleepByDataTag(followedTag_ & 0xFFFF);
    } catch (const platform::AutomationError &) {
    }
}

void MainFrm::bROADCASTwake_Click() {
    if (!DP) return;
    try {
        DP->WakeBroadcast(1);
    } catch (const platform::AutomationError &) {
    }
}

void MainFrm::KeepAwakeTimer_Timer() {
    // Each broadcast keeps the modules awake for the next five seconds; failures are ignored.
    if (!DP) return;
    try {
        DP->BroadcastStayAwake();
    } catch (const platform::AutomationError &) {
    }
}

void MainFrm::setButtonStates() {
    const ButtonStates wanted = buttonStates(NoCommsLabel->isVisibleTo(this), followedTag_,
                                             recordMode_, scale_.totalDigits);
    for (ImageButton *b : {CBZERO, CBNOZERO, CBLOG, SLEEPBYTAG})
        apply(b, wanted.value);
    apply(dIGITSuP, wanted.digitsUp);
    apply(dIGITSdOWN, wanted.digitsDown);
}

}  // namespace lyx::viewer
