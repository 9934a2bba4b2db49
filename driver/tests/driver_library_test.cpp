// The shared library as a program loads it: its exported symbols, separate
// state per loaded copy, and clean unloading.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "LyxDrv.h"
#include "lyx/link/frame.hpp"
#include "lyx/platform/messages.hpp"
#include "lyx/sim/pty_port.hpp"

namespace {

std::set<std::string> exportedSymbols(const std::string &file) {
    std::set<std::string> names;
    std::string command = "nm -D --defined-only " + file;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string text(line);
        auto space = text.find_last_of(' ');
        std::string name = text.substr(space + 1);
        name.erase(name.find_last_not_of("\n") + 1);
        char kind = text.size() > 17 ? text[17] : '?';
        if (kind == 'T' || kind == 'D' || kind == 'B' || kind == 'W' || kind == 'V')
            names.insert(name);
    }
    ::pclose(pipe);
    return names;
}

struct Loaded {
    explicit Loaded(const std::string &file)
        : handle(::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Loaded() {
        if (handle != nullptr) ::dlclose(handle);
    }
    template <class F>
    F get(const char *name) {
        return reinterpret_cast<F>(::dlsym(handle, name));
    }
    void *handle;
};

}  // namespace

TEST(DriverLibrary, ExportsExactlyTheDriverFunctions) {
    std::set<std::string> expected{
        "INITIALISE", "INITIALISEMULTI", "CREATECALLBACKWINDOW", "GETNEXTPACKET", "ANYINQUEUE",
        "CLRBUFFERS", "OPENPORT", "OPENUSB", "ENUMUSB", "CLOSEPORT", "WRITEPACKET", "SENDBROADCAST",
        "VERSION", "READREVISION", "BIND", "BINDASYNC", "BINDASYNCPOLL", "READMODULE",
        "WRITEMODULE", "READREMOTEMODULE", "WRITEREMOTEMODULE", "READREMOTE", "WRITEREMOTE",
        // the extension the header marks as such
        "LyxDrvGetLinkStatistics"};
    std::set<std::string> found = exportedSymbols(LYX_DRV_FILE);
    // The sanitizer runtimes may add their own entries; nothing of ours may leak.
    for (auto it = found.begin(); it != found.end();) {
        it = (it->rfind("__asan", 0) == 0 || it->rfind("__ubsan", 0) == 0 ||
              it->rfind("__tsan", 0) == 0 || it->rfind("__sanitizer", 0) == 0)
                 ? found.erase(it)
                 : std::next(it);
    }
    EXPECT_EQ(found, expected);
}

TEST(DriverLibrary, EachLoadedCopyKeepsItsOwnStateAndUnloadsCleanly) {
    namespace fs = std::filesystem;
    fs::path copy = fs::temp_directory_path() / ("LyxDrvCopy" + std::to_string(::getpid()) + ".so");
    fs::copy_file(LYX_DRV_FILE, copy, fs::copy_options::overwrite_existing);

    std::int32_t thread = lyx::platform::currentThreadId();
    std::string titleA = "LyxDrv" + std::string(" ") + std::to_string(thread) + "- 1";
    std::string titleB = "LyxDrv" + std::string(" ") + std::to_string(thread) + "- 2";
    {
        Loaded a(LYX_DRV_FILE);
        Loaded b(copy.string());
        ASSERT_NE(a.handle, nullptr) << ::dlerror();
        ASSERT_NE(b.handle, nullptr) << ::dlerror();
        ASSERT_NE(a.handle, b.handle);
        auto multiA = a.get<void (*)(const intptr_t *, int32_t)>("INITIALISEMULTI");
        auto multiB = b.get<void (*)(const intptr_t *, int32_t)>("INITIALISEMULTI");
        auto windowA = a.get<intptr_t (*)(const int32_t *)>("CREATECALLBACKWINDOW");
        auto windowB = b.get<intptr_t (*)(const int32_t *)>("CREATECALLBACKWINDOW");
        auto version = b.get<float (*)()>("VERSION");
        ASSERT_TRUE(multiA && multiB && windowA && windowB && version);
        EXPECT_FLOAT_EQ(version(), 2.7f);
        multiA(nullptr, 1);
        multiB(nullptr, 2);
        intptr_t wa = windowA(&thread);
        intptr_t wb = windowB(&thread);
        EXPECT_EQ(lyx::platform::findWindow(titleA), wa);
        EXPECT_EQ(lyx::platform::findWindow(titleB), wb);
    }
    // Unloading destroyed each copy's windows: their handlers were in the copy.
    EXPECT_EQ(lyx::platform::findWindow(titleA), 0);
    EXPECT_EQ(lyx::platform::findWindow(titleB), 0);
    fs::remove(copy);
}

TEST(DriverLibrary, FreshlyLoadedCopyPollsZeroWithoutAnyBind) {
    namespace fs = std::filesystem;
    fs::path copy =
        fs::temp_directory_path() / ("LyxDrvFresh" + std::to_string(::getpid()) + ".so");
    fs::copy_file(LYX_DRV_FILE, copy, fs::copy_options::overwrite_existing);
    {
        Loaded fresh(copy.string());
        ASSERT_NE(fresh.handle, nullptr) << ::dlerror();
        auto poll = fresh.get<int32_t (*)(int32_t *, int32_t *)>("BINDASYNCPOLL");
        ASSERT_NE(poll, nullptr);
        int32_t id = -1, tag = -1;
        EXPECT_EQ(poll(&id, &tag), 0);
        EXPECT_EQ(id, 0);
        EXPECT_EQ(tag, 0);
    }
    fs::remove(copy);
}

namespace {
std::vector<lyx::link::Bytes> seenByA, seenByB;
void callbackA(const uint8_t **frame, int32_t *length, int32_t *) {
    seenByA.emplace_back(*frame, *frame + *length);
}
void callbackB(const uint8_t **frame, int32_t *length, int32_t *) {
    seenByB.emplace_back(*frame, *frame + *length);
}
}  // namespace

// A copy closed but still loaded keeps its window; another copy that opens with
// the same instance number on the same thread must use a window of its own, or
// its frames would be handed over by the first copy.
TEST(DriverLibrary, CopiesWithTheSameInstanceNumberDeliverThroughTheirOwnWindows) {
    namespace fs = std::filesystem;
    fs::path folder = fs::temp_directory_path() / ("lyx-copies-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    fs::path copy = folder / "LyxDrvSecond.so";
    fs::copy_file(LYX_DRV_FILE, copy, fs::copy_options::overwrite_existing);
    ::setenv("LYX_PORT_DIR", folder.c_str(), 1);
    lyx::sim::PtyPort pty;
    ASSERT_TRUE(pty.linkAs(folder, 5));
    {
        Loaded a(LYX_DRV_FILE);
        Loaded b(copy.string());
        ASSERT_TRUE(a.handle && b.handle);
        using Multi = void (*)(const intptr_t *, int32_t);
        using Open = int32_t (*)(int16_t, int32_t);
        using Close = int32_t (*)();
        intptr_t cbA = reinterpret_cast<intptr_t>(&callbackA);
        intptr_t cbB = reinterpret_cast<intptr_t>(&callbackB);
        a.get<Multi>("INITIALISEMULTI")(&cbA, 1);
        ASSERT_EQ(a.get<Open>("OPENPORT")(5, 115200), 0);
        ASSERT_EQ(a.get<Close>("CLOSEPORT")(), 0);
        b.get<Multi>("INITIALISEMULTI")(&cbB, 1);
        ASSERT_EQ(b.get<Open>("OPENPORT")(5, 115200), 0);
        auto frame = lyx::link::buildFrame(1, lyx::link::Bytes{0x03, 0x00, 0x07, 0x00, 0x01, 0x2A});
        ASSERT_TRUE(pty.write(frame));
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (seenByB.empty() && std::chrono::steady_clock::now() < deadline) {
            if (lyx::platform::waitForMessages(100)) LyxPumpMessages();
        }
        b.get<Close>("CLOSEPORT")();
        ASSERT_EQ(seenByB.size(), 1u);
        EXPECT_EQ(seenByB[0], frame);
        EXPECT_TRUE(seenByA.empty());
    }
    ::unsetenv("LYX_PORT_DIR");
    fs::remove_all(folder);
}
