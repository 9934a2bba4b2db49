#pragma once

#include "LineChart.h"
#include "ProgramState.h"

#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/unknown.hpp"

#include <QString>
#include <QWidget>

#include <cstdint>
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

class MessagePump;
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

    const ProgramState &program() const { return program_; }
    std::int32_t followedTag() const { return followedTag_; }
    LineChart *chart() const { return chart_.get(); }

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
    class PacketSink;

    void createControls();
    void createLcdBottom();
    void createBottomPanel();
    void describeControls();

    // Start-up and shutdown.
    void applyStoredGeometry();
    void applyDeltaSwitch();
    bool createComponent(QString &failure);
    void runShutdown();
    void storeGeometry();

    // Layout.
    void Form_Resize();
    void eLCDContainer1_Resize();

    // Search and the button rule.
    void btnSearch_Click();
    void setButtonStates();
    void initialiseChart();

    StartupOptions options_;
    ProgramState program_;

    // The component.
    platform::Ref<dataprovider::IDataProvider> DP;
    MessagePump *pump_ = nullptr;

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
    controls::eLCDText *VersionLabel = nullptr;

    QTimer *NoCommsTimer = nullptr;
    QTimer *sectimer = nullptr;
    QTimer *KeepAwakeTimer = nullptr;

    // Display state.
    std::int32_t followedTag_ = 0;
    std::int32_t previousTag_ = 0;
    double searchStartTime_ = 0;
    std::int16_t integerDigits_ = 0;
    std::int16_t decimalPlaces_ = 0;
    std::int16_t totalDigits_ = 5;
    bool recordMode_ = false;
    std::unique_ptr<LineChart> chart_;

    // The window's outer size in pixels still to be set once the window manager has given
    // the window its frame (the stored size is the outer one).
    std::optional<QSize> pendingOuterSize_;
    bool loaded_ = false;
    bool shutDown_ = false;
    bool resizingContainer_ = false;
};

}  // namespace lyx::viewer
