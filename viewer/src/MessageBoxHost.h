#pragma once

#include <cstdint>

#include <QMessageBox>
#include <QString>

namespace lyx::viewer {

/// How a message box request (text, caption, flags of LyxMessageBox) looks as a Qt box.
struct MessageBoxLook {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
};

/// The icon and buttons the flags ask for (LYX_MB_...): OK, OK and Cancel, or Yes and No;
/// the error, question, warning or information icon, or none.
MessageBoxLook messageBoxLook(std::uint32_t flags);

/// The LYX_ID... answer for the button pressed (a box closed without a button gives the
/// Cancel or No answer where there is one, else OK).
int messageBoxAnswer(QMessageBox::StandardButton pressed, std::uint32_t flags);

/// Shows the message boxes that the platform, the component and the viewer ask for
/// (LyxMessageBox) as modal Qt message boxes over the active window, with the title, icon,
/// buttons and text they are given. Requests from other threads are shown on the GUI thread
/// while the caller waits.
void installQtMessageBoxes();

}  // namespace lyx::viewer
