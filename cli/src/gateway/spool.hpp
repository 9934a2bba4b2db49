// The gateway's store and forward: packets that cannot go to the broker at once wait on disk,
// in an SQLite file in write-ahead-log mode (DIR/spool.sqlite3), so that a long broker outage
// and a restart of the gateway (a crash, SIGKILL, a power cut) lose nothing that was
// committed; commits come at least once a second while packets come. The oldest are handed
// out first; a row is removed only once the broker has it (its acknowledgement at quality 1),
// so a row handed out but not yet acknowledged is published again after a restart. Beyond
// its size bound the oldest rows not yet handed out are dropped and counted.
//
// Used by one thread (the MQTT output's); counts() too.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace lyx::cli {

class Spool {
  public:
    using Clock = std::chrono::steady_clock;
    using WallClock = std::chrono::system_clock;
    // The longest a packet waits in memory before it is committed.
    static constexpr std::chrono::milliseconds kCommitEvery{500};

    struct Entry {
        std::int64_t id = 0;  // given by the spool
        std::string station;  // the topic level
        int tag = 0;
        WallClock::time_point time;  // when the gateway received it
        std::string payload;         // the packet's JSON as it is to be published
    };
    struct Counts {
        std::uint64_t packets = 0;  // held (on disk and waiting to be written)
        std::uint64_t bytes = 0;    // their size as the bound counts it
        std::uint64_t spooled = 0;  // taken in, this run
        std::uint64_t dropped = 0;  // dropped for the bound, this run
        std::optional<WallClock::time_point> oldest;
    };

    // Opens or makes FOLDER/spool.sqlite3 (making FOLDER when it is missing) and takes it for
    // this process alone. Raises std::runtime_error when it cannot: the folder is not
    // writable, the file is not a spool, or another gateway has it.
    Spool(const std::string &folder, std::uint64_t limit);
    ~Spool();
    Spool(const Spool &) = delete;
    Spool &operator=(const Spool &) = delete;

    const std::string &path() const { return path_; }

    void add(Entry entry);
    // Packets wait that were not handed out yet.
    bool pending() const { return !buffer_.empty() || cursor_ < newest_; }
    // Moves up to `most` of the oldest packets not yet handed out to the end of `out`
    // (committing what waits in memory first when the file has none left); returns how many.
    std::size_t next(std::vector<Entry> &out, std::size_t most);
    // The rows up to `id` (and every one before it) are with the broker: they go at the next
    // commit.
    void delivered(std::int64_t id);
    // When commit() is due, if anything waits for it.
    std::optional<Clock::time_point> commitDue() const;
    // Writes what waits, removes what was delivered, keeps to the bound. A failed write
    // (the disk is full) drops the packets it held, counted, and says so on standard error.
    void commit(Clock::time_point now);
    Counts counts() const { return counts_; }

  private:
    void close();
    void exec(const char *sql);
    sqlite3_stmt *prepare(const char *sql);
    std::uint64_t bound();  // drops the oldest not handed out while above the limit
    void readOldest();

    std::string path_;
    std::uint64_t limit_;
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *insert_ = nullptr;
    sqlite3_stmt *select_ = nullptr;
    sqlite3_stmt *sizeUpTo_ = nullptr;
    sqlite3_stmt *deleteUpTo_ = nullptr;
    sqlite3_stmt *oldestRows_ = nullptr;
    sqlite3_stmt *deleteRange_ = nullptr;
    sqlite3_stmt *oldestTime_ = nullptr;

    std::vector<Entry> buffer_;
    std::optional<Clock::time_point> bufferedSince_;
    std::optional<Clock::time_point> deliveredSince_;
    std::int64_t cursor_ = 0;     // the newest row handed out
    std::int64_t newest_ = 0;     // the newest row in the file
    std::int64_t delivered_ = 0;  // rows up to it are to be removed
    std::int64_t removed_ = 0;    // rows up to it are removed
    Counts counts_;
};

// A row's size as the bound counts it: its texts and a fixed share for the rest.
std::uint64_t spoolBytes(const std::string &station, const std::string &payload);

}  // namespace lyx::cli
