#include "log_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace lyx::cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

class LogFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/lyx-log-test-XXXXXX";
        folder_ = mkdtemp(name);
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string &name) const { return (folder_ / name).string(); }

    static Packet packet(int n, Clock::time_point time) {
        Packet p;
        p.time = time;
        p.sinceStartMs = n;
        p.station = 1;
        p.tag = 7;
        p.value = std::to_string(n);
        return p;
    }

    static std::vector<std::string> lines(const fs::path &file) {
        std::ifstream in(file);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

    std::vector<fs::path> files() const {
        std::vector<fs::path> out;
        for (const auto &entry : fs::directory_iterator(folder_))
            out.push_back(entry.path());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path folder_;
};

const Clock::time_point kNoon = Clock::time_point(std::chrono::seconds(1'700'000'000));

TEST_F(LogFolder, SizeRotationKeepsEveryRowOnceWithAHeaderOnEveryFile) {
    LogOptions options{path("run.csv"), LogFormat::Csv, 400, 0};
    {
        LogWriter log(options, kNoon);
        for (int n = 0; n < 40; ++n)
            log.add(packet(n, kNoon));
        log.close();
        EXPECT_EQ(log.rowsWritten(), 40u);
        EXPECT_EQ(log.rowsWaiting(), 0u);
    }
    std::vector<int> seen;
    const auto all = files();
    ASSERT_GT(all.size(), 3u);
    for (const auto &file : all) {
        EXPECT_LE(fs::file_size(file), 400u) << file;
        const auto rows = lines(file);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0], std::string(csvHeader())) << file;
        for (std::size_t i = 1; i < rows.size(); ++i)
            seen.push_back(std::stoi(rows[i].substr(rows[i].find(',') + 1)));
    }
    // A name without time fields gets a counter: run.csv, run-1.csv, run-2.csv, ...
    EXPECT_TRUE(fs::exists(path("run.csv")));
    EXPECT_TRUE(fs::exists(path("run-1.csv")));
    std::sort(seen.begin(), seen.end());
    std::vector<int> expected(40);
    for (int n = 0; n < 40; ++n)
        expected[static_cast<std::size_t>(n)] = n;
    EXPECT_EQ(seen, expected);
}

TEST_F(LogFolder, TimeRotationStartsFilesOnBoundariesNamedByTheirTime) {
    LogOptions options{path("run-%H%M%S.jsonl"), LogFormat::JsonLines, 0, 10};
    const auto at = [](int seconds) { return kNoon + std::chrono::seconds(seconds); };
    LogWriter log(options, at(3));  // 22:13:23 UTC; periods start at :30, :40, :50
    log.add(packet(0, at(4)));
    log.add(packet(1, at(6)));
    log.add(packet(2, at(12)));  // 22:13:32, in the next period by the packet's own time
    log.tick(at(21));            // 22:13:41: a file for the period even without a packet
    log.add(packet(3, at(30)));
    log.close();
    const auto all = files();
    std::vector<std::string> names;
    for (const auto &f : all)
        names.push_back(f.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"run-221323.jsonl", "run-221332.jsonl",
                                               "run-221341.jsonl", "run-221350.jsonl"}));
    EXPECT_EQ(lines(all[0]).size(), 2u);  // JSON Lines: no header
    EXPECT_EQ(lines(all[1]).size(), 1u);
    EXPECT_TRUE(lines(all[2]).empty());
    EXPECT_NE(lines(all[3])[0].find("\"ms\":3,"), std::string::npos);
}

TEST_F(LogFolder, AnExistingFileIsContinuedWithoutASecondHeader) {
    LogOptions options{path("data.csv"), LogFormat::Csv, 0, 0};
    for (int run = 0; run < 2; ++run) {
        LogWriter log(options, kNoon);
        log.add(packet(run, kNoon));
        log.close();
    }
    const auto rows = lines(path("data.csv"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], std::string(csvHeader()));
    EXPECT_EQ(std::count(rows.begin(), rows.end(), std::string(csvHeader())), 1);
}

TEST_F(LogFolder, FailuresAreReportedWithTheFileAndTheRowsNotWritten) {
    try {
        LogWriter log({path("missing/run.csv"), LogFormat::Csv, 0, 0}, kNoon);
        FAIL() << "opened a file in a missing folder";
    } catch (const LogError &e) {
        EXPECT_NE(std::string(e.what()).find("cannot open " + path("missing/run.csv")),
                  std::string::npos);
    }
    // A full disk: the header of a CSV file already fails.
    EXPECT_THROW(LogWriter({"/dev/full", LogFormat::Csv, 0, 0}, kNoon), LogError);
    LogWriter log({"/dev/full", LogFormat::JsonLines, 0, 0}, kNoon);
    log.add(packet(1, kNoon));
    log.add(packet(2, kNoon));
    try {
        log.flush();
        FAIL() << "a write to a full disk succeeded";
    } catch (const LogError &e) {
        EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos);
    }
    EXPECT_EQ(log.rowsWritten(), 0u);
    EXPECT_EQ(log.rowsWaiting(), 2u);
}

TEST(LogNames, CountersGoBeforeTheExtension) {
    EXPECT_EQ(numberedName("run.csv", 2), "run-2.csv");
    EXPECT_EQ(numberedName("/a.b/data", 1), "/a.b/data-1");
    EXPECT_EQ(numberedName("/logs/.hidden", 3), "/logs/.hidden-3");
    EXPECT_EQ(expandName("plain.csv", kNoon), "plain.csv");
}

}  // namespace
}  // namespace lyx::cli
