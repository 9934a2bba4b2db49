// The real links: a pseudo-terminal as the serial base station, virtual HID
// base stations on the vhid bus. Latency from the base station's write to the
// callback, throughput under flood, three USB stations at full rate, and the
// cost of open links without traffic.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

#include "LyxDrv.h"
#include "lyx/link/frame.hpp"
#include "lyx/sim/pty_port.hpp"
#include "lyx/sim/vhid_device.hpp"

namespace {

using lyx::link::Bytes;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Tally {
    std::vector<Clock::time_point> sentAt;
    std::vector<double> latencyUs;
    std::vector<std::int64_t> perStation = std::vector<std::int64_t>(4, 0);
    std::int64_t received = 0;
};
Tally *tally = nullptr;

std::int64_t frameIndex(const std::uint8_t *f) {
    return (std::int64_t{f[4]} << 24) | (f[5] << 16) | (f[6] << 8) | f[7];
}

void onFrame(const std::uint8_t **frame, std::int32_t *length, std::int32_t *) {
    auto now = Clock::now();
    if (*length < 13) return;
    const std::uint8_t *f = *frame;
    auto index = static_cast<std::size_t>(frameIndex(f));
    if (index < tally->sentAt.size()) {
        tally->latencyUs.push_back(
            std::chrono::duration<double, std::micro>(now - tally->sentAt[index]).count());
    }
    if (f[2] < tally->perStation.size()) ++tally->perStation[f[2]];
    ++tally->received;
}

// A 13-byte frame carrying a running number.
Bytes numbered(std::uint8_t station, std::int64_t index) {
    return lyx::link::buildFrame(
        station,
        Bytes{0x03, static_cast<std::uint8_t>(index >> 24), static_cast<std::uint8_t>(index >> 16),
              static_cast<std::uint8_t>(index >> 8), static_cast<std::uint8_t>(index), 0x00, 0x01,
              0x02});
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    auto k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

// Pumps this thread's messages until `done` or `limit` passed.
template <class Done>
void pumpUntil(Done done, std::chrono::seconds limit) {
    pollfd p{LyxMessageFd(), POLLIN, 0};
    auto deadline = Clock::now() + limit;
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        // Wakes for messages only, at most once a second to look at the clock.
        if (::poll(&p, 1, static_cast<int>(std::min<long>(left.count(), 1000))) > 0) {
            LyxPumpMessages();
        }
    }
}

double cpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct TempFolder {
    explicit TempFolder(const std::string &what)
        : path(fs::temp_directory_path() /
               ("lyx-bench-" + what + "-" + std::to_string(::getpid()))) {
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    fs::path path;
};

void useCallback() {
    intptr_t callback = reinterpret_cast<intptr_t>(&onFrame);
    INITIALISEMULTI(&callback, 1);
}

// Frames written one per millisecond; latency from the write to the callback.
void BM_SerialLatency(benchmark::State &state) {
    TempFolder ports("ports");
    ::setenv("LYX_PORT_DIR", ports.path.c_str(), 1);
    lyx::sim::PtyPort pty;
    pty.linkAs(ports.path, 5);
    for (auto _ : state) {
        constexpr std::int64_t kFrames = 3000;
        Tally t;
        t.sentAt.resize(kFrames);
        tally = &t;
        useCallback();
        if (OPENPORT(5, 115200) != 0) state.SkipWithError("cannot open the pseudo-terminal");
        auto start = Clock::now();
        std::jthread base([&] {
            for (std::int64_t i = 0; i < kFrames; ++i) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
                t.sentAt[static_cast<std::size_t>(i)] = Clock::now();
                pty.write(numbered(1, i));
            }
        });
        pumpUntil([&] { return t.received == kFrames; }, std::chrono::seconds(30));
        base.join();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        state.counters["frames"] = static_cast<double>(t.received);
        state.counters["median_us"] = percentile(t.latencyUs, 0.5);
        state.counters["p99_us"] = percentile(t.latencyUs, 0.99);
        CLOSEPORT();
    }
    ::unsetenv("LYX_PORT_DIR");
}

// The base station writes as fast as the line takes it.
void BM_SerialFlood(benchmark::State &state) {
    TempFolder ports("flood");
    ::setenv("LYX_PORT_DIR", ports.path.c_str(), 1);
    lyx::sim::PtyPort pty;
    pty.linkAs(ports.path, 6);
    for (auto _ : state) {
        constexpr std::int64_t kFrames = 100000;
        Tally t;
        tally = &t;
        useCallback();
        if (OPENPORT(6, 921600) != 0) state.SkipWithError("cannot open the pseudo-terminal");
        Bytes stream;
        for (std::int64_t i = 0; i < kFrames; ++i) {
            Bytes f = numbered(1, i);
            stream.insert(stream.end(), f.begin(), f.end());
        }
        auto start = Clock::now();
        std::jthread base([&] { pty.write(stream); });
        pumpUntil([&] { return t.received == kFrames; }, std::chrono::seconds(60));
        base.join();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["frames_per_s"] = static_cast<double>(t.received) / seconds;
        state.counters["lost"] = static_cast<double>(kFrames - t.received);
        CLOSEPORT();
    }
    ::unsetenv("LYX_PORT_DIR");
}

// One USB base station sending a frame every millisecond; latency from the
// station's send to the callback.
void BM_UsbLatencyAt1000PerSecond(benchmark::State &state) {
    TempFolder bus("latency");
    ::setenv("LYX_VHID_DIR", bus.path.c_str(), 1);
    lyx::sim::VirtualHidDevice station(bus.path.string(), "bs1",
                                       lyx::vhid::Identity{0x1781, 0x0BA4, 0x0203, "1"});
    station.plugIn();
    for (auto _ : state) {
        constexpr std::int64_t kFrames = 10000;
        Tally t;
        t.sentAt.resize(kFrames);
        tally = &t;
        useCallback();
        OPENUSB();
        auto start = Clock::now() + std::chrono::milliseconds(200);  // the slot is opened
        std::jthread base([&] {
            for (std::int64_t i = 0; i < kFrames; ++i) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(i));
                t.sentAt[static_cast<std::size_t>(i)] = Clock::now();
                station.sendFrame(numbered(1, i));
            }
        });
        pumpUntil([&] { return t.received == kFrames; }, std::chrono::seconds(40));
        base.join();
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        state.counters["frames"] = static_cast<double>(t.received);
        state.counters["median_us"] = percentile(t.latencyUs, 0.5);
        state.counters["p99_us"] = percentile(t.latencyUs, 0.99);
        state.counters["max_us"] = percentile(t.latencyUs, 1.0);
        CLOSEPORT();
    }
    ::unsetenv("LYX_VHID_DIR");
}

// Three USB base stations, each sending 1000 reports a second for 10 s.
void BM_ThreeUsbStationsAtFullRate(benchmark::State &state) {
    TempFolder bus("vhid");
    ::setenv("LYX_VHID_DIR", bus.path.c_str(), 1);
    std::vector<std::unique_ptr<lyx::sim::VirtualHidDevice>> stations;
    for (int slot = 1; slot <= 3; ++slot) {
        stations.push_back(std::make_unique<lyx::sim::VirtualHidDevice>(
            bus.path.string(), "bs" + std::to_string(slot),
            lyx::vhid::Identity{0x1781, 0x0BA4, 0x0203, std::to_string(slot)}));
        stations.back()->plugIn();
    }
    for (auto _ : state) {
        constexpr std::int64_t kPerStation = 10000;
        Tally t;
        tally = &t;
        useCallback();
        OPENUSB();
        auto start = Clock::now();
        std::vector<std::jthread> senders;
        for (int slot = 1; slot <= 3; ++slot) {
            senders.emplace_back([&, slot] {
                for (std::int64_t i = 0; i < kPerStation; ++i) {
                    std::this_thread::sleep_until(start + std::chrono::microseconds(1000 * i));
                    stations[static_cast<std::size_t>(slot - 1)]->sendFrame(
                        numbered(static_cast<std::uint8_t>(slot), i));
                }
            });
        }
        pumpUntil([&] { return t.received == 3 * kPerStation; }, std::chrono::seconds(40));
        senders.clear();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["delivered"] = static_cast<double>(t.received);
        state.counters["lost"] = static_cast<double>(3 * kPerStation - t.received);
        state.counters["station1"] = static_cast<double>(t.perStation[1]);
        state.counters["station2"] = static_cast<double>(t.perStation[2]);
        state.counters["station3"] = static_cast<double>(t.perStation[3]);
        CLOSEPORT();
    }
    ::unsetenv("LYX_VHID_DIR");
}

void idleCpu(benchmark::State &state, bool usb) {
    TempFolder folder("idle");
    lyx::sim::PtyPort pty;
    std::unique_ptr<lyx::sim::VirtualHidDevice> station;
    if (usb) {
        ::setenv("LYX_VHID_DIR", folder.path.c_str(), 1);
        station = std::make_unique<lyx::sim::VirtualHidDevice>(
            folder.path.string(), "bs1", lyx::vhid::Identity{0x1781, 0x0BA4, 0x0203, "1"});
        station->plugIn();
    } else {
        ::setenv("LYX_PORT_DIR", folder.path.c_str(), 1);
        pty.linkAs(folder.path, 7);
    }
    for (auto _ : state) {
        INITIALISEMULTI(nullptr, 0);
        if (usb) {
            OPENUSB();
        } else if (OPENPORT(7, 115200) != 0) {
            state.SkipWithError("cannot open the pseudo-terminal");
        }
        double cpu0 = cpuSeconds();
        auto start = Clock::now();
        pumpUntil([] { return false; }, std::chrono::seconds(5));
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_a_core"] = 100.0 * (cpuSeconds() - cpu0) / wall;
        CLOSEPORT();
    }
    ::unsetenv("LYX_VHID_DIR");
    ::unsetenv("LYX_PORT_DIR");
}

void BM_IdleSerialLinkCpu(benchmark::State &state) {
    idleCpu(state, false);
}
void BM_IdleUsbLinkCpu(benchmark::State &state) {
    idleCpu(state, true);
}

}  // namespace

BENCHMARK(BM_SerialLatency)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UsbLatencyAt1000PerSecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SerialFlood)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThreeUsbStationsAtFullRate)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleSerialLinkCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleUsbLinkCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
