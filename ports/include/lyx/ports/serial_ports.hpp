// Serial port names: port N is the device that the entry "COM<N>" of the port folder names,
// else /dev/ttyS<N-1>; and, when a port cannot be opened, why, in words for its user.
#pragma once

#include <string>

namespace lyx::ports {

// $LYX_PORT_DIR, else ${XDG_CONFIG_HOME:-~/.config}/lyx/ports.
std::string portFolder();

// The device path of port `port`; empty for port numbers below 1. An entry that exists is
// used even when it points nowhere: opening it then fails, rather than silently opening
// some other port.
std::string serialDevicePath(int port);

// What stands in the way of opening port `port`, one line naming the device:
//   "serial port COM7 (/dev/ttyS6) does not exist (no entry COM7 in <folder>)"
//   "serial port COM9 (<folder>/COM9 -> /dev/ttyUSB3): /dev/ttyUSB3 does not exist"
//   "serial port COM5 (/dev/ttyUSB0): permission denied (the device belongs to group dialout)"
//   "serial port COM5 (/dev/ttyUSB0) is in use by another program"
//   "serial port COM5 (/dev/ttyUSB0) is not a serial device"
// Looks, and opens the device for a moment; changes nothing.
std::string serialPortProblem(int port);

}  // namespace lyx::ports
