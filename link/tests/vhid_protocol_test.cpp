// The virtual HID bus protocol: the identity message and HID strings.

#include <gtest/gtest.h>

#include "lyx/link/vhid_protocol.hpp"

TEST(VhidProtocol, IdentityRoundTripsAndBadTextIsRefused) {
    lyx::vhid::Identity id{0x1781, 0x0BA4, 0x0203, "1"};
    std::string text = lyx::vhid::formatIdentity(id);
    EXPECT_EQ(text, "vid=1781 pid=0ba4 release=0203 serial=1");
    auto parsed = lyx::vhid::parseIdentity(text);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->vendor, 0x1781);
    EXPECT_EQ(parsed->product, 0x0BA4);
    EXPECT_EQ(parsed->release, 0x0203);
    EXPECT_EQ(parsed->serial, "1");
    auto spaced = lyx::vhid::parseIdentity("vid=1781 pid=0ba4 release=0203 serial=Lab bench 2");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->serial, "Lab bench 2");
    EXPECT_FALSE(lyx::vhid::parseIdentity("vid=1781 pid=0ba4 serial=1"));
    EXPECT_FALSE(lyx::vhid::parseIdentity("vid=zz pid=0ba4 release=0203 serial=1"));
    EXPECT_FALSE(lyx::vhid::parseIdentity(""));
}

TEST(VhidProtocol, Utf8SerialBecomesHidCharacters) {
    EXPECT_EQ(lyx::vhid::utf8ToWide("2"), L"2");
    EXPECT_EQ(lyx::vhid::utf8ToWide("\xC3\xA9"), std::wstring(1, wchar_t{0xE9}));
    EXPECT_EQ(lyx::vhid::utf8ToWide("\xE2\x82\xAC"), std::wstring(1, wchar_t{0x20AC}));
    EXPECT_EQ(lyx::vhid::utf8ToWide("\xC3"), std::wstring(1, wchar_t{0xFFFD}));
    EXPECT_EQ(lyx::vhid::utf8ToWide("\xFF"
                                    "1"),
              (std::wstring{wchar_t{0xFFFD}, L'1'}));
}
