// The world's entities and timers: stations, modules, power, sleep, pause, data
// transmission and the faults on everything a station sends.
#include "world.hpp"

#include <algorithm>

#include "lyx/link/frame.hpp"
#include "lyx/link/synchroniser.hpp"

namespace lyx::sim {

namespace {

constexpr auto kCatchUp = std::chrono::milliseconds(50);

Clock::duration periodOf(double rate) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
}

std::string noSuchStation(int number) {
    return "no station " + std::to_string(number);
}

std::string noSuchModule(std::uint32_t id) {
    return "no module " + std::to_string(id);
}

}  // namespace

World::World(Scheduler &scheduler, FrameOutput &output, EventSink &events, std::uint64_t randomKey)
    : scheduler_(scheduler), output_(output), events_(events), randomKey_(randomKey) {}

World::~World() {
    for (auto &[id, m] : modules_)
        stopTimers(m);
    for (auto &[number, s] : stations_)
        scheduler_.cancel(s.bindTimer);
    for (auto &[key, timer] : oneShots_)
        scheduler_.cancel(timer);
}

World::StationState *World::findStation(int number) {
    auto found = stations_.find(number);
    return found == stations_.end() ? nullptr : &found->second;
}

World::ModuleState *World::findModule(std::uint32_t id) {
    auto found = modules_.find(id);
    return found == modules_.end() ? nullptr : &found->second;
}

void World::emit(EventKind kind, int station, std::uint32_t module, int code, std::string detail) {
    Event event;
    event.time = scheduler_.now();
    event.kind = kind;
    event.station = station;
    event.module = module;
    event.code = code;
    event.detail = std::move(detail);
    events_.publish(std::move(event));
}

TimerId World::later(Clock::duration delay, Task task) {
    std::uint64_t key = ++lastOneShot_;
    TimerId id = scheduler_.at(scheduler_.now() + delay, [this, key, task = std::move(task)] {
        oneShots_.erase(key);
        task();
    });
    oneShots_.emplace(key, id);
    return id;
}

// ---- stations ----

Outcome World::addStation(const StationConfig &config) {
    if (auto ok = validate(config); !ok) return ok;
    if (stations_.contains(config.number)) {
        return Outcome::failure("station " + std::to_string(config.number) + " exists already");
    }
    StationState &s = stations_[config.number];
    s.config = config;
    s.random =
        decltype(s.random)(randomKey_ * 1000003u + static_cast<std::uint64_t>(config.number));
    emit(EventKind::StationPlugged, config.number, 0);
    return {};
}

Outcome World::removeStation(int number) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    scheduler_.cancel(s->bindTimer);
    stations_.erase(number);
    return {};
}

Outcome World::setPlugged(int number, bool plugged) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    if (s->plugged == plugged) return {};
    s->plugged = plugged;
    if (!plugged) {
        ++s->generation;
        s->bind.reset();
        scheduler_.cancel(s->bindTimer);
        s->bindTimer = 0;
        for (auto &held : s->received)
            held.clear();
    }
    emit(plugged ? EventKind::StationPlugged : EventKind::StationUnplugged, number, 0);
    return {};
}

Outcome World::setStationChannel(int number, std::uint8_t channel) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    if (channel == 0) return Outcome::failure("radio channel must be 1 to 255");
    if (s->config.channel != channel) {
        s->config.channel = channel;
        emit(EventKind::ChannelChanged, number, 0, channel);
        for (auto &[id, m] : modules_)
            if (m.station == number) m.config.channel = channel;
    }
    return {};
}

Outcome World::setStationId(int number, std::uint32_t id) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    if (id > 0xFFFFFF) return Outcome::failure("station ID must be 0 to 16777215");
    s->config.id = id;
    return {};
}

Outcome World::setFaults(int number, const Faults &faults) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    if (auto ok = validate(faults); !ok) return ok;
    s->config.faults = faults;
    return {};
}

Outcome World::corruptNext(int number, unsigned frames) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    s->corruptNext = frames;
    return {};
}

Outcome World::dropNext(int number, unsigned frames) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    s->dropNext = frames;
    return {};
}

Outcome World::loseNextReplies(int number, unsigned replies) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    s->loseReplies = replies;
    return {};
}

Outcome World::setRefusedParameters(int number, std::vector<std::uint8_t> parameters) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    s->config.refusedParameters = std::move(parameters);
    return {};
}

Outcome World::sendFrame(int number, std::span<const std::uint8_t> payload) {
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    if (!s->plugged) return Outcome::failure("station " + std::to_string(number) + " is unplugged");
    if (payload.empty() || payload.size() > 255) {
        return Outcome::failure("a payload has 1 to 255 bytes");
    }
    transmit(*s, link::buildFrame(static_cast<std::uint8_t>(number), payload), false);
    return {};
}

std::optional<StationStatus> World::station(int number) const {
    auto found = stations_.find(number);
    if (found == stations_.end()) return std::nullopt;
    const StationState &s = found->second;
    StationStatus status;
    status.config = s.config;
    status.pluggedIn = s.plugged;
    status.bindWaiting = s.bind.has_value();
    status.framesSent = s.framesSent;
    status.framesReceived = s.framesReceived;
    return status;
}

std::vector<int> World::stationNumbers() const {
    std::vector<int> out;
    for (const auto &[number, s] : stations_)
        out.push_back(number);
    return out;
}

// ---- modules ----

Outcome World::addModule(const ModuleConfig &config) {
    if (auto ok = validate(config); !ok) return ok;
    if (modules_.contains(config.id)) {
        return Outcome::failure("module " + std::to_string(config.id) + " exists already");
    }
    ModuleState &m = modules_[config.id];
    m.config = config;
    m.poweredAt = scheduler_.now();
    if (m.config.poweredOn) {
        startSending(m);
        armSleepTimer(m);
    }
    return {};
}

Outcome World::removeModule(std::uint32_t id) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Outcome::failure(noSuchModule(id));
    stopTimers(*m);
    modules_.erase(id);
    return {};
}

Outcome World::updateModule(std::uint32_t id, const std::function<void(ModuleConfig &)> &change) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Outcome::failure(noSuchModule(id));
    ModuleConfig next = m->config;
    change(next);
    if (next.id != id) return Outcome::failure("a module's ID cannot change");
    if (auto ok = validate(next); !ok) return ok;
    const ModuleConfig before = m->config;
    m->config = next;
    m->config.poweredOn = before.poweredOn;
    if (next.poweredOn != before.poweredOn) return next.poweredOn ? powerUp(id) : powerDown(id);
    if (next.rate != before.rate && m->config.poweredOn) startSending(*m);
    if (next.sleepTimer != before.sleepTimer) armSleepTimer(*m);
    if (next.channel != before.channel) emit(EventKind::ChannelChanged, -1, id, next.channel);
    return {};
}

Outcome World::setParameter(std::uint32_t id, std::uint8_t number, const Parameter &parameter,
                            bool radio) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Outcome::failure(noSuchModule(id));
    if (auto ok = validate(parameter); !ok) return ok;
    (radio ? m->config.radioParameters : m->config.parameters)[number] = parameter;
    return {};
}

Outcome World::powerUp(std::uint32_t id) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Outcome::failure(noSuchModule(id));
    stopTimers(*m);
    m->config.poweredOn = true;
    m->asleep = false;
    m->paused = false;
    m->configurationMode = false;
    m->poweredAt = scheduler_.now();
    emit(EventKind::PoweredUp, -1, id);
    startSending(*m);
    armSleepTimer(*m);

    // A station waiting for a bind takes the module that announces itself; the
    // one that asked first wins.
    StationState *waiting = nullptr;
    const TimePoint now = scheduler_.now();
    for (auto &[number, s] : stations_) {
        if (!s.plugged || !s.bind || s.bind->deadline < now) continue;
        if (waiting == nullptr || s.bind->requested < waiting->bind->requested) waiting = &s;
    }
    if (waiting != nullptr) pair(*waiting, *m);
    return {};
}

Outcome World::powerDown(std::uint32_t id) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Outcome::failure(noSuchModule(id));
    stopTimers(*m);
    m->config.poweredOn = false;
    m->paused = false;
    emit(EventKind::PoweredDown, -1, id);
    return {};
}

Outcome World::setAsleep(std::uint32_t id, bool asleep) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Outcome::failure(noSuchModule(id));
    if (!m->config.poweredOn) return Outcome::failure("module " + std::to_string(id) + " is off");
    if (asleep) {
        goToSleep(*m, "by simulator");
    } else {
        wake(*m, "by simulator");
    }
    return {};
}

Outcome World::setConfigurationMode(std::uint32_t id, bool on) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Outcome::failure(noSuchModule(id));
    if (m->configurationMode == on) return {};
    m->configurationMode = on;
    if (on) emit(EventKind::ConfigurationMode, -1, id);
    armSleepTimer(*m);
    return {};
}

std::optional<ModuleStatus> World::module(std::uint32_t id) const {
    auto found = modules_.find(id);
    if (found == modules_.end()) return std::nullopt;
    const ModuleState &m = found->second;
    ModuleStatus status;
    status.config = m.config;
    status.asleep = m.asleep;
    status.paused = m.paused;
    status.configurationMode = m.configurationMode;
    status.packetsSent = m.packetsSent;
    status.station = m.station;
    return status;
}

std::vector<std::uint32_t> World::moduleIds() const {
    std::vector<std::uint32_t> out;
    for (const auto &[id, m] : modules_)
        out.push_back(id);
    return out;
}

bool World::carries(const StationState &s, const ModuleState &m) {
    return m.station >= 0 ? m.station == s.config.number : m.config.channel == s.config.channel;
}

Outcome World::attachToStation(std::uint32_t id, int number) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Outcome::failure(noSuchModule(id));
    StationState *s = findStation(number);
    if (s == nullptr) return Outcome::failure(noSuchStation(number));
    m->station = number;
    m->config.channel = s->config.channel;
    return {};
}

World::Sent World::sendRecorded(std::uint32_t id, const RecordedRow &row,
                                std::span<const std::uint8_t> value, bool wait) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return Sent::Unheard;
    ModuleConfig &c = m->config;
    c.status = row.status;
    c.rssi = row.rssi;
    c.linkQuality = row.linkQuality;
    c.batteryLow = row.batteryLow;
    c.error = row.error;
    if (!c.poweredOn || m->asleep || m->paused || m->configurationMode) return Sent::Quiet;
    packets::DataPacket packet;
    packet.tag = c.tag;
    packet.status = row.status;
    packet.type = row.type;
    packet.value.assign(value.begin(), value.end());
    packet.signal = packets::signalByte(row.rssi);
    packet.linkQuality = row.linkQuality;
    packet.batteryLow = row.batteryLow;
    packet.error = row.error;
    ++m->packetsSent;
    if (traceData_) emit(EventKind::DataSent, -1, id, c.tag);
    StationState *s = m->station >= 0 ? findStation(m->station) : nullptr;
    if (s == nullptr || !s->plugged) return Sent::Unheard;
    transmit(
        *s,
        link::buildFrame(static_cast<std::uint8_t>(s->config.number), packets::dataPayload(packet)),
        false, wait);
    return Sent::Yes;
}

// ---- module timers ----

void World::stopTimers(ModuleState &m) {
    scheduler_.cancel(m.sendTimer);
    scheduler_.cancel(m.pauseTimer);
    scheduler_.cancel(m.sleepTimer);
    m.sendTimer = m.pauseTimer = m.sleepTimer = 0;
}

void World::startSending(ModuleState &m) {
    scheduler_.cancel(m.sendTimer);
    m.sendTimer = 0;
    if (!m.config.poweredOn || m.config.rate <= 0) return;
    // Modules that start together should not all send in the same instant: each
    // starts at its own offset within the first 10 ms (or period, if shorter).
    auto spread = std::min<Clock::duration>(periodOf(m.config.rate), std::chrono::milliseconds(10));
    auto offset = spread * static_cast<long>((m.config.id * 2654435761u) % 1000u) / 1000;
    m.nextSend = scheduler_.now() + offset;
    std::uint32_t id = m.config.id;
    m.sendTimer = scheduler_.at(m.nextSend, [this, id] { sendTick(id); });
}

void World::sendTick(std::uint32_t id) {
    ModuleState *m = findModule(id);
    if (m == nullptr) return;
    m->sendTimer = 0;
    const TimePoint now = scheduler_.now();
    ++stats_.ticks;
    auto lag = std::chrono::duration_cast<std::chrono::microseconds>(now - m->nextSend);
    stats_.maxLag = std::max(stats_.maxLag, lag);
    transmitData(*m, now);

    // A send time the thread reached late is made up at once, so a short
    // hold-up does not lower the rate; more than kCatchUp behind, the send
    // times that have passed are skipped (and counted).
    const auto period = periodOf(m->config.rate);
    m->nextSend += period;
    if (m->nextSend + kCatchUp <= now) {
        auto missed = (now - m->nextSend) / period + 1;
        stats_.late += static_cast<std::uint64_t>(missed);
        m->nextSend += missed * period;
    }
    m->sendTimer = scheduler_.at(m->nextSend, [this, id] { sendTick(id); });
}

void World::transmitData(ModuleState &m, TimePoint now) {
    if (!m.config.poweredOn || m.asleep || m.paused || m.configurationMode) return;
    const ModuleConfig &c = m.config;
    const double seconds = std::chrono::duration<double>(now - m.poweredAt).count();
    const double span = 1.0 / c.rate;
    packets::DataPacket packet;
    packet.tag = c.tag;
    packet.status = c.status;
    packet.signal = packets::signalByte(c.rssi);
    packet.linkQuality = c.linkQuality;
    packet.batteryLow = c.batteryLow;
    packet.error = c.error;
    switch (c.layout) {
        case Layout::Value:
            packet.type = c.type;
            // A count tells every packet from every other, whatever the timing.
            packet.value =
                packets::valueBytes(c, c.wave.shape == Waveform::Shape::Count
                                           ? c.wave.offset + static_cast<double>(m.packetsSent)
                                           : sample(c.wave, seconds));
            break;
        case Layout::Record:
            packet.type = DataType::Binary;
            packet.value = packets::recordValue(c.wave, seconds, span, m.sequence++);
            break;
        case Layout::StoreForward:
            packet.type = DataType::Binary;
            packet.value = packets::storeForwardBlock(c.wave, seconds, span);
            break;
    }
    const Bytes payload = packets::dataPayload(packet);
    ++m.packetsSent;
    for (auto &[number, s] : stations_) {
        if (s.plugged && carries(s, m)) {
            transmit(s, link::buildFrame(static_cast<std::uint8_t>(number), payload), false);
        }
    }
    if (traceData_) emit(EventKind::DataSent, -1, c.id, c.tag);
}

void World::armSleepTimer(ModuleState &m) {
    scheduler_.cancel(m.sleepTimer);
    m.sleepTimer = 0;
    if (m.config.sleepTimer.count() <= 0 || !m.config.poweredOn || m.asleep ||
        m.configurationMode) {
        return;
    }
    std::uint32_t id = m.config.id;
    m.sleepTimer = scheduler_.at(scheduler_.now() + m.config.sleepTimer, [this, id] {
        if (ModuleState *found = findModule(id)) {
            found->sleepTimer = 0;
            goToSleep(*found, "by sleep timer");
        }
    });
}

void World::goToSleep(ModuleState &m, const char *by) {
    scheduler_.cancel(m.pauseTimer);
    scheduler_.cancel(m.sleepTimer);
    m.pauseTimer = m.sleepTimer = 0;
    m.paused = false;
    if (m.asleep) return;
    m.asleep = true;
    emit(EventKind::Asleep, -1, m.config.id, -1, by);
}

void World::wake(ModuleState &m, const char *by) {
    if (m.asleep) {
        m.asleep = false;
        emit(EventKind::Woken, -1, m.config.id, -1, by);
    }
    armSleepTimer(m);
}

void World::pause(ModuleState &m) {
    scheduler_.cancel(m.pauseTimer);
    m.paused = true;
    std::uint32_t id = m.config.id;
    m.pauseTimer = scheduler_.at(scheduler_.now() + m.config.pauseTime, [this, id] {
        if (ModuleState *found = findModule(id)) {
            found->pauseTimer = 0;
            found->paused = false;
            emit(EventKind::Resumed, -1, id);
        }
    });
    emit(EventKind::Paused, -1, m.config.id);
}

// ---- what stations send ----

void World::transmit(StationState &s, Bytes frame, bool isReply, bool wait) {
    if (!s.plugged || frame.empty()) return;
    const Faults &f = s.config.faults;
    auto chance = [&s](double p) {
        return p > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(s.random) < p;
    };
    const int number = s.config.number;
    if (isReply) {
        bool lose = s.loseReplies > 0 || chance(f.replyLoss);
        if (s.loseReplies > 0) --s.loseReplies;
        if (lose) {
            emit(EventKind::ReplyLost, number, 0, frame[3] & 0x1F);
            return;
        }
    }
    bool drop = s.dropNext > 0 || chance(f.drop);
    if (s.dropNext > 0) --s.dropNext;
    if (drop) {
        emit(EventKind::FrameDropped, number, 0, frame[3] & 0x1F);
        return;
    }
    bool corrupt = s.corruptNext > 0 || chance(f.corrupt);
    if (s.corruptNext > 0) --s.corruptNext;
    if (corrupt) {
        std::size_t index = s.random() % frame.size();
        frame[index] ^= static_cast<std::uint8_t>(1u << (s.random() % 8));
        emit(EventKind::FrameCorrupted, number, 0, -1, "byte " + std::to_string(index));
    }
    Bytes unit;
    unit.reserve(f.noise + f.zeros + frame.size());
    for (unsigned i = 0; i < f.noise; ++i)
        unit.push_back(static_cast<std::uint8_t>(s.random()));
    unit.insert(unit.end(), f.zeros, 0);
    unit.insert(unit.end(), frame.begin(), frame.end());
    if (!(wait ? output_.sendWaiting(number, unit) : output_.send(number, unit))) {
        ++stats_.outputDropped;
    }
    ++s.framesSent;
    ++stats_.framesSent;
}

void World::reply(StationState &s, Bytes payload, Clock::duration delay) {
    delay += s.config.faults.replyDelay;
    const int number = s.config.number;
    const std::uint64_t generation = s.generation;
    auto send = [this, number, generation, payload = std::move(payload)] {
        StationState *station = findStation(number);
        if (station == nullptr || station->generation != generation) return;
        transmit(*station, link::buildFrame(static_cast<std::uint8_t>(number), payload), true);
    };
    if (delay <= Clock::duration::zero()) {
        send();
    } else {
        later(delay, std::move(send));
    }
}

namespace {

// Finds the next frame in what the PC sent. A station takes payloads of up to
// 255 bytes (a serial line carries them; USB up to 123), where a receiver on
// the PC side stops at 100; otherwise the rule is the same: a repeated length
// byte that is not 0 and a matching CRC, else one byte is dropped.
link::SyncResult findPcFrame(std::span<const std::uint8_t> held) {
    std::size_t pos = 0;
    while (held.size() - pos >= 2) {
        const std::uint8_t a = held[pos];
        if (a != 0 && held[pos + 1] == a) {
            const std::size_t length = a + link::kFrameOverhead;
            if (held.size() - pos < length) return {pos, 0};  // may still complete
            if (link::isValidFrame(held.subspan(pos, length))) return {pos, length};
        }
        ++pos;
    }
    return {pos, 0};
}

}  // namespace

void World::receive(int number, std::span<const std::uint8_t> bytes, Source source) {
    StationState *s = findStation(number);
    if (s == nullptr || !s->plugged) return;
    Bytes &held = s->received[source == Source::Usb ? 0 : 1];
    held.insert(held.end(), bytes.begin(), bytes.end());
    for (;;) {
        link::SyncResult found = findPcFrame(held);
        auto begin = held.begin();
        if (found.frameLength == 0) {
            held.erase(begin, begin + static_cast<std::ptrdiff_t>(found.discard));
            break;
        }
        Bytes frame(begin + static_cast<std::ptrdiff_t>(found.discard),
                    begin + static_cast<std::ptrdiff_t>(found.discard + found.frameLength));
        held.erase(begin, begin + static_cast<std::ptrdiff_t>(found.discard + found.frameLength));
        ++s->framesReceived;
        handleFrame(*s, frame);
    }
}

}  // namespace lyx::sim
