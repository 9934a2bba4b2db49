#include "network.hpp"

#include <utility>
#include <vector>

#include "arguments.hpp"
#include "lyx/platform/activation.hpp"
#include "lyx/platform/events.hpp"
#include "lyx/ports/serial_ports.hpp"

namespace lyx::cli {

using dataprovider::IDataProvider;
using dataprovider::IDataProviderEvents;

class Network::Sink final : public platform::Implements<IDataProviderEvents> {
  public:
    explicit Sink(std::chrono::steady_clock::time_point started) : started_(started) {}

    std::vector<std::pair<int, PacketHandler>> handlers;

    void PacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                       std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV, bool &BattLow,
                       bool &Error) override {
        if (handlers.empty()) return;
        Packet p;
        p.time = std::chrono::system_clock::now();
        p.sinceStartMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - started_)
                             .count();
        p.station = BaseStation;
        p.tag = DataTag;
        p.value = Value;
        p.status = Status;
        p.rssi = RSSI;
        p.cv = CV;
        p.battLow = BattLow;
        p.error = Error;
        // A handler may add or remove handlers; walk a copy of the numbers.
        const auto current = handlers;
        for (const auto &[id, handler] : current)
            handler(p);
    }

  private:
    std::chrono::steady_clock::time_point started_;
};

LinkOptions LinkOptions::from(const Arguments &args) {
    LinkOptions link;
    if (args.has("--usb") && args.has("--port"))
        throw UsageError("--usb and --port exclude each other");
    if (auto port = args.value("--port"))
        link.port = static_cast<int>(parseInteger(*port, 1, 255, "--port"));
    if (auto baud = args.value("--baud")) {
        if (link.port == 0) throw UsageError("--baud needs --port");
        link.baud = static_cast<std::int32_t>(parseInteger(*baud, 50, 4000000, "--baud"));
    }
    return link;
}

std::string LinkOptions::describe() const {
    if (port == 0) return "USB";
    return "serial port COM" + std::to_string(port) + " at " + std::to_string(baud) + " baud";
}

void addLinkOptions(std::vector<OptionSpec> &options) {
    options.push_back({"--usb", "", "the USB base stations (the default)"});
    options.push_back({"--port", "N", "the serial base station on port N (COM<N>)"});
    options.push_back({"--baud", "RATE", "the serial port's baud rate (115200)"});
}

platform::Ref<IDataProvider> createComponent() {
    try {
        auto dp = platform::createInstance<IDataProvider>(dataprovider::kClassId);
        if (!dp) throw Failure(2, "the DataProvider component gave no interface");
        return dp;
    } catch (const platform::AutomationError &e) {
        if (e.number() == platform::errors::kClassNotRegistered)
            throw Failure(2,
                          "the DataProvider component is not registered; register it with "
                          "'lyx-regsvr <folder>/libLyxDataProviderCOM.so'");
        throw Failure(2, "cannot create the DataProvider component: " + e.description());
    }
}

Network::Network(const LinkOptions &link)
    : link_(link), dp_(createComponent()), started_(std::chrono::steady_clock::now()) {
    sink_ = platform::makeObject<Sink>(started_);
    auto events = dp_.query<platform::EventSource>();
    if (!events) throw Failure(2, "the DataProvider component raises no events");
    cookie_ = events->advise(IDataProviderEvents::iid, *sink_);
    const std::int16_t opened = dp_->Initialise(static_cast<std::int16_t>(link.port), link.baud);
    if (opened == 0) return;
    if (link.port != 0 && opened == -1)
        throw Failure(2, "serial port COM" + std::to_string(link.port) + " does not take " +
                             std::to_string(link.baud) + " baud");
    if (link.port != 0) throw Failure(2, diagnoseSerialPort(link.port));
    throw Failure(2, "cannot open the USB base stations (result " + std::to_string(opened) + ")");
}

Network::~Network() {
    if (sink_) sink_->handlers.clear();
    if (auto events = dp_.query<platform::EventSource>()) {
        try {
            events->unadvise(IDataProviderEvents::iid, cookie_);
        } catch (const platform::AutomationError &) {
        }
    }
    // Releasing the object closes its link.
    dp_.reset();
}

int Network::addPacketHandler(PacketHandler handler) {
    const int id = nextHandler_++;
    sink_->handlers.emplace_back(id, std::move(handler));
    return id;
}

void Network::removePacketHandler(int id) {
    auto &list = sink_->handlers;
    std::erase_if(list, [id](const auto &entry) { return entry.first == id; });
}

dataprovider::LinkStatistics Network::linkStatistics() {
    if (auto link = dp_.query<dataprovider::ILinkStatistics>()) return link->GetLinkStatistics();
    return {};
}

platform::Ref<dataprovider::IPairing> Network::pairing() {
    return dp_.query<dataprovider::IPairing>();
}

bool Network::stationOnLink(int station) {
    auto link = dp_.query<dataprovider::ILinkStatistics>();
    if (!link) return true;
    return station >= 0 && station < 32 && (link->GetLinkStatistics().stations >> station & 1u);
}

std::string describeLink(const dataprovider::LinkStatistics &s) {
    auto n = [](std::uint64_t v) { return std::to_string(v); };
    std::string text = "link: " + n(s.framesDelivered) + " packets delivered, ";
    if (s.framesDropped == 0 && s.bytesDropped == 0) {
        text += "none lost";
    } else {
        text += "LOST " + n(s.framesDropped) + " packets that waited too long";
        if (s.bytesDropped > 0) text += " and " + n(s.bytesDropped) + " received bytes";
    }
    if (s.bytesDiscarded > 0) text += "; " + n(s.bytesDiscarded) + " bytes of noise discarded";
    text += "; at most " + n(s.framesHeldMax) + " waited at once";
    return text;
}

std::int32_t Network::stationId(int station) {
    return dp_->BaseStationID(static_cast<std::uint8_t>(station));
}

void Network::requireStation(int station) {
    if (stationId(station) == 0)
        throw Failure(2, "no base station " + std::to_string(station) + " answers on " +
                             link_.describe() + " (RT_NOBASE)");
}

int Network::firstStation() {
    const int last = link_.port == 0 ? 3 : 1;
    for (int station = 1; station <= last; ++station)
        if (stationId(station) != 0) return station;
    return 0;
}

void Network::requireAnyStation() {
    if (firstStation() == 0)
        throw Failure(2, "no base station answers on " + link_.describe() + " (RT_NOBASE)");
}

std::string diagnoseSerialPort(int port) {
    return ports::serialPortProblem(port);
}

}  // namespace lyx::cli
