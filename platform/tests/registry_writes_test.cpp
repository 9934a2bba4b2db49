// Registry writes that are cut short, or run in two processes at once.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "lyx/platform/automation_error.hpp"
#include "lyx/platform/class_registry.hpp"

using namespace lyx::platform;
namespace fs = std::filesystem;

namespace {

Guid classNumber(int n) {
    char text[64];
    std::snprintf(text, sizeof text, "{%08X-0000-4000-8000-0000000000AB}", n);
    return *parseGuid(text);
}

ClassEntry entry(int n, const std::string &library) {
    return {classNumber(n), library, "LyxTest.Class" + std::to_string(n), {}, "1.0"};
}

// Whether class `n` is registered whole with `library` (any library: empty).
bool registeredWhole(int n, const std::string &library = {}) {
    auto found = findClass(classNumber(n));
    return found && (library.empty() || found->library == library) &&
           found->progId == "LyxTest.Class" + std::to_string(n) &&
           found->typeLibraryVersion == "1.0";
}

// Runs `work` in a child process; its exit status.
template <class F>
int inChild(F work) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(work());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

class RegistryWrites : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("lyx-registry-writes-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        registry = (folder / "classes.ini").string();
        ::setenv("LYX_REGISTRY", registry.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("LYX_REGISTRY");
        fs::remove_all(folder);
    }
    std::size_t filesInFolder() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    fs::path folder;
    std::string registry;
};

// A disk that fills up during the write, and a writer killed at any moment,
// leave the old registration, never none.
TEST_F(RegistryWrites, ACutShortWriteLeavesTheOldRegistrationWhole) {
    registerClass(entry(1, "/usr/lib/a.so"));
    registerClass(entry(2, "/usr/lib/b.so"));
    const auto size = fs::file_size(registry);
    // No room for a registration that makes the file longer.
    const int full = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{size, size};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        try {
            registerClass(entry(1, "/usr/lib/a-much-longer-library-name-than-before.so"));
        } catch (const AutomationError &) {
            return 0;
        }
        return 1;
    });
    EXPECT_EQ(full, 0) << "the failed write is reported";
    EXPECT_TRUE(registeredWhole(1, "/usr/lib/a.so"));
    EXPECT_TRUE(registeredWhole(2, "/usr/lib/b.so"));
    EXPECT_EQ(filesInFolder(), 1u) << "no temporary file is left";

    std::mt19937 random(7);
    for (int round = 0; round < 30; ++round) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (int i = 0;; ++i)
                registerClass(entry(1, i % 2 == 0 ? "/usr/lib/a.so" : "/usr/lib/a-other.so"));
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(500, 5000)(random)));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ASSERT_TRUE(registeredWhole(1)) << "round " << round;
        ASSERT_TRUE(registeredWhole(2, "/usr/lib/b.so")) << "round " << round;
    }
}

TEST_F(RegistryWrites, TwoProcessesRegisteringAtOnceBothGetTheirClassesIn) {
    constexpr int kEach = 40;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t child = ::fork();
        if (child == 0) {
            for (int i = 0; i < kEach; ++i)
                registerClass(entry(writer * 1000 + i, "/usr/lib/w.so"));
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int missing = 0;
    for (int writer = 0; writer < 2; ++writer)
        for (int i = 0; i < kEach; ++i)
            missing += registeredWhole(writer * 1000 + i) ? 0 : 1;
    EXPECT_EQ(missing, 0);
}

TEST_F(RegistryWrites, ARegistryThatIsALinkIsWrittenThroughTheLink) {
    fs::create_directories(folder / "real");
    const fs::path real = folder / "real" / "classes.ini";
    fs::create_symlink("real/classes.ini", registry);  // relative, not there yet
    registerClass(entry(1, "/usr/lib/a.so"));
    registerClass(entry(2, "/usr/lib/b.so"));
    ASSERT_TRUE(unregisterClass(classNumber(1)));
    EXPECT_TRUE(fs::is_symlink(registry));
    EXPECT_FALSE(registeredWhole(1));
    EXPECT_TRUE(registeredWhole(2, "/usr/lib/b.so"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(real)));
}
