// One packet as the command-line tool reports it, and the forms it is written
// in: a terminal line, a JSON object and a CSV row.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace lyx::cli {

struct Packet {
    std::chrono::system_clock::time_point time;  // when the tool received it
    std::int64_t sinceStartMs = 0;               // monotonic milliseconds since the tool started
    int station = 0;
    int tag = 0;
    std::string value;  // the component's value text, one byte per character
    int status = 0;
    int rssi = 0;
    int cv = 0;
    bool battLow = false;
    bool error = false;
};

// What a value text holds. The component passes every value as text, so the
// kind is read from the text: a number in the C locale's form, printable ASCII
// text, or anything else, which is shown as hexadecimal bytes.
enum class ValueKind { Empty, Number, Text, Binary };
ValueKind classify(std::string_view value);

std::string hexBytes(std::string_view bytes);  // "0A1B", upper case

// Local time as ISO-8601 with milliseconds, with or without the UTC offset
// ("2026-12-08T07:05:09.042+01:00").
std::string isoTime(std::chrono::system_clock::time_point t, bool withOffset);

// The value as it is shown on a terminal: the text itself, or "<hex 0A1B>".
std::string displayValue(std::string_view value);

// One line for a terminal or a pipe.
std::string textLine(const Packet &p);

// Fields a JSON object gets after the packet's own, where known.
struct PacketLabels {
    // The gateway's "station_id": the base station's ID as its topic level gives it
    // ("001234"); empty for a station that gave none (null).
    bool withStationId = false;
    std::string stationId;
    // From the tag file: "name" and "unit", each left out when empty.
    std::string name;
    std::string unit;
};

// A JSON object, no line end: time, ms (when `withSinceStart`), station, tag,
// value (a number where the text is one, else a string; binary as hex; null
// when empty) and value_type ("none", "number", "text" or "binary"), status, rssi, cv, batt_low,
// error, then the labels.
std::string jsonObject(const Packet &p, bool withSinceStart, const PacketLabels &labels = {});

// The value as a JSON literal (number, string, hex string or null) and the
// name of its kind ("none", "number", "text", "binary").
std::string jsonValue(std::string_view value);
const char *kindName(ValueKind kind);

// JSON string literal of `text` (ASCII or UTF-8), quotes included.
std::string jsonString(std::string_view text);

// CSV: the header and one row (no line end), "." as the decimal point.
std::string_view csvHeader();
std::string csvRow(const Packet &p);

}  // namespace lyx::cli
