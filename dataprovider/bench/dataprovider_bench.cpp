// DataProvider objects as clients make them: through the registry and the
// component library. Measures the time to create and destroy one (with its
// private driver copy) and the memory one object takes.
//
//   build/release/bin/dataprovider_bench

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/activation.hpp"
#include "lyx/platform/library.hpp"

using namespace lyx::dataprovider;
using namespace lyx::platform;
namespace fs = std::filesystem;

namespace {

// A registry and a temporary folder of the benchmark's own, with the component
// registered in it.
class Setting {
  public:
    Setting() {
        folder_ = fs::temp_directory_path() / ("lyx-dp-bench-" + std::to_string(::getpid()));
        fs::create_directories(folder_ / "tmp");
        ::setenv("LYX_REGISTRY", (folder_ / "classes.ini").c_str(), 1);
        ::setenv("TMPDIR", (folder_ / "tmp").c_str(), 1);
        if (library_.open(LYX_COMPONENT_FILE)) {
            auto registerServer = library_.function<DllRegisterServerFunction>("DllRegisterServer");
            ok_ = registerServer != nullptr && registerServer() == 0;
        }
    }
    ~Setting() {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    bool ok() const { return ok_; }

  private:
    fs::path folder_;
    DynamicLibrary library_;
    bool ok_ = false;
};

Setting &setting() {
    static Setting instance;
    return instance;
}

std::size_t heapInUse() {
    struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void CreateAndDestroy(benchmark::State &state) {
    if (!setting().ok()) {
        state.SkipWithError("the component could not be registered");
        return;
    }
    for (auto _ : state) {
        Ref<IDataProvider> dp = createInstance<IDataProvider>(kClassId);
        benchmark::DoNotOptimize(dp.get());
        dp.reset();
    }
}
BENCHMARK(CreateAndDestroy)->Unit(benchmark::kMillisecond);

// Heap and resident memory that one live object adds, its loaded driver copy
// included. The first object of the process also loads the component and the
// driver by plain name; it is made before measuring.
void MemoryOfOneObject(benchmark::State &state) {
    if (!setting().ok()) {
        state.SkipWithError("the component could not be registered");
        return;
    }
    Ref<IDataProvider> warmUp = createInstance<IDataProvider>(kClassId);
    double heap = 0, resident = 0;
    for (auto _ : state) {
        const std::size_t heapBefore = heapInUse();
        const std::size_t residentBefore = residentBytes();
        Ref<IDataProvider> dp = createInstance<IDataProvider>(kClassId);
        heap += static_cast<double>(heapInUse() - heapBefore);
        resident += static_cast<double>(residentBytes() - residentBefore);
        state.PauseTiming();
        dp.reset();
        state.ResumeTiming();
    }
    state.counters["heap_MB"] = benchmark::Counter(heap / 1e6, benchmark::Counter::kAvgIterations);
    state.counters["resident_MB"] =
        benchmark::Counter(resident / 1e6, benchmark::Counter::kAvgIterations);
}
BENCHMARK(MemoryOfOneObject)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
