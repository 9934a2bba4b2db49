// USB base stations on the virtual HID bus, served from this test process.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "engine_test_support.hpp"
#include "lyx/sim/vhid_device.hpp"

using namespace lyx::drv;
using namespace lyx::drv::testing;
using lyx::link::Bytes;
using lyx::sim::VirtualHidDevice;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

// Collects the output reports a virtual device receives.
struct Outputs {
    std::mutex lock;
    std::vector<Bytes> reports;
    auto handler() {
        return [this](std::span<const std::uint8_t> r) {
            std::lock_guard guard(lock);
            reports.emplace_back(r.begin(), r.end());
        };
    }
    std::vector<Bytes> get() {
        std::lock_guard guard(lock);
        return reports;
    }
};

lyx::vhid::Identity baseStation(const std::string &serial, std::uint16_t release = 0x0203,
                                std::uint16_t product = 0x0BA4) {
    return {0x1781, product, release, serial};
}

}  // namespace

class UsbLink : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        folder = fs::temp_directory_path() / ("lyx-vhid-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        ::setenv("LYX_VHID_DIR", folder.c_str(), 1);
    }
    void TearDown() override {
        EngineTest::TearDown();
        devices.clear();
        ::unsetenv("LYX_VHID_DIR");
        fs::remove_all(folder);
    }
    VirtualHidDevice &add(const std::string &name, lyx::vhid::Identity identity,
                          Outputs *outputs = nullptr) {
        devices.push_back(std::make_unique<VirtualHidDevice>(
            folder.string(), name, std::move(identity),
            outputs != nullptr ? VirtualHidDevice::OutputHandler(outputs->handler()) : nullptr));
        EXPECT_TRUE(devices.back()->plugIn());
        return *devices.back();
    }
    bool receivedFrame(const Bytes &f) {
        for (const auto &r : received) {
            if (r.frame == f) return true;
        }
        return false;
    }
    // Sends `f` from `device` until the callback has it (the first reports may
    // go out before the driver has connected).
    bool deliverFrom(VirtualHidDevice &device, const Bytes &f) {
        return pumpUntil([&] {
            if (receivedFrame(f)) return true;
            device.sendFrame(f);
            return false;
        });
    }

    fs::path folder;
    std::vector<std::unique_ptr<VirtualHidDevice>> devices;
};

TEST_F(UsbLink, TwoBaseStationsDeliverFromSlotsOneAndTwo) {
    useCallback3(1);
    auto &one = add("bs1", baseStation("1"));
    auto &two = add("bs2", baseStation("2"));
    ASSERT_EQ(OPENUSB(), 0);
    ASSERT_TRUE(one.waitForConnections(1, 2000));
    ASSERT_TRUE(two.waitForConnections(1, 2000));
    Bytes a = frame(1, {0x03, 0x00, 0x01, 0x00, 0x01, 0x0A});
    Bytes b = frame(2, {0x03, 0x00, 0x02, 0x00, 0x01, 0x0B});
    ASSERT_TRUE(deliverFrom(one, a));
    ASSERT_TRUE(deliverFrom(two, b));
    EXPECT_FLOAT_EQ(READREVISION(1), 2.3f);
    EXPECT_FLOAT_EQ(READREVISION(2), 2.3f);
}

TEST_F(UsbLink, UnknownSlotAndForeignProductAreIgnored) {
    useCallback2();
    auto &seven = add("bs7", baseStation("7"));
    auto &foreign = add("other", baseStation("3", 0x0203, 0x0BA5));
    auto &good = add("good", baseStation("3"));
    ASSERT_EQ(OPENUSB(), 0);
    EXPECT_TRUE(seven.waitForNoConnections(2000));
    EXPECT_TRUE(foreign.waitForNoConnections(2000));
    EXPECT_EQ(seven.sendFrame(frame(3, {0x03, 0x07})), 0);
    EXPECT_EQ(foreign.sendFrame(frame(3, {0x03, 0x08})), 0);
    ASSERT_TRUE(deliverFrom(good, frame(3, {0x03, 0x09})));
    EXPECT_FALSE(receivedFrame(frame(3, {0x03, 0x07})));
    EXPECT_FALSE(receivedFrame(frame(3, {0x03, 0x08})));
}

TEST_F(UsbLink, ReleaseNumberGivesTheRevision) {
    add("bs1", baseStation("1", 0x0102));
    add("bs2", baseStation("2", 0x0110));
    ASSERT_EQ(OPENUSB(), 0);
    EXPECT_FLOAT_EQ(READREVISION(1), 1.2f);
    EXPECT_FLOAT_EQ(READREVISION(2), 1.1f);
    EXPECT_EQ(READREVISION(3), 0.0f);
}

TEST_F(UsbLink, LongFrameGoesOutAsTwoReportsAndOnlyToWritableSlots) {
    Outputs two, four;
    add("bs2", baseStation("2"), &two);
    add("bs4", baseStation("4"), &four);
    ASSERT_EQ(OPENUSB(), 0);
    Bytes payload(65, 0x03);
    for (std::size_t i = 1; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(WRITEPACKET(2, payload.data(), static_cast<int32_t>(payload.size())), 0);
    EXPECT_EQ(WRITEPACKET(5, payload.data(), static_cast<int32_t>(payload.size())), 0);
    EXPECT_EQ(WRITEPACKET(4, payload.data(), static_cast<int32_t>(payload.size())), 0);
    Bytes frame70 = lyx::link::buildFrame(2, payload);
    ASSERT_TRUE(pumpUntil([&] { return two.get().size() >= 2; }));
    auto reports = two.get();
    ASSERT_EQ(reports.size(), 2u);
    ASSERT_EQ(reports[0].size(), 65u);
    EXPECT_EQ(reports[0][0], 0);
    EXPECT_TRUE(std::equal(frame70.begin(), frame70.begin() + 64, reports[0].begin() + 1));
    EXPECT_TRUE(std::equal(frame70.begin() + 64, frame70.end(), reports[1].begin() + 1));
    EXPECT_TRUE(
        std::all_of(reports[1].begin() + 7, reports[1].end(), [](auto b) { return b == 0; }));
    EXPECT_TRUE(four.get().empty());  // slot 4 takes no output
}

TEST_F(UsbLink, FrameOver128BytesIsNotSent) {
    Outputs one;
    add("bs1", baseStation("1"), &one);
    ASSERT_EQ(OPENUSB(), 0);
    Bytes tooLong(124, 0x03);
    EXPECT_EQ(WRITEPACKET(1, tooLong.data(), 124), 0);
    Bytes fits(123, 0x03);
    EXPECT_EQ(WRITEPACKET(1, fits.data(), 123), 0);
    ASSERT_TRUE(pumpUntil([&] { return one.get().size() >= 2; }));
    auto reports = one.get();
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][1], 123);
}

TEST_F(UsbLink, LaterDeviceWithTheSameSlotReplacesTheFirst) {
    useCallback2();
    auto &first = add("a-first", baseStation("1", 0x0101));
    auto &second = add("b-second", baseStation("1", 0x0202));
    ASSERT_EQ(OPENUSB(), 0);
    EXPECT_FLOAT_EQ(READREVISION(1), 2.2f);
    EXPECT_TRUE(first.waitForNoConnections(2000));
    ASSERT_TRUE(deliverFrom(second, frame(1, {0x03, 0x22})));
}

TEST_F(UsbLink, UnplugAndReplugDeliversAgainWithOnlyMessagePumping) {
    useCallback2();
    auto &station = add("bs1", baseStation("1"));
    ASSERT_EQ(OPENUSB(), 0);
    ASSERT_TRUE(deliverFrom(station, frame(1, {0x03, 0x01})));
    station.unplug();
    ASSERT_TRUE(station.plugIn());
    ASSERT_TRUE(deliverFrom(station, frame(1, {0x03, 0x02})));
}

TEST_F(UsbLink, ArrivingSecondStationJoinsWhileTheFirstKeepsItsConnection) {
    useCallback2();
    auto &one = add("bs1", baseStation("1"));
    ASSERT_EQ(OPENUSB(), 0);
    ASSERT_TRUE(deliverFrom(one, frame(1, {0x03, 0x01})));
    auto &two = add("bs2", baseStation("2"));
    ASSERT_TRUE(deliverFrom(two, frame(2, {0x03, 0x02})));
    // The first station's reader kept its one connection through the change.
    EXPECT_EQ(one.connections(), 1u);
    ASSERT_TRUE(deliverFrom(one, frame(1, {0x03, 0x03})));
}

TEST_F(UsbLink, CloseEndsTheReadersPromptlyAndASecondOpenWorks) {
    useCallback2();
    auto &station = add("bs1", baseStation("1"));
    ASSERT_EQ(OPENUSB(), 0);
    ASSERT_TRUE(deliverFrom(station, frame(1, {0x03, 0x01})));
    auto start = Clock::now();
    EXPECT_EQ(CLOSEPORT(), 0);
    EXPECT_LT(Clock::now() - start, 1000ms);
    EXPECT_TRUE(station.waitForNoConnections(2000));
    ASSERT_EQ(OPENUSB(), 0);
    ASSERT_TRUE(deliverFrom(station, frame(1, {0x03, 0x02})));
}

TEST_F(UsbLink, NoBaseStationStillOpensAndSendsNothing) {
    ASSERT_EQ(OPENUSB(), 0);
    std::uint8_t payload[] = {0x03, 0x01};
    EXPECT_EQ(WRITEPACKET(1, payload, 2), 0);
    EXPECT_EQ(READREVISION(1), 0.0f);
    EXPECT_EQ(CLOSEPORT(), 0);
}

TEST_F(UsbLink, ThreeStationsShareOneReaderAndOneGoneStopsNoneOfTheOthers) {
    useCallback2();
    std::array<VirtualHidDevice *, 3> stations{&add("bs1", baseStation("1")),
                                               &add("bs2", baseStation("2")),
                                               &add("bs3", baseStation("3"))};
    ASSERT_EQ(OPENUSB(), 0);
    for (std::uint8_t n = 1; n <= 3; ++n)
        ASSERT_TRUE(deliverFrom(*stations[n - 1], frame(n, {0x03, n, 0xFF})));
    const auto numbered = [](std::uint8_t n, int i) {
        return lyx::link::buildFrame(n, Bytes{0x03, n, static_cast<std::uint8_t>(i)});
    };
    // Each station's frames in its own order, none lost, all through the one reader.
    const auto sendAndCheck = [&](std::initializer_list<std::uint8_t> from, int count) {
        received.clear();
        for (int i = 0; i < count; ++i) {
            for (std::uint8_t n : from)
                stations[n - 1]->sendFrame(numbered(n, i));
        }
        ASSERT_TRUE(pumpUntil([&] { return received.size() >= from.size() * count; }));
        for (std::uint8_t n : from) {
            std::vector<Bytes> got;
            for (const auto &r : received) {
                for (int i = 0; i < count; ++i) {
                    if (r.frame == numbered(n, i)) got.push_back(r.frame);
                }
            }
            ASSERT_EQ(got.size(), static_cast<std::size_t>(count)) << "station " << int(n);
            for (int i = 0; i < count; ++i)
                EXPECT_EQ(got[i], numbered(n, i)) << "station " << int(n) << " frame " << i;
        }
    };
    sendAndCheck({1, 2, 3}, 100);
    stations[1]->unplug();
    ASSERT_TRUE(stations[1]->waitForNoConnections(2000));
    sendAndCheck({1, 3}, 100);
    ASSERT_TRUE(stations[1]->plugIn());
    ASSERT_TRUE(deliverFrom(*stations[1], frame(2, {0x03, 2, 0xFE})));
    sendAndCheck({1, 2, 3}, 50);
}
