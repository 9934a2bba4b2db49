// The network as the tool sees it: one DataProvider object, created through
// activation like any other client's, its link opened on USB or a serial
// port, and its packets handed to a callback while the thread dispatches its
// messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "lyx/dataprovider/data_provider.hpp"
#include "packet.hpp"

namespace lyx::cli {

class Arguments;
struct OptionSpec;

// A failure that ends the program with `status`: 2 for a missing component, no
// base station or a serial port that cannot be used; 1 for a request refused
// or not answered.
class Failure : public std::runtime_error {
  public:
    Failure(int status, const std::string &message)
        : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

  private:
    int status_;
};

struct LinkOptions {
    int port = 0;  // 0: the USB base stations
    std::int32_t baud = 115200;

    static LinkOptions from(const Arguments &args);
    std::string describe() const;  // "USB" or "serial port COM5 at 115200 baud"
};

// --usb, --port N, --baud RATE.
void addLinkOptions(std::vector<OptionSpec> &options);

// The component, created through activation; raises Failure(2) with a message
// saying what to do when it is not registered or cannot be loaded.
platform::Ref<dataprovider::IDataProvider> createComponent();

class Network {
  public:
    using PacketHandler = std::function<void(const Packet &)>;

    // Creates the component and opens the link; raises Failure(2) when the
    // serial port is missing, busy, not permitted or rejects the baud rate.
    explicit Network(const LinkOptions &link);
    ~Network();
    Network(const Network &) = delete;
    Network &operator=(const Network &) = delete;

    dataprovider::IDataProvider &dp() { return *dp_; }
    const LinkOptions &link() const { return link_; }

    // Every PacketArrived from now on, on this thread while it dispatches, to
    // each handler in the order they were added. The number removes it again.
    int addPacketHandler(PacketHandler handler);
    void removePacketHandler(int id);

    // The base station's ID, or 0 when it does not answer.
    std::int32_t stationId(int station);
    // Raises Failure(2) "no base station N answers on LINK" unless it answers.
    void requireStation(int station);
    // The first base station that answers (1 to 3 on USB, 1 on a serial
    // port), or 0 when none does.
    int firstStation();
    // Raises Failure(2) unless some base station answers.
    void requireAnyStation();
    // Whether base station `station` is on the link now (a USB slot holding a working
    // device, or the open serial port), as the driver counts it; true when the component
    // does not say.
    bool stationOnLink(int station);

    std::chrono::steady_clock::time_point started() const { return started_; }

    // The link's counters (all zero when the component does not give them).
    dataprovider::LinkStatistics linkStatistics();
    // Pairing that lets packets through while it waits; null when the component has none.
    platform::Ref<dataprovider::IPairing> pairing();

  private:
    class Sink;
    LinkOptions link_;
    platform::Ref<dataprovider::IDataProvider> dp_;
    platform::Ref<Sink> sink_;
    std::uint32_t cookie_ = 0;
    int nextHandler_ = 1;
    std::chrono::steady_clock::time_point started_;
};

// One line about what the link delivered and lost, for the closing summaries:
// "link: 1200 packets delivered, none lost" or with the losses named.
std::string describeLink(const dataprovider::LinkStatistics &s);

// What stands in the way of using serial port `port`, for the message when the
// driver could not open it: the device path and "does not exist", "is in use by another
// program", "permission denied" (with the device's group), "is not a serial device".
std::string diagnoseSerialPort(int port);

}  // namespace lyx::cli
