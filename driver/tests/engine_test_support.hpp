// Fixture for driving the receive engine through the exports, with an
// in-memory transport playing the base station and the test thread as the
// thread that opens the link.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "LyxDrv.h"
#include "driver.hpp"
#include "lyx/link/frame.hpp"
#include "ports/memory_transport.hpp"

namespace lyx::drv::testing {

using link::Bytes;
using namespace std::chrono_literals;

// What the frame callbacks saw.
struct Received {
    Bytes frame;
    std::int32_t length = 0;
    std::int32_t instance = -1;  // -1: two-argument form
    std::int32_t thread = 0;
};

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens a link on the test thread: in USB mode the ring's overflow rule
    // applies to appends, in serial mode appends wait for room.
    void open(bool usb = true);
    // The frame that base station `address` sends with `payload`.
    static Bytes frame(std::uint8_t address, std::initializer_list<std::uint8_t> payload);
    void inject(const Bytes &bytes) { ASSERT_TRUE(transport->inject(bytes)); }

    // Pumps the test thread's messages until `done` holds or `timeout` passed.
    bool pumpUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = 5s);
    // Waits (without pumping) until the processor has taken everything it can.
    bool waitIdle(std::chrono::milliseconds timeout = 5s);
    // GETNEXTPACKET as a byte vector; nullopt for NULL.
    static std::optional<Bytes> nextPacket();

    static void useCallback2();
    static void useCallback3(std::int32_t instance);

    std::shared_ptr<MemoryTransport> transport;
    Driver &d = driver();

  public:
    // Shared with the plain C callbacks.
    static std::vector<Received> received;
    static std::function<void(const Received &)> onFrame;
};

}  // namespace lyx::drv::testing
