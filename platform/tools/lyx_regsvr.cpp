// lyx-regsvr: registers or unregisters a component library in the class
// registry by calling its DllRegisterServer or DllUnregisterServer.
//
//   lyx-regsvr [-u] <library>...
//
// Exit status 0 when every library succeeded.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "lyx/platform/activation.hpp"
#include "lyx/platform/class_registry.hpp"
#include "lyx/platform/library.hpp"

int main(int argc, char **argv) {
    bool unregister = false;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "-u") == 0) {
        unregister = true;
        first = 2;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: lyx-regsvr [-u] <library>...\n");
        return 2;
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
