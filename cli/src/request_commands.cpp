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
const OptionSpec kRetriesOption{"--retries", "N",
                                "ask again up to N times when no answer comes (0 to 10, 2)"};
constexpr int kDefaultRetries = 2;

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

int retriesOf(const Arguments &args) {
    if (auto n = args.value("--retries"))
        return static_cast<int>(parseInteger(*n, 0, 10, "--retries"));
    return kDefaultRetries;
}

// A retry is said on standard error, so that a slow answer is explained.
void sayRetry(const Outcome &before, int attempt, int attempts) {
    std::fprintf(stderr, "lyx: %s; asking again (try %d of %d)\n", before.message.c_str(), attempt,
                 attempts);
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
    const bool keep = args.has("--keep-channel");
    Network net(LinkOptions::from(args));
    std::fprintf(stderr, "lyx: power up the module within %d s%s\n", seconds,
                 keep ? "" : " (the base station takes its radio channel)");
    return report(pair(net, station, seconds, args.has("--config"), keep));
}

int stationCommand(const Arguments &args) {
    args.expectPositional(0, 0, "");
    const int station = stationOf(args);
    const int retries = retriesOf(args);
    Network net(LinkOptions::from(args));
    return report(askWithRetries(
        net, station, retries, [&] { return stationInfo(net, station); }, sayRetry));
}

int channelCommand(const Arguments &args) {
    args.expectWords({"CHANNEL"});
    // Channel 0 is no radio channel: base stations refuse it.
    const int channel = static_cast<int>(parseInteger(args.positional()[0], 1, 255, "CHANNEL"));
    const int station = stationOf(args);
    Network net(LinkOptions::from(args));
    return report(setChannel(net, station, channel));
}

int readCommand(const Arguments &args) {
    args.expectWords({"ID", "PARAM"});
    const auto id = moduleArgument(args.positional()[0], "ID");
    const int param = static_cast<int>(parseInteger(args.positional()[1], 0, 255, "PARAM"));
    const int station = stationOf(args);
    const int retries = retriesOf(args);
    Network net(LinkOptions::from(args));
    return report(askWithRetries(
        net, station, retries, [&] { return readParameter(net, station, id, param); }, sayRetry));
}

int writeCommand(const Arguments &args) {
    args.expectWords({"ID", "PARAM", "TYPE", "VALUE"});
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
    args.expectWords({"TAG", "TYPE", "VALUE"});
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
    args.expectWords({"HEX"});
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
        {"pair", "[--seconds S] [--config] [--keep-channel] [--station N]",
         "pair a module that is powered up",
         "Waits up to S seconds (10) for a module to be powered up and prints its ID, its tag "
         "and the base station's radio channel afterwards. By default the base station takes "
         "the module's channel (\"use remote settings\"), as the viewer pairs: pairing is how a "
         "module set to another channel is reached, and it is heard at once; modules left on "
         "the station's old channel are then no longer heard, and the message says so. With "
         "--keep-channel the module moves to the base station's channel instead and every "
         "other module stays heard. With --config the module stays in configuration mode.",
         withLink({{"--seconds", "S", "how long to wait (1 to 255, 10)"},
                   {"--config", "", "leave the module in configuration mode"},
                   {"--keep-channel", "", "the module takes the base station's channel"},
                   kStationOption}),
         pairCommand},
        {"station", "[--station N] [--retries N]", "the base station's ID and radio channel",
         "Asks again, up to --retries times, when no answer comes (a radio link loses frames); "
         "each new try is said on standard error.",
         withLink({kStationOption, kRetriesOption}), stationCommand},
        {"channel", "CHANNEL [--station N]", "move the base station to another radio channel",
         "CHANNEL is 1 to 255. Writes the channel, then reads it back to confirm it; never "
         "repeated on its own.",
         withLink({kStationOption}), channelCommand},
        {"read", "ID PARAM [--station N] [--retries N]", "read a module's parameter",
         "ID is decimal or 0x hexadecimal. Asks again, up to --retries times, when no answer "
         "comes; each new try is said on standard error. Requests that change something "
         "(write, channel, pair, wake, send) are never repeated.",
         withLink({kStationOption, kRetriesOption}), readCommand},
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
