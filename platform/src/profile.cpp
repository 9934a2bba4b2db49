// Private profile files on plain text INI files.

#include "lyx/platform/profile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

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

bool writeLines(const std::string &file, const std::vector<std::string> &lines) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path path(file);
    if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
    std::string temp = file + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    std::string text;
    for (const auto &line : lines)
        text += line + "\n";
    bool ok = true;
    for (std::size_t done = 0; done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // Keep the mode of the file being replaced; a new file gets 0644.
    struct stat old {};
    ::fchmod(fd, ::stat(file.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
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

    // A file that exists but cannot be read is not replaced: its other entries would be lost.
    auto read = readLines(file);
    if (!read) return false;
    auto &lines = *read;
    auto range = findSection(lines, section);
    if (!key) {
        if (!range) return true;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->first),
                    lines.begin() + static_cast<std::ptrdiff_t>(range->second));
        return writeLines(file, lines);
    }
    if (!range) {
        if (!value) return true;
        if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
        std::string header;
        header.reserve(section.size() + 2);
        header.append("[").append(section).append("]");
        lines.push_back(std::move(header));
        lines.push_back(std::string(*key) + "=" + std::string(*value));
        return writeLines(file, lines);
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
        return writeLines(file, lines);
    }
    if (!value) return true;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1),
                 std::string(*key) + "=" + std::string(*value));
    return writeLines(file, lines);
}

std::vector<std::string> getPrivateProfileSectionNames(const std::string &file) {
    std::vector<std::string> names;
    for (const auto &line : linesOf(file)) {
        if (auto name = sectionOf(line)) names.emplace_back(*name);
    }
    return names;
}

}  // namespace lyx::platform
