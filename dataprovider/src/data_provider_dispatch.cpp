// DataProvider: late binding. One handler per slot of _DataProvider, in slot
// order; the arguments arrive converted to the parameter types of the member
// table, and what a handler leaves in a by-reference argument is written back.

#include <array>

#include "data_provider.hpp"
#include "type_library.hpp"

namespace lyx::dataprovider {
namespace {

using platform::ByteArray;
using platform::FloatArray;
using platform::Variant;
using Args = std::span<Variant>;
using Handler = platform::MemberHandler<DataProvider>;

std::uint8_t &u8(Args a, std::size_t i) {
    return a[i].as<std::uint8_t>();
}
std::int16_t &i16(Args a, std::size_t i) {
    return a[i].as<std::int16_t>();
}
std::int32_t &i32(Args a, std::size_t i) {
    return a[i].as<std::int32_t>();
}
bool &flag(Args a, std::size_t i) {
    return a[i].as<bool>();
}
std::string &text(Args a, std::size_t i) {
    return a[i].as<std::string>();
}
Data_Type dataType(Args a, std::size_t i) {
    return static_cast<Data_Type>(a[i].as<std::int32_t>());
}

constexpr std::array<Handler, kSlotCount> kHandlers = {
    // 1 Initialise
    [](DataProvider &o, Args a) -> Variant { return o.Initialise(i16(a, 0), i32(a, 1)); },
    // 2 Terminate
    [](DataProvider &o, Args) -> Variant {
        o.Terminate();
        return {};
    },
    // 3 ReadPacket
    [](DataProvider &o, Args a) -> Variant { return o.get_ReadPacket(i32(a, 0), i32(a, 1)); },
    // 4 ReadPacketEx
    [](DataProvider &o, Args a) -> Variant {
        return o.get_ReadPacketEx(i32(a, 0), i32(a, 1), u8(a, 2), i16(a, 3), i16(a, 4), flag(a, 5),
                                  flag(a, 6));
    },
    // 5 WritePacketString
    [](DataProvider &o, Args a) -> Variant {
        o.WritePacketString(u8(a, 0), i32(a, 1), u8(a, 2), text(a, 3), dataType(a, 4));
        return {};
    },
    // 6 WritePacketNumeric
    [](DataProvider &o, Args a) -> Variant {
        o.WritePacketNumeric(u8(a, 0), i32(a, 1), u8(a, 2), a[3].as<double>(), dataType(a, 4));
        return {};
    },
    // 7 WakeBroadcast
    [](DataProvider &o, Args a) -> Variant {
        o.WakeBroadcast(u8(a, 0));
        return {};
    },
    // 8 WakeByID
    [](DataProvider &o, Args a) -> Variant {
        o.WakeByID(u8(a, 0), i32(a, 1));
        return {};
    },
    // 9 SleepByDataTag
    [](DataProvider &o, Args a) -> Variant {
        o.SleepByDataTag(i32(a, 0));
        return {};
    },
    // 10 SleepBroadcastByDataTag
    [](DataProvider &o, Args) -> Variant {
        o.SleepBroadcastByDataTag();
        return {};
    },
    // 11 BroadcastStayAwake
    [](DataProvider &o, Args) -> Variant {
        o.BroadcastStayAwake();
        return {};
    },
    // 12 Version
    [](DataProvider &o, Args) -> Variant { return o.get_Version(); },
    // 13 DLLVersion
    [](DataProvider &o, Args) -> Variant { return o.get_DLLVersion(); },
    // 14 TriggerEvent
    [](DataProvider &o, Args a) -> Variant {
        o.TriggerEvent(a[0].as<ByteArray>(), i32(a, 1));
        return {};
    },
    // 15 Pair
    [](DataProvider &o, Args a) -> Variant {
        return o.Pair(u8(a, 0), u8(a, 1), u8(a, 2), i32(a, 3), i32(a, 4));
    },
    // 16 BaseStationChannel get
    [](DataProvider &o, Args a) -> Variant { return o.get_BaseStationChannel(u8(a, 0)); },
    // 17 BaseStationChannel put
    [](DataProvider &o, Args a) -> Variant {
        o.put_BaseStationChannel(u8(a, 0), u8(a, 1));
        return {};
    },
    // 18 PairConfig
    [](DataProvider &o, Args a) -> Variant {
        return o.PairConfig(u8(a, 0), u8(a, 1), u8(a, 2), i32(a, 3), i32(a, 4));
    },
    // 19 BaseStationID
    [](DataProvider &o, Args a) -> Variant { return o.BaseStationID(u8(a, 0)); },
    // 20 RemoteWrite
    [](DataProvider &o, Args a) -> Variant {
        return static_cast<std::int32_t>(o.RemoteWrite(u8(a, 0), i32(a, 1), u8(a, 2), text(a, 3)));
    },
    // 21 RemoteRead
    [](DataProvider &o, Args a) -> Variant {
        return static_cast<std::int32_t>(o.RemoteRead(u8(a, 0), i32(a, 1), u8(a, 2), text(a, 3)));
    },
    // 22 BSIFID get
    [](DataProvider &o, Args) -> Variant { return o.get_BSIFID(); },
    // 23 BSIFID put
    [](DataProvider &o, Args a) -> Variant {
        o.put_BSIFID(i32(a, 0));
        return {};
    },
    // 24 PauseByDataTag
    [](DataProvider &o, Args a) -> Variant {
        o.PauseByDataTag(i32(a, 0));
        return {};
    },
    // 25 ReadBaseStationChannel
    [](DataProvider &o, Args) -> Variant { return o.get_ReadBaseStationChannel(); },
    // 26 WriteBaseStationChannel
    [](DataProvider &o, Args a) -> Variant {
        o.put_WriteBaseStationChannel(u8(a, 0));
        return {};
    },
    // 27 DecodeRLX
    [](DataProvider &o, Args a) -> Variant {
        o.DecodeRLX(text(a, 0), i32(a, 1), a[2].as<FloatArray>());
        return {};
    },
};

}  // namespace

platform::Variant DataProvider::invoke(platform::DispId id, unsigned kind,
                                       std::span<platform::Variant> args) {
    return platform::invokeFromTable<DataProvider>(kDataProviderInterface, kHandlers, *this, id,
                                                   kind, args);
}

}  // namespace lyx::dataprovider
