#include "lyx/tags/tag_file.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace lyx::tags {
namespace {

using std::chrono::milliseconds;

TEST(TagFile, ReadsEveryKeyOfDecimalAndHexadecimalSections) {
    const std::string text =
        "\xEF\xBB\xBF# the crane\r\n"
        "; another comment\n"
        "[1234]\n"
        "  Name = Crane load   \n"
        "unit=kg\n"
        "DEVICE_CLASS = weight\n"
        "state_class = measurement\n"
        "timeout = 30s\n"
        "module = 0x0A0B0C\n"
        "\n"
        "[0x00FF]\n"
        "name = \"  Pump #2 \"\n"
        "unit = \xC2\xB0"
        "C\n"
        "timeout = 1.5min\n"
        "[7]\n"
        "unit =\n"
        "timeout = 250ms";  // no line end at the end
    const TagNames names = parseTagFile(text, "tags.ini");
    ASSERT_EQ(names.size(), 3u);
    const TagInfo &crane = names.at(1234);
    EXPECT_EQ(crane.name, "Crane load");
    EXPECT_EQ(crane.unit, "kg");
    EXPECT_EQ(crane.deviceClass, "weight");
    EXPECT_EQ(crane.stateClass, "measurement");
    EXPECT_EQ(crane.timeout, milliseconds(30000));
    EXPECT_EQ(crane.module, 0x0A0B0C);
    const TagInfo &pump = names.at(255);
    EXPECT_EQ(pump.name, "  Pump #2 ");  // quotes keep the blanks and a '#' is no comment
    EXPECT_EQ(pump.unit,
              "\xC2\xB0"
              "C");
    EXPECT_EQ(pump.timeout, milliseconds(90000));
    EXPECT_FALSE(pump.module);
    EXPECT_EQ(names.at(7).unit, "");
    EXPECT_EQ(names.at(7).timeout, milliseconds(250));
    EXPECT_TRUE(parseTagFile("", "empty.ini").empty());

    TagTable table;
    describeAll(table, names);
    EXPECT_EQ(table.info(1234).name, "Crane load");
}

TEST(TagFile, AMalformedFileNamesTheLineAndWhatIsWrong) {
    struct Case {
        std::string text;
        int line;
        std::string problem;
    };
    const Case cases[] = {
        {"name = x\n", 1, "'name' comes before the first [TAG] section"},
        {"[12]\nname x\n", 2, "expected [TAG] or KEY = VALUE, got 'name x'"},
        {"[12]\nunti = kg\n", 2, "unknown key 'unti'"},
        {"[12]\nname = a\nNAME = b\n", 3, "'name' is given twice for tag 12 (line 2 and here)"},
        {"[12]\n[0xC]\n", 2, "tag 12 has a section already (line 1)"},
        {"[pump]\n", 1, "[pump] is not a data tag"},
        {"[65535]\n", 1, "out of range (tags are 0 to 65534)"},
        {"[12\n", 1, "'[' without ']'"},
        {"[12] x\n", 1, "text after ']'"},
        {"[12]\n= 3\n", 2, "a value without a key"},
        {"[12]\ntimeout = soon\n", 2, "timeout: 'soon' is not a time"},
        {"[12]\ntimeout = 0s\n", 2, "out of range (100ms to 7 days)"},
        {"[12]\ntimeout = 8d\n", 2, "not a time"},
        {"[12]\nstate_class = sometimes\n", 2, "not measurement, total or total_increasing"},
        {"[12]\ndevice_class = Weight\n", 2, "device_class: 'Weight' is not a class name"},
        {"[12]\nmodule = 0x1000000\n", 2, "module: '0x1000000' is not a module ID"},
        {"[12]\nname = a\x01z\n", 2, "name: holds a control character"},
        {"[12]\nunit = " + std::string(33, 'u') + "\n", 2, "unit: longer than 32 bytes"},
        {"[12]\nname = caf\xE9\n", 2, "not UTF-8 text"},
        {"[12]\nname = \xED\xA0\x80\n", 2, "not UTF-8 text"},  // a surrogate
        {"[12]\r\nname = ok\r\n\r\n[1]\r\ntimeout=\r\n", 5, "timeout: '' is not a time"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        try {
            parseTagFile(c.text, "/etc/lyx/tags.ini");
            ADD_FAILURE() << "accepted";
        } catch (const TagFileError &e) {
            EXPECT_EQ(e.file(), "/etc/lyx/tags.ini");
            EXPECT_EQ(e.line(), c.line);
            EXPECT_NE(e.problem().find(c.problem), std::string::npos) << e.problem();
            EXPECT_EQ(std::string(e.what()).rfind(
                          "/etc/lyx/tags.ini:" + std::to_string(c.line) + ": ", 0),
                      0u)
                << e.what();
        }
    }
    EXPECT_THROW(parseTagFile(std::string(kLargestTagFile + 1, '#'), "big.ini"), TagFileError);
}

TEST(TagFile, TheDefaultFileIsOptionalAndANamedOneIsNot) {
    char folder[] = "/tmp/lyx-tags-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string base = folder;
    // The environment as it was, afterwards.
    const auto keep = [](const char *name) {
        const char *value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto restore = [](const char *name, const std::optional<std::string> &value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    };
    const auto savedConfig = keep("XDG_CONFIG_HOME");
    const auto savedHome = keep("HOME");
    ::setenv("XDG_CONFIG_HOME", base.c_str(), 1);
    EXPECT_EQ(defaultTagFile(), base + "/lyx/tags.ini");
    EXPECT_TRUE(loadTagFile(std::nullopt).path.empty()) << "no default file, no error";
    EXPECT_THROW(loadTagFile(base + "/missing.ini"), TagFileError);
    std::filesystem::create_directories(base + "/lyx");
    std::ofstream(base + "/lyx/tags.ini") << "[5]\nname = Five\n";
    const LoadedTags loaded = loadTagFile(std::nullopt);
    EXPECT_EQ(loaded.path, base + "/lyx/tags.ini");
    EXPECT_EQ(loaded.names.at(5).name, "Five");
    std::ofstream(base + "/bad.ini") << "[5]\nname = Five\nwhat\n";
    try {
        loadTagFile(base + "/bad.ini");
        ADD_FAILURE() << "accepted";
    } catch (const TagFileError &e) {
        EXPECT_EQ(std::string(e.what()),
                  base + "/bad.ini:3: expected [TAG] or KEY = VALUE, got 'what'");
    }
    // A file where a folder of the path should be: no file either.
    ::setenv("XDG_CONFIG_HOME", (base + "/bad.ini/config").c_str(), 1);
    EXPECT_TRUE(loadTagFile(std::nullopt).path.empty());
    ::setenv("XDG_CONFIG_HOME", "relative/folder", 1);  // to be ignored
    ::setenv("HOME", base.c_str(), 1);
    EXPECT_EQ(defaultTagFile(), base + "/.config/lyx/tags.ini");
    restore("XDG_CONFIG_HOME", savedConfig);
    restore("HOME", savedHome);
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace lyx::tags
