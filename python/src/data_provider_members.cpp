// The members of the component's default interface _DataProvider, in slot
// order, under their names and with their parameter names. By-reference
// outputs come back as return values (tuples where there are several); byte
// strings are taken as bytes or str (Latin-1), value texts are given as str.

#include <pybind11/stl.h>

#include <string>
#include <tuple>
#include <vector>

#include "data_provider.hpp"
#include "enums.hpp"
#include "values.hpp"

namespace lyx::python {

using dataprovider::Data_Type;
using dataprovider::IDataProvider;

namespace {

Data_Type dataType(long long value) {
    return static_cast<Data_Type>(longArg(value, "DataType"));
}

// The new value of RemoteWrite: every value travels as text, so numbers are
// taken too and sent as Python writes them ("2.5", "-70000").
std::string remoteText(py::handle value) {
    if (PyBool_Check(value.ptr()))
        throw py::type_error("NewValue: expected str, bytes, int or float, not bool");
    if (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr())) return std::string(py::str(value));
    return byteString(value, "NewValue");
}

// The frame of TriggerEvent: a bytes-like object, or a sequence of byte values.
platform::ByteArray byteArray(py::handle value) {
    platform::ByteArray array;
    if (PyUnicode_Check(value.ptr()) || PyObject_CheckBuffer(value.ptr())) {
        const std::string raw = byteString(value, "ByteArray");
        array.items.assign(raw.begin(), raw.end());
        return array;
    }
    for (py::handle item : py::iter(value)) {
        if (!PyLong_Check(item.ptr()))
            throw py::type_error("ByteArray: expected bytes or a sequence of byte values");
        array.items.push_back(byteArg(item.cast<long long>(), "ByteArray"));
    }
    return array;
}

using PairResult = std::tuple<std::int16_t, std::int32_t, std::int32_t>;

PairResult pair(DataProviderObject &self, long long BaseStation, long long UseRemoteSettings,
                long long Duration, bool configuration) {
    const auto bs = byteArg(BaseStation, "BaseStation");
    const auto remote = byteArg(UseRemoteSettings, "UseRemoteSettings");
    const auto duration = byteArg(Duration, "Duration");
    return callMember(self, Wait::Yes, [&](IDataProvider &dp) {
        std::int32_t id = 0, tag = 0;
        const std::int16_t rt = configuration ? dp.PairConfig(bs, remote, duration, id, tag)
                                              : dp.Pair(bs, remote, duration, id, tag);
        return PairResult{rt, id, tag};
    });
}

std::uint8_t getChannel(DataProviderObject &self, long long BaseStation) {
    const auto bs = byteArg(BaseStation, "BaseStation");
    return callMember(self, Wait::Yes,
                      [&](IDataProvider &dp) { return dp.get_BaseStationChannel(bs); });
}

void putChannel(DataProviderObject &self, long long BaseStation, long long value) {
    const auto bs = byteArg(BaseStation, "BaseStation");
    const auto channel = byteArg(value, "BaseStationChannel");
    callMember(self, Wait::Yes, [&](IDataProvider &dp) { dp.put_BaseStationChannel(bs, channel); });
}

// dp.BaseStationChannel: the parameterised property, read as
// dp.BaseStationChannel[bs] or dp.BaseStationChannel(bs), set as
// dp.BaseStationChannel[bs] = channel.
struct ChannelProperty {
    py::object owner;
    DataProviderObject &object() const { return owner.cast<DataProviderObject &>(); }
};

constexpr const char *kPairHelp =
    R"(Perform pairing to retrieve the ID and Data Tag from a device. The device will
continue to operate in a normal manner after pairing. This method is blocking and
will not return until either a device has paired or the duration has elapsed.

Returns (result, ID, DataTag): result 0 paired, 1 nothing paired, 99 busy (called
from inside a packet callback). Packets that arrive while it waits are kept and
come, in order, once it has returned.)";

constexpr const char *kPairConfigHelp =
    R"(Perform pairing to retrieve the ID and Data Tag from a device. The device will
enter configuration mode after pairing where it will not enter low power mode nor
will it transmit data provider data.

Returns (result, ID, DataTag) as Pair does.)";

constexpr const char *kChannelHelp =
    R"(Read or set the base station radio channel. To check a successful change you
will need to read back the channel after setting.

    dp.BaseStationChannel[1]        # read (also dp.BaseStationChannel(1))
    dp.BaseStationChannel[1] = 7    # set)";

// The base-station numbers on the link now, from the driver's count: the USB slots that hold
// a working device, or 1 for a serial port that is open. Empty when the component does not
// count them.
py::list linkStations(DataProviderObject &self) {
    auto dp = self.use();
    py::list stations;
    if (auto link = dp.query<dataprovider::ILinkStatistics>()) {
        const std::uint32_t bits = link->GetLinkStatistics().stations;
        for (int n = 0; n < 32; ++n)
            if (bits >> n & 1u) stations.append(n);
    }
    return stations;
}

}  // namespace

void bindInterfaceMembers(py::module_ &m, DataProviderClass &cls) {
    py::class_<ChannelProperty>(m, "BaseStationChannelProperty",
                                "The parameterised property DataProvider.BaseStationChannel.")
        .def("__getitem__",
             [](const ChannelProperty &p, long long bs) { return getChannel(p.object(), bs); })
        .def(
            "__call__",
            [](const ChannelProperty &p, long long bs) { return getChannel(p.object(), bs); },
            py::arg("BaseStation"))
        .def("__setitem__", [](const ChannelProperty &p, long long bs,
                               long long value) { putChannel(p.object(), bs, value); })
        .def("__repr__", [](const ChannelProperty &) {
            return std::string("<BaseStationChannel: dp.BaseStationChannel[BaseStation]>");
        });

    // 1 to 4
    cls.def(
           "Initialise",
           [](DataProviderObject &self, long long Port, long long Baudrate) {
               const auto port = shortArg(Port, "Port");
               const auto baud = longArg(Baudrate, "Baudrate");
               self.use();
               self.warnOfOtherThreadsLinks();
               self.setLinkOpened(true);  // Terminate closes even a link that failed to open
               const std::int16_t opened = callMember(
                   self, Wait::Yes, [&](IDataProvider &dp) { return dp.Initialise(port, baud); });
               // The USB link opens without a device; a script is told, since nothing will
               // arrive. The driver looks for the devices before Initialise returns, so the
               // count is complete here and nothing is awaited.
               if (port == 0 && opened == 0 && linkStations(self).empty() &&
                   PyErr_WarnEx(PyExc_RuntimeWarning,
                                "Initialise(0, 0): no USB base station is plugged in, so no "
                                "packet will arrive until one is; dp.base_stations() lists "
                                "the stations on the link",
                                1) != 0)
                   throw py::error_already_set();
               return opened;
           },
           py::arg("Port"), py::arg("Baudrate"),
           R"(Opens serial port `Port` at `Baudrate`, or the USB base stations when Port is 0.
Returns the driver's open result: 0 opened, -1 or -2 when a serial port fails to open.
Opening the USB link succeeds with no base station plugged in; then a RuntimeWarning
says so (base_stations() is empty).)")
        .def(
            "Terminate",
            [](DataProviderObject &self) {
                self.use();
                self.setLinkOpened(false);
                callMember(self, Wait::Yes, [](IDataProvider &dp) { dp.Terminate(); });
            },
            R"(Call to terminate the connection. This should be called before you exit your
application. Do not use any properties or methods after this method has been executed.

Closes the link, then dispatches messages for one second.)")
        .def(
            "ReadPacket",
            [](DataProviderObject &self, long long DataTag, long long Timeout) {
                const auto tag = longArg(DataTag, "DataTag");
                const auto timeout = longArg(Timeout, "Timeout");
                return text(callMember(self, Wait::No, [&](IDataProvider &dp) {
                    return dp.get_ReadPacket(tag, timeout);
                }));
            },
            py::arg("DataTag"), py::arg("Timeout"),
            R"(Read the last value from a specific Data Tag. Used instead of DataArrived event.
The value is read back as a string regardless of the data type within the data
provider packet: "" when none arrived within the last `Timeout` milliseconds.)")
        .def(
            "ReadPacketEx",
            [](DataProviderObject &self, long long DataTag, long long Timeout) {
                const auto tag = longArg(DataTag, "DataTag");
                const auto timeout = longArg(Timeout, "Timeout");
                std::uint8_t status = 0;
                std::int16_t rssi = 0, cv = 0;
                bool battLow = false, error = false;
                std::string value = callMember(self, Wait::No, [&](IDataProvider &dp) {
                    return dp.get_ReadPacketEx(tag, timeout, status, rssi, cv, battLow, error);
                });
                return py::make_tuple(text(value), status, rssi, cv, battLow, error);
            },
            py::arg("DataTag"), py::arg("Timeout"),
            R"(Read the last value and other data from a specific Data Tag. Used instead of
DataArrived event. Returns (Value, Status, RSSI, CV, BattLow, Error); Value is ""
when none arrived within the last `Timeout` milliseconds, the others are given in
every case.)")
        // 5 to 11
        .def(
            "WritePacketString",
            [](DataProviderObject &self, long long BaseStation, long long DataTag, long long Status,
               py::object Value, long long DataType) {
                const auto bs = byteArg(BaseStation, "BaseStation");
                const auto tag = longArg(DataTag, "DataTag");
                const auto status = byteArg(Status, "Status");
                const std::string value = byteString(Value, "Value");
                const auto type = dataType(DataType);
                callMember(self, Wait::No, [&](IDataProvider &dp) {
                    dp.WritePacketString(bs, tag, status, value, type);
                });
            },
            py::arg("BaseStation"), py::arg("DataTag"), py::arg("Status"), py::arg("Value"),
            py::arg("DataType"),
            R"(Transmit a Data Provider packet containing a non numeric value (str or bytes).
DataType DT_NONE, DT_STRING, DT_BINARY or DT_INTERFACE; any other raises
AutomationError 0x800403EB.)")
        .def(
            "WritePacketNumeric",
            [](DataProviderObject &self, long long BaseStation, long long DataTag, long long Status,
               double Value, long long DataType) {
                const auto bs = byteArg(BaseStation, "BaseStation");
                const auto tag = longArg(DataTag, "DataTag");
                const auto status = byteArg(Status, "Status");
                const auto type = dataType(DataType);
                callMember(self, Wait::No, [&](IDataProvider &dp) {
                    dp.WritePacketNumeric(bs, tag, status, Value, type);
                });
            },
            py::arg("BaseStation"), py::arg("DataTag"), py::arg("Status"), py::arg("Value"),
            py::arg("DataType"),
            R"(Transmit a Data Provider packet containing a numeric value. DataType DT_UINT8,
DT_UINT16, DT_INT32, DT_FLOAT or DT_INTERFACE; any other raises AutomationError
0x800403EB, a value out of the type's range 0x800403EC.)")
        .def(
            "WakeBroadcast",
            [](DataProviderObject &self, long long BaseStation) {
                const auto bs = byteArg(BaseStation, "BaseStation");
                callMember(self, Wait::Yes, [&](IDataProvider &dp) { dp.WakeBroadcast(bs); });
            },
            py::arg("BaseStation"),
            "Broadcast a Wake command to all devices on the same channel and encryption key.")
        .def(
            "WakeByID",
            [](DataProviderObject &self, long long BaseStation, long long ID) {
                const auto bs = byteArg(BaseStation, "BaseStation");
                const auto id = longArg(ID, "ID");
                callMember(self, Wait::Yes, [&](IDataProvider &dp) { dp.WakeByID(bs, id); });
            },
            py::arg("BaseStation"), py::arg("ID"), "Wake the specific device.")
        .def(
            "SleepByDataTag",
            [](DataProviderObject &self, long long DataTag) {
                const auto tag = longArg(DataTag, "DataTag");
                callMember(self, Wait::No, [&](IDataProvider &dp) { dp.SleepByDataTag(tag); });
            },
            py::arg("DataTag"),
            "Send a Sleep command to the device that transmits the specified Data Tag. Active "
            "for 5 seconds.")
        .def(
            "SleepBroadcastByDataTag",
            [](DataProviderObject &self) {
                callMember(self, Wait::No, [](IDataProvider &dp) { dp.SleepBroadcastByDataTag(); });
            },
            "As Data Tags arrive send the transmitting device to sleep. Active for 5 seconds.")
        .def(
            "BroadcastStayAwake",
            [](DataProviderObject &self) {
                callMember(self, Wait::No, [](IDataProvider &dp) { dp.BroadcastStayAwake(); });
            },
            "For the next 5 seconds issue a stay awake command to all devices who transmit a "
            "Data Provider packet.")
        // 12 to 14
        .def_property_readonly(
            "Version",
            [](DataProviderObject &self) {
                return singleValue(
                    callMember(self, Wait::No, [](IDataProvider &dp) { return dp.get_Version(); }));
            },
            "Read the version of this DLL (the component's version, 2.3).")
        .def_property_readonly(
            "DLLVersion",
            [](DataProviderObject &self) {
                return singleValue(callMember(
                    self, Wait::No, [](IDataProvider &dp) { return dp.get_DLLVersion(); }));
            },
            "Read the version of the LyxDrv library that this component is dependent on.")
        .def(
            "TriggerEvent",
            [](DataProviderObject &self, py::object ByteArray, std::optional<long long> Length) {
                platform::ByteArray frame = byteArray(ByteArray);
                std::int32_t length = Length ? longArg(*Length, "Length")
                                             : static_cast<std::int32_t>(frame.items.size());
                callMember(self, Wait::No,
                           [&](IDataProvider &dp) { dp.TriggerEvent(frame, length); });
            },
            py::arg("ByteArray"), py::arg("Length") = py::none(),
            R"(Hands a received link frame to the object as the driver does: the frame's bytes
(bytes-like, or a sequence of byte values) and its length (default: all of them).
A Data Provider packet is decoded, stored and raised as PacketArrived.)")
        // 15 to 19
        .def(
            "Pair",
            [](DataProviderObject &self, long long BaseStation, long long UseRemoteSettings,
               long long Duration) {
                return pair(self, BaseStation, UseRemoteSettings, Duration, false);
            },
            py::arg("BaseStation"), py::arg("UseRemoteSettings"), py::arg("Duration"), kPairHelp)
        .def_property_readonly(
            "BaseStationChannel",
            [](py::object self) {
                self.cast<DataProviderObject &>().use();
                return ChannelProperty{self};
            },
            kChannelHelp)
        .def(
            "PairConfig",
            [](DataProviderObject &self, long long BaseStation, long long UseRemoteSettings,
               long long Duration) {
                return pair(self, BaseStation, UseRemoteSettings, Duration, true);
            },
            py::arg("BaseStation"), py::arg("UseRemoteSettings"), py::arg("Duration"),
            kPairConfigHelp)
        .def(
            "BaseStationID",
            [](DataProviderObject &self, long long BaseStation) {
                const auto bs = byteArg(BaseStation, "BaseStation");
                return callMember(self, Wait::Yes,
                                  [&](IDataProvider &dp) { return dp.BaseStationID(bs); });
            },
            py::arg("BaseStation"),
            "Returns the ID of the connected base station or zero if not detected.")
        // 20 to 23
        .def(
            "RemoteWrite",
            [](DataProviderObject &self, long long BaseStation, long long ID, long long Command,
               py::object NewValue) {
                std::uint8_t bs = byteArg(BaseStation, "BaseStation");
                std::int32_t id = longArg(ID, "ID");
                std::uint8_t command = byteArg(Command, "Command");
                std::string value = remoteText(NewValue);
                return responseType(callMember(self, Wait::Yes, [&](IDataProvider &dp) {
                    return dp.RemoteWrite(bs, id, command, value);
                }));
            },
            py::arg("BaseStation"), py::arg("ID"), py::arg("Command"), py::arg("NewValue"),
            R"(Write the specified value to a parameter of a particular remote device. The
remote device should be paused or in config mode following a pair for this
function to work. The value travels as text (str, bytes, or a number written as
Python writes it). Returns a Response_Type.)")
        .def(
            "RemoteRead",
            [](DataProviderObject &self, long long BaseStation, long long ID, long long Command) {
                std::uint8_t bs = byteArg(BaseStation, "BaseStation");
                std::int32_t id = longArg(ID, "ID");
                std::uint8_t command = byteArg(Command, "Command");
                std::string value;
                const auto rt = callMember(self, Wait::Yes, [&](IDataProvider &dp) {
                    return dp.RemoteRead(bs, id, command, value);
                });
                return py::make_tuple(responseType(rt), text(value));
            },
            py::arg("BaseStation"), py::arg("ID"), py::arg("Command"),
            R"(Read the specified parameter from a remote device. The remote device should be
paused or in config mode following a pair for this function to work.
Returns (Response_Type, Value); Value is "" unless the result is RT_ACK.)")
        .def_property(
            "BSIFID",
            [](DataProviderObject &self) {
                return callMember(self, Wait::No,
                                  [](IDataProvider &dp) { return dp.get_BSIFID(); });
            },
            [](DataProviderObject &self, long long value) {
                const auto v = longArg(value, "BSIFID");
                callMember(self, Wait::No, [&](IDataProvider &dp) { dp.put_BSIFID(v); });
            },
            "A stored 32-bit value that nothing in the component reads (hidden member).")
        // 24 to 27
        .def(
            "PauseByDataTag",
            [](DataProviderObject &self, long long DataTag) {
                const auto tag = longArg(DataTag, "DataTag");
                callMember(self, Wait::No, [&](IDataProvider &dp) { dp.PauseByDataTag(tag); });
            },
            py::arg("DataTag"),
            "Send a Pause command to the device that transmits the specified Data Tag. Active "
            "for 5 seconds.")
        .def_property_readonly(
            "ReadBaseStationChannel",
            [](DataProviderObject &self) {
                return callMember(self, Wait::Yes, [](IDataProvider &dp) {
                    return dp.get_ReadBaseStationChannel();
                });
            },
            "For use when BaseStationChannel cannot be used. Only works with base station "
            "address 1.")
        .def_property(
            "WriteBaseStationChannel",
            [](DataProviderObject &) -> int {
                throw py::attribute_error(
                    "WriteBaseStationChannel is write-only: read ReadBaseStationChannel");
            },
            [](DataProviderObject &self, long long value) {
                const auto channel = byteArg(value, "WriteBaseStationChannel");
                callMember(self, Wait::Yes,
                           [&](IDataProvider &dp) { dp.put_WriteBaseStationChannel(channel); });
            },
            "For use when BaseStationChannel cannot be used. Only works with base station "
            "address 1. Write-only.")
        .def(
            "DecodeRLX",
            [](DataProviderObject &self, py::object Data) {
                std::string data = byteString(Data, "Data");
                std::int32_t timestamp = 0;
                platform::FloatArray values;
                callMember(self, Wait::No,
                           [&](IDataProvider &dp) { dp.DecodeRLX(data, timestamp, values); });
                std::vector<double> readings;
                for (float v : values.items)
                    readings.push_back(singleValue(v));
                return py::make_tuple(timestamp, readings);
            },
            py::arg("Data"),
            R"(A helper function for decoding data from Lyx-RLX modules. Pass the binary data
from the data provider (bytes, or the Packet's value) and get (Timestamp, Values):
the timestamp and the list of the 10 values extracted.)");

    // Beside the interface: which base stations the link has.
    cls.def("base_stations", &linkStations,
            R"(The base-station numbers on the link now, as a list: the USB base stations
plugged in and working (1 to 3), or [1] for a serial port that is open (whether a
station answers on it or not). Empty before Initialise and when no USB base station is
plugged in. Initialise(0, 0) looks for the USB base stations before it returns, so the
list is complete right after it; a station plugged in later joins the list once this
thread dispatches messages (pump(), packets()).)");

    m.def(
        "_interface_members",
        [](DataProviderObject &self) {
            auto dp = self.use();
            py::list members;
            for (const auto &member : dp->typeInfo().members) {
                const char *kind = member.kind == platform::MemberKind::Method        ? "method"
                                   : member.kind == platform::MemberKind::PropertyGet ? "get"
                                                                                      : "put";
                members.append(py::make_tuple(std::string(member.name), kind, member.hidden));
            }
            return members;
        },
        "The component's member table as (name, kind, hidden): for the tests.");
}

}  // namespace lyx::python
