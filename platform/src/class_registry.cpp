// The class registry on private profile files: the user's, then the system's.

#include "lyx/platform/class_registry.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "lyx/platform/automation_error.hpp"
#include "lyx/platform/profile.hpp"

namespace lyx::platform {
namespace {

constexpr const char *kLibrary = "Library";
constexpr const char *kProgId = "ProgID";
constexpr const char *kTypeLib = "TypeLib";
constexpr const char *kTypeLibVersion = "TypeLibVersion";

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string homeFolder() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    if (const passwd *user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr)
        return user->pw_dir;
    return "/";
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::optional<ClassEntry> readEntry(const Guid &classId, const std::string &file) {
    std::string section = toString(classId);
    ClassEntry entry;
    entry.classId = classId;
    entry.library = getPrivateProfileString(section, kLibrary, "", file);
    if (entry.library.empty()) return std::nullopt;
    entry.progId = getPrivateProfileString(section, kProgId, "", file);
    entry.typeLibrary =
        parseGuid(getPrivateProfileString(section, kTypeLib, "", file)).value_or(Guid{});
    entry.typeLibraryVersion = getPrivateProfileString(section, kTypeLibVersion, "", file);
    return entry;
}

// Why `file` cannot be read; empty when it can be, or does not exist.
std::string unreadableReason(const std::string &file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? "" : std::strerror(errno);
    char byte = 0;
    std::string reason = ::read(fd, &byte, 1) < 0 ? std::strerror(errno) : "";
    ::close(fd);
    return reason;
}

// The readable registry files in search order.
std::vector<std::string> readableRegistries() {
    std::vector<std::string> files;
    for (auto &file : classRegistrySearchPath()) {
        if (unreadableReason(file).empty()) files.push_back(std::move(file));
    }
    return files;
}

std::vector<std::string> systemDataFolders() {
    std::string dirs = environment("XDG_DATA_DIRS");
    if (dirs.empty()) dirs = "/usr/local/share:/usr/share";
    std::vector<std::string> folders;
    std::string_view rest = dirs;
    while (!rest.empty()) {
        auto colon = rest.find(':');
        std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        if (!folder.empty() && folder.front() == '/') folders.emplace_back(folder);
    }
    return folders;
}

[[noreturn]] void cannotWrite(const std::string &file) {
    throw AutomationError(errors::kSelfRegClass, "Cannot write the class registry " + file);
}

}  // namespace

std::string classRegistryPath() {
    std::string path = environment("LYX_REGISTRY");
    if (!path.empty()) return path;
    std::string data = environment("XDG_DATA_HOME");
    if (data.empty()) data = homeFolder() + "/.local/share";
    return data + "/lyx/classes.ini";
}

std::string systemClassRegistryPath() {
    auto folders = systemDataFolders();
    return (folders.empty() ? std::string("/usr/local/share") : folders.front()) +
           "/lyx/classes.ini";
}

std::vector<std::string> classRegistrySearchPath() {
    std::vector<std::string> files{classRegistryPath()};
    if (!environment("LYX_REGISTRY").empty()) return files;
    for (const auto &folder : systemDataFolders())
        files.push_back(folder + "/lyx/classes.ini");
    return files;
}

std::string describeClassRegistrySearch() {
    auto files = classRegistrySearchPath();
    std::string text;
    for (const auto &file : files)
        text += (text.empty() ? "" : ", ") + file;
    for (const auto &file : files) {
        if (auto reason = unreadableReason(file); !reason.empty())
            text += "; " + file + " cannot be read: " + reason;
    }
    return text;
}

void registerClass(const ClassEntry &entry) {
    const std::string file = classRegistryPath();
    // A new registration replaces the old one whole, in one write: a crash or
    // a full disk leaves either the old entry or the new one.
    const ProfileEntries keys{
        {kLibrary, entry.library},
        {kProgId, entry.progId},
        {kTypeLib, toString(entry.typeLibrary)},
        {kTypeLibVersion, entry.typeLibraryVersion},
    };
    if (!writePrivateProfileSection(toString(entry.classId), keys, file)) cannotWrite(file);
}

bool unregisterClass(const Guid &classId) {
    const std::string file = classRegistryPath();
    const std::string section = toString(classId);
    bool present = false;
    for (const auto &name : getPrivateProfileSectionNames(file)) {
        if (equalsNoCase(name, section)) present = true;
    }
    if (!present) return false;
    if (!writePrivateProfileSection(section, std::nullopt, file)) cannotWrite(file);
    return true;
}

std::optional<ClassEntry> findClass(const Guid &classId) {
    for (const auto &file : readableRegistries()) {
        if (auto entry = readEntry(classId, file)) return entry;
    }
    return std::nullopt;
}

std::optional<ClassEntry> findClassByProgId(std::string_view progId) {
    for (const auto &file : readableRegistries()) {
        for (const auto &name : getPrivateProfileSectionNames(file)) {
            auto id = parseGuid(name);
            if (!id) continue;
            auto entry = readEntry(*id, file);
            if (entry && equalsNoCase(entry->progId, progId)) return entry;
        }
    }
    return std::nullopt;
}

}  // namespace lyx::platform
