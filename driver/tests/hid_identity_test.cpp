#include <gtest/gtest.h>

#include "ports/hid_bus.hpp"
#include "ports/vhid_protocol.hpp"

using namespace lyx::drv;

TEST(SlotFromSerial, ReadsTheLeadingNumberOfTheLowBytes) {
    EXPECT_EQ(slotFromSerial(L"1"), 1);
    EXPECT_EQ(slotFromSerial(L"2"), 2);
    EXPECT_EQ(slotFromSerial(L"7"), 7);
    EXPECT_EQ(slotFromSerial(L"  3"), 3);
    EXPECT_EQ(slotFromSerial(L"4abc"), 4);
    EXPECT_EQ(slotFromSerial(L""), 0);
    EXPECT_EQ(slotFromSerial(L"abc"), 0);
    EXPECT_EQ(slotFromSerial(L"-1"), -1);
    EXPECT_EQ(slotFromSerial(std::wstring(L"2\0"
                                          L"9",
                                          3)),
              2);
    // Only the low byte of each character counts: U+0131 reads as '1'.
    EXPECT_EQ(slotFromSerial(std::wstring(1, wchar_t{0x0131})), 1);
    EXPECT_LT(slotFromSerial(L"1.5"), 0);
    EXPECT_LT(slotFromSerial(L"99999999999"), 0);
}

TEST(RevisionFromRelease, HexBytesJoinedByAPointReadAsDecimal) {
    EXPECT_FLOAT_EQ(revisionFromRelease(0x0203), 2.3f);
    EXPECT_FLOAT_EQ(revisionFromRelease(0x0110), 1.1f);
    EXPECT_FLOAT_EQ(revisionFromRelease(0x0102), 1.2f);
    EXPECT_FLOAT_EQ(revisionFromRelease(0x1000), 10.0f);
    EXPECT_FLOAT_EQ(revisionFromRelease(0x0A01), 0.0f);  // "A.1" has no leading number
}

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

// Real devices: only what this machine allows without a base station.
TEST(HidapiBus, EnumeratesWithoutDevicesAndMonitorStartsAndStops) {
    auto bus = makeHidapiBus();
    for (const HidInfo &info : bus->enumerate()) {
        EXPECT_FALSE(info.path.empty());
    }
    bool started = bus->startMonitor([] {});
    if (!started) GTEST_SKIP() << "udev events cannot be watched here";
    bus->stopMonitor();
    EXPECT_TRUE(bus->startMonitor([] {}));
    bus.reset();  // stops the monitor as it goes
}
