// Typed values and waveforms: what modules store, convert and measure.

#include <gtest/gtest.h>

#include "lyx/sim/typed_value.hpp"
#include "lyx/sim/waveform.hpp"

using namespace lyx::sim;

namespace {

Bytes wire(DataType type, std::string_view text) {
    Bytes out(text.size() + 1);
    out[0] = static_cast<std::uint8_t>(type);
    std::copy(text.begin(), text.end(), out.begin() + 1);
    return out;
}

}  // namespace

TEST(TypedValue, NumbersAreEncodedHighByteFirstAndMustFitTheirType) {
    EXPECT_EQ(numberValue(DataType::UInt16, 1000)->bytes, (Bytes{0x03, 0xE8}));
    EXPECT_EQ(numberValue(DataType::Int32, -2)->bytes, (Bytes{0xFF, 0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(numberValue(DataType::Float, 1.5)->bytes, (Bytes{0x3F, 0xC0, 0x00, 0x00}));
    EXPECT_FALSE(numberValue(DataType::UInt8, 256));
    EXPECT_FALSE(numberValue(DataType::UInt8, -1));
    EXPECT_FALSE(numberValue(DataType::UInt8, 2.5));
    EXPECT_FALSE(numberValue(DataType::Int32, 2147483648.0));
    EXPECT_FALSE(numberValue(DataType::Float, 1e40));
    EXPECT_FALSE(numberValue(DataType::String, 1));
    EXPECT_EQ(toNumber(*numberValue(DataType::Int32, -70000)), -70000);
}

TEST(TypedValue, TextFormAndParsingAgree) {
    EXPECT_EQ(parseValue(DataType::Float, "2.5")->text(), "2.5");
    EXPECT_EQ(parseValue(DataType::UInt16, "0x1234")->text(), "4660");
    EXPECT_EQ(parseValue(DataType::Binary, "0a ff")->text(), "0AFF");
    EXPECT_EQ(parseValue(DataType::String, "a b")->bytes, (Bytes{'a', ' ', 'b'}));
    EXPECT_EQ(parseValue(DataType::Interface, "3")->bytes, (Bytes{3}));
    EXPECT_FALSE(parseValue(DataType::Binary, "0a f"));
    EXPECT_FALSE(parseValue(DataType::UInt8, "ten"));
    EXPECT_FALSE(parseValue(DataType::None, "x"));
    EXPECT_EQ(parseValue(DataType::Int32, "-5")->wire(), (Bytes{3, 0xFF, 0xFF, 0xFF, 0xFB}));
}

TEST(TypedValue, WrittenTextIsConvertedTheWayADeviceConvertsIt) {
    EXPECT_EQ(convertWritten(DataType::Float, wire(DataType::String, "2.5")),
              numberValue(DataType::Float, 2.5));
    EXPECT_EQ(convertWritten(DataType::UInt8, wire(DataType::String, " 7 ")),
              numberValue(DataType::UInt8, 7));
    EXPECT_FALSE(convertWritten(DataType::UInt8, wire(DataType::String, "2.5")));
    EXPECT_FALSE(convertWritten(DataType::UInt8, wire(DataType::String, "300")));
    EXPECT_FALSE(convertWritten(DataType::Int32, wire(DataType::String, "")));
    EXPECT_FALSE(convertWritten(DataType::Float, wire(DataType::String, "1e40")));
    // Numbers of another numeric type convert; the same type must have its size.
    EXPECT_EQ(convertWritten(DataType::Int32, Bytes{1, 200}), numberValue(DataType::Int32, 200));
    EXPECT_FALSE(convertWritten(DataType::UInt8, Bytes{2, 0x01, 0x00}));
    EXPECT_FALSE(convertWritten(DataType::UInt16, Bytes{2, 0x01}));
    // Strings take numbers as text and bytes as they are.
    EXPECT_EQ(convertWritten(DataType::String, Bytes{2, 0x01, 0x00})->bytes,
              (Bytes{'2', '5', '6'}));
    EXPECT_EQ(convertWritten(DataType::String, Bytes{6, 0x41})->bytes, (Bytes{0x41}));
    EXPECT_FALSE(convertWritten(DataType::UInt8, Bytes{}));
    // A value must fit a reply that a receiver accepts: 93 bytes after the type.
    EXPECT_FALSE(convertWritten(DataType::String, wire(DataType::String, std::string(94, 'x'))));
    EXPECT_TRUE(convertWritten(DataType::String, wire(DataType::String, std::string(93, 'x'))));
}

TEST(TypedValue, TypeNamesAndCodesRoundTrip) {
    for (int code : {0, 1, 2, 3, 4, 5, 6, 9, 255}) {
        auto type = static_cast<DataType>(code);
        EXPECT_EQ(parseDataType(dataTypeName(type)), type) << code;
    }
    EXPECT_EQ(parseDataType("float"), DataType::Float);
    EXPECT_FALSE(parseDataType("256"));
    EXPECT_FALSE(parseDataType("double"));
}

TEST(Waveform, ShapesGiveTheirValuesOverTime) {
    Waveform w;
    w.offset = 10;
    w.amplitude = 4;
    w.period = 2;
    w.shape = Waveform::Shape::Constant;
    EXPECT_DOUBLE_EQ(sample(w, 123.4), 10);
    w.shape = Waveform::Shape::Ramp;
    EXPECT_DOUBLE_EQ(sample(w, 0), 10);
    EXPECT_DOUBLE_EQ(sample(w, 1), 12);
    EXPECT_DOUBLE_EQ(sample(w, 3.5), 13);
    w.shape = Waveform::Shape::Sine;
    EXPECT_NEAR(sample(w, 0.5), 14, 1e-9);
    EXPECT_NEAR(sample(w, 1.5), 6, 1e-9);
    w.shape = Waveform::Shape::Steps;
    w.steps = {1, 2, 3};
    EXPECT_EQ(sample(w, 0.5), 1);
    EXPECT_EQ(sample(w, 2.5), 2);
    EXPECT_EQ(sample(w, 6.1), 1);
    w.steps.clear();
    EXPECT_EQ(sample(w, 6.1), 10);
}

TEST(Waveform, NoiseStaysInItsBandAndRepeatsForItsSeed) {
    Waveform w;
    w.shape = Waveform::Shape::Noise;
    w.offset = 100;
    w.amplitude = 5;
    w.randomKey = 42;
    double low = 1e9;
    double high = -1e9;
    for (int i = 0; i < 2000; ++i) {
        double v = sample(w, i * 0.01);
        low = std::min(low, v);
        high = std::max(high, v);
        ASSERT_EQ(v, sample(w, i * 0.01));
    }
    EXPECT_GE(low, 95);
    EXPECT_LE(high, 105);
    EXPECT_LT(low, 96);  // it does wander over the band
    EXPECT_GT(high, 104);
    Waveform other = w;
    other.randomKey = 43;
    EXPECT_NE(sample(w, 1.0), sample(other, 1.0));
}
