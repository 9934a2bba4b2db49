// DataProvider: the one creatable class of libLyxDataProviderCOM.so, as C++
// clients see it.
//
// Create an object through the automation stand-in, once the component is
// registered (lyx-regsvr, or its DllRegisterServer):
//
//   using namespace lyx::dataprovider;
//   auto dp = lyx::platform::createInstance<IDataProvider>(kClassId);
//   dp->Initialise(0, 0);  // the USB base stations; (3, 9600) for serial port 3
//
// Events: implement IDataProviderEvents and connect it to the object:
//
//   auto cookie = dp.query<lyx::platform::EventSource>()->advise(
//       IDataProviderEvents::iid, *sink);
//
// Threads: an object belongs to the thread that creates it (a single-threaded
// apartment). Call it, and release it, on that thread only. Packets arrive and
// events are raised on that thread while it dispatches its messages
// (LyxPumpMessages, or its event loop watching LyxMessageFd); methods that wait
// dispatch them too, so an event may be raised in the middle of a call.
//
// Errors: members raise lyx::platform::AutomationError with the number and
// description the interface documents; driver results are returned, never
// raised.
//
// Value texts (PacketArrived, ReadPacket, RemoteRead): numbers are written with
// "." as the decimal point whatever the locale, so scripts and programs can read
// them back with any C-locale number parser; DT_INT32 values through single
// precision with up to seven significant digits and an exponent from 1E+07 on
// ("1.234568E+08"); DT_FLOAT values with seven decimal places cut to seven
// significant characters ("1.500000", "1234.567", "0.0012340"). String and
// binary values are the packet's bytes, one byte per character, unchanged
// (0x80 to 0xFF included).
#pragma once

#include <cstdint>
#include <string>

#include "lyx/platform/automation_error.hpp"
#include "lyx/platform/dispatch.hpp"
#include "lyx/platform/guid.hpp"
#include "lyx/platform/variant.hpp"

namespace lyx::dataprovider {

using platform::guid;

// Identifiers of the type library LyxDataProviderCOM (version 3.4, locale 0x409).
inline constexpr platform::Guid kTypeLibraryId = guid("{8866A644-CC19-499C-AE52-1C8612A1F786}");
inline constexpr platform::Guid kClassId = guid("{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D}");
inline constexpr platform::Guid kInterfaceId = guid("{C5D6D999-0DD4-43EF-8064-DA656043E59E}");
inline constexpr platform::Guid kEventsId = guid("{EB3DDF51-3097-4648-98EB-385A5D47EC54}");
inline constexpr platform::Guid kDataTypeId = guid("{21A9E21A-4CE6-4C0A-9CD6-2E702F01C592}");
inline constexpr platform::Guid kResponseTypeId = guid("{A3624731-9C89-44EE-B24E-84607A9233B2}");
inline constexpr const char *kProgId = "LyxDataProviderCOM.DataProvider";

// Data type codes of Data Provider packets and typed values.
enum Data_Type : std::int32_t {
    DT_NONE = 0,
    DT_UINT8 = 1,
    DT_UINT16 = 2,
    DT_INT32 = 3,
    DT_FLOAT = 4,
    DT_STRING = 5,
    DT_BINARY = 6,
    DT_INTERFACE = 255,
};

// Results of requests to the base station and remote devices.
enum Response_Type : std::int32_t {
    RT_ACK = 0,
    RT_NOBASE = 1,
    RT_NORESPONSE = 2,
    RT_NAK = 3,
    RT_INVALID_DATA = 4,
};

// Error numbers raised for bad arguments.
inline constexpr std::int32_t kInvalidDataType = platform::hresult(0x800403EB);
inline constexpr std::int32_t kInvalidValue = platform::hresult(0x800403EC);
// Raised by the members that wait for the base station (wake, remote
// parameters, base-station ID and channel) when they are called from inside
// the object's own PacketArrived handler, where the driver stays busy until the
// handler returns, or when the driver stays busy for ten seconds.
inline constexpr std::int32_t kBusyError = platform::hresult(0x800403ED);

// The default interface `_DataProvider`, members in slot order. Byte strings
// are std::string holding one byte per character.
class IDataProvider : public platform::Dispatch {
  public:
    static constexpr platform::Guid iid = kInterfaceId;
    using Base = platform::Dispatch;

    // Opens serial port `Port` at `Baudrate`, or the USB base stations when
    // Port is 0; returns the driver's open result (0 opened).
    virtual std::int16_t Initialise(std::int16_t Port, std::int32_t Baudrate) = 0;
    // Closes the link, then dispatches messages for one second.
    virtual void Terminate() = 0;
    virtual std::string get_ReadPacket(std::int32_t DataTag, std::int32_t Timeout) = 0;
    virtual std::string get_ReadPacketEx(std::int32_t DataTag, std::int32_t Timeout,
                                         std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV,
                                         bool &BattLow, bool &Error) = 0;
    virtual void WritePacketString(std::uint8_t BaseStation, std::int32_t DataTag,
                                   std::uint8_t Status, const std::string &Value,
                                   Data_Type DataType) = 0;
    virtual void WritePacketNumeric(std::uint8_t BaseStation, std::int32_t DataTag,
                                    std::uint8_t Status, double Value, Data_Type DataType) = 0;
    virtual void WakeBroadcast(std::uint8_t BaseStation) = 0;
    virtual void WakeByID(std::uint8_t BaseStation, std::int32_t ID) = 0;
    virtual void SleepByDataTag(std::int32_t DataTag) = 0;
    virtual void SleepBroadcastByDataTag() = 0;
    virtual void BroadcastStayAwake() = 0;
    virtual float get_Version() = 0;
    virtual float get_DLLVersion() = 0;
    virtual void TriggerEvent(platform::ByteArray &ByteArray, std::int32_t &Length) = 0;
    virtual std::int16_t Pair(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                              std::uint8_t Duration, std::int32_t &ID, std::int32_t &DataTag) = 0;
    virtual std::uint8_t get_BaseStationChannel(std::uint8_t BaseStation) = 0;
    virtual void put_BaseStationChannel(std::uint8_t BaseStation, std::uint8_t value) = 0;
    virtual std::int16_t PairConfig(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                                    std::uint8_t Duration, std::int32_t &ID,
                                    std::int32_t &DataTag) = 0;
    virtual std::int32_t BaseStationID(std::uint8_t BaseStation) = 0;
    virtual Response_Type RemoteWrite(std::uint8_t &BaseStation, std::int32_t &ID,
                                      std::uint8_t &Command, std::string &NewValue) = 0;
    virtual Response_Type RemoteRead(std::uint8_t &BaseStation, std::int32_t &ID,
                                     std::uint8_t &Command, std::string &Value) = 0;
    virtual std::int32_t get_BSIFID() = 0;
    virtual void put_BSIFID(std::int32_t value) = 0;
    virtual void PauseByDataTag(std::int32_t DataTag) = 0;
    virtual std::uint8_t get_ReadBaseStationChannel() = 0;
    virtual void put_WriteBaseStationChannel(std::uint8_t value) = 0;
    virtual void DecodeRLX(std::string &Data, std::int32_t &Timestamp,
                           platform::FloatArray &Values) = 0;

  protected:
    ~IDataProvider() = default;
};

// The event interface `__DataProvider`. Every parameter is passed by
// reference: a PacketArrived handler that changes BaseStation, Status, RSSI, CV,
// BattLow or Error changes the object's last-value store. A sink may instead
// implement platform::Dispatch and receive the events late-bound (dispatch
// identifiers 1, 2, 3).
class IDataProviderEvents : public platform::Unknown {
  public:
    static constexpr platform::Guid iid = kEventsId;
    using Base = platform::Unknown;

    virtual void PacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                               std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV,
                               bool &BattLow, bool &Error) = 0;
    // Published, never raised by the component.
    virtual void BSIFReadArrived(std::uint8_t &, std::uint8_t &) {}
    virtual void BSIFWriteArrived(std::uint8_t &, std::uint8_t &, std::string &) {}

  protected:
    ~IDataProviderEvents() = default;
};

// The counters of an object's link, for C++ clients: an addition of this
// implementation, outside the automation member table (the type library and the
// member order stay as they are). Query it from the object:
//
//   if (auto link = dp.query<ILinkStatistics>()) {
//       LinkStatistics s = link->GetLinkStatistics();
//   }
//
// Every count is since the object's driver was loaded.
struct LinkStatistics {
    std::uint64_t framesDelivered = 0;  // packets handed to the object by its driver
    std::uint64_t framesHeld = 0;       // received, waiting to be handed over
    std::uint64_t framesHeldMax = 0;    // the most that waited at once
    std::uint64_t framesDropped = 0;    // lost: the waiting packets reached their bound
    std::uint64_t bytesDropped = 0;     // lost: received bytes the receive ring had no room for
    std::uint64_t bytesDiscarded = 0;   // received bytes that were not part of a good frame
    std::uint32_t stations = 0;         // bit n: base station n is on the link now
};

class ILinkStatistics : public platform::Unknown {
  public:
    static constexpr platform::Guid iid = guid("{5E0C2B61-7D43-4A8F-9B1E-2C6A9D7F4E13}");
    using Base = platform::Unknown;

    // The counters now; all zero before Initialise.
    virtual LinkStatistics GetLinkStatistics() = 0;

  protected:
    ~ILinkStatistics() = default;
};

// Pairing while packets keep arriving, for C++ clients: an addition of this implementation
// beside ILinkStatistics, outside the automation member table. Pair and PairConfig wait for
// the whole pairing, and the driver holds every packet back until they return; a pairing
// started here returns at once, and packets go on arriving (on the thread's messages, as
// always) while it waits for a module. Query it from the object:
//
//   if (auto pairing = dp.query<IPairing>()) pairing->PairStart(1, 255, false, 20);
class IPairing : public platform::Unknown {
  public:
    static constexpr platform::Guid iid = guid("{51AA335F-102A-403C-A80C-9FFA507D2D24}");
    using Base = platform::Unknown;

    // Starts pairing through BaseStation for Duration seconds (configuration mode when
    // Configuration is set), as Pair and PairConfig do: 0 started, 99 the driver is busy
    // with another request.
    virtual std::int16_t PairStart(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                                   bool Configuration, std::uint8_t Duration) = 0;
    // The pairing's state: 99 still waiting, 0 paired (ID and DataTag written), 1 no module
    // paired in time.
    virtual std::int16_t PairPoll(std::int32_t &ID, std::int32_t &DataTag) = 0;

  protected:
    ~IPairing() = default;
};

}  // namespace lyx::dataprovider
