// A program of one's own against the installed package: built with the installed headers and
// pkg-config files only, it creates the DataProvider component by its programmatic identifier
// (the system registry names the library), opens the USB base stations and waits for one
// PacketArrived event of the data tag given.
//
//   progid_client <data tag> <seconds>
//
// Prints "tag <n> value <text>" and exits 0 on the first packet of the tag; 1 when none
// arrived in time or the component failed, with its error.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/platform/activation.hpp"
#include "lyx/platform/events.hpp"
#include "lyx/platform/messages.hpp"
#include "lyx/platform/unknown.hpp"

using namespace lyx;

namespace {

class FirstPacket final : public platform::Implements<dataprovider::IDataProviderEvents> {
  public:
    explicit FirstPacket(std::int32_t tag) : tag_(tag) {}

    void PacketArrived(std::uint8_t &, std::int32_t &DataTag, std::string &Value, std::uint8_t &,
                       std::int16_t &, std::int16_t &, bool &, bool &) override {
        if (DataTag == tag_ && !seen) {
            seen = true;
            value = Value;
        }
    }

    bool seen = false;
    std::string value;

  private:
    std::int32_t tag_;
};

}  // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: progid_client <data tag> <seconds>\n");
        return 2;
    }
    const std::int32_t tag = std::atoi(argv[1]);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[2]));
    try {
        auto dp = platform::createObject<dataprovider::IDataProvider>(dataprovider::kProgId);
        auto sink = platform::makeObject<FirstPacket>(tag);
        auto cookie = dp.query<platform::EventSource>()->advise(
            dataprovider::IDataProviderEvents::iid, *sink);
        if (std::int16_t opened = dp->Initialise(0, 0); opened != 0) {
            std::fprintf(stderr, "progid_client: Initialise(0, 0) gave %d\n", opened);
            return 1;
        }
        while (!sink->seen && std::chrono::steady_clock::now() < deadline) {
            if (platform::waitForMessages(200)) platform::pumpMessages();
        }
        dp->Terminate();
        dp.query<platform::EventSource>()->unadvise(dataprovider::IDataProviderEvents::iid, cookie);
        if (!sink->seen) {
            std::fprintf(stderr, "progid_client: no packet of tag %d arrived\n", tag);
            return 1;
        }
        std::printf("tag %d value %s\n", tag, sink->value.c_str());
        return 0;
    } catch (const platform::AutomationError &e) {
        std::fprintf(stderr, "progid_client: error 0x%08X: %s\n", static_cast<unsigned>(e.number()),
                     e.description().c_str());
        return 1;
    }
}
