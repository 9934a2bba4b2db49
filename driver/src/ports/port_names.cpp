#include "ports/port_names.hpp"

#include "lyx/ports/serial_ports.hpp"

namespace lyx::drv {

// The rule is shared with the programs that explain a port that cannot be opened.
std::string portFolder() {
    return ports::portFolder();
}

std::string serialDevicePath(int port) {
    return ports::serialDevicePath(port);
}

}  // namespace lyx::drv
