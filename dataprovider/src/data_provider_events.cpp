// DataProvider: event connections and raising of the __DataProvider events.

#include "data_provider.hpp"
#include "type_library.hpp"

namespace lyx::dataprovider {

using platform::Variant;

std::uint32_t DataProvider::advise(const platform::Guid &events, platform::Unknown &sink) {
    if (events != kEventsId) {
        throw platform::AutomationError(
            platform::errors::kCannotConnect,
            "DataProvider raises no events of " + platform::toString(events));
    }
    return packetEvents_.advise(sink);
}

void DataProvider::unadvise(const platform::Guid &events, std::uint32_t cookie) {
    if (events != kEventsId) {
        throw platform::AutomationError(
            platform::errors::kNoConnection,
            "DataProvider raises no events of " + platform::toString(events));
    }
    packetEvents_.unadvise(cookie);
}

void DataProvider::raisePacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag,
                                      std::string &Value, std::uint8_t &Status, std::int16_t &RSSI,
                                      std::int16_t &CV, bool &BattLow, bool &Error) {
    for (auto &sink : packetEvents_.sinks()) {
        try {
            if (sink.typed) {
                sink.typed->PacketArrived(BaseStation, DataTag, Value, Status, RSSI, CV, BattLow,
                                          Error);
                continue;
            }
            Variant values[] = {BaseStation, DataTag, Value, Status, RSSI, CV, BattLow, Error};
            Variant args[std::size(values)];
            for (std::size_t i = 0; i < std::size(values); ++i)
                args[i] = Variant::ref(values[i]);
            sink.late->invoke(1, platform::kInvokeMethod, args);
            // What the handler left in the arguments, in their declared types.
            const auto &params = kDataProviderEvents.members[0].params;
            auto back = [&](std::size_t i) { return platform::convert(values[i], params[i].type); };
            BaseStation = back(0).as<std::uint8_t>();
            DataTag = back(1).as<std::int32_t>();
            Value = back(2).as<std::string>();
            Status = back(3).as<std::uint8_t>();
            RSSI = back(4).as<std::int16_t>();
            CV = back(5).as<std::int16_t>();
            BattLow = back(6).as<bool>();
            Error = back(7).as<bool>();
        } catch (...) {
            // A handler's errors are the client's; the notification goes on.
        }
    }
}

}  // namespace lyx::dataprovider
