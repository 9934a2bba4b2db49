// lyx.Packet: one PacketArrived event, as on_packet() callbacks and packets()
// iterators receive it.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace lyx::python {

namespace py = pybind11;

struct Packet {
    std::uint8_t baseStation = 0;
    std::int32_t tag = 0;
    std::string value;  // the value text, one byte per character
    std::uint8_t status = 0;
    std::int16_t rssi = 0;
    std::int16_t cv = 0;
    bool battLow = false;
    bool error = false;

    friend bool operator==(const Packet &, const Packet &) = default;
};

void bindPacket(py::module_ &m);

}  // namespace lyx::python
