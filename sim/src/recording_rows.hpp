// The rows of one recorded file as written, before the files are put together:
// CSV (its header names the columns) or JSON Lines, told apart by the first line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "lyx/sim/outcome.hpp"

namespace lyx::sim::recording {

inline constexpr std::int64_t kNoTime = INT64_MIN;
// The longest value text a row may hold: 93 value bytes as hexadecimal digits.
inline constexpr std::size_t kMaxValueText = 186;

// What a value is, as far as its row says.
enum class Kind : std::uint8_t {
    Empty,
    Number,   // a JSON number, kept as written
    Text,     // text (JSON value_type "text", or a JSON string without value_type)
    CsvText,  // a CSV text: text, or a binary value's hexadecimal digits
    Binary,   // hexadecimal digits of a binary value (JSON value_type "binary")
};

struct Row {
    std::int64_t ms = kNoTime;     // the ms column
    std::int64_t epoch = kNoTime;  // the time column, UTC milliseconds since 1970
    std::int64_t local = kNoTime;  // the time column as written (local), same scale
    std::uint32_t text = 0;        // offset of the value text in File::texts
    std::uint16_t length = 0;
    std::uint16_t tag = 0;
    std::uint8_t station = 0;
    std::uint8_t status = 0;
    std::uint8_t cv = 100;
    std::int16_t rssi = -60;
    Kind kind = Kind::Empty;
    bool batteryLow = false;
    bool error = false;
    bool csv = false;  // from a CSV file, where binary values read as hexadecimal text
    std::uint32_t line = 0;
};

struct File {
    std::string name;
    std::string texts;  // the rows' value texts, one after another
    std::vector<Row> rows;

    std::string_view textOf(const Row &row) const { return {texts.data() + row.text, row.length}; }
};

// Called for a row that does not parse: its line and what is wrong. Returns
// false to stop reading (the file then fails with that message).
using BadRow = std::function<bool(std::uint32_t line, const std::string &what)>;

// Reads `text` into `file` (whose name is set). Fails, with a message that
// names the file, when the text is not a log of ours or `bad` stops it.
Outcome readRows(std::string_view text, File &file, const BadRow &bad);

// "2026-12-08T07:05:09.042+01:00" (the fraction and the offset optional, a
// blank for the T, Z for +00:00): the moment (UTC) and the local date and time
// as written, both in milliseconds since 1970-01-01T00:00 of their calendar.
// Without an offset the local time stands for the moment too.
Outcome parseIsoTime(std::string_view text, std::int64_t &epoch, std::int64_t &local);

// The JSON number grammar, which every number text of a log follows.
bool isJsonNumber(std::string_view text);

}  // namespace lyx::sim::recording
