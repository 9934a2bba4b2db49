// monitor, table and log: the subcommands that run until they are stopped.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "event_loop.hpp"
#include "log_writer.hpp"
#include "network.hpp"
#include "station_watch.hpp"
#include "subcommand.hpp"
#include "table_view.hpp"

namespace lyx::cli {

namespace {

using std::chrono::milliseconds;

// How often rows are written to the log file, and the log checked for rotation.
constexpr milliseconds kLogWriteEvery{250};
constexpr milliseconds kTableRedrawTerminal{250};
constexpr milliseconds kTableRedrawPlain{1000};

std::vector<OptionSpec> withLink(std::vector<OptionSpec> options) {
    addLinkOptions(options);
    return options;
}

bool accepts(const std::vector<int> &tags, int tag) {
    return tags.empty() || std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// The streaming subcommands wait for packets whether or not a base station is
// there yet (one may be plugged in later); they only say so.
void warnIfNoStation(Network &net) {
    if (net.firstStation() != 0) return;
    std::fprintf(stderr, "lyx: no base station answers on %s yet; waiting for packets\n",
                 net.link().describe().c_str());
}

std::string perTag(const std::map<int, std::uint64_t> &counts) {
    std::uint64_t total = 0;
    std::string list;
    for (const auto &[tag, count] : counts) {
        total += count;
        list += (list.empty() ? "" : ", ") + std::string("tag ") + std::to_string(tag) + ": " +
                std::to_string(count);
    }
    std::string out = std::to_string(total) + (total == 1 ? " packet" : " packets");
    if (!list.empty()) out += " (" + list + ")";
    return out;
}

int monitor(const Arguments &args) {
    args.expectPositional(0, 0, "");
    const auto tags = tagFilter(args);
    const bool json = args.has("--json");
    const LinkOptions link = LinkOptions::from(args);
    const tags::TagNames names = tagFile(args).names;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    EventLoop loop;
    Network net(link);
    std::map<int, std::uint64_t> counts;
    net.addPacketHandler([&](const Packet &p) {
        if (!accepts(tags, p.tag)) return;
        ++counts[p.tag];
        std::string line;
        if (json) {
            PacketLabels labels;
            if (const auto it = names.find(p.tag); it != names.end()) {
                labels.name = it->second.name;
                labels.unit = it->second.unit;
            }
            line = jsonObject(p, false, labels);
        } else {
            line = textLine(p);
        }
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
    });
    warnIfNoStation(net);
    reportStationChanges(loop, net);
    const auto start = std::chrono::steady_clock::now();
    loop.run();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fflush(stdout);
    std::fprintf(stderr, "lyx: %s in %.1f s\n", perTag(counts).c_str(), seconds);
    std::fprintf(stderr, "lyx: %s\n", describeLink(net.linkStatistics()).c_str());
    return 0;
}

std::size_t terminalWidth() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 200;
}

int table(const Arguments &args) {
    args.expectPositional(0, 0, "");
    const auto wanted = tagFilter(args);
    const LinkOptions link = LinkOptions::from(args);
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    const tags::TagNames names = tagFile(args).names;
    tags::TagTable model;
    tags::describeAll(model, names);
    nameTags(model, args.values("--name"));  // given on the command line: over the file's
    EventLoop loop;
    Network net(link);
    net.addPacketHandler([&](const Packet &p) {
        if (accepts(wanted, p.tag)) model.add(readingOf(p), std::chrono::steady_clock::now());
    });
    warnIfNoStation(net);
    // On a terminal the table's own screen hides standard error: the last
    // change of the base stations is shown under the title too.
    std::string stationNote;
    reportStationChanges(loop, net, [&](const std::string &text) {
        stationNote = isoTime(std::chrono::system_clock::now(), false).substr(11, 8) + " " + text;
    });
    if (terminal) std::fputs("\x1b[?1049h\x1b[?25l", stdout);  // own screen, no cursor
    const auto draw = [&] {
        const auto now = std::chrono::steady_clock::now();
        const std::string body =
            renderTable(model, now, terminal ? terminalWidth() : 512, terminal);
        if (terminal) {
            std::string frame = "\x1b[H";
            frame += "lyx table: " + link.describe() + ", " + std::to_string(model.size()) +
                     (model.size() == 1 ? " module" : " modules") + "  (Ctrl-C ends)\x1b[K\n" +
                     stationNote + "\x1b[K\n";
            for (std::size_t at = 0; at < body.size();) {
                const std::size_t end = body.find('\n', at);
                frame += body.substr(at, end - at) + "\x1b[K\n";
                at = end + 1;
            }
            frame += "\x1b[J";
            std::fputs(frame.c_str(), stdout);
        } else {
            std::fputs((isoTime(std::chrono::system_clock::now(), true) + "  " +
                        std::to_string(model.size()) +
                        (model.size() == 1 ? " module\n" : " modules\n") + body + "\n")
                           .c_str(),
                       stdout);
        }
        std::fflush(stdout);
    };
    loop.every(terminal ? kTableRedrawTerminal : kTableRedrawPlain, draw);
    draw();
    loop.run();
    if (terminal) {
        std::fputs("\x1b[?25h\x1b[?1049l", stdout);
        // The last picture stays on the normal screen.
        std::fputs(
            renderTable(model, std::chrono::steady_clock::now(), terminalWidth(), false).c_str(),
            stdout);
    }
    std::fflush(stdout);
    std::fprintf(stderr, "lyx: %s\n", describeLink(net.linkStatistics()).c_str());
    return 0;
}

LogFormat formatFor(const Arguments &args, const std::string &file) {
    if (auto format = args.value("--format")) {
        if (*format == "csv") return LogFormat::Csv;
        if (*format == "jsonl" || *format == "json") return LogFormat::JsonLines;
        throw UsageError("--format: '" + *format + "' is not csv or jsonl");
    }
    const auto ends = [&](std::string_view suffix) {
        return file.size() >= suffix.size() &&
               file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    return ends(".jsonl") || ends(".json") ? LogFormat::JsonLines : LogFormat::Csv;
}

int log(const Arguments &args) {
    args.expectWords({"FILE"});
    LogOptions options;
    options.pattern = args.positional()[0];
    options.format = formatFor(args, options.pattern);
    if (auto size = args.value("--rotate-size"))
        options.rotateSize = parseSize(*size, "--rotate-size");
    if (auto every = args.value("--rotate-every"))
        options.rotateEvery = parseDuration(*every, "--rotate-every");
    const auto tags = tagFilter(args);
    const LinkOptions link = LinkOptions::from(args);
    options.names = tagFile(args).names;
    EventLoop loop;
    std::unique_ptr<LogWriter> writer;
    try {
        writer = std::make_unique<LogWriter>(options, std::chrono::system_clock::now());
    } catch (const LogError &e) {
        throw Failure(1, e.what());
    }
    Network net(link);
    std::string failure;
    const auto fail = [&](const LogError &e) {
        failure = e.what();
        loop.stop();
    };
    net.addPacketHandler([&](const Packet &p) {
        if (!failure.empty() || !accepts(tags, p.tag)) return;
        try {
            writer->add(p);
        } catch (const LogError &e) {
            fail(e);
        }
    });
    std::fprintf(stderr, "lyx: logging to %s (Ctrl-C ends)\n", writer->currentPath().c_str());
    warnIfNoStation(net);
    reportStationChanges(loop, net);
    loop.every(kLogWriteEvery, [&] {
        if (!failure.empty()) return;
        try {
            writer->flush();
            writer->tick(std::chrono::system_clock::now());
        } catch (const LogError &e) {
            fail(e);
        }
    });
    loop.run();
    if (failure.empty()) {
        try {
            writer->close();
        } catch (const LogError &e) {
            failure = e.what();
        }
    }
    const std::string linkLine = describeLink(net.linkStatistics());
    if (!failure.empty()) {
        std::fprintf(stderr, "lyx: %s; %llu rows were written, %llu were not\n", failure.c_str(),
                     static_cast<unsigned long long>(writer->rowsWritten()),
                     static_cast<unsigned long long>(writer->rowsWaiting()));
        std::fprintf(stderr, "lyx: %s\n", linkLine.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "lyx: %llu rows in %zu %s, the last %s; longest wait before a write %.3f s\n",
                 static_cast<unsigned long long>(writer->rowsWritten()), writer->filesOpened(),
                 writer->filesOpened() == 1 ? "file" : "files", writer->currentPath().c_str(),
                 std::chrono::duration<double>(writer->longestWait()).count());
    std::fprintf(stderr, "lyx: %s\n", linkLine.c_str());
    return 0;
}

const OptionSpec kTagOption{"--tag", "T", "only tag T (repeat, or T1,T2,...)", true};

}  // namespace

OptionSpec tagsOption() {
    return {"--tags", "FILE",
            "name the tags from FILE (default ${XDG_CONFIG_HOME:-~/.config}/lyx/tags.ini)"};
}

tags::LoadedTags tagFile(const Arguments &args) {
    try {
        return tags::loadTagFile(args.value("--tags"));
    } catch (const tags::TagFileError &e) {
        throw Failure(2, std::string("tag file ") + e.what());
    }
}

std::vector<int> tagFilter(const Arguments &args) {
    std::vector<int> tags;
    for (const std::string &value : args.values("--tag")) {
        std::size_t at = 0;
        while (at <= value.size()) {
            const std::size_t comma = std::min(value.find(',', at), value.size());
            tags.push_back(static_cast<int>(
                parseInteger(std::string_view(value).substr(at, comma - at), 0, 65535, "--tag")));
            at = comma + 1;
        }
    }
    return tags;
}

std::vector<Subcommand> streamSubcommands() {
    return {
        {"monitor", "[--tag T]... [--json] [--tags FILE]", "print every packet as it arrives",
         "One line per packet: local time, base station, tag (decimal and hex), value, status, "
         "RSSI, CV and the battery-low and error flags. With --json, one JSON object per line "
         "(value as a number where it is one; value_type says number, text, binary (hex) or "
         "none; name and unit where the tag file gives them). Ctrl-C ends it with a count of "
         "packets per tag on standard error.",
         withLink({kTagOption, {"--json", "", "JSON Lines instead of text"}, tagsOption()}),
         monitor},
        {"table", "[--tag T]... [--tags FILE] [--name TAG=NAME]...",
         "a live table of every module heard",
         "One row per tag: its name (from the tag file, or --name), last value and unit, age, "
         "packets per second, RSSI, CV, status and flags; a row turns stale after 3 s without a "
         "packet (or the timeout the tag file gives the tag). The table fits the terminal: a "
         "narrow one drops status, CV, RSSI, station, flags and packets per second, in that "
         "order, before tag, name, value, age and state. On a terminal the table is redrawn in "
         "place up to four times a second; otherwise a plain snapshot is printed every second.",
         withLink({kTagOption, tagsOption(),
                   {"--name", "TAG=NAME", "show NAME for tag TAG (repeatable)", true}}),
         table},
        {"log",
         "FILE [--format csv|jsonl] [--tag T]... [--rotate-size SIZE] [--rotate-every TIME] "
         "[--tags FILE]",
         "log every packet to CSV or JSON Lines files",
         "FILE may hold strftime fields (run-%Y%m%d-%H%M%S.csv), expanded when each file is "
         "opened. CSV columns: time (local, ISO-8601 with offset), ms (since the start), station, "
         "tag, value, status, rssi, cv, batt_low, error; a header starts every file. An existing "
         "file is continued, never overwritten; a rotation never reuses a name (a counter is "
         "added). Rows are written at least every second and the file is synced when it is "
         "closed. SIGINT and SIGTERM close it cleanly; a write that fails (disk full, file "
         "unwritable) is reported and the program ends with status 1. The format follows the "
         "file's extension (.jsonl) unless --format is given; JSON Lines rows also carry the "
         "name and unit the tag file gives their tag.",
         withLink(
             {{"--format", "csv|jsonl", "the file format"},
              kTagOption,
              {"--rotate-size", "SIZE", "start a new file before one grows past SIZE (64k, 10M)"},
              {"--rotate-every", "TIME", "start a new file every TIME (30s, 10min, 1h, 1d)"},
              tagsOption()}),
         log},
    };
}

}  // namespace lyx::cli
