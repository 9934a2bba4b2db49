// lyx-regsvr: registers or unregisters a component library in the class
// registry by calling its DllRegisterServer or DllUnregisterServer.
//
//   lyx-regsvr [-u] [--system] <library>...
//
// Without --system the entry goes to the user's registry ($LYX_REGISTRY, else
// ${XDG_DATA_HOME:-~/.local/share}/lyx/classes.ini); with it, to the system
// registry every user's lookups read: lyx/classes.ini under the first folder of
// XDG_DATA_DIRS (/usr/local/share by default). Exit status 0 when every library
// succeeded, 1 when one failed, 2 for a bad command line.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "lyx/platform/activation.hpp"
#include "lyx/platform/class_registry.hpp"
#include "lyx/platform/library.hpp"

namespace {

constexpr const char *kUsage =
    "usage: lyx-regsvr [-u] [--system] <library>...\n"
    "  -u        unregister instead of register\n"
    "  --system  the system registry (lyx/classes.ini under the first folder of\n"
    "            XDG_DATA_DIRS) instead of the user's\n";

// Creates the folders of the system registry readable by every user, whatever
// the caller's umask.
bool makeSharedFolders(const std::filesystem::path &folder) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return true;
    if (folder.has_parent_path() && folder.parent_path() != folder &&
        !makeSharedFolders(folder.parent_path()))
        return false;
    if (::mkdir(folder.c_str(), 0755) != 0) return errno == EEXIST;
    return ::chmod(folder.c_str(), 0755) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    bool unregister = false;
    bool systemWide = false;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        std::string_view option = argv[first];
        if (option == "-u") {
            unregister = true;
        } else if (option == "--system") {
            systemWide = true;
        } else if (option == "-h" || option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "lyx-regsvr: unknown option %s\n%s", argv[first], kUsage);
            return 2;
        }
    }
    if (first >= argc) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (systemWide) {
        // The component writes where the registry path points.
        const std::string registry = lyx::platform::systemClassRegistryPath();
        if (!unregister && !makeSharedFolders(std::filesystem::path(registry).parent_path())) {
            std::fprintf(stderr, "lyx-regsvr: cannot create the folder of %s: %s\n",
                         registry.c_str(), std::strerror(errno));
            return 1;
        }
        ::setenv("LYX_REGISTRY", registry.c_str(), 1);
    }
    const char *entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    int failures = 0;
    for (int i = first; i < argc; ++i) {
        std::error_code ec;
        std::string path = std::filesystem::absolute(argv[i], ec).string();
        lyx::platform::DynamicLibrary library;
        if (!library.open(path)) {
            std::fprintf(stderr, "lyx-regsvr: %s\n", library.error().c_str());
            ++failures;
            continue;
        }
        auto call = library.function<lyx::platform::DllRegisterServerFunction>(entry);
        if (call == nullptr) {
            std::fprintf(stderr, "lyx-regsvr: %s exports no %s\n", path.c_str(), entry);
            ++failures;
            continue;
        }
        std::int32_t result = call();
        if (result != 0) {
            std::fprintf(stderr, "lyx-regsvr: %s in %s failed with 0x%08X\n", entry, path.c_str(),
                         static_cast<unsigned>(result));
            ++failures;
            continue;
        }
        std::printf("%s: %s succeeded (%s)\n", path.c_str(), entry,
                    lyx::platform::classRegistryPath().c_str());
    }
    return failures == 0 ? 0 : 1;
}
