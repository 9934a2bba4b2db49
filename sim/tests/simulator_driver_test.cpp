// The simulator as the PC sees it: the real driver opens its base stations on
// the virtual HID bus and on pseudo-terminals and talks to them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "LyxDrv.h"
#include "driver_pc.hpp"
#include "lyx/sim/simulator.hpp"
#include "raw_clients.hpp"

using namespace lyx::sim;
using namespace lyx::sim::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::optional<Event> waitKind(const Simulator &sim, EventKind kind, std::uint64_t after = 0) {
    return sim.waitFor([kind](const Event &e) { return e.kind == kind; }, 5s, after);
}

Bytes payloadOf(const Bytes &frame) {
    return Bytes(frame.begin() + 3, frame.end() - 2);
}

}  // namespace

class SimulatorWithDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        // Short: socket paths have a length limit.
        static int run = 0;
        folder = fs::temp_directory_path() /
                 ("lyx-sim-" + std::to_string(::getpid()) + "-" + std::to_string(++run));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        pc.close();
        fs::remove_all(folder);
    }
    StationConfig usbStation(int number, std::uint8_t channel = 1) const {
        StationConfig c;
        c.number = number;
        c.channel = channel;
        c.usb = true;
        c.usbFolder = (folder / "vhid").string();
        return c;
    }
    StationConfig serialStation(int number, int com) const {
        StationConfig c;
        c.number = number;
        c.serialPort = true;
        c.portFolder = (folder / "ports").string();
        c.com = com;
        return c;
    }
    static ModuleConfig module(std::uint32_t id, std::uint16_t tag, std::uint8_t channel = 1,
                               double rate = 50) {
        ModuleConfig m;
        m.id = id;
        m.tag = tag;
        m.channel = channel;
        m.rate = rate;
        return m;
    }
    bool dataArrives(std::uint16_t tag) {
        return pc.waitFrame([tag](const Bytes &f) { return isData(f, tag); }).has_value();
    }

    fs::path folder;
    Simulator sim;
    DriverPc pc;  // closed before the simulator goes
};

TEST_F(SimulatorWithDriver, UsbStationDeliversPacketsAndShowsItsRevision) {
    StationConfig station = usbStation(1);
    station.release = 0x0102;
    ASSERT_TRUE(sim.addStation(station));
    ASSERT_TRUE(sim.addModule(module(100, 0x1234)));
    ASSERT_TRUE(pc.openUsb((folder / "vhid").string()));
    ASSERT_TRUE(dataArrives(0x1234));
    EXPECT_FLOAT_EQ(READREVISION(1), 1.2f);
    auto status = sim.station(1);
    EXPECT_EQ(status->usbSocket, (folder / "vhid" / "basestation-1.sock").string());
    EXPECT_GT(status->framesSent, 0u);
}

TEST_F(SimulatorWithDriver, ThreeUsbStationsDeliverFromTheirOwnSlots) {
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(sim.addStation(usbStation(n, static_cast<std::uint8_t>(n))));
        ASSERT_TRUE(
            sim.addModule(module(static_cast<std::uint32_t>(n), static_cast<std::uint16_t>(10 + n),
                                 static_cast<std::uint8_t>(n))));
    }
    ASSERT_TRUE(pc.openUsb((folder / "vhid").string()));
    for (int n = 1; n <= 3; ++n) {
        auto frame = pc.waitFrame(
            [n](const Bytes &f) { return isData(f, static_cast<std::uint16_t>(10 + n)); });
        ASSERT_TRUE(frame) << n;
        EXPECT_EQ((*frame)[2], n);
    }
    for (const auto &f : pc.frames()) {
        if (hasCode(f, 3)) {
            EXPECT_EQ(f[5], 10 + f[2]);  // each module only through its station
        }
    }
}

// Requests and replies are checked on the wire: the driver's raw send of a
// request code waits (for no time) for that request's reply, so a reply quicker
// than the return from WRITEPACKET is taken by it rather than delivered.

TEST_F(SimulatorWithDriver, SerialStationOnItsComEntryAnswersParameterReads) {
    StationConfig station = serialStation(1, 5);
    station.channel = 9;
    ASSERT_TRUE(sim.addStation(station));
    auto status = sim.station(1);
    EXPECT_EQ(status->comEntry, (folder / "ports" / "COM5").string());
    EXPECT_EQ(fs::read_symlink(status->comEntry), fs::path(status->ptyDevice));
    SerialClient port(status->comEntry);
    ASSERT_TRUE(port.ok());
    ASSERT_TRUE(port.send(lyx::link::buildFrame(1, Bytes{21, 11})));
    auto reply = port.frameWithCode(23, 5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, lyx::link::buildFrame(1, Bytes{0x17, 9}));
}

TEST_F(SimulatorWithDriver, RemoteReadReplyOnTheWireOverUsb) {
    ASSERT_TRUE(sim.addStation(usbStation(1)));
    ModuleConfig m = module(658188, 1, 1, 0);
    m.batteryLow = true;
    m.rssi = -101;
    m.linkQuality = 0xB0;
    m.parameters[50] = makeParameter(TypedValue{DataType::String, {'A', 'B'}});
    ASSERT_TRUE(sim.addModule(m));
    VhidClient usb(sim.station(1)->usbSocket);
    ASSERT_TRUE(usb.ok());
    EXPECT_EQ(usb.identity(), "vid=1781 pid=0ba4 release=0203 serial=1");
    ASSERT_TRUE(usb.send(lyx::link::buildFrame(1, Bytes{0x05, 0x0A, 0x0B, 0x0C, 0x32})));
    auto reply = usb.frameWithCode(7, 5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(payloadOf(*reply), (Bytes{0x47, 0x0A, 0x0B, 0x0C, 0x05, 0x41, 0x42, 0xC8, 0xB0}));
}

TEST_F(SimulatorWithDriver, SleepStopsAModuleAndWakeByIdAndBroadcastRestartIt) {
    ASSERT_TRUE(sim.addStation(usbStation(1)));
    ASSERT_TRUE(sim.addModule(module(0x0A0B0C, 7)));
    ASSERT_TRUE(pc.openUsb((folder / "vhid").string()));
    ASSERT_TRUE(dataArrives(7));

    for (const Bytes &wake :
         {Bytes{6, 0x0A, 0x0B, 0x0C, 50, 5}, Bytes{6, 0xFF, 0xFF, 0xFF, 50, 5}}) {
        std::uint64_t mark = sim.lastSequence();
        pc.send(1, {3, 0, 7, 0, 0xFF, 1});
        ASSERT_TRUE(waitKind(sim, EventKind::Asleep, mark));
        const auto sent = sim.module(0x0A0B0C)->packetsSent;
        pc.pumpUntil([] { return false; }, 200ms);  // a sleeping module sends nothing
        EXPECT_EQ(sim.module(0x0A0B0C)->packetsSent, sent);
        pc.clear();

        mark = sim.lastSequence();
        pc.send(1, wake);
        ASSERT_TRUE(waitKind(sim, EventKind::Woken, mark));
        EXPECT_FALSE(sim.module(0x0A0B0C)->asleep);
        ASSERT_TRUE(dataArrives(7));
    }
}

TEST_F(SimulatorWithDriver, PairingAnswersOnlyWhileAModuleIsPoweredUp) {
    ASSERT_TRUE(sim.addStation(usbStation(1)));
    ASSERT_TRUE(sim.addModule(module(66051, 42, 1, 0)));
    ASSERT_TRUE(pc.openUsb((folder / "vhid").string()));
    ASSERT_TRUE(sim.powerUp(66051));  // nobody asked yet

    std::uint64_t mark = sim.lastSequence();
    pc.send(1, {19, 0, 0, 0, 0, 1});
    ASSERT_TRUE(waitKind(sim, EventKind::BindRequested, mark));
    ASSERT_TRUE(waitKind(sim, EventKind::BindTimedOut, mark));
    EXPECT_FALSE(pc.waitFrame([](const Bytes &f) { return hasCode(f, 20); }, 100ms));

    mark = sim.lastSequence();
    pc.send(1, {19, 0, 0, 0, 0, 10});
    ASSERT_TRUE(waitKind(sim, EventKind::BindRequested, mark));
    ASSERT_TRUE(sim.powerUp(66051));
    auto reply = pc.waitFrame([](const Bytes &f) { return hasCode(f, 20); });
    ASSERT_TRUE(reply);
    EXPECT_EQ(payloadOf(*reply), (Bytes{0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}));
}

TEST_F(SimulatorWithDriver, UnpluggedUsbStationComesBackWithOnlyMessagePumping) {
    ASSERT_TRUE(sim.addStation(usbStation(1)));
    ASSERT_TRUE(sim.addModule(module(100, 7)));
    ASSERT_TRUE(pc.openUsb((folder / "vhid").string()));
    ASSERT_TRUE(dataArrives(7));
    ASSERT_TRUE(sim.unplug(1));
    EXPECT_FALSE(fs::exists(folder / "vhid" / "basestation-1.sock"));
    EXPECT_FALSE(sim.station(1)->pluggedIn);
    // A hand takes a while to plug a station in again; the driver sees the
    // removal meanwhile (it keeps a connection that an enumeration still finds,
    // so a replug within microseconds could leave it on the closed one).
    pc.pumpUntil([] { return false; }, 500ms);
    pc.clear();
    ASSERT_TRUE(sim.plugIn(1));
    ASSERT_TRUE(dataArrives(7));
}

TEST_F(SimulatorWithDriver, RepluggedSerialStationGetsANewTerminalBehindItsComEntry) {
    ASSERT_TRUE(sim.addStation(serialStation(1, 12)));
    ASSERT_TRUE(sim.addModule(module(100, 7)));
    ASSERT_TRUE(pc.openSerial((folder / "ports").string(), 12));
    ASSERT_TRUE(dataArrives(7));
    ASSERT_TRUE(sim.unplug(1));
    EXPECT_FALSE(fs::exists(folder / "ports" / "COM12"));
    pc.close();
    ASSERT_TRUE(sim.plugIn(1));
    EXPECT_TRUE(fs::is_symlink(folder / "ports" / "COM12"));
    pc.clear();
    ASSERT_TRUE(pc.openSerial((folder / "ports").string(), 12));
    ASSERT_TRUE(dataArrives(7));
}

TEST_F(SimulatorWithDriver, CorruptedDroppedAndNoisyFramesNeverReachTheDriverAsFrames) {
    StationConfig station = usbStation(1);
    station.faults.noise = 40;
    station.faults.zeros = 10;
    ASSERT_TRUE(sim.addStation(station));
    ASSERT_TRUE(pc.openUsb((folder / "vhid").string()));
    // Counters in the value tell the frames apart.
    ModuleConfig m = module(100, 7, 1, 100);
    m.type = DataType::UInt16;
    m.wave.shape = Waveform::Shape::Ramp;
    m.wave.amplitude = 60000;
    m.wave.period = 600;
    ASSERT_TRUE(sim.corruptNext(1, 3));
    ASSERT_TRUE(sim.dropNext(1, 2));
    ASSERT_TRUE(sim.addModule(m));
    ASSERT_TRUE(pc.pumpUntil([&] { return pc.frames().size() >= 20; }));
    std::size_t corrupted = 0;
    std::size_t dropped = 0;
    for (const auto &e : sim.events(0)) {
        corrupted += e.kind == EventKind::FrameCorrupted;
        dropped += e.kind == EventKind::FrameDropped;
    }
    EXPECT_EQ(corrupted, 3u);
    EXPECT_EQ(dropped, 2u);
    for (const auto &f : pc.frames()) {
        EXPECT_TRUE(lyx::link::isValidFrame(f));
        EXPECT_TRUE(isData(f, 7));
    }
    // The first five frames sent were spoiled; everything after them arrived.
    const auto sent = sim.module(100)->packetsSent;
    ASSERT_TRUE(pc.pumpUntil([&] { return pc.frames().size() + 5 >= sent; }));
}

TEST_F(SimulatorWithDriver, RecordFrameGoesOutInThreeReportsOverUsb) {
    ASSERT_TRUE(sim.addStation(usbStation(1)));
    VhidClient usb(sim.station(1)->usbSocket);
    ASSERT_TRUE(usb.ok());
    ModuleConfig m = module(100, 7, 1, 1);
    m.layout = Layout::Record;
    ASSERT_TRUE(sim.addModule(m));
    Bytes stream;
    for (int i = 0; i < 3; ++i) {
        auto report = usb.report(5s);
        ASSERT_TRUE(report);
        stream.insert(stream.end(), report->begin(), report->end());
    }
    Bytes frame(stream.begin(), stream.begin() + 129);
    EXPECT_TRUE(lyx::link::isValidFrame(frame));
    EXPECT_EQ(frame[0], 124);
    EXPECT_TRUE(std::all_of(stream.begin() + 129, stream.end(), [](auto b) { return b == 0; }));
}

// A station sending one report a millisecond, as a full-speed device does: four
// modules at 1 000 packets a second share the reports, and every packet
// reaches the driver in order.
TEST_F(SimulatorWithDriver, ReportEveryMillisecondPacksFramesAndLosesNone) {
    StationConfig station = usbStation(1);
    station.reportEvery = std::chrono::milliseconds(1);
    ASSERT_TRUE(sim.addStation(station));
    VhidClient usb(sim.station(1)->usbSocket);
    ASSERT_TRUE(usb.ok());
    ASSERT_TRUE(pc.openUsb((folder / "vhid").string()));
    for (std::uint32_t n = 0; n < 4; ++n)
        ASSERT_TRUE(sim.addModule(module(100 + n, static_cast<std::uint16_t>(10 + n), 1, 1000)));
    // The raw client sees packed reports: more than one frame in most of them.
    int reports = 0, frames = 0;
    const auto start = std::chrono::steady_clock::now();
    while (reports < 200) {
        auto report = usb.report(5s);
        ASSERT_TRUE(report);
        ++reports;
        for (std::size_t at = 0; at + 1 < report->size() && (*report)[at] != 0;) {
            frames += (*report)[at] == (*report)[at + 1] ? 1 : 0;
            at += (*report)[at] + 5u;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 0.15) << "about one report a millisecond, not four";
    EXPECT_GT(frames, reports * 2);
    for (std::uint32_t n = 0; n < 4; ++n)
        ASSERT_TRUE(sim.powerDown(100 + n));
    const std::uint64_t sent = sim.module(100)->packetsSent + sim.module(101)->packetsSent +
                               sim.module(102)->packetsSent + sim.module(103)->packetsSent;
    ASSERT_TRUE(pc.pumpUntil([&] { return pc.frames().size() >= sent; }));
    EXPECT_EQ(pc.frames().size(), sent);
}
