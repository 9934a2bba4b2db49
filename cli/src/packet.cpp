#include "packet.hpp"

#include <cstdio>
#include <ctime>

namespace lyx::cli {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The JSON number grammar, which every number text of the component follows
// ("200", "-2", "1.500000", "1.234568E+08").
bool isJsonNumber(std::string_view s) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    if (i < n && s[i] == '-') ++i;
    if (i >= n) return false;
    if (s[i] == '0') {
        ++i;
    } else if (isDigit(s[i])) {
        while (i < n && isDigit(s[i]))
            ++i;
    } else {
        return false;
    }
    if (i < n && s[i] == '.') {
        ++i;
        if (i >= n || !isDigit(s[i])) return false;
        while (i < n && isDigit(s[i]))
            ++i;
    }
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        if (i >= n || !isDigit(s[i])) return false;
        while (i < n && isDigit(s[i]))
            ++i;
    }
    return i == n;
}

bool isPrintable(std::string_view s) {
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E) return false;
    }
    return true;
}

}  // namespace

std::string jsonValue(std::string_view value) {
    switch (classify(value)) {
        case ValueKind::Empty:
            return "null";
        case ValueKind::Number:
            return std::string(value);
        case ValueKind::Text:
            return jsonString(value);
        case ValueKind::Binary:
            break;
    }
    return jsonString(hexBytes(value));
}

const char *kindName(ValueKind kind) {
    switch (kind) {
        case ValueKind::Empty:
            return "none";
        case ValueKind::Number:
            return "number";
        case ValueKind::Text:
            return "text";
        case ValueKind::Binary:
            break;
    }
    return "binary";
}

namespace {

// A CSV field, quoted when it holds a separator, a quote, a line end or
// surrounding blanks.
std::string csvField(std::string_view text) {
    bool quote = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    for (char c : text)
        if (c == ',' || c == '"' || c == '\n' || c == '\r') quote = true;
    if (!quote) return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

ValueKind classify(std::string_view value) {
    if (value.empty()) return ValueKind::Empty;
    if (isJsonNumber(value)) return ValueKind::Number;
    return isPrintable(value) ? ValueKind::Text : ValueKind::Binary;
}

std::string hexBytes(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        out += digits[u >> 4];
        out += digits[u & 0x0F];
    }
    return out;
}

std::string isoTime(std::chrono::system_clock::time_point t, bool withOffset) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    long millis = static_cast<long>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    n += static_cast<std::size_t>(std::snprintf(text + n, sizeof text - n, ".%03ld", millis));
    if (withOffset) {
        const long offset = local.tm_gmtoff / 60;
        const long magnitude = offset < 0 ? -offset : offset;
        std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                      magnitude / 60, magnitude % 60);
    }
    return text;
}

std::string displayValue(std::string_view value) {
    if (classify(value) == ValueKind::Binary) return "<hex " + hexBytes(value) + ">";
    return std::string(value);
}

std::string textLine(const Packet &p) {
    char head[96];
    std::snprintf(head, sizeof head, "%s  station %d  tag %5d (0x%04X)  ",
                  isoTime(p.time, false).c_str(), p.station, p.tag, p.tag);
    char tail[96];
    std::snprintf(tail, sizeof tail, "  status %d  rssi %d  cv %d%s%s", p.status, p.rssi, p.cv,
                  p.battLow ? "  batt-low" : "", p.error ? "  error" : "");
    std::string value = displayValue(p.value);
    // push_back, not = "-": GCC 12 warns (-Wrestrict) about the inlined assignment of a
    // literal to a string, a false positive.
    if (value.empty()) value.push_back('-');
    return head + value + tail;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", u);
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string jsonObject(const Packet &p, bool withSinceStart, const PacketLabels &labels) {
    std::string out = "{\"time\":\"" + isoTime(p.time, true) + "\"";
    if (withSinceStart) out += ",\"ms\":" + std::to_string(p.sinceStartMs);
    out += ",\"station\":" + std::to_string(p.station);
    out += ",\"tag\":" + std::to_string(p.tag);
    out += ",\"value\":" + jsonValue(p.value);
    out += ",\"value_type\":\"" + std::string(kindName(classify(p.value))) + "\"";
    out += ",\"status\":" + std::to_string(p.status);
    out += ",\"rssi\":" + std::to_string(p.rssi);
    out += ",\"cv\":" + std::to_string(p.cv);
    out += std::string(",\"batt_low\":") + (p.battLow ? "true" : "false");
    out += std::string(",\"error\":") + (p.error ? "true" : "false");
    if (labels.withStationId)
        out += ",\"station_id\":" +
               (labels.stationId.empty() ? std::string("null") : jsonString(labels.stationId));
    if (!labels.name.empty()) out += ",\"name\":" + jsonString(labels.name);
    if (!labels.unit.empty()) out += ",\"unit\":" + jsonString(labels.unit);
    return out + "}";
}

std::string_view csvHeader() {
    return "time,ms,station,tag,value,status,rssi,cv,batt_low,error";
}

std::string csvRow(const Packet &p) {
    const std::string value =
        classify(p.value) == ValueKind::Binary ? hexBytes(p.value) : std::string(p.value);
    return isoTime(p.time, true) + "," + std::to_string(p.sinceStartMs) + "," +
           std::to_string(p.station) + "," + std::to_string(p.tag) + "," + csvField(value) + "," +
           std::to_string(p.status) + "," + std::to_string(p.rssi) + "," + std::to_string(p.cv) +
           "," + (p.battLow ? "1" : "0") + "," + (p.error ? "1" : "0");
}

}  // namespace lyx::cli
