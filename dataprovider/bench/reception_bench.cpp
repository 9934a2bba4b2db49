// Reception in DataProvider: decoding throughput of TriggerEvent with a
// PacketArrived handler that does nothing, and the sustained rate from three
// virtual USB base stations, each sending 1 000 reports a second, to
// PacketArrived.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "LyxPlatform.h"
#include "data_provider.hpp"
#include "lyx/link/frame.hpp"
#include "lyx/sim/vhid_device.hpp"

using namespace lyx::dataprovider;
using namespace lyx::platform;
using lyx::link::Bytes;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

class CountingSink final : public Implements<IDataProviderEvents> {
  public:
    void PacketArrived(std::uint8_t &BaseStation, std::int32_t &, std::string &, std::uint8_t &,
                       std::int16_t &, std::int16_t &, bool &, bool &) override {
        ++count;
        if (BaseStation < 4) ++perStation[BaseStation];
    }
    std::int64_t count = 0;
    std::int64_t perStation[4] = {};
};

Bytes floatPacket(std::uint8_t station, std::uint16_t tag) {
    return lyx::link::buildFrame(
        station, Bytes{0x03, static_cast<std::uint8_t>(tag >> 8), static_cast<std::uint8_t>(tag),
                       0x00, 0x04, 0x3F, 0xC0, 0x00, 0x00, 0xC8, 0xB0});
}

struct TempFolder {
    TempFolder() : path(fs::path("/tmp") / ("lyx-dp-rx-" + std::to_string(::getpid()))) {
        fs::create_directories(path);
        ::setenv("TMPDIR", path.c_str(), 1);
    }
    ~TempFolder() { fs::remove_all(path); }
    fs::path path;
};

void BM_TriggerEventDecoding(benchmark::State &state, std::uint8_t dataType) {
    TempFolder folder;
    Ref<DataProvider> dp = DataProvider::create();
    Ref<CountingSink> sink = makeObject<CountingSink>();
    dp->advise(kEventsId, *sink);
    Bytes frame = dataType == 4
                      ? floatPacket(1, 7)
                      : lyx::link::buildFrame(1, Bytes{0x43, 0x12, 0x34, 5, 1, 200, 0xC8, 0xB0});
    ByteArray buffer{0, std::vector<std::uint8_t>(129, 0)};
    std::copy(frame.begin(), frame.end(), buffer.items.begin());
    std::int32_t length = static_cast<std::int32_t>(frame.size());
    std::uint16_t tag = 0;
    for (auto _ : state) {
        buffer.items[5] =
            static_cast<std::uint8_t>(++tag);  // spread over tags as real traffic does
        dp->TriggerEvent(buffer, length);
    }
    state.SetItemsProcessed(sink->count);
}

void BM_ThreeUsbStationsToPacketArrived(benchmark::State &state) {
    TempFolder folder;
    fs::path bus = folder.path / "vhid";
    fs::create_directories(bus);
    ::setenv("LYX_VHID_DIR", bus.c_str(), 1);
    std::vector<std::unique_ptr<lyx::sim::VirtualHidDevice>> stations;
    for (int slot = 1; slot <= 3; ++slot) {
        stations.push_back(std::make_unique<lyx::sim::VirtualHidDevice>(
            bus.string(), "bs" + std::to_string(slot),
            lyx::vhid::Identity{0x1781, 0x0BA4, 0x0203, std::to_string(slot)}));
        stations.back()->plugIn();
    }
    for (auto _ : state) {
        Ref<DataProvider> dp = DataProvider::create();
        Ref<CountingSink> sink = makeObject<CountingSink>();
        dp->advise(kEventsId, *sink);
        dp->Initialise(0, 0);
        constexpr std::int64_t kPerStation = 5000;  // five seconds at full rate
        auto start = Clock::now();
        std::vector<std::jthread> senders;
        for (int slot = 1; slot <= 3; ++slot) {
            senders.emplace_back([&, slot] {
                for (std::int64_t i = 0; i < kPerStation; ++i) {
                    std::this_thread::sleep_until(start + std::chrono::microseconds(1000 * i));
                    stations[static_cast<std::size_t>(slot - 1)]->sendFrame(floatPacket(
                        static_cast<std::uint8_t>(slot), static_cast<std::uint16_t>(i)));
                }
            });
        }
        pollfd p{LyxMessageFd(), POLLIN, 0};
        auto deadline = start + std::chrono::seconds(30);
        while (sink->count < 3 * kPerStation && Clock::now() < deadline) {
            if (::poll(&p, 1, 100) > 0) LyxPumpMessages();
        }
        senders.clear();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        state.counters["packets_per_s"] = static_cast<double>(sink->count) / seconds;
        state.counters["lost"] = static_cast<double>(3 * kPerStation - sink->count);
        state.counters["station1"] = static_cast<double>(sink->perStation[1]);
        state.counters["station2"] = static_cast<double>(sink->perStation[2]);
        state.counters["station3"] = static_cast<double>(sink->perStation[3]);
        dp.reset();
    }
    ::unsetenv("LYX_VHID_DIR");
}

}  // namespace

BENCHMARK_CAPTURE(BM_TriggerEventDecoding, uint8_packet, std::uint8_t{1});
BENCHMARK_CAPTURE(BM_TriggerEventDecoding, float_packet, std::uint8_t{4});
BENCHMARK(BM_ThreeUsbStationsToPacketArrived)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
