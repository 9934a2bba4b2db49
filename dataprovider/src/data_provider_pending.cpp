// DataProvider: the members that packet reception and the device commands
// bring. Until then each raises "not available yet" (E_NOTIMPL), so that a
// caller never mistakes them for done.
//
// TriggerEvent already receives every routed notification (the test hook sees
// it) before it raises.

#include "data_provider.hpp"

namespace lyx::dataprovider {

void DataProvider::notAvailableYet(const char *member) const {
    throw platform::AutomationError(platform::errors::kNotImplemented,
                                    std::string(member) + " is not available yet");
}

void DataProvider::TriggerEvent(platform::ByteArray &ByteArray, std::int32_t &Length) {
    if (triggerProbe_) triggerProbe_(ByteArray, Length);
    notAvailableYet("TriggerEvent");
}

std::string DataProvider::get_ReadPacket(std::int32_t, std::int32_t) {
    notAvailableYet("ReadPacket");
}

std::string DataProvider::get_ReadPacketEx(std::int32_t, std::int32_t, std::uint8_t &,
                                           std::int16_t &, std::int16_t &, bool &, bool &) {
    notAvailableYet("ReadPacketEx");
}

void DataProvider::WakeBroadcast(std::uint8_t) {
    notAvailableYet("WakeBroadcast");
}

void DataProvider::WakeByID(std::uint8_t, std::int32_t) {
    notAvailableYet("WakeByID");
}

void DataProvider::SleepByDataTag(std::int32_t) {
    notAvailableYet("SleepByDataTag");
}

void DataProvider::SleepBroadcastByDataTag() {
    notAvailableYet("SleepBroadcastByDataTag");
}

void DataProvider::BroadcastStayAwake() {
    notAvailableYet("BroadcastStayAwake");
}

std::int16_t DataProvider::Pair(std::uint8_t, std::uint8_t, std::uint8_t, std::int32_t &,
                                std::int32_t &) {
    notAvailableYet("Pair");
}

std::uint8_t DataProvider::get_BaseStationChannel(std::uint8_t) {
    notAvailableYet("BaseStationChannel");
}

void DataProvider::put_BaseStationChannel(std::uint8_t, std::uint8_t) {
    notAvailableYet("BaseStationChannel");
}

std::int16_t DataProvider::PairConfig(std::uint8_t, std::uint8_t, std::uint8_t, std::int32_t &,
                                      std::int32_t &) {
    notAvailableYet("PairConfig");
}

std::int32_t DataProvider::BaseStationID(std::uint8_t) {
    notAvailableYet("BaseStationID");
}

Response_Type DataProvider::RemoteWrite(std::uint8_t &, std::int32_t &, std::uint8_t &,
                                        std::string &) {
    notAvailableYet("RemoteWrite");
}

Response_Type DataProvider::RemoteRead(std::uint8_t &, std::int32_t &, std::uint8_t &,
                                       std::string &) {
    notAvailableYet("RemoteRead");
}

void DataProvider::PauseByDataTag(std::int32_t) {
    notAvailableYet("PauseByDataTag");
}

std::uint8_t DataProvider::get_ReadBaseStationChannel() {
    notAvailableYet("ReadBaseStationChannel");
}

void DataProvider::put_WriteBaseStationChannel(std::uint8_t) {
    notAvailableYet("WriteBaseStationChannel");
}

void DataProvider::DecodeRLX(std::string &, std::int32_t &, platform::FloatArray &) {
    notAvailableYet("DecodeRLX");
}

}  // namespace lyx::dataprovider
