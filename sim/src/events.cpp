#include "lyx/sim/events.hpp"

namespace lyx::sim {

std::string kindName(EventKind kind) {
    switch (kind) {
        case EventKind::StationPlugged:
            return "plugged";
        case EventKind::StationUnplugged:
            return "unplugged";
        case EventKind::StationParameterRead:
            return "station-read";
        case EventKind::StationParameterWritten:
            return "station-written";
        case EventKind::StationRequestRefused:
            return "station-refused";
        case EventKind::ChannelChanged:
            return "channel";
        case EventKind::BindRequested:
            return "bind-requested";
        case EventKind::BindTimedOut:
            return "bind-timed-out";
        case EventKind::Paired:
            return "paired";
        case EventKind::BroadcastFromPc:
            return "broadcast";
        case EventKind::PacketToTag:
            return "packet-to-tag";
        case EventKind::UnknownFrame:
            return "unknown-frame";
        case EventKind::CommandHeard:
            return "command";
        case EventKind::Asleep:
            return "asleep";
        case EventKind::Woken:
            return "woken";
        case EventKind::Paused:
            return "paused";
        case EventKind::Resumed:
            return "resumed";
        case EventKind::ConfigurationMode:
            return "configuration-mode";
        case EventKind::PoweredUp:
            return "powered-up";
        case EventKind::PoweredDown:
            return "powered-down";
        case EventKind::ParameterRead:
            return "read";
        case EventKind::ParameterWritten:
            return "written";
        case EventKind::RequestRefused:
            return "refused";
        case EventKind::ValueRefused:
            return "value-refused";
        case EventKind::NoAnswer:
            return "no-answer";
        case EventKind::ReplyLost:
            return "reply-lost";
        case EventKind::FrameDropped:
            return "frame-dropped";
        case EventKind::FrameCorrupted:
            return "frame-corrupted";
        case EventKind::DataSent:
            return "data";
        case EventKind::FrameFromPc:
            return "frame";
        case EventKind::ReplayLooped:
            return "replay-looped";
        case EventKind::ReplayEnded:
            return "replay-ended";
    }
    return "event";
}

std::string describe(const Event &event) {
    std::string out = kindName(event.kind);
    if (event.station >= 0) out += " station=" + std::to_string(event.station);
    if (event.module != 0) out += " module=" + std::to_string(event.module);
    if (event.code >= 0) out += " code=" + std::to_string(event.code);
    if (!event.detail.empty()) out += " " + event.detail;
    return out;
}

}  // namespace lyx::sim
