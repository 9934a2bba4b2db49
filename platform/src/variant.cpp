// Variants and the automation conversion rules.

#include "lyx/platform/variant.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "lyx/platform/automation_error.hpp"

namespace lyx::platform {
namespace {

[[noreturn]] void typeMismatch() {
    throw AutomationError(errors::kTypeMismatch, "Type mismatch");
}
[[noreturn]] void overflow() {
    throw AutomationError(errors::kOverflow, "Overflow");
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A decimal number written as text ("12", "-3.5", "1E+07"); raises "Type
// mismatch" for anything else.
double parseNumber(std::string_view text) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) typeMismatch();
    char first = text.front() == '-' && text.size() > 1 ? text[1] : text.front();
    if (!(std::isdigit(static_cast<unsigned char>(first)) || first == '.')) typeMismatch();
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc::result_out_of_range) overflow();
    if (ec != std::errc() || end != text.data() + text.size()) typeMismatch();
    return value;
}

// The numeric value of a number, boolean, empty or text Variant.
double numericValue(const Variant::Value &value) {
    return std::visit(
        [](const auto &v) -> double {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return 0.0;
            } else if constexpr (std::is_same_v<T, bool>) {
                return v ? -1.0 : 0.0;
            } else if constexpr (std::is_arithmetic_v<T>) {
                return static_cast<double>(v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                if (equalsNoCase(trim(v), "True")) return -1.0;
                if (equalsNoCase(trim(v), "False")) return 0.0;
                return parseNumber(v);
            } else {
                typeMismatch();
            }
        },
        value);
}

template <class Int>
Int toWhole(const Variant::Value &value) {
    // Whole numbers convert exactly; everything else through double.
    if (auto *i = std::get_if<std::int64_t>(&value)) {
        if (*i < std::numeric_limits<Int>::min() || *i > std::numeric_limits<Int>::max())
            overflow();
        return static_cast<Int>(*i);
    }
    double d = numericValue(value);
    if (std::isnan(d)) overflow();
    double r = std::nearbyint(d);  // the default rounding mode: halves to even
    if (!(r >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          r <= static_cast<double>(std::numeric_limits<Int>::max()))) {
        overflow();
    }
    if constexpr (sizeof(Int) == 8) {
        // 2^63 is representable in double but not in int64.
        if (r >= 9223372036854775808.0) overflow();
    }
    return static_cast<Int>(r);
}

template <class Number>
std::string numberText(Number value, int precision) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0) return "0";
    char text[64];
    auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
    std::string out(text, result.ptr);
    for (char &c : out) {
        if (c == 'e') c = 'E';
    }
    return out;
}

}  // namespace

const char *typeName(VarType type) {
    switch (type) {
        case VarType::Empty:
            return "Empty";
        case VarType::Bool:
            return "Boolean";
        case VarType::UInt8:
            return "Byte";
        case VarType::Int16:
            return "Integer";
        case VarType::Int32:
            return "Long";
        case VarType::Int64:
            return "LongLong";
        case VarType::Float:
            return "Single";
        case VarType::Double:
            return "Double";
        case VarType::String:
            return "String";
        case VarType::ByteArray:
            return "Byte()";
        case VarType::FloatArray:
            return "Single()";
        case VarType::VariantArray:
            return "Variant()";
    }
    return "?";
}

void throwSubscriptOutOfRange(std::int64_t index) {
    throw AutomationError(errors::kSubscriptOutOfRange,
                          "Subscript out of range (" + std::to_string(index) + ")");
}

Variant Variant::ref(Variant &target) {
    Variant v;
    v.value_ = &target.target();
    return v;
}

Variant &Variant::target() {
    if (auto *p = std::get_if<Variant *>(&value_)) return **p;
    return *this;
}

const Variant &Variant::target() const {
    if (auto *p = std::get_if<Variant *>(&value_)) return **p;
    return *this;
}

VarType Variant::type() const {
    static constexpr VarType kTypes[] = {
        VarType::Empty,  VarType::Bool,      VarType::UInt8,      VarType::Int16,
        VarType::Int32,  VarType::Int64,     VarType::Float,      VarType::Double,
        VarType::String, VarType::ByteArray, VarType::FloatArray, VarType::VariantArray};
    return kTypes[target().value_.index()];
}

void Variant::throwTypeMismatch() const {
    typeMismatch();
}

Variant convert(const Variant &v, VarType to) {
    const Variant::Value &value = v.value();
    switch (to) {
        case VarType::Empty:
            return {};
        case VarType::Bool:
            if (auto *b = std::get_if<bool>(&value)) return *b;
            return numericValue(value) != 0.0;
        case VarType::UInt8:
            return toWhole<std::uint8_t>(value);
        case VarType::Int16:
            return toWhole<std::int16_t>(value);
        case VarType::Int32:
            return toWhole<std::int32_t>(value);
        case VarType::Int64:
            return toWhole<std::int64_t>(value);
        case VarType::Float: {
            if (auto *f = std::get_if<float>(&value)) return *f;
            double d = numericValue(value);
            if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) overflow();
            return static_cast<float>(d);
        }
        case VarType::Double:
            return numericValue(value);
        case VarType::String:
            return toText(v);
        case VarType::ByteArray:
            if (auto *a = std::get_if<ByteArray>(&value)) return *a;
            typeMismatch();
        case VarType::FloatArray:
            if (auto *a = std::get_if<FloatArray>(&value)) return *a;
            typeMismatch();
        case VarType::VariantArray:
            if (auto *a = std::get_if<VariantArray>(&value)) return *a;
            typeMismatch();
    }
    typeMismatch();
}

std::int32_t toInt32(const Variant &v) {
    return toWhole<std::int32_t>(v.value());
}

double toDouble(const Variant &v) {
    return numericValue(v.value());
}

std::string toText(const Variant &v) {
    return std::visit(
        [](const auto &x) -> std::string {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return {};
            } else if constexpr (std::is_same_v<T, bool>) {
                return x ? "True" : "False";
            } else if constexpr (std::is_same_v<T, float>) {
                return singleText(x);
            } else if constexpr (std::is_same_v<T, double>) {
                return doubleText(x);
            } else if constexpr (std::is_integral_v<T>) {
                return std::to_string(x);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return x;
            } else {
                typeMismatch();
            }
        },
        v.value());
}

std::string singleText(float value) {
    return numberText(value, 7);
}

std::string doubleText(double value) {
    return numberText(value, 15);
}

}  // namespace lyx::platform
