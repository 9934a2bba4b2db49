#include "log_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace lyx::cli {

namespace {

// Rows are written at the latest when this much waits, whatever the timer.
constexpr std::size_t kWriteThreshold = 64 * 1024;

std::string failure(const std::string &what, const std::string &path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

bool exists(const std::string &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string expandName(const std::string &pattern, std::chrono::system_clock::time_point time) {
    if (pattern.find('%') == std::string::npos) return pattern;
    const std::time_t t = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&t, &local);
    std::string out(pattern.size() * 4 + 64, '\0');
    for (;;) {
        // A trailing blank tells an empty expansion from a buffer too small.
        const std::string format = pattern + " ";
        const std::size_t n = std::strftime(out.data(), out.size(), format.c_str(), &local);
        if (n > 0) {
            out.resize(n - 1);
            break;
        }
        if (out.size() > 65536) throw LogError("the file name " + pattern + " is too long");
        out.resize(out.size() * 2);
    }
    if (out.empty()) throw LogError("the file name " + pattern + " expands to nothing");
    return out;
}

std::string numberedName(const std::string &path, int counter) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
    // Appended rather than "-" + to_string(): GCC 12 warns (-Wrestrict) about
    // the inlined insert at the front of a temporary, which cannot overlap.
    std::string suffix = "-";
    suffix += std::to_string(counter);
    if (!hasExtension) return path + suffix;
    return path.substr(0, dot) + suffix + path.substr(dot);
}

LogWriter::LogWriter(LogOptions options, Clock::time_point now) : options_(std::move(options)) {
    open(now, false);
}

LogWriter::~LogWriter() {
    try {
        close();
    } catch (const LogError &) {
    }
}

std::string LogWriter::nameFor(Clock::time_point now, bool rotation) const {
    const std::string name = expandName(options_.pattern, now);
    // A new period or size limit never reopens a file this run has written, nor
    // one that exists: a name without time fields gets a counter.
    if (!rotation) return name;
    if (!used_.count(name) && !exists(name)) return name;
    for (int counter = 1;; ++counter) {
        std::string candidate = numberedName(name, counter);
        if (!used_.count(candidate) && !exists(candidate)) return candidate;
    }
}

LogWriter::Clock::time_point LogWriter::nextBoundary(Clock::time_point now) const {
    // Periods are counted in local time, so hourly files start on the hour and
    // daily files at midnight.
    const std::time_t t = Clock::to_time_t(now);
    std::tm local{};
    localtime_r(&t, &local);
    const double offset = static_cast<double>(local.tm_gmtoff);
    const double seconds = std::chrono::duration<double>(now.time_since_epoch()).count() + offset;
    const double next = (std::floor(seconds / options_.rotateEvery) + 1.0) * options_.rotateEvery;
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(next - offset)));
}

void LogWriter::open(Clock::time_point now, bool rotation) {
    path_ = nameFor(now, rotation);
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) throw LogError(failure("cannot open", path_, errno));
    used_.insert(path_);
    struct stat info {};
    fileSize_ = ::fstat(fd_, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    headerSize_ = 0;
    // An existing file is continued, never overwritten; it already has its header.
    if (fileSize_ == 0 && options_.format == LogFormat::Csv) {
        const std::string header = std::string(csvHeader()) + "\n";
        buffer_ += header;
        fileSize_ += header.size();
        headerSize_ = header.size();
        flush();
    }
    rotateAt_ = options_.rotateEvery > 0 ? nextBoundary(now) : Clock::time_point::max();
}

void LogWriter::writeAll(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw LogError(failure("cannot write", path_, errno));
        }
        done += static_cast<std::size_t>(n);
    }
}

void LogWriter::flush() {
    if (buffer_.empty() || fd_ < 0) return;
    writeAll(buffer_);
    buffer_.clear();
    if (rowsWaiting_ > 0) {
        const auto waited = std::chrono::steady_clock::now() - oldestWaiting_;
        if (waited > longestWait_) longestWait_ = waited;
    }
    rowsWritten_ += rowsWaiting_;
    rowsWaiting_ = 0;
}

void LogWriter::closeFile() {
    if (fd_ < 0) return;
    const int fd = fd_;
    try {
        flush();
    } catch (...) {
        ::close(fd);
        fd_ = -1;
        throw;
    }
    fd_ = -1;
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    if (::close(fd) != 0) throw LogError(failure("cannot close", path_, errno));
    // A device such as a pipe cannot be synced; that is not a loss.
    if (!synced && syncError != EINVAL && syncError != EROFS)
        throw LogError(failure("cannot sync", path_, syncError));
}

void LogWriter::rotate(Clock::time_point now) {
    closeFile();
    open(now, true);
}

void LogWriter::tick(Clock::time_point now) {
    if (fd_ >= 0 && now >= rotateAt_) rotate(now);
}

void LogWriter::add(const Packet &p) {
    if (fd_ < 0) throw LogError("the log " + path_ + " is closed");
    if (p.time >= rotateAt_) rotate(p.time);
    std::string row;
    if (options_.format == LogFormat::Csv) {
        row = csvRow(p);
    } else {
        PacketLabels labels;
        if (const auto it = options_.names.find(p.tag); it != options_.names.end()) {
            labels.name = it->second.name;
            labels.unit = it->second.unit;
        }
        row = jsonObject(p, true, labels);
    }
    row += '\n';
    if (options_.rotateSize > 0 && fileSize_ > headerSize_ &&
        fileSize_ + row.size() > options_.rotateSize)
        rotate(p.time);
    if (rowsWaiting_ == 0) oldestWaiting_ = std::chrono::steady_clock::now();
    buffer_ += row;
    fileSize_ += row.size();
    ++rowsWaiting_;
    if (buffer_.size() >= kWriteThreshold) flush();
}

void LogWriter::close() {
    closeFile();
}

}  // namespace lyx::cli
