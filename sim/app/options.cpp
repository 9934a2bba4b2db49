#include "options.hpp"

#include "command_syntax.hpp"

namespace lyx::sim::app {

namespace {

// A word of the control language that reads back as `text`.
std::string quoted(const std::string &text) {
    bool plain = !text.empty();
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        plain = plain && u > 0x20 && u < 0x7F && c != '"' && c != '\\' && c != '#' && c != '=';
    }
    if (plain) return text;
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            static constexpr char digits[] = "0123456789ABCDEF";
            out += "\\x";
            out += digits[u >> 4];
            out += digits[u & 0x0F];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::optional<Options> parseOptions(const std::vector<std::string> &arguments, std::string &error) {
    Options options;
    std::vector<std::string> replayFiles;
    std::vector<std::string> replayOptions;  // key=value words of the replay command
    std::string replayOrigin;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &a = arguments[i];
        // "--name=value" or "--name value".
        std::string name = a;
        std::optional<std::string> inlineValue;
        if (a.rfind("--", 0) == 0) {
            if (auto eq = a.find('='); eq != std::string::npos) {
                name = a.substr(0, eq);
                inlineValue = a.substr(eq + 1);
            }
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 >= arguments.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            return arguments[++i];
        };
        auto flag = [&] {
            if (inlineValue) {
                error = name + " takes no value";
                return false;
            }
            return true;
        };

        if (name == "-h" || name == "--help") {
            if (!flag()) return std::nullopt;
            options.help = true;
        } else if (name == "--version") {
            if (!flag()) return std::nullopt;
            options.version = true;
        } else if (name == "-q" || name == "--quiet") {
            if (!flag()) return std::nullopt;
            options.quiet = true;
        } else if (name == "--trace-data") {
            if (!flag()) return std::nullopt;
            options.traceData = true;
        } else if (name == "--no-stdin") {
            if (!flag()) return std::nullopt;
            options.readStdin = false;
        } else if (name == "--check") {
            if (!flag()) return std::nullopt;
            options.checkOnly = true;
        } else if (name == "-e" || name == "--command" || name == "--station" ||
                   name == "--module") {
            auto v = value();
            if (!v) return std::nullopt;
            std::string line = *v;
            if (name == "--station") line = "station " + line;
            if (name == "--module") line = "module " + line;
            options.commands.push_back({name + " " + *v, line});
        } else if (name == "-s" || name == "--scenario") {
            auto v = value();
            if (!v) return std::nullopt;
            if (!options.scenarioFile.empty()) {
                error = "only one scenario file";
                return std::nullopt;
            }
            options.scenarioFile = *v;
        } else if (name == "--vhid-dir" || name == "--port-dir" || name == "--socket") {
            auto v = value();
            if (!v) return std::nullopt;
            if (v->empty()) {
                error = name + " needs a path";
                return std::nullopt;
            }
            (name == "--vhid-dir"   ? options.vhidDir
             : name == "--port-dir" ? options.portDir
                                    : options.socketPath) = *v;
        } else if (name == "--duration") {
            auto v = value();
            if (!v) return std::nullopt;
            std::chrono::milliseconds d{};
            if (auto ok = syntax::parseDuration(*v, d); !ok) {
                error = "--duration " + *v + ": " + ok.error();
                return std::nullopt;
            }
            options.duration = d;
        } else if (name == "--random-key") {
            auto v = value();
            if (!v) return std::nullopt;
            if (!syntax::parseUnsigned(*v, UINT64_MAX, options.randomKey)) {
                error = "--random-key " + *v + ": expected a whole number";
                return std::nullopt;
            }
        } else if (name == "--replay") {
            // The files up to the next option (a shell expands a glob into many).
            auto v = value();
            if (!v) return std::nullopt;
            replayFiles.push_back(*v);
            while (!inlineValue && i + 1 < arguments.size() && !arguments[i + 1].empty() &&
                   arguments[i + 1][0] != '-') {
                replayFiles.push_back(arguments[++i]);
            }
            replayOrigin = "--replay " + replayFiles.front();
        } else if (name == "--speed" || name == "--from" || name == "--to") {
            auto v = value();
            if (!v) return std::nullopt;
            replayOptions.push_back(name.substr(2) + "=" + quoted(*v));
        } else if (name == "--loop" || name == "--skip-bad") {
            if (!flag()) return std::nullopt;
            replayOptions.push_back(name.substr(2) + "=yes");
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a;
            return std::nullopt;
        } else {
            if (!options.scenarioFile.empty()) {
                error = "only one scenario file (also given: " + a + ")";
                return std::nullopt;
            }
            options.scenarioFile = a;
        }
    }
    if (!replayOptions.empty() && replayFiles.empty()) {
        error = "--speed, --loop, --from, --to and --skip-bad go with --replay";
        return std::nullopt;
    }
    if (!replayFiles.empty()) {
        std::string line = "replay";
        for (const auto &f : replayFiles) {
            // Always files, also where a name is one of the command's words.
            const bool word = f == "usb" || f == "serial" || f == "stop";
            // Appended apart: " " + string makes GCC 12 warn (-Wrestrict), a false positive.
            line += ' ';
            line += quoted(word ? "./" + f : f);
        }
        for (const auto &o : replayOptions)
            line += " " + o;
        options.replay = Command{replayOrigin, line};
    }
    return options;
}

const char *helpText() {
    return R"(Usage: lyx-basestation-sim [options] [scenario-file]

Simulates base stations and the acquisition modules they hear by radio, for
programs that use the LyxDrv driver: each base station is served on the virtual
HID bus (as a USB base station) and/or on a pseudo-terminal (as a serial one).

Options:
  -s, --scenario FILE   run the commands of FILE (also: the first argument)
  -e, --command LINE    run a command before the scenario (may be repeated)
      --station ARGS    the same as -e "station ARGS"
      --module ARGS     the same as -e "module ARGS"
      --vhid-dir DIR    folder of the virtual HID bus (default: $LYX_VHID_DIR)
      --port-dir DIR    folder for COM<n> entries (default: $LYX_PORT_DIR, else
                        ${XDG_CONFIG_HOME:-~/.config}/lyx/ports)
      --socket PATH     also take commands on a local socket at PATH
      --no-stdin        take no commands from standard input
      --duration TIME   stop after TIME (e.g. 30s)
      --random-key N    start of the random faults, noise waveforms excepted (default 1)
      --replay FILE...  replay a recording of lyx log (CSV or JSON Lines; several
                        files as a rotation leaves them, or a glob) as a live
                        network: the files up to the next option. Its stations
                        are made unless the scenario made them (a scenario can
                        also hold a replay command)
      --speed X         replay X times as fast (default 1; 0: as fast as the
                        link takes the packets: up to 12 000 a second for each
                        base station, and no faster than its reader takes them)
      --loop            start the replay again after its last row, for ever
      --from TIME, --to TIME
                        replay only the rows from / up to TIME: into the
                        recording (90s, 2min), a clock time of the recording
                        (07:05:30) or a date and time (2026-12-08T07:05:30)
      --skip-bad        skip rows that do not parse (counted) instead of failing
  -q, --quiet           do not print events on standard output
      --trace-data      also print every data packet sent and every frame the PC
                        sent (events "data" and "frame")
      --check           check the options and the scenario, then exit
  -h, --help            show this help
      --version         show the version

Without any station, station 1 is made: on the virtual HID bus when its folder
is known, else on a pseudo-terminal. Startup prints a line for each command
that set something up (stations with their device paths, modules, parameters),
then "ready". Commands then come from standard input and the socket,
one per line; each is answered with one line, "ok ..." or "error: ...".
Events are printed as "event <kind> station=<n> module=<id> code=<n> ...".
The program ends on "quit", at the end of --duration, or on SIGINT/SIGTERM;
it then removes its socket files and COM entries.

Commands (also the lines of a scenario file; '#' starts a comment; values with
blanks in "quotes"; times as 500ms, 2s, 1.5min or seconds; IDs decimal or 0x):
  station <n> [usb] [serial] [channel=C] [id=ID] [serial=TEXT] [release=2.3]
          [com=N] [name=FILE] [vhid-dir=DIR] [port-dir=DIR] [refuse=P,P,..]
          [report-every=TIME]
      add base station <n> (its address byte; on USB its serial number, i.e.
      its slot, unless serial= says otherwise). com=N makes the COM<N> entry.
      report-every=1ms sends at most one USB report a millisecond, as a real
      full-speed device does: a frame waits for the next 1 ms USB frame, the
      same for every station, and frames that come sooner share its report.
      refuse= lists parameters it refuses (none: none). For an existing station
      only channel=, id= and refuse= may be given.
  module <id> [tag=T] [channel=C] [type=T] [rate=HZ] [wave=W] [offset=X]
         [amplitude=X] [period=TIME] [steps=A,B,..] [random-key=N] [value=V]
         [text=TEXT] [bytes=HEX] [decimals=N] [status=N] [rssi=DBM]
         [quality=Q] [battery=low|ok] [error=yes|no] [answers=yes|no]
         [latency=TIME] [sleep-timer=TIME] [pause=TIME] [power=on|off]
      add a module (ID 1 to 0xFFFFFE; tag defaults to the ID's low 16 bits).
      type: none uint8 uint16 int32 float string binary interface, a code 0
      to 255, record (117 bytes, in frames of 129 bytes: longer than a PC-side
      receiver accepts) or store-forward (42 bytes). wave: constant
      (offset), ramp (offset up to offset+amplitude each period), sine, noise
      (offset +- amplitude), steps (each value for one period), count (offset
      + the packets sent before: numbers every packet). value= sets a
      constant reading, or the text / hex bytes of other types. rssi is the
      signal in dBm as the driver reports it (default -60), quality the
      link-quality byte (receivers read 0 to 127 from its low seven bits).
  set <id> <module options> [asleep=yes|no] [config=yes|no]
      change a module; power=on powers it up (as powerup does).
  param <id> <number> [radio] [readonly] [type=T] [value=V]
        [access=rw|ro|wo|refused] [min=X] [max=X] [reply=CODE]
      a remote parameter (request 5/6, replies 7-10), or with radio one of
      its radio module (11/12, replies 13-16). reply= answers every request
      for it with that code.
  powerup <id>      switch a module on again; a base station waiting for a
                    bind (pairing) takes it
  powerdown <id>    switch a module off
  remove <id>       remove a module
  unplug <n>, plug <n>
      a USB station leaves and comes back; a serial one hangs up and comes
      back on a new pseudo-terminal (and COM entry)
  fault <n> [corrupt=P] [drop=P] [noise=BYTES] [zeros=BYTES] [reply-delay=TIME]
        [reply-loss=P] [corrupt-next=N] [drop-next=N] [lose-replies=N]
      faults on what station <n> sends (P: 0 to 1 or a percentage)
  send <n> <hex bytes>
      station <n> sends a frame with this payload as it is (any reply, also a
      malformed one, e.g. "send 1 07 0A 0B 0C")
  replay <file|glob>... [speed=X] [loop=yes] [from=TIME] [to=TIME]
         [skip-bad=yes] [usb | serial] [channel=C] [vhid-dir=DIR] [port-dir=DIR]
      replay a recording of lyx log as a live network (see "Replays" below);
      a replay that runs is stopped first. Stations of the recording that do
      not exist are made: usb or serial as given (serial ones with the COM
      entry of their number), else as "station <n>" makes them.
  replay stop       end the replay (its modules stay)
  show [stations | modules | station <n> | module <id> | stats | replay]
  watch on|off|data   events on this connection (data: also every packet sent
                      and every frame the PC sent)
  quit
  wait TIME           (scenario files only) run the next lines TIME later

How the simulated devices behave:
  - A module sends a data-provider packet every 1/rate s on its channel; every
    plugged-in station on that channel passes it on. Battery low and error are
    bits 6 and 7 of the type byte; the signal byte is rssi+45.
  - Commands (interface-type packets to the module's tag, or 65535): 1 sleep
    (no data until parameter 50 is written, by ID or to 0xFFFFFF), 2 pause
    (no data for pause=, default 10s), 3 stay awake (restarts sleep-timer=,
    after which a module falls asleep by itself; default: none). A sleeping
    module hears nothing but the wake parameter.
  - Base-station parameters: 3 ID (3 bytes), 11 radio channel (1 to 255,
    effective at once), 24 and 25 (written without data after a channel
    change, accepted); others refused (24).
  - Remote requests get the module's answer after latency= (default 5ms), or
    "no answer" (9/15) after 250ms from a station that does not hear it
    (other channel, off, asleep, answers=no). Reply flags: 0x20 configuration
    mode, 0x40 battery low, 0x80 error. Text written to a numeric parameter
    is converted; a value it cannot take is refused (10/16), a read-only or
    unknown parameter refused (8/14). Writes to 0xFFFFFF reach every module
    on the channel and are acknowledged by the station; reads are refused.
    Radio parameters 3 (ID) and 11 (channel: the module moves) are built in.
  - Bind (pairing): the station waits the request's duration for a module to
    power up and answers with its ID and tag. With "use remote settings" the
    station moves to the module's channel, else the module to the station's;
    mode 1 leaves the module in configuration mode (awake, no data, ignores
    sleep and pause) until it is powered up again.

Replays:
  - A recording is what lyx log writes: CSV with its header, or JSON Lines (also
    from lyx monitor --json). Several files are put in the order of their first
    rows' times. A row's time is its ms column, else its time column; where
    ms starts again (another run of lyx log) the time column gives the gap.
    A time that goes back is a warning; the row follows the one before it.
  - Each station and tag becomes a module wired to that station (only it
    hears it; ID station x 65536 + tag when free). It sends each row at its
    time with the row's value, status, rssi, cv (link quality) and flags.
    The type is the one a receiver shows the logged values in again: int32
    where every number of the tag reads as an int32 reading, float where every
    number reads as a float reading, string for text (and numbers no reader
    shows so), binary where JSON Lines say so (in CSV: a tag whose values are
    all hexadecimal bytes, not all printable), none for an empty value.
  - A module asleep, paused or off passes over its rows of that time (counted
    as quiet in "show replay"); the others go on. Events: replay-looped,
    replay-ended. "show replay" gives the position.
  - A file that is not such a log, a row that does not parse (without
    skip-bad) or a range without rows stops the program with status 2 before
    anything starts; the message names the file, the line and what is wrong.
)";
}

}  // namespace lyx::sim::app
