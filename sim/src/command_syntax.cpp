#include "command_syntax.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace lyx::sim::syntax {

namespace {

Outcome bad(std::string_view key, std::string_view value, std::string_view expected) {
    return Outcome::failure(std::string(key) + "=" + std::string(value) + ": expected " +
                            std::string(expected));
}

Outcome unknownKey(std::string_view key, std::string_view what) {
    return Outcome::failure("unknown option '" + std::string(key) + "' for " + std::string(what));
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Applies a parser to an option value and names the option in its error.
template <typename Parse>
Outcome option(std::string_view key, std::string_view value, Parse parse) {
    if (auto ok = parse(); !ok) {
        return Outcome::failure(std::string(key) + "=" + std::string(value) + ": " + ok.error());
    }
    return {};
}

}  // namespace

Outcome tokenize(std::string_view text, Line &line) {
    line = {};
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
            ++i;
        if (i >= n || text[i] == '#') break;
        std::string token;
        std::optional<std::size_t> equals;
        while (i < n && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') {
            char c = text[i];
            if (c == '=' && !equals) {
                equals = token.size();
                token.push_back(c);
                ++i;
                continue;
            }
            if (c != '"') {
                token.push_back(c);
                ++i;
                continue;
            }
            ++i;
            for (;;) {
                if (i >= n) return Outcome::failure("unterminated quote");
                char q = text[i++];
                if (q == '"') break;
                if (q != '\\') {
                    token.push_back(q);
                    continue;
                }
                if (i >= n) return Outcome::failure("unterminated quote");
                char e = text[i++];
                switch (e) {
                    case '"':
                    case '\\':
                        token.push_back(e);
                        break;
                    case 'n':
                        token.push_back('\n');
                        break;
                    case 't':
                        token.push_back('\t');
                        break;
                    case 'x': {
                        int high = i < n ? hexDigit(text[i]) : -1;
                        int low = i + 1 < n ? hexDigit(text[i + 1]) : -1;
                        if (high < 0 || low < 0) {
                            return Outcome::failure("\\x needs two hexadecimal digits");
                        }
                        token.push_back(static_cast<char>(high * 16 + low));
                        i += 2;
                        break;
                    }
                    default:
                        return Outcome::failure(std::string("unknown escape \\") + e);
                }
            }
        }
        if (equals) {
            std::string key = token.substr(0, *equals);
            if (key.empty()) return Outcome::failure("option without a name: " + token);
            line.options.emplace_back(std::move(key), token.substr(*equals + 1));
        } else {
            line.words.push_back(std::move(token));
        }
    }
    return {};
}

Outcome parseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t &out) {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc{} || end != digits.data() + digits.size() ||
        value > max) {
        return Outcome::failure("expected a whole number from 0 to " + std::to_string(max));
    }
    out = value;
    return {};
}

Outcome parseInteger(std::string_view text, long long min, long long max, long long &out) {
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value < min ||
        value > max) {
        return Outcome::failure("expected a whole number from " + std::to_string(min) + " to " +
                                std::to_string(max));
    }
    out = value;
    return {};
}

Outcome parseNumber(std::string_view text, double &out) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return Outcome::failure("expected a number");
    }
    out = value;
    return {};
}

Outcome parseDuration(std::string_view text, std::chrono::milliseconds &out) {
    double scale = 1000.0;
    if (endsWith(text, "ms")) {
        scale = 1.0;
        text.remove_suffix(2);
    } else if (endsWith(text, "min")) {
        scale = 60000.0;
        text.remove_suffix(3);
    } else if (endsWith(text, "s")) {
        text.remove_suffix(1);
    }
    double value = 0;
    if (!parseNumber(text, value) || value < 0 || value * scale > 24.0 * 3600 * 1000) {
        return Outcome::failure("expected a time such as 500ms, 2s or 1.5 (seconds), up to 24 h");
    }
    out = std::chrono::milliseconds(static_cast<long long>(std::llround(value * scale)));
    return {};
}

Outcome parseProbability(std::string_view text, double &out) {
    double scale = 1.0;
    if (endsWith(text, "%")) {
        scale = 0.01;
        text.remove_suffix(1);
    }
    double value = 0;
    if (!parseNumber(text, value) || value * scale < 0 || value * scale > 1) {
        return Outcome::failure("expected a probability from 0 to 1, or 0% to 100%");
    }
    out = value * scale;
    return {};
}

Outcome parseSwitch(std::string_view text, bool &out) {
    if (text == "yes" || text == "on" || text == "true" || text == "1") {
        out = true;
    } else if (text == "no" || text == "off" || text == "false" || text == "0") {
        out = false;
    } else {
        return Outcome::failure("expected yes or no");
    }
    return {};
}

Outcome parseModuleId(std::string_view text, std::uint32_t &out) {
    std::uint64_t value = 0;
    if (!parseUnsigned(text, 0xFFFFFE, value) || value == 0) {
        return Outcome::failure("expected a module ID from 1 to 16777214 (0xFFFFFE), not '" +
                                std::string(text) + "'");
    }
    out = static_cast<std::uint32_t>(value);
    return {};
}

void sortTypeFirst(std::vector<std::pair<std::string, std::string>> &options) {
    std::stable_partition(options.begin(), options.end(),
                          [](const auto &o) { return o.first == "type"; });
}

Outcome applyModuleOption(ModuleConfig &m, std::string_view key, std::string_view value) {
    std::uint64_t u = 0;
    long long i = 0;
    double d = 0;
    bool b = false;
    std::chrono::milliseconds t{};
    if (key == "tag") {
        if (!parseUnsigned(value, 65534, u)) return bad(key, value, "a data tag from 0 to 65534");
        m.tag = static_cast<std::uint16_t>(u);
    } else if (key == "channel") {
        if (!parseUnsigned(value, 255, u) || u == 0) return bad(key, value, "a channel 1 to 255");
        m.channel = static_cast<std::uint8_t>(u);
    } else if (key == "type") {
        m.layout = Layout::Value;
        if (value == "record") {
            m.type = DataType::Binary;
            m.layout = Layout::Record;
        } else if (value == "store-forward" || value == "saf") {
            m.type = DataType::Binary;
            m.layout = Layout::StoreForward;
        } else if (auto type = parseDataType(value)) {
            m.type = *type;
        } else {
            return bad(key, value,
                       "none, uint8, uint16, int32, float, string, binary, interface, record, "
                       "store-forward or a code 0 to 255");
        }
        if (isNumeric(m.type)) m.fixedValue.reset();
    } else if (key == "rate") {
        if (!parseNumber(value, d) || d < 0 || d > 10000) {
            return bad(key, value, "packets per second, 0 to 10000");
        }
        m.rate = d;
    } else if (key == "wave" || key == "waveform") {
        auto shape = parseShape(value);
        if (!shape) return bad(key, value, "constant, ramp, sine, noise, steps or count");
        m.wave.shape = *shape;
    } else if (key == "offset") {
        if (!parseNumber(value, d)) return bad(key, value, "a number");
        m.wave.offset = d;
    } else if (key == "amplitude") {
        if (!parseNumber(value, d)) return bad(key, value, "a number");
        m.wave.amplitude = d;
    } else if (key == "period") {
        if (!parseDuration(value, t) || t.count() == 0) return bad(key, value, "a time above 0");
        m.wave.period = static_cast<double>(t.count()) / 1000.0;
    } else if (key == "steps") {
        std::vector<double> steps;
        std::string_view rest = value;
        while (!rest.empty()) {
            auto comma = rest.find(',');
            if (!parseNumber(rest.substr(0, comma), d)) {
                return bad(key, value, "numbers separated by commas");
            }
            steps.push_back(d);
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        if (steps.empty()) return bad(key, value, "numbers separated by commas");
        m.wave.steps = std::move(steps);
        m.wave.shape = Waveform::Shape::Steps;
    } else if (key == "random-key") {
        if (!parseUnsigned(value, UINT64_MAX, u)) return bad(key, value, "a whole number");
        m.wave.randomKey = u;
    } else if (key == "value") {
        // A constant reading for numeric types, the fixed value for the others.
        if (isNumeric(m.type) && m.layout == Layout::Value) {
            if (!parseNumber(value, d)) return bad(key, value, "a number");
            m.wave.shape = Waveform::Shape::Constant;
            m.wave.offset = d;
        } else if (m.layout != Layout::Value) {
            return Outcome::failure("value= does not apply to records and store-forward blocks");
        } else {
            auto parsed = parseValue(m.type, value);
            if (!parsed) {
                return bad(key, value, m.type == DataType::String ? "text" : "hexadecimal bytes");
            }
            m.fixedValue = parsed->bytes;
        }
    } else if (key == "text") {
        m.fixedValue = Bytes(value.begin(), value.end());
    } else if (key == "bytes") {
        auto parsed = parseValue(DataType::Binary, value);
        if (!parsed) return bad(key, value, "hexadecimal bytes");
        m.fixedValue = parsed->bytes;
    } else if (key == "decimals") {
        if (!parseUnsigned(value, 9, u)) return bad(key, value, "0 to 9");
        m.decimals = static_cast<int>(u);
    } else if (key == "status") {
        if (!parseUnsigned(value, 255, u)) return bad(key, value, "0 to 255");
        m.status = static_cast<std::uint8_t>(u);
    } else if (key == "rssi") {
        if (!parseInteger(value, -173, 82, i)) return bad(key, value, "dBm from -173 to 82");
        m.rssi = static_cast<int>(i);
    } else if (key == "quality" || key == "link-quality") {
        if (!parseUnsigned(value, 255, u)) return bad(key, value, "0 to 255");
        m.linkQuality = static_cast<std::uint8_t>(u);
    } else if (key == "battery") {
        if (value == "low") {
            m.batteryLow = true;
        } else if (value == "ok") {
            m.batteryLow = false;
        } else {
            return bad(key, value, "low or ok");
        }
    } else if (key == "error") {
        if (!parseSwitch(value, b)) return bad(key, value, "yes or no");
        m.error = b;
    } else if (key == "answers") {
        if (!parseSwitch(value, b)) return bad(key, value, "yes or no");
        m.answers = b;
    } else if (key == "latency") {
        if (!parseDuration(value, t)) return bad(key, value, "a time such as 20ms");
        m.latency = t;
    } else if (key == "sleep-timer") {
        if (!parseDuration(value, t)) return bad(key, value, "a time such as 30s (0: none)");
        m.sleepTimer = t;
    } else if (key == "pause") {
        if (!parseDuration(value, t)) return bad(key, value, "a time such as 10s");
        m.pauseTime = t;
    } else if (key == "power") {
        if (!parseSwitch(value, b)) return bad(key, value, "on or off");
        m.poweredOn = b;
    } else {
        return unknownKey(key, "a module");
    }
    return {};
}

Outcome applyStationOption(StationConfig &s, std::string_view key, std::string_view value) {
    std::uint64_t u = 0;
    if (key == "id") {
        if (!parseUnsigned(value, 0xFFFFFF, u)) return bad(key, value, "0 to 16777215");
        s.id = static_cast<std::uint32_t>(u);
    } else if (key == "channel") {
        if (!parseUnsigned(value, 255, u) || u == 0) return bad(key, value, "a channel 1 to 255");
        s.channel = static_cast<std::uint8_t>(u);
    } else if (key == "refuse") {
        std::vector<std::uint8_t> parameters;
        std::string_view rest = value == "none" ? std::string_view() : value;
        while (!rest.empty()) {
            auto comma = rest.find(',');
            if (!parseUnsigned(rest.substr(0, comma), 255, u)) {
                return bad(key, value, "parameter numbers separated by commas, or none");
            }
            parameters.push_back(static_cast<std::uint8_t>(u));
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
        s.refusedParameters = std::move(parameters);
    } else if (key == "serial") {
        s.serial = std::string(value);
    } else if (key == "release") {
        // "2.3" (each part in hexadecimal digits, as a revision is shown: 1.10
        // is 0x0110) or the number itself, "0203" / "0x0203".
        auto hex = [](std::string_view digits, std::uint64_t max, std::uint64_t &v) {
            if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
                digits.remove_prefix(2);
            }
            auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
            return !digits.empty() && ec == std::errc{} && end == digits.data() + digits.size() &&
                   v <= max;
        };
        auto dot = value.find('.');
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        bool ok = dot == std::string_view::npos ? hex(value, 0xFFFF, low)
                                                : hex(value.substr(0, dot), 0xFF, high) &&
                                                      hex(value.substr(dot + 1), 0xFF, low);
        if (!ok) return bad(key, value, "a revision such as 2.3 or hexadecimal 0203");
        s.release = static_cast<std::uint16_t>((high << 8) | low);
    } else if (key == "com") {
        if (!parseUnsigned(value, 9999, u) || u == 0) return bad(key, value, "1 to 9999");
        s.com = static_cast<int>(u);
        s.serialPort = true;
    } else if (key == "name") {
        if (value.empty() || value.find('/') != std::string_view::npos) {
            return bad(key, value, "a file name without '/'");
        }
        s.usbName = std::string(value);
        s.usb = true;
    } else if (key == "vhid-dir") {
        s.usbFolder = std::string(value);
        s.usb = true;
    } else if (key == "port-dir") {
        s.portFolder = std::string(value);
    } else if (key == "report-every") {
        std::chrono::milliseconds t{};
        if (!parseDuration(value, t) || t.count() > 100) {
            return bad(key, value, "a time of 0 to 100ms");
        }
        s.reportEvery = t;
        s.usb = true;
    } else {
        return unknownKey(key, "a station");
    }
    return {};
}

Outcome applyParameterOption(Parameter &p, std::string_view key, std::string_view value) {
    double d = 0;
    std::uint64_t u = 0;
    if (key == "type") {
        auto type = parseDataType(value);
        if (!type) return bad(key, value, "a data type such as uint8, float or string");
        p.value = TypedValue{*type, {}};
        if (auto zero = numberValue(*type, 0)) p.value = *zero;
    } else if (key == "value") {
        auto parsed = parseValue(p.value.type, value);
        if (!parsed) return bad(key, value, "a value of type " + dataTypeName(p.value.type));
        p.value = std::move(*parsed);
    } else if (key == "access") {
        if (value == "rw" || value == "read-write") {
            p.access = Parameter::Access::ReadWrite;
        } else if (value == "ro" || value == "read-only") {
            p.access = Parameter::Access::ReadOnly;
        } else if (value == "wo" || value == "write-only") {
            p.access = Parameter::Access::WriteOnly;
        } else if (value == "refused" || value == "none") {
            p.access = Parameter::Access::Refused;
        } else {
            return bad(key, value, "rw, ro, wo or refused");
        }
    } else if (key == "min") {
        if (!parseNumber(value, d)) return bad(key, value, "a number");
        p.min = d;
    } else if (key == "max") {
        if (!parseNumber(value, d)) return bad(key, value, "a number");
        p.max = d;
    } else if (key == "reply") {
        if (!parseUnsigned(value, 255, u) || !((u >= 7 && u <= 10) || (u >= 13 && u <= 16))) {
            return bad(key, value, "a reply code 7 to 10 or 13 to 16");
        }
        p.forcedReply = static_cast<std::uint8_t>(u);
    } else {
        return unknownKey(key, "a parameter");
    }
    return {};
}

Outcome applyFaultOption(Faults &f, OneShots &once, std::string_view key, std::string_view value) {
    std::uint64_t u = 0;
    std::chrono::milliseconds t{};
    if (key == "corrupt")
        return option(key, value, [&] { return parseProbability(value, f.corrupt); });
    if (key == "drop") return option(key, value, [&] { return parseProbability(value, f.drop); });
    if (key == "reply-loss") {
        return option(key, value, [&] { return parseProbability(value, f.replyLoss); });
    }
    if (key == "noise" || key == "zeros") {
        if (!parseUnsigned(value, 1000, u)) return bad(key, value, "0 to 1000 bytes");
        (key == "noise" ? f.noise : f.zeros) = static_cast<unsigned>(u);
    } else if (key == "reply-delay") {
        if (!parseDuration(value, t) || t > std::chrono::seconds(60)) {
            return bad(key, value, "a time up to 60s");
        }
        f.replyDelay = t;
    } else if (key == "corrupt-next" || key == "drop-next" || key == "lose-replies") {
        if (!parseUnsigned(value, 1000000, u)) return bad(key, value, "a count");
        auto count = static_cast<unsigned>(u);
        (key == "corrupt-next" ? once.corruptNext
         : key == "drop-next"  ? once.dropNext
                               : once.loseReplies) = count;
    } else {
        return unknownKey(key, "fault");
    }
    return {};
}

}  // namespace lyx::sim::syntax
