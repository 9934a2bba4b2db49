// The command exports: pairing, and reading and writing base-station and
// remote parameters. Each is one request/reply exchange; results are the
// driver's codes (0 done, 1 no reply, 2 no answer from the device, 3 refused,
// 4 value refused, 99 busy delivering a frame).
#pragma once

#include <cstdint>

#include "driver.hpp"

namespace lyx::drv {

inline constexpr std::int32_t kAck = 0;
inline constexpr std::int32_t kNoBase = 1;
inline constexpr std::int32_t kNoResponse = 2;
inline constexpr std::int32_t kNak = 3;
inline constexpr std::int32_t kInvalidData = 4;
inline constexpr std::int32_t kBusy = 99;

// Signal outputs of the remote exports; null pointers are skipped.
struct SignalOutputs {
    std::int16_t *rssi = nullptr;
    std::int16_t *linkQuality = nullptr;
    std::int16_t *statusFlags = nullptr;
};

std::int32_t bind(Driver &d, std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                  std::int32_t mode, std::uint8_t duration, std::int32_t *id,
                  std::int32_t *dataTag);
std::int32_t bindAsync(Driver &d, std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                       std::uint8_t mode, std::uint8_t duration);
std::int32_t bindAsyncPoll(Driver &d, std::int32_t *id, std::int32_t *dataTag);

std::int32_t readModule(Driver &d, std::uint8_t baseStation, std::uint8_t parameter,
                        std::uint8_t *buffer, std::int32_t *length);
std::int32_t writeModule(Driver &d, std::uint8_t baseStation, std::uint8_t parameter,
                         const std::uint8_t *data, std::int32_t length);

// Remote reads and writes. `remoteModule` selects the radio-module commands
// (11/12, replies 13-16) instead of the device commands (5/6, replies 7-10).
std::int32_t readRemote(Driver &d, bool remoteModule, std::uint8_t baseStation, std::int32_t id,
                        std::uint8_t parameter, std::uint8_t *buffer, std::int32_t *length,
                        SignalOutputs signal);
std::int32_t writeRemote(Driver &d, bool remoteModule, std::uint8_t baseStation, std::int32_t id,
                         std::uint8_t parameter, const std::uint8_t *data, std::int32_t length,
                         SignalOutputs signal);

}  // namespace lyx::drv
