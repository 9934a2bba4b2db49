// The private driver copy: its name, its safe creation and its deletion.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "private_copy.hpp"
#include "test_support.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::testing;
namespace errors = lyx::platform::errors;

namespace {

std::string contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Names from a list, then "spare<n>.so".
NameSource namesFrom(std::vector<std::string> names) {
    auto list = std::make_shared<std::vector<std::string>>(std::move(names));
    auto next = std::make_shared<std::size_t>(0);
    return [list, next] {
        std::size_t i = (*next)++;
        return i < list->size() ? (*list)[i] : "spare" + std::to_string(i) + ".so";
    };
}

}  // namespace

TEST(PrivateCopyName, IsLyxThenTwoDigitDateAndTimeThenTheNumber) {
    std::tm t{};
    t.tm_year = 125;
    t.tm_mon = 0;
    t.tm_mday = 2;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 5;
    EXPECT_EQ(copyFileName(t, 0), "Lyx2501020304050.so");
    EXPECT_EQ(copyFileName(t, 99999), "Lyx25010203040599999.so");
    t.tm_year = 100;
    t.tm_hour = 23;
    EXPECT_EQ(copyFileName(t, 42),
              "Lyx0001022304"
              "0542.so");
}

TEST(PrivateCopyName, RandomNamesFollowThePatternAndVary) {
    NameSource names = randomCopyNames();
    std::set<std::string> seen;
    const std::regex pattern("Lyx[0-9]{12}[0-9]{1,5}\\.so");
    for (int i = 0; i < 20; ++i) {
        std::string name = names();
        EXPECT_TRUE(std::regex_match(name, pattern)) << name;
        seen.insert(name);
    }
    EXPECT_GT(seen.size(), 10u);
}

TEST(TemporaryFolder, IsTmpdirElseTmpAlsoWhenEmpty) {
    {
        ScopedEnv env("TMPDIR", "/var/somewhere/");
        EXPECT_EQ(temporaryFolder(), "/var/somewhere");
    }
    {
        ScopedEnv env("TMPDIR", "");
        EXPECT_EQ(temporaryFolder(), "/tmp");
    }
    ScopedEnv env("TMPDIR", nullptr);
    EXPECT_EQ(temporaryFolder(), "/tmp");
}

TEST(PrivateCopy, CopiesTheFileWithMode0700AndDeletesItWhenItGoes) {
    TestFolder folder;
    writeFile(folder / "source.so", "driver bytes");
    std::string path;
    {
        auto copy = PrivateDriverCopy::create(folder / "source.so", folder.path().string(),
                                              namesFrom({"LyxA.so"}));
        path = copy.path();
        EXPECT_EQ(path, folder / "LyxA.so");
        EXPECT_EQ(contents(path), "driver bytes");
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
    }
    EXPECT_FALSE(fs::exists(path));
}

TEST(PrivateCopy, APlantedFileOrLinkIsNeverOverwrittenFollowedOrReused) {
    TestFolder folder;
    writeFile(folder / "source.so", "driver bytes");
    writeFile(folder / "planted.txt", "someone else's");
    writeFile(folder / "LyxTaken.so", "planted file");
    fs::create_symlink(folder / "planted.txt", folder / "LyxLink.so");
    fs::create_symlink(folder / "nowhere.so", folder / "LyxDangling.so");

    auto copy = PrivateDriverCopy::create(
        folder / "source.so", folder.path().string(),
        namesFrom({"LyxTaken.so", "LyxLink.so", "LyxDangling.so", "LyxFree.so"}));
    EXPECT_EQ(copy.path(), folder / "LyxFree.so");
    EXPECT_EQ(contents(folder / "LyxTaken.so"), "planted file");
    EXPECT_EQ(contents(folder / "planted.txt"), "someone else's");
    EXPECT_TRUE(fs::is_symlink(folder / "LyxLink.so"));
    EXPECT_FALSE(fs::exists(folder / "nowhere.so"));  // the dangling link was not followed
    EXPECT_EQ(contents(copy.path()), "driver bytes");
}

TEST(PrivateCopy, AFileThatReplacedTheCopyIsNotDeleted) {
    TestFolder folder;
    writeFile(folder / "source.so", "driver bytes");
    auto copy = PrivateDriverCopy::create(folder / "source.so", folder.path().string(),
                                          namesFrom({"LyxA.so"}));
    fs::remove(copy.path());
    writeFile(copy.path(), "a new file under the same name");
    EXPECT_FALSE(copy.remove());
    EXPECT_EQ(contents(folder / "LyxA.so"), "a new file under the same name");
}

TEST(PrivateCopy, FailuresAreTheFileErrorsWithTheirPaths) {
    TestFolder folder;
    auto e = errorOf([&] {
        PrivateDriverCopy::create(folder / "missing.so", folder.path().string(), namesFrom({}));
    });
    EXPECT_EQ(e.number(), errors::kFileNotFound);
    EXPECT_EQ(e.description(), "File not found: " + (folder / "missing.so"));

    writeFile(folder / "source.so", "x");
    e = errorOf([&] {
        PrivateDriverCopy::create(folder / "source.so", folder / "no-folder", namesFrom({}));
    });
    EXPECT_EQ(e.number(), errors::kPathNotFound);
    EXPECT_EQ(e.description(), "Path not found: " + (folder / "no-folder"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(PrivateCopy, GivesUpWithAnErrorWhenNoNameIsFree) {
    TestFolder folder;
    writeFile(folder / "source.so", "x");
    writeFile(folder / "Lyx.so", "taken");
    auto e = errorOf([&] {
        PrivateDriverCopy::create(folder / "source.so", folder.path().string(),
                                  [] { return std::string("Lyx.so"); });
    });
    EXPECT_EQ(e.number(), errors::kPathFileAccess);
    EXPECT_EQ(contents(folder / "Lyx.so"), "taken");
}
