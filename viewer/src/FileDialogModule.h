#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace lyx::viewer {

/// A save-file dialog: `title`, the name `filters` ("CSV Files (*.csv)", ...), opened in
/// `initialFolder` with `fileName` proposed. A name typed without extension gets the selected
/// filter's extension when it has exactly one, else `defaultExtension`. With
/// `overwritePrompt` an existing file is replaced only after the user agreed.
///
/// Returns the chosen full path, and then also sets `initialFolder` to its folder and
/// `fileName` to its name; empty text (both left as they were) when cancelled.
QString ShowSaveDialog(QWidget *owner, const QStringList &filters, const QString &defaultExtension,
                       QString &initialFolder, const QString &title, QString &fileName,
                       bool overwritePrompt);

}  // namespace lyx::viewer
