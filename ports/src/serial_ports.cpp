#include "lyx/ports/serial_ports.hpp"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lyx::ports {

namespace {

std::string env(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string linkTarget(const std::string &path) {
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
}

bool inGroup(gid_t group) {
    if (::getegid() == group) return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.end();
}

// " (the device belongs to group dialout, which this user is not in)" where that explains
// a refusal; empty otherwise.
std::string groupHint(const std::string &device) {
    struct stat info {};
    if (::stat(device.c_str(), &info) != 0) return {};
    if (info.st_uid == ::geteuid()) return {};
    const group *owner = ::getgrgid(info.st_gid);
    const std::string name = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
    if (inGroup(info.st_gid)) return " (the device belongs to group " + name + ")";
    return " (the device belongs to group " + name + ", which this user is not in)";
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
    struct stat info {};
    if (::lstat(entry.c_str(), &info) == 0) return entry;
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string serialPortProblem(int port) {
    const std::string name = "COM" + std::to_string(port);
    if (port < 1) return "serial port " + name + " does not exist (ports are numbered from 1)";
    const std::string folder = portFolder();
    const std::string entry = folder + "/" + name;
    struct stat info {};
    const bool hasEntry = ::lstat(entry.c_str(), &info) == 0;
    const std::string device = hasEntry ? entry : "/dev/ttyS" + std::to_string(port - 1);
    const std::string target = hasEntry && S_ISLNK(info.st_mode) ? linkTarget(entry) : "";
    const std::string what =
        "serial port " + name + " (" + device + (target.empty() ? "" : " -> " + target) + ")";
    if (::stat(device.c_str(), &info) != 0) {
        if (!target.empty()) return what + ": " + target + " does not exist";
        if (!hasEntry) return what + " does not exist (no entry " + name + " in " + folder + ")";
        return what + " does not exist";
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return what + ": permission denied" + groupHint(device);
        if (error == EBUSY) return what + " is in use by another program";
        if (error == ENXIO || error == ENODEV) return what + ": no device answers there";
        return what + " cannot be opened: " + std::strerror(error);
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    if (locked) return what + " is in use by another program";
    if (!terminal) return what + " is not a serial device";
    return what + " cannot be opened";
}

}  // namespace lyx::ports
