// Values crossing between Python and the component: byte strings, value texts,
// numbers in the automation types' ranges, single-precision results.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace lyx::python {

namespace py = pybind11;

// A byte string (one byte per character) from `value`: a bytes-like object as
// it is, text as Latin-1 (each character one byte, code points 0 to 255, as
// the component's one-byte character set). Raises TypeError for anything else
// and UnicodeEncodeError for a character above U+00FF. `name` is the parameter.
std::string byteString(py::handle value, const char *name);

// A byte string as text: each byte the character of that code point, so that
// byteString() gives back the same bytes.
py::str text(std::string_view bytes);
py::bytes bytes(std::string_view bytes);

// A number as the component writes its value texts: "." as the decimal point,
// an optional sign and exponent, blanks around it ("12.5", "-3", "1.234568E+08");
// "NaN", "Infinity" and "-Infinity" for the single-precision values that are no
// finite number. Nothing for any other text.
std::optional<double> parseValueNumber(std::string_view text);

// A single-precision result as the Python float of its shortest decimal text,
// so that 2.3f reads 2.3 and not 2.299999952316284.
double singleValue(float value);

// `value` in the range of T, for the parameter `name` of automation type
// `typeName`; raises OverflowError otherwise.
[[noreturn]] void throwOutOfRange(long long value, const char *name, const char *typeName,
                                  long long low, long long high);

template <class T>
T checked(long long value, const char *name, const char *typeName) {
    constexpr auto low = static_cast<long long>(std::numeric_limits<T>::min());
    constexpr auto high = static_cast<long long>(std::numeric_limits<T>::max());
    if (value < low || value > high) throwOutOfRange(value, name, typeName, low, high);
    return static_cast<T>(value);
}

// The parameter types of the interface, by their automation names.
inline std::uint8_t byteArg(long long value, const char *name) {
    return checked<std::uint8_t>(value, name, "BYTE");
}
inline std::int16_t shortArg(long long value, const char *name) {
    return checked<std::int16_t>(value, name, "SHORT");
}
inline std::int32_t longArg(long long value, const char *name) {
    return checked<std::int32_t>(value, name, "LONG");
}

}  // namespace lyx::python
