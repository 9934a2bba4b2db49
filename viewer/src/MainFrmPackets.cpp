// The main window's live display: the packet handler, the display format, the zero, decimal
// places and min/max options, packets per second and the lost-signal indicator.

#include "Accessibility.h"
#include "ButtonStates.h"
#include "FileModule.h"
#include "MainFrm.h"

#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDBar.h"
#include "lyx/controls/eLCDText.h"
#include "lyx/platform/clock.hpp"

#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>

#include <cmath>

namespace lyx::viewer {

namespace {

constexpr std::size_t kRecordLength = 117;
constexpr double kRefreshInterval = 0.3;  // seconds between display refreshes

double powerOfTen(int exponent) {
    return std::pow(10.0, exponent);
}

}  // namespace

void MainFrm::DP_PacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                               std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV,
                               bool &BattLow, bool &Error) {
    ++packetsHandled_;
    noteModule(BaseStation, DataTag, Value, Status, RSSI, CV, BattLow, Error);

    // 1. While searching, the first packet of a module is taken, but for the module just
    // left during the search's first second.
    if (followedTag_ == 0) {
        if (DataTag == previousTag_ && secondsSince(searchStartTime_, clock_()) < 1.0) return;
        selectTag(DataTag);
        SearchLabel->setVisible(false);
        NoCommsTimer->start();
        setButtonStates();
    }

    // 2. Only the followed module, by its 16-bit tag.
    if ((DataTag & 0xFFFF) != (followedTag_ & 0xFFFF)) return;

    // 3. A 117-character record shows its first four bytes as a signed 32-bit number.
    const std::optional<double> number = followedValue(Value);

    // 4. Other values are counted but not shown, charted or logged.
    if (!number) {
        eLCD1->setCaption(QStringLiteral("binary"));
        ++packetCount_;
        return;
    }

    // 5. Statistics, from the value as received.
    const float v = static_cast<float>(*number);
    if (v < minValue_) minValue_ = v;
    if (v > maxValue_) maxValue_ = v;
    ++packetCount_;
    lastRawValue_ = v;

    // 6. The zero offset.
    const double value = *number - double(zeroOffset_);

    // 7. The display, at most every 0.3 s (and again at once after midnight).
    const double now = clock_();
    if (now > lastDisplayTime_ + kRefreshInterval || now < lastDisplayTime_) {
        lastDisplayTime_ = now;
        refreshDisplay(value, RSSI, CV, BattLow, Error);
    }

    // 8. The CSV row.
    if (program_.loggingActive) writeLogRow(valueText(value, program_.decimalSeparator));

    // 9. The chart sample of every numeric packet, shifted so that 0 sits mid-height.
    if (!recordMode_ && chart_)
        chart_->AddPoint(float(double(float(value)) + powerOfTen(scale_.integerDigits)));
}

std::optional<double> MainFrm::followedValue(const std::string &Value) {
    if (Value.size() == kRecordLength) {
        const auto decoded = DecodeDPP(std::string(1, '\x03') + Value.substr(0, 4));
        enableButton(dIGITSuP, false);
        enableButton(dIGITSdOWN, false);
        scale_.totalDigits = 8;
        eLCD1->setDigits(9);
        recordMode_ = true;
        return std::get<double>(decoded);
    }
    recordMode_ = false;
    return parseValueNumber(Value);
}

void MainFrm::refreshDisplay(double value, std::int16_t rssi, std::int16_t cv, bool battLow,
                             bool error) {
    ++refreshes_;
    eLCD1->setCaption(deltaMode_ ? FormatMe(double(maxValue_) - double(minValue_))
                                 : FormatMe(value));
    const float quality = linkQuality(rssi, cv);
    if (eLQI->percent() != quality) setLinkQuality(quality);
    eError->setState(error);
    eLoBatt->setState(battLow);
    // The buttons are set while a lost-signal indicator still shows: they come back at the
    // next refresh.
    setButtonStates();
    NoCommsTimer->stop();
    NoCommsTimer->start();
    if (NoCommsLabel->isVisibleTo(this)) NoCommsLabel->setVisible(false);
    if (chart_) {
        if (recordMode_)
            chart_->AddPoint(float(double(float(value)) + powerOfTen(scale_.integerDigits)));
        chart_->RePaint();
    }
}

void MainFrm::setLinkQuality(float percent) {
    eLQI->setPercent(percent);
    accessibility::valueChanged(eLQI);
}

void MainFrm::selectTag(std::int32_t tag) {
    followedTag_ = tag;
    const QString hex = QString::number(static_cast<quint32>(tag), 16).toUpper();
    setWindowTitle(QStringLiteral("Lyx Glance - ") + hex);
    TagLabel->setCaption(hex);
    for (controls::ImageButton *b : {CBLOG, SLEEPBYTAG, CBZERO})
        enableButton(b, true);
    packetCount_ = 0;
    zeroOffset_ = 0;
    CBZERO->setVisible(true);
    CBNOZERO->setVisible(false);
    eZeroed->setState(false);
}

QString MainFrm::FormatMe(double value) {
    int digits = eLCD1->digits();
    const DisplayScale::Result result = scale_.format(value, digits, program_.decimalSeparator);
    if (digits != eLCD1->digits()) eLCD1->setDigits(digits);
    if (result.rescaled) rescaleChart();
    return result.caption;
}

void MainFrm::rescaleChart() {
    // The chart starts a new trace when its scale changes (and after a search or a change of
    // the decimal places). A rescale that leaves the scale as it was keeps the trace: with
    // no decimal places every refresh rescales, and the trend must not be wiped each time.
    if (!chart_ || chartScaleForced_ || chartScale_ != scale_.integerDigits) {
        initialiseChart();
        chartScale_ = scale_.integerDigits;
        chartScaleForced_ = false;
    }
    chart_->HorizontalDivisions = 3;
    chart_->VerticalDivisions = 20;
    chart_->FullScale = float(2 * powerOfTen(scale_.integerDigits));
    chart_->PlotStyle = 0;
    chart_->RePaint();
}

void MainFrm::CBZERO_Click() {
    // Toggles between zeroed (net) and the gross value; the offset applies from the next
    // packet on. Zeroing a value of 0 shows the indicator but leaves no offset, so the next
    // click zeroes again.
    if (zeroOffset_ == 0) {
        zeroOffset_ = lastRawValue_;
        CBZERO->setVisible(false);
        CBNOZERO->setVisible(true);
        eZeroed->setState(true);
    } else {
        zeroOffset_ = 0;
        CBZERO->setVisible(true);
        CBNOZERO->setVisible(false);
        eZeroed->setState(false);
    }
}

void MainFrm::dIGITSuP_Click() {
    if (scale_.totalDigits < 5) {
        scale_.totalDigits = std::int16_t(scale_.totalDigits + 1);
        scale_.decimalPlaces = 0;  // rescales at the next refresh
        chartScaleForced_ = true;
        enableButton(dIGITSdOWN, true);
    } else {
        dIGITSuP->setButtonEnabled(false);
    }
}

void MainFrm::dIGITSdOWN_Click() {
    if (scale_.totalDigits > 2) {
        scale_.totalDigits = std::int16_t(scale_.totalDigits - 1);
        scale_.decimalPlaces = 0;
        chartScaleForced_ = true;
        enableButton(dIGITSuP, true);
    } else {
        dIGITSdOWN->setButtonEnabled(false);
    }
}

void MainFrm::mmmode_Click() {
    deltaMode_ = !deltaMode_;
    mmmode->setCaption(deltaMode_ ? QStringLiteral("Delta") : QStringLiteral("Normal"));
}

void MainFrm::eLCD1_DblClick() {
    if (QClipboard *clipboard = QGuiApplication::clipboard()) clipboard->setText(eLCD1->caption());
    if (deltaMode_) {
        // The next packet sets both.
        minValue_ = 9999999;
        maxValue_ = -9999999;
    }
}

void MainFrm::sectimer_Timer() {
    Persec->setCaption(QString::number(packetCount_));
    packetCount_ = 0;
}

void MainFrm::NoCommsTimer_Timer() {
    NoCommsLabel->setVisible(true);
    eLCD1->setCaption(QString(eLCD1->digits(), QLatin1Char('-')));
    setLinkQuality(0);
    setButtonStates();
}

void MainFrm::writeLogRow(const QString &value) {
    if (log_) log_->writeRow(value);
}

}  // namespace lyx::viewer
