// End-to-end delivery through the driver's exports: an in-memory transport
// appends 64-byte reports from a producer thread; the benchmark thread opened
// the link, waits on LyxMessageFd and pumps, and the callback checks order and
// measures the hand-over latency from the append to the callback.
//
// Also the cost of an open link with no traffic.

#include <benchmark/benchmark.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>
#include <vector>

#include "LyxDrv.h"
#include "driver.hpp"
#include "lyx/link/frame.hpp"
#include "ports/memory_transport.hpp"

namespace {

using lyx::drv::driver;
using lyx::drv::MemoryTransport;
using lyx::link::Bytes;
using Clock = std::chrono::steady_clock;

struct Run {
    std::vector<Clock::time_point> sentAt;
    std::vector<double> latencyUs;
    std::int64_t received = 0;
    std::int64_t outOfOrder = 0;
};
Run *current = nullptr;

void onFrame(const std::uint8_t **frame, std::int32_t *length, std::int32_t *) {
    auto now = Clock::now();
    if (*length < 9) return;
    const std::uint8_t *f = *frame;
    std::int64_t index = (std::int64_t{f[4]} << 24) | (f[5] << 16) | (f[6] << 8) | f[7];
    if (index != current->received) ++current->outOfOrder;
    current->latencyUs.push_back(std::chrono::duration<double, std::micro>(
                                     now - current->sentAt[static_cast<std::size_t>(index)])
                                     .count());
    ++current->received;
}

Bytes report(std::int64_t index) {
    Bytes f = lyx::link::buildFrame(
        1, Bytes{0x03, static_cast<std::uint8_t>(index >> 24),
                 static_cast<std::uint8_t>(index >> 16), static_cast<std::uint8_t>(index >> 8),
                 static_cast<std::uint8_t>(index), 0x00, 0x01, 0x02});
    f.resize(64, 0);
    return f;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::size_t k = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

// Delivers `frames` reports offered at `rate` per second (0: as fast as the ring
// takes them) and reports rate, losses and hand-over latency.
void deliver(benchmark::State &state, std::int64_t frames, double rate) {
    auto transport = std::make_shared<MemoryTransport>();
    intptr_t callback = reinterpret_cast<intptr_t>(&onFrame);
    for (auto _ : state) {
        CLOSEPORT();
        CLRBUFFERS();
        SysFreeString(GETNEXTPACKET());
        INITIALISEMULTI(&callback, 1);
        Run run;
        run.sentAt.resize(static_cast<std::size_t>(frames));
        run.latencyUs.reserve(static_cast<std::size_t>(frames));
        current = &run;
        driver().openLink(transport, true);
        const std::uint64_t droppedBefore = driver().counters.bytesDropped;
        const std::uint64_t framesDroppedBefore = driver().counters.framesDropped;
        std::vector<Bytes> reports;
        for (std::int64_t i = 0; i < frames; ++i)
            reports.push_back(report(i));

        auto start = Clock::now();
        std::jthread producer([&] {
            for (std::int64_t i = 0; i < frames; ++i) {
                if (rate > 0) {
                    std::this_thread::sleep_until(start +
                                                  std::chrono::duration_cast<Clock::duration>(
                                                      std::chrono::duration<double>(i / rate)));
                } else {
                    // Back-pressure, as the USB bus gives: wait for room in the ring.
                    for (;;) {
                        {
                            std::lock_guard guard(driver().rxLock);
                            if (driver().rxRing.freeSpace() >= 64) break;
                        }
                        std::this_thread::yield();
                    }
                }
                run.sentAt[static_cast<std::size_t>(i)] = Clock::now();
                transport->inject(reports[static_cast<std::size_t>(i)]);
            }
        });
        pollfd p{LyxMessageFd(), POLLIN, 0};
        auto deadline = start + std::chrono::seconds(60);
        auto lost = [&] {
            std::lock_guard guard(driver().rxLock);
            return (driver().counters.bytesDropped - droppedBefore) / 64 +
                   (driver().counters.framesDropped - framesDroppedBefore);
        };
        while (static_cast<std::uint64_t>(run.received) + lost() <
                   static_cast<std::uint64_t>(frames) &&
               Clock::now() < deadline) {
            if (::poll(&p, 1, 100) > 0) LyxPumpMessages();
        }
        producer.join();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["frames_per_s"] = static_cast<double>(run.received) / seconds;
        state.counters["lost"] = static_cast<double>(frames - run.received);
        state.counters["out_of_order"] = static_cast<double>(run.outOfOrder);
        state.counters["median_us"] = percentile(run.latencyUs, 0.5);
        state.counters["p99_us"] = percentile(run.latencyUs, 0.99);
        CLOSEPORT();
        current = nullptr;
    }
}

void BM_DeliveryUnthrottled(benchmark::State &state) {
    deliver(state, 100000, 0);
}
void BM_DeliveryAt20000PerSecond(benchmark::State &state) {
    deliver(state, 40000, 20000);
}
void BM_DeliveryAt1000PerSecond(benchmark::State &state) {
    deliver(state, 2000, 1000);
}

// CPU time of the whole process while an open link carries no traffic and the
// opening thread waits for messages.
void BM_IdleLinkCpu(benchmark::State &state) {
    auto transport = std::make_shared<MemoryTransport>();
    for (auto _ : state) {
        CLOSEPORT();
        INITIALISEMULTI(nullptr, 0);
        driver().openLink(transport, true);
        timespec cpu0{}, cpu1{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
        auto start = Clock::now();
        pollfd p{LyxMessageFd(), POLLIN, 0};
        while (Clock::now() - start < std::chrono::seconds(5)) {
            if (::poll(&p, 1, 5000) > 0) LyxPumpMessages();
        }
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
        double wall = std::chrono::duration<double>(Clock::now() - start).count();
        double cpu = static_cast<double>(cpu1.tv_sec - cpu0.tv_sec) +
                     static_cast<double>(cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_a_core"] = 100.0 * cpu / wall;
        CLOSEPORT();
    }
}

}  // namespace

BENCHMARK(BM_DeliveryUnthrottled)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeliveryAt20000PerSecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeliveryAt1000PerSecond)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleLinkCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
