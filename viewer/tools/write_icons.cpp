// lyxglance-icons <folder>: writes the program's icon into <folder> as a freedesktop icon
// theme holds it: hicolor/<n>x<n>/apps/lyxglance.png for the usual sizes and
// hicolor/scalable/apps/lyxglance.svg, all from the one drawing the program uses.

#include "AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = root.filePath(QStringLiteral("hicolor/%1x%1/apps").arg(size));
        QDir().mkpath(folder);
        const QString file = folder + QStringLiteral("/lyxglance.png");
        if (!lyx::viewer::appIconImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            ok = false;
        }
    }
    const QString scalable = root.filePath(QStringLiteral("hicolor/scalable/apps"));
    QDir().mkpath(scalable);
    QSvgGenerator svg;
    svg.setFileName(scalable + QStringLiteral("/lyxglance.svg"));
    svg.setSize(QSize(48, 48));
    svg.setViewBox(QRectF(0, 0, 48, 48));
    svg.setTitle(QStringLiteral("Lyx Glance"));
    QPainter painter;
    if (!painter.begin(&svg)) {
        std::fprintf(stderr, "cannot write the scalable icon\n");
        return 1;
    }
    lyx::viewer::paintAppIcon(painter, QRectF(0, 0, 48, 48));
    painter.end();
    return ok ? 0 : 1;
}
