#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "lyx/link/frame.hpp"
#include "lyx/link/synchroniser.hpp"

using namespace lyx::link;

namespace {

struct Scan {
    std::vector<Bytes> frames;
    std::size_t kept = 0;  // bytes left for later: a possible frame not yet complete
};

// Runs the synchroniser over a stream as the receive engine does: drop what is
// not a frame, take the frame, drop the zero fill right after it.
Scan scanAll(std::span<const std::uint8_t> stream) {
    Scan scan;
    std::size_t pos = 0;
    for (;;) {
        SyncResult r = findFrame({stream.subspan(pos), {}});
        pos += r.discard;
        if (r.frameLength == 0) break;
        auto frame = stream.subspan(pos, r.frameLength);
        scan.frames.emplace_back(frame.begin(), frame.end());
        pos += r.frameLength;
        while (pos < stream.size() && stream[pos] == 0)
            ++pos;
    }
    scan.kept = stream.size() - pos;
    return scan;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kBroadcast{0x01, 0x01, 0x01, 0x00, 0x51, 0x88};

}  // namespace

TEST(Synchroniser, AcceptsTheBroadcastFrame) {
    SyncResult r = findFrame({kBroadcast, {}});
    EXPECT_EQ(r.discard, 0u);
    EXPECT_EQ(r.frameLength, 6u);
}

TEST(Synchroniser, EverySingleBitFlipOfTheBroadcastIsRejected) {
    for (std::size_t byte = 0; byte < kBroadcast.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes corrupt = kBroadcast;
            corrupt[byte] ^= static_cast<std::uint8_t>(1u << bit);
            Scan scan = scanAll(corrupt);
            EXPECT_TRUE(scan.frames.empty()) << "byte " << byte << " bit " << bit;
            // A flip that makes 01 01 a longer length pair leaves a candidate that
            // is simply not complete yet; anything else is dropped.
            EXPECT_LE(scan.kept, corrupt.size());
        }
    }
}

TEST(Synchroniser, ReportFillBetweenFramesIsSkippedWithoutLoss) {
    Bytes a = buildFrame(1, Bytes{0x03, 0x04, 0xD2, 0x00, 0x01, 0x05});
    Bytes b = buildFrame(2, Bytes{0x03, 0x00, 0x07, 0x00, 0x02, 0x07, 0x00});
    Bytes stream = concat({Bytes(7, 0), a, Bytes(64 - a.size(), 0), b, Bytes(40, 0)});
    Scan scan = scanAll(stream);
    ASSERT_EQ(scan.frames.size(), 2u);
    EXPECT_EQ(scan.frames[0], a);
    EXPECT_EQ(scan.frames[1], b);
    EXPECT_EQ(scan.kept, 0u);
}

TEST(Synchroniser, PartialFrameIsKeptUntilComplete) {
    Bytes frame = buildFrame(1, Bytes{0x03, 0x10, 0x20, 0x30});
    SyncResult partial = findFrame({std::span(frame).first(4), {}});
    EXPECT_EQ(partial.discard, 0u);
    EXPECT_EQ(partial.frameLength, 0u);
    SyncResult almost = findFrame({std::span(frame).first(frame.size() - 1), {}});
    EXPECT_EQ(almost.discard, 0u);
    EXPECT_EQ(almost.frameLength, 0u);
    SyncResult whole = findFrame({frame, {}});
    EXPECT_EQ(whole.discard, 0u);
    EXPECT_EQ(whole.frameLength, frame.size());
}

TEST(Synchroniser, FailingLengthPairIsDroppedByteByByteAndTheFrameBehindIsFound) {
    Bytes fake{0x03, 0x03, 0x01, 0xAA, 0xBB, 0xCC, 0x00, 0x00};  // CRC does not match
    Bytes real = buildFrame(1, Bytes{0x03, 0x01, 0x02});
    Bytes stream = concat({fake, real});
    SyncResult r = findFrame({stream, {}});
    EXPECT_EQ(r.discard, fake.size());
    EXPECT_EQ(r.frameLength, real.size());
}

TEST(Synchroniser, SpuriousPairHoldsFramesBackUntilItsLengthIsHeld) {
    // 5A 5A announces 90 payload bytes: nothing can be decided before 95 bytes
    // are held from it, then its CRC fails and the frames behind come out.
    Bytes frame = buildFrame(1, Bytes{0x03, 0x00, 0x01, 0x00, 0x01, 0x2A, 0x00, 0x00});
    ASSERT_EQ(frame.size(), 13u);
    Bytes stream{0x5A, 0x5A};
    while (stream.size() + frame.size() < 95)
        stream.insert(stream.end(), frame.begin(), frame.end());
    ASSERT_LT(stream.size(), 95u);
    Scan held = scanAll(stream);
    EXPECT_TRUE(held.frames.empty());
    EXPECT_EQ(held.kept, stream.size());

    std::size_t before = (stream.size() - 2) / frame.size();
    stream.insert(stream.end(), frame.begin(), frame.end());
    ASSERT_GE(stream.size(), 95u);
    Scan released = scanAll(stream);
    EXPECT_EQ(released.frames.size(), before + 1);
    for (const auto &f : released.frames)
        EXPECT_EQ(f, frame);
    EXPECT_EQ(released.kept, 0u);
}

TEST(Synchroniser, LengthPairAbove100IsNeverAFrameStart) {
    // A frame with 101 payload bytes and a correct CRC is still refused.
    Bytes big = buildFrame(1, Bytes(101, 0x03));
    ASSERT_EQ(big[0], 0x65);
    ASSERT_TRUE(isValidFrame(big));
    Scan scan = scanAll(big);
    EXPECT_TRUE(scan.frames.empty());
    Bytes hundred = buildFrame(1, Bytes(100, 0x03));
    Scan ok = scanAll(hundred);
    ASSERT_EQ(ok.frames.size(), 1u);
}

TEST(Synchroniser, TopBitsOfTheTypeByteTravelUnchanged) {
    Bytes frame = buildFrame(1, Bytes{0x83, 0x00, 0x05});
    Scan scan = scanAll(frame);
    ASSERT_EQ(scan.frames.size(), 1u);
    EXPECT_EQ(scan.frames[0][3], 0x83);
    EXPECT_EQ(typeCode(scan.frames[0][3]), 3);
}

TEST(Synchroniser, FrameSplitAcrossTheRingWrapIsFound) {
    Bytes frame = buildFrame(3, Bytes{0x03, 0x01, 0x02, 0x03, 0x04});
    for (std::size_t cut = 0; cut <= frame.size(); ++cut) {
        Bytes head(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(cut));
        Bytes tail(frame.begin() + static_cast<std::ptrdiff_t>(cut), frame.end());
        SyncResult r = findFrame({head, tail});
        EXPECT_EQ(r.discard, 0u) << cut;
        EXPECT_EQ(r.frameLength, frame.size()) << cut;
    }
}

// Property test with a fixed random start: random frames with random zero fill, cut into pieces
// that sit in exactly sized heap blocks (so any read past a piece is caught by
// the address sanitizer), always come out whole and in order; random noise never
// yields a frame that fails the length pair or the CRC.
TEST(SynchroniserProperty, RandomStreamsNeverOverreadAndKeepOrder) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 300; ++round) {
        std::vector<Bytes> sent;
        Bytes stream;
        bool noisy = round % 3 == 2;
        int frames = 1 + static_cast<int>(rng() % 20);
        for (int i = 0; i < frames; ++i) {
            Bytes payload(1 + rng() % 100);
            for (auto &b : payload)
                b = static_cast<std::uint8_t>(rng());
            Bytes frame = buildFrame(static_cast<std::uint8_t>(rng()), payload);
            sent.push_back(frame);
            stream.insert(stream.end(), frame.begin(), frame.end());
            std::size_t fill = rng() % 70;
            for (std::size_t k = 0; k < fill; ++k) {
                stream.push_back(noisy ? static_cast<std::uint8_t>(rng()) : 0);
            }
        }
        std::size_t cut = rng() % (stream.size() + 1);
        std::unique_ptr<std::uint8_t[]> a(new std::uint8_t[cut]);
        std::unique_ptr<std::uint8_t[]> b(new std::uint8_t[stream.size() - cut]);
        std::copy_n(stream.begin(), cut, a.get());
        std::copy(stream.begin() + static_cast<std::ptrdiff_t>(cut), stream.end(), b.get());

        HeldBytes held{{a.get(), cut}, {b.get(), stream.size() - cut}};
        std::vector<Bytes> got;
        std::size_t pos = 0;
        for (;;) {
            HeldBytes rest = pos < cut ? HeldBytes{held.first.subspan(pos), held.second}
                                       : HeldBytes{held.second.subspan(pos - cut), {}};
            SyncResult r = findFrame(rest);
            pos += r.discard;
            if (r.frameLength == 0) break;
            Bytes frame;
            for (std::size_t k = 0; k < r.frameLength; ++k)
                frame.push_back(held[pos + k]);
            ASSERT_TRUE(isValidFrame(frame));
            ASSERT_LE(frame[0], 100);
            got.push_back(frame);
            pos += r.frameLength;
            while (pos < stream.size() && held[pos] == 0)
                ++pos;
        }
        // Every frame that comes out passed the length pair and the CRC (checked
        // above); without noise, exactly the frames sent come out, in order.
        if (!noisy) {
            ASSERT_EQ(got, sent) << "round " << round;
        }
    }
}
