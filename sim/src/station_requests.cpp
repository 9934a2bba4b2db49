// How a station answers what the PC sends: its own parameters, remote and
// radio-module parameters of modules, bind requests and module commands.
#include <algorithm>

#include "world.hpp"

namespace lyx::sim {

namespace {

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (auto b : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

const char *commandName(std::uint8_t command) {
    switch (command) {
        case packets::kSleep:
            return "sleep";
        case packets::kPause:
            return "pause";
        case packets::kStayAwake:
            return "stay-awake";
        default:
            return "unknown command";
    }
}

}  // namespace

void World::handleFrame(StationState &s, std::span<const std::uint8_t> frame) {
    const auto payload = frame.subspan(3, frame[0]);
    const std::uint8_t code = payload[0] & 0x1F;
    const int number = s.config.number;
    emit(EventKind::FrameFromPc, number, 0, code, hexBytes(payload));
    switch (code) {
        case packets::kBroadcast:
            emit(EventKind::BroadcastFromPc, number, 0, -1, hexBytes(payload.subspan(1)));
            return;
        case packets::kDataProvider:
            if (auto command = packets::parseCommand(payload)) {
                handleCommand(s, *command);
            } else if (payload.size() >= 5) {
                emit(EventKind::PacketToTag, number, 0, (payload[1] << 8) | payload[2],
                     hexBytes(payload.subspan(3)));
            } else {
                emit(EventKind::UnknownFrame, number, 0, code, "too short");
            }
            return;
        case packets::kRemoteRead:
        case packets::kRemoteWrite:
        case packets::kRadioRead:
        case packets::kRadioWrite:
            if (auto request = packets::parseRemoteRequest(payload)) {
                handleRemote(s, *request);
            } else {
                emit(EventKind::UnknownFrame, number, 0, code, "too short");
            }
            return;
        case packets::kBindRequest:
            if (auto request = packets::parseBindRequest(payload)) {
                handleBind(s, *request);
            } else {
                emit(EventKind::UnknownFrame, number, 0, code, "too short");
            }
            return;
        case packets::kStationRead:
        case packets::kStationWrite:
            handleStationParameter(s, payload);
            return;
        default:
            emit(EventKind::UnknownFrame, number, 0, code, hexBytes(payload));
            return;
    }
}

void World::handleStationParameter(StationState &s, std::span<const std::uint8_t> payload) {
    const bool write = (payload[0] & 0x1F) == packets::kStationWrite;
    const int number = s.config.number;
    if (payload.size() < 2) {
        emit(EventKind::StationRequestRefused, number, 0, -1, "no parameter number");
        reply(s, {packets::kStationRefused}, {});
        return;
    }
    const std::uint8_t parameter = payload[1];
    const auto data = payload.subspan(2);
    Bytes answer{packets::kStationDone};
    bool done = false;
    std::string detail;
    const auto &refused = s.config.refusedParameters;
    if (std::find(refused.begin(), refused.end(), parameter) != refused.end()) {
        // Refused whatever it is.
    } else if (!write) {
        if (parameter == 3) {
            const std::uint32_t id = s.config.id;
            answer = {packets::kStationDone, static_cast<std::uint8_t>(id >> 16),
                      static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id)};
            done = true;
        } else if (parameter == 11) {
            answer.push_back(s.config.channel);
            done = true;
        }
    } else if (parameter == 3 && data.size() == 3) {
        s.config.id = (std::uint32_t{data[0]} << 16) | (std::uint32_t{data[1]} << 8) | data[2];
        detail = std::to_string(s.config.id);
        done = true;
    } else if (parameter == 11 && data.size() == 1 && data[0] != 0) {
        detail = std::to_string(data[0]);
        if (s.config.channel != data[0]) {
            s.config.channel = data[0];
            emit(EventKind::ChannelChanged, number, 0, data[0]);
        }
        done = true;
    } else if ((parameter == 24 || parameter == 25) && data.empty()) {
        detail = parameter == 24 ? "settings stored" : "radio restarted";
        done = true;
    }
    if (!done) {
        emit(EventKind::StationRequestRefused, number, 0, parameter,
             write ? "write " + hexBytes(data) : "read");
        reply(s, {packets::kStationRefused}, {});
        return;
    }
    emit(write ? EventKind::StationParameterWritten : EventKind::StationParameterRead, number, 0,
         parameter, detail);
    reply(s, std::move(answer), {});
}

bool World::hears(const ModuleState &m, const StationState &s) const {
    return m.config.poweredOn && carries(s, m);
}

void World::handleRemote(StationState &s, const packets::RemoteRequest &request) {
    const int number = s.config.number;
    const bool radio = request.radio;
    auto stationReply = [&](packets::Reply r, Clock::duration delay) {
        reply(s, packets::remoteReply(radio, r, 0, request.id, {}, 0, 0), delay);
    };

    if (request.id == kBroadcastId) {
        // Nobody answers a broadcast: the station acknowledges a write itself
        // and refuses a read, which needs one answer.
        if (!request.write) {
            emit(EventKind::RequestRefused, number, 0, request.parameter, "read from everyone");
            stationReply(packets::Reply::Refused, {});
            return;
        }
        const bool wakeUp = !radio && request.parameter == kWakeParameter;
        for (auto &[id, m] : modules_) {
            if (!hears(m, s) || !m.config.answers || (m.asleep && !wakeUp)) continue;
            answer(m, request);
        }
        stationReply(packets::Reply::Done, {});
        return;
    }

    ModuleState *m = findModule(request.id);
    const bool wakeUp = !radio && request.write && request.parameter == kWakeParameter;
    if (m == nullptr || !hears(*m, s) || !m->config.answers || (m->asleep && !wakeUp)) {
        emit(EventKind::NoAnswer, number, request.id, request.parameter);
        stationReply(packets::Reply::NoAnswer, kAnswerWindow);
        return;
    }
    Answer a = answer(*m, request);
    if (m->config.latency > kAnswerWindow) {
        // The answer would come after the station has given up.
        emit(EventKind::NoAnswer, number, request.id, request.parameter, "answer too late");
        stationReply(packets::Reply::NoAnswer, kAnswerWindow);
        return;
    }
    const ModuleConfig &c = m->config;
    reply(s,
          packets::remoteReply(radio, a.reply,
                               packets::replyFlags(m->configurationMode, c.batteryLow, c.error),
                               request.id, a.data, packets::signalByte(c.rssi), c.linkQuality),
          c.latency);
}

World::Answer World::answer(ModuleState &m, const packets::RemoteRequest &request) {
    using packets::Reply;
    const std::uint32_t id = m.config.id;
    const int p = request.parameter;
    const char *table = request.radio ? "radio" : "";
    auto &parameters = request.radio ? m.config.radioParameters : m.config.parameters;
    auto found = parameters.find(request.parameter);

    // Writing the wake parameter wakes the module whatever is written; a table
    // entry of the same number is written (and read) as well.
    const bool wakeUp = !request.radio && p == kWakeParameter && request.write;
    if (wakeUp) wake(m, "by wake parameter");

    if (found == parameters.end()) {
        // Built-in parameters.
        if (!request.radio && p == kWakeParameter) {
            if (!request.write) {
                emit(EventKind::RequestRefused, -1, id, p, "wake is write-only");
                return {Reply::Refused, {}};
            }
            return {Reply::Done, {}};
        }
        if (request.radio && p == 3) {
            if (request.write) {
                emit(EventKind::RequestRefused, -1, id, p, "radio: ID is read-only");
                return {Reply::Refused, {}};
            }
            emit(EventKind::ParameterRead, -1, id, p, table);
            return {Reply::Done, numberValue(DataType::Int32, id)->wire()};
        }
        if (request.radio && p == 11) {
            if (!request.write) {
                emit(EventKind::ParameterRead, -1, id, p, table);
                return {Reply::Done, TypedValue{DataType::UInt8, {m.config.channel}}.wire()};
            }
            auto value = convertWritten(DataType::UInt8, request.data);
            if (!value || value->bytes[0] == 0) {
                emit(EventKind::ValueRefused, -1, id, p,
                     "radio: channel " + hexBytes(request.data));
                return {Reply::ValueRefused, {}};
            }
            emit(EventKind::ParameterWritten, -1, id, p, "radio: " + value->text());
            if (m.config.channel != value->bytes[0]) {
                m.config.channel = value->bytes[0];
                emit(EventKind::ChannelChanged, -1, id, m.config.channel);
            }
            return {Reply::Done, {}};
        }
        emit(EventKind::RequestRefused, -1, id, p, std::string(table) + " no such parameter");
        return {Reply::Refused, {}};
    }

    Parameter &parameter = found->second;
    if (parameter.forcedReply) {
        std::uint8_t code = *parameter.forcedReply;
        auto reply =
            static_cast<Reply>(code >= packets::kRadioReplies ? code - packets::kRadioReplies
                                                              : code - packets::kRemoteReplies);
        Bytes data;
        if (!request.write && (reply == Reply::Done || reply == Reply::ValueRefused)) {
            data = parameter.value.wire();
        }
        emit(EventKind::ParameterRead, -1, id, p,
             std::string(table) + " forced reply " + std::to_string(code));
        return {reply, std::move(data)};
    }
    const auto access = parameter.access;
    if (access == Parameter::Access::Refused ||
        (request.write && access == Parameter::Access::ReadOnly) ||
        (!request.write && access == Parameter::Access::WriteOnly)) {
        emit(EventKind::RequestRefused, -1, id, p,
             std::string(table) + (request.write ? " write" : " read"));
        return {Reply::Refused, {}};
    }
    if (!request.write) {
        emit(EventKind::ParameterRead, -1, id, p, table);
        return {Reply::Done, parameter.value.wire()};
    }
    auto value = convertWritten(parameter.value.type, request.data);
    std::optional<double> number = value ? toNumber(*value) : std::nullopt;
    bool inRange = !number || ((!parameter.min || *number >= *parameter.min) &&
                               (!parameter.max || *number <= *parameter.max));
    if (!value || !inRange) {
        emit(EventKind::ValueRefused, -1, id, p, std::string(table) + " " + hexBytes(request.data));
        return {Reply::ValueRefused, {}};
    }
    parameter.value = std::move(*value);
    emit(EventKind::ParameterWritten, -1, id, p,
         (request.radio ? "radio: " : "") + parameter.value.text());
    return {Reply::Done, {}};
}

void World::handleBind(StationState &s, const packets::BindRequest &request) {
    scheduler_.cancel(s.bindTimer);
    const TimePoint now = scheduler_.now();
    s.bind = PendingBind{now, now + std::chrono::seconds(request.seconds), request};
    const int number = s.config.number;
    std::string detail = request.useRemoteSettings != 0 ? "use remote settings" : "keep settings";
    if (request.mode == 1) detail += ", configuration mode";
    emit(EventKind::BindRequested, number, 0, request.seconds, detail);
    s.bindTimer = scheduler_.at(s.bind->deadline, [this, number] {
        StationState *station = findStation(number);
        if (station == nullptr || !station->bind) return;
        station->bind.reset();
        station->bindTimer = 0;
        emit(EventKind::BindTimedOut, number, 0);
    });
}

void World::pair(StationState &s, ModuleState &m) {
    const packets::BindRequest request = s.bind->request;
    s.bind.reset();
    scheduler_.cancel(s.bindTimer);
    s.bindTimer = 0;
    const int number = s.config.number;
    const std::uint32_t id = m.config.id;
    reply(s, packets::bindReply(id, m.config.tag), m.config.latency);
    if (request.useRemoteSettings != 0) {
        if (s.config.channel != m.config.channel) {
            s.config.channel = m.config.channel;
            emit(EventKind::ChannelChanged, number, 0, s.config.channel);
        }
    } else if (m.config.channel != s.config.channel) {
        m.config.channel = s.config.channel;
        emit(EventKind::ChannelChanged, -1, id, m.config.channel);
    }
    emit(EventKind::Paired, number, id, m.config.tag);
    if (request.mode == 1) {
        m.configurationMode = true;
        armSleepTimer(m);
        emit(EventKind::ConfigurationMode, number, id);
    }
}

void World::handleCommand(StationState &s, const packets::Command &command) {
    const int number = s.config.number;
    bool heard = false;
    for (auto &[id, m] : modules_) {
        if (!hears(m, s) || m.asleep) continue;
        if (command.tag != kAllTags && command.tag != m.config.tag) continue;
        heard = true;
        const bool ignored = m.configurationMode && (command.command == packets::kSleep ||
                                                     command.command == packets::kPause);
        emit(EventKind::CommandHeard, number, id, command.command,
             std::string(commandName(command.command)) +
                 (ignored ? " (ignored in configuration mode)" : ""));
        if (ignored) continue;
        switch (command.command) {
            case packets::kSleep:
                goToSleep(m, "by command");
                break;
            case packets::kPause:
                pause(m);
                break;
            case packets::kStayAwake:
                armSleepTimer(m);
                break;
            default:
                break;
        }
    }
    if (!heard) {
        emit(EventKind::PacketToTag, number, 0, command.tag,
             std::string(commandName(command.command)) + ", no module heard it");
    }
}

}  // namespace lyx::sim
