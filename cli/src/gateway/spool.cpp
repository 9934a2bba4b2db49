#include "spool.hpp"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace lyx::cli {

namespace {

// What a row costs beyond its texts: its ID, tag, time and the file's own keeping.
constexpr std::uint64_t kRowOverhead = 32;
constexpr int kDropBatch = 512;

std::int64_t toMs(Spool::WallClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

Spool::WallClock::time_point fromMs(std::int64_t ms) {
    return Spool::WallClock::time_point(std::chrono::milliseconds(ms));
}

std::string text(sqlite3_stmt *s, int column) {
    const auto *p = reinterpret_cast<const char *>(::sqlite3_column_text(s, column));
    return p == nullptr ? std::string() : std::string(p, ::sqlite3_column_bytes(s, column));
}

// Resets a statement when the scope ends, whatever happened.
struct Reset {
    sqlite3_stmt *s;
    ~Reset() {
        ::sqlite3_reset(s);
        ::sqlite3_clear_bindings(s);
    }
};

}  // namespace

std::uint64_t spoolBytes(const std::string &station, const std::string &payload) {
    return station.size() + payload.size() + kRowOverhead;
}

Spool::Spool(const std::string &folder, std::uint64_t limit)
    : path_(folder + "/spool.sqlite3"), limit_(limit) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::runtime_error("--spool: cannot make " + folder + ": " + std::strerror(errno));
    if (::sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                          nullptr) != SQLITE_OK) {
        const std::string why = db_ != nullptr ? ::sqlite3_errmsg(db_) : "out of memory";
        ::sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("--spool: cannot open " + path_ + ": " + why);
    }
    try {
        // This process alone: a second gateway on the same folder would publish the same
        // packets. The exclusive lock is taken by the first write and kept.
        exec("PRAGMA locking_mode=EXCLUSIVE");
        exec("PRAGMA journal_mode=WAL");
        // Every commit is on the disk when it returns.
        exec("PRAGMA synchronous=FULL");
        exec("BEGIN IMMEDIATE");
        exec(
            "CREATE TABLE IF NOT EXISTS packets (id INTEGER PRIMARY KEY AUTOINCREMENT, "
            "station TEXT NOT NULL, tag INTEGER NOT NULL, time INTEGER NOT NULL, "
            "payload TEXT NOT NULL)");
        exec("COMMIT");
        insert_ = prepare("INSERT INTO packets (station, tag, time, payload) VALUES (?, ?, ?, ?)");
        select_ = prepare(
            "SELECT id, station, tag, time, payload FROM packets WHERE id > ? ORDER BY id LIMIT ?");
        sizeUpTo_ = prepare(
            "SELECT COUNT(*), COALESCE(SUM(length(CAST(station AS BLOB)) + "
            "length(CAST(payload AS BLOB))), 0) FROM packets WHERE id > ? AND id <= ?");
        deleteUpTo_ = prepare("DELETE FROM packets WHERE id <= ?");
        oldestRows_ = prepare(
            "SELECT id, length(CAST(station AS BLOB)) + length(CAST(payload AS BLOB)) FROM "
            "packets WHERE id > ? ORDER BY id LIMIT ?");
        deleteRange_ = prepare("DELETE FROM packets WHERE id > ? AND id <= ?");
        oldestTime_ = prepare("SELECT time FROM packets ORDER BY id LIMIT 1");
        sqlite3_stmt *held = prepare(
            "SELECT COUNT(*), COALESCE(SUM(length(CAST(station AS BLOB)) + "
            "length(CAST(payload AS BLOB))), 0), COALESCE(MAX(id), 0) FROM packets");
        if (::sqlite3_step(held) == SQLITE_ROW) {
            counts_.packets = static_cast<std::uint64_t>(::sqlite3_column_int64(held, 0));
            counts_.bytes = static_cast<std::uint64_t>(::sqlite3_column_int64(held, 1)) +
                            counts_.packets * kRowOverhead;
            newest_ = ::sqlite3_column_int64(held, 2);
        }
        ::sqlite3_finalize(held);
        readOldest();
    } catch (...) {
        close();
        throw;
    }
}

Spool::~Spool() {
    close();
}

void Spool::close() {
    for (sqlite3_stmt *s :
         {insert_, select_, sizeUpTo_, deleteUpTo_, oldestRows_, deleteRange_, oldestTime_})
        ::sqlite3_finalize(s);
    insert_ = select_ = sizeUpTo_ = deleteUpTo_ = oldestRows_ = deleteRange_ = oldestTime_ =
        nullptr;
    if (db_ != nullptr) ::sqlite3_close(db_);
    db_ = nullptr;
}

void Spool::exec(const char *sql) {
    char *error = nullptr;
    if (::sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const int code = ::sqlite3_errcode(db_);
        std::string why = error != nullptr ? error : ::sqlite3_errmsg(db_);
        ::sqlite3_free(error);
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) why = "another gateway is using it";
        throw std::runtime_error("--spool: " + path_ + ": " + why);
    }
}

sqlite3_stmt *Spool::prepare(const char *sql) {
    sqlite3_stmt *s = nullptr;
    if (::sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK)
        throw std::runtime_error("--spool: " + path_ + ": " + ::sqlite3_errmsg(db_));
    return s;
}

void Spool::add(Entry entry) {
    const std::uint64_t bytes = spoolBytes(entry.station, entry.payload);
    ++counts_.packets;
    counts_.bytes += bytes;
    ++counts_.spooled;
    if (!counts_.oldest) counts_.oldest = entry.time;
    if (!bufferedSince_) bufferedSince_ = Clock::now();
    buffer_.push_back(std::move(entry));
}

std::size_t Spool::next(std::vector<Entry> &out, std::size_t most) {
    if (cursor_ >= newest_ && !buffer_.empty()) commit(Clock::now());
    Reset reset{select_};
    ::sqlite3_bind_int64(select_, 1, cursor_);
    ::sqlite3_bind_int64(select_, 2, static_cast<std::int64_t>(most));
    std::size_t n = 0;
    int rc = SQLITE_ROW;
    while ((rc = ::sqlite3_step(select_)) == SQLITE_ROW) {
        Entry e;
        e.id = ::sqlite3_column_int64(select_, 0);
        e.station = text(select_, 1);
        e.tag = ::sqlite3_column_int(select_, 2);
        e.time = fromMs(::sqlite3_column_int64(select_, 3));
        e.payload = text(select_, 4);
        cursor_ = e.id;
        out.push_back(std::move(e));
        ++n;
    }
    if (rc != SQLITE_DONE) {
        // Unreadable rows: the file is damaged there. What follows them is still tried.
        std::fprintf(stderr, "lyx mqtt: spool %s: cannot read: %s; skipping it\n", path_.c_str(),
                     ::sqlite3_errmsg(db_));
        cursor_ = newest_;
    }
    return n;
}

void Spool::delivered(std::int64_t id) {
    if (id <= delivered_) return;
    delivered_ = id;
    if (!deliveredSince_) deliveredSince_ = Clock::now();
}

std::optional<Spool::Clock::time_point> Spool::commitDue() const {
    std::optional<Clock::time_point> due;
    if (bufferedSince_) due = *bufferedSince_ + kCommitEvery;
    if (deliveredSince_ && (!due || *deliveredSince_ + kCommitEvery < *due))
        due = *deliveredSince_ + kCommitEvery;
    return due;
}

void Spool::commit(Clock::time_point) {
    if (buffer_.empty() && delivered_ <= removed_) return;
    const auto step = [&](sqlite3_stmt *s) {
        Reset reset{s};
        const int rc = ::sqlite3_step(s);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(::sqlite3_errmsg(db_));
    };
    std::uint64_t removedPackets = 0;
    std::uint64_t removedBytes = 0;
    const std::int64_t newestBefore = newest_;
    try {
        exec("BEGIN IMMEDIATE");
        for (const Entry &e : buffer_) {
            ::sqlite3_bind_text(insert_, 1, e.station.data(), static_cast<int>(e.station.size()),
                                SQLITE_STATIC);
            ::sqlite3_bind_int(insert_, 2, e.tag);
            ::sqlite3_bind_int64(insert_, 3, toMs(e.time));
            ::sqlite3_bind_text(insert_, 4, e.payload.data(), static_cast<int>(e.payload.size()),
                                SQLITE_STATIC);
            step(insert_);
            newest_ = ::sqlite3_last_insert_rowid(db_);
        }
        if (delivered_ > removed_) {
            {
                Reset reset{sizeUpTo_};
                ::sqlite3_bind_int64(sizeUpTo_, 1, removed_);
                ::sqlite3_bind_int64(sizeUpTo_, 2, delivered_);
                if (::sqlite3_step(sizeUpTo_) == SQLITE_ROW) {
                    removedPackets =
                        static_cast<std::uint64_t>(::sqlite3_column_int64(sizeUpTo_, 0));
                    removedBytes =
                        static_cast<std::uint64_t>(::sqlite3_column_int64(sizeUpTo_, 1)) +
                        removedPackets * kRowOverhead;
                }
            }
            ::sqlite3_bind_int64(deleteUpTo_, 1, delivered_);
            step(deleteUpTo_);
        }
        exec("COMMIT");
    } catch (const std::exception &e) {
        ::sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        newest_ = newestBefore;
        std::uint64_t lostBytes = 0;
        for (const Entry &entry : buffer_)
            lostBytes += spoolBytes(entry.station, entry.payload);
        std::fprintf(stderr, "lyx mqtt: spool %s: cannot write (%s); %zu packets lost\n",
                     path_.c_str(), e.what(), buffer_.size());
        counts_.packets -= buffer_.size();
        counts_.bytes -= lostBytes;
        counts_.dropped += buffer_.size();
        buffer_.clear();
        bufferedSince_.reset();
        // The removals are tried again later, not at once.
        if (deliveredSince_) deliveredSince_ = Clock::now();
        readOldest();
        return;
    }
    buffer_.clear();
    bufferedSince_.reset();
    deliveredSince_.reset();
    counts_.packets -= std::min(counts_.packets, removedPackets);
    counts_.bytes -= std::min(counts_.bytes, removedBytes);
    removed_ = std::max(removed_, delivered_);
    if (counts_.bytes > limit_) bound();
    readOldest();
}

std::uint64_t Spool::bound() {
    std::uint64_t dropped = 0;
    while (counts_.bytes > limit_) {
        // The oldest rows not yet handed out, as many as bring it under the bound.
        const std::int64_t from = std::max(cursor_, removed_);
        std::int64_t upTo = from;
        std::uint64_t packets = 0;
        std::uint64_t bytes = 0;
        {
            Reset reset{oldestRows_};
            ::sqlite3_bind_int64(oldestRows_, 1, from);
            ::sqlite3_bind_int(oldestRows_, 2, kDropBatch);
            while (counts_.bytes - bytes > limit_ && ::sqlite3_step(oldestRows_) == SQLITE_ROW) {
                upTo = ::sqlite3_column_int64(oldestRows_, 0);
                bytes += static_cast<std::uint64_t>(::sqlite3_column_int64(oldestRows_, 1)) +
                         kRowOverhead;
                ++packets;
            }
        }
        if (packets == 0) break;  // all handed out already
        Reset reset{deleteRange_};
        ::sqlite3_bind_int64(deleteRange_, 1, from);
        ::sqlite3_bind_int64(deleteRange_, 2, upTo);
        if (::sqlite3_step(deleteRange_) != SQLITE_DONE) {
            std::fprintf(stderr, "lyx mqtt: spool %s: cannot drop the oldest: %s\n", path_.c_str(),
                         ::sqlite3_errmsg(db_));
            break;
        }
        counts_.packets -= std::min(counts_.packets, packets);
        counts_.bytes -= std::min(counts_.bytes, bytes);
        counts_.dropped += packets;
        dropped += packets;
        // Handed out from here on: the cursor skips what is gone.
        cursor_ = std::max(cursor_, upTo);
    }
    return dropped;
}

void Spool::readOldest() {
    Reset reset{oldestTime_};
    if (::sqlite3_step(oldestTime_) == SQLITE_ROW)
        counts_.oldest = fromMs(::sqlite3_column_int64(oldestTime_, 0));
    else if (!buffer_.empty())
        counts_.oldest = buffer_.front().time;
    else
        counts_.oldest.reset();
}

}  // namespace lyx::cli
