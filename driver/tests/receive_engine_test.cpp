// The receive engine end to end through the exports: an in-memory transport
// plays the base station, the test thread opens the link and pumps.

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "engine_test_support.hpp"
#include "lyx/platform/clock.hpp"
#include "lyx/platform/messages.hpp"

using namespace lyx::drv;
using namespace lyx::drv::testing;
using lyx::link::Bytes;

namespace {

bool messageWaiting() {
    pollfd p{LyxMessageFd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1;
}

// Waits for the processor to queue a hand-over for this thread.
bool waitForHandOver(std::chrono::milliseconds timeout = 5s) {
    return lyx::platform::waitForMessages(static_cast<int>(timeout.count()));
}

}  // namespace

using PollingMode = EngineTest;

TEST_F(PollingMode, FramesComeOutOneAtATimeInOrderThenNothing) {
    open();
    Bytes first = frame(1, {0x03, 0x04, 0xD2, 0x00, 0x01, 0x05});
    Bytes second = frame(2, {0x03, 0x00, 0x2A, 0x00, 0x02, 0x07, 0x00});
    inject(first);
    inject(second);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(ANYINQUEUE(), 1);
    EXPECT_EQ(nextPacket(), first);
    EXPECT_EQ(ANYINQUEUE(), 1);
    EXPECT_EQ(nextPacket(), second);
    EXPECT_EQ(ANYINQUEUE(), 0);
    EXPECT_EQ(nextPacket(), std::nullopt);
}

TEST_F(PollingMode, OneFrameWaitsTheRestAreHeldInOrderAndNothingOverflows) {
    open(false);  // appends wait for room, as a serial line's buffer lets them
    // Far more than the ring holds, with nobody fetching: the frames are held.
    constexpr int kFrames = 5000;
    Bytes bulk;
    for (int i = 0; i < kFrames; ++i) {
        Bytes f = frame(1, {0x03, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
        bulk.insert(bulk.end(), f.begin(), f.end());
        if (bulk.size() > 10000) {
            inject(bulk);
            bulk.clear();
        }
    }
    inject(bulk);
    ASSERT_TRUE(waitIdle());
    {
        std::lock_guard guard(d.rxLock);
        EXPECT_EQ(d.rxRing.held(), 0u);
        EXPECT_EQ(d.held.size(), static_cast<std::size_t>(kFrames - 1));
        EXPECT_EQ(d.counters.bytesDropped, 0u);
    }
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(ANYINQUEUE(), 1);
        auto next = nextPacket();
        ASSERT_TRUE(next.has_value());
        ASSERT_EQ(((*next)[4] << 8) | (*next)[5], i);
    }
    EXPECT_EQ(ANYINQUEUE(), 0);
}

TEST_F(PollingMode, ReportWithFrameAndZeroFillLeavesTheRingEmpty) {
    open();
    Bytes report = frame(1, {0x03, 0x00, 0x01, 0x00, 0x01, 0x2A});
    report.resize(64, 0);
    inject(report);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(ANYINQUEUE(), 1);
    std::lock_guard guard(d.rxLock);
    EXPECT_EQ(d.rxRing.held(), 0u);
}

TEST_F(PollingMode, ClearBuffersDropsHeldFramesAndUnprocessedBytesAndReceptionGoesOn) {
    open();
    inject(frame(1, {0x03, 0x01}));
    inject(frame(1, {0x03, 0x02}));
    Bytes partial = frame(1, {0x03, 0x04});
    partial.pop_back();  // a frame whose last byte has not come yet stays in the ring
    inject(partial);
    ASSERT_TRUE(waitIdle());
    {
        std::lock_guard guard(d.rxLock);
        ASSERT_EQ(d.rxRing.held(), partial.size());
        ASSERT_EQ(d.held.size(), 1u);
    }
    CLRBUFFERS();
    EXPECT_EQ(ANYINQUEUE(), 0);
    {
        std::lock_guard guard(d.rxLock);
        EXPECT_EQ(d.rxRing.held(), 0u);
        EXPECT_EQ(d.rxRing.read(), 1u);
        EXPECT_TRUE(d.held.empty());
    }
    Bytes next = frame(1, {0x03, 0x03});
    inject(next);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(nextPacket(), next);
    EXPECT_EQ(nextPacket(), std::nullopt);
}

// The ring overflows only when the processor cannot keep up; here it does not
// run yet, as before a link is opened.
TEST_F(PollingMode, OverflowingChunkEmptiesTheRingIsItselfStoredAndIsCounted) {
    Bytes lost = frame(1, {0x03, 0x02});
    Bytes filler(21000 - lost.size(), 0x11);
    filler.insert(filler.begin(), lost.begin(), lost.end());
    const auto before = d.counters.bytesDropped;
    d.RXAPPEND(filler);
    Bytes kept = frame(1, {0x03, 0x03});
    Bytes chunk(1000 - kept.size(), 0);
    chunk.insert(chunk.begin(), kept.begin(), kept.end());
    d.RXAPPEND(chunk);
    {
        std::lock_guard guard(d.rxLock);
        EXPECT_EQ(d.rxRing.held(), 1000u);
        EXPECT_EQ(d.counters.bytesDropped - before, 21000u);
    }
    open();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(nextPacket(), kept);
    EXPECT_EQ(nextPacket(), std::nullopt);
    LyxDrvLinkStatistics stats{};
    stats.size = sizeof stats;
    ASSERT_EQ(LyxDrvGetLinkStatistics(&stats), 0);
    EXPECT_EQ(stats.bytesDropped, d.counters.bytesDropped);
}

TEST_F(PollingMode, SerialAppendWaitsForRoomInsteadOfDroppingAndIsReleasedByStop) {
    d.RXAPPEND(Bytes(21000, 0x11));  // not processed: no link is open yet
    Bytes kept = frame(1, {0x03, 0x03});
    Bytes chunk(1000 - kept.size(), 0);
    chunk.insert(chunk.begin(), kept.begin(), kept.end());
    const auto dropped = d.counters.bytesDropped;
    const auto discarded = d.counters.bytesDiscarded;
    std::atomic<bool> appended{false};
    std::stop_source readerStop;
    std::jthread reader([&] {
        d.RXAPPENDWAIT(chunk, readerStop.get_token());
        appended = true;
    });
    std::stop_source abandonedStop;
    std::jthread abandoned([&] { d.RXAPPENDWAIT(Bytes(1000, 0x22), abandonedStop.get_token()); });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(appended.load()) << "the chunk must wait, not push out unprocessed bytes";
    abandonedStop.request_stop();
    abandoned.join();  // released without appending
    open(false);       // the processor discards the junk, and room appears
    reader.join();
    EXPECT_TRUE(appended.load());
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(nextPacket(), kept);
    EXPECT_EQ(d.counters.bytesDropped, dropped);
    EXPECT_EQ(d.counters.bytesDiscarded - discarded, 21000u);
}

TEST_F(PollingMode, GetNextPacketBeforeAnyOpenIsEmpty) {
    EXPECT_EQ(ANYINQUEUE(), 0);
    EXPECT_EQ(GETNEXTPACKET(), nullptr);
}

using CallbackMode = EngineTest;

TEST_F(CallbackMode, TwoArgumentFormGetsTheWholeFrameOnTheOpeningThread) {
    useCallback2();
    open();
    Bytes f = frame(1, {0x83, 0x04, 0xD2, 0x00, 0x01, 0x05});
    inject(f);
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 1; }));
    const Received &r = received[0];
    EXPECT_EQ(r.frame, f);
    EXPECT_EQ(r.length, static_cast<std::int32_t>(f[0]) + 5);
    EXPECT_EQ(r.instance, -1);
    EXPECT_EQ(r.thread, lyx::platform::currentThreadId());
    EXPECT_EQ(r.frame[3], 0x83);  // the upper bits of the type byte travel unchanged
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(ANYINQUEUE(), 0);
}

TEST_F(CallbackMode, ThreeArgumentFormAlsoGetsTheInstanceNumber) {
    useCallback3(3);
    open();
    Bytes f = frame(2, {0x03, 0x01, 0x02});
    inject(f);
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 1; }));
    EXPECT_EQ(received[0].frame, f);
    EXPECT_EQ(received[0].instance, 3);
}

TEST_F(CallbackMode, FrameIsDeliveredOnlyWhileTheOpeningThreadPumps) {
    useCallback2();
    open();
    Bytes f = frame(1, {0x03, 0x09});
    inject(f);
    ASSERT_TRUE(waitForHandOver());
    EXPECT_TRUE(received.empty()) << "delivered without pumping";
    EXPECT_EQ(LyxPumpMessages(), 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].frame, f);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(d.inCallback.load(), 0);
    EXPECT_FALSE(messageWaiting());
}

TEST_F(CallbackMode, ManyFramesFromAnotherThreadArriveInOrderWithoutLoss) {
    useCallback3(1);
    open();
    const std::uint64_t droppedBefore = d.counters.bytesDropped;
    constexpr int kFrames = 2000;
    std::jthread producer([&] {
        for (int i = 0; i < kFrames; ++i) {
            Bytes f = frame(1, {0x03, static_cast<std::uint8_t>(i >> 8),
                                static_cast<std::uint8_t>(i), 0x00, 0x02});
            f.resize(64, 0);  // as a USB report
            // Keep within the ring, as a base station paced by the USB bus would.
            while (true) {
                {
                    std::lock_guard guard(d.rxLock);
                    if (d.rxRing.freeSpace() >= 64) break;
                }
                std::this_thread::yield();
            }
            transport->inject(f);
        }
    });
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == kFrames; }, 30s));
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ((received[i].frame[4] << 8) | received[i].frame[5], i);
    }
    EXPECT_EQ(d.counters.bytesDropped, droppedBefore);
}

// Frames wait while a command runs and while the opening thread does not
// dispatch (here for far more frames than the ring holds), then all come in
// order: first those held, then the later ones.
TEST_F(CallbackMode, FramesHeldByACommandOrAStalledThreadComeAfterwardsInOrder) {
    useCallback2();
    open(false);  // appends wait for room, as a serial line's buffer lets them
    auto numbered = [](int i) {
        return frame(1, {0x03, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
    };
    d.commandBusy = 1;
    inject(numbered(0));
    inject(numbered(1));
    ASSERT_TRUE(waitIdle());
    LyxPumpMessages();
    EXPECT_TRUE(received.empty()) << "delivered while a command runs";
    d.commandBusy = 0;
    d.commandFinished();
    constexpr int kFrames = 3000;  // about 30 000 bytes, without pumping
    for (int i = 2; i < kFrames; ++i)
        inject(numbered(i));
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == kFrames; }, 30s));
    for (int i = 0; i < kFrames; ++i)
        ASSERT_EQ((received[i].frame[4] << 8) | received[i].frame[5], i);
    EXPECT_EQ(d.counters.bytesDropped, 0u);
}

TEST_F(CallbackMode, BindReplyFillsTheBindResultAndIsAlsoDelivered) {
    useCallback2();
    open();
    d.bindDeadline = lyx::platform::monotonicSeconds() + 5.0;
    d.bindStatus = 99;
    Bytes reply = frame(1, {0x14, 0x01, 0x02, 0x03, 0x00, 0x2A});
    inject(reply);
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 1; }));
    EXPECT_EQ(received[0].frame, reply);
    EXPECT_EQ(d.bindId.load(), 66051);
    EXPECT_EQ(d.bindValue.load(), 42);
    EXPECT_EQ(d.bindStatus.load(), 0);
    EXPECT_EQ(d.bindDeadline.load(), 0.0);
}

TEST_F(CallbackMode, BindReplyWithoutPendingBindIsOnlyDelivered) {
    useCallback2();
    open();
    inject(frame(1, {0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}));
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 1; }));
    EXPECT_EQ(d.bindId.load(), 0);
    EXPECT_EQ(d.bindStatus.load(), 0);
}

TEST_F(CallbackMode, ShortBindReplyDoesNotCompleteTheBind) {
    useCallback2();
    open();
    d.bindDeadline = lyx::platform::monotonicSeconds() + 5.0;
    d.bindStatus = 99;
    inject(frame(1, {0x14, 0x01}));
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 1; }));
    EXPECT_EQ(d.bindStatus.load(), 99);
    EXPECT_NE(d.bindDeadline.load(), 0.0);
}

TEST_F(CallbackMode, CallbackMaySendAndFetchWithoutDeadlock) {
    useCallback2();
    open();
    std::vector<std::optional<Bytes>> fetched;
    onFrame = [&](const Received &r) {
        std::uint8_t echo[] = {0x03, r.frame[4], 0x07};
        EXPECT_EQ(WRITEPACKET(1, echo, 3), 0);
        SENDBROADCAST(1, nullptr, 0);
        fetched.push_back(nextPacket());
    };
    Bytes f = frame(1, {0x03, 0x55});
    inject(f);
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 1; }));
    auto sent = transport->sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].frame, lyx::link::buildFrame(1, Bytes{0x03, 0x55, 0x07}));
    EXPECT_EQ(sent[1].frame, (Bytes{0x01, 0x01, 0x01, 0x00, 0x51, 0x88}));
    ASSERT_EQ(fetched.size(), 1u);
    EXPECT_EQ(fetched[0], f);  // the last frame taken from the ring
}

TEST_F(CallbackMode, ClosingTheLinkFromInsideTheCallbackDoesNotHang) {
    useCallback2();
    open();
    onFrame = [](const Received &) { EXPECT_EQ(CLOSEPORT(), 0); };
    inject(frame(1, {0x03, 0x01}));
    inject(frame(1, {0x03, 0x02}));
    ASSERT_TRUE(pumpUntil([] { return !EngineTest::received.empty(); }));
    EXPECT_FALSE(transport->running());
    LyxPumpMessages();
    EXPECT_EQ(received.size(), 1u);
}

TEST_F(CallbackMode, PollingAddressOneDeliversNothingAndKeepsTheMailbox) {
    intptr_t one = 1;
    INITIALISEMULTI(&one, 0);
    open();
    Bytes f = frame(1, {0x03, 0x01});
    inject(f);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(LyxPumpMessages(), 0);
    EXPECT_EQ(ANYINQUEUE(), 1);
    EXPECT_EQ(nextPacket(), f);
}

using NotificationWindow = EngineTest;

TEST_F(NotificationWindow, TitleNamesTheOpeningThreadAndInstance) {
    EXPECT_EQ(notifyWindowTitle(1234, 1), "LyxDrv 1234- 1");
    EXPECT_EQ(notifyWindowTitle(1234, 0), "LyxDrv 1234- 0");
    EXPECT_EQ(notifyWindowTitle(1234, -3), "LyxDrv 1234--3");
    useCallback3(7);
    open();
    std::string title = notifyWindowTitle(lyx::platform::currentThreadId(), 7);
    EXPECT_EQ(lyx::platform::findWindow(title), d.notifyWindow.load());
}

TEST_F(NotificationWindow, IsFoundAgainOnTheNextOpen) {
    useCallback3(8);
    open();
    WindowHandle first = d.notifyWindow;
    CLOSEPORT();
    transport = std::make_shared<MemoryTransport>();
    open();
    EXPECT_EQ(d.notifyWindow.load(), first);
}

TEST_F(NotificationWindow, CreateCallbackWindowUsesTheGivenThreadIdInTheTitle) {
    INITIALISEMULTI(nullptr, 5);
    std::int32_t thread = 424242;
    intptr_t window = CREATECALLBACKWINDOW(&thread);
    ASSERT_NE(window, 0);
    EXPECT_EQ(lyx::platform::findWindow("LyxDrv 424242- 5"), window);
    EXPECT_EQ(CREATECALLBACKWINDOW(nullptr), 0);
    lyx::platform::sendMessage(window, lyx::platform::kWmClose, 0, 0);
    EXPECT_FALSE(lyx::platform::isWindow(window));
}

TEST_F(NotificationWindow, DeviceChangeReenumeratesOnTheOpeningThread) {
    open();
    transport->signalDeviceChange();
    EXPECT_EQ(transport->enumerations(), 0);
    ASSERT_TRUE(pumpUntil([&] { return transport->enumerations() == 1; }));
}

// Window creation fails when the thread's message queue cannot be made; here
// the process has run out of file descriptors, so no event descriptor can be
// opened. The message box must appear and no worker may start.
TEST_F(NotificationWindow, CreationFailureShowsTheMessageBoxAndStartsNoWorker) {
#ifdef LYX_SANITIZE_UNDEFINED
    // The undefined-behaviour sanitizer needs file descriptors of its own to
    // check object types and reports false errors once they are used up.
    GTEST_SKIP() << "runs in the builds without the undefined-behaviour sanitizer";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static std::string shown;
            LyxSetMessageBoxHandler(
                [](void *, const char *text, const char *, uint32_t) {
                    shown = text;
                    return 1;
                },
                nullptr);
            auto memory = std::make_shared<MemoryTransport>();
            bool started = true;
            std::thread opener([&] {
                rlimit limit{};
                ::getrlimit(RLIMIT_NOFILE, &limit);
                limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 64);
                ::setrlimit(RLIMIT_NOFILE, &limit);
                std::vector<int> fds;
                for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
                    fds.push_back(fd);
                started = driver().openLink(memory, false);
                for (int fd : fds)
                    ::close(fd);
            });
            opener.join();
            bool ok =
                !started && shown == "Cannot create callback handler window!" && !memory->running();
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

using BadInput = EngineTest;

TEST_F(BadInput, NullPointersAndNegativeLengthsAreHarmless) {
    INITIALISE(nullptr);
    EXPECT_EQ(d.callbackAddress.load(), 0);
    INITIALISEMULTI(nullptr, -4);
    EXPECT_EQ(d.instanceNumber.load(), -4);
    open();
    EXPECT_EQ(WRITEPACKET(1, nullptr, 4), 0);
    std::uint8_t payload[] = {0x03, 0x00};
    EXPECT_EQ(WRITEPACKET(1, payload, -1), 0);
    EXPECT_EQ(WRITEPACKET(1, payload, 0), 0);
    SENDBROADCAST(1, nullptr, 5);
    SENDBROADCAST(1, payload, -2);
    EXPECT_TRUE(transport->sent().empty());
    EXPECT_EQ(CREATECALLBACKWINDOW(nullptr), 0);
}

TEST_F(BadInput, NegativeInstanceNumberStillSelectsTheThreeArgumentForm) {
    useCallback3(-2);
    open();
    inject(frame(1, {0x03, 0x01}));
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 1; }));
    EXPECT_EQ(received[0].instance, -2);
}

TEST_F(BadInput, ClosingTwiceAndWithNothingOpenReturnsZero) {
    EXPECT_EQ(CLOSEPORT(), 0);
    open();
    EXPECT_EQ(CLOSEPORT(), 0);
    EXPECT_EQ(CLOSEPORT(), 0);
}
