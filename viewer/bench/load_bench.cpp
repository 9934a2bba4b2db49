// lyxglance_load_bench [seconds]: the real window following one module while three simulated
// USB base stations deliver 1 000 packets a second each (in this process, on the virtual
// bus). Reports whether every packet the modules sent reached the window's handler, and the
// CPU time of the window's thread. (The CPU share of the LyxGlance process on its own, with
// the simulator as its own process, is measured by load_bench.py.)

#include "BenchWorkspace.h"

#include "MainFrm.h"

#include "lyx/sim/simulator.hpp"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    lyx::viewer::bench::Workspace space;
    if (!space.ok()) return 1;

    lyx::sim::Simulator sim;
    for (int n = 1; n <= 3; ++n) {
        lyx::sim::StationConfig station;
        station.number = n;
        station.usb = true;
        station.usbFolder = space.path(QStringLiteral("vhid")).toStdString();
        station.channel = std::uint8_t(n);
        if (!sim.addStation(station).ok()) return 1;
    }
    lyx::viewer::StartupOptions options;
    options.programFolder = space.path(QStringLiteral("program"));
    lyx::viewer::MainFrm window(options);
    if (window.load() != lyx::viewer::MainFrm::LoadResult::Running) return 1;
    window.show();

    for (int n = 1; n <= 3; ++n) {
        lyx::sim::ModuleConfig module;
        module.id = std::uint32_t(0x100 + n);
        module.tag = std::uint16_t(1000 + n);
        module.channel = std::uint8_t(n);
        module.rate = 1000;
        module.wave.shape = lyx::sim::Waveform::Shape::Sine;
        module.wave.offset = 500;
        module.wave.amplitude = 20;
        if (!sim.addModule(module).ok()) return 1;
    }

    const double cpuBefore = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    double cpu = 0;
    double elapsed = 0;
    QTimer::singleShot(seconds * 1000, &app, [&] {
        cpu = threadCpuSeconds() - cpuBefore;
        elapsed = double(wall.elapsed()) / 1000.0;
        // The modules stop; what is on its way is delivered before counting.
        for (int n = 1; n <= 3; ++n)
            (void)sim.updateModule(std::uint32_t(0x100 + n),
                                   [](lyx::sim::ModuleConfig &m) { m.rate = 0; });
        QTimer::singleShot(1000, &app, &QApplication::quit);
    });
    QApplication::exec();

    std::uint64_t sent = 0;
    for (int n = 1; n <= 3; ++n)
        if (auto m = sim.module(std::uint32_t(0x100 + n))) sent += m->packetsSent;
    const std::uint64_t handled = window.packetsHandled();
    std::printf("three stations, 1000 packets/s each, for %.1f s\n", elapsed);
    std::printf("packets sent by the modules      %llu\n", (unsigned long long)sent);
    std::printf("packets that reached the handler %llu (%s)\n", (unsigned long long)handled,
                handled == sent ? "none lost" : "LOST SOME");
    std::printf("followed tag %d, display refreshes %llu\n", window.followedTag(),
                (unsigned long long)window.refreshes());
    std::printf("window thread CPU %.2f s = %.1f %% of one core\n", cpu, 100.0 * cpu / elapsed);
    window.close();
    return handled == sent ? 0 : 2;
}
