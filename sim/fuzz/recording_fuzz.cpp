// libFuzzer target for reading recordings: arbitrary text as one or two
// files (CSV or JSON Lines), with and without skipping bad rows. A recording
// that reads must hold its promises: times that never go back, values within
// the value bytes and no longer than a packet carries, modules for every row.
// Out-of-bounds reads are the sanitizer's.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "lyx/sim/recording.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte: skip bad rows or not; a 0x1E byte splits the rest into two files.
    const bool skipBad = (data[0] & 1) != 0;
    const std::string_view text(reinterpret_cast<const char *>(data + 1), size - 1);
    lyx::sim::RecordingReader reader(lyx::sim::RecordingOptions{skipBad});
    const std::size_t split = text.find('\x1E');
    if (!reader.addText("a", text.substr(0, split))) return 0;
    if (split != std::string_view::npos && !reader.addText("b", text.substr(split + 1))) return 0;
    lyx::sim::Recording recording;
    if (!reader.finish(recording)) return 0;
    std::int64_t last = 0;
    for (const auto &row : recording.rows) {
        if (row.at < last || row.module >= recording.modules.size() ||
            row.size > lyx::sim::kMaxValueBytes ||
            std::size_t{row.value} + row.size > recording.values.size()) {
            std::abort();
        }
        last = row.at;
    }
    if (recording.rows.empty() || recording.rows.front().at != 0) std::abort();
    return 0;
}
