// Payloads and typed values byte for byte, and the errors of bad values.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "encode_decode.hpp"
#include "lyx/dataprovider/data_provider.hpp"
#include "test_support.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::EncodeDecode;
using lyx::dataprovider::testing::errorOf;

namespace {

std::string decode(const Bytes &typed, std::string value = "unchanged") {
    DecodeTypedValue(typed, static_cast<std::int32_t>(typed.size()), value);
    return value;
}

}  // namespace

TEST(NumericPayload, ExamplesOfEachType) {
    EXPECT_EQ(NumericPayload(0x1234, 0, 1000, DT_UINT16),
              (Bytes{0x03, 0x12, 0x34, 0x00, 0x02, 0x03, 0xE8}));
    // Tag 70000 is reduced to its low 16 bits, 4464.
    EXPECT_EQ(NumericPayload(70000, 9, -2, DT_INT32),
              (Bytes{0x03, 0x11, 0x70, 0x09, 0x03, 0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(NumericPayload(5, 0, 1.5, DT_FLOAT),
              (Bytes{0x03, 0x00, 0x05, 0x00, 0x04, 0x3F, 0xC0, 0x00, 0x00}));
    EXPECT_EQ(NumericPayload(-1, 7, 200, DT_UINT8), (Bytes{0x03, 0xFF, 0xFF, 0x07, 0x01, 0xC8}));
    EXPECT_EQ(NumericPayload(7, 0, 3, DT_INTERFACE), (Bytes{0x03, 0x00, 0x07, 0x00, 0xFF, 0x03}));
}

TEST(NumericPayload, RoundsHalvesToEven) {
    EXPECT_EQ(NumericPayload(1, 0, 254.5, DT_UINT8).back(), 254);
    EXPECT_EQ(NumericPayload(1, 0, 2.5, DT_UINT8).back(), 2);
    EXPECT_EQ(NumericPayload(1, 0, 3.5, DT_UINT8).back(), 4);
    EXPECT_EQ(NumericPayload(1, 0, 65534.5, DT_UINT16), (Bytes{3, 0, 1, 0, 2, 0xFF, 0xFE}));
    EXPECT_EQ(NumericPayload(1, 0, -0.5, DT_INT32), (Bytes{3, 0, 1, 0, 3, 0, 0, 0, 0}));
    EXPECT_EQ(NumericPayload(1, 0, -2147483648.0, DT_INT32), (Bytes{3, 0, 1, 0, 3, 0x80, 0, 0, 0}));
    EXPECT_EQ(NumericPayload(1, 0, 2147483646.5, DT_INT32),
              (Bytes{3, 0, 1, 0, 3, 0x7F, 0xFF, 0xFF, 0xFE}));
}

TEST(NumericPayload, OutOfRangeValuesRaiseTheRangeErrorWithTheTypesText) {
    auto e = errorOf([] { NumericPayload(5, 0, 256, DT_UINT8); });
    EXPECT_EQ(e.number(), lyx::platform::hresult(0x800403EC));
    EXPECT_EQ(e.description(), "Value invalid for DT_UINT8!");
    e = errorOf([] { NumericPayload(5, 0, 255.2, DT_INTERFACE); });
    EXPECT_EQ(e.description(), "Value invalid for DT_UINT8!");
    e = errorOf([] { NumericPayload(5, 0, -0.1, DT_UINT16); });
    EXPECT_EQ(e.number(), kInvalidValue);
    EXPECT_EQ(e.description(), "Value invalid for DT_UINT16!");
    e = errorOf([] { NumericPayload(5, 0, 65535.5, DT_UINT16); });
    EXPECT_EQ(e.description(), "Value invalid for DT_UINT16!");
    e = errorOf([] { NumericPayload(5, 0, -2147483648.5, DT_INT32); });
    EXPECT_EQ(e.number(), kInvalidValue);
    EXPECT_EQ(e.description(), "Value invalid for DT_INT32!");
    e = errorOf([] { NumericPayload(5, 0, 4294967296.5, DT_INT32); });
    EXPECT_EQ(e.description(), "Value invalid for DT_INT32!");
    e = errorOf([] { NumericPayload(5, 0, std::nan(""), DT_UINT8); });
    EXPECT_EQ(e.number(), kInvalidValue);
}

TEST(NumericPayload, Int32BeyondTheConversionIsTheOverflowError) {
    for (double value : {2147483647.5, 2147483648.0, 4294967296.0}) {
        auto e = errorOf([&] { NumericPayload(5, 0, value, DT_INT32); });
        EXPECT_EQ(e.number(), lyx::platform::hresult(0x800A0006)) << value;
        EXPECT_EQ(e.description(), "Overflow");
    }
}

TEST(NumericPayload, FloatsRoundToSinglePrecisionAndInfinityBeyondItsRange) {
    EXPECT_EQ(NumericPayload(1, 0, 1e39, DT_FLOAT), (Bytes{3, 0, 1, 0, 4, 0x7F, 0x80, 0, 0}));
    EXPECT_EQ(NumericPayload(1, 0, -1e39, DT_FLOAT), (Bytes{3, 0, 1, 0, 4, 0xFF, 0x80, 0, 0}));
    // Just above the largest single still rounds to it.
    EXPECT_EQ(ToSingle(3.4028235e38), std::numeric_limits<float>::max());
    EXPECT_EQ(NumericPayload(1, 0, 0.1, DT_FLOAT), (Bytes{3, 0, 1, 0, 4, 0x3D, 0xCC, 0xCC, 0xCD}));
}

TEST(NumericPayload, NonNumericTypesRaiseTheDataTypeErrorWithTheNumericText) {
    for (std::int32_t type : {0, 5, 6, 7, -1}) {
        auto e = errorOf([&] { NumericPayload(5, 0, 7, type); });
        EXPECT_EQ(e.number(), lyx::platform::hresult(0x800403EB)) << type;
        EXPECT_EQ(e.description(),
                  "Invalid DataType! Type must be DT_UINT8, DT_UINT16, DT_INT32 or DT_FLOAT!");
    }
}

TEST(StringPayload, CarriesTheCharactersExceptForNone) {
    EXPECT_EQ(StringPayload(5, 0, "abc", DT_NONE), (Bytes{0x03, 0x00, 0x05, 0x00, 0x00}));
    EXPECT_EQ(StringPayload(5, 0, "abc", DT_STRING),
              (Bytes{0x03, 0x00, 0x05, 0x00, 0x05, 0x61, 0x62, 0x63}));
    EXPECT_EQ(StringPayload(0x1234, 2, std::string("\x00\xFF", 2), DT_BINARY),
              (Bytes{0x03, 0x12, 0x34, 0x02, 0x06, 0x00, 0xFF}));
    EXPECT_EQ(StringPayload(7, 0, "\x01", DT_INTERFACE),
              (Bytes{0x03, 0x00, 0x07, 0x00, 0xFF, 0x01}));
    EXPECT_EQ(StringPayload(7, 0, "", DT_STRING), (Bytes{0x03, 0x00, 0x07, 0x00, 0x05}));
}

TEST(StringPayload, NumericTypesRaiseTheDataTypeErrorWithTheStringText) {
    for (std::int32_t type : {1, 2, 3, 4, 254}) {
        auto e = errorOf([&] { StringPayload(5, 0, "x", type); });
        EXPECT_EQ(e.number(), kInvalidDataType) << type;
        EXPECT_EQ(e.description(),
                  "Invalid DataType! Type must be DT_STRING or DT_BINARY or DT_NONE!");
    }
}

TEST(DecodeTypedValue, WholeNumbersOfEachWidth) {
    EXPECT_EQ(decode({0x01, 0x05}), "5");
    EXPECT_EQ(decode({0x02, 0x01, 0x00}), "256");
    EXPECT_EQ(decode({0x12, 0xFF, 0xFE}), "65534");  // only the low four bits name the type
    EXPECT_EQ(decode({0x03, 0xFF, 0xFF, 0xFF, 0xFF}), "-1");
    EXPECT_EQ(decode({0x03, 0x07, 0x5B, 0xCD, 0x15}), "123456789");  // full precision
}

TEST(DecodeTypedValue, WrongLengthsGiveEmptyAndNoneOrNothingLeavesTheValue) {
    EXPECT_EQ(decode({0x01, 0x05, 0x05}), "");
    EXPECT_EQ(decode({0x02, 0x01}), "");
    EXPECT_EQ(decode({0x04, 0x3F, 0xC0, 0x00}), "");
    EXPECT_EQ(decode({0x00, 0x41}), "unchanged");
    EXPECT_EQ(decode({}), "unchanged");
    EXPECT_EQ(decode({0x09, 0x01}), "");
    EXPECT_EQ(decode({0x0F}), "");
}

TEST(DecodeTypedValue, SinglesUseTheDefaultTextOrEightFixedCharacters) {
    EXPECT_EQ(decode({0x04, 0x3F, 0xC0, 0x00, 0x00}), "1.5");
    EXPECT_EQ(decode({0x04, 0x37, 0x7B, 0xA8, 0x82}), "0.000015");   // 1.5E-05
    EXPECT_EQ(decode({0x04, 0xB7, 0x7B, 0xA8, 0x82}), "-0.000015");  // nine when negative
    EXPECT_EQ(decode({0x04, 0x4B, 0x3C, 0x61, 0x4E}), "12345678");   // 1.234568E+07
    // From 1E+08 on the whole part is kept complete.
    EXPECT_EQ(decode({0x04, 0x4C, 0xEB, 0x79, 0xA3}), "123456792");  // 123456789 as a single
    EXPECT_EQ(decode({0x04, 0xC2, 0xF6, 0xE9, 0x79}), "-123.456");
}

TEST(DecodeTypedValue, TextAndBinary) {
    EXPECT_EQ(decode({0x05, 'H', 'i', 0xE9}), "Hi\xE9");
    EXPECT_EQ(decode({0x05}), "");
    EXPECT_EQ(decode({0x06, 0x0A, 0xFF}), "0AFF");
    EXPECT_EQ(decode({0x06}), "");
}

TEST(DecodeTypedValue, NeverReadsPastTheBuffer) {
    Bytes typed{0x05, 'a', 'b'};
    std::string value;
    DecodeTypedValue(typed, 500, value);
    EXPECT_EQ(value, "ab");
    DecodeTypedValue(typed, -3, value);
    EXPECT_EQ(value, "ab");
}

TEST(BytesToHex, UpperCaseTwoDigitsPerByteWithinTheBuffer) {
    Bytes bytes{0x00, 0x0A, 0xFF, 0x7B};
    EXPECT_EQ(BytesToHex(bytes, 1, 3), "0AFF7B");
    EXPECT_EQ(BytesToHex(bytes, 0, 1), "00");
    EXPECT_EQ(BytesToHex(bytes, 2, 0), "");
    EXPECT_EQ(errorOf([&] { BytesToHex(bytes, 2, 3); }).number(),
              lyx::platform::errors::kSubscriptOutOfRange);
    EXPECT_EQ(errorOf([&] { BytesToHex(bytes, -1, 1); }).number(),
              lyx::platform::errors::kSubscriptOutOfRange);
}
