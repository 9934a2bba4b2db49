// The type library LyxDataProviderCOM: the member table of _DataProvider in slot
// order, the events of __DataProvider, the enumerations Data_Type and
// Response_Type, and the class DataProvider. Late binding reads the same tables.
#pragma once

#include <cstddef>

#include "lyx/platform/type_info.hpp"

namespace lyx::dataprovider {

// Slot numbers of _DataProvider (slot 1 is members[0]).
enum class Slot : std::size_t {
    Initialise = 1,
    Terminate,
    ReadPacket,
    ReadPacketEx,
    WritePacketString,
    WritePacketNumeric,
    WakeBroadcast,
    WakeByID,
    SleepByDataTag,
    SleepBroadcastByDataTag,
    BroadcastStayAwake,
    Version,
    DLLVersion,
    TriggerEvent,
    Pair,
    BaseStationChannelGet,
    BaseStationChannelPut,
    PairConfig,
    BaseStationID,
    RemoteWrite,
    RemoteRead,
    BSIFIDGet,
    BSIFIDPut,
    PauseByDataTag,
    ReadBaseStationChannel,
    WriteBaseStationChannel,
    DecodeRLX,
};
inline constexpr std::size_t kSlotCount = 27;

extern const platform::InterfaceDesc kDataProviderInterface;
extern const platform::InterfaceDesc kDataProviderEvents;
extern const platform::EnumDesc kDataTypeEnum;
extern const platform::EnumDesc kResponseTypeEnum;
extern const platform::TypeLibDesc kTypeLibrary;

}  // namespace lyx::dataprovider
