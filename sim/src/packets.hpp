// The payloads a base station and its modules exchange with the PC, as pure
// functions: built from fields, parsed from bytes. Framing (length, address,
// CRC) is lyx/link/frame.hpp's job.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "lyx/sim/module_config.hpp"

namespace lyx::sim::packets {

// Type codes (low five bits of the payload's first byte).
inline constexpr std::uint8_t kBroadcast = 0;
inline constexpr std::uint8_t kDataProvider = 3;
inline constexpr std::uint8_t kRemoteRead = 5;
inline constexpr std::uint8_t kRemoteWrite = 6;
inline constexpr std::uint8_t kRemoteReplies = 7;  // 7 to 10
inline constexpr std::uint8_t kRadioRead = 11;
inline constexpr std::uint8_t kRadioWrite = 12;
inline constexpr std::uint8_t kRadioReplies = 13;  // 13 to 16
inline constexpr std::uint8_t kBindRequest = 19;
inline constexpr std::uint8_t kBindReply = 20;
inline constexpr std::uint8_t kStationRead = 21;
inline constexpr std::uint8_t kStationWrite = 22;
inline constexpr std::uint8_t kStationDone = 23;
inline constexpr std::uint8_t kStationRefused = 24;

// Commands carried by interface-type data packets.
inline constexpr std::uint8_t kSleep = 1;
inline constexpr std::uint8_t kPause = 2;
inline constexpr std::uint8_t kStayAwake = 3;

// Replies to remote requests, as offsets from 7 (remote) or 13 (radio module).
enum class Reply : std::uint8_t { Done = 0, Refused = 1, NoAnswer = 2, ValueRefused = 3 };

struct DataPacket {
    std::uint16_t tag = 0;
    std::uint8_t status = 0;
    DataType type = DataType::None;
    Bytes value;
    std::uint8_t signal = 0;       // signal byte (see signalByte)
    std::uint8_t linkQuality = 0;  // the byte as sent
    bool batteryLow = false;
    bool error = false;
};

// 3 with battery low in bit 6 and error in bit 7, tag high and low, status, type,
// value, signal byte, link quality.
Bytes dataPayload(const DataPacket &packet);

// The signal byte that a receiver reads back as `dbm` (it subtracts 45 from the
// byte read as signed), clamped to what a byte can say.
std::uint8_t signalByte(int dbm);

// Reply flags in the upper three bits: 0x20 configuration mode, 0x40 battery
// low, 0x80 error.
std::uint8_t replyFlags(bool configurationMode, bool batteryLow, bool error);

// The value bytes a module sends for `reading` (layout Value).
Bytes valueBytes(const ModuleConfig &module, double reading);
// Record layout: 117 bytes, see module_config.hpp. `seconds` since power-up,
// `span` the send period over which the readings are spread.
Bytes recordValue(const Waveform &wave, double seconds, double span, std::uint8_t sequence);
// Store-and-forward layout: 42 bytes, see module_config.hpp.
Bytes storeForwardBlock(const Waveform &wave, double seconds, double span);

struct RemoteRequest {
    std::uint32_t id = 0;
    std::uint8_t parameter = 0;
    bool write = false;
    bool radio = false;                  // 11 / 12: the module's radio parameters
    std::span<const std::uint8_t> data;  // the typed value written
};
// Codes 5, 6, 11, 12 with ID and parameter; nullopt for anything else.
std::optional<RemoteRequest> parseRemoteRequest(std::span<const std::uint8_t> payload);
// Reply code (with flags), ID, data, signal byte, link quality.
Bytes remoteReply(bool radio, Reply reply, std::uint8_t flags, std::uint32_t id,
                  std::span<const std::uint8_t> data, std::uint8_t signal,
                  std::uint8_t linkQuality);

struct BindRequest {
    std::uint8_t useRemoteSettings = 0;
    std::uint8_t mode = 0;
    std::uint8_t seconds = 2;  // 0 in the request is taken as 2
};
std::optional<BindRequest> parseBindRequest(std::span<const std::uint8_t> payload);
Bytes bindReply(std::uint32_t id, std::uint16_t tag);

struct Command {
    std::uint16_t tag = 0;
    std::uint8_t command = 0;
};
// An interface-type data packet with its command byte; nullopt for others.
std::optional<Command> parseCommand(std::span<const std::uint8_t> payload);

}  // namespace lyx::sim::packets
