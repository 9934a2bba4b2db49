// The commands the gateway runs from the broker, and how fast they may make the radio send.
#include "command_policy.hpp"

#include <gtest/gtest.h>

#include "arguments.hpp"

namespace lyx::cli {
namespace {

using namespace std::chrono_literals;

TEST(CommandPolicy, LevelsAndListsAllowWhatTheySayAndRefusalsNameTheOption) {
    const auto allowed = [](const char *text) { return CommandPolicy::parse(text).describe(); };
    EXPECT_EQ(CommandPolicy::defaults().describe(), "station,read");
    EXPECT_EQ(allowed("none"), "none");
    EXPECT_EQ(allowed("control"), "sleep,pause,wake,stay-awake,station,read,forget");
    EXPECT_EQ(allowed("all"),
              "sleep,pause,wake,stay-awake,pair,station,channel,read,write,send,forget");
    EXPECT_EQ(allowed("read, pair"), "pair,station,read");
    EXPECT_EQ(allowed("wake,send"), "wake,send");
    const CommandPolicy read = CommandPolicy::defaults();
    EXPECT_TRUE(read.allows("read"));
    EXPECT_FALSE(read.allows("channel"));
    EXPECT_FALSE(read.allows("forget"));
    EXPECT_EQ(read.refusal("channel"),
              "this gateway does not run 'channel' (--commands station,read); start it with "
              "--commands all, or --commands station,read,channel, to allow it");
    EXPECT_EQ(CommandPolicy::parse("none").refusal("sleep"),
              "this gateway does not run 'sleep' (--commands none); start it with --commands "
              "all, or --commands sleep, to allow it");
    for (const char *bad : {"", "reboot", "read,,sleep", "none,read", "READ"})
        EXPECT_THROW(CommandPolicy::parse(bad), UsageError) << bad;
}

TEST(RateLimit, TenAtOnceThenTenASecond) {
    RateLimit limit(10, 10);
    const auto t0 = RateLimit::Clock::time_point(100s);
    int taken = 0;
    for (int i = 0; i < 15; ++i)
        taken += limit.take(t0);
    EXPECT_EQ(taken, 10);
    EXPECT_FALSE(limit.take(t0 + 50ms));  // half a token
    EXPECT_TRUE(limit.take(t0 + 100ms));
    EXPECT_FALSE(limit.take(t0 + 100ms));
    // A long quiet refills the bucket, but never past its size.
    taken = 0;
    for (int i = 0; i < 15; ++i)
        taken += limit.take(t0 + 60s);
    EXPECT_EQ(taken, 10);
}

}  // namespace
}  // namespace lyx::cli
