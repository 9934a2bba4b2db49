// The control language run on a live simulator: what each command changes and
// what it answers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "lyx/sim/control.hpp"
#include "lyx/sim/simulator.hpp"

using namespace lyx::sim;
using namespace std::chrono_literals;

namespace {

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

class LiveInterpreter : public ::testing::Test {
  protected:
    std::string run(const std::string &line) { return control.execute(line).text; }

    Simulator sim;
    Interpreter control{&sim, ControlSettings{}};
};

TEST_F(LiveInterpreter, StationAndModuleCommandsChangeTheSimulation) {
    std::string station = run("station 2 serial channel=6 id=0x000102");
    EXPECT_TRUE(contains(station, "ok station 2 channel=6 id=258 plugged=yes pty=/dev/pts/"))
        << station;
    EXPECT_EQ(sim.station(2)->config.channel, 6);
    EXPECT_TRUE(contains(run("station 2 channel=7"), "channel=7"));
    EXPECT_EQ(sim.station(2)->config.channel, 7);

    EXPECT_EQ(run("module 0x10 tag=9 type=string value=\"hi there\" rate=0 channel=7"),
              "ok module 16 tag=9 channel=7 type=string wave=constant rate=0 state=awake "
              "battery=ok error=no packets=0");
    EXPECT_EQ(sim.module(16)->config.fixedValue, (Bytes{'h', 'i', ' ', 't', 'h', 'e', 'r', 'e'}));
    EXPECT_TRUE(contains(run("set 16 asleep=yes battery=low"), "state=asleep battery=low"));
    EXPECT_TRUE(sim.module(16)->asleep);
    EXPECT_TRUE(contains(run("set 16 config=yes asleep=no"), "state=configuration"));
    EXPECT_TRUE(contains(run("powerup 16"), "state=awake"));
    EXPECT_TRUE(contains(run("powerdown 16"), "state=off"));
    EXPECT_TRUE(contains(run("set 16 power=on"), "state=awake"));
    EXPECT_EQ(run("set 16 channel=0"), "error: channel=0: expected a channel 1 to 255");
    EXPECT_EQ(sim.module(16)->config.channel, 7);  // a refused change changes nothing

    EXPECT_EQ(run("param 16 20 type=uint16 value=70000"),
              "error: value=70000: expected a value of type uint16");
    EXPECT_EQ(run("param 16 20 type=uint16 value=7 access=ro"),
              "ok module 16 parameter 20 uint16 7");
    EXPECT_EQ(run("param 16 20 value=8"), "ok module 16 parameter 20 uint16 8");
    EXPECT_EQ(sim.module(16)->config.parameters.at(20).access, Parameter::Access::ReadOnly);
    EXPECT_EQ(run("param 16 3 radio type=float value=1.5 reply=16"),
              "ok module 16 radio parameter 3 float 1.5");
    EXPECT_EQ(sim.module(16)->config.radioParameters.at(3).forcedReply, 16);

    EXPECT_EQ(run("remove 16"), "ok removed 16");
    EXPECT_EQ(run("show module 16"), "error: no module 16");
}

TEST_F(LiveInterpreter, FaultsUnplugAndShow) {
    ASSERT_TRUE(contains(run("station 1 serial"), "ok station 1"));
    EXPECT_EQ(run("fault 1 corrupt=5% noise=4 reply-delay=250ms"),
              "ok station 1 corrupt=0.05 drop=0 noise=4 zeros=0 reply-delay=250ms reply-loss=0");
    EXPECT_EQ(run("fault 1 drop=0.5"),  // the other faults stay
              "ok station 1 corrupt=0.05 drop=0.5 noise=4 zeros=0 reply-delay=250ms reply-loss=0");
    EXPECT_EQ(sim.station(1)->config.faults.replyDelay, 250ms);
    EXPECT_TRUE(contains(run("unplug 1"), "plugged=no pty=-"));
    EXPECT_TRUE(contains(run("plug 1"), "plugged=yes pty=/dev/pts/"));
    EXPECT_EQ(run("unplug 4"), "error: no station 4");
    EXPECT_EQ(run("send 1 07 0a0B"), "ok station 1 sent 070A0B");
    EXPECT_EQ(sim.station(1)->framesSent, 1u);
    EXPECT_TRUE(contains(run("station 1 refuse=3,11"), "ok station 1"));
    EXPECT_EQ(sim.station(1)->config.refusedParameters, (std::vector<std::uint8_t>{3, 11}));
    ASSERT_EQ(run("module 5 rate=0").rfind("ok", 0), 0u);
    EXPECT_EQ(run("show"), "ok stations 1; modules 5");
    EXPECT_EQ(run("show modules"), "ok 5");
    EXPECT_TRUE(contains(run("show stats"), "ok ticks="));
    EXPECT_EQ(run("show everything"),
              "error: show: expected stations, modules, station <n>, module <id>, stats or replay");
    Reply quit = control.execute("quit");
    EXPECT_EQ(quit.action, Reply::Action::Quit);
    EXPECT_EQ(control.execute("watch data").action, Reply::Action::WatchData);
}

TEST_F(LiveInterpreter, ReplayMakesItsStationsAndShowsWhereItIs) {
    char path[] = "/tmp/lyx-replay-test-XXXXXX.csv";
    const int fd = ::mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::ofstream(path) << "time,ms,station,tag,value,status,rssi,cv,batt_low,error\n"
                           "2026-12-08T07:00:00.000Z,0,3,7,1,0,-60,100,0,0\n"
                           "2026-12-08T07:01:00.000Z,60000,3,7,2,0,-60,100,0,0\n";
    const std::string file = path;
    EXPECT_EQ(run("replay"), "error: replay: expected the files of a recording, or stop");
    EXPECT_EQ(run("replay " + file + " speed=-1"),
              "error: speed=-1: expected a factor up to 10000 (2: twice as fast), or 0 for as fast "
              "as the link takes the packets");
    EXPECT_EQ(run("replay " + file + " from=2min"),
              "error: from=2min: after the recording's last row (at 60.000s)");
    EXPECT_EQ(run("replay " + file + " from=10s to=20s"),
              "error: no row of the recording lies between from= and to=");
    EXPECT_EQ(run("replay /nonexistent/run.csv"),
              "error: cannot read /nonexistent/run.csv: No such file or directory");
    EXPECT_EQ(run("replay /nonexistent/run-*.csv"),
              "error: no file matches /nonexistent/run-*.csv");
    EXPECT_EQ(run("replay " + file + " pace=1"), "error: unknown option 'pace' for replay");
    EXPECT_TRUE(sim.stations().empty());  // a refused replay makes nothing

    const std::string started = run("replay " + file + " serial channel=5");
    EXPECT_TRUE(contains(started, "ok replay " + file +
                                      ": 2 rows of 1 module, 60.000s, speed 1; "
                                      "made station 3 channel=5 id=1 plugged=yes pty=/dev/pts/"))
        << started;
    EXPECT_TRUE(contains(started, "; modules (station/tag=ID) 3/7=196615")) << started;
    EXPECT_TRUE(contains(run("show module 196615"), "channel=5 type=int32"))
        << run("show module 196615");
    EXPECT_TRUE(contains(run("show module 196615"), "replayed-by-station=3"));
    const std::string shown = run("show replay");
    EXPECT_TRUE(contains(shown, "ok replay running position=")) << shown;
    EXPECT_TRUE(contains(shown, "end=60.000s")) << shown;
    EXPECT_TRUE(contains(shown, "files=" + file)) << shown;
    EXPECT_TRUE(contains(run("show"), "ok stations 3; modules 196615; replay at ")) << run("show");

    // Again: the station is there and is used as it is; the modules are new.
    const std::uint64_t mark = sim.lastSequence();
    const std::string again = run("replay " + file + " loop=yes");
    EXPECT_TRUE(contains(again, "60.000s, speed 1, looping; modules (station/tag=ID) 3/7=196615"))
        << again;
    EXPECT_TRUE(
        sim.waitFor([](const Event &e) { return e.kind == EventKind::ReplayEnded; }, 5s, mark));
    EXPECT_TRUE(contains(run("replay stop"), "ok replay stopped"));
    EXPECT_EQ(run("replay stop"), "error: no replay runs");
    const auto ended = sim.events(mark);
    EXPECT_TRUE(contains(describe(ended.back()), "replay-ended code=")) << describe(ended.back());
    EXPECT_TRUE(contains(describe(ended.back()), "stopped"));
    ::unlink(path);
}
