#include "private_copy.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <utility>

#include "lyx/platform/automation_error.hpp"

namespace lyx::dataprovider {
namespace {

using platform::AutomationError;
namespace errors = platform::errors;

constexpr int kNameAttempts = 100;

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// The automation file error for `error` on `path`.
[[noreturn]] void fileError(int error, const std::string &path, bool folderMissing) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            if (folderMissing)
                throw AutomationError(errors::kPathNotFound, "Path not found: " + path);
            throw AutomationError(errors::kFileNotFound, "File not found: " + path);
        case EACCES:
        case EPERM:
        case EROFS:
            throw AutomationError(errors::kPermissionDenied, "Permission denied: " + path);
        default:
            throw AutomationError(errors::kPathFileAccess,
                                  "Path/File access error: " + path + ": " + std::strerror(error));
    }
}

bool copyAll(int from, int to) {
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += w;
        }
    }
}

}  // namespace

std::string temporaryFolder() {
    const char *tmp = std::getenv("TMPDIR");
    if (tmp == nullptr || *tmp == '\0') return "/tmp";
    std::string folder = tmp;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string copyFileName(const std::tm &localTime, std::uint32_t number) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d%02d%02d", localTime.tm_year % 100,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                  localTime.tm_sec);
    return "Lyx" + std::string(stamp) + std::to_string(number) + ".so";
}

NameSource randomCopyNames() {
    auto randomKey = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
    auto generator = std::make_shared<std::mt19937_64>(randomKey);
    return [generator] {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        // The whole part of a uniform fraction times 100000.
        std::uniform_int_distribution<std::uint32_t> number(0, 99999);
        return copyFileName(local, number(*generator));
    };
}

PrivateDriverCopy PrivateDriverCopy::create(const std::string &source, const std::string &folder,
                                            const NameSource &names) {
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) fileError(errno, source, false);

    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string path = folder + "/" + names();
        Descriptor out(
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
        if (out.get() < 0) {
            if (errno == EEXIST) continue;  // somebody's file or link: draw again
            fileError(errno, errno == ENOENT || errno == ENOTDIR ? folder : path, true);
        }
        struct stat created {};
        const bool written = ::fchmod(out.get(), 0700) == 0 && copyAll(in.get(), out.get()) &&
                             ::fstat(out.get(), &created) == 0;
        if (!written) {
            const int error = errno;
            ::unlink(path.c_str());
            fileError(error, path, false);
        }
        return PrivateDriverCopy(std::move(path), out.release(), created.st_dev, created.st_ino);
    }
    throw AutomationError(errors::kPathFileAccess,
                          "Path/File access error: no free name for the driver copy in " + folder);
}

PrivateDriverCopy::PrivateDriverCopy(PrivateDriverCopy &&other) noexcept
    : path_(std::exchange(other.path_, {})),
      fd_(std::exchange(other.fd_, -1)),
      device_(other.device_),
      inode_(other.inode_) {}

PrivateDriverCopy &PrivateDriverCopy::operator=(PrivateDriverCopy &&other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::exchange(other.path_, {});
        fd_ = std::exchange(other.fd_, -1);
        device_ = other.device_;
        inode_ = other.inode_;
    }
    return *this;
}

PrivateDriverCopy::~PrivateDriverCopy() {
    remove();
}

bool PrivateDriverCopy::remove() {
    if (path_.empty()) return false;
    std::string path = std::exchange(path_, {});
    struct stat now {};
    const bool ours =
        ::lstat(path.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_;
    const bool removed = ours && ::unlink(path.c_str()) == 0;
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    return removed;
}

}  // namespace lyx::dataprovider
