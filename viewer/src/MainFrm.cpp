// The main window's structure: its panels, labels, indicators, bar and buttons, their looks,
// texts and accessible descriptions, and how they are laid out when the window or the LCD
// container changes size.

#include "MainFrm.h"

#include "Accessibility.h"
#include "ChartScaleSwitch.h"
#include "FileModule.h"
#include "LogRows.h"
#include "MessagePump.h"
#include "PacketSink.h"
#include "PictureBox.h"
#include "WindowFrame.h"

#include "lyx/controls/ButtonArt.h"
#include "lyx/controls/ImageButton.h"
#include "lyx/controls/PropertyBag.h"
#include "lyx/controls/Twips.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDBar.h"
#include "lyx/controls/eLCDContainer.h"
#include "lyx/controls/eLCDText.h"
#include "lyx/platform/clock.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

namespace lyx::viewer {

using controls::eLCD;
using controls::eLCDBar;
using controls::eLCDContainer;
using controls::eLCDText;
using controls::ImageButton;
using controls::OleColor;
using controls::rgbColour;
namespace art = controls::art;

namespace {

// The LCD look: red light on a near-black face, the unlit segments a dark red.
constexpr OleColor kPanelColour = rgbColour(53, 53, 53);
constexpr OleColor kLitColour = rgbColour(255, 0, 0);
constexpr OleColor kUnlitColour = rgbColour(64, 0, 0);
constexpr OleColor kVersionColour = rgbColour(190, 190, 190);

// Initial geometry, twips.
constexpr double kBottomPanelHeight = 855;
constexpr double kChartPanelHeight = 975;
constexpr double kChartPanelWidth = 3015;
constexpr double kLcdBottomWidth = 11655;
constexpr double kLcdBottomHeight = 1275;
constexpr double kButtonSize = 600;
constexpr double kButtonTop = 128;

// Places of the labels on LCDBottom, twips: two rows.
constexpr double kRow1 = 90;
constexpr double kRow2 = 720;

QString text(const char *latin1) {
    return QString::fromLatin1(latin1);
}

}  // namespace

MainFrm::MainFrm(StartupOptions options, QWidget *parent)
    : QWidget(parent), options_(std::move(options)), clock_(&platform::timeOfDay) {
    setObjectName(QStringLiteral("MainFrm"));
    setWindowTitle(QStringLiteral("Lyx Glance"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    createControls();
    describeControls();
    chartScaleSwitch_ = new ChartScaleSwitch(ChartPanel);
    connect(chartScaleSwitch_, &ChartScaleSwitch::toggled, this, &MainFrm::chartScale_Toggled);
    auto *modulesKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_M), this);
    connect(modulesKey, &QShortcut::activated, this, &MainFrm::CBMODULES_Click);

    NoCommsTimer = new QTimer(this);
    NoCommsTimer->setObjectName(QStringLiteral("NoCommsTimer"));
    NoCommsTimer->setInterval(kLostSignalTime);
    sectimer = new QTimer(this);
    sectimer->setObjectName(QStringLiteral("sectimer"));
    sectimer->setInterval(1000);
    KeepAwakeTimer = new QTimer(this);
    KeepAwakeTimer->setObjectName(QStringLiteral("KeepAwakeTimer"));
    KeepAwakeTimer->setInterval(3000);
    connectControls();
}

MainFrm::~MainFrm() {
    // A window destroyed without being closed still closes its link and releases the
    // component.
    if (loaded_ && !shutDown_) runShutdown();
}

double MainFrm::twipsX(int pixels) const {
    return controls::twips::fromPixelsX(*this, pixels);
}
double MainFrm::twipsY(int pixels) const {
    return controls::twips::fromPixelsY(*this, pixels);
}
int MainFrm::pixelsX(double twips) const {
    return controls::twips::wholePixelsX(*this, twips);
}
int MainFrm::pixelsY(double twips) const {
    return controls::twips::wholePixelsY(*this, twips);
}

void MainFrm::createControls() {
    // The LCD container fills the client area; its stored look is scheme 4 (red light) on the
    // panels' dark grey.
    eLCDContainer1 = new eLCDContainer(this);
    eLCDContainer1->setObjectName(QStringLiteral("eLCDContainer1"));
    controls::PropertyBag stored;
    stored.writeColour(u"BackColor", kPanelColour);
    stored.writeColour(u"OnColor", kLitColour);
    stored.writeColour(u"OffColor", kUnlitColour);
    stored.writeInt(u"Scheme", 4);
    eLCDContainer1->readProperties(stored);
    connect(eLCDContainer1, &eLCDContainer::Resize, this, &MainFrm::eLCDContainer1_Resize);

    ChartPanel = new PictureBox(eLCDContainer1);
    ChartPanel->setObjectName(QStringLiteral("ChartPanel"));
    ChartPanel->setBackColor(kPanelColour);
    ChartPanel->resize(pixelsX(kChartPanelWidth), pixelsY(kChartPanelHeight));

    LCDBottom = new PictureBox(eLCDContainer1);
    LCDBottom->setObjectName(QStringLiteral("LCDBottom"));
    LCDBottom->setBackColor(kPanelColour);
    LCDBottom->resize(pixelsX(kLcdBottomWidth), pixelsY(kLcdBottomHeight));

    eLCD1 = new eLCD(eLCDContainer1);
    eLCD1->setObjectName(QStringLiteral("eLCD1"));
    eLCD1->setBackColor(kPanelColour);
    eLCD1->setOnColor(kLitColour);
    eLCD1->setOffColor(kUnlitColour);
    eLCD1->setDigits(6);
    eLCD1->setCaption(QString(6, QLatin1Char('-')));

    createLcdBottom();
    createBottomPanel();
}

void MainFrm::createLcdBottom() {
    const auto label = [this](const char *name, const char *caption, double left, double top) {
        auto *t = new eLCDText(LCDBottom);
        t->setObjectName(text(name));
        t->setBackColor(kPanelColour);
        t->setOnColor(kLitColour);
        t->setOffColor(kUnlitColour);
        t->setCaption(text(caption));
        t->setState(true);
        t->move(pixelsX(left), pixelsY(top));
        accessibility::watch(t);
        return t;
    };
    eLCDText2 = label("eLCDText2", "Data Tag:", 120, kRow1);
    TagLabel = label("TagLabel", "FFFF", 1560, kRow1);
    eLCDText1 = label("eLCDText1", "PPS:", 2820, kRow1);
    Persec = label("Persec", "0", 3480, kRow1);
    ChannelLabel = label("ChannelLabel", "RF Channel: ", 4740, kRow1);
    SearchLabel = label("SearchLabel", "Searching...", 7620, kRow1);
    mmmode = label("mmmode", "Normal", 10020, kRow1);
    mmmode->setVisible(false);  // shown only with the "delta" switch

    eZeroed = label("eZeroed", "Zeroed", 120, kRow2);
    eError = label("eError", "Error", 1560, kRow2);
    eLoBatt = label("eLoBatt", "Lo Batt", 2820, kRow2);
    for (eLCDText *indicator : {eZeroed, eError, eLoBatt}) {
        indicator->setState(false);  // unlit until its condition holds
        accessibility::setRole(indicator, QAccessible::CheckBox);
    }
    accessibility::setRole(mmmode, QAccessible::Button);

    eLCDText3 = label("eLCDText3", "LQI", 4740, kRow2);
    eLCDText4 = label("eLCDText4", "0%", 5400, kRow2);
    eLQI = new eLCDBar(LCDBottom);
    eLQI->setObjectName(QStringLiteral("eLQI"));
    eLQI->setBackColor(kPanelColour);
    eLQI->setOnColor(kLitColour);
    eLQI->setOffColor(kUnlitColour);
    eLQI->setGeometry(pixelsX(6000), pixelsY(kRow2), pixelsX(2400), pixelsY(330));
    eLCDText5 = label("eLCDText5", "100%", 8520, kRow2);
    NoCommsLabel = label("NoCommsLabel", "Lost Signal!", 9600, kRow2);
    NoCommsLabel->setVisible(false);
}

void MainFrm::createBottomPanel() {
    BottomPanel = new PictureBox(this);
    BottomPanel->setObjectName(QStringLiteral("BottomPanel"));
    BottomPanel->setBackColor(kPanelColour);
    BottomPanel->resize(pixelsX(12000), pixelsY(kBottomPanelHeight));

    const QSize size(pixelsX(kButtonSize), pixelsY(kButtonSize));
    const auto button = [&](const char *name, art::ButtonIcon icon, double left) {
        auto *b = new ImageButton(BottomPanel);
        b->setObjectName(text(name));
        b->setGeometry(pixelsX(left), pixelsY(kButtonTop), size.width(), size.height());
        art::applyButtonArt(*b, icon, size);
        accessibility::watch(b);
        return b;
    };
    // Grouped: finding modules, the value's display, logging, module commands.
    btnSearch = button("btnSearch", art::ButtonIcon::Search, 120);
    ImageButton2 = button("ImageButton2", art::ButtonIcon::Pair, 780);
    CBZERO = button("CBZERO", art::ButtonIcon::Zero, 1620);
    CBNOZERO = button("CBNOZERO", art::ButtonIcon::Gross, 1620);
    dIGITSdOWN = button("dIGITSdOWN", art::ButtonIcon::DigitsDown, 2280);
    dIGITSuP = button("dIGITSuP", art::ButtonIcon::DigitsUp, 2940);
    CBLOG = button("CBLOG", art::ButtonIcon::Log, 3780);
    CBSTOPLOG = button("CBSTOPLOG", art::ButtonIcon::StopLog, 3780);
    CBVIEW = button("CBVIEW", art::ButtonIcon::ViewLog, 4440);
    SLEEPBYTAG = button("SLEEPBYTAG", art::ButtonIcon::Sleep, 5280);
    bROADCASTwake = button("bROADCASTwake", art::ButtonIcon::Wake, 5940);
    CBMODULES = button("CBMODULES", art::ButtonIcon::Modules, 6780);
    CBNOZERO->setVisible(false);
    CBSTOPLOG->setVisible(false);
    CBVIEW->setButtonEnabled(false);  // until a log has been written

    VersionLabel = new eLCDText(BottomPanel);
    VersionLabel->setObjectName(QStringLiteral("VersionLabel"));
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(8);
    VersionLabel->setControlFont(small);
    VersionLabel->setBackColor(kPanelColour);
    VersionLabel->setOnColor(kVersionColour);
    VersionLabel->setOffColor(kPanelColour);
    VersionLabel->setState(true);
    VersionLabel->setCaption(QStringLiteral("Version information:..."));
    accessibility::watch(VersionLabel);
}

void MainFrm::describeControls() {
    const auto describe = [](QWidget *w, const QString &name, const QString &tip) {
        if (!name.isEmpty()) w->setAccessibleName(name);
        w->setToolTip(tip);
        w->setAccessibleDescription(tip);
    };
    describe(btnSearch, text("Search"),
             text("Search for another module. The data from another module will be displayed if "
                  "found. If no module is found the current one will continue to be displayed"));
    describe(ImageButton2, text("Pair"),
             text("Pair to another device. This is only required if the RF channel of a "
                  "required module is different to that of the base station. After clicking "
                  "this button you have 10 seconds to remove and re-apply power to the desired "
                  "module"));
    describe(SLEEPBYTAG, text("Sleep"), text("Send the acquisition module to sleep"));
    describe(bROADCASTwake, text("Wake all"), text("Wake all modules on this RF channel"));
    describe(CBMODULES, text("All modules"), text("Show every module heard"));
    describe(CBZERO, text("Zero"), text("Zero the display"));
    describe(CBNOZERO, text("Gross"), text("Revert the display back to actual gross value"));
    describe(dIGITSuP, text("More decimals"),
             text("Increase the number of decimal places displayed"));
    describe(dIGITSdOWN, text("Fewer decimals"),
             text("Decrease the number of decimal places displayed"));
    describe(CBLOG, text("Log"), text("Start logging the data to a CSV file"));
    describe(CBSTOPLOG, text("Stop log"), text("Stop logging the data"));
    describe(CBVIEW, text("View log"),
             text("Try and open the logged data in a program that supports CSV files"));

    // The labels whose captions change carry a fixed description, also their tooltip.
    describe(TagLabel, {}, text("Data tag"));
    describe(Persec, {}, text("Packets per second"));
    describe(ChannelLabel, {}, text("Radio channel"));
    describe(SearchLabel, {}, text("Search"));
    describe(NoCommsLabel, {}, text("Signal"));
    VersionLabel->setAccessibleDescription(text("Versions"));
    VersionLabel->setToolTip(text("Versions"));
    describe(eLCD1, {}, text("Value"));
    eLCD1->setToolTip(text("The followed module's value. Double-click to copy it"));
    describe(mmmode, {}, text("Display mode"));
    mmmode->setToolTip(text("Click to switch between the value and the spread (max - min)"));

    describe(eLCDText2, {}, text("Data tag of the module shown"));
    describe(eLCDText1, {}, text("Packets received from it each second"));
    describe(eZeroed, {}, text("The value is shown zeroed (net)"));
    describe(eError, {}, text("The module reports an error"));
    describe(eLoBatt, {}, text("The module's battery is low"));
    describe(eLCDText3, {}, text("Link quality"));
    describe(eLQI, {}, text("Link quality"));
    describe(eLCDText4, {}, text("Link quality scale"));
    describe(eLCDText5, {}, text("Link quality scale"));
}

void MainFrm::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

bool MainFrm::event(QEvent *event) {
    // The stored size is the window's outer size; the frame is known only once the window
    // manager has framed the window, so the client size is set again then.
    if (pendingOuterSize_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                              event->type() == QEvent::Show)) {
        const QMargins frame = windowFrame(*this);
        if (!frame.isNull()) {
            const QSize outer = *pendingOuterSize_;
            pendingOuterSize_.reset();
            resize(outer.width() - frame.left() - frame.right(),
                   outer.height() - frame.top() - frame.bottom());
        }
    }
    return QWidget::event(event);
}

void MainFrm::Form_Resize() {
    if (eLCDContainer1 == nullptr || isMinimized()) return;
    const int w = width();
    const int h = height();
    eLCDContainer1->setGeometry(0, 0, w, h);
    BottomPanel->setGeometry(0, h - BottomPanel->height(), w, BottomPanel->height());
    BottomPanel->raise();
    VersionLabel->move(w - VersionLabel->width() - pixelsX(80),
                       (BottomPanel->height() - VersionLabel->height()) / 2);
}

void MainFrm::eLCDContainer1_Resize() {
    if (resizingContainer_) return;
    resizingContainer_ = true;
    const int cw = eLCDContainer1->width();
    const int ch = eLCDContainer1->height();
    // The display fixes its own height from its width and digit count; laid out before it is
    // shown, it is given that height at once.
    const int lcdWidth = std::max(0, cw - pixelsX(32));
    const int lcdHeight = std::max(0, ch - pixelsY(32));
    eLCD1->setGeometry(pixelsX(16), pixelsY(16), lcdWidth,
                       eLCD1->isVisible() ? lcdHeight : eLCD1->heightForWidth(lcdWidth));
    const int displayHeight =
        eLCD1->isVisible() ? eLCD1->height() : eLCD1->heightForWidth(lcdWidth);
    ChartPanel->move(cw - ChartPanel->width() - pixelsX(64), displayHeight + pixelsY(64));
    LCDBottom->move(pixelsX(64), displayHeight + ChartPanel->height() + pixelsY(128));
    resizingContainer_ = false;
}

}  // namespace lyx::viewer

namespace lyx::viewer {

void MainFrm::CBLOG_Click() {
    if (!log_) return;
    log_->ToggleLogging(this, defaultLogName(followedTag_, QDate::currentDate()));
}

void MainFrm::CBVIEW_Click() {
    if (log_) log_->ViewLog();
}

}  // namespace lyx::viewer
