// DataProvider: packet reception. Every frame the driver delivers ends in
// TriggerEvent, which answers the armed sleep, pause and stay-awake windows,
// decodes the value, updates the last-value store and raises PacketArrived.

#include "data_provider.hpp"
#include "encode_decode.hpp"
#include "lyx/platform/clock.hpp"

namespace lyx::dataprovider {

namespace {

constexpr std::uint8_t kDataProviderKind = 3;
constexpr std::size_t kMinimumPacket = 13;
constexpr double kSleepWindow = 5.0;
constexpr double kPauseWindow = 5.0;
constexpr double kStayAwakeWindow = 5.2;
constexpr std::uint32_t kStayAwakeInterval = 5000;  // ms between stay-awake commands per tag
constexpr std::int32_t kAllTags = 65535;
constexpr char kSleepCommand[] = "\x01";
constexpr char kPauseCommand[] = "\x02";
constexpr char kStayAwakeCommand[] = "\x03";

// Milliseconds from `then` to `now` on the 32-bit tick counter, across its wrap.
std::uint32_t ticksSince(double then) {
    return platform::tickCount() - static_cast<std::uint32_t>(static_cast<std::uint64_t>(then));
}

}  // namespace

// Windows end at the first packet that arrives after them. Their clock is the
// monotonic one, so a window never outlives or cuts short at midnight.
void DataProvider::expireWindows(double now) {
    if (now > mSleepArmed + kSleepWindow) mSleepTag = 0;
    if (now > mPauseArmed + kPauseWindow) mPause = false;
    if (now > mStayAwakeArmed + kStayAwakeWindow) mStayAwake = false;
}

// At most one command per packet, to the base station it came from: sleep to
// its own tag, else pause to its own tag, else stay-awake to every tag (at most
// once per tag every five seconds).
void DataProvider::answerCommands(std::uint16_t tag) {
    const std::uint8_t station = store_.mBaseStation[tag];
    if (mSleepTag != 0 && (tag == mSleepTag || mSleepTag == -1)) {
        WritePacketString(station, tag, 0, kSleepCommand, DT_INTERFACE);
    } else if (mPause) {
        WritePacketString(station, tag, 0, kPauseCommand, DT_INTERFACE);
    } else if (mStayAwake && ticksSince(store_.mStayAwakeSent[tag]) >= kStayAwakeInterval) {
        WritePacketString(station, kAllTags, 0, kStayAwakeCommand, DT_INTERFACE);
        store_.mStayAwakeSent[tag] = platform::tickCount();
    }
}

void DataProvider::TriggerEvent(platform::ByteArray &ByteArray, std::int32_t &Length) {
    if (triggerProbe_) triggerProbe_(ByteArray, Length);
    // Commands that wait for the base station cannot succeed while this
    // notification runs (the driver answers busy); the depth tells them so.
    ++notificationDepth_;
    struct Leave {
        int &depth;
        ~Leave() { --depth; }
    } leave{notificationDepth_};

    expireWindows(platform::monotonicSeconds());
    if (Length < 0 || static_cast<std::size_t>(Length) > ByteArray.items.size()) {
        platform::throwSubscriptOutOfRange(Length);
    }
    const std::span<const std::uint8_t> frame(ByteArray.items.data(),
                                              static_cast<std::size_t>(Length));
    if (frame.size() < kMinimumPacket || (frame[3] & 0x1F) != kDataProviderKind) return;

    const auto tag = static_cast<std::uint16_t>(frame[4] * 256 + frame[5]);
    store_.mBaseStation[tag] = frame[2];
    if (frame[2] != 255) answerCommands(tag);

    std::optional<std::string> value = EncodeDecode::PacketValueText(frame);
    if (!value) return;  // data type codes 7 to 15

    const std::size_t n = frame.size();
    store_.mValue[tag].assign(*value);
    store_.mStatus[tag] = frame[6];
    store_.mRSSI[tag] = static_cast<std::int16_t>(static_cast<std::int8_t>(frame[n - 4]) - 45);
    store_.mCV[tag] = static_cast<std::int16_t>(frame[n - 3] & 0x7F);
    store_.mBattLow[tag] = (frame[3] & 0x40) != 0;
    store_.mError[tag] = (frame[3] & 0x80) != 0;
    store_.mArrival[tag] = platform::tickCount();

    // The store's own entries go by reference, so what a handler changes there
    // stays; the tag and the value are copies.
    std::int32_t dataTag = tag;
    raisePacketArrived(store_.mBaseStation[tag], dataTag, *value, store_.mStatus[tag],
                       store_.mRSSI[tag], store_.mCV[tag], store_.mBattLow[tag],
                       store_.mError[tag]);
}

std::string DataProvider::get_ReadPacket(std::int32_t DataTag, std::int32_t Timeout) {
    const auto tag = static_cast<std::uint16_t>(DataTag & 0xFFFF);
    if (static_cast<std::int64_t>(ticksSince(store_.mArrival[tag])) > Timeout) return {};
    return std::string(store_.mValue[tag].view());
}

std::string DataProvider::get_ReadPacketEx(std::int32_t DataTag, std::int32_t Timeout,
                                           std::uint8_t &Status, std::int16_t &RSSI,
                                           std::int16_t &CV, bool &BattLow, bool &Error) {
    const auto tag = static_cast<std::uint16_t>(DataTag & 0xFFFF);
    Status = store_.mStatus[tag];
    RSSI = store_.mRSSI[tag];
    CV = store_.mCV[tag];
    BattLow = store_.mBattLow[tag];
    Error = store_.mError[tag];
    return get_ReadPacket(DataTag, Timeout);
}

}  // namespace lyx::dataprovider
