// Cost of the trend chart: recording a sample (at the packet rate) and redrawing the chart
// (a few times a second), on the screen-wide chart the viewer uses.

#include "LineChart.h"
#include "PictureBox.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using lyx::controls::rgbColour;
using lyx::viewer::LineChart;
using lyx::viewer::PictureBox;

// A chart of `width` x `height` pixels set up as the viewer sets it up, values v fed as
// v + 10 on a full scale of 20.
struct ViewerChart {
    ViewerChart(int width, int height) {
        box.resize(width + 2, height + 2);
        chart.InitDiagram(&box, rgbColour(159, 222, 112), true, rgbColour(57, 60, 55),
                          rgbColour(53, 53, 53), true);
        chart.HorizontalDivisions = 3;
        chart.VerticalDivisions = 20;
        chart.FullScale = 20;
        chart.PlotStyle = 0;
    }
    void fill() {
        for (int n = 0; n < chart.width(); ++n)
            chart.AddPoint(10 + 9 * float(std::sin(n * 0.05)));
    }
    PictureBox box;
    LineChart chart;
};

void AddPoint(benchmark::State &state) {
    ViewerChart c(int(state.range(0)), 65);
    c.fill();
    float v = 0;
    for (auto _ : state) {
        c.chart.AddPoint(v);
        v = v < 20 ? v + 0.37F : 0;
    }
    benchmark::DoNotOptimize(c.chart.sampleAt(0));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(AddPoint)->Arg(320)->Arg(1920);

void RePaintFullChart(benchmark::State &state) {
    ViewerChart c(1920, 65);
    c.fill();
    for (auto _ : state) {
        c.chart.RePaint();
        benchmark::DoNotOptimize(c.box.surface().constBits());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(RePaintFullChart)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
