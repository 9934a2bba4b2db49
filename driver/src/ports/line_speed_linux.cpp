// Line speeds on Linux. Kept apart from the other serial code because the
// kernel's termios2 header cannot be included together with <termios.h>.

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>
#include <cstdlib>

#include "ports/serial_transport.hpp"

namespace lyx::drv {

namespace {

struct StandardRate {
    std::int32_t rate;
    speed_t code;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// A rate the hardware cannot reach closely is refused: more than 3 % off
// garbles every byte.
bool closeEnough(std::uint32_t got, std::int32_t wanted) {
    auto diff = std::llabs(static_cast<long long>(got) - wanted);
    return diff * 100 <= static_cast<long long>(wanted) * 3;
}

}  // namespace

bool setLineSpeed(int fd, std::int32_t baudRate) {
    if (baudRate <= 0) return false;
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    speed_t code = BOTHER;
    for (const auto &standard : kStandardRates) {
        if (standard.rate == baudRate) code = standard.code;
    }
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baudRate);
    tio.c_ospeed = static_cast<speed_t>(baudRate);
    if (::ioctl(fd, TCSETS2, &tio) != 0) return false;
    termios2 check{};
    if (::ioctl(fd, TCGETS2, &check) != 0) return false;
    return closeEnough(check.c_ospeed, baudRate);
}

}  // namespace lyx::drv
