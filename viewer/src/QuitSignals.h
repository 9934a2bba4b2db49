#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace lyx::viewer {

/// Turns SIGTERM, SIGINT and SIGHUP into a call on the GUI thread, so that a viewer ended by
/// the session, a service manager or Ctrl-C closes its window as the user would: the log file
/// is closed, the link shut and the window's place stored. The signal handler only writes to
/// a pipe; the call comes from the event loop. One instance per program.
class QuitSignals : public QObject {
    Q_OBJECT
  public:
    explicit QuitSignals(std::function<void()> quit, QObject *parent = nullptr);
    ~QuitSignals() override;

  private:
    void received();

    std::function<void()> quit_;
    QSocketNotifier *notifier_ = nullptr;
    int pipe_[2] = {-1, -1};
};

/// Closes every modal window, the innermost first, as Escape would: a message box returns
/// its Cancel, No or OK answer, a file dialog its cancel.
void dismissModalWindows();

}  // namespace lyx::viewer
