#include "MessagePump.h"

#include "LyxPlatform.h"

#include <QSocketNotifier>

namespace lyx::viewer {

MessagePump::MessagePump(QObject *parent) : QObject(parent) {
    const int fd = LyxMessageFd();
    if (fd < 0) return;
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &MessagePump::pump);
}

void MessagePump::pump() {
    // The descriptor stays readable while messages wait, so what arrives during dispatch
    // wakes the loop again.
    dispatched_ += quint64(LyxPumpMessages());
}

}  // namespace lyx::viewer
