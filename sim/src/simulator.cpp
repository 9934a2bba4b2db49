// The Simulator: the world on its event loop, with real devices as its links.
#include "lyx/sim/simulator.hpp"

#include <map>

#include "event_log.hpp"
#include "event_loop.hpp"
#include "replay_player.hpp"
#include "station_links.hpp"
#include "world.hpp"

namespace lyx::sim {

struct Simulator::Impl final : FrameOutput, EventSink {
    explicit Impl(std::uint64_t randomKey) : world(loop, *this, *this, randomKey) {}

    bool send(int number, std::span<const std::uint8_t> bytes) override {
        auto found = links.find(number);
        return found == links.end() || found->second->send(bytes, false);
    }

    bool sendWaiting(int number, std::span<const std::uint8_t> bytes) override {
        auto found = links.find(number);
        return found == links.end() || found->second->send(bytes, true);
    }

    void publish(Event event) override {
        const Event &kept = log.add(std::move(event));
        if (listener) {
            Event copy = kept;
            listener(copy);
        }
    }

    // Declared in this order so that they are destroyed in the reverse one:
    // devices first, then the world, the loop last (the world cancels its timers
    // on it).
    EventLoop loop;
    EventLog log;
    World world;
    std::map<int, std::unique_ptr<StationLinks>> links;  // loop thread only
    std::function<void(const Event &)> listener;         // loop thread only
    std::unique_ptr<ReplayPlayer> replay;                // loop thread only
};

Simulator::Simulator(std::uint64_t randomKey) : impl_(std::make_unique<Impl>(randomKey)) {}

Simulator::~Simulator() {
    impl_->loop.invoke([this] {
        impl_->replay.reset();
        impl_->links.clear();
    });
    impl_->loop.stop();
}

Outcome Simulator::addStation(const StationConfig &station) {
    return impl_->loop.invoke([&]() -> Outcome {
        if (auto ok = validate(station); !ok) return ok;
        if (impl_->world.station(station.number)) {
            return Outcome::failure("station " + std::to_string(station.number) +
                                    " exists already");
        }
        const int number = station.number;
        auto links = std::make_unique<StationLinks>(
            station, impl_->loop,
            [this, number](std::span<const std::uint8_t> bytes, World::Source source) {
                impl_->world.receive(number, bytes, source);
            });
        if (auto ok = links->plugIn(); !ok) return ok;
        if (auto ok = impl_->world.addStation(station); !ok) return ok;
        impl_->links[number] = std::move(links);
        return {};
    });
}

Outcome Simulator::removeStation(int number) {
    return impl_->loop.invoke([&]() -> Outcome {
        if (auto ok = impl_->world.removeStation(number); !ok) return ok;
        impl_->links.erase(number);
        return {};
    });
}

Outcome Simulator::unplug(int number) {
    return impl_->loop.invoke([&]() -> Outcome {
        if (auto ok = impl_->world.setPlugged(number, false); !ok) return ok;
        impl_->links.at(number)->unplug();
        return {};
    });
}

Outcome Simulator::plugIn(int number) {
    return impl_->loop.invoke([&]() -> Outcome {
        auto found = impl_->links.find(number);
        if (found == impl_->links.end()) {
            return Outcome::failure("no station " + std::to_string(number));
        }
        if (auto ok = found->second->plugIn(); !ok) return ok;
        return impl_->world.setPlugged(number, true);
    });
}

Outcome Simulator::setStationChannel(int number, std::uint8_t channel) {
    return impl_->loop.invoke([&] { return impl_->world.setStationChannel(number, channel); });
}

Outcome Simulator::setStationId(int number, std::uint32_t id) {
    return impl_->loop.invoke([&] { return impl_->world.setStationId(number, id); });
}

Outcome Simulator::setFaults(int number, const Faults &faults) {
    return impl_->loop.invoke([&] { return impl_->world.setFaults(number, faults); });
}

Outcome Simulator::corruptNext(int number, unsigned frames) {
    return impl_->loop.invoke([&] { return impl_->world.corruptNext(number, frames); });
}

Outcome Simulator::dropNext(int number, unsigned frames) {
    return impl_->loop.invoke([&] { return impl_->world.dropNext(number, frames); });
}

Outcome Simulator::loseNextReplies(int number, unsigned replies) {
    return impl_->loop.invoke([&] { return impl_->world.loseNextReplies(number, replies); });
}

Outcome Simulator::setRefusedParameters(int number, std::vector<std::uint8_t> parameters) {
    return impl_->loop.invoke(
        [&] { return impl_->world.setRefusedParameters(number, std::move(parameters)); });
}

Outcome Simulator::sendFrame(int number, const Bytes &payload) {
    return impl_->loop.invoke([&] { return impl_->world.sendFrame(number, payload); });
}

std::optional<StationStatus> Simulator::station(int number) const {
    return impl_->loop.invoke([&]() -> std::optional<StationStatus> {
        auto status = impl_->world.station(number);
        auto found = impl_->links.find(number);
        if (status && found != impl_->links.end()) {
            status->usbSocket = found->second->usbSocket();
            status->ptyDevice = found->second->ptyDevice();
            status->comEntry = found->second->comEntry();
        }
        return status;
    });
}

std::vector<int> Simulator::stations() const {
    return impl_->loop.invoke([&] { return impl_->world.stationNumbers(); });
}

Outcome Simulator::addModule(const ModuleConfig &module) {
    return impl_->loop.invoke([&] { return impl_->world.addModule(module); });
}

Outcome Simulator::removeModule(std::uint32_t id) {
    return impl_->loop.invoke([&] { return impl_->world.removeModule(id); });
}

Outcome Simulator::updateModule(std::uint32_t id,
                                const std::function<void(ModuleConfig &)> &change) {
    return impl_->loop.invoke([&] { return impl_->world.updateModule(id, change); });
}

Outcome Simulator::setParameter(std::uint32_t id, std::uint8_t number, const Parameter &parameter,
                                bool radio) {
    return impl_->loop.invoke(
        [&] { return impl_->world.setParameter(id, number, parameter, radio); });
}

Outcome Simulator::powerUp(std::uint32_t id) {
    return impl_->loop.invoke([&] { return impl_->world.powerUp(id); });
}

Outcome Simulator::powerDown(std::uint32_t id) {
    return impl_->loop.invoke([&] { return impl_->world.powerDown(id); });
}

Outcome Simulator::setAsleep(std::uint32_t id, bool asleep) {
    return impl_->loop.invoke([&] { return impl_->world.setAsleep(id, asleep); });
}

Outcome Simulator::setConfigurationMode(std::uint32_t id, bool on) {
    return impl_->loop.invoke([&] { return impl_->world.setConfigurationMode(id, on); });
}

std::optional<ModuleStatus> Simulator::module(std::uint32_t id) const {
    return impl_->loop.invoke([&] { return impl_->world.module(id); });
}

std::vector<std::uint32_t> Simulator::modules() const {
    return impl_->loop.invoke([&] { return impl_->world.moduleIds(); });
}

std::vector<Event> Simulator::events(std::uint64_t afterSequence) const {
    return impl_->log.after(afterSequence);
}

std::optional<Event> Simulator::waitFor(const std::function<bool(const Event &)> &match,
                                        std::chrono::milliseconds timeout,
                                        std::uint64_t afterSequence) const {
    return impl_->log.waitFor(match, timeout, afterSequence);
}

std::uint64_t Simulator::lastSequence() const {
    return impl_->log.last();
}

void Simulator::setEventListener(std::function<void(const Event &)> listener) {
    impl_->loop.invoke([&] { impl_->listener = std::move(listener); });
}

void Simulator::traceData(bool on) {
    impl_->loop.invoke([&] { impl_->world.traceData(on); });
}

Stats Simulator::stats() const {
    return impl_->loop.invoke([&] { return impl_->world.stats(); });
}

Outcome Simulator::startReplay(std::shared_ptr<const Recording> recording,
                               const ReplaySettings &settings) {
    if (!recording) return Outcome::failure("no recording");
    return impl_->loop.invoke([&]() -> Outcome {
        World &world = impl_->world;
        for (int number : recording->stations()) {
            if (!world.station(number))
                return Outcome::failure("no station " + std::to_string(number));
        }
        // The earlier replay ends, and its modules go.
        if (auto &old = impl_->replay) {
            old->stop();
            for (std::uint32_t id : old->moduleIds()) {
                auto m = world.module(id);
                if (m && m->station >= 0) (void)world.removeModule(id);
            }
            old.reset();
        }
        std::vector<std::uint32_t> ids;
        if (auto ok = addReplayModules(world, *recording, ids); !ok) return ok;
        auto player = std::make_unique<ReplayPlayer>(world, impl_->loop, *impl_,
                                                     std::move(recording), settings, ids);
        if (auto ok = player->start(); !ok) {
            for (std::uint32_t id : ids)
                (void)world.removeModule(id);
            return ok;
        }
        impl_->replay = std::move(player);
        return {};
    });
}

Outcome Simulator::stopReplay() {
    return impl_->loop.invoke([&]() -> Outcome {
        if (!impl_->replay || !impl_->replay->status().running) {
            return Outcome::failure("no replay runs");
        }
        impl_->replay->stop();
        return {};
    });
}

std::optional<ReplayStatus> Simulator::replay() const {
    return impl_->loop.invoke([&]() -> std::optional<ReplayStatus> {
        if (!impl_->replay) return std::nullopt;
        return impl_->replay->status();
    });
}

}  // namespace lyx::sim
