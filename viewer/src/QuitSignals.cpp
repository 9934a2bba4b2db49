#include "QuitSignals.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace lyx::viewer {

namespace {

// The pipe's write end for the signal handler; a handler can reach nothing else.
std::atomic<int> signalPipe{-1};

extern "C" void onQuitSignal(int) {
    const int saved = errno;
    const int fd = signalPipe.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

}  // namespace

QuitSignals::QuitSignals(std::function<void()> quit, QObject *parent)
    : QObject(parent), quit_(std::move(quit)) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
    signalPipe.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::received);
    struct sigaction action {};
    action.sa_handler = &onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

QuitSignals::~QuitSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
    signalPipe.store(-1);
    delete notifier_;
    for (int fd : pipe_)
        if (fd >= 0) ::close(fd);
}

void dismissModalWindows() {
    while (QWidget *modal = QApplication::activeModalWidget()) {
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal) break;  // it would not go
    }
}

void QuitSignals::received() {
    char buffer[64];
    while (::read(pipe_[0], buffer, sizeof buffer) > 0) {
    }
    if (quit_) quit_();
}

}  // namespace lyx::viewer
