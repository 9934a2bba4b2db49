#pragma once

#include "DisplayRules.h"
#include "LineChart.h"
#include "ProgramState.h"

#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/unknown.hpp"
#include "lyx/tags/tag_table.hpp"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace lyx::controls {
class ImageButton;
class eLCD;
class eLCDBar;
class eLCDContainer;
class eLCDText;
}  // namespace lyx::controls

namespace lyx::viewer {

class ChartScaleSwitch;
class FileModule;
class ModulesWindow;
class MessagePump;
class PacketSink;
class PictureBox;

/// How the program was started.
struct StartupOptions {
    /// The program's own folder: where config.ini goes when the per-user folder cannot be
    /// had, and the first folder offered for log files. Empty: the executable's folder.
    QString programFolder;
    /// The executable's name without extension: the per-user folder's name and the title of
    /// the message shown when the component is missing.
    QString executableName = QStringLiteral("LyxGlance");
    /// The command line after the program name, as one text (the "delta" switch is looked
    /// for in it).
    QString commandLine;
    /// Serial base station: port number and baud rate; port 0 is the USB base stations.
    std::int16_t port = 0;
    std::int32_t baudRate = 0;
};

/// The viewer's main window: the value of one acquisition module on a seven-segment display,
/// its tag, link quality, packets per second and status indicators, a trend chart and a row
/// of command buttons.
///
/// Life: construct (the window and its controls exist, nothing is running), `load()` (the
/// start-up: configuration, the DataProvider component, the link, the first search), then
/// show and run the event loop. Closing the window, for any reason, runs the shutdown: the
/// timers stop, the link is closed, the component released and the window's place stored.
///
/// Everything runs on the GUI thread: window events, the timers and the component's events
/// (which arrive while the event loop dispatches the thread's platform messages).
class MainFrm : public QWidget {
    Q_OBJECT
  public:
    /// The outcome of the start-up.
    enum class LoadResult {
        Running,  ///< the window runs; show it
        Ended,    ///< the component could not be created: end the program at once
        Closed,   ///< the link could not be opened: the window was closed, end the program
    };

    explicit MainFrm(StartupOptions options = {}, QWidget *parent = nullptr);
    ~MainFrm() override;

    /// Start-up, steps in order: timer resolution, locale, configuration folder and file,
    /// window place, "delta" switch, icon, the component and its versions, the link, the
    /// base-station channel, the display scale, panels, the first search, layout and the
    /// minimum size. Message boxes report what fails.
    LoadResult load();

    /// Whether the shutdown has run.
    bool shutDown() const { return shutDown_; }

    /// The component's PacketArrived event: follows one module and shows its value (see the
    /// file that implements it for the steps). Packets of other modules are ignored once one
    /// is followed.
    void DP_PacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                          std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV, bool &BattLow,
                          bool &Error);

    const ProgramState &program() const { return program_; }
    /// The component, for tests that feed it frames (TriggerEvent).
    dataprovider::IDataProvider *dataProvider() const { return DP.get(); }
    std::int32_t followedTag() const { return followedTag_; }
    LineChart *chart() const { return chart_.get(); }
    const DisplayScale &scale() const { return scale_; }
    bool recordMode() const { return recordMode_; }
    bool deltaMode() const { return deltaMode_; }
    float zeroOffset() const { return zeroOffset_; }
    float minValue() const { return minValue_; }
    float maxValue() const { return maxValue_; }
    /// The clock of the search window and the display refresh, in seconds since midnight
    /// (the local time of day by default); tests give their own.
    void setClock(std::function<double()> secondsSinceMidnight) {
        clock_ = std::move(secondsSinceMidnight);
    }

    /// How long a module may stay silent before the window shows the lost signal.
    static constexpr int kLostSignalTime = 3000;  // milliseconds

    /// Every module heard since start-up (all stations), as the module list shows it.
    const tags::TagTable &tagTable() const { return tagTable_; }
    /// The clock of the module list (when each module was heard); tests give their own.
    void setModuleClock(std::function<tags::TagTable::Clock::time_point()> now) {
        moduleClock_ = std::move(now);
    }
    /// The window "All modules", once it was opened (null before).
    ModulesWindow *modulesWindow() const { return modules_; }
    /// Opens the window "All modules", or raises it when it is open (the button All modules
    /// and Ctrl+M).
    void showModules();
    /// Follows the module of `tag` at once, as a search that lands on it would: the title,
    /// the tag, the display (its last reading, or the lost signal when it has gone quiet),
    /// the chart started afresh; a running log continues with the new module's rows.
    void followTag(std::int32_t tag);
    /// The trend chart's scale: the fixed one (false) or the auto scale (true).
    bool chartAutoScale() const;

    /// The CSV log, once the start-up has found the program's folders.
    FileModule *fileModule() const { return log_.get(); }
    /// Packets of any module that reached the handler since start-up.
    std::uint64_t packetsHandled() const { return packetsHandled_; }
    /// Display refreshes since start-up (at most one per 0.3 s).
    std::uint64_t refreshes() const { return refreshes_; }

    // Geometry in twips: the units of config.ini and of the window's layout.
    double twipsX(int pixels) const;
    double twipsY(int pixels) const;
    int pixelsX(double twips) const;
    int pixelsY(double twips) const;

  protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

  private:
    void createControls();
    void createLcdBottom();
    void createBottomPanel();
    void describeControls();

    // Start-up and shutdown.
    void applyStoredGeometry();
    void applyDeltaSwitch();
    bool createComponent(QString &failure);
    /// Why the serial port could not be opened, a sentence naming the device: from the
    /// component's error when it raised one (`raised`), the rate when the port refused it
    /// (result -1), else what stands in the way of the port itself.
    QString serialPortReason(std::int16_t opened, const QString &raised) const;
    void runShutdown();
    void storeGeometry();

    // Layout.
    void Form_Resize();
    void eLCDContainer1_Resize();

    // The live display.
    void selectTag(std::int32_t tag);
    QString FormatMe(double value);
    /// The number a value text of the followed module shows (a 117-character record's first
    /// four bytes, which also puts the display in record mode); nothing when it is none.
    std::optional<double> followedValue(const std::string &Value);
    void refreshDisplay(double value, std::int16_t rssi, std::int16_t cv, bool battLow, bool error);
    void setLinkQuality(float percent);
    void CBZERO_Click();
    void dIGITSuP_Click();
    void dIGITSdOWN_Click();
    void mmmode_Click();
    void eLCD1_DblClick();
    void sectimer_Timer();
    void NoCommsTimer_Timer();

    // Search, pairing, commands and the button rule.
    void connectControls();
    void btnSearch_Click();
    void ImageButton2_Click();
    /// The base station's radio channel, 0 when it does not answer.
    int readChannel();
    void showChannel(int channel);
    void SLEEPBYTAG_Click();
    void bROADCASTwake_Click();
    void KeepAwakeTimer_Timer();
    void setButtonStates();
    void initialiseChart();
    void rescaleChart();

    // The module list and the chart's scale.
    void CBMODULES_Click();
    /// Records a packet of any module in the module list.
    void noteModule(std::uint8_t station, std::int32_t tag, const std::string &value,
                    std::uint8_t status, std::int16_t rssi, std::int16_t cv, bool battLow,
                    bool error);
    void applyStoredModules();
    /// Names the modules from the tag file that lyx and its gateway read, where there is one.
    void applyTagFile();
    void storeModules();
    void chartScale_Toggled(bool autoScale);
    /// Shows a reading of the followed module without counting, logging or charting it.
    void showLastReading(const tags::Reading &reading, bool lost);

    // CSV logging.
    void CBLOG_Click();
    void CBVIEW_Click();
    void writeLogRow(const QString &value);

    StartupOptions options_;
    ProgramState program_;

    // The component.
    platform::Ref<dataprovider::IDataProvider> DP;
    platform::Ref<PacketSink> sink_;
    std::uint32_t sinkCookie_ = 0;
    MessagePump *pump_ = nullptr;
    std::unique_ptr<FileModule> log_;

    // Window structure.
    controls::eLCDContainer *eLCDContainer1 = nullptr;
    PictureBox *ChartPanel = nullptr;
    PictureBox *LCDBottom = nullptr;
    controls::eLCD *eLCD1 = nullptr;
    controls::eLCDText *eLCDText2 = nullptr;
    controls::eLCDText *TagLabel = nullptr;
    controls::eLCDText *eLCDText1 = nullptr;
    controls::eLCDText *Persec = nullptr;
    controls::eLCDText *ChannelLabel = nullptr;
    controls::eLCDText *SearchLabel = nullptr;
    controls::eLCDText *NoCommsLabel = nullptr;
    controls::eLCDText *eZeroed = nullptr;
    controls::eLCDText *eError = nullptr;
    controls::eLCDText *eLoBatt = nullptr;
    controls::eLCDText *eLCDText3 = nullptr;
    controls::eLCDBar *eLQI = nullptr;
    controls::eLCDText *eLCDText4 = nullptr;
    controls::eLCDText *eLCDText5 = nullptr;
    controls::eLCDText *mmmode = nullptr;
    PictureBox *BottomPanel = nullptr;
    controls::ImageButton *bROADCASTwake = nullptr;
    controls::ImageButton *SLEEPBYTAG = nullptr;
    controls::ImageButton *CBZERO = nullptr;
    controls::ImageButton *CBLOG = nullptr;
    controls::ImageButton *CBSTOPLOG = nullptr;
    controls::ImageButton *CBVIEW = nullptr;
    controls::ImageButton *CBNOZERO = nullptr;
    controls::ImageButton *dIGITSdOWN = nullptr;
    controls::ImageButton *dIGITSuP = nullptr;
    controls::ImageButton *btnSearch = nullptr;
    controls::ImageButton *ImageButton2 = nullptr;
    controls::ImageButton *CBMODULES = nullptr;
    controls::eLCDText *VersionLabel = nullptr;
    ChartScaleSwitch *chartScaleSwitch_ = nullptr;
    ModulesWindow *modules_ = nullptr;

    QTimer *NoCommsTimer = nullptr;
    QTimer *sectimer = nullptr;
    QTimer *KeepAwakeTimer = nullptr;

    // Display state.
    std::int32_t followedTag_ = 0;
    std::int32_t previousTag_ = 0;
    double searchStartTime_ = 0;    ///< seconds since midnight
    std::int32_t packetCount_ = 0;  ///< of the followed module since the last second
    float lastRawValue_ = 0;
    float zeroOffset_ = 0;
    DisplayScale scale_;
    bool recordMode_ = false;
    float minValue_ = 0;
    float maxValue_ = 0;
    bool deltaMode_ = false;
    double lastDisplayTime_ = 0;  ///< seconds since midnight
    std::unique_ptr<LineChart> chart_;
    /// The scale the chart was last set up for, and whether the next rescale must set it up
    /// again whatever the scale (after a search or a change of the decimal places).
    std::int16_t chartScale_ = -1;
    bool chartScaleForced_ = true;
    tags::TagTable tagTable_{std::chrono::milliseconds(kLostSignalTime)};
    std::function<tags::TagTable::Clock::time_point()> moduleClock_ = &tags::TagTable::Clock::now;
    std::uint64_t packetsHandled_ = 0;
    std::uint64_t refreshes_ = 0;
    std::function<double()> clock_;

    // The window's outer size in pixels still to be set once the window manager has given
    // the window its frame (the stored size is the outer one).
    std::optional<QSize> pendingOuterSize_;
    bool loaded_ = false;
    bool shutDown_ = false;
    bool resizingContainer_ = false;
};

}  // namespace lyx::viewer
