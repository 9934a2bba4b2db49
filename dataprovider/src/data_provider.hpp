// DataProvider: the component's creatable class. One object serves one
// base-station link through its own driver: the driver loaded by plain name
// when it is instance 1 of its thread, else its private copy of the driver
// reached through cFuncCall.
//
// The members are split by job: lifecycle and binding (data_provider.cpp),
// transmission (data_provider_transmit.cpp), late binding
// (data_provider_dispatch.cpp), events (data_provider_events.cpp), reception
// (data_provider_receive.cpp), device commands (data_provider_commands.cpp) and
// the store-and-forward decoder (data_provider_rlx.cpp).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "callback_module.hpp"
#include "driver_calls.hpp"
#include "func_call.hpp"
#include "last_value_store.hpp"
#include "live_objects.hpp"
#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/events.hpp"
#include "lyx/platform/unknown.hpp"
#include "private_copy.hpp"

namespace lyx::dataprovider {

inline constexpr int kVersionMajor = LYX_DATAPROVIDER_VERSION_MAJOR;
inline constexpr int kVersionMinor = LYX_DATAPROVIDER_VERSION_MINOR;

class DataProvider final
    : public platform::Implements<IDataProvider, platform::EventSource, ILinkStatistics, IPairing> {
  public:
    // A new object with its private driver copy made and loaded. Raises the
    // file error when the driver file cannot be copied.
    static platform::Ref<DataProvider> create();

    // --- _DataProvider ---
    std::int16_t Initialise(std::int16_t Port, std::int32_t Baudrate) override;
    void Terminate() override;
    std::string get_ReadPacket(std::int32_t DataTag, std::int32_t Timeout) override;
    std::string get_ReadPacketEx(std::int32_t DataTag, std::int32_t Timeout, std::uint8_t &Status,
                                 std::int16_t &RSSI, std::int16_t &CV, bool &BattLow,
                                 bool &Error) override;
    void WritePacketString(std::uint8_t BaseStation, std::int32_t DataTag, std::uint8_t Status,
                           const std::string &Value, Data_Type DataType) override;
    void WritePacketNumeric(std::uint8_t BaseStation, std::int32_t DataTag, std::uint8_t Status,
                            double Value, Data_Type DataType) override;
    void WakeBroadcast(std::uint8_t BaseStation) override;
    void WakeByID(std::uint8_t BaseStation, std::int32_t ID) override;
    void SleepByDataTag(std::int32_t DataTag) override;
    void SleepBroadcastByDataTag() override;
    void BroadcastStayAwake() override;
    float get_Version() override;
    float get_DLLVersion() override;
    void TriggerEvent(platform::ByteArray &ByteArray, std::int32_t &Length) override;
    std::int16_t Pair(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                      std::uint8_t Duration, std::int32_t &ID, std::int32_t &DataTag) override;
    std::uint8_t get_BaseStationChannel(std::uint8_t BaseStation) override;
    void put_BaseStationChannel(std::uint8_t BaseStation, std::uint8_t value) override;
    std::int16_t PairConfig(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                            std::uint8_t Duration, std::int32_t &ID,
                            std::int32_t &DataTag) override;
    std::int32_t BaseStationID(std::uint8_t BaseStation) override;
    Response_Type RemoteWrite(std::uint8_t &BaseStation, std::int32_t &ID, std::uint8_t &Command,
                              std::string &NewValue) override;
    Response_Type RemoteRead(std::uint8_t &BaseStation, std::int32_t &ID, std::uint8_t &Command,
                             std::string &Value) override;
    std::int32_t get_BSIFID() override { return mBSIFID; }
    void put_BSIFID(std::int32_t value) override { mBSIFID = value; }
    void PauseByDataTag(std::int32_t DataTag) override;
    std::uint8_t get_ReadBaseStationChannel() override;
    void put_WriteBaseStationChannel(std::uint8_t value) override;
    void DecodeRLX(std::string &Data, std::int32_t &Timestamp,
                   platform::FloatArray &Values) override;

    // --- Dispatch ---
    const platform::InterfaceDesc &typeInfo() const noexcept override;
    platform::Variant invoke(platform::DispId id, unsigned kind,
                             std::span<platform::Variant> args) override;

    // --- EventSource: __DataProvider only ---
    std::uint32_t advise(const platform::Guid &events, platform::Unknown &sink) override;
    void unadvise(const platform::Guid &events, std::uint32_t cookie) override;

    // Raises PacketArrived synchronously to every sink; what a handler changes
    // in the arguments is kept, and errors of handlers are ignored.
    void raisePacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                            std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV,
                            bool &BattLow, bool &Error);

    // --- ILinkStatistics ---
    LinkStatistics GetLinkStatistics() override;

    // --- IPairing ---
    std::int16_t PairStart(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                           bool Configuration, std::uint8_t Duration) override;
    std::int16_t PairPoll(std::int32_t &ID, std::int32_t &DataTag) override;

    // --- inside the component and its tests ---
    std::int32_t instance() const { return mInstance; }
    const std::string &driverCopy() const { return mDriverCopy; }
    std::int16_t lastDriverResult() const { return mLastDriverResult; }
    // Test hook: sees every notification that reaches TriggerEvent.
    using TriggerProbe = std::function<void(const platform::ByteArray &, std::int32_t)>;
    void setTriggerProbe(TriggerProbe probe) { triggerProbe_ = std::move(probe); }

  private:
    explicit DataProvider(PrivateDriverCopy copy);
    ~DataProvider() override;

    // The instance's driver: the direct path for instance 1, else the copy.
    DriverCalls &driver();
    void CloseDriver();
    void sendPayload(std::uint8_t BaseStation, const std::vector<std::uint8_t> &payload);
    void expireWindows(double now);
    void answerCommands(std::uint16_t tag);
    std::int32_t busyRetry(const std::function<std::int32_t()> &request, const char *member);
    std::int32_t RemoteWriteTyped(std::uint8_t BaseStation, std::int32_t ID, std::uint8_t Command,
                                  Data_Type DataType, std::string_view Value, const char *member);

    LiveObject live_;
    // Declared before mFuncCall, so the copy is deleted after it is unloaded.
    PrivateDriverCopy copy_;

    std::int32_t mInstance = 0;
    std::string mDriverCopy;
    cFuncCall mFuncCall;
    DirectDriver direct_;
    DynamicDriver dynamic_{mFuncCall};
    std::int16_t mLastDriverResult = 0;
    std::int32_t mBSIFID = 0;
    std::shared_ptr<CallbackModule::Registry> registry_;

    // How deep this object is in its own notifications (TriggerEvent with its
    // PacketArrived); requests that wait for the base station cannot run there.
    int notificationDepth_ = 0;

    // Command windows, armed by the device commands and served on reception.
    // Armed times are monotonic seconds.
    std::int32_t mSleepTag = 0;
    double mSleepArmed = 0;
    bool mPause = false;
    double mPauseArmed = 0;
    bool mStayAwake = false;
    double mStayAwakeArmed = 0;

    LastValueStore store_;

    platform::ConnectionPoint<IDataProviderEvents> packetEvents_;
    TriggerProbe triggerProbe_;
};

}  // namespace lyx::dataprovider
