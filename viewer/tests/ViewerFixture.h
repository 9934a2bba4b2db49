#pragma once
// What the viewer's window tests share: a folder of their own for settings, the class
// registry, the driver's private copies and the virtual USB bus; the component registered
// there; an in-process base-station simulator on that bus; and a record of the message
// boxes the program shows.

#include "MainFrm.h"

#include "lyx/platform/library.hpp"
#include "lyx/platform/variant.hpp"
#include "lyx/sim/simulator.hpp"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

namespace lyx::viewer::testing {

struct ShownBox {
    QString text;
    QString caption;
    std::uint32_t flags = 0;
};

/// Records every LyxMessageBox instead of showing it, and answers OK.
class MessageBoxRecorder {
  public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder &) = delete;
    MessageBoxRecorder &operator=(const MessageBoxRecorder &) = delete;

    std::vector<ShownBox> shown;
};

/// Sets an environment variable for the scope (no value: unsets it).
class ScopedEnv {
  public:
    ScopedEnv(const char *name, const QString &value, bool set = true);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

  private:
    QByteArray name_;
    QByteArray old_;
    bool had_;
};

class ViewerTest : public ::testing::Test {
  protected:
    ViewerTest();
    ~ViewerTest() override;

    /// Registers the component in this test's registry.
    void registerComponent();
    /// Base station 1 on the virtual USB bus, on `channel`.
    void addUsbStation(std::uint8_t channel = 1);
    /// A float module sending `value` `rate` times a second.
    void addModule(std::uint32_t id, std::uint16_t tag, double rate, double value = 12.5);

    /// A window with the program's folder in this test's folder and `commandLine`.
    std::unique_ptr<MainFrm> makeWindow(const QString &commandLine = {}, std::int16_t port = 0,
                                        std::int32_t baudRate = 0);
    /// Closes the window as the user does, running the shutdown.
    static void closeWindow(MainFrm &window);

    QString path(const QString &name) const { return folder_.filePath(name); }
    /// config.ini in the per-user folder.
    QString iniFile() const { return path(QStringLiteral("config/LyxGlance/config.ini")); }
    QString programFolder() const { return path(QStringLiteral("program")); }

    template <class T>
    static T *control(MainFrm &window, const char *name) {
        T *found = window.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    QTemporaryDir folder_;
    std::unique_ptr<ScopedEnv> config_, registry_, tmp_, vhid_, ports_;
    platform::DynamicLibrary component_;
    MessageBoxRecorder boxes_;
    std::unique_ptr<sim::Simulator> sim_;
};

/// A running window on a simulated USB base station (no modules), its clock in the test's
/// hands, fed frames through the component's TriggerEvent as the driver delivers them.
class RunningWindowTest : public ViewerTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    void open(const QString &commandLine = {});
    /// Delivers `frame` now.
    void feed(platform::ByteArray frame);
    /// Delivers `frame` after the display's refresh interval, so that it refreshes.
    void refreshWith(platform::ByteArray frame);

    double now = 36000;  ///< seconds since midnight: 10:00:00
    std::unique_ptr<MainFrm> window;
};

}  // namespace lyx::viewer::testing
