// The private copy of the driver library that each DataProvider object loads:
// a new file in the temporary folder named "Lyx" + YYMMDDHHMMSS + a random
// number from 0 to 99999 + ".so".
//
// The copy is created safely: opened with O_CREAT | O_EXCL | O_NOFOLLOW and
// mode 0700, so a file or symbolic link that already has the chosen name is
// never followed, overwritten or reused; a new random number is drawn instead.
// The file is deleted when the copy goes, but only while it is still the file
// that was created: the copy keeps its file open, so that the file's identity
// (device and inode) cannot pass to another file meanwhile.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace lyx::dataprovider {

// `TMPDIR`, or /tmp when it is unset or empty.
std::string temporaryFolder();

// "Lyx250102030405" + number + ".so" for 03:04:05 on 2 January 2025.
std::string copyFileName(const std::tm &localTime, std::uint32_t number);

// Yields candidate file names, a new one on every call.
using NameSource = std::function<std::string()>;

// Names from the local time and a random number; the generator starts from
// the clock.
NameSource randomCopyNames();

class PrivateDriverCopy {
  public:
    // Copies `source` into `folder` under the first free name from `names`.
    // Raises AutomationError with the file error (file not found, permission
    // denied, path not found, path/file access error) when it cannot.
    static PrivateDriverCopy create(const std::string &source, const std::string &folder,
                                    const NameSource &names);

    PrivateDriverCopy(PrivateDriverCopy &&other) noexcept;
    PrivateDriverCopy &operator=(PrivateDriverCopy &&other) noexcept;
    PrivateDriverCopy(const PrivateDriverCopy &) = delete;
    PrivateDriverCopy &operator=(const PrivateDriverCopy &) = delete;
    ~PrivateDriverCopy();

    const std::string &path() const { return path_; }
    // Deletes the file now; false when it was already gone or replaced.
    bool remove();

  private:
    PrivateDriverCopy(std::string path, int fd, dev_t device, ino_t inode)
        : path_(std::move(path)), fd_(fd), device_(device), inode_(inode) {}

    std::string path_;  // empty once removed
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace lyx::dataprovider
