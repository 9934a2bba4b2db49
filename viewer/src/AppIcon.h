#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

class QPainter;
class QRectF;
class QWidget;

namespace lyx::viewer {

/// The program's icon, "AAA": a red seven-segment reading over a green trend line on the
/// LCD's dark face, with a radio wave. Drawn by code at any size, so one drawing gives the
/// 16, 32 and 48 pixel images, the installed theme icons and the scalable one.
void paintAppIcon(QPainter &painter, const QRectF &box);

/// The icon drawn `size` pixels square, on a transparent background.
QImage appIconImage(int size);

/// The icon named `resourceName` ("AAA" is the program's icon, with 16, 32 and 48 pixel
/// images); a null icon for any other name.
QIcon appIcon(const QString &resourceName);

/// Gives `window` the icon `resourceName` for its title bar and task bar entry. With
/// `alsoOwner` the icon also goes to the window's top-level owner (the application's default
/// window icon, which dialogs and the task bar use).
void SetAppIcon(QWidget *window, const QString &resourceName, bool alsoOwner);

}  // namespace lyx::viewer
