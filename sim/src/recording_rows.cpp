// Reading the rows of one recorded file: the CSV records (RFC 4180 quoting),
// the JSON objects of JSON Lines, and the checks of every field.
#include "recording_rows.hpp"

#include <array>
#include <charconv>
#include <deque>
#include <optional>

namespace lyx::sim::recording {

namespace {

enum class Column { Time, Ms, Station, Tag, Value, Status, Rssi, Cv, BattLow, Error, Count };

constexpr std::array<std::string_view, static_cast<std::size_t>(Column::Count)> kColumnNames = {
    "time", "ms", "station", "tag", "value", "status", "rssi", "cv", "batt_low", "error"};

constexpr std::string_view kHeader = "time,ms,station,tag,value,status,rssi,cv,batt_low,error";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// Shows a field in a message: quoted, and cut when it is long.
std::string shown(std::string_view text) {
    std::string out = "'";
    for (char c : text.substr(0, 40)) {
        const auto u = static_cast<unsigned char>(c);
        out += u >= 0x20 && u < 0x7F ? c : '?';
    }
    return out + (text.size() > 40 ? "...'" : "'");
}

Outcome wholeNumber(std::string_view name, std::string_view text, long long min, long long max,
                    long long &out) {
    text = trim(text);
    long long value = 0;
    const char *begin = text.data();
    if (!text.empty() && text.front() == '+') ++begin;
    auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < min ||
        value > max) {
        return Outcome::failure(std::string(name) + ": expected a whole number from " +
                                std::to_string(min) + " to " + std::to_string(max) + ", not " +
                                shown(text));
    }
    out = value;
    return {};
}

Outcome flag(std::string_view name, std::string_view text, bool &out) {
    text = trim(text);
    if (text == "1" || text == "true") {
        out = true;
    } else if (text == "0" || text == "false") {
        out = false;
    } else {
        return Outcome::failure(std::string(name) + ": expected 0 or 1, not " + shown(text));
    }
    return {};
}

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Keeps the value text of a row.
Outcome keepValue(File &file, Row &row, Kind kind, std::string_view text) {
    if (text.size() > kMaxValueText) {
        return Outcome::failure("value: longer than a packet can carry (" +
                                std::to_string(text.size()) + " characters)");
    }
    if (kind == Kind::Binary) {
        bool hex = text.size() % 2 == 0;
        for (char c : text)
            hex = hex && isHexDigit(c);
        if (!hex) return Outcome::failure("value: a binary value needs hexadecimal byte pairs");
    }
    row.kind = text.empty() ? Kind::Empty : kind;
    row.text = static_cast<std::uint32_t>(file.texts.size());
    row.length = static_cast<std::uint16_t>(text.size());
    file.texts.append(text);
    return {};
}

// Fields every row shares, whatever the format: checked and stored.
struct Fields {
    Outcome station(Row &row, std::string_view text) {
        long long n = 0;
        if (auto ok = wholeNumber("station", text, 0, 255, n); !ok) return ok;
        row.station = static_cast<std::uint8_t>(n);
        return {};
    }
    Outcome tag(Row &row, std::string_view text) {
        long long n = 0;
        if (auto ok = wholeNumber("tag", text, 0, 65535, n); !ok) return ok;
        if (n == 65535)
            return Outcome::failure("tag: 65535 addresses all modules; no module sends it");
        row.tag = static_cast<std::uint16_t>(n);
        return {};
    }
    Outcome ms(Row &row, std::string_view text) {
        long long n = 0;
        if (auto ok = wholeNumber("ms", text, 0, INT64_MAX / 4, n); !ok) return ok;
        row.ms = n;
        return {};
    }
    Outcome time(Row &row, std::string_view text) {
        if (auto ok = parseIsoTime(trim(text), row.epoch, row.local); !ok) {
            return Outcome::failure("time: " + ok.error() + ", not " + shown(text));
        }
        return {};
    }
    Outcome status(Row &row, std::string_view text) {
        long long n = 0;
        if (auto ok = wholeNumber("status", text, 0, 255, n); !ok) return ok;
        row.status = static_cast<std::uint8_t>(n);
        return {};
    }
    Outcome rssi(Row &row, std::string_view text) {
        // What a signal byte can say: -128 to 127, less 45.
        long long n = 0;
        if (auto ok = wholeNumber("rssi", text, -173, 82, n); !ok) return ok;
        row.rssi = static_cast<std::int16_t>(n);
        return {};
    }
    Outcome cv(Row &row, std::string_view text) {
        long long n = 0;
        if (auto ok = wholeNumber("cv", text, 0, 127, n); !ok) return ok;
        row.cv = static_cast<std::uint8_t>(n);
        return {};
    }
};

// ---- CSV ----

// One CSV record at a time; a quoted field may hold separators, quotes ("")
// and line ends.
class CsvRecords {
  public:
    explicit CsvRecords(std::string_view text) : text_(text) {}

    // The next record's fields; false at the end. `line` is the line it starts
    // on. A malformed record sets `error` and is skipped to its line's end.
    bool next(std::vector<std::string_view> &fields, std::uint32_t &line, std::string &error) {
        fields.clear();
        error.clear();
        if (pos_ >= text_.size()) return false;
        line = line_;
        scratch_.clear();
        refs_.clear();
        const std::size_t start = pos_;
        for (;;) {
            if (pos_ < text_.size() && text_[pos_] == '"') {
                if (!quoted(error)) {
                    skipLine(start, line);
                    return true;
                }
            } else {
                std::size_t begin = pos_;
                while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n')
                    ++pos_;
                std::size_t end = pos_;
                if (end > begin && text_[end - 1] == '\r' &&
                    (end == text_.size() || text_[end] == '\n')) {
                    --end;
                }
                refs_.push_back({false, begin, end - begin});
            }
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size()) ++pos_;  // the line end
            ++line_;
            break;
        }
        for (const auto &r : refs_) {
            fields.push_back(r.scratch ? std::string_view(scratch_).substr(r.begin, r.size)
                                       : text_.substr(r.begin, r.size));
        }
        return true;
    }

  private:
    struct Ref {
        bool scratch;
        std::size_t begin;
        std::size_t size;
    };

    bool quoted(std::string &error) {
        ++pos_;
        const std::size_t begin = scratch_.size();
        for (;;) {
            if (pos_ >= text_.size()) {
                error = "a quoted field is not closed";
                return false;
            }
            const char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    scratch_ += '"';
                    ++pos_;
                    continue;
                }
                break;
            }
            if (c == '\n') ++line_;
            scratch_ += c;
        }
        if (pos_ < text_.size() && text_[pos_] == '\r' && pos_ + 1 < text_.size() &&
            text_[pos_ + 1] == '\n') {
            ++pos_;
        }
        if (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n') {
            error = "text after a closing quote";
            return false;
        }
        refs_.push_back({true, begin, scratch_.size() - begin});
        return true;
    }

    void skipLine(std::size_t start, std::uint32_t line) {
        // Resumes after the line the record started on.
        std::size_t end = text_.find('\n', start);
        pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        line_ = line + 1;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::uint32_t line_ = 1;
    std::string scratch_;
    std::vector<Ref> refs_;
};

bool isBlank(const std::vector<std::string_view> &fields) {
    return fields.size() == 1 && trim(fields[0]).empty();
}

Outcome readCsv(std::string_view text, File &file, const BadRow &bad) {
    CsvRecords records(text);
    std::vector<std::string_view> fields;
    std::uint32_t line = 0;
    std::string error;
    std::array<int, static_cast<std::size_t>(Column::Count)> at{};
    at.fill(-1);
    std::vector<Column> columns;
    const auto notOurs = [&](const std::string &why) {
        return Outcome::failure(file.name + ": not a log of lyx log: " + why +
                                " (its CSV files start with the header " + std::string(kHeader) +
                                ")");
    };
    // The header: the first line that is not blank.
    for (;;) {
        if (!records.next(fields, line, error)) return {};  // no header: an empty file
        if (!error.empty()) return notOurs("line " + std::to_string(line) + ": " + error);
        if (!isBlank(fields)) break;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string_view name = trim(fields[i]);
        std::size_t k = 0;
        while (k < kColumnNames.size() && kColumnNames[k] != name)
            ++k;
        if (k == kColumnNames.size()) return notOurs("unknown column " + shown(name));
        if (at[k] >= 0) return notOurs("column " + shown(name) + " twice");
        at[k] = static_cast<int>(i);
        columns.push_back(static_cast<Column>(k));
    }
    const auto has = [&](Column c) { return at[static_cast<std::size_t>(c)] >= 0; };
    if (!has(Column::Station) || !has(Column::Tag) || !has(Column::Value) ||
        (!has(Column::Time) && !has(Column::Ms))) {
        return notOurs("it needs the columns station, tag, value and time or ms");
    }

    Fields check;
    while (records.next(fields, line, error)) {
        if (error.empty() && isBlank(fields)) continue;
        Row row;
        row.line = line;
        row.csv = true;
        Outcome ok = error.empty() ? Outcome() : Outcome::failure(error);
        if (ok && fields.size() != columns.size()) {
            ok = Outcome::failure("expected " + std::to_string(columns.size()) + " fields, found " +
                                  std::to_string(fields.size()));
        }
        for (std::size_t i = 0; ok && i < fields.size(); ++i) {
            const std::string_view f = fields[i];
            switch (columns[i]) {
                case Column::Time:
                    ok = check.time(row, f);
                    break;
                case Column::Ms:
                    ok = check.ms(row, f);
                    break;
                case Column::Station:
                    ok = check.station(row, f);
                    break;
                case Column::Tag:
                    ok = check.tag(row, f);
                    break;
                case Column::Value:
                    ok = keepValue(file, row, isJsonNumber(f) ? Kind::Number : Kind::CsvText, f);
                    break;
                case Column::Status:
                    ok = check.status(row, f);
                    break;
                case Column::Rssi:
                    ok = check.rssi(row, f);
                    break;
                case Column::Cv:
                    ok = check.cv(row, f);
                    break;
                case Column::BattLow:
                    ok = flag("batt_low", f, row.batteryLow);
                    break;
                case Column::Error:
                    ok = flag("error", f, row.error);
                    break;
                case Column::Count:
                    break;
            }
        }
        if (!ok) {
            if (!bad(line, ok.error())) {
                return Outcome::failure(file.name + ":" + std::to_string(line) + ": " + ok.error());
            }
            continue;
        }
        file.rows.push_back(row);
    }
    return {};
}

// ---- JSON Lines ----

struct JsonValue {
    enum class Type { String, Number, True, False, Null, Nested };
    Type type = Type::Null;
    std::string_view text;  // a string's characters, a number as written
};

// A flat JSON object on one line. Strings are read with their escapes; nested
// objects and arrays are skipped (they hold nothing a row needs).
class JsonObject {
  public:
    Outcome parse(std::string_view line) {
        text_ = line;
        pos_ = 0;
        members.clear();
        unescaped_.clear();
        space();
        if (!take('{')) return fail("expected a JSON object");
        space();
        if (take('}')) return end();
        for (;;) {
            space();
            std::string_view key;
            if (peek() != '"') return fail("expected a member name");
            if (auto ok = string(key); !ok) return ok;
            space();
            if (!take(':')) return fail("expected ':' after a member name");
            space();
            JsonValue value;
            if (auto ok = this->value(value, 0); !ok) return ok;
            members.emplace_back(key, value);
            space();
            if (take(',')) continue;
            if (take('}')) return end();
            return fail("expected ',' or '}'");
        }
    }

    const JsonValue *find(std::string_view key) const {
        const JsonValue *found = nullptr;
        for (const auto &[k, v] : members)
            if (k == key) found = &v;  // the last one counts, as in most readers
        return found;
    }

    std::vector<std::pair<std::string_view, JsonValue>> members;

  private:
    static constexpr int kMaxDepth = 32;

    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    bool take(char c) {
        if (peek() != c || pos_ >= text_.size()) return false;
        ++pos_;
        return true;
    }
    void space() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r'))
            ++pos_;
    }
    Outcome fail(const std::string &what) const {
        return Outcome::failure(what + " at column " + std::to_string(pos_ + 1));
    }
    Outcome end() {
        space();
        if (pos_ != text_.size()) return fail("text after the object");
        return {};
    }

    static void appendUtf8(std::string &out, std::uint32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    bool hex4(std::uint32_t &out) {
        if (text_.size() - pos_ < 4) return false;
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            out <<= 4;
            if (isDigit(c)) {
                out |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                out |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                out |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    Outcome string(std::string_view &out) {
        ++pos_;  // the opening quote
        const std::size_t begin = pos_;
        while (pos_ < text_.size() && text_[pos_] != '"' && text_[pos_] != '\\') {
            if (static_cast<unsigned char>(text_[pos_]) < 0x20) {
                return fail("a control character in a string");
            }
            ++pos_;
        }
        if (take('"')) {
            out = text_.substr(begin, pos_ - 1 - begin);
            return {};
        }
        // Escapes: the characters go to storage of their own.
        std::string &s = unescaped_.emplace_back(text_.substr(begin, pos_ - begin));
        for (;;) {
            if (pos_ >= text_.size()) return fail("a string is not closed");
            const char c = text_[pos_++];
            if (c == '"') break;
            if (static_cast<unsigned char>(c) < 0x20)
                return fail("a control character in a string");
            if (c != '\\') {
                s += c;
                continue;
            }
            if (pos_ >= text_.size()) return fail("a string is not closed");
            const char e = text_[pos_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    s += e;
                    break;
                case 'b':
                    s += '\b';
                    break;
                case 'f':
                    s += '\f';
                    break;
                case 'n':
                    s += '\n';
                    break;
                case 'r':
                    s += '\r';
                    break;
                case 't':
                    s += '\t';
                    break;
                case 'u': {
                    std::uint32_t c1 = 0;
                    if (!hex4(c1)) return fail("\\u needs four hexadecimal digits");
                    if (c1 >= 0xD800 && c1 < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
                        pos_ += 2;
                        std::uint32_t c2 = 0;
                        if (!hex4(c2) || c2 < 0xDC00 || c2 >= 0xE000) {
                            return fail("a broken surrogate pair");
                        }
                        c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
                    } else if (c1 >= 0xD800 && c1 < 0xE000) {
                        return fail("a broken surrogate pair");
                    }
                    appendUtf8(s, c1);
                    break;
                }
                default:
                    return fail(std::string("an unknown escape \\") + e);
            }
        }
        out = s;
        return {};
    }

    Outcome number(std::string_view &out) {
        const std::size_t begin = pos_;
        while (pos_ < text_.size() &&
               (isDigit(text_[pos_]) || text_[pos_] == '-' || text_[pos_] == '+' ||
                text_[pos_] == '.' || text_[pos_] == 'e' || text_[pos_] == 'E'))
            ++pos_;
        out = text_.substr(begin, pos_ - begin);
        if (!isJsonNumber(out)) return fail("a malformed number");
        return {};
    }

    Outcome value(JsonValue &out, int depth) {
        const char c = peek();
        if (c == '"') {
            out.type = JsonValue::Type::String;
            return string(out.text);
        }
        if (c == '-' || isDigit(c)) {
            out.type = JsonValue::Type::Number;
            return number(out.text);
        }
        for (auto [word, type] : {std::pair{std::string_view("true"), JsonValue::Type::True},
                                  std::pair{std::string_view("false"), JsonValue::Type::False},
                                  std::pair{std::string_view("null"), JsonValue::Type::Null}}) {
            if (text_.substr(pos_, word.size()) == word) {
                pos_ += word.size();
                out.type = type;
                out.text = word;
                return {};
            }
        }
        if (c == '{' || c == '[') {
            if (depth >= kMaxDepth) return fail("values nested too deep");
            out.type = JsonValue::Type::Nested;
            const char close = c == '{' ? '}' : ']';
            ++pos_;
            space();
            if (take(close)) return {};
            for (;;) {
                space();
                if (c == '{') {
                    std::string_view key;
                    if (peek() != '"') return fail("expected a member name");
                    if (auto ok = string(key); !ok) return ok;
                    space();
                    if (!take(':')) return fail("expected ':' after a member name");
                    space();
                }
                JsonValue inner;
                if (auto ok = value(inner, depth + 1); !ok) return ok;
                space();
                if (take(',')) continue;
                if (take(close)) return {};
                return fail(std::string("expected ',' or '") + close + "'");
            }
        }
        return fail("expected a value");
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::deque<std::string> unescaped_;  // stable addresses for the views
};

const char *typeName(JsonValue::Type type) {
    switch (type) {
        case JsonValue::Type::String:
            return "a string";
        case JsonValue::Type::Number:
            return "a number";
        case JsonValue::Type::True:
        case JsonValue::Type::False:
            return "true or false";
        case JsonValue::Type::Null:
            return "null";
        case JsonValue::Type::Nested:
            break;
    }
    return "an object or array";
}

Outcome expect(std::string_view name, const JsonValue &v, JsonValue::Type type) {
    if (v.type == type) return {};
    return Outcome::failure(std::string(name) + ": expected " + typeName(type) + ", not " +
                            typeName(v.type));
}

Outcome jsonRow(const JsonObject &object, File &file, Row &row) {
    Fields check;
    const JsonValue *station = object.find("station");
    const JsonValue *tag = object.find("tag");
    const JsonValue *value = object.find("value");
    const JsonValue *ms = object.find("ms");
    const JsonValue *time = object.find("time");
    if (station == nullptr || tag == nullptr || value == nullptr) {
        return Outcome::failure("a row needs station, tag and value");
    }
    if (ms == nullptr && time == nullptr) return Outcome::failure("a row needs ms or time");
    using T = JsonValue::Type;
    const auto number = [&](std::string_view name, const JsonValue *v, auto store) -> Outcome {
        if (v == nullptr) return {};
        if (auto ok = expect(name, *v, T::Number); !ok) return ok;
        return store(v->text);
    };
    const auto boolean = [&](std::string_view name, const JsonValue *v, bool &out) -> Outcome {
        if (v == nullptr) return {};
        if (v->type != T::True && v->type != T::False) return expect(name, *v, T::True);
        out = v->type == T::True;
        return {};
    };
    if (auto ok = number("station", station, [&](auto t) { return check.station(row, t); }); !ok)
        return ok;
    if (auto ok = number("tag", tag, [&](auto t) { return check.tag(row, t); }); !ok) return ok;
    if (auto ok = number("ms", ms, [&](auto t) { return check.ms(row, t); }); !ok) return ok;
    if (time != nullptr) {
        if (auto ok = expect("time", *time, T::String); !ok) return ok;
        if (auto ok = check.time(row, time->text); !ok) return ok;
    }
    if (auto ok =
            number("status", object.find("status"), [&](auto t) { return check.status(row, t); });
        !ok)
        return ok;
    if (auto ok = number("rssi", object.find("rssi"), [&](auto t) { return check.rssi(row, t); });
        !ok)
        return ok;
    if (auto ok = number("cv", object.find("cv"), [&](auto t) { return check.cv(row, t); }); !ok)
        return ok;
    if (auto ok = boolean("batt_low", object.find("batt_low"), row.batteryLow); !ok) return ok;
    if (auto ok = boolean("error", object.find("error"), row.error); !ok) return ok;

    // The value, with the kind value_type gives, or the kind its JSON type says.
    std::optional<std::string_view> kind;
    if (const JsonValue *vt = object.find("value_type")) {
        if (auto ok = expect("value_type", *vt, T::String); !ok) return ok;
        kind = vt->text;
    }
    const auto mismatch = [&](std::string_view want) {
        return Outcome::failure("value: expected " + std::string(want) + " for value_type \"" +
                                std::string(*kind) + "\", not " + typeName(value->type));
    };
    if (!kind) {
        if (value->type == T::Null) return keepValue(file, row, Kind::Empty, {});
        if (value->type == T::Number) return keepValue(file, row, Kind::Number, value->text);
        if (value->type == T::String) return keepValue(file, row, Kind::Text, value->text);
        return Outcome::failure(std::string("value: expected a number, a string or null, not ") +
                                typeName(value->type));
    }
    if (*kind == "none") {
        if (value->type != T::Null) return mismatch("null");
        return keepValue(file, row, Kind::Empty, {});
    }
    if (*kind == "number") {
        if (value->type != T::Number) return mismatch("a number");
        return keepValue(file, row, Kind::Number, value->text);
    }
    if (*kind == "text" || *kind == "binary") {
        if (value->type != T::String) return mismatch("a string");
        return keepValue(file, row, *kind == "text" ? Kind::Text : Kind::Binary, value->text);
    }
    return Outcome::failure("value_type: expected none, number, text or binary, not " +
                            shown(*kind));
}

Outcome readJsonLines(std::string_view text, File &file, const BadRow &bad) {
    JsonObject object;
    std::uint32_t line = 0;
    std::size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view content = text.substr(pos, end - pos);
        pos = end + 1;
        ++line;
        if (trim(content).empty() || trim(content) == "\r") continue;
        Row row;
        row.line = line;
        Outcome ok = object.parse(content);
        if (ok) ok = jsonRow(object, file, row);
        if (first && !ok) {
            // The first row says whether this is a log of ours at all.
            return Outcome::failure(file.name + ": not a log of lyx log: line " +
                                    std::to_string(line) + ": " + ok.error() +
                                    " (its JSON Lines hold one object per packet with time, ms, "
                                    "station, tag, value, ...)");
        }
        first = false;
        if (!ok) {
            if (!bad(line, ok.error())) {
                return Outcome::failure(file.name + ":" + std::to_string(line) + ": " + ok.error());
            }
            continue;
        }
        file.rows.push_back(row);
    }
    return {};
}

long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// Reads `count` digits at `pos` into `out`.
bool digits(std::string_view text, std::size_t &pos, std::size_t count, int &out) {
    if (text.size() - pos < count) return false;
    out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (!isDigit(c)) return false;
        out = out * 10 + (c - '0');
    }
    pos += count;
    return true;
}

}  // namespace

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

Outcome parseIsoTime(std::string_view text, std::int64_t &epoch, std::int64_t &local) {
    const auto bad = [] {
        return Outcome::failure("expected a time such as 2026-12-08T07:05:09.042+01:00");
    };
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, pos, 4, year) || pos >= text.size() || text[pos++] != '-' ||
        !digits(text, pos, 2, month) || pos >= text.size() || text[pos++] != '-' ||
        !digits(text, pos, 2, day) || pos >= text.size() ||
        (text[pos] != 'T' && text[pos] != 't' && text[pos] != ' ') ||
        !digits(text, ++pos, 2, hour) || pos >= text.size() || text[pos++] != ':' ||
        !digits(text, pos, 2, minute) || pos >= text.size() || text[pos++] != ':' ||
        !digits(text, pos, 2, second)) {
        return bad();
    }
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 ||
        second > 60) {
        return bad();
    }
    int millis = 0;
    if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        int place = 100;
        const std::size_t first = pos;
        while (pos < text.size() && isDigit(text[pos])) {
            millis += (text[pos] - '0') * place;
            place /= 10;
            ++pos;
        }
        if (pos == first) return bad();
    }
    local = ((daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 24 +
              hour) *
                 60 +
             minute) *
                60000LL +
            second * 1000LL + millis;
    epoch = local;
    if (pos == text.size()) return {};
    if ((text[pos] == 'Z' || text[pos] == 'z') && pos + 1 == text.size()) return {};
    if (text[pos] != '+' && text[pos] != '-') return bad();
    const int sign = text[pos++] == '-' ? -1 : 1;
    int oh = 0, om = 0;
    if (!digits(text, pos, 2, oh)) return bad();
    if (pos < text.size() && text[pos] == ':') ++pos;
    if (!digits(text, pos, 2, om) || pos != text.size() || oh > 23 || om > 59) return bad();
    epoch = local - sign * (oh * 60 + om) * 60000LL;
    return {};
}

Outcome readRows(std::string_view text, File &file, const BadRow &bad) {
    // A byte-order mark from an editor is no part of the first line.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::size_t first = 0;
    while (first < text.size() && (text[first] == ' ' || text[first] == '\t' ||
                                   text[first] == '\r' || text[first] == '\n'))
        ++first;
    if (first < text.size() && text[first] == '{') return readJsonLines(text, file, bad);
    return readCsv(text, file, bad);
}

}  // namespace lyx::sim::recording
