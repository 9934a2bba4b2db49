#include "driver_pc.hpp"

#include <cstdlib>

#include "LyxDrv.h"
#include "lyx/platform/messages.hpp"

namespace lyx::sim::testing {

namespace {

// The driver calls back with plain C; the frames go to this one list (one
// DriverPc at a time, on the test thread).
std::vector<Bytes> delivered;

void onFrame(const std::uint8_t **frame, std::int32_t *length, std::int32_t *) {
    delivered.emplace_back(*frame, *frame + *length);
}

}  // namespace

DriverPc::DriverPc() {
    CLOSEPORT();
    static const intptr_t callback = reinterpret_cast<intptr_t>(&onFrame);
    INITIALISEMULTI(&callback, 1);
    CLRBUFFERS();
    delivered.clear();
}

DriverPc::~DriverPc() {
    close();
    INITIALISEMULTI(nullptr, 0);
    delivered.clear();
}

bool DriverPc::openUsb(const std::string &folder) {
    ::setenv("LYX_VHID_DIR", folder.c_str(), 1);
    return OPENUSB() == 0;
}

bool DriverPc::openSerial(const std::string &portFolder, int number) {
    ::unsetenv("LYX_VHID_DIR");
    ::setenv("LYX_PORT_DIR", portFolder.c_str(), 1);
    return OPENPORT(static_cast<std::int16_t>(number), 115200) == 0;
}

void DriverPc::close() {
    CLOSEPORT();
    platform::pumpMessages();
    ::unsetenv("LYX_VHID_DIR");
    ::unsetenv("LYX_PORT_DIR");
}

void DriverPc::send(std::uint8_t station, const Bytes &payload) {
    WRITEPACKET(station, payload.data(), static_cast<std::int32_t>(payload.size()));
}

bool DriverPc::pumpUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (platform::waitForMessages(static_cast<int>(std::min<long long>(left.count(), 50)))) {
            platform::pumpMessages();
        }
    }
    return true;
}

std::optional<Bytes> DriverPc::waitFrame(const std::function<bool(const Bytes &)> &match,
                                         std::chrono::milliseconds timeout) {
    std::size_t checked = 0;
    std::optional<Bytes> found;
    pumpUntil(
        [&] {
            for (; checked < delivered.size(); ++checked) {
                if (match(delivered[checked])) {
                    found = delivered[checked];
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

const std::vector<Bytes> &DriverPc::frames() const {
    return delivered;
}

void DriverPc::clear() {
    delivered.clear();
}

bool isData(const Bytes &frame, std::uint16_t tag) {
    return frame.size() >= 12 && (frame[3] & 0x1F) == 3 && frame[4] == (tag >> 8) &&
           frame[5] == (tag & 0xFF);
}

bool hasCode(const Bytes &frame, std::uint8_t code) {
    return frame.size() >= 6 && (frame[3] & 0x1F) == code;
}

}  // namespace lyx::sim::testing
