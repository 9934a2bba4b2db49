#pragma once

#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/unknown.hpp"

#include <functional>

namespace lyx::viewer {

/// The event sink the main window connects to its DataProvider: passes every PacketArrived
/// to the window's handler until the window detaches it.
class PacketSink final : public platform::Implements<dataprovider::IDataProviderEvents> {
  public:
    using Handler =
        std::function<void(std::uint8_t &, std::int32_t &, std::string &, std::uint8_t &,
                           std::int16_t &, std::int16_t &, bool &, bool &)>;

    explicit PacketSink(Handler handler) : handler_(std::move(handler)) {}

    /// No more events reach the window.
    void detach() { handler_ = nullptr; }

    void PacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                       std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV, bool &BattLow,
                       bool &Error) override {
        if (handler_) handler_(BaseStation, DataTag, Value, Status, RSSI, CV, BattLow, Error);
    }

  private:
    Handler handler_;
};

}  // namespace lyx::viewer
