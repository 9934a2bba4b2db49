// DataProvider: commands to remote devices and to the base station: wake,
// sleep, pause and stay-awake, pairing, remote parameters, the base station's
// ID and radio channel.

#include <array>
#include <chrono>
#include <thread>

#include "LyxPlatform.h"
#include "data_provider.hpp"
#include "encode_decode.hpp"
#include "lyx/platform/clock.hpp"
#include "lyx/platform/messages.hpp"

namespace lyx::dataprovider {

namespace {

constexpr std::int32_t kDriverBusy = 99;
constexpr std::int32_t kBroadcastId = 0xFFFFFF;
constexpr std::uint8_t kWakeParameter = 50;
constexpr std::uint8_t kIdParameter = 3;
constexpr std::uint8_t kChannelParameter = 11;
constexpr std::uint8_t kChannelApplyParameter = 24;
constexpr std::uint8_t kChannelDoneParameter = 25;
constexpr auto kChannelSettle = std::chrono::milliseconds(500);
// A request that stays busy this long is given up (see busyRetry).
constexpr auto kBusyLimit = std::chrono::seconds(10);

using ReceiveBuffer = std::array<std::uint8_t, CallbackModule::kReceiveBufferSize>;

}  // namespace

// Calls `request` until the driver stops answering busy (99), dispatching this
// thread's messages in between. The driver answers busy only while a frame is
// inside a receive callback: packets that arrive while a request waits for its
// answer are held by the driver and raised afterwards, in order, so nothing is
// lost to a request.
//
// Inside this object's own PacketArrived (or TriggerEvent) the driver stays
// busy until the handler returns, so retrying could never end: the request is
// refused at once with kBusyError. A driver that stays busy for ten seconds for
// any other reason (a callback of another thread that does not return) ends the
// same way instead of hanging the program.
std::int32_t DataProvider::busyRetry(const std::function<std::int32_t()> &request,
                                     const char *member) {
    const auto deadline = std::chrono::steady_clock::now() + kBusyLimit;
    for (;;) {
        const std::int32_t result = request();
        if (result != kDriverBusy) return result;
        if (notificationDepth_ > 0 || std::chrono::steady_clock::now() > deadline) {
            throw platform::AutomationError(
                kBusyError, std::string(member) +
                                ": the base station is busy delivering a packet. Do not call "
                                "this member from inside a PacketArrived handler.");
        }
        if (LyxPumpMessages() == 0) platform::waitForMessages(10);
    }
}

std::int32_t DataProvider::RemoteWriteTyped(std::uint8_t BaseStation, std::int32_t ID,
                                            std::uint8_t Command, Data_Type DataType,
                                            std::string_view Value, const char *member) {
    std::vector<std::uint8_t> typed;
    typed.reserve(Value.size() + 1);
    typed.push_back(static_cast<std::uint8_t>(DataType));
    typed.insert(typed.end(), Value.begin(), Value.end());
    std::int16_t scratch = 0;
    return busyRetry(
        [&] {
            return driver().WRITEREMOTE(BaseStation, ID, Command, typed.data(),
                                        static_cast<std::int32_t>(typed.size()), &scratch, &scratch,
                                        &scratch);
        },
        member);
}

// A wake ends a sleep window that is still open: its next packet would otherwise send the
// module that was just woken back to sleep.
void DataProvider::WakeBroadcast(std::uint8_t BaseStation) {
    mSleepTag = 0;
    RemoteWriteTyped(BaseStation, kBroadcastId, kWakeParameter, DT_STRING, {}, "WakeBroadcast");
}

void DataProvider::WakeByID(std::uint8_t BaseStation, std::int32_t ID) {
    mSleepTag = 0;
    RemoteWriteTyped(BaseStation, ID, kWakeParameter, DT_STRING, {}, "WakeByID");
}

void DataProvider::SleepByDataTag(std::int32_t DataTag) {
    mSleepTag = DataTag;
    mSleepArmed = platform::monotonicSeconds();
}

void DataProvider::SleepBroadcastByDataTag() {
    mSleepTag = -1;
    mSleepArmed = platform::monotonicSeconds();
}

void DataProvider::PauseByDataTag(std::int32_t DataTag) {
    mPause = DataTag != 0;
    mPauseArmed = platform::monotonicSeconds();
}

void DataProvider::BroadcastStayAwake() {
    mStayAwake = true;
    mStayAwakeArmed = platform::monotonicSeconds();
}

std::int16_t DataProvider::Pair(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                                std::uint8_t Duration, std::int32_t &ID, std::int32_t &DataTag) {
    return static_cast<std::int16_t>(
        driver().BIND(BaseStation, UseRemoteSettings, 0, Duration, &ID, &DataTag));
}

std::int16_t DataProvider::PairConfig(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                                      std::uint8_t Duration, std::int32_t &ID,
                                      std::int32_t &DataTag) {
    return static_cast<std::int16_t>(
        driver().BIND(BaseStation, UseRemoteSettings, 1, Duration, &ID, &DataTag));
}

std::int16_t DataProvider::PairStart(std::uint8_t BaseStation, std::uint8_t UseRemoteSettings,
                                     bool Configuration, std::uint8_t Duration) {
    return static_cast<std::int16_t>(
        driver().BINDASYNC(BaseStation, UseRemoteSettings, Configuration ? 1 : 0, Duration));
}

std::int16_t DataProvider::PairPoll(std::int32_t &ID, std::int32_t &DataTag) {
    return static_cast<std::int16_t>(driver().BINDASYNCPOLL(&ID, &DataTag));
}

std::int32_t DataProvider::BaseStationID(std::uint8_t BaseStation) {
    ReceiveBuffer buffer{};
    std::int32_t length = 0;
    const std::int32_t result = busyRetry(
        [&] { return driver().READMODULE(BaseStation, kIdParameter, buffer.data(), &length); },
        "BaseStationID");
    return result == RT_ACK ? CallbackModule::BytesToID(buffer, 0) : 0;
}

std::uint8_t DataProvider::get_BaseStationChannel(std::uint8_t BaseStation) {
    ReceiveBuffer buffer{};
    std::int32_t length = 0;
    mLastDriverResult = kDriverBusy;
    mLastDriverResult = static_cast<std::int16_t>(busyRetry(
        [&] { return driver().READMODULE(BaseStation, kChannelParameter, buffer.data(), &length); },
        "BaseStationChannel"));
    return mLastDriverResult == RT_ACK ? buffer[0] : 0;
}

void DataProvider::put_BaseStationChannel(std::uint8_t BaseStation, std::uint8_t value) {
    std::uint8_t byte = value;
    auto write = [&](std::uint8_t parameter, std::int32_t length) {
        return busyRetry(
            [&] { return driver().WRITEMODULE(BaseStation, parameter, &byte, length); },
            "BaseStationChannel");
    };
    mLastDriverResult = static_cast<std::int16_t>(write(kChannelParameter, 1));
    write(kChannelApplyParameter, 0);
    // The base station needs half a second between taking the new channel and
    // being told the change is complete.
    std::this_thread::sleep_for(kChannelSettle);
    write(kChannelDoneParameter, 0);
}

std::uint8_t DataProvider::get_ReadBaseStationChannel() {
    return get_BaseStationChannel(1);
}

void DataProvider::put_WriteBaseStationChannel(std::uint8_t value) {
    put_BaseStationChannel(1, value);
}

Response_Type DataProvider::RemoteWrite(std::uint8_t &BaseStation, std::int32_t &ID,
                                        std::uint8_t &Command, std::string &NewValue) {
    return static_cast<Response_Type>(
        RemoteWriteTyped(BaseStation, ID, Command, DT_STRING, NewValue, "RemoteWrite"));
}

Response_Type DataProvider::RemoteRead(std::uint8_t &BaseStation, std::int32_t &ID,
                                       std::uint8_t &Command, std::string &Value) {
    ReceiveBuffer buffer{};
    std::int32_t length = 0;
    std::int16_t scratch = 0;
    const std::int32_t result = busyRetry(
        [&] {
            return driver().READREMOTE(BaseStation, ID, Command, buffer.data(), &length, &scratch,
                                       &scratch, &scratch);
        },
        "RemoteRead");
    if (result == RT_ACK) {
        EncodeDecode::DecodeTypedValue(buffer, length, Value);
    } else {
        Value.clear();
    }
    return static_cast<Response_Type>(result);
}

}  // namespace lyx::dataprovider
