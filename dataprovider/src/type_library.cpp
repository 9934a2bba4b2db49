#include "type_library.hpp"

#include "lyx/dataprovider/data_provider.hpp"

namespace lyx::dataprovider {
namespace {

using platform::MemberDesc;
using platform::MemberKind;
using platform::ParamDesc;
using platform::VarType;
constexpr MemberKind kMethod = MemberKind::Method;
constexpr MemberKind kGet = MemberKind::PropertyGet;
constexpr MemberKind kPut = MemberKind::PropertyPut;
constexpr bool kRef = true;
constexpr bool kHidden = true;

// Dispatch identifiers: the slot of the member's first appearance, so that a
// property's get and put share one.
enum Id : platform::DispId {
    kInitialise = 1,
    kTerminate = 2,
    kReadPacket = 3,
    kReadPacketEx = 4,
    kWritePacketString = 5,
    kWritePacketNumeric = 6,
    kWakeBroadcast = 7,
    kWakeByID = 8,
    kSleepByDataTag = 9,
    kSleepBroadcastByDataTag = 10,
    kBroadcastStayAwake = 11,
    kVersion = 12,
    kDLLVersion = 13,
    kTriggerEvent = 14,
    kPair = 15,
    kBaseStationChannel = 16,
    kPairConfig = 18,
    kBaseStationID = 19,
    kRemoteWrite = 20,
    kRemoteRead = 21,
    kBSIFID = 22,
    kPauseByDataTag = 24,
    kReadBaseStationChannel = 25,
    kWriteBaseStationChannel = 26,
    kDecodeRLX = 27,
};

constexpr ParamDesc kInitialiseParams[] = {{"Port", VarType::Int16}, {"Baudrate", VarType::Int32}};
constexpr ParamDesc kReadPacketParams[] = {{"DataTag", VarType::Int32},
                                           {"Timeout", VarType::Int32}};
constexpr ParamDesc kReadPacketExParams[] = {
    {"DataTag", VarType::Int32},    {"Timeout", VarType::Int32},  {"Status", VarType::UInt8, kRef},
    {"RSSI", VarType::Int16, kRef}, {"CV", VarType::Int16, kRef}, {"BattLow", VarType::Bool, kRef},
    {"Error", VarType::Bool, kRef},
};
constexpr ParamDesc kWritePacketStringParams[] = {
    {"BaseStation", VarType::UInt8},
    {"DataTag", VarType::Int32},
    {"Status", VarType::UInt8},
    {"Value", VarType::String},
    {"DataType", VarType::Int32, false, "Data_Type"},
};
constexpr ParamDesc kWritePacketNumericParams[] = {
    {"BaseStation", VarType::UInt8},
    {"DataTag", VarType::Int32},
    {"Status", VarType::UInt8},
    {"Value", VarType::Double},
    {"DataType", VarType::Int32, false, "Data_Type"},
};
constexpr ParamDesc kBaseStationParam[] = {{"BaseStation", VarType::UInt8}};
constexpr ParamDesc kWakeByIDParams[] = {{"BaseStation", VarType::UInt8}, {"ID", VarType::Int32}};
constexpr ParamDesc kDataTagParam[] = {{"DataTag", VarType::Int32}};
constexpr ParamDesc kTriggerEventParams[] = {{"ByteArray", VarType::ByteArray, kRef},
                                             {"Length", VarType::Int32, kRef}};
constexpr ParamDesc kPairParams[] = {
    {"BaseStation", VarType::UInt8},   {"UseRemoteSettings", VarType::UInt8},
    {"Duration", VarType::UInt8},      {"ID", VarType::Int32, kRef},
    {"DataTag", VarType::Int32, kRef},
};
constexpr ParamDesc kBaseStationChannelPut[] = {{"BaseStation", VarType::UInt8},
                                                {"RHS", VarType::UInt8}};
constexpr ParamDesc kRemoteWriteParams[] = {
    {"BaseStation", VarType::UInt8, kRef},
    {"ID", VarType::Int32, kRef},
    {"Command", VarType::UInt8, kRef},
    {"NewValue", VarType::String, kRef},
};
constexpr ParamDesc kRemoteReadParams[] = {
    {"BaseStation", VarType::UInt8, kRef},
    {"ID", VarType::Int32, kRef},
    {"Command", VarType::UInt8, kRef},
    {"Value", VarType::String, kRef},
};
constexpr ParamDesc kLongPut[] = {{"RHS", VarType::Int32}};
constexpr ParamDesc kBytePut[] = {{"RHS", VarType::UInt8}};
constexpr ParamDesc kDecodeRLXParams[] = {{"Data", VarType::String, kRef},
                                          {"Timestamp", VarType::Int32, kRef},
                                          {"Values", VarType::FloatArray, kRef}};

constexpr const char *kReadPacketHelp =
    "Read the last value from a specific Data Tag. Used instead of DataArrived event.\r\n"
    "The value is read back as a string regardless of the data type within the data provider "
    "packet. i.e. Numeric data has already been converted to a readable ASCII string.";
// Stored cut short at 254 characters, as published.
constexpr const char *kReadPacketExHelp =
    "Read the last value and other data from a specific Data Tag. Used instead of DataArrived "
    "event.\r\n"
    "The value is read back as a string regardless of the data type within the data provider "
    "packet. i.e. Numeric data has already been converted to a readable AS";
constexpr const char *kPairHelp =
    "Perform pairing to retrieve the ID and Data Tag from a device. The device will continue to "
    "operate in a normal manner after pairing.\r\n"
    "This method is blocking and will not return until either a device has paired or the "
    "duration has elapsed.";
constexpr const char *kBaseStationChannelHelp =
    "Read or set the base station radio channel. To check a successful change you will need to "
    "read back the channel after setting.";
constexpr const char *kReadBaseStationChannelHelp =
    "For use when BaseStationChannel cannot be used. Only works with base station address 1.";

constexpr MemberDesc kMembers[] = {
    {kInitialise, "Initialise", kMethod, kInitialiseParams, VarType::Int16},
    {kTerminate,
     "Terminate",
     kMethod,
     {},
     VarType::Empty,
     {},
     "Call to terminate the connection. This should be called before you exit your "
     "application.\r\nDo not use any properties or methods after this method has been executed."},
    {kReadPacket, "ReadPacket", kGet, kReadPacketParams, VarType::String, {}, kReadPacketHelp},
    {kReadPacketEx,
     "ReadPacketEx",
     kGet,
     kReadPacketExParams,
     VarType::String,
     {},
     kReadPacketExHelp},
    {kWritePacketString,
     "WritePacketString",
     kMethod,
     kWritePacketStringParams,
     VarType::Empty,
     {},
     "Transmit a Data Provider packet containing a non numeric value."},
    {kWritePacketNumeric,
     "WritePacketNumeric",
     kMethod,
     kWritePacketNumericParams,
     VarType::Empty,
     {},
     "Transmit a Data Provider packet containing a numeric value."},
    {kWakeBroadcast,
     "WakeBroadcast",
     kMethod,
     kBaseStationParam,
     VarType::Empty,
     {},
     "Broadcast a Wake command to all devices on the same channel and encryption key."},
    {kWakeByID,
     "WakeByID",
     kMethod,
     kWakeByIDParams,
     VarType::Empty,
     {},
     "Wake the specific device."},
    {kSleepByDataTag,
     "SleepByDataTag",
     kMethod,
     kDataTagParam,
     VarType::Empty,
     {},
     "Send a Sleep command to the device that transmits the specified Data Tag. Active for 5 "
     "seconds."},
    {kSleepBroadcastByDataTag,
     "SleepBroadcastByDataTag",
     kMethod,
     {},
     VarType::Empty,
     {},
     "As Data Tags arrive send the transmitting device to sleep. Active for 5 seconds."},
    {kBroadcastStayAwake,
     "BroadcastStayAwake",
     kMethod,
     {},
     VarType::Empty,
     {},
     "For the next 5 seconds issue a stay awake command to all devices who transmit a Data "
     "Provider packet."},
    {kVersion, "Version", kGet, {}, VarType::Float, {}, "Read the version of this DLL."},
    {kDLLVersion,
     "DLLVersion",
     kGet,
     {},
     VarType::Float,
     {},
     "Read the version of LYXDRV.DLL library that this DLL is dependent on."},
    {kTriggerEvent, "TriggerEvent", kMethod, kTriggerEventParams, VarType::Empty, {}, {}, kHidden},
    {kPair, "Pair", kMethod, kPairParams, VarType::Int16, {}, kPairHelp},
    {kBaseStationChannel,
     "BaseStationChannel",
     kGet,
     kBaseStationParam,
     VarType::UInt8,
     {},
     kBaseStationChannelHelp},
    {kBaseStationChannel,
     "BaseStationChannel",
     kPut,
     kBaseStationChannelPut,
     VarType::Empty,
     {},
     kBaseStationChannelHelp},
    {kPairConfig,
     "PairConfig",
     kMethod,
     kPairParams,
     VarType::Int16,
     {},
     "Perform pairing to retrieve the ID and Data Tag from a device. The device will enter "
     "configuration mode after pairing where it will not enter low power mode nor will it "
     "transmit data provider data."},
    {kBaseStationID,
     "BaseStationID",
     kMethod,
     kBaseStationParam,
     VarType::Int32,
     {},
     "Returns the ID of the connected base station or zero if not detected."},
    {kRemoteWrite, "RemoteWrite", kMethod, kRemoteWriteParams, VarType::Int32, "Response_Type",
     "Write the specified value to a parameter of a particular remote device.  The remote device "
     "should be paused or in config mode following a pair for this function to work."},
    {kRemoteRead, "RemoteRead", kMethod, kRemoteReadParams, VarType::Int32, "Response_Type",
     "Read the specified parameter from a remote device. The remote device should be paused or "
     "in config mode following a pair for this function to work."},
    {kBSIFID, "BSIFID", kGet, {}, VarType::Int32, {}, {}, kHidden},
    {kBSIFID, "BSIFID", kPut, kLongPut, VarType::Empty, {}, {}, kHidden},
    {kPauseByDataTag,
     "PauseByDataTag",
     kMethod,
     kDataTagParam,
     VarType::Empty,
     {},
     "Send a Pause command to the device that transmits the specified Data Tag. Active for 5 "
     "seconds."},
    {kReadBaseStationChannel,
     "ReadBaseStationChannel",
     kGet,
     {},
     VarType::UInt8,
     {},
     kReadBaseStationChannelHelp},
    {kWriteBaseStationChannel,
     "WriteBaseStationChannel",
     kPut,
     kBytePut,
     VarType::Empty,
     {},
     kReadBaseStationChannelHelp},
    {kDecodeRLX,
     "DecodeRLX",
     kMethod,
     kDecodeRLXParams,
     VarType::Empty,
     {},
     "A helper function for decoding data from Lyx-RLX modules. Pass the binary data from the "
     "data provider and the timestamp and 10 item array will be populated with the values "
     "extracted."},
};
static_assert(std::size(kMembers) == kSlotCount);

constexpr ParamDesc kPacketArrivedParams[] = {
    {"BaseStation", VarType::UInt8, kRef}, {"DataTag", VarType::Int32, kRef},
    {"Value", VarType::String, kRef},      {"Status", VarType::UInt8, kRef},
    {"RSSI", VarType::Int16, kRef},        {"CV", VarType::Int16, kRef},
    {"BattLow", VarType::Bool, kRef},      {"Error", VarType::Bool, kRef},
};
constexpr ParamDesc kBSIFReadArrivedParams[] = {{"BaseStation", VarType::UInt8, kRef},
                                                {"Command", VarType::UInt8, kRef}};
constexpr ParamDesc kBSIFWriteArrivedParams[] = {{"BaseStation", VarType::UInt8, kRef},
                                                 {"Command", VarType::UInt8, kRef},
                                                 {"Value", VarType::String, kRef}};
constexpr MemberDesc kEvents[] = {
    {1,
     "PacketArrived",
     kMethod,
     kPacketArrivedParams,
     VarType::Empty,
     {},
     "Event raised when a Data Provider packet arrives."},
    {2, "BSIFReadArrived", kMethod, kBSIFReadArrivedParams, VarType::Empty, {}, {}, kHidden},
    {3, "BSIFWriteArrived", kMethod, kBSIFWriteArrivedParams, VarType::Empty, {}, {}, kHidden},
};

constexpr platform::EnumConstantDesc kDataTypes[] = {
    {"DT_NONE", DT_NONE, "DT_NONE"},       {"DT_UINT8", DT_UINT8, "DT_UINT8"},
    {"DT_UINT16", DT_UINT16, "DT_UINT16"}, {"DT_INT32", DT_INT32, "DT_INT32"},
    {"DT_FLOAT", DT_FLOAT, "DT_FLOAT"},    {"DT_STRING", DT_STRING, "DT_STRING"},
    {"DT_BINARY", DT_BINARY, "DT_BINARY"}, {"DT_INTERFACE", DT_INTERFACE, "DT_INTERFACE"},
};
constexpr platform::EnumConstantDesc kResponseTypes[] = {
    {"RT_ACK", RT_ACK, "RT_ACK"},
    {"RT_NOBASE", RT_NOBASE, "RT_NOBASE"},
    {"RT_NORESPONSE", RT_NORESPONSE, "RT_NORESPONSE"},
    {"RT_NAK", RT_NAK, "RT_NAK"},
    {"RT_INVALID_DATA", RT_INVALID_DATA, "RT_INVALID_DATA"},
};

}  // namespace

const platform::InterfaceDesc kDataProviderInterface{"_DataProvider", kInterfaceId, kMembers};
const platform::InterfaceDesc kDataProviderEvents{"__DataProvider", kEventsId, kEvents};
const platform::EnumDesc kDataTypeEnum{"Data_Type", kDataTypeId, kDataTypes};
const platform::EnumDesc kResponseTypeEnum{"Response_Type", kResponseTypeId, kResponseTypes};

namespace {
const platform::ClassDesc kClasses[] = {
    {"DataProvider", kClassId, kProgId, &kDataProviderInterface, &kDataProviderEvents},
};
const platform::InterfaceDesc *const kInterfaces[] = {&kDataProviderInterface,
                                                      &kDataProviderEvents};
const platform::EnumDesc kEnums[] = {kDataTypeEnum, kResponseTypeEnum};
}  // namespace

const platform::TypeLibDesc kTypeLibrary{
    "LyxDataProviderCOM", kTypeLibraryId,           3,        4,           0x409,
    "LyxDataProviderCOM", "LyxDataProviderCOM.chm", kClasses, kInterfaces, kEnums};

}  // namespace lyx::dataprovider
