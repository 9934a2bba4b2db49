#include <gtest/gtest.h>

#include "ports/hid_bus.hpp"

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
