// Registration and activation with the test component lyx_test_server.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "lyx/platform/activation.hpp"
#include "lyx/platform/class_registry.hpp"
#include "lyx/platform/library.hpp"
#include "lyx/platform/profile.hpp"
#include "test_server.hpp"

using namespace lyx::platform;
using lyx::testserver::ICounter;
using lyx::testserver::INothing;
using lyx::testserver::kCounterClass;
namespace fs = std::filesystem;

namespace {

template <class F>
AutomationError errorOf(F f) {
    try {
        f();
    } catch (const AutomationError &e) {
        return e;
    }
    return AutomationError(0, "no error");
}

}  // namespace

class Activation : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("lyx-registry-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        registry = (folder / "classes.ini").string();
        ::setenv("LYX_REGISTRY", registry.c_str(), 1);
        ASSERT_TRUE(server.open(LYX_TEST_SERVER_FILE)) << server.error();
    }
    void TearDown() override {
        ::unsetenv("LYX_REGISTRY");
        ::unsetenv("LYX_TEST_COUNTER_FAIL");
        fs::remove_all(folder);
    }
    std::int32_t callServer(const char *name) {
        auto f = server.function<DllRegisterServerFunction>(name);
        return f != nullptr ? f() : -1;
    }

    fs::path folder;
    std::string registry;
    DynamicLibrary server;
};

TEST(ClassRegistry, PathIsLyxRegistryElseTheUsersDataFolder) {
    ::setenv("LYX_REGISTRY", "/somewhere/reg.ini", 1);
    EXPECT_EQ(classRegistryPath(), "/somewhere/reg.ini");
    ::setenv("LYX_REGISTRY", "", 1);
    ::setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(classRegistryPath(), "/data/lyx/classes.ini");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(classRegistryPath(), "/home/someone/.local/share/lyx/classes.ini");
    ::unsetenv("LYX_REGISTRY");
}

TEST_F(Activation, RegisteredClassIsCreatedByClassIdAndByProgId) {
    ASSERT_EQ(callServer("DllRegisterServer"), 0);
    auto entry = findClass(kCounterClass);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->library, fs::canonical(LYX_TEST_SERVER_FILE).string());
    EXPECT_EQ(getPrivateProfileString(toString(kCounterClass), "ProgID", "", registry),
              "LyxTest.Counter");

    Ref<ICounter> byId = createInstance<ICounter>(kCounterClass);
    ASSERT_TRUE(byId);
    EXPECT_EQ(byId->Add(5), 5);
    Ref<ICounter> byProgId = createObject<ICounter>("lyxtest.COUNTER");
    ASSERT_TRUE(byProgId);
    EXPECT_EQ(byProgId->Add(2), 2);  // a separate object
    Ref<ICounter> byText = createObject<ICounter>(toString(kCounterClass));
    EXPECT_TRUE(byText);
    Ref<Dispatch> late = createInstance<Dispatch>(kCounterClass);
    std::vector<Variant> args{Variant("7")};
    EXPECT_EQ(callByName(*late, "add", kInvokeMethod, args).as<std::int32_t>(), 7);
}

TEST_F(Activation, UnregisteredClassAndUnknownProgIdAreClearErrors) {
    auto e = errorOf([] { createInstance<ICounter>(kCounterClass); });
    EXPECT_EQ(e.number(), errors::kClassNotRegistered);
    EXPECT_EQ(e.description(),
              "Class not registered: " + toString(kCounterClass) + " has no entry in " + registry);
    e = errorOf([] { createObject<ICounter>("LyxTest.Nothing"); });
    EXPECT_EQ(e.number(), errors::kInvalidClassString);
    EXPECT_EQ(e.description(),
              "Invalid class string: no class is registered as \"LyxTest.Nothing\" in " + registry);
}

TEST_F(Activation, UnregisterRemovesTheEntry) {
    ASSERT_EQ(callServer("DllRegisterServer"), 0);
    ASSERT_TRUE(findClass(kCounterClass));
    ASSERT_EQ(callServer("DllUnregisterServer"), 0);
    EXPECT_FALSE(findClass(kCounterClass));
    EXPECT_TRUE(getPrivateProfileSectionNames(registry).empty());
    EXPECT_EQ(errorOf([] { createInstance<ICounter>(kCounterClass); }).number(),
              errors::kClassNotRegistered);
}

TEST_F(Activation, LibraryGoneOrWithoutFactoryIsAnErrorWithItsPath) {
    registerClass({kCounterClass, (folder / "libGone.so").string(), "LyxTest.Counter", {}, "1.0"});
    auto e = errorOf([] { createObject<ICounter>("LyxTest.Counter"); });
    EXPECT_EQ(e.number(), errors::kModuleNotFound);
    EXPECT_NE(e.description().find("The specified module could not be found: "), std::string::npos);
    EXPECT_NE(e.description().find("libGone.so"), std::string::npos);

    // The platform library itself is loadable but serves no classes.
    registerClass({kCounterClass, LYX_PLATFORM_FILE, "LyxTest.Counter", {}, "1.0"});
    e = errorOf([] { createInstance<ICounter>(kCounterClass); });
    EXPECT_EQ(e.number(), errors::kErrorInDll);
    EXPECT_EQ(e.description(), "Error in the DLL: " + std::string(LYX_PLATFORM_FILE) +
                                   " exports no DllGetClassObject");
}

TEST_F(Activation, MissingInterfaceAndTheObjectsOwnErrorReachTheCaller) {
    ASSERT_EQ(callServer("DllRegisterServer"), 0);
    auto e = errorOf([] { createInstance<INothing>(kCounterClass); });
    EXPECT_EQ(e.number(), errors::kNoInterface);
    ::setenv("LYX_TEST_COUNTER_FAIL", "1", 1);
    e = errorOf([] { createInstance<ICounter>(kCounterClass); });
    EXPECT_EQ(e.number(), errors::kOutOfMemory);
    EXPECT_EQ(e.description(), "Counter refused to be made");
}

TEST_F(Activation, LibrariesStayLoadedWhileTheirObjectsLive) {
    ASSERT_EQ(callServer("DllRegisterServer"), 0);
    auto canUnload = server.function<DllCanUnloadNowFunction>("DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    {
        Ref<ICounter> counter = createInstance<ICounter>(kCounterClass);
        EXPECT_EQ(canUnload(), errors::kFalse);
        freeUnusedLibraries();
        EXPECT_EQ(counter->Add(3), 3);  // still loaded and working
    }
    EXPECT_EQ(canUnload(), errors::kOk);
    freeUnusedLibraries();
    // Loaded again on demand.
    EXPECT_EQ(createInstance<ICounter>(kCounterClass)->Add(1), 1);
}
