#include "FileDialogModule.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace lyx::viewer {

namespace {

// The one extension of a filter such as "CSV Files (*.csv)", or empty text.
QString singleExtension(const QString &filter) {
    static const QRegularExpression one(QStringLiteral("\\(\\s*\\*\\.(\\w+)\\s*\\)\\s*$"));
    const QRegularExpressionMatch m = one.match(filter);
    return m.hasMatch() ? m.captured(1) : QString();
}

}  // namespace

QString ShowSaveDialog(QWidget *owner, const QStringList &filters, const QString &defaultExtension,
                       QString &initialFolder, const QString &title, QString &fileName,
                       bool overwritePrompt) {
    QFileDialog dialog(owner, title, initialFolder);
    dialog.setObjectName(QStringLiteral("SaveFileDialog"));
    // Qt's own dialog everywhere, so that it looks and behaves the same on every desktop and
    // assistive tools read it the same way.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !overwritePrompt);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    const auto suffixFor = [&](const QString &filter) {
        const QString extension = singleExtension(filter);
        dialog.setDefaultSuffix(extension.isEmpty() ? defaultExtension : extension);
    };
    suffixFor(filters.value(0));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, suffixFor);
    if (!initialFolder.isEmpty()) dialog.setDirectory(initialFolder);
    if (!fileName.isEmpty()) dialog.selectFile(fileName);

    if (dialog.exec() != QDialog::Accepted) return {};
    const QString path = dialog.selectedFiles().value(0);
    if (path.isEmpty()) return {};
    const QFileInfo chosen(path);
    initialFolder = chosen.absolutePath();
    fileName = chosen.fileName();
    return chosen.absoluteFilePath();
}

}  // namespace lyx::viewer
