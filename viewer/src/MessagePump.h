#pragma once

#include <QObject>

class QSocketNotifier;

namespace lyx::viewer {

/// Dispatches the calling thread's platform messages (the driver's frames and device
/// notices) from Qt's event loop: the thread's message descriptor is watched by a socket
/// notifier, and whenever it polls readable the waiting messages are dispatched. No timer is
/// involved; a quiet link costs nothing.
///
/// Make it on the thread that opens the link (the GUI thread), and keep it for as long as
/// the link is open.
class MessagePump : public QObject {
    Q_OBJECT
  public:
    explicit MessagePump(QObject *parent = nullptr);

    /// False when the thread's message queue could not be made.
    bool ok() const { return notifier_ != nullptr; }
    /// Messages dispatched so far.
    quint64 dispatched() const { return dispatched_; }

  private:
    void pump();

    QSocketNotifier *notifier_ = nullptr;
    quint64 dispatched_ = 0;
};

}  // namespace lyx::viewer
