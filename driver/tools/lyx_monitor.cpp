// lyx-monitor: opens a base-station link through the driver and prints every
// frame it delivers, one line each. A quick way to see that a base station (or
// the simulator) is reachable and what it sends.

#include <poll.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "LyxDrv.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
long framesSeen = 0;

void onSignal(int) {
    stopRequested = 1;
}

void printFrame(const std::uint8_t **frame, std::int32_t *length) {
    const std::uint8_t *f = *frame;
    const int n = *length;
    ++framesSeen;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    std::printf("%02d:%02d:%02d.%03ld  base %u  type %2u", local.tm_hour, local.tm_min,
                local.tm_sec, now.tv_nsec / 1000000, f[2], f[3] & 0x1Fu);
    // A Data Provider packet: tag, status and data type follow the type byte.
    if ((f[3] & 0x1F) == 3 && n >= 10) {
        std::printf("  tag %5u  status 0x%02x  data type %3u", (f[4] << 8) | f[5], f[6], f[7]);
    }
    std::printf("  |");
    for (int i = 0; i < n; ++i)
        std::printf(" %02x", f[i]);
    std::printf("\n");
    std::fflush(stdout);
}

void usage(const char *program) {
    std::fprintf(stderr,
                 "usage: %s [--usb | --port N [--baud RATE]] [--count N] [--seconds S]\n"
                 "Prints every frame the base station sends: time, base station, type code,\n"
                 "for data packets the tag, status and data type, then the raw bytes.\n"
                 "  --usb          USB base stations (the default)\n"
                 "  --port N       serial port N (the entry COM<N> of the port folder)\n"
                 "  --baud RATE    line speed of the serial port (default 115200)\n"
                 "  --count N      stop after N frames\n"
                 "  --seconds S    stop after S seconds\n",
                 program);
}

bool parseNumber(const char *text, long &value) {
    char *end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char **argv) {
    long port = 0, baud = 115200, count = -1, seconds = -1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        long *target = arg == "--port"      ? &port
                       : arg == "--baud"    ? &baud
                       : arg == "--count"   ? &count
                       : arg == "--seconds" ? &seconds
                                            : nullptr;
        if (arg == "--usb") {
            port = 0;
        } else if (arg == "--help" || arg == "-h") {
            usage(argv[0]);
            return 0;
        } else if (target != nullptr && i + 1 < argc && parseNumber(argv[i + 1], *target)) {
            ++i;
        } else {
            std::fprintf(stderr, "%s: bad argument '%s'\n", argv[0], arg.c_str());
            usage(argv[0]);
            return 2;
        }
    }
    if (port < 0 || port > 32767 || baud <= 0) {
        std::fprintf(stderr, "%s: port must be 1 to 32767 and the rate positive\n", argv[0]);
        return 2;
    }

    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    intptr_t callback = reinterpret_cast<intptr_t>(&printFrame);
    INITIALISEMULTI(&callback, 0);
    if (port > 0) {
        std::int32_t result =
            OPENPORT(static_cast<std::int16_t>(port), static_cast<std::int32_t>(baud));
        if (result != 0) {
            std::fprintf(
                stderr, "%s: cannot open port %ld: %s\n", argv[0], port,
                result == -1 ? "the port refused the settings" : "no such port, or it is in use");
            return 1;
        }
        std::fprintf(stderr, "listening on port %ld at %ld baud\n", port, baud);
    } else {
        OPENUSB();
        int found = 0;
        for (std::uint8_t slot = 1; slot <= 4; ++slot)
            found += READREVISION(slot) != 0.0f;
        std::fprintf(stderr, "listening on USB: %d base station(s) found\n", found);
    }

    pollfd p{LyxMessageFd(), POLLIN, 0};
    std::time_t end = seconds >= 0 ? std::time(nullptr) + seconds : 0;
    while (!stopRequested && (count < 0 || framesSeen < count) &&
           (end == 0 || std::time(nullptr) < end)) {
        if (::poll(&p, 1, 200) > 0) LyxPumpMessages();
    }
    CLOSEPORT();
    LyxDrvLinkStatistics stats{};
    stats.size = sizeof stats;
    LyxDrvGetLinkStatistics(&stats);
    std::fprintf(stderr,
                 "%ld frame(s); link: %llu frames dropped, %llu bytes lost to overflow, "
                 "%llu bytes discarded as not part of a frame, at most %llu frames waited\n",
                 framesSeen, static_cast<unsigned long long>(stats.framesDropped),
                 static_cast<unsigned long long>(stats.bytesDropped),
                 static_cast<unsigned long long>(stats.bytesDiscarded),
                 static_cast<unsigned long long>(stats.framesHeldMax));
    return 0;
}
