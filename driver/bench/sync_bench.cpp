// Throughput of the frame synchroniser on the streams a receiver meets: frames
// back to back (serial link), frames in zero-filled 64-byte reports (USB),
// random noise, and the worst case, a stream of 0x64 bytes in which every
// position is a 100-byte candidate whose CRC fails.

#include <benchmark/benchmark.h>

#include <random>

#include "lyx/link/frame.hpp"
#include "lyx/link/synchroniser.hpp"
#include "receive/ring.hpp"

namespace {

using lyx::drv::RxRing;
using lyx::link::Bytes;

Bytes dataFrame(std::uint16_t tag) {
    // A 13-byte frame: a Data Provider packet with an 8-byte payload.
    return lyx::link::buildFrame(
        1, Bytes{0x03, static_cast<std::uint8_t>(tag >> 8), static_cast<std::uint8_t>(tag), 0x00,
                 0x02, 0x01, 0x02, 0x03});
}

enum class Stream { BackToBack, Reports, Noise, Worst };

Bytes makeStream(Stream kind, std::size_t size) {
    Bytes out;
    out.reserve(size + 64);
    std::mt19937 rng(42);
    std::uint16_t tag = 0;
    while (out.size() < size) {
        switch (kind) {
            case Stream::BackToBack: {
                Bytes f = dataFrame(tag++);
                out.insert(out.end(), f.begin(), f.end());
                break;
            }
            case Stream::Reports: {
                Bytes f = dataFrame(tag++);
                f.resize(64, 0);
                out.insert(out.end(), f.begin(), f.end());
                break;
            }
            case Stream::Noise:
                out.push_back(static_cast<std::uint8_t>(rng()));
                break;
            case Stream::Worst:
                out.push_back(0x64);
                break;
        }
    }
    return out;
}

// Feeds the stream through the ring in 4096-byte chunks and takes frames as the
// receive engine does.
void runSync(benchmark::State &state, Stream kind) {
    const Bytes stream = makeStream(kind, 1 << 20);
    RxRing ring;
    std::int64_t frames = 0;
    for (auto _ : state) {
        ring.clear();
        for (std::size_t offset = 0; offset < stream.size(); offset += 4096) {
            std::size_t n = std::min<std::size_t>(4096, stream.size() - offset);
            ring.append({stream.data() + offset, n});
            for (;;) {
                auto found = lyx::link::findFrame(ring.heldBytes());
                ring.discard(static_cast<std::uint32_t>(found.discard));
                if (found.frameLength == 0) break;
                ring.discard(static_cast<std::uint32_t>(found.frameLength));
                ring.discardZeros();
                ++frames;
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(runSync, back_to_back_13_byte_frames, Stream::BackToBack)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runSync, frames_in_64_byte_reports, Stream::Reports)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runSync, random_noise, Stream::Noise)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(runSync, worst_case_0x64_stream, Stream::Worst)->Unit(benchmark::kMillisecond);
