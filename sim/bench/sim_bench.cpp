// Can the simulator keep three USB base stations at 1 000 reports per second
// each? Three virtual HID stations, each hearing its own modules (1 at
// 1 000/s, or 10 at 100/s), read by raw clients, and once more by the driver.
// Each iteration measures one second of wall time.
//
// Counters: reports/s per station (the slowest of the three), send times the
// simulator thread skipped because it fell a period behind (late), the largest
// delay of a send time (max lag), frames a full reader buffer did not take.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "LyxDrv.h"
#include "lyx/platform/messages.hpp"
#include "lyx/sim/simulator.hpp"

namespace {

using namespace lyx::sim;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kStations = 3;

struct Rig {
    explicit Rig(int modulesPerStation) {
        folder = fs::temp_directory_path() / ("lyx-simbench-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        for (int n = 1; n <= kStations; ++n) {
            StationConfig s;
            s.number = n;
            s.channel = static_cast<std::uint8_t>(n);
            s.usb = true;
            s.usbFolder = folder.string();
            if (!sim.addStation(s)) throw std::runtime_error("station");
        }
        for (int n = 1; n <= kStations; ++n) {
            for (int k = 0; k < modulesPerStation; ++k) {
                ModuleConfig m;
                m.id = static_cast<std::uint32_t>(n * 1000 + k + 1);
                m.tag = static_cast<std::uint16_t>(m.id);
                m.channel = static_cast<std::uint8_t>(n);
                m.rate = 1000.0 / modulesPerStation;
                m.wave.shape = Waveform::Shape::Sine;
                m.wave.amplitude = 100;
                modules.push_back(m);
            }
        }
    }
    void start() {
        for (const auto &m : modules) {
            if (!sim.addModule(m)) throw std::runtime_error("module");
        }
    }
    ~Rig() { fs::remove_all(folder); }

    fs::path folder;
    Simulator sim;
    std::vector<ModuleConfig> modules;
};

int connectStation(const std::string &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    char identity[128];
    ::recv(fd, identity, sizeof identity, 0);
    return fd;
}

void report(benchmark::State &state, const std::array<std::int64_t, kStations> &counts,
            double seconds, const Stats &before, const Stats &after) {
    double slowest = 1e18;
    for (auto c : counts)
        slowest = std::min(slowest, static_cast<double>(c) / seconds);
    state.counters["reports_per_s_per_station"] = slowest;
    state.counters["late"] = static_cast<double>(after.late - before.late);
    state.counters["max_lag_us"] = static_cast<double>(after.maxLag.count());
    state.counters["output_dropped"] =
        static_cast<double>(after.outputDropped - before.outputDropped);
}

// Raw readers: what the simulator itself achieves.
void BM_ThreeStationsRawReaders(benchmark::State &state) {
    Rig rig(static_cast<int>(state.range(0)));
    std::array<int, kStations> fds{};
    for (int n = 1; n <= kStations; ++n)
        fds[n - 1] = connectStation(rig.sim.station(n)->usbSocket);
    std::array<std::atomic<std::int64_t>, kStations> counts{};
    std::atomic<bool> stop{false};
    std::jthread reader([&] {
        std::array<pollfd, kStations> p{};
        std::uint8_t buffer[65];
        while (!stop) {
            for (int i = 0; i < kStations; ++i)
                p[i] = {fds[i], POLLIN, 0};
            if (::poll(p.data(), p.size(), 100) <= 0) continue;
            for (int i = 0; i < kStations; ++i) {
                if (p[i].revents != 0 && ::recv(fds[i], buffer, sizeof buffer, 0) == 65) {
                    ++counts[i];
                }
            }
        }
    });
    rig.start();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // settle
    for (auto _ : state) {
        std::array<std::int64_t, kStations> start{};
        for (int i = 0; i < kStations; ++i)
            start[i] = counts[i];
        Stats before = rig.sim.stats();
        auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        std::array<std::int64_t, kStations> got{};
        for (int i = 0; i < kStations; ++i)
            got[i] = counts[i] - start[i];
        state.SetIterationTime(seconds);
        report(state, got, seconds, before, rig.sim.stats());
    }
    stop = true;
    reader.join();
    for (int fd : fds)
        ::close(fd);
}
BENCHMARK(BM_ThreeStationsRawReaders)
    ->Arg(1)
    ->Arg(10)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

std::array<std::int64_t, kStations + 1> *driverCounts = nullptr;

void onFrame(const std::uint8_t **frame, std::int32_t *length, std::int32_t *) {
    if (*length > 2 && (*frame)[2] <= kStations) ++(*driverCounts)[(*frame)[2]];
}

// The driver as the reader: frames delivered to its callback on this thread.
void BM_ThreeStationsThroughTheDriver(benchmark::State &state) {
    Rig rig(static_cast<int>(state.range(0)));
    std::array<std::int64_t, kStations + 1> counts{};
    driverCounts = &counts;
    static const intptr_t callback = reinterpret_cast<intptr_t>(&onFrame);
    INITIALISEMULTI(&callback, 1);
    ::setenv("LYX_VHID_DIR", rig.folder.c_str(), 1);
    OPENUSB();
    rig.start();
    auto pumpFor = [](std::chrono::milliseconds span) {
        const auto end = Clock::now() + span;
        while (Clock::now() < end) {
            if (lyx::platform::waitForMessages(10)) lyx::platform::pumpMessages();
        }
    };
    pumpFor(std::chrono::milliseconds(200));
    for (auto _ : state) {
        auto start = counts;
        Stats before = rig.sim.stats();
        auto t0 = Clock::now();
        pumpFor(std::chrono::seconds(1));
        double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        std::array<std::int64_t, kStations> got{};
        for (int i = 0; i < kStations; ++i)
            got[i] = counts[i + 1] - start[i + 1];
        state.SetIterationTime(seconds);
        report(state, got, seconds, before, rig.sim.stats());
    }
    CLOSEPORT();
    lyx::platform::pumpMessages();
    ::unsetenv("LYX_VHID_DIR");
    INITIALISEMULTI(nullptr, 0);
    driverCounts = nullptr;
}
BENCHMARK(BM_ThreeStationsThroughTheDriver)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
