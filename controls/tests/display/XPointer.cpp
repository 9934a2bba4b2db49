#include "XPointer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace lyx::controls::test {

namespace {
const QString kProgram = QStringLiteral("xdotool");
}

bool XPointer::available() {
    return !QStandardPaths::findExecutable(kProgram).isEmpty();
}

::testing::AssertionResult XPointer::moveTo(QPoint native) {
    return run({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(native.x()),
                QString::number(native.y())});
}

::testing::AssertionResult XPointer::click() {
    return run({QStringLiteral("click"), QStringLiteral("1")});
}

::testing::AssertionResult XPointer::tapShift() {
    return run({QStringLiteral("key"), QStringLiteral("shift")});
}

::testing::AssertionResult XPointer::pointerIsFree() {
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return ::testing::AssertionFailure() << "no connection to the X display";
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_grab_pointer_reply_t *reply = xcb_grab_pointer_reply(
        connection,
        xcb_grab_pointer(connection, 0, root, 0, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC, XCB_NONE,
                         XCB_NONE, XCB_CURRENT_TIME),
        nullptr);
    const int status = reply ? reply->status : -1;
    std::free(reply);
    if (status == XCB_GRAB_STATUS_SUCCESS) xcb_ungrab_pointer(connection, XCB_CURRENT_TIME);
    xcb_disconnect(connection);  // sends the ungrab, and would end the grab anyway
    if (status == XCB_GRAB_STATUS_SUCCESS) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << (status == XCB_GRAB_STATUS_ALREADY_GRABBED ? "the pointer is grabbed"
                                                         : "the grab attempt failed")
           << " (status " << status << ")";
}

QPoint XPointer::centreOf(const QWidget &widget) {
    // Qt's global coordinates are device independent; xdotool's are the screen's pixels.
    const QPointF logical = widget.mapToGlobal(QPointF(widget.rect().center()));
    return (logical * widget.devicePixelRatioF()).toPoint();
}

::testing::AssertionResult XPointer::run(const QStringList &arguments) {
    const std::string command =
        (kProgram + QLatin1Char(' ') + arguments.join(QLatin1Char(' '))).toStdString();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(kProgram, arguments);
    if (!process.waitForStarted(kDisplayWaitMs))
        return ::testing::AssertionFailure()
               << command << " did not start: " << process.errorString().toStdString();
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kDisplayWaitMs)) {
        process.kill();
        process.waitForFinished();
        return ::testing::AssertionFailure() << command << " did not end";
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return ::testing::AssertionFailure() << command << " failed (" << process.exitCode()
                                             << "): " << process.readAll().toStdString();
    return ::testing::AssertionSuccess();
}

}  // namespace lyx::controls::test
