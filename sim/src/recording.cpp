// Putting recorded files together: their order, one timeline, the type of each
// recorded module and the value bytes of every row.
#include "lyx/sim/recording.hpp"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "command_syntax.hpp"
#include "recording_rows.hpp"

namespace lyx::sim {

using recording::File;
using recording::Kind;
using recording::kNoTime;
using recording::Row;

namespace {

constexpr std::int64_t kDay = 24 * 3600 * 1000LL;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Hexadecimal byte pairs, upper case, as a log writes binary values.
bool isHexBytes(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0) return false;
    for (char c : text)
        if (hexValue(c) < 0 || (c >= 'a' && c <= 'f')) return false;
    return true;
}

void appendHex(Bytes &out, std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(hexValue(text[i]) * 16 + hexValue(text[i + 1])));
    }
}

bool printableHex(std::string_view text) {
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const int b = hexValue(text[i]) * 16 + hexValue(text[i + 1]);
        if (b < 0x20 || b > 0x7E) return false;
    }
    return true;
}

double numberOf(std::string_view text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The text a receiver shows for an int32 reading: seven significant digits,
// in exponent form from eight digits on ("-2", "1.234568E+08").
std::string receivedInt32Text(std::int32_t value) {
    char text[64];
    auto result = std::to_chars(text, text + sizeof text, static_cast<float>(value),
                                std::chars_format::general, 7);
    std::string out(text, result.ptr);
    std::replace(out.begin(), out.end(), 'e', 'E');
    return out;
}

// Whether `text` is how a receiver shows some int32 reading.
bool isInt32Text(std::string_view text) {
    const double value = numberOf(text);
    if (!std::isfinite(value) || value != std::floor(value) || value < -2147483648.0 ||
        value > 2147483647.0) {
        return false;
    }
    return receivedInt32Text(static_cast<std::int32_t>(value)) == text;
}

void putBigEndian(Bytes &out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// The single-precision value that a receiver shows as `text` again. The
// nearest one usually is; as a receiver cuts digits instead of rounding, the
// value may have to lie a little beyond the text.
float floatFor(std::string_view text) {
    if (text == "NaN") return std::numeric_limits<float>::quiet_NaN();
    if (text == "Infinity") return std::numeric_limits<float>::infinity();
    if (text == "-Infinity") return -std::numeric_limits<float>::infinity();
    const double d = numberOf(text);
    constexpr double kMax = std::numeric_limits<float>::max();
    const float nearest = static_cast<float>(std::clamp(d, -kMax, kMax));
    if (receivedFloatText(nearest) == text) return nearest;
    float up = nearest;
    float down = nearest;
    for (int i = 0; i < 4; ++i) {
        up = std::nextafter(up, std::numeric_limits<float>::infinity());
        if (receivedFloatText(up) == text) return up;
        down = std::nextafter(down, -std::numeric_limits<float>::infinity());
        if (receivedFloatText(down) == text) return down;
    }
    const std::size_t point = text.find('.');
    const std::size_t decimals = point == std::string_view::npos ? 0 : text.size() - point - 1;
    const double middle =
        d + std::copysign(0.5 * std::pow(10.0, -static_cast<double>(decimals)), d);
    const float cut = static_cast<float>(std::clamp(middle, -kMax, kMax));
    return receivedFloatText(cut) == text ? cut : nearest;
}

// Whether `text` is how a receiver shows some float reading.
bool isFloatText(std::string_view text) {
    return receivedFloatText(floatFor(text)) == text;
}

// A text that only a float reading shows, and a log therefore holds as text:
// NaN, Infinity, -Infinity, and readings from a million up to ten million
// ("5880561.").
bool isFloatOnlyText(std::string_view text) {
    if (text == "NaN" || text == "Infinity" || text == "-Infinity") return true;
    if (text.size() < 2 || text.back() != '.') return false;
    const std::string_view digits = text.substr(text.front() == '-' ? 1 : 0);
    return digits.size() > 1 &&
           std::all_of(digits.begin(), digits.end() - 1,
                       [](char c) { return c >= '0' && c <= '9'; }) &&
           isFloatText(text);
}

// What the rows of one module hold, for its type: the type whose receiver
// shows every value as it was logged (string where no number type does).
struct Tally {
    bool binary = false;       // a binary value (JSON)
    bool text = false;         // a text that is not a float's NaN or Infinity
    bool csvText = false;      // a CSV text: text or hexadecimal bytes
    bool allHex = true;        // every CSV value is hexadecimal byte pairs
    bool unprintable = false;  // and some of them are not printable as text
    bool number = false;
    bool special = false;  // a text only a float reading shows (NaN, "5880561.")
    bool int32s = true;    // every number as an int32 reading shows
    bool floats = true;    // every number as a float reading shows

    void add(const Row &row, std::string_view value) {
        switch (row.kind) {
            case Kind::Empty:
                return;
            case Kind::Binary:
                binary = true;
                return;
            case Kind::Text:
                (isFloatOnlyText(value) ? special : text) = true;
                return;
            case Kind::CsvText:
                if (isFloatOnlyText(value)) {
                    special = true;
                    return;
                }
                csvText = true;
                break;
            case Kind::Number:
                number = true;
                int32s = int32s && isInt32Text(value);
                floats = floats && isFloatText(value);
                if (!row.csv) return;
                break;
        }
        // A CSV file writes a binary value as its hexadecimal digits; a tag
        // whose values all read so, and not all as printable text, is binary.
        if (!isHexBytes(value)) {
            allHex = false;
        } else if (!printableHex(value)) {
            unprintable = true;
        }
    }

    DataType type() const {
        if (binary || (csvText && !text && allHex && unprintable)) return DataType::Binary;
        if (text || csvText) return DataType::String;
        if (number && !special && int32s) return DataType::Int32;
        if ((number || special) && floats) return DataType::Float;
        if (number) return DataType::String;
        return DataType::None;
    }
};

std::string located(const File &file, std::uint32_t line, const std::string &what) {
    return file.name + ":" + std::to_string(line) + ": " + what;
}

}  // namespace

std::string receivedFloatText(float value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    char text[400];
    auto result = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                std::chars_format::fixed, 7);
    std::string out(text, result.ptr);
    std::size_t keep = 7;
    if (out.find('-') != std::string::npos) ++keep;
    if (out.find('.') != std::string::npos) ++keep;
    if (out.front() == '0') ++keep;
    const std::size_t point = out.find('.');
    if (point != std::string::npos && point > keep) keep = point;
    return out.substr(0, keep);
}

std::vector<int> Recording::stations() const {
    std::vector<int> out;
    for (const auto &m : modules)
        if (out.empty() || out.back() != m.station) out.push_back(m.station);
    return out;
}

struct RecordingReader::State {
    RecordingOptions options;
    std::vector<File> files;
    std::uint64_t skipped = 0;
    std::string firstSkipped;

    // A row that does not parse: skipped and counted, or the end.
    bool skip(const std::string &where) {
        if (!options.skipBad) return false;
        if (skipped++ == 0) firstSkipped = where;
        return true;
    }
};

RecordingReader::RecordingReader(RecordingOptions options) : state_(std::make_unique<State>()) {
    state_->options = options;
}

RecordingReader::~RecordingReader() = default;

Outcome RecordingReader::addText(std::string_view name, std::string_view text) {
    File file;
    file.name = std::string(name);
    bool stopped = false;  // at a row that does not parse
    auto bad = [&](std::uint32_t line, const std::string &what) {
        stopped = !state_->skip(located(file, line, what));
        return !stopped;
    };
    if (auto ok = recording::readRows(text, file, bad); !ok) {
        if (!stopped) return ok;
        return Outcome::failure(ok.error() + " (--skip-bad skips such rows)");
    }
    state_->files.push_back(std::move(file));
    return {};
}

Outcome RecordingReader::readFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Outcome::failure("cannot read " + path + ": " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return Outcome::failure("cannot read " + path + ": it is a folder");
    }
    std::string text;
    if (S_ISREG(info.st_mode)) text.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            return Outcome::failure("cannot read " + path + ": " + std::strerror(error));
        }
    }
    ::close(fd);
    return addText(path, text);
}

Outcome RecordingReader::finish(Recording &out) {
    out = Recording{};
    std::vector<File> &files = state_->files;
    std::string names;
    for (const auto &f : files)
        names += (names.empty() ? "" : ", ") + f.name;
    if (files.empty()) return Outcome::failure("no files to replay");

    // Files in the order of their first rows' times, where every file has one.
    const bool timed = std::all_of(files.begin(), files.end(), [](const File &f) {
        return f.rows.empty() || f.rows.front().epoch != kNoTime;
    });
    if (timed) {
        std::stable_sort(files.begin(), files.end(), [](const File &a, const File &b) {
            if (a.rows.empty() || b.rows.empty()) return !a.rows.empty() && b.rows.empty();
            return a.rows.front().epoch < b.rows.front().epoch;
        });
    }
    for (const auto &f : files)
        out.files.push_back(f.name);

    // One timeline over every row: see recording.hpp.
    std::vector<std::int64_t> times;
    std::int64_t offset = 0;
    std::int64_t previous = 0;
    std::int64_t latest = 0;
    const Row *before = nullptr;
    std::uint64_t backwards = 0;
    std::string firstBackwards;
    for (const File &f : files) {
        for (const Row &r : f.rows) {
            std::int64_t t = (r.ms != kNoTime ? r.ms : r.epoch) + offset;
            if (before != nullptr && t < previous) {
                const bool restarted = r.ms != kNoTime && before->ms != kNoTime &&
                                       r.epoch != kNoTime && before->epoch != kNoTime &&
                                       r.epoch >= before->epoch;
                if (restarted) {
                    const std::int64_t gap = r.epoch - before->epoch;
                    offset += previous + gap - t;
                    t = previous + gap;
                } else if (backwards++ == 0) {
                    firstBackwards = located(
                        f, r.line, "the time goes back by " + std::to_string(previous - t) + " ms");
                }
            }
            latest = before == nullptr ? t : std::max(latest, t);
            times.push_back(latest);
            previous = t;
            before = &r;
        }
    }

    // The modules, by station and tag, and what their rows hold.
    std::map<std::uint32_t, Tally> tallies;
    for (const File &f : files)
        for (const Row &r : f.rows)
            tallies[(static_cast<std::uint32_t>(r.station) << 16) | r.tag].add(r, f.textOf(r));
    std::map<std::uint32_t, std::uint32_t> index;
    for (const auto &[key, tally] : tallies) {
        index[key] = static_cast<std::uint32_t>(out.modules.size());
        out.modules.push_back({static_cast<int>(key >> 16),
                               static_cast<std::uint16_t>(key & 0xFFFF), tally.type(), 0});
    }

    // Every row with its value bytes.
    out.rows.reserve(times.size());
    std::size_t n = 0;
    std::int64_t first = 0;
    for (const File &f : files) {
        for (const Row &r : f.rows) {
            const std::int64_t t = times[n++];
            const std::uint32_t m = index[(static_cast<std::uint32_t>(r.station) << 16) | r.tag];
            const DataType type = out.modules[m].type;
            const std::string_view text = f.textOf(r);
            RecordedRow row;
            row.module = m;
            row.status = r.status;
            row.rssi = r.rssi;
            row.linkQuality = r.cv;
            row.batteryLow = r.batteryLow;
            row.error = r.error;
            row.type = r.kind == Kind::Empty ? DataType::None : type;
            const std::size_t start = out.values.size();
            switch (row.type) {
                case DataType::Binary:
                    // Hexadecimal digits where the row holds a binary value's, else
                    // the text's own bytes.
                    if (r.kind == Kind::Binary || (r.csv && isHexBytes(text))) {
                        appendHex(out.values, text);
                    } else {
                        out.values.insert(out.values.end(), text.begin(), text.end());
                    }
                    break;
                case DataType::String:
                    out.values.insert(out.values.end(), text.begin(), text.end());
                    break;
                case DataType::Int32:
                    putBigEndian(out.values, static_cast<std::uint32_t>(static_cast<std::int32_t>(
                                                 std::llround(numberOf(text)))));
                    break;
                case DataType::Float:
                    putBigEndian(out.values, std::bit_cast<std::uint32_t>(floatFor(text)));
                    break;
                default:
                    break;
            }
            const std::size_t size = out.values.size() - start;
            if (size > kMaxValueBytes) {
                out.values.resize(start);
                const std::string what = located(f, r.line,
                                                 "value: " + std::to_string(size) +
                                                     " bytes, more than a packet carries (" +
                                                     std::to_string(kMaxValueBytes) + ")");
                if (!state_->skip(what)) {
                    return Outcome::failure(what + " (--skip-bad skips such rows)");
                }
                continue;
            }
            if (out.rows.empty()) {
                first = t;
                if (r.local != kNoTime) out.firstLocalTime = r.local;
            }
            row.at = t - first;
            row.value = static_cast<std::uint32_t>(start);
            row.size = static_cast<std::uint8_t>(size);
            ++out.modules[m].rows;
            out.rows.push_back(row);
        }
    }
    // Modules whose every row was skipped go.
    if (std::any_of(out.modules.begin(), out.modules.end(), [](auto &m) { return m.rows == 0; })) {
        std::vector<std::uint32_t> renumbered(out.modules.size());
        std::vector<RecordedModule> kept;
        for (std::size_t i = 0; i < out.modules.size(); ++i) {
            renumbered[i] = static_cast<std::uint32_t>(kept.size());
            if (out.modules[i].rows > 0) kept.push_back(out.modules[i]);
        }
        for (auto &row : out.rows)
            row.module = renumbered[row.module];
        out.modules = std::move(kept);
    }

    out.skippedRows = state_->skipped;
    if (out.rows.empty()) {
        if (state_->skipped > 0) {
            return Outcome::failure(names + ": no row parses (" + std::to_string(state_->skipped) +
                                    " skipped; the first: " + state_->firstSkipped + ")");
        }
        return Outcome::failure(names + ": no rows to replay");
    }
    if (state_->skipped > 0) {
        out.warnings.push_back("skipped " + std::to_string(state_->skipped) +
                               (state_->skipped == 1 ? " row that does" : " rows that do") +
                               " not parse; the first: " + state_->firstSkipped);
    }
    if (backwards > 0) {
        out.warnings.push_back(firstBackwards +
                               (backwards > 1
                                    ? " (and at " + std::to_string(backwards - 1) + " more rows)"
                                    : std::string()) +
                               "; such rows are replayed in file order, right after the row "
                               "before them");
    }
    return {};
}

Outcome expandFiles(const std::vector<std::string> &words, std::vector<std::string> &files) {
    files.clear();
    for (const auto &word : words) {
        if (word.find_first_of("*?[") == std::string::npos) {
            files.push_back(word);
            continue;
        }
        glob_t found{};
        const int result = ::glob(word.c_str(), 0, nullptr, &found);
        if (result == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i)
                files.emplace_back(found.gl_pathv[i]);
        }
        ::globfree(&found);
        if (result == GLOB_NOMATCH) return Outcome::failure("no file matches " + word);
        if (result != 0) return Outcome::failure("cannot read the files of " + word);
    }
    if (files.empty()) return Outcome::failure("no files to replay");
    return {};
}

Outcome readRecording(const std::vector<std::string> &files, const RecordingOptions &options,
                      Recording &out) {
    RecordingReader reader(options);
    for (const auto &path : files) {
        if (auto ok = reader.readFile(path); !ok) return ok;
    }
    return reader.finish(out);
}

Outcome parseRecordingTime(std::string_view text, const Recording &recording, std::int64_t &out) {
    const bool date = text.find('-') != std::string_view::npos && text.size() >= 10;
    const bool clock = !date && text.find(':') != std::string_view::npos;
    if (!date && !clock) {
        std::chrono::milliseconds d{};
        if (auto ok = syntax::parseDuration(text, d); !ok) {
            return Outcome::failure(
                "expected a time into the recording (90s, 1.5min), a clock "
                "time (07:05:30) or a date and time (2026-12-08T07:05:30)");
        }
        out = d.count();
        return {};
    }
    if (!recording.firstLocalTime) {
        return Outcome::failure("the recording has no time column for a clock time");
    }
    const std::int64_t first = *recording.firstLocalTime;
    std::int64_t epoch = 0;
    std::int64_t local = 0;
    if (date) {
        if (!recording::parseIsoTime(text, epoch, local) || epoch != local) {
            return Outcome::failure("expected a date and time such as 2026-12-08T07:05:30");
        }
        if (local < first) return Outcome::failure("before the recording's first row");
        out = local - first;
        return {};
    }
    // A clock time: the first such time at or after the first row.
    const std::string full = "1970-01-01T" + std::string(text) + (text.size() == 5 ? ":00" : "");
    if (!recording::parseIsoTime(full, epoch, local) || epoch != local) {
        return Outcome::failure("expected a clock time such as 07:05:30 or 07:05:30.250");
    }
    const std::int64_t day = ((first % kDay) + kDay) % kDay;
    out = ((local - day) % kDay + kDay) % kDay;
    return {};
}

}  // namespace lyx::sim
