// Continuous packet logging to CSV or JSON Lines files, with rotation by size
// and by time. Rows collect in memory and are written out by flush(), which the
// log command calls at least every second; a file is fsync()ed when it is
// closed. Writes go out in whole rows, so a file cut short by a crash still
// ends on a row boundary.
#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

#include "lyx/tags/tag_file.hpp"
#include "packet.hpp"

namespace lyx::cli {

enum class LogFormat { Csv, JsonLines };

struct LogOptions {
    std::string pattern;  // file name, may hold strftime fields
    LogFormat format = LogFormat::Csv;
    std::uint64_t rotateSize = 0;  // bytes; 0 = no rotation by size
    double rotateEvery = 0;        // seconds; 0 = no rotation by time
    tags::TagNames names{};        // JSON Lines rows get the name and unit of their tag
};

// A file could not be opened, written or closed; nothing more is logged.
class LogError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class LogWriter {
  public:
    using Clock = std::chrono::system_clock;

    // Opens the first file (named for `now`); raises LogError when it cannot.
    LogWriter(LogOptions options, Clock::time_point now);
    ~LogWriter();  // closes without raising; call close() to learn of failures
    LogWriter(const LogWriter &) = delete;
    LogWriter &operator=(const LogWriter &) = delete;

    // Adds one row; may rotate first. Raises LogError when a rotation fails.
    void add(const Packet &p);
    // Writes the rows waiting; raises LogError on a failed write.
    void flush();
    // Rotates when the time period of the current file has ended.
    void tick(Clock::time_point now);
    // Writes what waits, fsyncs and closes; raises LogError on failure.
    void close();

    const std::string &currentPath() const { return path_; }
    std::uint64_t rowsWritten() const { return rowsWritten_; }
    std::uint64_t rowsWaiting() const { return rowsWaiting_; }
    std::size_t filesOpened() const { return used_.size(); }
    // The longest time a row waited in memory before it was written.
    std::chrono::steady_clock::duration longestWait() const { return longestWait_; }

  private:
    void open(Clock::time_point now, bool rotation);
    void closeFile();
    void rotate(Clock::time_point now);
    void writeAll(const std::string &bytes);
    std::string nameFor(Clock::time_point now, bool rotation) const;
    Clock::time_point nextBoundary(Clock::time_point now) const;

    LogOptions options_;
    int fd_ = -1;
    std::string path_;
    std::set<std::string> used_;
    std::uint64_t fileSize_ = 0;  // bytes in the file, written or waiting
    std::uint64_t headerSize_ = 0;
    std::string buffer_;
    std::uint64_t rowsWaiting_ = 0;
    std::uint64_t rowsWritten_ = 0;
    std::chrono::steady_clock::time_point oldestWaiting_;
    std::chrono::steady_clock::duration longestWait_{};
    Clock::time_point rotateAt_ = Clock::time_point::max();
};

// The file name for `pattern` at `time`: its strftime fields expanded in local
// time. Raises LogError for a pattern that expands to nothing.
std::string expandName(const std::string &pattern, std::chrono::system_clock::time_point time);

// "run.csv" with counter 2 gives "run-2.csv"; "data" gives "data-2".
std::string numberedName(const std::string &path, int counter);

}  // namespace lyx::cli
