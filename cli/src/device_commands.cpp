#include "device_commands.hpp"

#include <poll.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "LyxPlatform.h"
#include "arguments.hpp"

namespace lyx::cli {

using dataprovider::Data_Type;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr std::int32_t kBroadcastId = 0xFFFFFF;
constexpr std::uint8_t kWakeParameter = 50;
// Pairing with "use remote settings": the base station takes the module's radio settings;
// without, the module takes the station's.
constexpr std::uint8_t kUseRemoteSettings = 255;
constexpr std::uint8_t kKeepStationSettings = 0;
constexpr milliseconds kStayAwakeRepeat{3000};
constexpr milliseconds kPairPoll{20};
constexpr milliseconds kPairGrace{2000};

Outcome done(std::string message) {
    return {0, "", std::move(message), {}};
}

std::string station(int n) {
    return "base station " + std::to_string(n);
}

std::string joinTags(const std::map<int, std::uint64_t> &counts) {
    std::string out;
    for (const auto &[tag, count] : counts) {
        if (!out.empty()) out += ", ";
        out += std::to_string(tag);
    }
    return out;
}

std::string tagList(const std::map<int, std::uint64_t> &counts) {
    std::string out = "[";
    for (const auto &[tag, count] : counts) {
        if (out.size() > 1) out += ",";
        out += std::to_string(tag);
    }
    return out + "]";
}

// Counts the packets that arrive during a command window, per tag.
class PacketCounter {
  public:
    PacketCounter(Network &net, int tag) : net_(net), tag_(tag) {
        id_ = net_.addPacketHandler([this](const Packet &p) {
            if (tag_ < 0 || p.tag == tag_) ++counts_[p.tag];
        });
    }
    ~PacketCounter() { net_.removePacketHandler(id_); }
    const std::map<int, std::uint64_t> &counts() const { return counts_; }
    std::uint64_t total() const {
        std::uint64_t n = 0;
        for (const auto &[tag, count] : counts_)
            n += count;
        return n;
    }

  private:
    Network &net_;
    int tag_;
    int id_ = 0;
    std::map<int, std::uint64_t> counts_;
};

Outcome windowOutcome(const char *command, int tag, const PacketCounter &counter) {
    if (counter.total() == 0) {
        std::string whom =
            tag < 0 ? "no packet arrived" : "no packet of tag " + std::to_string(tag) + " arrived";
        return {1,
                "RT_NORESPONSE",
                whom + " within 5 s, so no " + command + " command went out (RT_NORESPONSE)",
                {}};
    }
    Outcome out = done(std::string(command) + " sent to " +
                       (counter.counts().size() == 1 ? "tag " : "tags ") +
                       joinTags(counter.counts()) + " (" + std::to_string(counter.total()) +
                       (counter.total() == 1 ? " packet" : " packets") + " answered)");
    out.response = "RT_ACK";
    out.fields.emplace_back("tags", tagList(counter.counts()));
    return out;
}

std::string numberText(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

}  // namespace

std::string idText(std::int32_t id) {
    char text[40];
    const unsigned bits = static_cast<unsigned>(id) & 0xFFFFFFu;
    std::snprintf(text, sizeof text, "0x%06X (%u)", bits, bits);
    return text;
}

std::string responseName(std::int32_t result) {
    switch (result) {
        case dataprovider::RT_ACK:
            return "RT_ACK";
        case dataprovider::RT_NOBASE:
            return "RT_NOBASE";
        case dataprovider::RT_NORESPONSE:
            return "RT_NORESPONSE";
        case dataprovider::RT_NAK:
            return "RT_NAK";
        case dataprovider::RT_INVALID_DATA:
            return "RT_INVALID_DATA";
        default:
            return "result " + std::to_string(result);
    }
}

int statusOf(std::int32_t result) {
    if (result == dataprovider::RT_ACK) return 0;
    return result == dataprovider::RT_NOBASE ? 2 : 1;
}

ValueType parseValueType(std::string_view text) {
    static const std::pair<std::string_view, ValueType> names[] = {
        {"uint8", ValueType::UInt8}, {"uint16", ValueType::UInt16}, {"int32", ValueType::Int32},
        {"float", ValueType::Float}, {"string", ValueType::String}, {"binary", ValueType::Binary},
    };
    for (const auto &[name, type] : names)
        if (text == name) return type;
    throw UsageError("TYPE: '" + std::string(text) +
                     "' is not one of uint8, uint16, int32, float, string, binary");
}

std::string valueBytes(ValueType type, std::string_view text) {
    switch (type) {
        case ValueType::UInt8:
            return std::to_string(parseInteger(text, 0, 255, "VALUE"));
        case ValueType::UInt16:
            return std::to_string(parseInteger(text, 0, 65535, "VALUE"));
        case ValueType::Int32:
            return std::to_string(parseInteger(text, INT32_MIN, INT32_MAX, "VALUE"));
        case ValueType::Float: {
            const double v = parseNumber(text, "VALUE");
            if (std::fabs(v) > 3.4028234663852886e38)
                throw UsageError("VALUE: " + std::string(text) + " is beyond single precision");
            return numberText(v);
        }
        case ValueType::String:
            return std::string(text);
        case ValueType::Binary:
            return parseHexBytes(text, "VALUE");
    }
    return std::string(text);
}

bool dispatchFor(milliseconds duration, int stopFd) {
    const auto end = Clock::now() + duration;
    for (;;) {
        LyxPumpMessages();
        const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{LyxMessageFd(), POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int n = ::poll(fds, stopFd >= 0 ? 2 : 1, static_cast<int>(left.count()) + 1);
        if (n > 0 && stopFd >= 0 && (fds[1].revents & POLLIN)) return true;
    }
}

Outcome sleepTag(Network &net, int tag) {
    net.requireAnyStation();
    PacketCounter counter(net, tag);
    net.dp().SleepByDataTag(tag);
    dispatchFor(kCommandWindow);
    return windowOutcome("sleep", tag, counter);
}

Outcome sleepAll(Network &net) {
    net.requireAnyStation();
    PacketCounter counter(net, -1);
    net.dp().SleepBroadcastByDataTag();
    dispatchFor(kCommandWindow);
    return windowOutcome("sleep", -1, counter);
}

Outcome pauseTag(Network &net, int tag) {
    net.requireAnyStation();
    // The component's pause window answers every module heard; a pause for one
    // tag answers that tag's packets only, with the same command.
    PacketCounter counter(net, tag);
    const int id = net.addPacketHandler([&net, tag](const Packet &p) {
        if (p.tag != tag || p.station == 255) return;
        net.dp().WritePacketString(static_cast<std::uint8_t>(p.station), tag, 0,
                                   std::string(1, '\x02'), dataprovider::DT_INTERFACE);
    });
    dispatchFor(kCommandWindow);
    net.removePacketHandler(id);
    return windowOutcome("pause", tag, counter);
}

Outcome pauseAll(Network &net) {
    net.requireAnyStation();
    PacketCounter counter(net, -1);
    net.dp().PauseByDataTag(1);
    dispatchFor(kCommandWindow);
    net.dp().PauseByDataTag(0);
    return windowOutcome("pause", -1, counter);
}

Outcome wake(Network &net, int n, std::optional<std::int32_t> id) {
    net.requireStation(n);
    if (!id) {
        net.dp().WakeBroadcast(static_cast<std::uint8_t>(n));
        return done("wake broadcast sent through " + station(n));
    }
    // The wake request as the component sends it (parameter 50, an empty
    // string), through the member that returns the module's answer.
    std::uint8_t bs = static_cast<std::uint8_t>(n);
    std::int32_t target = *id;
    std::uint8_t parameter = kWakeParameter;
    std::string empty;
    const auto result = net.dp().RemoteWrite(bs, target, parameter, empty);
    const std::string rt = responseName(result);
    if (result == dataprovider::RT_ACK) return {0, rt, "module " + idText(*id) + " is awake", {}};
    return {statusOf(result), rt, "module " + idText(*id) + " did not wake (" + rt + ")", {}};
}

Outcome stayAwake(Network &net, std::optional<milliseconds> duration, int stopFd) {
    net.requireAnyStation();
    PacketCounter counter(net, -1);
    const auto end = duration ? Clock::now() + *duration : Clock::time_point::max();
    for (;;) {
        net.dp().BroadcastStayAwake();
        const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
        const milliseconds wait = std::min(kStayAwakeRepeat, std::max(left, milliseconds(0)));
        if (dispatchFor(wait, stopFd)) break;
        if (Clock::now() >= end) break;
    }
    Outcome out =
        done("kept " + std::to_string(counter.counts().size()) +
             (counter.counts().size() == 1 ? " module" : " modules") + " awake" +
             (counter.counts().empty() ? "" : " (tags " + joinTags(counter.counts()) + ")"));
    out.fields.emplace_back("tags", tagList(counter.counts()));
    return out;
}

Outcome pair(Network &net, int n, int seconds, bool configuration, bool keepChannel) {
    net.requireStation(n);
    std::int32_t id = 0;
    std::int32_t tag = 0;
    const auto bs = static_cast<std::uint8_t>(n);
    const auto duration = static_cast<std::uint8_t>(seconds);
    const std::uint8_t settings = keepChannel ? kKeepStationSettings : kUseRemoteSettings;
    const int before = net.dp().get_BaseStationChannel(bs);
    std::int16_t result = 0;
    if (auto pairing = net.pairing()) {
        // Started without waiting, so that the packets of every module keep arriving (and
        // reach the gateway's subscribers) while a module is awaited; the driver's answer is
        // looked at between them.
        result = pairing->PairStart(bs, settings, configuration, duration);
        const auto deadline = Clock::now() + std::chrono::seconds(seconds) + kPairGrace;
        if (result == 0) {
            while ((result = pairing->PairPoll(id, tag)) == 99) {
                if (Clock::now() > deadline) {
                    result = 1;  // the driver's own time-out should have come first
                    break;
                }
                dispatchFor(kPairPoll);
            }
        }
    } else {
        result = configuration ? net.dp().PairConfig(bs, settings, duration, id, tag)
                               : net.dp().Pair(bs, settings, duration, id, tag);
    }
    if (result == 0) {
        // Where the station listens now: pairing may have moved it.
        const int after = net.dp().get_BaseStationChannel(bs);
        std::string message = "paired module " + idText(id) + " tag " + std::to_string(tag) +
                              (configuration ? ", now in configuration mode" : "");
        if (after == 0) {
            message += "; " + station(n) + " did not tell its radio channel";
        } else if (keepChannel) {
            message += "; it now uses channel " + std::to_string(after) + " of " + station(n);
        } else if (before != 0 && before != after) {
            message += "; " + station(n) + " now on channel " + std::to_string(after) +
                       "; other modules on channel " + std::to_string(before) +
                       " are no longer heard";
        } else {
            message += "; " + station(n) + " on channel " + std::to_string(after);
        }
        Outcome out{0, "RT_ACK", message, {}};
        out.fields.emplace_back("module", std::to_string(id));
        out.fields.emplace_back("tag", std::to_string(tag));
        out.fields.emplace_back("channel", after == 0 ? "null" : std::to_string(after));
        return out;
    }
    if (result == 99) return {1, "", "the driver is busy with another request", {}};
    return {1,
            "RT_NORESPONSE",
            "no module paired within " + std::to_string(seconds) + " s (RT_NORESPONSE)",
            {}};
}

Outcome stationInfo(Network &net, int n) {
    const std::int32_t id = net.stationId(n);
    if (id == 0)
        return {2,
                "RT_NOBASE",
                "no " + station(n) + " answers on " + net.link().describe() + " (RT_NOBASE)",
                {}};
    const int channel = net.dp().get_BaseStationChannel(static_cast<std::uint8_t>(n));
    if (channel == 0)
        return {
            1,
            "RT_NORESPONSE",
            station(n) + " (ID " + idText(id) + ") did not tell its radio channel (RT_NORESPONSE)",
            {}};
    Outcome out{0,
                "RT_ACK",
                station(n) + ": ID " + idText(id) + ", channel " + std::to_string(channel),
                {}};
    out.fields.emplace_back("station", std::to_string(n));
    out.fields.emplace_back("station_id", std::to_string(id));
    out.fields.emplace_back("channel", std::to_string(channel));
    return out;
}

Outcome setChannel(Network &net, int n, int channel) {
    net.requireStation(n);
    const auto bs = static_cast<std::uint8_t>(n);
    net.dp().put_BaseStationChannel(bs, static_cast<std::uint8_t>(channel));
    // The change is confirmed by reading it back.
    const int now = net.dp().get_BaseStationChannel(bs);
    Outcome out;
    out.fields.emplace_back("channel", std::to_string(now));
    if (now == channel) {
        out.response = "RT_ACK";
        out.message = station(n) + " is now on channel " + std::to_string(channel);
        return out;
    }
    out.status = 1;
    out.response = "RT_NAK";
    out.message = station(n) + " did not take channel " + std::to_string(channel) +
                  " (it reports channel " + std::to_string(now) + ") (RT_NAK)";
    return out;
}

Outcome readParameter(Network &net, int n, std::int32_t id, int parameter) {
    std::uint8_t bs = static_cast<std::uint8_t>(n);
    std::int32_t target = id;
    std::uint8_t command = static_cast<std::uint8_t>(parameter);
    std::string value;
    const auto result = net.dp().RemoteRead(bs, target, command, value);
    const std::string rt = responseName(result);
    const std::string what = "parameter " + std::to_string(parameter) + " of module " + idText(id);
    if (result != dataprovider::RT_ACK)
        return {statusOf(result), rt, "cannot read " + what + " (" + rt + ")", {}};
    Outcome out{0, rt, displayValue(value), {}};
    out.fields.emplace_back("value", jsonValue(value));
    out.fields.emplace_back("value_type", std::string("\"") + kindName(classify(value)) + "\"");
    return out;
}

Outcome writeParameter(Network &net, int n, std::int32_t id, int parameter, ValueType type,
                       std::string_view value) {
    // Every value travels as text; the module converts it to its own type.
    std::string text = valueBytes(type, value);
    std::uint8_t bs = static_cast<std::uint8_t>(n);
    std::int32_t target = id;
    std::uint8_t command = static_cast<std::uint8_t>(parameter);
    const auto result = net.dp().RemoteWrite(bs, target, command, text);
    const std::string rt = responseName(result);
    const std::string what = "parameter " + std::to_string(parameter) + " of module " + idText(id);
    if (result != dataprovider::RT_ACK)
        return {statusOf(result), rt, "cannot write " + what + " (" + rt + ")", {}};
    return {0, rt, "wrote " + what, {}};
}

Outcome sendPacket(Network &net, int n, int tag, int status, ValueType type,
                   std::string_view value) {
    net.requireStation(n);
    const auto bs = static_cast<std::uint8_t>(n);
    const auto st = static_cast<std::uint8_t>(status);
    try {
        switch (type) {
            case ValueType::String:
                net.dp().WritePacketString(bs, tag, st, std::string(value),
                                           dataprovider::DT_STRING);
                break;
            case ValueType::Binary:
                net.dp().WritePacketString(bs, tag, st, valueBytes(type, value),
                                           dataprovider::DT_BINARY);
                break;
            default: {
                const Data_Type dt = type == ValueType::UInt8    ? dataprovider::DT_UINT8
                                     : type == ValueType::UInt16 ? dataprovider::DT_UINT16
                                     : type == ValueType::Int32  ? dataprovider::DT_INT32
                                                                 : dataprovider::DT_FLOAT;
                net.dp().WritePacketNumeric(bs, tag, st, std::stod(valueBytes(type, value)), dt);
            }
        }
    } catch (const platform::AutomationError &e) {
        return {2, "", "the packet was not sent: " + e.description(), {}};
    }
    return done("packet sent to tag " + std::to_string(tag) + " through " + station(n));
}

Outcome askWithRetries(Network &net, int n, int retries, const std::function<Outcome()> &ask,
                       const std::function<void(const Outcome &, int, int)> &retrying) {
    const int attempts = 1 + std::max(retries, 0);
    Outcome out = ask();
    for (int attempt = 2; attempt <= attempts && out.status != 0; ++attempt) {
        // A base station missing from the link will not answer a second time either.
        const bool unanswered = out.response == "RT_NORESPONSE" ||
                                (out.response == "RT_NOBASE" && net.stationOnLink(n));
        if (!unanswered) break;
        if (retrying) retrying(out, attempt, attempts);
        out = ask();
    }
    return out;
}

Outcome decodeRlx(dataprovider::IDataProvider &dp, const std::string &block) {
    if (block.size() < 42)
        throw UsageError(
            "HEX: a store-and-forward block is 42 bytes (ten readings and a "
            "timestamp), got " +
            std::to_string(block.size()));
    std::string data = block;
    std::int32_t timestamp = 0;
    platform::FloatArray values;
    values.lowerBound = 1;
    values.items.assign(10, 0.0f);
    dp.DecodeRLX(data, timestamp, values);
    std::string readings;
    std::string list = "[";
    for (float v : values.items) {
        const std::string text = numberText(v);
        readings += (readings.empty() ? "" : " ") + text;
        list += (list.size() > 1 ? "," : "") + text;
    }
    Outcome out = done("timestamp " + std::to_string(timestamp) + "  readings " + readings);
    out.fields.emplace_back("timestamp", std::to_string(timestamp));
    out.fields.emplace_back("readings", list + "]");
    return out;
}

}  // namespace lyx::cli
