// libFuzzer target for the receive path: arbitrary bytes, cut into arbitrary
// chunks, go through the ring and the synchroniser as the receive engine takes
// them. Every frame taken must pass the length pair and the CRC; the ring must
// never hold more than its capacity. Out-of-bounds reads are the sanitizer's.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "lyx/link/frame.hpp"
#include "lyx/link/synchroniser.hpp"
#include "receive/ring.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    lyx::drv::RxRing ring;
    std::size_t pos = 0;
    while (pos < size) {
        // The first byte of each step says how many of the following bytes form
        // the next chunk, so the fuzzer explores chunk boundaries too.
        std::size_t chunk = std::min<std::size_t>(data[pos] + 1u, size - pos - 1);
        ring.append({data + pos + 1, chunk});
        pos += chunk + 1;
        if (ring.held() > lyx::drv::RxRing::kCapacity) std::abort();
        for (;;) {
            auto found = lyx::link::findFrame(ring.heldBytes());
            ring.discard(static_cast<std::uint32_t>(found.discard));
            if (found.frameLength == 0) break;
            auto frame = ring.take(static_cast<std::uint32_t>(found.frameLength));
            if (!lyx::link::isValidFrame(frame) || frame[0] > 100) std::abort();
            ring.discardZeros();
        }
    }
    return 0;
}
