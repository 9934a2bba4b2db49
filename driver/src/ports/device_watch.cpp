#include "ports/device_watch.hpp"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>

namespace lyx::drv {

namespace {

namespace fs = std::filesystem;

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMostLinks = 40;

// What tells that a device or a link to it may have come: a node or link made
// (udev makes its links under a temporary name and renames them), permissions
// changed (udev sets the group after the kernel made the node), a watched
// folder removed or moved (the watches must be laid again).
constexpr std::uint32_t kEvents =
    IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool isFolder(const fs::path &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

fs::path existingFolder(fs::path folder) {
    if (folder.empty()) folder = ".";
    while (!isFolder(folder)) {
        fs::path parent = folder.parent_path();
        if (parent.empty() || parent == folder) return isFolder(folder) ? folder : fs::path("/");
        folder = std::move(parent);
    }
    return folder;
}

}  // namespace

DeviceWatch::DeviceWatch(std::string path)
    : path_(std::move(path)), fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    watchFolders();
}

DeviceWatch::~DeviceWatch() {
    if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> DeviceWatch::foldersFor(const std::string &path) {
    std::vector<std::string> folders;
    fs::path current = path;
    for (int hop = 0; hop < kMostLinks && !current.empty(); ++hop) {
        std::string folder = existingFolder(current.parent_path()).string();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::array<char, 4096> target{};
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size() - 1);
        if (n <= 0) break;
        fs::path next(std::string(target.data(), static_cast<std::size_t>(n)));
        current = next.is_absolute() ? next : (current.parent_path() / next).lexically_normal();
    }
    return folders;
}

void DeviceWatch::watchFolders() {
    if (fd_ < 0) return;
    // The new watches first (a folder watched already keeps its number), then
    // the old ones that are no longer on the way go: no moment without a watch.
    std::vector<int> now;
    for (const std::string &folder : foldersFor(path_)) {
        const int wd = ::inotify_add_watch(fd_, folder.c_str(), kEvents);
        if (wd >= 0) now.push_back(wd);
    }
    for (int wd : watches_) {
        if (std::find(now.begin(), now.end(), wd) == now.end()) ::inotify_rm_watch(fd_, wd);
    }
    watches_ = std::move(now);
}

void DeviceWatch::refresh() {
    if (fd_ < 0) return;
    alignas(inotify_event) std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n > 0 || (n < 0 && errno == EINTR)) continue;
        break;  // EAGAIN: nothing more waits
    }
    watchFolders();
}

}  // namespace lyx::drv
