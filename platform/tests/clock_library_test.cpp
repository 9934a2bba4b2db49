#include <gtest/gtest.h>

#include <ctime>

#include "lyx/platform/clock.hpp"
#include "lyx/platform/library.hpp"

using namespace lyx::platform;

TEST(Clock, TickIsTheMonotonicMillisecondCountModulo2To32) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    auto expected = static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                               static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
    std::uint32_t tick = tickCount();
    EXPECT_LE(static_cast<std::uint32_t>(tick - expected), 50u);
}

TEST(Clock, TimeOfDayIsLocalSecondsSinceMidnight) {
    time_t t = ::time(nullptr);
    std::tm local{};
    ::localtime_r(&t, &local);
    double expected = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    double got = timeOfDay();
    ASSERT_GE(got, 0.0);
    ASSERT_LT(got, 86400.0);
    // Allow for a midnight between the two readings.
    double diff = got - expected;
    if (diff < -43200) diff += 86400;
    EXPECT_GE(diff, -0.001);
    EXPECT_LT(diff, 2.0);
}

TEST(Library, LoadsAndResolvesAnExport) {
    DynamicLibrary library;
    ASSERT_TRUE(library.open(LYX_PLATFORM_FILE)) << library.error();
    auto length = library.function<uint32_t (*)(LyxBStr)>("SysStringByteLen");
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length(nullptr), 0u);
    EXPECT_EQ(library.symbol("NoSuchExport"), nullptr);
    EXPECT_FALSE(library.error().empty());
}

TEST(Library, MissingFileIsAnErrorNotACrash) {
    DynamicLibrary library;
    EXPECT_FALSE(library.open("/nonexistent/libNothing.so"));
    EXPECT_FALSE(library.isOpen());
    EXPECT_NE(library.error().find("libNothing"), std::string::npos);
    EXPECT_EQ(library.symbol("x"), nullptr);
}

TEST(Library, MovedLibraryStaysLoaded) {
    DynamicLibrary first;
    ASSERT_TRUE(first.open(LYX_PLATFORM_FILE));
    DynamicLibrary second = std::move(first);
    EXPECT_FALSE(first.isOpen());
    EXPECT_TRUE(second.isOpen());
    EXPECT_NE(second.symbol("SysFreeString"), nullptr);
}
