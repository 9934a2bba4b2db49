// DataProvider: transmission of Data Provider packets.

#include "data_provider.hpp"
#include "encode_decode.hpp"

namespace lyx::dataprovider {

void DataProvider::WritePacketString(std::uint8_t BaseStation, std::int32_t DataTag,
                                     std::uint8_t Status, const std::string &Value,
                                     Data_Type DataType) {
    sendPayload(BaseStation, EncodeDecode::StringPayload(DataTag, Status, Value, DataType));
}

void DataProvider::WritePacketNumeric(std::uint8_t BaseStation, std::int32_t DataTag,
                                      std::uint8_t Status, double Value, Data_Type DataType) {
    sendPayload(BaseStation, EncodeDecode::NumericPayload(DataTag, Status, Value, DataType));
}

// The driver's result is not the caller's business; on the dynamic-call path it
// is kept in mLastDriverResult.
void DataProvider::sendPayload(std::uint8_t BaseStation, const std::vector<std::uint8_t> &payload) {
    const std::int32_t result = driver().WRITEPACKET(BaseStation, payload.data(),
                                                     static_cast<std::int32_t>(payload.size()));
    if (mInstance != 1) mLastDriverResult = static_cast<std::int16_t>(result);
}

}  // namespace lyx::dataprovider
