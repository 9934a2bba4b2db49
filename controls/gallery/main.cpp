// lyx-controls-gallery <folder>: renders every LCD control in typical states and every button
// picture to PNG files in <folder>, so that a person can look at them.

#include "lyx/controls/ButtonArt.h"
#include "lyx/controls/ImageButton.h"
#include "lyx/controls/eLCD.h"
#include "lyx/controls/eLCDBar.h"
#include "lyx/controls/eLCDContainer.h"
#include "lyx/controls/eLCDModule.h"
#include "lyx/controls/eLCDText.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QWidget>

#include <cstdio>

using namespace lyx::controls;

namespace {

class Gallery {
  public:
    explicit Gallery(QString folder) : dir_(std::move(folder)) {}

    bool save(const QString &name, const QImage &image) {
        const QString path = dir_.filePath(name + QStringLiteral(".png"));
        if (!image.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ok_ = false;
        }
        return ok_;
    }
    void save(const QString &name, QWidget &widget) { save(name, widget.grab().toImage()); }
    bool ok() const { return ok_; }

  private:
    QDir dir_;
    bool ok_ = true;
};

void renderDisplays(Gallery &g) {
    const auto display = [&](const QString &name, int digits, const QString &caption,
                             int border = 0) {
        eLCD lcd;
        lcd.setDigits(digits);
        lcd.setBorderStyle(border);
        lcd.resize(320, lcd.heightForWidth(320));
        lcd.setCaption(caption);
        g.save(name, lcd);
    };
    display(QStringLiteral("elcd-default"), 8, QStringLiteral("12345678"));
    display(QStringLiteral("elcd-minus-1.5"), 6, QStringLiteral("-1.5"));
    display(QStringLiteral("elcd-point-first"), 6, QStringLiteral(".5"));
    display(QStringLiteral("elcd-two-points"), 6, QStringLiteral("1.2.3"));
    display(QStringLiteral("elcd-error"), 6, QStringLiteral("ERROR 7"));
    display(QStringLiteral("elcd-border"), 8, QStringLiteral("  -12.345"), 1);

    eLCD lcd;
    lcd.resize(320, 10);
    const auto &red = eLCDModule::kSchemes[3];
    lcd.setBackColor(red.back);
    lcd.setOffColor(red.off);
    lcd.setOnColor(red.on);
    lcd.setCaption(QStringLiteral("AbCdEF-9"));
    g.save(QStringLiteral("elcd-colours"), lcd);
}

void renderLabels(Gallery &g) {
    const auto label = [&](const QString &name, bool lit, bool inverse) {
        eLCDText text;
        text.setCaption(QStringLiteral("LOW BATTERY"));
        text.setInverse(inverse);
        text.setState(lit);
        g.save(name, text);
    };
    label(QStringLiteral("elcdtext-unlit"), false, false);
    label(QStringLiteral("elcdtext-lit"), true, false);
    label(QStringLiteral("elcdtext-inverse-unlit"), false, true);
    label(QStringLiteral("elcdtext-inverse-lit"), true, true);

    const auto bar = [&](const QString &name, float percent, int border) {
        eLCDBar b;
        b.setBorderStyle(border);
        b.resize(200, 18);
        b.setPercent(percent);
        g.save(name, b);
    };
    bar(QStringLiteral("elcdbar-0"), 0, 0);
    bar(QStringLiteral("elcdbar-50"), 50, 0);
    bar(QStringLiteral("elcdbar-100"), 100, 0);
    bar(QStringLiteral("elcdbar-border"), 58, 1);
}

void renderContainers(Gallery &g) {
    for (int scheme = 1; scheme <= eLCDModule::kSchemeCount; ++scheme) {
        eLCDContainer panel;
        panel.setBorderStyle(1);
        panel.resize(360, 130);
        auto *lcd = new eLCD(&panel);
        lcd->setGeometry(10, 10, 340, lcd->heightForWidth(340));
        lcd->setCaption(QStringLiteral(" 1234.56"));
        auto *tag = new eLCDText(&panel);
        tag->setCaption(QStringLiteral("TAG 1234"));
        tag->move(14, lcd->geometry().bottom() + 6);
        tag->setState(true);
        auto *zeroed = new eLCDText(&panel);
        zeroed->setCaption(QStringLiteral("ZEROED"));
        zeroed->move(150, tag->y());
        auto *quality = new eLCDBar(&panel);
        quality->setGeometry(250, tag->y() + 2, 90, 16);
        quality->setPercent(70);
        panel.setScheme(scheme);
        g.save(QStringLiteral("elcdcontainer-scheme-%1").arg(scheme), panel);
    }
}

void renderButtons(Gallery &g) {
    const QSize size(48, 48);
    const int cell = 56;
    QImage sheet(cell * int(art::kAllStates.size()) + 8, cell * int(art::kAllIcons.size()) + 8,
                 QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter sheetPainter(&sheet);
    int row = 0;
    for (const art::ButtonIcon icon : art::kAllIcons) {
        // A real button showing its normal picture, then each picture on the button's white.
        ImageButton button;
        button.resize(size);
        art::applyButtonArt(button, icon, size);
        int column = 0;
        for (const art::ButtonState state : art::kAllStates) {
            QImage picture(size, QImage::Format_RGB32);
            picture.fill(Qt::white);
            QPainter p(&picture);
            p.drawImage(0, 0, art::paintButton(icon, state, size));
            p.end();
            if (state == art::ButtonState::Normal) picture = button.grab().toImage();
            g.save(QStringLiteral("button-%1-%2").arg(art::iconName(icon), art::stateName(state)),
                   picture);
            sheetPainter.drawImage(8 + column * cell, 8 + row * cell, picture);
            ++column;
        }
        ++row;
    }
    sheetPainter.end();
    g.save(QStringLiteral("buttons-sheet"), sheet);
}

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }
    Gallery gallery(folder);
    renderDisplays(gallery);
    renderLabels(gallery);
    renderContainers(gallery);
    renderButtons(gallery);
    return gallery.ok() ? 0 : 1;
}
