// Recordings of packets as `lyx log` writes them, read back to be replayed:
// CSV with its header (time,ms,station,tag,value,status,rssi,cv,batt_low,error)
// or JSON Lines (one object per packet, as `lyx log` and `lyx monitor --json`
// write them), in one file or several (as a rotation leaves them).
//
//   lyx::sim::RecordingReader reader;
//   if (auto ok = reader.readFile("run.csv"); !ok) ...   // not a log of ours
//   lyx::sim::Recording recording;
//   if (auto ok = reader.finish(recording); !ok) ...     // a bad row, no rows
//   for (auto &w : recording.warnings) ...
//
// How a recording is read:
//   - Files are put in the order of their first row's time (so a glob's
//     "run-10.csv" comes after "run-9.csv"); rows keep their order in a file.
//   - A row's time is its `ms` column (milliseconds since the logger started),
//     or its `time` column where `ms` is missing. Where `ms` starts again from
//     a lower value while `time` goes on (another logger run appended to the
//     same file, or a file of a later run), the replay continues after the gap
//     the `time` column shows. Other times that go back are a warning: such a
//     row is replayed in file order, right after the one before it.
//   - Each station and tag pair becomes one module, of the type whose readings
//     a receiver shows as the logged texts again: binary where a value is
//     binary (JSON value_type "binary"; in CSV, a tag whose texts are all
//     upper-case hexadecimal bytes and not all printable), string where a
//     value is text, int32 where every number reads as an int32 reading does
//     ("42", "1.234568E+08"), float where every number reads as a float
//     reading does ("12.50000", NaN), else string (numbers a module sent as
//     text, such as "12.3"). An empty value is sent as type none.
//   - A float is sent as the single-precision value that a receiver shows as
//     the logged text again.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "lyx/sim/outcome.hpp"
#include "lyx/sim/typed_value.hpp"

namespace lyx::sim {

struct RecordedRow {
    std::int64_t at = 0;       // milliseconds after the recording's first row
    std::uint32_t value = 0;   // offset of the value bytes in Recording::values
    std::uint32_t module = 0;  // index into Recording::modules
    std::uint8_t size = 0;     // number of value bytes
    DataType type = DataType::None;
    std::uint8_t status = 0;
    std::uint8_t linkQuality = 0;
    std::int16_t rssi = 0;  // dBm
    bool batteryLow = false;
    bool error = false;
};

struct RecordedModule {
    int station = 0;
    std::uint16_t tag = 0;
    DataType type = DataType::None;
    std::uint64_t rows = 0;
};

struct Recording {
    std::vector<std::string> files;  // in the order they are replayed
    std::vector<RecordedRow> rows;
    std::vector<RecordedModule> modules;  // by station, then tag
    Bytes values;
    // The first row's local date and time as written in the file, in
    // milliseconds from 1970-01-01T00:00 of that calendar; for --from and --to
    // given as clock times.
    std::optional<std::int64_t> firstLocalTime;
    std::uint64_t skippedRows = 0;  // rows that do not parse, skipped on request
    std::vector<std::string> warnings;

    std::int64_t span() const { return rows.empty() ? 0 : rows.back().at; }
    std::vector<int> stations() const;
    std::span<const std::uint8_t> valueOf(const RecordedRow &row) const {
        return {values.data() + row.value, row.size};
    }
};

struct RecordingOptions {
    bool skipBad = false;  // skip (and count) rows that do not parse, instead of failing
};

class RecordingReader {
  public:
    explicit RecordingReader(RecordingOptions options = {});
    ~RecordingReader();
    RecordingReader(const RecordingReader &) = delete;
    RecordingReader &operator=(const RecordingReader &) = delete;

    // One file's text, `name` for messages. Fails when it is not a log of ours,
    // or (without skipBad) at its first row that does not parse; the message
    // names the file, the line and what is wrong.
    Outcome addText(std::string_view name, std::string_view text);
    Outcome readFile(const std::string &path);
    // Puts the files together into `out`; fails when there is no row to replay.
    Outcome finish(Recording &out);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// File names for the words of a replay command: each word a file, or a glob
// pattern (* ? [) that matches at least one file, sorted.
Outcome expandFiles(const std::vector<std::string> &words, std::vector<std::string> &files);

// Reads `files` as one recording.
Outcome readRecording(const std::vector<std::string> &files, const RecordingOptions &options,
                      Recording &out);

// The text a receiver shows for a float reading: seven significant digits,
// cut rather than rounded ("12.50000", "-0.123456", "123456800"), NaN,
// Infinity, -Infinity.
std::string receivedFloatText(float value);

// A time within a recording for --from and --to: a duration from its first
// row ("90s", "1.5min", "250ms", seconds), a clock time of the recording
// ("07:05:30", "07:05:30.250") or a date and time ("2026-12-08T07:05:30"), both
// as the file writes them (local time). In milliseconds after the first row.
Outcome parseRecordingTime(std::string_view text, const Recording &recording, std::int64_t &out);

}  // namespace lyx::sim
