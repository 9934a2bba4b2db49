#include "arguments.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace lyx::cli {

namespace {

std::string quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

const OptionSpec *find(const std::vector<OptionSpec> &options, std::string_view name) {
    auto it = std::find_if(options.begin(), options.end(),
                           [&](const OptionSpec &o) { return o.name == name; });
    return it == options.end() ? nullptr : &*it;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// A C-locale number at the start of `text`; the rest in `rest`.
bool leadingNumber(std::string_view text, double &value, std::string_view &rest) {
    const std::string copy(text);
    const char *begin = copy.c_str();
    char *end = nullptr;
    errno = 0;
    value = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE || !std::isfinite(value)) return false;
    rest = text.substr(static_cast<std::size_t>(end - begin));
    return true;
}

}  // namespace

Arguments::Arguments(const std::vector<std::string> &words,
                     const std::vector<OptionSpec> &options) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-' ||
            (word[1] != '-' && !std::isalpha(static_cast<unsigned char>(word[1])))) {
            positional_.push_back(word);  // "-5" is a number, not an option
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = word;
        std::optional<std::string> inlineValue;
        if (auto eq = word.find('='); eq != std::string::npos) {
            name = word.substr(0, eq);
            inlineValue = word.substr(eq + 1);
        }
        const OptionSpec *option = find(options, name);
        if (option == nullptr) throw UsageError("unknown option " + quoted(name));
        std::string value;
        if (option->argument.empty()) {
            if (inlineValue) throw UsageError(name + " takes no value");
        } else if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < words.size()) {
            value = words[++i];
        } else {
            throw UsageError(name + " needs a value (" + option->argument + ")");
        }
        auto &list = given_[name];
        if (!list.empty() && !option->repeatable) throw UsageError(name + " given more than once");
        list.push_back(value);
    }
}

bool Arguments::has(std::string_view name) const {
    return given_.find(name) != given_.end();
}

std::optional<std::string> Arguments::value(std::string_view name) const {
    auto it = given_.find(name);
    if (it == given_.end()) return std::nullopt;
    return it->second.back();
}

std::vector<std::string> Arguments::values(std::string_view name) const {
    auto it = given_.find(name);
    return it == given_.end() ? std::vector<std::string>{} : it->second;
}

void Arguments::expectPositional(std::size_t least, std::size_t most,
                                 std::string_view names) const {
    if (positional_.size() < least) throw UsageError("missing " + std::string(names));
    if (positional_.size() > most)
        throw UsageError("unexpected argument " + quoted(positional_[most]));
}

void Arguments::expectWords(std::initializer_list<std::string_view> names) const {
    if (positional_.size() < names.size()) {
        std::vector<std::string_view> missing(names.begin() + positional_.size(), names.end());
        std::string text = "missing ";
        for (std::size_t i = 0; i < missing.size(); ++i) {
            if (i > 0) text += i + 1 == missing.size() ? " and " : ", ";
            text += missing[i];
        }
        throw UsageError(text);
    }
    expectPositional(names.size(), names.size(), "");
}

std::int64_t parseInteger(std::string_view text, std::int64_t least, std::int64_t most,
                          std::string_view what) {
    std::string_view digits = trim(text);
    int base = 10;
    bool negative = false;
    if (!digits.empty() && digits.front() == '-') {
        negative = true;
        digits.remove_prefix(1);
    }
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    const std::string range = " from " + std::to_string(least) + " to " + std::to_string(most);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        throw UsageError(std::string(what) + ": expected a whole number" + range + ", got " +
                         quoted(text));
    if (negative) value = -value;
    if (value < least || value > most)
        throw UsageError(std::string(what) + ": " + quoted(text) + " is out of range (" +
                         range.substr(1) + ")");
    return value;
}

double parseNumber(std::string_view text, std::string_view what) {
    double value = 0;
    std::string_view rest;
    if (!leadingNumber(trim(text), value, rest) || !rest.empty())
        throw UsageError(std::string(what) + ": expected a number, got " + quoted(text));
    return value;
}

double parseDuration(std::string_view text, std::string_view what) {
    double value = 0;
    std::string_view unit;
    if (!leadingNumber(trim(text), value, unit) || value <= 0)
        throw UsageError(std::string(what) +
                         ": expected a time such as 500ms, 10s, 5min or 1h, got " + quoted(text));
    if (unit == "ms") return value / 1000.0;
    if (unit.empty() || unit == "s") return value;
    if (unit == "min" || unit == "m") return value * 60.0;
    if (unit == "h") return value * 3600.0;
    if (unit == "d") return value * 86400.0;
    throw UsageError(std::string(what) + ": unknown time unit " + quoted(unit) +
                     " (ms, s, min, h, d)");
}

std::uint64_t parseSize(std::string_view text, std::string_view what) {
    double value = 0;
    std::string_view unit;
    if (!leadingNumber(trim(text), value, unit) || value <= 0)
        throw UsageError(std::string(what) + ": expected a size such as 4096, 64k or 10M, got " +
                         quoted(text));
    double scale = 1;
    if (unit == "k" || unit == "K" || unit == "KiB") {
        scale = 1024.0;
    } else if (unit == "M" || unit == "MiB") {
        scale = 1024.0 * 1024.0;
    } else if (unit == "G" || unit == "GiB") {
        scale = 1024.0 * 1024.0 * 1024.0;
    } else if (!unit.empty() && unit != "B") {
        throw UsageError(std::string(what) + ": unknown size unit " + quoted(unit) + " (k, M, G)");
    }
    const double bytes = value * scale;
    if (bytes < 1 || bytes > 1e18) throw UsageError(std::string(what) + ": size out of range");
    return static_cast<std::uint64_t>(bytes);
}

std::string parseHexBytes(std::string_view text, std::string_view what) {
    std::string_view s = trim(text);
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    std::string bytes;
    int high = -1;
    for (char c : s) {
        if (c == ' ' || c == ':' || c == '-') continue;
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0)
            throw UsageError(std::string(what) + ": " + quoted(text) +
                             " is not hexadecimal (two digits per byte)");
        if (high < 0) {
            high = digit;
        } else {
            bytes += static_cast<char>(high * 16 + digit);
            high = -1;
        }
    }
    if (high >= 0)
        throw UsageError(std::string(what) + ": " + quoted(text) +
                         " has an odd number of hexadecimal digits");
    return bytes;
}

}  // namespace lyx::cli
