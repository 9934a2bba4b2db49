// The subcommands that send one request and end: sleep, pause, wake,
// stay-awake, pair, station, channel, read, write, send and rlx.
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "device_commands.hpp"
#include "subcommand.hpp"

namespace lyx::cli {

namespace {

const OptionSpec kStationOption{"--station", "N", "the base station (1)"};

std::vector<OptionSpec> withLink(std::vector<OptionSpec> options) {
    addLinkOptions(options);
    return options;
}

int stationOf(const Arguments &args) {
    if (auto n = args.value("--station"))
        return static_cast<int>(parseInteger(*n, 1, 254, "--station"));
    return 1;
}

int tagArgument(const std::string &text) {
    return static_cast<int>(parseInteger(text, 1, 65535, "TAG"));
}

std::int32_t moduleArgument(const std::string &text, const char *what) {
    return static_cast<std::int32_t>(parseInteger(text, 0, 0xFFFFFF, what));
}

int report(const Outcome &outcome) {
    std::FILE *stream = outcome.status == 0 ? stdout : stderr;
    std::fprintf(stream, "%s%s\n", outcome.status == 0 ? "" : "lyx: ", outcome.message.c_str());
    return outcome.status;
}

// SIGINT and SIGTERM as a descriptor, so that a wait can end on them.
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
        fd_ = ::signalfd(-1, &set_, SFD_CLOEXEC);
    }
    ~StopSignals() {
        if (fd_ >= 0) ::close(fd_);
        pthread_sigmask(SIG_UNBLOCK, &set_, nullptr);
    }
    int fd() const { return fd_; }

  private:
    sigset_t set_{};
    int fd_ = -1;
};

// sleep and pause: TAG or --all, answered packet by packet for the window.
int windowCommand(const Arguments &args, Outcome (*one)(Network &, int),
                  Outcome (*all)(Network &)) {
    const bool every = args.has("--all");
    args.expectPositional(every ? 0 : 1, every ? 0 : 1, "TAG (or --all)");
    const LinkOptions link = LinkOptions::from(args);
    const int tag = every ? 0 : tagArgument(args.positional()[0]);
    Network net(link);
    return report(every ? all(net) : one(net, tag));
}

int sleepCommand(const Arguments &args) {
    return windowCommand(args, sleepTag, sleepAll);
}

int pauseCommand(const Arguments &args) {
    return windowCommand(args, pauseTag, pauseAll);
}

int wakeCommand(const Arguments &args) {
    args.expectPositional(0, 0, "");
    std::optional<std::int32_t> id;
    if (auto text = args.value("--id")) id = moduleArgument(*text, "--id");
    const int station = stationOf(args);
    Network net(LinkOptions::from(args));
    return report(wake(net, station, id));
}

int stayAwakeCommand(const Arguments &args) {
    args.expectPositional(0, 0, "");
    std::optional<std::chrono::milliseconds> duration;
    if (auto text = args.value("--for"))
        duration = std::chrono::milliseconds(
            static_cast<std::int64_t>(parseDuration(*text, "--for") * 1000.0));
    const LinkOptions link = LinkOptions::from(args);
    StopSignals signals;
    Network net(link);
    if (!duration) std::fprintf(stderr, "lyx: keeping every module awake (Ctrl-C ends)\n");
    return report(stayAwake(net, duration, signals.fd()));
}

int pairCommand(const Arguments &args) {
    args.expectPositional(0, 0, "");
    int seconds = 10;
    if (auto text = args.value("--seconds"))
        seconds = static_cast<int>(parseInteger(*text, 1, 255, "--seconds"));
    const int station = stationOf(args);
    Network net(LinkOptions::from(args));
    std::fprintf(stderr, "lyx: power up the module within %d s\n", seconds);
    return report(pair(net, station, seconds, args.has("--config")));
}

int stationCommand(const Arguments &args) {
    args.expectPositional(0, 0, "");
    const int station = stationOf(args);
    Network net(LinkOptions::from(args));
    return report(stationInfo(net, station));
}

int channelCommand(const Arguments &args) {
    args.expectPositional(1, 1, "CHANNEL");
    const int channel = static_cast<int>(parseInteger(args.positional()[0], 0, 255, "CHANNEL"));
    const int station = stationOf(args);
    Network net(LinkOptions::from(args));
    return report(setChannel(net, station, channel));
}

int readCommand(const Arguments &args) {
    args.expectPositional(2, 2, "ID and PARAM");
    const auto id = moduleArgument(args.positional()[0], "ID");
    const int param = static_cast<int>(parseInteger(args.positional()[1], 0, 255, "PARAM"));
    const int station = stationOf(args);
    Network net(LinkOptions::from(args));
    return report(readParameter(net, station, id, param));
}

int writeCommand(const Arguments &args) {
    args.expectPositional(4, 4, "ID, PARAM, TYPE and VALUE");
    const auto &words = args.positional();
    const auto id = moduleArgument(words[0], "ID");
    const int param = static_cast<int>(parseInteger(words[1], 0, 255, "PARAM"));
    const ValueType type = parseValueType(words[2]);
    valueBytes(type, words[3]);  // bad values are refused before the link opens
    const int station = stationOf(args);
    Network net(LinkOptions::from(args));
    return report(writeParameter(net, station, id, param, type, words[3]));
}

int sendCommand(const Arguments &args) {
    args.expectPositional(3, 3, "TAG, TYPE and VALUE");
    const auto &words = args.positional();
    const int tag = static_cast<int>(parseInteger(words[0], 0, 65535, "TAG"));
    const ValueType type = parseValueType(words[1]);
    valueBytes(type, words[2]);
    int status = 0;
    if (auto text = args.value("--status"))
        status = static_cast<int>(parseInteger(*text, 0, 255, "--status"));
    const int station = stationOf(args);
    Network net(LinkOptions::from(args));
    return report(sendPacket(net, station, tag, status, type, words[2]));
}

int rlxCommand(const Arguments &args) {
    args.expectPositional(1, 1, "HEX");
    const std::string block = parseHexBytes(args.positional()[0], "HEX");
    auto dp = createComponent();
    return report(decodeRlx(*dp, block));
}

}  // namespace

std::vector<Subcommand> requestSubcommands() {
    const OptionSpec all{"--all", "", "every module heard"};
    return {
        {"sleep", "TAG | --all", "send a module (or every module) to sleep",
         "Answers each packet of TAG (or every packet) that arrives within 5 s with a sleep "
         "command. Ends with status 1 when no such packet arrived.",
         withLink({all}), sleepCommand},
        {"pause", "TAG | --all", "pause a module (or every module)",
         "Answers each packet of TAG (or every packet) that arrives within 5 s with a pause "
         "command. Ends with status 1 when no such packet arrived.",
         withLink({all}), pauseCommand},
        {"wake", "[--id ID] [--station N]", "wake one module, or broadcast a wake to all",
         "With --id the module's answer is awaited (status 1 and its Response_Type when it does "
         "not acknowledge); without, the broadcast has no answer.",
         withLink({{"--id", "ID", "the module's ID (decimal or 0x hexadecimal)"}, kStationOption}),
         wakeCommand},
        {"stay-awake", "[--for TIME]", "keep every module awake",
         "Repeats the stay-awake broadcast every 3 s for TIME, or until Ctrl-C.",
         withLink({{"--for", "TIME", "how long (30s, 10min); until Ctrl-C without it"}}),
         stayAwakeCommand},
        {"pair", "[--seconds S] [--config] [--station N]", "pair a module that is powered up",
         "Waits up to S seconds (10) for a module to be powered up and prints its ID and tag. "
         "With --config the module stays in configuration mode.",
         withLink({{"--seconds", "S", "how long to wait (1 to 255, 10)"},
                   {"--config", "", "leave the module in configuration mode"},
                   kStationOption}),
         pairCommand},
        {"station", "[--station N]", "the base station's ID and radio channel", "",
         withLink({kStationOption}), stationCommand},
        {"channel", "CHANNEL [--station N]", "move the base station to another radio channel",
         "Writes the channel, then reads it back to confirm it.", withLink({kStationOption}),
         channelCommand},
        {"read", "ID PARAM [--station N]", "read a module's parameter", "",
         withLink({kStationOption}), readCommand},
        {"write", "ID PARAM TYPE VALUE [--station N]", "write a module's parameter",
         "TYPE is uint8, uint16, int32, float, string or binary (VALUE in hexadecimal); the "
         "value is checked against the type and sent as text, which the module converts.",
         withLink({kStationOption}), writeCommand},
        {"send", "TAG TYPE VALUE [--status S] [--station N]", "send a Data Provider packet",
         "TYPE is uint8, uint16, int32, float, string or binary (VALUE in hexadecimal).",
         withLink({{"--status", "S", "the packet's status byte (0)"}, kStationOption}),
         sendCommand},
        {"rlx",
         "HEX",
         "decode a store-and-forward block (ten readings and a timestamp)",
         "HEX is the block's 42 bytes in hexadecimal, as `lyx monitor` shows a binary value.",
         {},
         rlxCommand},
    };
}

}  // namespace lyx::cli
