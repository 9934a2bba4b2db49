#include "values.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace lyx::python {

std::string byteString(py::handle value, const char *name) {
    if (PyUnicode_Check(value.ptr())) {
        py::object encoded = py::reinterpret_steal<py::object>(
            PyUnicode_AsEncodedString(value.ptr(), "latin-1", "strict"));
        if (!encoded) throw py::error_already_set();
        char *data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(encoded.ptr(), &data, &size) != 0)
            throw py::error_already_set();
        return std::string(data, static_cast<std::size_t>(size));
    }
    if (PyObject_CheckBuffer(value.ptr())) {
        Py_buffer view;
        if (PyObject_GetBuffer(value.ptr(), &view, PyBUF_SIMPLE) != 0)
            throw py::error_already_set();
        std::string out(static_cast<const char *>(view.buf), static_cast<std::size_t>(view.len));
        PyBuffer_Release(&view);
        return out;
    }
    throw py::type_error(std::string(name) + ": expected str or bytes, not " +
                         std::string(py::str(py::type::handle_of(value).attr("__name__"))));
}

py::str text(std::string_view bytes) {
    PyObject *s =
        PyUnicode_DecodeLatin1(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
    if (s == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(s);
}

py::bytes bytes(std::string_view bytes) {
    return py::bytes(bytes.data(), bytes.size());
}

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
}  // namespace

std::optional<double> parseValueNumber(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (text == "Infinity") return std::numeric_limits<double>::infinity();
    if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
    // Only a plain decimal number: sign, digits with at most one point, an exponent.
    std::size_t i = 0;
    if (text[i] == '+' || text[i] == '-') ++i;
    std::size_t digits = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t exponentDigits = 0;
        while (i < text.size() && isDigit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    const char *first = text.data();
    if (*first == '+') ++first;
    double value = 0;
    const auto read = std::from_chars(first, text.data() + text.size(), value);
    if (read.ec != std::errc()) return std::nullopt;
    return value;
}

double singleValue(float value) {
    if (!std::isfinite(value)) return static_cast<double>(value);
    char buffer[32];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
    double wide = 0;
    std::from_chars(buffer, written.ptr, wide);
    return wide;
}

void throwOutOfRange(long long value, const char *name, const char *typeName, long long low,
                     long long high) {
    PyErr_Format(PyExc_OverflowError, "%s: %lld is out of range for a %s (%lld to %lld)", name,
                 value, typeName, low, high);
    throw py::error_already_set();
}

}  // namespace lyx::python
