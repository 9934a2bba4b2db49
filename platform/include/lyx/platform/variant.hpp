// Variants: the values of late-bound calls. A Variant holds nothing, a number,
// a boolean, a byte string, a one-dimensional array with its own lower bound,
// or a reference to another Variant (a by-reference argument).
//
// Byte strings are std::string holding raw bytes, one byte per character.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "LyxPlatform.h"

namespace lyx::platform {

enum class VarType : std::uint8_t {
    Empty,
    Bool,
    UInt8,
    Int16,
    Int32,
    Int64,
    Float,
    Double,
    String,
    ByteArray,
    FloatArray,
    VariantArray,
};

// The type's name as the member tables print it ("Byte", "Long", ...).
LYX_PLATFORM_API const char *typeName(VarType type);

// A one-dimensional array indexed from `lowerBound`.
template <class T>
struct SafeArray {
    std::int32_t lowerBound = 0;
    std::vector<T> items;

    std::int32_t upperBound() const {
        return lowerBound + static_cast<std::int32_t>(items.size()) - 1;
    }
    bool contains(std::int64_t index) const { return index >= lowerBound && index <= upperBound(); }
    // The element at `index`; raises "Subscript out of range" outside the bounds.
    T &at(std::int64_t index);
    const T &at(std::int64_t index) const { return const_cast<SafeArray *>(this)->at(index); }

    friend bool operator==(const SafeArray &, const SafeArray &) = default;
};

[[noreturn]] LYX_PLATFORM_API void throwSubscriptOutOfRange(std::int64_t index);

template <class T>
T &SafeArray<T>::at(std::int64_t index) {
    if (!contains(index)) throwSubscriptOutOfRange(index);
    return items[static_cast<std::size_t>(index - lowerBound)];
}

class Variant;
using ByteArray = SafeArray<std::uint8_t>;
using FloatArray = SafeArray<float>;
using VariantArray = SafeArray<Variant>;

class LYX_PLATFORM_API Variant {
  public:
    using Value =
        std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t, std::int64_t,
                     float, double, std::string, ByteArray, FloatArray, VariantArray, Variant *>;

    Variant() = default;
    Variant(bool v) : value_(v) {}
    Variant(std::uint8_t v) : value_(v) {}
    Variant(std::int16_t v) : value_(v) {}
    Variant(std::int32_t v) : value_(v) {}
    Variant(std::int64_t v) : value_(v) {}
    Variant(float v) : value_(v) {}
    Variant(double v) : value_(v) {}
    Variant(std::string v) : value_(std::move(v)) {}
    Variant(const char *v) : value_(std::string(v)) {}
    Variant(ByteArray v) : value_(std::move(v)) {}
    Variant(FloatArray v) : value_(std::move(v)) {}
    Variant(VariantArray v) : value_(std::move(v)) {}

    // A by-reference argument: as<T>(), getIf<T>() and target() reach
    // `target`, which must outlive this Variant. Assigning another Variant to
    // it replaces the reference itself; assign to target() to write through.
    static Variant ref(Variant &target);

    bool isRef() const { return std::holds_alternative<Variant *>(value_); }
    // The referenced Variant for a reference, else this one.
    Variant &target();
    const Variant &target() const;

    // The type of the value (of the referenced value for a reference).
    VarType type() const;
    bool isEmpty() const { return type() == VarType::Empty; }

    // The value as T, which must be the held type (after a reference);
    // raises "Type mismatch" otherwise.
    template <class T>
    T &as() {
        if (auto *v = std::get_if<T>(&target().value_)) return *v;
        throwTypeMismatch();
    }
    template <class T>
    const T &as() const {
        return const_cast<Variant *>(this)->as<T>();
    }
    template <class T>
    T *getIf() {
        return std::get_if<T>(&target().value_);
    }

    const Value &value() const { return target().value_; }

    friend bool operator==(const Variant &a, const Variant &b) {
        return a.target().value_ == b.target().value_;
    }

  private:
    [[noreturn]] void throwTypeMismatch() const;
    Value value_;
};

// The value of `v` as type `to`, by the automation conversion rules: numbers
// round to the nearest whole number, halves to even; a value out of the
// target's range raises the overflow error; text converts to and from numbers
// and "True"/"False"; arrays convert only to their own type. Raises
// "Type mismatch" for anything else.
LYX_PLATFORM_API Variant convert(const Variant &v, VarType to);

// Shorthands for convert().
LYX_PLATFORM_API std::int32_t toInt32(const Variant &v);
LYX_PLATFORM_API double toDouble(const Variant &v);
LYX_PLATFORM_API std::string toText(const Variant &v);

// The default text of a single-precision number: up to seven significant
// digits, exponent form below 1E-04 and from 1E+07 on in magnitude
// ("1.234568E+08", "1.5E-05", "256", "0.5").
LYX_PLATFORM_API std::string singleText(float value);
// The same for double precision, with up to fifteen significant digits.
LYX_PLATFORM_API std::string doubleText(double value);

}  // namespace lyx::platform
