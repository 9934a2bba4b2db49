// The main window's module list: every packet noted in the table of tags, the window "All
// modules" opened by its button or Ctrl+M, following a module chosen there, and the trend
// chart's choice of scale.

#include "ChartScaleSwitch.h"
#include "INIFileModule.h"
#include "MainFrm.h"
#include "ModulesWindow.h"

#include "LyxPlatform.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDText.h"
#include "lyx/tags/tag_file.hpp"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace lyx::viewer {

namespace {

const QString kChart = QStringLiteral("Chart");
const QString kAutoScale = QStringLiteral("AutoScale");

}  // namespace

void MainFrm::noteModule(std::uint8_t station, std::int32_t tag, const std::string &value,
                         std::uint8_t status, std::int16_t rssi, std::int16_t cv, bool battLow,
                         bool error) {
    tags::Reading reading;
    reading.station = station;
    reading.tag = tag;
    reading.value = value;
    reading.status = status;
    reading.rssi = rssi;
    reading.cv = cv;
    reading.battLow = battLow;
    reading.error = error;
    tagTable_.add(reading, moduleClock_());
}

void MainFrm::CBMODULES_Click() {
    showModules();
}

void MainFrm::showModules() {
    if (shutDown_) return;
    if (modules_ == nullptr) {
        modules_ = new ModulesWindow(
            tagTable_,
            [this] {
                ModulesModel::View view;
                view.followedTag = followedTag_;
                view.digitBudget = std::clamp<std::int16_t>(scale_.totalDigits, 2, 5);
                view.decimalSeparator = program_.decimalSeparator.isEmpty()
                                            ? QStringLiteral(".")
                                            : program_.decimalSeparator;
                view.now = moduleClock_();
                return view;
            },
            this);
        // With nothing stored, the list opens below the main window where the screen has
        // room for it, else over it, a little to the right and down.
        QPoint corner = frameGeometry().bottomLeft() + QPoint(0, 1);
        const QScreen *display = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
        if (display != nullptr &&
            corner.y() + modules_->height() > display->availableGeometry().bottom())
            corner = pos() + QPoint(pixelsX(600), pixelsY(600));
        modules_->readSettings(program_.iniPath, corner);
        connect(modules_, &ModulesWindow::follow, this, &MainFrm::followTag);
    }
    modules_->show();
    modules_->raise();
    modules_->activateWindow();
}

void MainFrm::followTag(std::int32_t tag) {
    if (shutDown_ || tag == 0) return;
    // A search...
    btnSearch_Click();
    // ...that lands on this module at once.
    selectTag(tag);
    SearchLabel->setVisible(false);
    NoCommsTimer->start();
    setButtonStates();
    if (const tags::TagTable::Entry *entry = tagTable_.find(tag))
        showLastReading(entry->last, !tagTable_.available(*entry, moduleClock_()));
}

void MainFrm::showLastReading(const tags::Reading &reading, bool lost) {
    if (lost) {
        // Gone quiet: the lost-signal indicator at once rather than its last value.
        NoCommsTimer_Timer();
        return;
    }
    const std::optional<double> number = followedValue(reading.value);
    if (!number) {
        eLCD1->setCaption(QStringLiteral("binary"));
        return;
    }
    // The reading was counted, logged and charted when it came; it is only shown here. Its
    // value is what a zero now takes.
    lastRawValue_ = float(*number);
    lastDisplayTime_ = clock_();
    refreshDisplay(*number - double(zeroOffset_), std::int16_t(reading.rssi),
                   std::int16_t(reading.cv), reading.battLow, reading.error);
}

bool MainFrm::chartAutoScale() const {
    return chartScaleSwitch_->autoScale();
}

void MainFrm::chartScale_Toggled(bool autoScale) {
    if (chart_) {
        chart_->setAutoScale(autoScale);
        chart_->RePaint();
    }
    WriteIniString(program_.iniPath, kChart, kAutoScale,
                   autoScale ? QStringLiteral("1") : QStringLiteral("0"));
}

void MainFrm::applyStoredModules() {
    const bool autoScale =
        ReadIniString(program_.iniPath, kChart, kAutoScale, QStringLiteral("0")).trimmed() ==
        QStringLiteral("1");
    chartScaleSwitch_->setAutoScale(autoScale);
    if (chart_) chart_->setAutoScale(autoScale);
    // The list opens once the main window is shown.
    if (ModulesWindow::storedOpen(program_.iniPath))
        QTimer::singleShot(0, this, [this] { showModules(); });
}

void MainFrm::applyTagFile() {
    try {
        tags::describeAll(tagTable_, tags::loadTagFile(std::nullopt).names);
    } catch (const tags::TagFileError &e) {
        // Not fatal: the modules are listed by their tags alone.
        const QString text = QString::fromUtf8(e.what()) +
                             QStringLiteral("\r\nThe modules are listed without their names.");
        LyxMessageBox(text.toUtf8().constData(), "Tag file", LYX_MB_OK | LYX_MB_ICONWARNING);
    }
}

void MainFrm::storeModules() {
    if (modules_ != nullptr) modules_->writeSettings(program_.iniPath);
}

}  // namespace lyx::viewer
