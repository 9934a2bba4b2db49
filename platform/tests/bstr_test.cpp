#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "LyxPlatform.h"

TEST(ByteString, KeepsEveryByteValueAndLength) {
    std::vector<uint8_t> bytes(256);
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    LyxBStr s = SysAllocStringByteLen(bytes.data(), 256);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringByteLen(s), 256u);
    EXPECT_EQ(std::memcmp(s, bytes.data(), 256), 0);
    EXPECT_EQ(s[256], 0);
    EXPECT_EQ(s[257], 0);
    SysFreeString(s);
}

TEST(ByteString, NullSourceGivesZeroFilledString) {
    LyxBStr s = SysAllocStringByteLen(nullptr, 5);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringByteLen(s), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(s[i], 0);
    SysFreeString(s);
}

TEST(ByteString, EmptyAndNullAreDefined) {
    LyxBStr s = SysAllocStringByteLen("x", 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringByteLen(s), 0u);
    SysFreeString(s);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
}
