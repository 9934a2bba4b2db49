#include "lyx/tags/tag_file.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace lyx::tags {

namespace {

constexpr int kAllDevices = 65535;  // addresses every device in commands; names no tag
constexpr std::int32_t kLargestModuleId = 0xFFFFFE;
constexpr std::size_t kLongestName = 100;
constexpr std::size_t kLongestUnit = 32;
constexpr std::size_t kLongestClass = 64;
constexpr double kShortestTimeout = 0.1;         // seconds
constexpr double kLongestTimeout = 7 * 86400.0;  // a week

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Where `text` stops being UTF-8 (overlong forms, surrogates and code points past U+10FFFF
// included), or npos when all of it is.
std::size_t badUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = 0;
        std::uint32_t cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07u;
        } else {
            return i;
        }
        if (i + n >= text.size()) return i;  // cut short
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0u) != 0x80u) return i;
            cp = (cp << 6) | (d & 0x3Fu);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return i;
        i += n + 1;
    }
    return std::string_view::npos;
}

bool hasControl(std::string_view s) {
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

// A whole number in decimal or, with 0x, in hexadecimal; nothing for anything else.
std::optional<std::int64_t> wholeNumber(std::string_view s) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.size() > 12) return std::nullopt;
    std::int64_t value = 0;
    for (char c : s) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * base + digit;
    }
    return value;
}

// "30s", "500ms", "2min", "1h" or a bare number of seconds; nothing when it is none of those.
std::optional<double> seconds(std::string_view s) {
    std::size_t digits = 0;
    while (digits < s.size() && ((s[digits] >= '0' && s[digits] <= '9') || s[digits] == '.'))
        ++digits;
    const std::string number(s.substr(0, digits));
    const std::string unit = lower(trimmed(s.substr(digits)));
    if (number.empty() || number == "." || number.find('.') != number.rfind('.'))
        return std::nullopt;
    const double value = std::strtod(number.c_str(), nullptr);
    if (unit.empty() || unit == "s") return value;
    if (unit == "ms") return value / 1000.0;
    if (unit == "min") return value * 60.0;
    if (unit == "h") return value * 3600.0;
    return std::nullopt;
}

bool isClassWord(std::string_view s) {
    if (s.empty() || s.size() > kLongestClass) return false;
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

class Parser {
  public:
    explicit Parser(const std::string &file) : file_(file) {}

    TagNames run(std::string_view text) {
        if (text.size() > kLargestTagFile)
            throw TagFileError(file_, 0, "larger than 1 MiB; is it a tag file?");
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a byte-order mark
        std::size_t at = 0;
        while (at <= text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(at, end - at);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            ++lineNo_;
            if (const auto bad = badUtf8(line); bad != std::string_view::npos)
                fail("not UTF-8 text (byte " + std::to_string(bad + 1) + " of the line)");
            take(trimmed(line));
            at = end + 1;
        }
        return std::move(names_);
    }

  private:
    [[noreturn]] void fail(const std::string &problem) const {
        throw TagFileError(file_, lineNo_, problem);
    }

    void take(std::string_view line) {
        if (line.empty() || line.front() == '#' || line.front() == ';') return;
        if (line.front() == '[') return section(line);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos)
            fail("expected [TAG] or KEY = VALUE, got '" + std::string(line) + "'");
        const std::string key = lower(trimmed(line.substr(0, equals)));
        std::string_view value = trimmed(line.substr(equals + 1));
        if (key.empty()) fail("a value without a key");
        if (current_ == nullptr) fail("'" + key + "' comes before the first [TAG] section");
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (!seen_.emplace(key, lineNo_).second)
            fail("'" + key + "' is given twice for tag " + std::to_string(tag_) + " (line " +
                 std::to_string(seen_[key]) + " and here)");
        assign(key, value);
    }

    void section(std::string_view line) {
        const auto close = line.find(']');
        if (close == std::string_view::npos) fail("'[' without ']'");
        if (!trimmed(line.substr(close + 1)).empty())
            fail("text after ']': '" + std::string(trimmed(line.substr(close + 1))) + "'");
        const std::string_view name = trimmed(line.substr(1, close - 1));
        const auto tag = wholeNumber(name);
        if (!tag)
            fail("[" + std::string(name) +
                 "] is not a data tag (a whole number, decimal or hexadecimal with 0x)");
        if (*tag >= kAllDevices)
            fail("[" + std::string(name) + "] is out of range (tags are 0 to 65534)");
        tag_ = static_cast<int>(*tag);
        if (const auto before = sectionLines_.find(tag_); before != sectionLines_.end())
            fail("tag " + std::to_string(tag_) + " has a section already (line " +
                 std::to_string(before->second) + ")");
        sectionLines_[tag_] = lineNo_;
        current_ = &names_[tag_];
        seen_.clear();
    }

    void assign(const std::string &key, std::string_view value) {
        TagInfo &info = *current_;
        const auto text = [&](std::size_t longest) {
            if (hasControl(value)) fail(key + ": holds a control character");
            if (value.size() > longest)
                fail(key + ": longer than " + std::to_string(longest) + " bytes");
            return std::string(value);
        };
        if (key == "name") {
            info.name = text(kLongestName);
        } else if (key == "unit") {
            info.unit = text(kLongestUnit);
        } else if (key == "device_class") {
            if (!isClassWord(value))
                fail("device_class: '" + std::string(value) +
                     "' is not a class name (lower-case letters, digits and _, such as weight "
                     "or temperature)");
            info.deviceClass = std::string(value);
        } else if (key == "state_class") {
            if (value != "measurement" && value != "total" && value != "total_increasing")
                fail("state_class: '" + std::string(value) +
                     "' is not measurement, total or total_increasing");
            info.stateClass = std::string(value);
        } else if (key == "timeout") {
            const auto s = seconds(value);
            if (!s)
                fail("timeout: '" + std::string(value) +
                     "' is not a time such as 30s, 500ms, 2min or 1h");
            if (!(*s >= kShortestTimeout && *s <= kLongestTimeout))
                fail("timeout: '" + std::string(value) + "' is out of range (100ms to 7 days)");
            info.timeout = std::chrono::milliseconds(std::llround(*s * 1000.0));
        } else if (key == "module") {
            const auto id = wholeNumber(value);
            if (!id || *id > kLargestModuleId)
                fail("module: '" + std::string(value) +
                     "' is not a module ID (0 to 0xFFFFFE, decimal or with 0x)");
            info.module = static_cast<std::int32_t>(*id);
        } else {
            fail("unknown key '" + key +
                 "' (name, unit, device_class, state_class, timeout or module)");
        }
    }

    const std::string &file_;
    int lineNo_ = 0;
    int tag_ = -1;
    TagInfo *current_ = nullptr;
    TagNames names_;
    std::map<int, int> sectionLines_;
    std::map<std::string, int> seen_;  // keys of the current section, by line
};

std::string describeErrno(int error) {
    return std::strerror(error);
}

// "FILE:LINE: PROBLEM", or "FILE: PROBLEM" without a line; appended piece by piece, since
// ":" + string makes GCC 12 warn (-Wrestrict, a false positive on inlined library code).
std::string located(const std::string &file, int line, const std::string &problem) {
    std::string out = file;
    if (line > 0) {
        out += ':';
        out += std::to_string(line);
    }
    out += ": ";
    out += problem;
    return out;
}

}  // namespace

TagFileError::TagFileError(std::string file, int line, std::string problem)
    : std::runtime_error(located(file, line, problem)),
      file_(std::move(file)),
      line_(line),
      problem_(std::move(problem)) {}

TagNames parseTagFile(std::string_view text, const std::string &file) {
    return Parser(file).run(text);
}

TagNames readTagFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw TagFileError(path, 0, "cannot read it: " + describeErrno(errno));
    std::string text;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kLargestTagFile) break;
    }
    if (in.bad()) throw TagFileError(path, 0, "cannot read it: " + describeErrno(errno));
    return parseTagFile(text, path);
}

std::string defaultTagFile() {
    // A relative XDG_CONFIG_HOME is to be ignored.
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return std::string(config) + "/lyx/tags.ini";
    const char *home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config/lyx/tags.ini";
    return {};
}

LoadedTags loadTagFile(const std::optional<std::string> &given) {
    if (given) return {*given, readTagFile(*given)};
    const std::string path = defaultTagFile();
    if (path.empty()) return {};
    // No file there, also where a part of the path is no folder: nothing to read.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) return {};
    return {path, readTagFile(path)};
}

void describeAll(TagTable &table, const TagNames &names) {
    for (const auto &[tag, info] : names)
        table.describe(tag, info);
}

}  // namespace lyx::tags
