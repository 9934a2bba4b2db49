// The viewer's packet handler on a real window: packets of the followed module a second,
// through the handler alone and through the component as the driver delivers them; the
// handler with 200 modules heard and the window All modules open, and that window's refresh
// of 200 rows; and CSV rows a second while logging.

#include "BenchWorkspace.h"

#include "FileModule.h"
#include "MainFrm.h"
#include "ModulesWindow.h"

#include "lyx/link/frame.hpp"
#include "lyx/sim/simulator.hpp"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

using lyx::viewer::MainFrm;

lyx::viewer::bench::Workspace *workspace = nullptr;

// A running window following tag 1234, on a simulated station without modules.
struct Window {
    Window() {
        lyx::sim::StationConfig station;
        station.usb = true;
        station.usbFolder = workspace->path(QStringLiteral("vhid")).toStdString();
        (void)sim.addStation(station);
        lyx::viewer::StartupOptions options;
        options.programFolder = workspace->path(QStringLiteral("program"));
        frm = std::make_unique<MainFrm>(options);
        ok = frm->load() == MainFrm::LoadResult::Running;
        feed(frame(12.5f));
    }
    ~Window() { frm->close(); }

    static lyx::platform::ByteArray frame(float value) {
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        std::vector<std::uint8_t> payload{3,
                                          0x04,
                                          0xD2,
                                          0,
                                          4,
                                          std::uint8_t(bits >> 24),
                                          std::uint8_t(bits >> 16),
                                          std::uint8_t(bits >> 8),
                                          std::uint8_t(bits),
                                          30,
                                          60};
        lyx::platform::ByteArray f;
        f.items = lyx::link::buildFrame(1, payload);
        return f;
    }
    void feed(lyx::platform::ByteArray f) {
        std::int32_t length = std::int32_t(f.items.size());
        frm->dataProvider()->TriggerEvent(f, length);
    }

    lyx::sim::Simulator sim;
    std::unique_ptr<MainFrm> frm;
    bool ok = false;
};

void HandlerAlone(benchmark::State &state) {
    Window w;
    if (!w.ok) {
        state.SkipWithError("the window did not start");
        return;
    }
    std::uint8_t station = 1, status = 0;
    std::int32_t tag = 1234;
    std::int16_t rssi = -60, cv = 60;
    bool battLow = false, error = false;
    const std::string values[] = {"12.50000", "12.75000", "-3.250000", "1234.567"};
    std::size_t i = 0;
    for (auto _ : state) {
        std::string value = values[i++ & 3];
        w.frm->DP_PacketArrived(station, tag, value, status, rssi, cv, battLow, error);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["refreshes"] = double(w.frm->refreshes());
}
BENCHMARK(HandlerAlone)->MinTime(2.0);

void ThroughTheComponent(benchmark::State &state) {
    Window w;
    if (!w.ok) {
        state.SkipWithError("the window did not start");
        return;
    }
    const lyx::platform::ByteArray frames[] = {Window::frame(12.5f), Window::frame(12.75f),
                                               Window::frame(-3.25f), Window::frame(1234.5f)};
    std::size_t i = 0;
    for (auto _ : state) {
        lyx::platform::ByteArray f = frames[i++ & 3];
        std::int32_t length = std::int32_t(f.items.size());
        w.frm->dataProvider()->TriggerEvent(f, length);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["refreshes"] = double(w.frm->refreshes());
}
BENCHMARK(ThroughTheComponent)->MinTime(2.0);

// 200 modules, 15 packets a second each, as their packets reach the handler: the module
// list notes every one; the list's window is open. (Its refreshes run from the event loop,
// which the loop below does not turn; ModuleListRefresh measures one.)
void HandlerWith200ModulesListed(benchmark::State &state) {
    Window w;
    if (!w.ok) {
        state.SkipWithError("the window did not start");
        return;
    }
    w.frm->showModules();
    std::uint8_t station = 1, status = 0;
    std::int16_t rssi = -60, cv = 60;
    bool battLow = false, error = false;
    const std::string values[] = {"12.50000", "12.75000", "-3.250000", "1234.567"};
    std::size_t i = 0;
    for (auto _ : state) {
        std::int32_t tag = std::int32_t(1000 + i % 200);
        std::string value = values[(i / 200) & 3];
        ++i;
        w.frm->DP_PacketArrived(station, tag, value, status, rssi, cv, battLow, error);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["modules"] = double(w.frm->tagTable().size());
}
BENCHMARK(HandlerWith200ModulesListed)->MinTime(2.0);

// One refresh of the open list with 200 modules whose values all changed since the last
// (the list refreshes at most three times a second).
void ModuleListRefresh(benchmark::State &state) {
    Window w;
    if (!w.ok) {
        state.SkipWithError("the window did not start");
        return;
    }
    w.frm->showModules();
    lyx::viewer::ModulesWindow *list = w.frm->modulesWindow();
    std::uint8_t station = 1, status = 0;
    std::int16_t rssi = -60, cv = 60;
    bool battLow = false, error = false;
    int round = 0;
    std::int64_t changed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int t = 0; t < 200; ++t) {
            std::int32_t tag = 1000 + t;
            std::string value = std::to_string(100 + (round + t) % 50) + ".25";
            w.frm->DP_PacketArrived(station, tag, value, status, rssi, cv, battLow, error);
        }
        ++round;
        state.ResumeTiming();
        changed += list->refresh();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["rows_changed"] =
        benchmark::Counter(double(changed), benchmark::Counter::kAvgIterations);
}
BENCHMARK(ModuleListRefresh)->MinTime(2.0);

void LogRows(benchmark::State &state) {
    // The row writer on its own, on a real file, logging started as the window starts it.
    lyx::viewer::ProgramState program;
    program.decimalSeparator = QStringLiteral(".");
    program.fieldSeparator = QStringLiteral(",");
    program.iniPath = workspace->path(QStringLiteral("bench.ini"));
    lyx::viewer::FileModule log(program, workspace->path(QStringLiteral("program")), {});
    if (!log.startLogging(workspace->path(QStringLiteral("rows.csv")))) {
        state.SkipWithError("cannot create the log file");
        return;
    }
    for (auto _ : state)
        log.writeRow(QStringLiteral("12.5"));
    log.close();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(LogRows)->MinTime(2.0);

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    lyx::viewer::bench::Workspace space;
    if (!space.ok()) return 1;
    workspace = &space;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
