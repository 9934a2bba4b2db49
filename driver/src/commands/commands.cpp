#include "commands/commands.hpp"

#include <algorithm>

#include "lyx/link/frame.hpp"
#include "lyx/platform/clock.hpp"

namespace lyx::drv {

namespace {

constexpr std::uint8_t kBindRequest = 19;
constexpr std::uint8_t kModuleRead = 21;
constexpr std::uint8_t kModuleWrite = 22;
constexpr std::uint8_t kRemoteRead = 5;
constexpr std::uint8_t kRemoteWrite = 6;
constexpr std::uint8_t kRemoteModuleRead = 11;
constexpr std::uint8_t kRemoteModuleWrite = 12;
constexpr std::int32_t kModuleTimeoutMs = 600;
constexpr std::int32_t kRemoteReadTimeoutMs = 800;
constexpr std::int32_t kRemoteWriteTimeoutMs = 600;
constexpr std::int32_t kMaxModuleData = 128;
constexpr std::size_t kRemoteReplyOverhead = 11;  // frame bytes around a remote reply's data

// Holds commandBusy for the length of one exchange; the frames that arrive
// meanwhile are held and go to the callback when it ends. A command may not
// start inside the callback: its reply could only be taken after the callback
// returns, so it answers "busy" and sends nothing.
class CommandScope {
  public:
    explicit CommandScope(Driver &d) : d_(d) {
        d_.commandBusy = 1;
        entered_ = d_.inCallback.load() == 0;
        if (!entered_) d_.commandBusy = 0;
    }
    ~CommandScope() {
        if (entered_) {
            {
                std::lock_guard guard(d_.rxLock);
                d_.replyFrame.clear();
            }
            // Cleared before the held frames are looked at: a frame the
            // processor holds meanwhile then sees the command over and posts.
            d_.commandBusy = 0;
            d_.commandFinished();
        }
    }
    CommandScope(const CommandScope &) = delete;
    CommandScope &operator=(const CommandScope &) = delete;
    bool entered() const { return entered_; }

  private:
    Driver &d_;
    bool entered_ = false;
};

std::uint8_t bindDuration(std::uint8_t duration) {
    return duration == 0 ? 2 : duration;
}

link::Bytes bindRequest(std::uint8_t useRemoteSettings, std::uint8_t mode, std::uint8_t duration) {
    return {kBindRequest, 0, 0, useRemoteSettings, mode, duration};
}

void appendId(link::Bytes &payload, std::int32_t id) {
    payload.push_back(static_cast<std::uint8_t>(id >> 16));
    payload.push_back(static_cast<std::uint8_t>(id >> 8));
    payload.push_back(static_cast<std::uint8_t>(id));
}

void appendData(link::Bytes &payload, const std::uint8_t *data, std::int32_t length) {
    if (data != nullptr && length > 0) payload.insert(payload.end(), data, data + length);
}

std::int32_t moduleResult(std::uint8_t code) {
    return code == 23 ? kAck : code == 24 ? kNak : kNoBase;
}

// Result of a remote reply: the first code of its group acknowledges, then
// refused, no answer from the device, value refused (which a read still
// counts as done, with its data).
std::int32_t remoteResult(std::uint8_t code, std::uint8_t firstCode, bool write) {
    switch (code - firstCode) {
        case 0:
            return kAck;
        case 1:
            return kNak;
        case 2:
            return kNoResponse;
        case 3:
            return write ? kInvalidData : kAck;
        default:
            return kNoBase;
    }
}

// Signal strength, link quality and status flags of a remote reply.
void writeSignal(const link::Bytes &reply, SignalOutputs signal) {
    const std::size_t n = reply.size();
    if (n < kRemoteReplyOverhead) return;
    if (signal.rssi)
        *signal.rssi = static_cast<std::int16_t>(static_cast<std::int8_t>(reply[n - 4]) - 45);
    if (signal.linkQuality) *signal.linkQuality = static_cast<std::int16_t>(reply[n - 3] & 0x7F);
    if (signal.statusFlags) *signal.statusFlags = static_cast<std::int16_t>(reply[3] >> 5);
}

}  // namespace

std::int32_t bind(Driver &d, std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                  std::int32_t mode, std::uint8_t duration, std::int32_t *id,
                  std::int32_t *dataTag) {
    CommandScope scope(d);
    if (!scope.entered()) return kBusy;
    std::uint8_t seconds = bindDuration(duration);
    link::Bytes reply = d.SENDCOMMAND(
        baseStation, bindRequest(useRemoteSettings, static_cast<std::uint8_t>(mode), seconds),
        seconds * 1000 + 300);
    // A reply too short to carry an ID and a tag pairs nothing.
    if (reply.size() < 11) return kNoBase;
    if (id != nullptr) *id = (reply[4] << 16) | (reply[5] << 8) | reply[6];
    if (dataTag != nullptr) *dataTag = reply[7] * 256 + reply[8];
    return kAck;
}

std::int32_t bindAsync(Driver &d, std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                       std::uint8_t mode, std::uint8_t duration) {
    CommandScope scope(d);
    if (!scope.entered()) return kBusy;
    std::uint8_t seconds = bindDuration(duration);
    // Armed before the request goes out, so that a quick reply is not missed.
    d.bindStatus = 99;
    d.bindDeadline = platform::monotonicSeconds() + seconds;
    d.SENDCOMMAND(baseStation, bindRequest(useRemoteSettings, mode, seconds), 0);
    return kAck;
}

std::int32_t bindAsyncPoll(Driver &d, std::int32_t *id, std::int32_t *dataTag) {
    double deadline = d.bindDeadline.load();
    if (deadline != 0.0 && platform::monotonicSeconds() > deadline &&
        d.bindDeadline.compare_exchange_strong(deadline, 0.0)) {
        d.bindStatus = 1;
    }
    std::int16_t status = d.bindStatus.load();
    if (id != nullptr) *id = d.bindId.load();
    if (dataTag != nullptr) *dataTag = d.bindValue.load();
    return status;
}

std::int32_t readModule(Driver &d, std::uint8_t baseStation, std::uint8_t parameter,
                        std::uint8_t *buffer, std::int32_t *length) {
    if (length != nullptr) *length = 0;
    CommandScope scope(d);
    if (!scope.entered()) return kBusy;
    link::Bytes reply =
        d.SENDCOMMAND(baseStation, link::Bytes{kModuleRead, parameter}, kModuleTimeoutMs);
    if (reply.empty()) return kNoBase;
    std::int32_t result = moduleResult(link::typeCode(reply[3]));
    if (result == kAck) {
        auto count = static_cast<std::int32_t>(reply.size()) - 6;
        if (buffer != nullptr) std::copy_n(reply.begin() + 4, count, buffer);
        if (length != nullptr) *length = count;
    }
    return result;
}

std::int32_t writeModule(Driver &d, std::uint8_t baseStation, std::uint8_t parameter,
                         const std::uint8_t *data, std::int32_t length) {
    CommandScope scope(d);
    if (!scope.entered()) return kBusy;
    link::Bytes payload{kModuleWrite, parameter};
    appendData(payload, data, std::min(length, kMaxModuleData));
    link::Bytes reply = d.SENDCOMMAND(baseStation, payload, kModuleTimeoutMs);
    if (reply.empty()) return kNoBase;
    return moduleResult(link::typeCode(reply[3]));
}

std::int32_t readRemote(Driver &d, bool remoteModule, std::uint8_t baseStation, std::int32_t id,
                        std::uint8_t parameter, std::uint8_t *buffer, std::int32_t *length,
                        SignalOutputs signal) {
    if (length != nullptr) *length = 0;
    CommandScope scope(d);
    if (!scope.entered()) return kBusy;
    link::Bytes payload{remoteModule ? kRemoteModuleRead : kRemoteRead};
    appendId(payload, id);
    payload.push_back(parameter);
    link::Bytes reply =
        d.SENDCOMMAND(baseStation, payload, remoteModule ? kModuleTimeoutMs : kRemoteReadTimeoutMs);
    if (reply.empty()) return kNoBase;
    writeSignal(reply, signal);
    std::int32_t result = remoteResult(link::typeCode(reply[3]), remoteModule ? 13 : 7, false);
    if (result == kAck && reply.size() >= kRemoteReplyOverhead) {
        auto count = static_cast<std::int32_t>(reply.size() - kRemoteReplyOverhead);
        if (buffer != nullptr) std::copy_n(reply.begin() + 7, count, buffer);
        if (length != nullptr) *length = count;
    }
    return result;
}

std::int32_t writeRemote(Driver &d, bool remoteModule, std::uint8_t baseStation, std::int32_t id,
                         std::uint8_t parameter, const std::uint8_t *data, std::int32_t length,
                         SignalOutputs signal) {
    CommandScope scope(d);
    if (!scope.entered()) return kBusy;
    link::Bytes payload{remoteModule ? kRemoteModuleWrite : kRemoteWrite};
    appendId(payload, id);
    payload.push_back(parameter);
    appendData(payload, data, length);
    link::Bytes reply = d.SENDCOMMAND(baseStation, payload,
                                      remoteModule ? kModuleTimeoutMs : kRemoteWriteTimeoutMs);
    if (reply.empty()) return kNoBase;
    writeSignal(reply, signal);
    return remoteResult(link::typeCode(reply[3]), remoteModule ? 13 : 7, true);
}

}  // namespace lyx::drv
