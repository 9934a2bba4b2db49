// Speed of the seven-segment display.
//
//   Digits/RepaintEightDigits  a caption change: all 8 cells and 9 points redrawn on the
//                              retained surface (the work a received packet causes)
//   Digits/ScreenRepaint       a full paint of the widget from its surface
//   Digits/SetUnchangedCaption setting the caption already shown; the "paints" counter
//                              counts the paint events it caused (it must stay 0)

#include "lyx/controls/eLCD.h"

#include <QApplication>
#include <QEvent>

#include <benchmark/benchmark.h>

using lyx::controls::eLCD;

namespace {

class PaintCounter : public QObject {
  public:
    int count = 0;

  protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint) ++count;
        return false;
    }
};

void showDisplay(eLCD &lcd) {
    lcd.show();
    lcd.resize(320, lcd.heightForWidth(320));
    QCoreApplication::processEvents();
}

void RepaintEightDigits(benchmark::State &state) {
    eLCD lcd;
    showDisplay(lcd);
    const QString captions[2] = {QStringLiteral("12345678"), QStringLiteral("-8765.43")};
    int i = 0;
    for (auto _ : state) {
        lcd.setCaption(captions[i]);
        i ^= 1;
    }
    QCoreApplication::processEvents();
}

void ScreenRepaint(benchmark::State &state) {
    eLCD lcd;
    showDisplay(lcd);
    for (auto _ : state)
        lcd.repaint();
}

void SetUnchangedCaption(benchmark::State &state) {
    eLCD lcd;
    showDisplay(lcd);
    const QString caption = QStringLiteral("  123.45");
    lcd.setCaption(caption);
    QCoreApplication::processEvents();
    PaintCounter paints;
    lcd.installEventFilter(&paints);
    for (auto _ : state)
        lcd.setCaption(caption);
    QCoreApplication::processEvents();
    state.counters["paints"] = paints.count;
}

}  // namespace

BENCHMARK(RepaintEightDigits)->Name("Digits/RepaintEightDigits");
BENCHMARK(ScreenRepaint)->Name("Digits/ScreenRepaint");
BENCHMARK(SetUnchangedCaption)->Name("Digits/SetUnchangedCaption");

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
