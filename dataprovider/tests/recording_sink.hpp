// A PacketArrived sink that records every event, for the component's tests.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/unknown.hpp"

namespace lyx::dataprovider::testing {

struct Arrival {
    std::uint8_t baseStation;
    std::int32_t tag;
    std::string value;
    std::uint8_t status;
    std::int16_t rssi, cv;
    bool battLow, error;
    std::chrono::steady_clock::time_point time;
};

class RecordingSink final : public platform::Implements<IDataProviderEvents> {
  public:
    void PacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                       std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV, bool &BattLow,
                       bool &Error) override {
        seen.push_back({BaseStation, DataTag, Value, Status, RSSI, CV, BattLow, Error,
                        std::chrono::steady_clock::now()});
        if (handler) handler(Status, RSSI);
    }
    // The last event of `tag`, if any.
    std::optional<Arrival> lastOf(std::int32_t tag) const {
        for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
            if (it->tag == tag) return *it;
        }
        return std::nullopt;
    }

    std::vector<Arrival> seen;
    // Runs inside the event and may change what it is given (the store's entries).
    std::function<void(std::uint8_t &Status, std::int16_t &RSSI)> handler;
};

}  // namespace lyx::dataprovider::testing
