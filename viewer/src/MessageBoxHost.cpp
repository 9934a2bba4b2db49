#include "MessageBoxHost.h"

#include "LyxPlatform.h"

#include <QApplication>
#include <QThread>

namespace lyx::viewer {

namespace {

constexpr std::uint32_t kButtonMask = 0x0F;
constexpr std::uint32_t kIconMask = 0xF0;

int showOnGuiThread(const QString &text, const QString &caption, std::uint32_t flags) {
    const MessageBoxLook look = messageBoxLook(flags);
    QMessageBox box(look.icon, caption, text, look.buttons, QApplication::activeWindow());
    box.setDefaultButton(look.defaultButton);
    box.setWindowModality(Qt::ApplicationModal);
    const int pressed = box.exec();
    return messageBoxAnswer(QMessageBox::StandardButton(pressed), flags);
}

int showQtMessageBox(void *, const char *text, const char *caption, std::uint32_t flags) {
    auto *app = QCoreApplication::instance();
    if (app == nullptr) return LYX_IDOK;
    // The texts of the system keep CR LF line breaks; a Qt box breaks at LF.
    QString body = QString::fromUtf8(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QString title = QString::fromUtf8(caption);
    if (QThread::currentThread() == app->thread()) return showOnGuiThread(body, title, flags);
    int answer = LYX_IDOK;
    QMetaObject::invokeMethod(
        app, [&] { answer = showOnGuiThread(body, title, flags); }, Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace

MessageBoxLook messageBoxLook(std::uint32_t flags) {
    MessageBoxLook look;
    switch (flags & kButtonMask) {
        case LYX_MB_OKCANCEL:
            look.buttons = QMessageBox::Ok | QMessageBox::Cancel;
            look.defaultButton = QMessageBox::Ok;
            break;
        case LYX_MB_YESNO:
            look.buttons = QMessageBox::Yes | QMessageBox::No;
            look.defaultButton = QMessageBox::Yes;
            break;
        default:
            break;
    }
    switch (flags & kIconMask) {
        case LYX_MB_ICONERROR:
            look.icon = QMessageBox::Critical;
            break;
        case LYX_MB_ICONQUESTION:
            look.icon = QMessageBox::Question;
            break;
        case LYX_MB_ICONWARNING:
            look.icon = QMessageBox::Warning;
            break;
        case LYX_MB_ICONINFORMATION:
            look.icon = QMessageBox::Information;
            break;
        default:
            break;
    }
    return look;
}

int messageBoxAnswer(QMessageBox::StandardButton pressed, std::uint32_t flags) {
    switch (pressed) {
        case QMessageBox::Ok:
            return LYX_IDOK;
        case QMessageBox::Cancel:
            return LYX_IDCANCEL;
        case QMessageBox::Yes:
            return LYX_IDYES;
        case QMessageBox::No:
            return LYX_IDNO;
        default:
            break;
    }
    switch (flags & kButtonMask) {
        case LYX_MB_OKCANCEL:
            return LYX_IDCANCEL;
        case LYX_MB_YESNO:
            return LYX_IDNO;
        default:
            return LYX_IDOK;
    }
}

void installQtMessageBoxes() {
    LyxSetMessageBoxHandler(&showQtMessageBox, nullptr);
}

}  // namespace lyx::viewer
