#include "ports/port_names.hpp"

#include <sys/stat.h>

#include <cstdlib>

namespace lyx::drv {

namespace {
std::string env(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}
}  // namespace

std::string portFolder() {
    std::string folder = env("LYX_PORT_DIR");
    if (!folder.empty()) return folder;
    std::string config = env("XDG_CONFIG_HOME");
    if (config.empty()) config = env("HOME") + "/.config";
    return config + "/lyx/ports";
}

std::string serialDevicePath(int port) {
    if (port < 1) return {};
    std::string entry = portFolder() + "/COM" + std::to_string(port);
    // An entry that exists is used even when it points nowhere: opening it then
    // fails, rather than silently opening some other port.
    struct stat info {};
    if (::lstat(entry.c_str(), &info) == 0) return entry;
    return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace lyx::drv
