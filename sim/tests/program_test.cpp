// lyx-basestation-sim as a product: started as its own process, set up by its
// command line and a scenario file, driven through its standard input and its
// socket, with the real driver as the PC side.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "LyxDrv.h"
#include "driver_pc.hpp"
#include "program.hpp"

using namespace lyx::sim::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

class SimulatorProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        static int run = 0;
        folder = fs::temp_directory_path() /
                 ("lyx-simp-" + std::to_string(::getpid()) + "-" + std::to_string(++run));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        pc.close();
        fs::remove_all(folder);
    }
    std::string file(const std::string &name, const std::string &text) const {
        std::ofstream(folder / name) << text;
        return (folder / name).string();
    }
    std::string vhid() const { return (folder / "vhid").string(); }
    std::string ports() const { return (folder / "ports").string(); }
    std::vector<std::string> environment() const {
        return {"LYX_VHID_DIR=" + vhid(), "LYX_PORT_DIR=" + ports()};
    }

    fs::path folder;
    DriverPc pc;
};

TEST_F(SimulatorProgram, ScenarioSetsUpStationsAndModulesAndRunsItsTimedSteps) {
    std::string scenario = file("demo.scn",
                                "# one USB station, one module\n"
                                "station 1 usb channel=4\n"
                                "module 0x0A0B0C tag=1234 channel=4 type=uint16 value=500 "
                                "rate=50\n"
                                "wait 300ms\n"
                                "set 0x0A0B0C battery=low\n"
                                "wait 300ms\n"
                                "powerdown 0x0A0B0C\n");
    Program sim({scenario}, environment());
    ASSERT_TRUE(sim.started());
    auto station = sim.lineStarting("station 1 ");
    ASSERT_TRUE(station) << sim.errors();
    EXPECT_NE(station->find("usb=" + vhid() + "/basestation-1.sock"), std::string::npos);
    EXPECT_TRUE(sim.lineStarting("module 658188 tag=1234 channel=4 type=uint16"));
    ASSERT_TRUE(sim.lineStarting("ready"));

    ASSERT_TRUE(pc.openUsb(vhid()));
    auto first = pc.waitFrame([](const Bytes &f) { return isData(f, 1234); });
    ASSERT_TRUE(first);
    EXPECT_EQ(Bytes(first->begin() + 7, first->begin() + 10), (Bytes{0x02, 0x01, 0xF4}));
    // The timed step sets the battery-low bit of the packet type.
    EXPECT_TRUE(pc.waitFrame([](const Bytes &f) { return isData(f, 1234) && (f[3] & 0x40); }));
    EXPECT_TRUE(sim.lineStarting("event powered-down module=658188"));

    ::kill(sim.pid(), SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_FALSE(fs::exists(vhid() + "/basestation-1.sock"));
}

TEST_F(SimulatorProgram, RuntimeControlOverTheSocketAndStandardInput) {
    const std::string socket = (folder / "control").string();
    Program sim({"--station", "1 serial com=5", "--socket", socket, "--quiet"}, environment());
    auto station = sim.lineStarting("station 1 ");
    ASSERT_TRUE(station) << sim.errors();
    EXPECT_NE(station->find("com=" + ports() + "/COM5"), std::string::npos);
    ASSERT_TRUE(sim.lineStarting("ready"));

    SocketClient control(socket);
    ASSERT_TRUE(control.ok());
    EXPECT_EQ(control.command("watch on"), "ok watch on");
    auto added = control.command("module 7 tag=7 rate=20");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->rfind("ok module 7 tag=7 channel=1 type=float", 0), 0u) << *added;
    EXPECT_EQ(control.command("module 7"), "error: module 7 exists (change it with set)");
    EXPECT_EQ(control.command("set 7 rate=fast"),
              "error: rate=fast: expected packets per second, 0 to 10000");

    ASSERT_TRUE(pc.openSerial(ports(), 5));
    ASSERT_TRUE(pc.waitFrame([](const Bytes &f) { return isData(f, 7); }));

    auto unplugged = control.command("unplug 1");
    ASSERT_TRUE(unplugged);
    EXPECT_NE(unplugged->find("plugged=no"), std::string::npos);
    EXPECT_TRUE(control.lineStarting("event unplugged station=1"));
    EXPECT_FALSE(fs::exists(ports() + "/COM5"));
    pc.close();
    auto plugged = control.command("plug 1");
    ASSERT_TRUE(plugged);
    EXPECT_NE(plugged->find("plugged=yes"), std::string::npos);
    pc.clear();
    ASSERT_TRUE(pc.openSerial(ports(), 5));
    ASSERT_TRUE(pc.waitFrame([](const Bytes &f) { return isData(f, 7); }));

    // Standard input takes the same commands; quit ends the program.
    ASSERT_TRUE(sim.send("show module 7"));
    auto shown = sim.lineStarting("ok module 7 ");
    ASSERT_TRUE(shown);
    EXPECT_NE(shown->find("state=awake"), std::string::npos);
    ASSERT_TRUE(sim.send("quit"));
    EXPECT_TRUE(sim.lineStarting("ok bye"));
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_FALSE(fs::exists(ports() + "/COM5"));
}

TEST_F(SimulatorProgram, PairingIsAnsweredWhenTheLineProtocolPowersAModuleUp) {
    Program sim({"--station", "1 usb", "--module", "66051 tag=42 rate=0"}, environment());
    ASSERT_TRUE(sim.lineStarting("ready")) << sim.errors();
    ASSERT_TRUE(pc.openUsb(vhid()));
    pc.send(1, {19, 0, 0, 0, 0, 10});
    ASSERT_TRUE(sim.lineStarting("event bind-requested station=1 code=10"));
    ASSERT_TRUE(sim.send("powerup 66051"));
    auto reply = pc.waitFrame([](const Bytes &f) { return hasCode(f, 20); });
    ASSERT_TRUE(reply);
    EXPECT_EQ(Bytes(reply->begin() + 3, reply->end() - 2),
              (Bytes{0x14, 0x01, 0x02, 0x03, 0x00, 0x2A}));
    EXPECT_TRUE(sim.lineStarting("event paired station=1 module=66051"));
}

TEST_F(SimulatorProgram, DurationEndsTheRunAndTheFilesGo) {
    Program sim(
        {"--station", "1 usb", "--station", "2 serial com=3", "--duration", "300ms", "--no-stdin"},
        environment());
    ASSERT_TRUE(sim.lineStarting("ready")) << sim.errors();
    EXPECT_TRUE(fs::exists(vhid() + "/basestation-1.sock"));
    EXPECT_TRUE(fs::is_symlink(ports() + "/COM3"));
    EXPECT_EQ(sim.wait(), 0);
    EXPECT_FALSE(fs::exists(vhid() + "/basestation-1.sock"));
    EXPECT_FALSE(fs::exists(ports() + "/COM3"));
}

TEST_F(SimulatorProgram, BadScenarioFilesNameTheLineAndWhatIsWrong) {
    const std::pair<const char *, const char *> cases[] = {
        {"station 1\nmodule 5 rate=fast\n", ":2: rate=fast: expected packets per second"},
        {"station 1\n\nwait soon\n", ":3: wait: expected one time such as 500ms or 2s"},
        {"module 5\nwait 1s\nset 6 battery=low\n", ":3: no module 6"},
        {"station 1\nmodule 5 text=\"open\n", ":2: unterminated quote"},
        {"station 1 usb\nparam 5 20 type=float\n", ":2: no module 5"},
        {"launch rockets\n", ":1: unknown command 'launch' (try help)"},
    };
    int n = 0;
    for (const auto &[text, message] : cases) {
        std::string scenario = file("bad" + std::to_string(++n) + ".scn", text);
        Program sim({scenario}, environment());
        EXPECT_EQ(sim.wait(), 2) << text;
        EXPECT_NE(sim.errors().find(scenario + message), std::string::npos) << sim.errors();
        EXPECT_FALSE(fs::exists(vhid())) << "nothing was started for " << text;
    }
}

TEST_F(SimulatorProgram, BadCommandLinesAreRefusedWithTheReason) {
    const std::pair<std::vector<std::string>, const char *> cases[] = {
        {{"--frob"}, "unknown option --frob"},
        {{"--module", "5 rate=x"}, "--module 5 rate=x: rate=x: expected packets per second"},
        {{"--station"}, "--station needs a value"},
        {{(fs::temp_directory_path() / "no-such-scenario.scn").string()}, "cannot read"},
    };
    for (const auto &[arguments, message] : cases) {
        Program sim(arguments, environment());
        EXPECT_EQ(sim.wait(), 2);
        EXPECT_NE(sim.errors().find(message), std::string::npos) << sim.errors();
    }
    Program help({"--help"});
    EXPECT_EQ(help.wait(), 0);
    EXPECT_TRUE(help.lineStarting("Usage: lyx-basestation-sim"));
}

TEST_F(SimulatorProgram, StationThatCannotBeServedStopsTheStartWithAnError) {
    Program sim({"--station", "1 usb vhid-dir=/proc/no-such-folder"}, environment());
    EXPECT_EQ(sim.wait(), 1);
    EXPECT_NE(sim.errors().find("cannot serve /proc/no-such-folder/basestation-1.sock"),
              std::string::npos)
        << sim.errors();
}

TEST_F(SimulatorProgram, ShippedScenariosPassTheCheck) {
    int checked = 0;
    for (const auto &entry : fs::directory_iterator(LYX_SIM_SCENARIOS)) {
        Program sim({"--check", entry.path().string()}, environment());
        EXPECT_EQ(sim.wait(), 0) << entry.path() << ": " << sim.errors();
        EXPECT_TRUE(sim.lineStarting("ok: 0 commands"));
        ++checked;
    }
    EXPECT_GE(checked, 2);
}
