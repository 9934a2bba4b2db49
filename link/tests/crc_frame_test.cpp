#include <gtest/gtest.h>

#include <random>
#include <string_view>

#include "lyx/link/crc16.hpp"
#include "lyx/link/frame.hpp"

using namespace lyx::link;

namespace {

// Bit-at-a-time reference, written from the CRC's definition.
std::uint16_t referenceCrc(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) {
            bool lsb = crc & 1;
            crc >>= 1;
            if (lsb) crc ^= 0xA001;
        }
    }
    return crc;
}

Bytes bytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

}  // namespace

TEST(Crc16, CheckValueOfTheDigitsOneToNine) {
    EXPECT_EQ(crc16(bytesOf("123456789")), 0x4B37);
}

TEST(Crc16, MatchesTheBitwiseDefinitionForAnyLengthAndSplit) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 500; ++round) {
        Bytes data(rng() % 300);
        for (auto &b : data)
            b = static_cast<std::uint8_t>(rng());
        std::uint16_t expected = referenceCrc(data);
        ASSERT_EQ(crc16(data), expected) << "length " << data.size();
        std::size_t cut = data.empty() ? 0 : rng() % data.size();
        std::span<const std::uint8_t> all(data);
        EXPECT_EQ(crc16(all.subspan(cut), crc16(all.first(cut))), expected) << "split at " << cut;
    }
}

TEST(Frame, BroadcastWithoutCallerBytesIsTheSixKnownBytes) {
    Bytes payload{0x00};
    EXPECT_EQ(buildFrame(1, payload), (Bytes{0x01, 0x01, 0x01, 0x00, 0x51, 0x88}));
}

TEST(Frame, DataPacketFrameCarriesLengthTwiceAddressPayloadAndCrcLowFirst) {
    Bytes payload{0x03, 0x00, 0x00, 0x07};
    Bytes frame = buildFrame(1, payload);
    ASSERT_EQ(frame.size(), 9u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 7),
              (Bytes{0x04, 0x04, 0x01, 0x03, 0x00, 0x00, 0x07}));
    std::uint16_t crc = referenceCrc(std::span(frame).first(7));
    EXPECT_EQ(frame[7], crc & 0xFF);
    EXPECT_EQ(frame[8], crc >> 8);
    EXPECT_TRUE(isValidFrame(frame));
}

TEST(Frame, EmptyAndOverlongPayloadsAreRefused) {
    EXPECT_TRUE(buildFrame(1, Bytes{}).empty());
    EXPECT_TRUE(buildFrame(1, Bytes(256, 0x03)).empty());
    EXPECT_EQ(buildFrame(1, Bytes(255, 0x03)).size(), 260u);
}

TEST(Frame, ValidityNeedsLengthPairSizeAndCrc) {
    Bytes good = buildFrame(2, Bytes{0x03, 0x12, 0x34});
    ASSERT_TRUE(isValidFrame(good));
    Bytes badCopy = good;
    badCopy[1] ^= 1;
    EXPECT_FALSE(isValidFrame(badCopy));
    Bytes badCrc = good;
    badCrc.back() ^= 0x80;
    EXPECT_FALSE(isValidFrame(badCrc));
    EXPECT_FALSE(isValidFrame(std::span(good).first(good.size() - 1)));
    EXPECT_FALSE(isValidFrame(Bytes{}));
}

TEST(UsbReports, SeventyByteFrameTakesTwoReportsWithZeroFill) {
    Bytes frame = buildFrame(2, Bytes(65, 0x03));
    ASSERT_EQ(frame.size(), 70u);
    auto reports = splitIntoReports(frame);
    ASSERT_TRUE(reports);
    ASSERT_EQ(reports->size(), 2u);
    const Report &first = (*reports)[0];
    const Report &second = (*reports)[1];
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(second[0], 0);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(first[1 + i], frame[i]) << i;
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(second[1 + i], frame[64 + i]) << i;
    for (int i = 7; i < 65; ++i)
        EXPECT_EQ(second[i], 0) << i;
}

TEST(UsbReports, SizeLimits) {
    EXPECT_EQ(splitIntoReports(Bytes(64, 1))->size(), 1u);
    EXPECT_EQ(splitIntoReports(Bytes(65, 1))->size(), 2u);
    EXPECT_EQ(splitIntoReports(Bytes(128, 1))->size(), 2u);
    EXPECT_FALSE(splitIntoReports(Bytes(129, 1)));
    EXPECT_FALSE(splitIntoReports(Bytes{}));
}

TEST(Frame, TypeCodeIsTheLowFiveBits) {
    EXPECT_EQ(typeCode(0x83), 3);
    EXPECT_EQ(typeCode(0xF4), 20);
    EXPECT_EQ(typeCode(0x03), 3);
}
