// Private profile files on plain text INI files.

#include "lyx/platform/profile.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <functional>

namespace lyx::platform {
namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
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

// The file's lines without their line ends; none when it does not exist, nullopt
// when it exists but cannot be read.
std::optional<std::vector<std::string>> readLines(const std::string &file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::vector<std::string>{};
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (n < 0) return std::nullopt;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// What a reader sees: an unreadable file reads as an empty one.
std::vector<std::string> linesOf(const std::string &file) {
    return readLines(file).value_or(std::vector<std::string>{});
}

// The section name of a "[name]" line.
std::optional<std::string_view> sectionOf(std::string_view line) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> keyOf(std::string_view line) {
    line = trim(line);
    if (line.empty() || line.front() == ';' || line.front() == '#') return std::nullopt;
    auto eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return KeyLine{trim(line.substr(0, eq)), trim(line.substr(eq + 1))};
}

// [first, last) of the section's lines, header included; nullopt when absent.
std::optional<std::pair<std::size_t, std::size_t>> findSection(
    const std::vector<std::string> &lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = sectionOf(lines[i]);
        if (!name || !equalsNoCase(*name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !sectionOf(lines[end]))
            ++end;
        return std::pair{i, end};
    }
    return std::nullopt;
}

// The file a write replaces: `file` itself, or where its chain of symbolic links
// ends (the link stays a link; its target gets the new contents).
std::string writeTarget(const std::string &file) {
    namespace fs = std::filesystem;
    fs::path current = file;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::error_code ec;
        fs::path target = fs::read_symlink(current, ec);
        if (ec) break;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current.string();
}

bool writeAll(int fd, const std::string &text) {
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces `target` (its folder open as `folderFd`) with `lines` in one step:
// a new file in the same folder, written whole and synced, renamed over the old
// one, then the folder synced so that the rename itself survives a power cut.
// A failure anywhere (a full disk) leaves the old file as it was.
bool replaceFile(const std::string &target, int folderFd, const std::vector<std::string> &lines) {
    std::string temp = target + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    std::string text;
    for (const auto &line : lines)
        text += line + "\n";
    // Keep the mode of the file being replaced; a new file gets 0644.
    struct stat old {};
    bool ok = ::fchmod(fd, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644) == 0;
    ok = ok && writeAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    if (folderFd >= 0) ::fsync(folderFd);
    return true;
}

enum class Edit { Write, Unchanged };

// One read-change-write of a profile file, serialised with every other writer
// of the folder through an advisory lock on the folder (writes to one file by
// two processes at once would otherwise lose one of them). The lock is on the
// folder rather than the file because the file is replaced, not rewritten.
bool updateFile(const std::string &file,
                const std::function<Edit(std::vector<std::string> &)> &change) {
    namespace fs = std::filesystem;
    const std::string target = writeTarget(file);
    fs::path folder = fs::path(target).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    fs::create_directories(folder, ec);
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        // A file system without locks (some network ones) is written unlocked.
        while (::flock(folderFd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    bool ok = false;
    // A file that exists but cannot be read is not replaced: its other entries would be lost.
    if (auto lines = readLines(target)) {
        switch (change(*lines)) {
            case Edit::Write:
                ok = replaceFile(target, folderFd, *lines);
                break;
            case Edit::Unchanged:
                ok = true;
                break;
        }
    }
    if (folderFd >= 0) ::close(folderFd);  // releases the lock
    return ok;
}

// "[section]", appended piece by piece ("[" + name warns with GCC 12, -Wrestrict).
std::string sectionHeader(std::string_view section) {
    std::string header;
    header.reserve(section.size() + 2);
    header.append("[").append(section).append("]");
    return header;
}

void appendSection(std::vector<std::string> &lines, std::string_view section,
                   const ProfileEntries &entries) {
    if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back(sectionHeader(section));
    for (const auto &[key, value] : entries)
        lines.push_back(key + "=" + value);
}

bool validName(std::string_view name) {
    return !name.empty() && name.find_first_of("\r\n[]=") == std::string_view::npos &&
           trim(name).size() == name.size();
}

}  // namespace

std::string getPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, const std::string &file) {
    auto lines = linesOf(file);
    auto range = findSection(lines, section);
    if (range) {
        for (std::size_t i = range->first + 1; i < range->second; ++i) {
            auto entry = keyOf(lines[i]);
            if (!entry || !equalsNoCase(entry->key, key)) continue;
            std::string_view value = entry->value;
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            if (value.empty()) break;
            return std::string(value);
        }
    }
    return std::string(defaultValue);
}

bool writePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string &file) {
    if (!validName(section) || (key && !validName(*key))) return false;
    if (value && value->find_first_of("\r\n") != std::string_view::npos) return false;
    return updateFile(file, [&](std::vector<std::string> &lines) {
        auto range = findSection(lines, section);
        if (!key) {
            if (!range) return Edit::Unchanged;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->first),
                        lines.begin() + static_cast<std::ptrdiff_t>(range->second));
            return Edit::Write;
        }
        if (!range) {
            if (!value) return Edit::Unchanged;
            appendSection(lines, section, {{std::string(*key), std::string(*value)}});
            return Edit::Write;
        }
        std::size_t lastEntry = range->first;
        for (std::size_t i = range->first + 1; i < range->second; ++i) {
            if (!trim(lines[i]).empty()) lastEntry = i;
            auto entry = keyOf(lines[i]);
            if (!entry || !equalsNoCase(entry->key, *key)) continue;
            if (value) {
                lines[i] = std::string(entry->key) + "=" + std::string(*value);
            } else {
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            }
            return Edit::Write;
        }
        if (!value) return Edit::Unchanged;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1),
                     std::string(*key) + "=" + std::string(*value));
        return Edit::Write;
    });
}

bool writePrivateProfileSection(std::string_view section,
                                const std::optional<ProfileEntries> &entries,
                                const std::string &file) {
    if (!validName(section)) return false;
    if (entries) {
        for (const auto &[key, value] : *entries) {
            if (!validName(key) || value.find_first_of("\r\n") != std::string::npos) return false;
        }
    }
    return updateFile(file, [&](std::vector<std::string> &lines) {
        auto range = findSection(lines, section);
        if (!range && !entries) return Edit::Unchanged;
        if (range) {
            // A replaced section keeps the blank lines that set it apart from the next.
            std::size_t end = range->second;
            while (entries && end > range->first + 1 && trim(lines[end - 1]).empty())
                --end;
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->first),
                        lines.begin() + static_cast<std::ptrdiff_t>(end));
        }
        if (!entries) return Edit::Write;
        if (range) {
            // In its old place, so that the file's order stays as it was.
            std::vector<std::string> block;
            block.push_back(sectionHeader(section));
            for (const auto &[key, value] : *entries)
                block.push_back(key + "=" + value);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(range->first), block.begin(),
                         block.end());
        } else {
            appendSection(lines, section, *entries);
        }
        return Edit::Write;
    });
}

std::vector<std::string> getPrivateProfileSectionNames(const std::string &file) {
    std::vector<std::string> names;
    for (const auto &line : linesOf(file)) {
        if (auto name = sectionOf(line)) names.emplace_back(*name);
    }
    return names;
}

}  // namespace lyx::platform
