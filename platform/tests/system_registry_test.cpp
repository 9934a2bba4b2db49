// The search through the user's and the system's registries, and lyx-regsvr --system.

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "lyx/platform/activation.hpp"
#include "lyx/platform/class_registry.hpp"
#include "lyx/platform/profile.hpp"
#include "test_server.hpp"

extern char **environ;

using namespace lyx::platform;
using lyx::testserver::ICounter;
using lyx::testserver::kCounterClass;
namespace fs = std::filesystem;

class SystemRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("lyx-sysreg-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        user = (folder / "home/lyx/classes.ini").string();
        first = (folder / "a/lyx/classes.ini").string();
        second = (folder / "b/lyx/classes.ini").string();
        ::unsetenv("LYX_REGISTRY");
        ::setenv("XDG_DATA_HOME", (folder / "home").c_str(), 1);
        std::string dirs = (folder / "a").string() + ":relative/share::" + (folder / "b").string();
        ::setenv("XDG_DATA_DIRS", dirs.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("XDG_DATA_DIRS");
        fs::remove_all(folder);
    }
    // The counter class in `file`, served by `library`.
    static void put(const std::string &file, const std::string &library) {
        ASSERT_TRUE(writePrivateProfileString(toString(kCounterClass), "Library", library, file));
        ASSERT_TRUE(
            writePrivateProfileString(toString(kCounterClass), "ProgID", "LyxTest.Counter", file));
    }
    static void drop(const std::string &file) {
        ASSERT_TRUE(
            writePrivateProfileString(toString(kCounterClass), std::nullopt, std::nullopt, file));
    }
    static std::string libraryOf(std::optional<ClassEntry> entry) {
        return entry ? entry->library : "(none)";
    }

    fs::path folder;
    std::string user, first, second;
};

TEST_F(SystemRegistry, SearchIsTheUsersFileThenEachAbsoluteDataFolder) {
    EXPECT_EQ(classRegistrySearchPath(), (std::vector<std::string>{user, first, second}));
    EXPECT_EQ(classRegistryPath(), user);
    EXPECT_EQ(systemClassRegistryPath(), first);

    ::unsetenv("XDG_DATA_DIRS");
    EXPECT_EQ(classRegistrySearchPath(),
              (std::vector<std::string>{user, "/usr/local/share/lyx/classes.ini",
                                        "/usr/share/lyx/classes.ini"}));
    EXPECT_EQ(systemClassRegistryPath(), "/usr/local/share/lyx/classes.ini");

    // A private registry is searched alone.
    ::setenv("LYX_REGISTRY", (folder / "private.ini").c_str(), 1);
    EXPECT_EQ(classRegistrySearchPath(), (std::vector<std::string>{(folder / "private.ini")}));
    ::unsetenv("LYX_REGISTRY");
}

TEST_F(SystemRegistry, UsersEntryWinsThenTheFirstSystemFolderThatHasOne) {
    put(second, LYX_TEST_SERVER_FILE);
    put(first, "/first/libCounter.so");
    put(user, "/user/libCounter.so");
    EXPECT_EQ(libraryOf(findClass(kCounterClass)), "/user/libCounter.so");
    EXPECT_EQ(libraryOf(findClassByProgId("lyxtest.counter")), "/user/libCounter.so");
    drop(user);
    EXPECT_EQ(libraryOf(findClass(kCounterClass)), "/first/libCounter.so");
    EXPECT_EQ(libraryOf(findClassByProgId("LyxTest.Counter")), "/first/libCounter.so");
    drop(first);
    // Created from the system registry alone, by programmatic identifier.
    EXPECT_EQ(createObject<ICounter>("LyxTest.Counter")->Add(4), 4);

    // With a private registry the system folders are not looked at.
    ::setenv("LYX_REGISTRY", (folder / "private.ini").c_str(), 1);
    EXPECT_FALSE(findClass(kCounterClass));
    EXPECT_FALSE(findClassByProgId("LyxTest.Counter"));
    ::unsetenv("LYX_REGISTRY");
}

TEST_F(SystemRegistry, UnreadableRegistryIsPassedOverAndNamedWhenNothingIsFound) {
    fs::create_directories(first);  // a folder where the file should be: unreadable for anyone
    put(second, LYX_TEST_SERVER_FILE);
    EXPECT_EQ(createInstance<ICounter>(kCounterClass)->Add(1), 1);
    EXPECT_EQ(libraryOf(findClassByProgId("LyxTest.Counter")), LYX_TEST_SERVER_FILE);

    drop(second);
    try {
        createInstance<ICounter>(kCounterClass);
        ADD_FAILURE() << "created without an entry";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.number(), errors::kClassNotRegistered);
        EXPECT_EQ(e.description(), "Class not registered: " + toString(kCounterClass) +
                                       " has no entry in " + user + ", " + first + ", " + second +
                                       "; " + first + " cannot be read: Is a directory");
    }
    try {
        createObject<ICounter>("LyxTest.Counter");
        ADD_FAILURE() << "created without an entry";
    } catch (const AutomationError &e) {
        EXPECT_EQ(e.number(), errors::kInvalidClassString);
        EXPECT_NE(e.description().find(first + " cannot be read: Is a directory"),
                  std::string::npos)
            << e.description();
    }

    if (::geteuid() != 0) {  // root reads files of any mode
        put(user, "/user/libCounter.so");
        ::chmod(user.c_str(), 0);
        put(second, LYX_TEST_SERVER_FILE);
        EXPECT_EQ(libraryOf(findClass(kCounterClass)), LYX_TEST_SERVER_FILE);
        EXPECT_NE(describeClassRegistrySearch().find(user + " cannot be read: Permission denied"),
                  std::string::npos);
    }
}

namespace {

// Runs lyx-regsvr with the test's environment; its exit status.
int regsvr(std::vector<std::string> args) {
    args.insert(args.begin(), LYX_REGSVR_FILE);
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

mode_t modeOf(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

TEST_F(SystemRegistry, RegsvrSystemWritesTheFirstDataFolderReadableByAll) {
    mode_t old = ::umask(077);
    int registered = regsvr({"--system", LYX_TEST_SERVER_FILE});
    ::umask(old);
    ASSERT_EQ(registered, 0);
    EXPECT_EQ(getPrivateProfileString(toString(kCounterClass), "ProgID", "", first),
              "LyxTest.Counter");
    EXPECT_FALSE(fs::exists(user));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(modeOf(first), 0644u);
    EXPECT_EQ(modeOf(fs::path(first).parent_path()), 0755u);
    EXPECT_EQ(modeOf((folder / "a").string()), 0755u);

    ASSERT_EQ(regsvr({"-u", "--system", LYX_TEST_SERVER_FILE}), 0);
    EXPECT_FALSE(findClass(kCounterClass));

    ASSERT_EQ(regsvr({LYX_TEST_SERVER_FILE}), 0);  // the user's registry without --system
    EXPECT_TRUE(findClass(kCounterClass));
    EXPECT_FALSE(getPrivateProfileSectionNames(user).empty());

    EXPECT_EQ(regsvr({"--sytem", LYX_TEST_SERVER_FILE}), 2);
    EXPECT_EQ(regsvr({"--system"}), 2);
}
