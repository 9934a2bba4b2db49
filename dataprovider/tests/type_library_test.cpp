// The published interface: slots, kinds, parameter types, help strings,
// hidden members, events and enumerations.

#include <gtest/gtest.h>

#include <set>

#include "lyx/dataprovider/data_provider.hpp"
#include "type_library.hpp"

using namespace lyx::dataprovider;
using lyx::platform::MemberKind;
using lyx::platform::VarType;

namespace {

struct Expected {
    const char *name;
    MemberKind kind;
    std::vector<std::pair<VarType, bool>> params;  // type, by reference
    VarType result;
    bool hidden;
};

constexpr auto M = MemberKind::Method;
constexpr auto G = MemberKind::PropertyGet;
constexpr auto P = MemberKind::PropertyPut;
constexpr auto U8 = VarType::UInt8;
constexpr auto I16 = VarType::Int16;
constexpr auto I32 = VarType::Int32;
constexpr auto S = VarType::String;
constexpr auto B = VarType::Bool;
constexpr auto None = VarType::Empty;

}  // namespace

TEST(TypeLibrary, SlotsInOrderWithKindsParameterTypesAndResults) {
    const std::vector<Expected> expected = {
        {"Initialise", M, {{I16, false}, {I32, false}}, I16, false},
        {"Terminate", M, {}, None, false},
        {"ReadPacket", G, {{I32, false}, {I32, false}}, S, false},
        {"ReadPacketEx",
         G,
         {{I32, false}, {I32, false}, {U8, true}, {I16, true}, {I16, true}, {B, true}, {B, true}},
         S,
         false},
        {"WritePacketString",
         M,
         {{U8, false}, {I32, false}, {U8, false}, {S, false}, {I32, false}},
         None,
         false},
        {"WritePacketNumeric",
         M,
         {{U8, false}, {I32, false}, {U8, false}, {VarType::Double, false}, {I32, false}},
         None,
         false},
        {"WakeBroadcast", M, {{U8, false}}, None, false},
        {"WakeByID", M, {{U8, false}, {I32, false}}, None, false},
        {"SleepByDataTag", M, {{I32, false}}, None, false},
        {"SleepBroadcastByDataTag", M, {}, None, false},
        {"BroadcastStayAwake", M, {}, None, false},
        {"Version", G, {}, VarType::Float, false},
        {"DLLVersion", G, {}, VarType::Float, false},
        {"TriggerEvent", M, {{VarType::ByteArray, true}, {I32, true}}, None, true},
        {"Pair", M, {{U8, false}, {U8, false}, {U8, false}, {I32, true}, {I32, true}}, I16, false},
        {"BaseStationChannel", G, {{U8, false}}, U8, false},
        {"BaseStationChannel", P, {{U8, false}, {U8, false}}, None, false},
        {"PairConfig",
         M,
         {{U8, false}, {U8, false}, {U8, false}, {I32, true}, {I32, true}},
         I16,
         false},
        {"BaseStationID", M, {{U8, false}}, I32, false},
        {"RemoteWrite", M, {{U8, true}, {I32, true}, {U8, true}, {S, true}}, I32, false},
        {"RemoteRead", M, {{U8, true}, {I32, true}, {U8, true}, {S, true}}, I32, false},
        {"BSIFID", G, {}, I32, true},
        {"BSIFID", P, {{I32, false}}, None, true},
        {"PauseByDataTag", M, {{I32, false}}, None, false},
        {"ReadBaseStationChannel", G, {}, U8, false},
        {"WriteBaseStationChannel", P, {{U8, false}}, None, false},
        {"DecodeRLX", M, {{S, true}, {I32, true}, {VarType::FloatArray, true}}, None, false},
    };
    const auto &members = kDataProviderInterface.members;
    ASSERT_EQ(members.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("slot " + std::to_string(i + 1));
        EXPECT_EQ(members[i].name, expected[i].name);
        EXPECT_EQ(members[i].kind, expected[i].kind);
        EXPECT_EQ(members[i].result, expected[i].result);
        EXPECT_EQ(members[i].hidden, expected[i].hidden);
        ASSERT_EQ(members[i].params.size(), expected[i].params.size());
        for (std::size_t p = 0; p < expected[i].params.size(); ++p) {
            EXPECT_EQ(members[i].params[p].type, expected[i].params[p].first) << p;
            EXPECT_EQ(members[i].params[p].byRef, expected[i].params[p].second) << p;
        }
    }
    EXPECT_EQ(members[4].params[4].typeName, "Data_Type");
    EXPECT_EQ(members[19].resultTypeName, "Response_Type");
    EXPECT_EQ(members[20].resultTypeName, "Response_Type");
}

TEST(TypeLibrary, GetAndPutOfAPropertyShareOneDispatchIdentifierAndNamesAreUnique) {
    const auto &m = kDataProviderInterface.members;
    EXPECT_EQ(m[15].id, m[16].id);  // BaseStationChannel
    EXPECT_EQ(m[21].id, m[22].id);  // BSIFID
    std::set<lyx::platform::DispId> ids;
    std::set<std::string_view> names;
    for (const auto &member : m) {
        ids.insert(member.id);
        names.insert(member.name);
    }
    EXPECT_EQ(ids.size(), 25u);
    EXPECT_EQ(names.size(), 25u);
}

TEST(TypeLibrary, HelpStringsAreVerbatim) {
    const auto &m = kDataProviderInterface.members;
    EXPECT_EQ(m[0].help, "");
    EXPECT_EQ(m[1].help,
              "Call to terminate the connection. This should be called before you exit your "
              "application.\r\nDo not use any properties or methods after this method has been "
              "executed.");
    EXPECT_EQ(m[3].help.size(), 254u);
    EXPECT_TRUE(m[3].help.ends_with("converted to a readable AS"));
    EXPECT_TRUE(m[3].help.starts_with(
        "Read the last value and other data from a specific Data Tag. Used instead of DataArrived "
        "event.\r\nThe value"));
    EXPECT_EQ(m[2].help.size(), m[3].help.size() - std::string_view(" and other data").size() +
                                    std::string_view("CII string.").size());
    EXPECT_EQ(m[19].help,
              "Write the specified value to a parameter of a particular remote device.  The remote "
              "device should be paused or in config mode following a pair for this function to "
              "work.");
    EXPECT_EQ(m[12].help, "Read the version of LYXDRV.DLL library that this DLL is dependent on.");
    EXPECT_EQ(m[15].help, m[16].help);
    EXPECT_EQ(m[24].help, m[25].help);
    EXPECT_EQ(m[24].help,
              "For use when BaseStationChannel cannot be used. Only works with base station "
              "address 1.");
    for (std::size_t hidden : {13, 21, 22})
        EXPECT_EQ(m[hidden].help, "") << hidden;
    for (std::size_t i :
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15, 17, 18, 19, 20, 23, 24, 26})
        EXPECT_FALSE(m[i].help.empty()) << i;
}

TEST(TypeLibrary, EventsWithTheirIdentifiersAndEveryParameterByReference) {
    const auto &events = kDataProviderEvents.members;
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(kDataProviderEvents.name, "__DataProvider");
    EXPECT_EQ(events[0].name, "PacketArrived");
    EXPECT_EQ(events[0].id, 1);
    EXPECT_EQ(events[0].help, "Event raised when a Data Provider packet arrives.");
    EXPECT_FALSE(events[0].hidden);
    const std::vector<std::string_view> names{"BaseStation", "DataTag", "Value",   "Status",
                                              "RSSI",        "CV",      "BattLow", "Error"};
    ASSERT_EQ(events[0].params.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(events[0].params[i].name, names[i]);
    EXPECT_EQ(events[1].name, "BSIFReadArrived");
    EXPECT_EQ(events[1].id, 2);
    EXPECT_TRUE(events[1].hidden);
    EXPECT_EQ(events[2].name, "BSIFWriteArrived");
    EXPECT_EQ(events[2].id, 3);
    EXPECT_EQ(events[2].params.size(), 3u);
    for (const auto &event : events)
        for (const auto &param : event.params)
            EXPECT_TRUE(param.byRef) << event.name;
}

TEST(TypeLibrary, EnumerationsIdentifiersAndTheLibraryItself) {
    ASSERT_EQ(kDataTypeEnum.constants.size(), 8u);
    EXPECT_EQ(kDataTypeEnum.constants[7].name, "DT_INTERFACE");
    EXPECT_EQ(kDataTypeEnum.constants[7].value, 255);
    ASSERT_EQ(kResponseTypeEnum.constants.size(), 5u);
    EXPECT_EQ(kResponseTypeEnum.constants[4].name, "RT_INVALID_DATA");
    EXPECT_EQ(kResponseTypeEnum.constants[4].value, 4);
    for (const auto *e : {&kDataTypeEnum, &kResponseTypeEnum})
        for (const auto &c : e->constants)
            EXPECT_EQ(c.help, c.name);
    EXPECT_EQ(toString(kDataTypeEnum.id), "{21A9E21A-4CE6-4C0A-9CD6-2E702F01C592}");
    EXPECT_EQ(toString(kResponseTypeEnum.id), "{A3624731-9C89-44EE-B24E-84607A9233B2}");
    EXPECT_EQ(toString(kDataProviderInterface.iid), "{C5D6D999-0DD4-43EF-8064-DA656043E59E}");
    EXPECT_EQ(toString(kDataProviderEvents.iid), "{EB3DDF51-3097-4648-98EB-385A5D47EC54}");

    EXPECT_EQ(kTypeLibrary.name, "LyxDataProviderCOM");
    EXPECT_EQ(toString(kTypeLibrary.id), "{8866A644-CC19-499C-AE52-1C8612A1F786}");
    EXPECT_EQ(kTypeLibrary.majorVersion, 3);
    EXPECT_EQ(kTypeLibrary.minorVersion, 4);
    EXPECT_EQ(kTypeLibrary.locale, 0x409u);
    EXPECT_EQ(kTypeLibrary.help, "LyxDataProviderCOM");
    EXPECT_EQ(kTypeLibrary.helpFile, "LyxDataProviderCOM.chm");
    ASSERT_EQ(kTypeLibrary.classes.size(), 1u);
    EXPECT_EQ(kTypeLibrary.classes[0].name, "DataProvider");
    EXPECT_EQ(kTypeLibrary.classes[0].progId, "LyxDataProviderCOM.DataProvider");
    EXPECT_EQ(toString(kTypeLibrary.classes[0].classId), "{B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D}");
    EXPECT_EQ(kTypeLibrary.classes[0].defaultInterface, &kDataProviderInterface);
    EXPECT_EQ(kTypeLibrary.classes[0].events, &kDataProviderEvents);
}
