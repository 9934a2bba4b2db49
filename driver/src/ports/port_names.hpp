// Serial port naming: port N is the device that the entry "COM<N>" of the port
// folder points to, else /dev/ttyS<N-1>.
#pragma once

#include <string>

namespace lyx::drv {

// $LYX_PORT_DIR, else ${XDG_CONFIG_HOME:-~/.config}/lyx/ports.
std::string portFolder();

// The device path for port `port`; empty for port numbers below 1.
std::string serialDevicePath(int port);

}  // namespace lyx::drv
