#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "lyx/platform/automation_error.hpp"
#include "lyx/platform/guid.hpp"
#include "lyx/platform/variant.hpp"

using namespace lyx::platform;

namespace {

// Runs `f` and returns the number of the AutomationError it raises, 0 if none.
template <class F>
std::int32_t errorOf(F f) {
    try {
        f();
    } catch (const AutomationError &e) {
        return e.number();
    }
    return 0;
}

}  // namespace

TEST(Guid, ParsesWithAndWithoutBracesAndPrintsUpperCaseWithBraces) {
    constexpr Guid id = guid("{b75be7e8-2cc9-40ff-bc68-9dadbef8346d}");
    EXPECT_EQ(id.data1, 0xB75BE7E8u);
    EXPECT_EQ(id.data2, 0x2CC9);
    EXPECT_EQ(id.data3, 0x40FF);
    EXPECT_EQ(id.data4[0], 0xBC);
    EXPECT_EQ(id.data4[7], 0x6D);
    EXPECT_EQ(toString(id), "{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D}");
    EXPECT_EQ(parseGuid("B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D"), id);
    EXPECT_EQ(parseGuid(toString(id)), id);
}

TEST(Guid, RejectsMalformedText) {
    EXPECT_FALSE(parseGuid(""));
    EXPECT_FALSE(parseGuid("LyxDataProviderCOM.DataProvider"));
    EXPECT_FALSE(parseGuid("{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346}"));   // one digit short
    EXPECT_FALSE(parseGuid("{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346DX"));  // no closing brace
    EXPECT_FALSE(parseGuid("{B75BE7E8+2CC9-40FF-BC68-9DADBEF8346D}"));
    EXPECT_FALSE(parseGuid("{G75BE7E8-2CC9-40FF-BC68-9DADBEF8346D}"));
}

TEST(VariantConversion, WholeNumbersRoundHalvesToEven) {
    EXPECT_EQ(convert(2.5, VarType::Int32).as<std::int32_t>(), 2);
    EXPECT_EQ(convert(3.5, VarType::Int32).as<std::int32_t>(), 4);
    EXPECT_EQ(convert(-2.5, VarType::Int32).as<std::int32_t>(), -2);
    EXPECT_EQ(convert(254.5, VarType::UInt8).as<std::uint8_t>(), 254);
    EXPECT_EQ(convert(2.4999, VarType::Int16).as<std::int16_t>(), 2);
    EXPECT_EQ(convert(1.5f, VarType::Int64).as<std::int64_t>(), 2);
}

TEST(VariantConversion, OutOfRangeIsTheOverflowError) {
    EXPECT_EQ(errorOf([] { convert(255.5, VarType::UInt8); }), errors::kOverflow);
    EXPECT_EQ(errorOf([] { convert(-1, VarType::UInt8); }), errors::kOverflow);
    EXPECT_EQ(errorOf([] { convert(true, VarType::UInt8); }), errors::kOverflow);
    EXPECT_EQ(errorOf([] { convert(32768, VarType::Int16); }), errors::kOverflow);
    EXPECT_EQ(errorOf([] { convert(2147483647.5, VarType::Int32); }), errors::kOverflow);
    EXPECT_EQ(errorOf([] { convert(std::nan(""), VarType::Int32); }), errors::kOverflow);
    EXPECT_EQ(errorOf([] { convert(1e39, VarType::Float); }), errors::kOverflow);
    EXPECT_EQ(errorOf([] { convert(9.3e18, VarType::Int64); }), errors::kOverflow);
    EXPECT_EQ(convert(2147483646.5, VarType::Int32).as<std::int32_t>(), 2147483646);
    EXPECT_EQ(convert(std::int64_t{-32768}, VarType::Int16).as<std::int16_t>(), -32768);
}

TEST(VariantConversion, TextAndBooleans) {
    EXPECT_EQ(convert(" 42 ", VarType::Int32).as<std::int32_t>(), 42);
    EXPECT_EQ(convert("+1.5", VarType::Double).as<double>(), 1.5);
    EXPECT_EQ(convert("1E+03", VarType::Int32).as<std::int32_t>(), 1000);
    EXPECT_EQ(convert("true", VarType::Int16).as<std::int16_t>(), -1);
    EXPECT_EQ(convert("False", VarType::Bool).as<bool>(), false);
    EXPECT_EQ(convert(7, VarType::Bool).as<bool>(), true);
    EXPECT_EQ(convert(true, VarType::String).as<std::string>(), "True");
    EXPECT_EQ(convert(std::uint8_t{200}, VarType::String).as<std::string>(), "200");
    EXPECT_EQ(convert(Variant(), VarType::Int32).as<std::int32_t>(), 0);
    EXPECT_EQ(convert(Variant(), VarType::String).as<std::string>(), "");
    for (const char *bad : {"", "abc", "1.2.3", "inf", "nan", "12abc", "--1"})
        EXPECT_EQ(errorOf([&] { convert(bad, VarType::Int32); }), errors::kTypeMismatch) << bad;
}

TEST(VariantConversion, ArraysConvertOnlyToTheirOwnType) {
    ByteArray bytes{1, {1, 2, 3}};
    EXPECT_EQ(convert(bytes, VarType::ByteArray).as<ByteArray>(), bytes);
    EXPECT_EQ(errorOf([&] { convert(bytes, VarType::Int32); }), errors::kTypeMismatch);
    EXPECT_EQ(errorOf([&] { convert(bytes, VarType::String); }), errors::kTypeMismatch);
    EXPECT_EQ(errorOf([] { convert(5, VarType::FloatArray); }), errors::kTypeMismatch);
    EXPECT_EQ(bytes.at(3), 3);
    EXPECT_EQ(errorOf([&] { bytes.at(0); }), errors::kSubscriptOutOfRange);
    EXPECT_EQ(errorOf([&] { bytes.at(4); }), errors::kSubscriptOutOfRange);
}

TEST(VariantConversion, SingleTextHasSevenSignificantDigitsAndExponentsOutsideTheirRange) {
    EXPECT_EQ(singleText(123456789.0f), "1.234568E+08");
    EXPECT_EQ(singleText(1.5e-5f), "1.5E-05");
    EXPECT_EQ(singleText(10000000.0f), "1E+07");
    EXPECT_EQ(singleText(9999999.0f), "9999999");
    EXPECT_EQ(singleText(0.0001f), "0.0001");
    EXPECT_EQ(singleText(-2.0f), "-2");
    EXPECT_EQ(singleText(2.7f), "2.7");
    EXPECT_EQ(singleText(-0.0f), "0");
    EXPECT_EQ(doubleText(0.1), "0.1");
    EXPECT_EQ(toText(Variant(1.5f)), "1.5");
}

TEST(Variant, ReferencesReadAndWriteTheirTarget) {
    Variant target(std::int16_t{5});
    Variant ref = Variant::ref(target);
    EXPECT_TRUE(ref.isRef());
    EXPECT_EQ(ref.type(), VarType::Int16);
    ref.as<std::int16_t>() = 9;
    EXPECT_EQ(target.as<std::int16_t>(), 9);
    Variant refOfRef = Variant::ref(ref);  // collapses onto the target
    refOfRef.target() = Variant("text");
    EXPECT_EQ(target.as<std::string>(), "text");
    EXPECT_EQ(errorOf([&] { ref.as<std::int32_t>(); }), errors::kTypeMismatch);
}
