// The serial link on a real terminal line: a pseudo-terminal plays the base
// station, found through the port folder as COM5 and COM12.

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "engine_test_support.hpp"
#include "lyx/sim/pty_port.hpp"
#include "ports/port_names.hpp"
#include "ports/serial_transport.hpp"

using namespace lyx::drv;
using namespace lyx::drv::testing;
using lyx::link::Bytes;
using lyx::sim::PtyPort;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

class SerialLink : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        folder = fs::temp_directory_path() / ("lyx-ports-" + std::to_string(::getpid()));
        fs::create_directories(folder);
        ::setenv("LYX_PORT_DIR", folder.c_str(), 1);
        ASSERT_TRUE(com5.ok());
        ASSERT_TRUE(com5.linkAs(folder, 5));
        ASSERT_TRUE(com12.ok());
        ASSERT_TRUE(com12.linkAs(folder, 12));
    }
    void TearDown() override {
        EngineTest::TearDown();
        ::unsetenv("LYX_PORT_DIR");
        fs::remove_all(folder);
    }

    fs::path folder;
    PtyPort com5;
    PtyPort com12;
};

TEST_F(SerialLink, PortNumbersAreResolvedThroughThePortFolder) {
    EXPECT_EQ(serialDevicePath(5), (folder / "COM5").string());
    EXPECT_EQ(serialDevicePath(12), (folder / "COM12").string());
    EXPECT_EQ(serialDevicePath(3), "/dev/ttyS2");
    EXPECT_EQ(serialDevicePath(0), "");
    EXPECT_EQ(serialDevicePath(-4), "");
}

TEST_F(SerialLink, OpensCom12AndWritePacketPutsTheExactFrameOnTheWireAtOnce) {
    ASSERT_EQ(OPENPORT(12, 9600), 0);
    std::uint8_t payload[] = {0x03, 0x00, 0x00, 0x07};
    auto start = Clock::now();
    EXPECT_EQ(WRITEPACKET(1, payload, 4), 0);
    EXPECT_LT(Clock::now() - start, 300ms);  // no reply awaited: far below any time-out
    Bytes wire = com12.read(9, 2000);
    ASSERT_EQ(wire.size(), 9u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 7),
              (Bytes{0x04, 0x04, 0x01, 0x03, 0x00, 0x00, 0x07}));
    EXPECT_TRUE(lyx::link::isValidFrame(wire));
    EXPECT_TRUE(com5.read(1, 50).empty());
}

TEST_F(SerialLink, BroadcastWithoutBytesPutsTheSixKnownBytesOnCom5) {
    ASSERT_EQ(OPENPORT(5, 115200), 0);
    SENDBROADCAST(1, nullptr, 0);
    EXPECT_EQ(com5.read(6, 2000), (Bytes{0x01, 0x01, 0x01, 0x00, 0x51, 0x88}));
}

TEST_F(SerialLink, FramesFromTheBaseStationArriveAtTheCallback) {
    useCallback3(1);
    ASSERT_EQ(OPENPORT(5, 115200), 0);
    Bytes a = frame(1, {0x03, 0x04, 0xD2, 0x00, 0x01, 0x05});
    Bytes b = frame(1, {0x03, 0x00, 0x07, 0x00, 0x02, 0x07, 0x00});
    Bytes stream = a;
    stream.insert(stream.end(), {0x00, 0x00, 0x13});  // idle noise between frames
    stream.insert(stream.end(), b.begin(), b.end());
    ASSERT_TRUE(com5.write(stream));
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 2; }));
    EXPECT_EQ(received[0].frame, a);
    EXPECT_EQ(received[1].frame, b);
}

TEST_F(SerialLink, FramesWrittenAtIntervalsAllArrive) {
    useCallback2();
    ASSERT_EQ(OPENPORT(5, 115200), 0);
    for (std::uint8_t i = 0; i < 20; ++i) {
        Bytes f = frame(1, {0x03, i});
        ASSERT_TRUE(com5.write(f));
        // Each frame alone, after the reader has emptied the line.
        ASSERT_TRUE(pumpUntil([&] { return EngineTest::received.size() == i + 1u; })) << int(i);
        EXPECT_EQ(received.back().frame, f);
    }
}

TEST_F(SerialLink, InputWaitingBeforeTheOpenIsDiscarded) {
    useCallback2();
    ASSERT_TRUE(com5.write(frame(1, {0x03, 0x01})));
    ASSERT_EQ(OPENPORT(5, 115200), 0);
    Bytes fresh = frame(1, {0x03, 0x02});
    ASSERT_TRUE(com5.write(fresh));
    ASSERT_TRUE(pumpUntil([] { return !EngineTest::received.empty(); }));
    ASSERT_TRUE(waitIdle());
    LyxPumpMessages();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].frame, fresh);
}

TEST_F(SerialLink, ExchangeAnsweredAfter100MsReturnsThenWithItsReplyCode) {
    ASSERT_EQ(OPENPORT(5, 115200), 0);
    std::jthread base([&] {
        Bytes request = com5.read(7, 2000);  // 05 05 01 15 0B + CRC
        std::this_thread::sleep_for(100ms);
        com5.write(frame(1, {0x17, 0x05}));
    });
    auto start = Clock::now();
    Bytes reply = d.SENDCOMMAND(1, Bytes{21, 11}, 500);
    auto elapsed = Clock::now() - start;
    EXPECT_EQ(reply, frame(1, {0x17, 0x05}));
    EXPECT_EQ(d.lastReplyCode, 23);
    EXPECT_GE(elapsed, 100ms);
    EXPECT_LT(elapsed, 450ms);
}

TEST_F(SerialLink, UnansweredExchangeReturnsEmptyAfterItsTimeOut) {
    ASSERT_EQ(OPENPORT(5, 115200), 0);
    auto start = Clock::now();
    EXPECT_TRUE(d.SENDCOMMAND(1, Bytes{21, 11}, 300).empty());
    EXPECT_GE(Clock::now() - start, 300ms);
    EXPECT_EQ(com5.read(7, 1000).size(), 7u);  // the request did go out
}

TEST_F(SerialLink, ReplyCarryingAnotherDeviceIdIsIgnored) {
    ASSERT_EQ(OPENPORT(5, 115200), 0);
    std::jthread base([&] {
        com5.read(10, 2000);
        com5.write(frame(1, {0x07, 0x00, 0x03, 0xE9, 0x05}));
    });
    EXPECT_TRUE(d.SENDCOMMAND(1, Bytes{5, 0x00, 0x03, 0xE8, 50}, 300).empty());
    EXPECT_EQ(d.lastReplyCode, 7);
}

TEST_F(SerialLink, MissingDeviceOrBadPortNumberGivesMinusTwo) {
    fs::create_symlink("/dev/lyx-no-such-device", folder / "COM7");
    EXPECT_EQ(OPENPORT(7, 9600), -2);
    EXPECT_EQ(OPENPORT(0, 9600), -2);
    EXPECT_EQ(OPENPORT(-3, 9600), -2);
}

TEST_F(SerialLink, BusyDeviceGivesMinusTwo) {
    int other = ::open(com5.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(OPENPORT(5, 9600), -2);
    ::close(other);
    EXPECT_EQ(OPENPORT(5, 9600), 0);
}

TEST_F(SerialLink, RefusedSettingsGiveMinusOneAndLeaveNothingOpen) {
    EXPECT_EQ(OPENPORT(5, 0), -1);
    EXPECT_EQ(OPENPORT(5, -9600), -1);
    fs::create_symlink("/dev/null", folder / "COM9");  // not a serial line at all
    EXPECT_EQ(OPENPORT(9, 9600), -1);
    // Nothing is left open: another opener gets the port exclusively.
    int other = ::open(com5.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    EXPECT_EQ(CLOSEPORT(), 0);
}

TEST_F(SerialLink, StandardRatesAndOtherRatesAreAccepted) {
    for (std::int32_t rate :
         {1200, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600, 250000, 31250}) {
        EXPECT_EQ(OPENPORT(5, rate), 0) << rate;
    }
    EXPECT_EQ(CLOSEPORT(), 0);
}

TEST_F(SerialLink, ReopeningClosesThePreviousPortFirst) {
    useCallback2();
    ASSERT_EQ(OPENPORT(5, 9600), 0);
    ASSERT_EQ(OPENPORT(12, 9600), 0);
    // COM5 is free again.
    int other = ::open(com5.devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    Bytes f = frame(1, {0x03, 0x0C});
    ASSERT_TRUE(com12.write(f));
    ASSERT_TRUE(pumpUntil([] { return EngineTest::received.size() == 1; }));
    EXPECT_EQ(received[0].frame, f);
    EXPECT_EQ(CLOSEPORT(), 0);
    EXPECT_EQ(CLOSEPORT(), 0);
}

// A station unplugged (its pseudo-terminal closed, its entry removed) and
// plugged back in (a new terminal linked as COM7) is reported each time and
// read again at the same speed without any call; what it sent before the
// reopening is kept. One that comes back busy is opened once it is free.
TEST_F(SerialLink, AHungUpLineIsReportedAndReopenedWhenItsEntryComesBack) {
    std::mutex lock;  // before the transport: its reader uses these until it stops
    std::condition_variable changed;
    Bytes got;
    int changes = 0;
    auto station = std::make_unique<PtyPort>();
    ASSERT_TRUE(station->linkAs(folder, 7));
    auto opened = SerialTransport::open(serialDevicePath(7), 9600);
    ASSERT_EQ(opened.code, SerialTransport::kOpened);
    opened.transport->start(
        [&](std::span<const std::uint8_t> bytes) {
            std::lock_guard guard(lock);
            got.insert(got.end(), bytes.begin(), bytes.end());
            changed.notify_all();
        },
        [&] {
            std::lock_guard guard(lock);
            ++changes;
            changed.notify_all();
        });
    const auto waitFor = [&](auto condition, std::chrono::milliseconds limit = 5s) {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, limit, condition);
    };
    const auto unplug = [&] {
        fs::remove(folder / "COM7");
        station.reset();
    };
    SerialTransport &transport = *opened.transport;
    EXPECT_EQ(transport.stations(), 1u << 1);

    unplug();
    ASSERT_TRUE(waitFor([&] { return changes == 1; }));
    EXPECT_EQ(transport.stations(), 0u);
    std::uint8_t probe[] = {0x01};
    EXPECT_FALSE(transport.send(1, probe));

    station = std::make_unique<PtyPort>();
    const Bytes early = frame(1, {0x03, 0x01});
    ASSERT_TRUE(station->write(early));
    ASSERT_TRUE(station->linkAs(folder, 7));
    ASSERT_TRUE(waitFor([&] { return changes == 2 && got == early; }));
    EXPECT_EQ(transport.stations(), 1u << 1);
    termios line{};
    int look = ::open(station->devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (look >= 0) {  // as root; anyone else is kept out by the exclusive open
        ASSERT_EQ(::tcgetattr(look, &line), 0);
        EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B9600));
        ::close(look);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
    const Bytes later = frame(1, {0x03, 0x02});
    ASSERT_TRUE(station->write(later));
    ASSERT_TRUE(waitFor([&] { return got.size() == early.size() + later.size(); }));
    EXPECT_TRUE(transport.send(1, probe));
    EXPECT_EQ(station->read(1, 2000), Bytes{0x01});

    unplug();
    ASSERT_TRUE(waitFor([&] { return changes == 3; }));
    station = std::make_unique<PtyPort>();
    int holder = ::open(station->devicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ASSERT_TRUE(station->linkAs(folder, 7));
    EXPECT_FALSE(waitFor([&] { return changes > 3; }, 400ms)) << "opened while busy";
    ::close(holder);
    ASSERT_TRUE(waitFor([&] { return changes == 4; }, SerialTransport::kLongestRetry + 2s));
    EXPECT_EQ(transport.stations(), 1u << 1);
    EXPECT_TRUE(transport.stop());
    EXPECT_EQ(transport.stations(), 0u);
}
