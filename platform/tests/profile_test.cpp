#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "lyx/platform/profile.hpp"

using namespace lyx::platform;
namespace fs = std::filesystem;

class ProfileFile : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("lyx-profile-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        file = (folder / "sub" / "config.ini").string();
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string contents() const {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write(const std::string &text) {
        fs::create_directories(fs::path(file).parent_path());
        std::ofstream(file) << text;
    }

    fs::path folder;
    std::string file;
};

TEST_F(ProfileFile, MissingFileSectionKeyOrEmptyValueGiveTheDefault) {
    EXPECT_EQ(getPrivateProfileString("a", "b", "dflt", file), "dflt");
    write("[Main]\nEmpty=\nQuoted=\"\"\nName = Lyx \n");
    EXPECT_EQ(getPrivateProfileString("Main", "Empty", "d", file), "d");
    EXPECT_EQ(getPrivateProfileString("Main", "Quoted", "d", file), "d");
    EXPECT_EQ(getPrivateProfileString("Main", "Other", "d", file), "d");
    EXPECT_EQ(getPrivateProfileString("Other", "Name", "d", file), "d");
    EXPECT_EQ(getPrivateProfileString("main", "NAME", "d", file), "Lyx");
}

TEST_F(ProfileFile, WritesCreateTheFolderAndKeepOtherLinesAndSections) {
    ASSERT_TRUE(writePrivateProfileString("One", "A", "1", file));
    ASSERT_TRUE(writePrivateProfileString("Two", "B", "2", file));
    ASSERT_TRUE(writePrivateProfileString("one", "c", "3", file));
    ASSERT_TRUE(writePrivateProfileString("ONE", "a", "11", file));
    EXPECT_EQ(contents(), "[One]\nA=11\nc=3\n\n[Two]\nB=2\n");
    EXPECT_EQ(getPrivateProfileSectionNames(file), (std::vector<std::string>{"One", "Two"}));
}

TEST_F(ProfileFile, NoValueRemovesTheKeyAndNoKeyTheSection) {
    write("; comment\n[One]\nA=1\nB=2\n[Two]\nC=3\n");
    ASSERT_TRUE(writePrivateProfileString("One", "A", std::nullopt, file));
    EXPECT_EQ(contents(), "; comment\n[One]\nB=2\n[Two]\nC=3\n");
    ASSERT_TRUE(writePrivateProfileString("one", std::nullopt, std::nullopt, file));
    EXPECT_EQ(contents(), "; comment\n[Two]\nC=3\n");
    EXPECT_TRUE(writePrivateProfileString("Missing", std::nullopt, std::nullopt, file));
    EXPECT_TRUE(writePrivateProfileString("Two", "Missing", std::nullopt, file));
    EXPECT_EQ(contents(), "; comment\n[Two]\nC=3\n");
}

TEST_F(ProfileFile, LineBreaksAndBracketsInNamesAreRefusedAndNothingChanges) {
    write("[One]\nA=1\n");
    EXPECT_FALSE(writePrivateProfileString("One", "A", "x\ny", file));
    EXPECT_FALSE(writePrivateProfileString("On]e", "A", "1", file));
    EXPECT_FALSE(writePrivateProfileString("One", "A=B", "1", file));
    EXPECT_FALSE(writePrivateProfileString("", "A", "1", file));
    EXPECT_EQ(contents(), "[One]\nA=1\n");
}

TEST_F(ProfileFile, ReplacingKeepsTheFileModeAndLeavesNoTemporaryFile) {
    write("[One]\nA=1\n");
    ::chmod(file.c_str(), 0600);
    ASSERT_TRUE(writePrivateProfileString("One", "A", "2", file));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(file).parent_path()),
                            fs::directory_iterator()),
              1);
}

TEST_F(ProfileFile, AnUnwritableFolderIsAFailure) {
    if (::geteuid() == 0) {
        // Root writes anywhere; use a folder path that is a file instead.
        write("x");
        EXPECT_FALSE(writePrivateProfileString("One", "A", "1", file + "/inner.ini"));
    } else {
        fs::create_directories(folder);
        ::chmod(folder.c_str(), 0500);
        EXPECT_FALSE(writePrivateProfileString("One", "A", "1", (folder / "x.ini").string()));
        ::chmod(folder.c_str(), 0700);
    }
}

TEST_F(ProfileFile, AFileThatCannotBeReadIsNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files of any mode";
    write("[One]\nA=1\n");
    ::chmod(file.c_str(), 0200);
    EXPECT_FALSE(writePrivateProfileString("Two", "B", "2", file));
    ::chmod(file.c_str(), 0600);
    EXPECT_EQ(contents(), "[One]\nA=1\n");
}

TEST_F(ProfileFile, ASectionIsReplacedWholeInItsPlaceOrAppended) {
    write("[One]\nA=1\nB=2\n\n[Two]\nC=3\n");
    ASSERT_TRUE(writePrivateProfileSection("one", ProfileEntries{{"X", "9"}, {"Y", "8"}}, file));
    EXPECT_EQ(contents(), "[one]\nX=9\nY=8\n\n[Two]\nC=3\n");
    ASSERT_TRUE(writePrivateProfileSection("Three", ProfileEntries{{"Z", "7"}}, file));
    ASSERT_TRUE(writePrivateProfileSection("Two", std::nullopt, file));
    EXPECT_EQ(contents(), "[one]\nX=9\nY=8\n\n[Three]\nZ=7\n");
    EXPECT_FALSE(writePrivateProfileSection("Three", ProfileEntries{{"Z", "a\nb"}}, file));
    EXPECT_FALSE(writePrivateProfileSection("Three", ProfileEntries{{"Z=", "1"}}, file));
    EXPECT_EQ(getPrivateProfileString("Three", "Z", "", file), "7");
}
