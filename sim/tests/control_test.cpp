// The control language: words and values, commands checked without a
// simulator, scenario files and the program's command line.

#include <gtest/gtest.h>

#include "command_syntax.hpp"
#include "lyx/sim/control.hpp"
#include "options.hpp"

using namespace lyx::sim;
using namespace std::chrono_literals;

TEST(Syntax, LinesSplitIntoWordsAndOptionsWithQuotesAndComments) {
    syntax::Line line;
    ASSERT_TRUE(syntax::tokenize(
        R"(module 5 text="two words" bytes=0A0B note="k=v" # comment "here)", line));
    EXPECT_EQ(line.words, (std::vector<std::string>{"module", "5"}));
    ASSERT_EQ(line.options.size(), 3u);
    EXPECT_EQ(line.options[0], (std::pair<std::string, std::string>{"text", "two words"}));
    EXPECT_EQ(line.options[2], (std::pair<std::string, std::string>{"note", "k=v"}));
    ASSERT_TRUE(syntax::tokenize(R"(set 1 text="a\"b\\c\x41\n")", line));
    EXPECT_EQ(line.options[0].second, "a\"b\\cA\n");
    ASSERT_TRUE(syntax::tokenize("   # only a comment", line));
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(syntax::tokenize(R"(module 5 text="open)", line));
    EXPECT_FALSE(syntax::tokenize(R"(module 5 text="\q")", line));
    EXPECT_FALSE(syntax::tokenize(R"(module 5 text="\x4")", line));
    EXPECT_FALSE(syntax::tokenize("module 5 =3", line));
}

TEST(Syntax, TimesProbabilitiesAndIds) {
    std::chrono::milliseconds t{};
    ASSERT_TRUE(syntax::parseDuration("500ms", t));
    EXPECT_EQ(t, 500ms);
    ASSERT_TRUE(syntax::parseDuration("1.5", t));
    EXPECT_EQ(t, 1500ms);
    ASSERT_TRUE(syntax::parseDuration("2min", t));
    EXPECT_EQ(t, 120s);
    EXPECT_FALSE(syntax::parseDuration("-1s", t));
    EXPECT_FALSE(syntax::parseDuration("soon", t));
    double p = 0;
    ASSERT_TRUE(syntax::parseProbability("5%", p));
    EXPECT_DOUBLE_EQ(p, 0.05);
    EXPECT_FALSE(syntax::parseProbability("1.5", p));
    std::uint32_t id = 0;
    ASSERT_TRUE(syntax::parseModuleId("0x0A0B0C", id));
    EXPECT_EQ(id, 658188u);
    EXPECT_FALSE(syntax::parseModuleId("0", id));
    EXPECT_FALSE(syntax::parseModuleId("0xFFFFFF", id));
    EXPECT_FALSE(syntax::parseModuleId("12abc", id));
    StationConfig s;
    ASSERT_TRUE(syntax::applyStationOption(s, "release", "1.10"));
    EXPECT_EQ(s.release, 0x0110);
    ASSERT_TRUE(syntax::applyStationOption(s, "release", "0203"));
    EXPECT_EQ(s.release, 0x0203);
    EXPECT_FALSE(syntax::applyStationOption(s, "release", "1.100"));
}

TEST(Syntax, ModuleOptionsSetTheirFields) {
    ModuleConfig m;
    std::vector<std::pair<std::string, std::string>> options{
        {"value", "hello"},    {"type", "string"}, {"rssi", "-90"}, {"battery", "low"},
        {"steps", "1,2.5,-3"}, {"pause", "250ms"}, {"channel", "7"}};
    syntax::sortTypeFirst(options);
    for (const auto &[key, value] : options)
        ASSERT_TRUE(syntax::applyModuleOption(m, key, value)) << key;
    EXPECT_EQ(m.type, DataType::String);
    EXPECT_EQ(m.fixedValue, (Bytes{'h', 'e', 'l', 'l', 'o'}));
    EXPECT_EQ(m.rssi, -90);
    EXPECT_TRUE(m.batteryLow);
    EXPECT_EQ(m.wave.shape, Waveform::Shape::Steps);
    EXPECT_EQ(m.wave.steps, (std::vector<double>{1, 2.5, -3}));
    EXPECT_EQ(m.pauseTime, 250ms);
    EXPECT_EQ(m.channel, 7);
    ASSERT_TRUE(syntax::applyModuleOption(m, "type", "store-forward"));
    EXPECT_EQ(m.layout, Layout::StoreForward);
    EXPECT_FALSE(syntax::applyModuleOption(m, "value", "3"));
    EXPECT_FALSE(syntax::applyModuleOption(m, "channel", "0"));
    EXPECT_FALSE(syntax::applyModuleOption(m, "quality", "256"));
    EXPECT_FALSE(syntax::applyModuleOption(m, "tag", "65535"));
    auto unknown = syntax::applyModuleOption(m, "colour", "red");
    EXPECT_EQ(unknown.error(), "unknown option 'colour' for a module");
}

TEST(Checker, CommandsAreCheckedAgainstWhatEarlierLinesDefined) {
    Interpreter checker(nullptr, ControlSettings{"/tmp/vhid", "/tmp/ports", {}});
    struct Case {
        const char *line;
        const char *error;  // nullptr: accepted
    };
    const Case cases[] = {
        {"station 1 usb channel=3", nullptr},
        {"station 1 channel=4", nullptr},
        {"station 1 serial", "station 1 exists: only channel=, id= and refuse= can change"},
        {"station 1 refuse=11,3", nullptr},
        {"station 1 refuse=11,x",
         "refuse=11,x: expected parameter numbers separated by commas, or none"},
        {"send 1 07 0A0B 0C", nullptr},
        {"send 1 07 0", "send: expected the payload as 1 to 255 hexadecimal bytes"},
        {"send 2 07", "no station 2"},
        {"station 2 wireless", "station: unexpected 'wireless' (usb or serial)"},
        {"station 300", "expected a station number 0 to 255, not '300'"},
        {"module 5 type=string", nullptr},
        {"module 5", "module 5 exists (change it with set)"},
        {"set 5 value=hello", nullptr},  // text, since module 5 carries strings
        {"set 6 rate=1", "no module 6"},
        {"set 5 asleep=maybe", "asleep=maybe: expected yes or no"},
        {"param 5 20 value=1", "param: a new parameter needs type="},
        {"param 5 20 type=uint8 value=300", "value=300: expected a value of type uint8"},
        {"param 5 20 type=uint8 value=30 max=10 min=20", "min is above max"},
        {"param 5 20 radio type=float value=2.5 reply=16", nullptr},
        {"param 5 21 type=uint8 reply=11", "reply=11: expected a reply code 7 to 10 or 13 to 16"},
        {"fault 1 drop=150%", "drop=150%: expected a probability from 0 to 1, or 0% to 100%"},
        {"fault 3 drop=1", "no station 3"},
        {"fault 1 drop-next=2 reply-delay=700ms", nullptr},
        {"powerup 5", nullptr},
        {"remove 5", nullptr},
        {"powerup 5", "no module 5"},
        {"unplug 1", nullptr},
        {"watch sometimes", "watch: expected on, off or data"},
        {"wait 1s", "wait: only in scenario files"},
        {"frobnicate", "unknown command 'frobnicate' (try help)"},
        {"tag=5", "a line starts with a command, not an option"},
    };
    for (const auto &c : cases) {
        Reply r = checker.execute(c.line);
        if (c.error == nullptr) {
            EXPECT_TRUE(r.ok) << c.line << ": " << r.text;
        } else {
            EXPECT_EQ(r.text, std::string("error: ") + c.error) << c.line;
        }
    }
}

TEST(Checker, StationWithoutABusFolderOrPortFolderIsRefused) {
    Interpreter checker(nullptr, ControlSettings{});
    EXPECT_TRUE(checker.execute("station 1").ok);  // a pseudo-terminal needs no folder
    EXPECT_EQ(checker.execute("station 2 usb").text,
              "error: no folder for the virtual HID bus (set LYX_VHID_DIR)");
    EXPECT_EQ(checker.execute("station 3 com=4").text, "error: no port folder for COM4");
    EXPECT_TRUE(checker.execute("station 4 com=4 port-dir=/tmp/p").ok);
}

TEST(ScenarioFile, WaitsTimeTheStepsAndEveryLineIsChecked) {
    Interpreter checker(nullptr, ControlSettings{"/tmp/vhid", {}, {}});
    Scenario s = parseScenario(
        "# three modules\n"
        "station 1\n"
        "\n"
        "module 1 rate=5\n"
        "wait 1.5s\n"
        "powerup 1\n"
        "wait 500ms\n"
        "wait 1s   # twice\n"
        "set 1 battery=low\n"
        "quit",
        checker);
    ASSERT_TRUE(s.ok()) << s.errorLine << ": " << s.error;
    ASSERT_EQ(s.steps.size(), 5u);
    EXPECT_EQ(s.steps[0].line, 2);
    EXPECT_EQ(s.steps[1].at, 0ms);
    EXPECT_EQ(s.steps[2].at, 1500ms);
    EXPECT_EQ(s.steps[2].line, 6);
    EXPECT_EQ(s.steps[3].at, 3000ms);
    EXPECT_EQ(s.steps[4].command, "quit");
}

TEST(ScenarioFile, FirstFaultGivesItsLineAndReason) {
    struct Case {
        const char *text;
        int line;
        const char *error;
    };
    const Case cases[] = {
        {"station 1\nmodule 2 rate=fast\n", 2,
         "rate=fast: expected packets per second, 0 to 10000"},
        {"station 1\n\n# x\nwait\n", 4, "wait: expected one time such as 500ms or 2s"},
        {"wait 2 s\n", 1, "wait: expected one time such as 500ms or 2s"},
        {"module 3\nwait 10s\nset 4 rate=1\n", 3, "no module 4"},
        {"module 3 text=\"abc\n", 1, "unterminated quote"},
        {"module 3 type=uint8 text=abc\n", 1, "a fixed value needs a string, binary or other type"},
    };
    for (const auto &c : cases) {
        Interpreter checker(nullptr, ControlSettings{"/tmp/vhid", {}, {}});
        Scenario s = parseScenario(c.text, checker);
        EXPECT_EQ(s.errorLine, c.line) << c.text;
        EXPECT_EQ(s.error, c.error) << c.text;
        EXPECT_TRUE(s.steps.empty());
    }
}

TEST(CommandLine, OptionsBecomeCommandsAndSettings) {
    std::string error;
    auto o = app::parseOptions({"--station", "1 usb", "-e", "module 5", "--module=6 tag=3",
                                "--duration", "2.5s", "--socket=/tmp/s", "-q", "demo.scn"},
                               error);
    ASSERT_TRUE(o) << error;
    ASSERT_EQ(o->commands.size(), 3u);
    EXPECT_EQ(o->commands[0].line, "station 1 usb");
    EXPECT_EQ(o->commands[2].line, "module 6 tag=3");
    EXPECT_EQ(o->commands[2].origin, "--module 6 tag=3");
    EXPECT_EQ(o->duration, 2500ms);
    EXPECT_EQ(o->socketPath, "/tmp/s");
    EXPECT_TRUE(o->quiet);
    EXPECT_EQ(o->scenarioFile, "demo.scn");

    // --replay takes the files up to the next option (as a shell's glob gives them).
    o = app::parseOptions({"--replay", "run.csv", "run-1.csv", "my run.csv", "usb", "--speed", "4",
                           "--loop", "--from=07:05:30", "-s", "x.scn"},
                          error);
    ASSERT_TRUE(o) << error;
    ASSERT_TRUE(o->replay);
    EXPECT_EQ(o->replay->line,
              "replay run.csv run-1.csv \"my run.csv\" ./usb speed=4 loop=yes from=07:05:30");
    EXPECT_EQ(o->replay->origin, "--replay run.csv");
    EXPECT_EQ(o->scenarioFile, "x.scn");
}

TEST(CommandLine, MistakesAreNamed) {
    const std::pair<std::vector<std::string>, const char *> cases[] = {
        {{"--frob"}, "unknown option --frob"},
        {{"--module"}, "--module needs a value"},
        {{"--duration", "later"},
         "--duration later: expected a time such as 500ms, 2s or 1.5 (seconds), up to 24 h"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {{"a.scn", "b.scn"}, "only one scenario file (also given: b.scn)"},
        {{"--random-key", "-1"}, "--random-key -1: expected a whole number"},
        {{"--socket="}, "--socket needs a path"},
        {{"--speed", "2"}, "--speed, --loop, --from, --to and --skip-bad go with --replay"},
    };
    for (const auto &[arguments, message] : cases) {
        std::string error;
        EXPECT_FALSE(app::parseOptions(arguments, error));
        EXPECT_EQ(error, message);
    }
}
