// The main window's module search and the rule that enables the command buttons.

#include "MainFrm.h"
#include "PictureBox.h"

#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDText.h"
#include "lyx/platform/clock.hpp"

#include <QTimer>

namespace lyx::viewer {

using controls::ImageButton;
using controls::rgbColour;

namespace {

void enableButton(ImageButton *button, bool on) {
    if (button->buttonEnabled() != on) button->setButtonEnabled(on);
}

}  // namespace

void MainFrm::btnSearch_Click() {
    if (followedTag_ != 0) {
        previousTag_ = followedTag_;
        searchStartTime_ = platform::timeOfDay();
    }
    followedTag_ = 0;
    TagLabel->setCaption(QStringLiteral("----"));
    eLCD1->setCaption(QString(eLCD1->digits(), QLatin1Char('-')));
    SearchLabel->setVisible(true);
    NoCommsTimer->stop();
    setButtonStates();
    initialiseChart();
    integerDigits_ = 0;
    decimalPlaces_ = 0;
    totalDigits_ = 5;
    eLCD1->setDigits(6);
}

void MainFrm::initialiseChart() {
    if (!chart_) chart_ = std::make_unique<LineChart>();
    chart_->InitDiagram(ChartPanel, rgbColour(159, 222, 112), true, rgbColour(57, 60, 55),
                        rgbColour(53, 53, 53), true);
}

void MainFrm::setButtonStates() {
    ImageButton *const valueButtons[] = {CBZERO, CBNOZERO, CBLOG, SLEEPBYTAG};
    if (NoCommsLabel->isVisibleTo(this)) {
        for (ImageButton *b : valueButtons)
            enableButton(b, false);
        enableButton(dIGITSuP, false);
        enableButton(dIGITSdOWN, false);
    } else if (followedTag_ != 0) {
        for (ImageButton *b : valueButtons)
            enableButton(b, true);
        if (!recordMode_) {
            if (totalDigits_ < 5) enableButton(dIGITSuP, true);
            if (totalDigits_ > 2) enableButton(dIGITSdOWN, true);
        }
    } else {
        for (ImageButton *b : valueButtons)
            enableButton(b, false);
        enableButton(dIGITSuP, false);
        enableButton(dIGITSdOWN, false);
    }
}

}  // namespace lyx::viewer
