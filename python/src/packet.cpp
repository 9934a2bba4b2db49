#include "packet.hpp"

#include <functional>

#include "values.hpp"

namespace lyx::python {

namespace {

py::object number(const Packet &p) {
    if (auto n = parseValueNumber(p.value)) return py::float_(*n);
    return py::none();
}

std::string repr(const Packet &p) {
    std::string out =
        "Packet(base_station=" + std::to_string(p.baseStation) + ", tag=" + std::to_string(p.tag) +
        ", value=" + std::string(py::repr(text(p.value))) + ", status=" + std::to_string(p.status) +
        ", rssi=" + std::to_string(p.rssi) + ", cv=" + std::to_string(p.cv) +
        ", batt_low=" + (p.battLow ? "True" : "False") + ", error=" + (p.error ? "True" : "False") +
        ")";
    return out;
}

py::tuple state(const Packet &p) {
    return py::make_tuple(p.baseStation, p.tag, bytes(p.value), p.status, p.rssi, p.cv, p.battLow,
                          p.error);
}

Packet make(long long baseStation, long long tag, py::handle value, long long status,
            long long rssi, long long cv, bool battLow, bool error) {
    Packet p;
    p.baseStation = byteArg(baseStation, "base_station");
    p.tag = longArg(tag, "tag");
    p.value = byteString(value, "value");
    p.status = byteArg(status, "status");
    p.rssi = shortArg(rssi, "rssi");
    p.cv = shortArg(cv, "cv");
    p.battLow = battLow;
    p.error = error;
    return p;
}

}  // namespace

void bindPacket(py::module_ &m) {
    py::class_<Packet>(m, "Packet", R"(One Data Provider packet as the PacketArrived event gives it.

base_station  the base station it came through (its address byte; the USB slot)
tag           its data tag, 0 to 65535
value         the value as text: numbers with "." as the decimal point, string and
              binary values one character per byte (code points 0 to 255)
status        the status byte
rssi          the signal strength (the RSSI byte as a signed number less 45)
cv            the link quality, 0 to 127
batt_low      the module's battery is low
error         the module reports an error
number        the value as a float, or None when it is no number
raw           the value's bytes)")
        .def(py::init(&make), py::arg("base_station"), py::arg("tag"), py::arg("value") = "",
             py::arg("status") = 0, py::arg("rssi") = 0, py::arg("cv") = 0,
             py::arg("batt_low") = false, py::arg("error") = false)
        .def_readonly("base_station", &Packet::baseStation)
        .def_readonly("tag", &Packet::tag)
        .def_property_readonly("value", [](const Packet &p) { return text(p.value); })
        .def_readonly("status", &Packet::status)
        .def_readonly("rssi", &Packet::rssi)
        .def_readonly("cv", &Packet::cv)
        .def_readonly("batt_low", &Packet::battLow)
        .def_readonly("error", &Packet::error)
        .def_property_readonly("number", &number,
                               R"(The value read as a number with "." as the decimal point
("12.5", "-3", "1.234568E+08"; "NaN" and "Infinity" as float('nan') and float('inf')),
or None when the value is no number (empty, text, binary).)")
        .def_property_readonly("raw", [](const Packet &p) { return bytes(p.value); })
        .def("__repr__", &repr)
        .def(
            "__eq__",
            [](const Packet &a, py::object b) -> py::object {
                if (!py::isinstance<Packet>(b))
                    return py::reinterpret_borrow<py::object>(Py_NotImplemented);
                return py::bool_(a == b.cast<const Packet &>());
            },
            py::is_operator())
        .def("__hash__", [](const Packet &p) { return py::hash(state(p)); })
        .def(py::pickle(&state, [](py::tuple t) {
            if (t.size() != 8) throw py::value_error("not the state of a Packet");
            return make(t[0].cast<long long>(), t[1].cast<long long>(), t[2],
                        t[3].cast<long long>(), t[4].cast<long long>(), t[5].cast<long long>(),
                        t[6].cast<bool>(), t[7].cast<bool>());
        }));
}

}  // namespace lyx::python
