// Minimal PC sides that read and write the raw link, for tests that check
// bytes on the wire without the driver in between.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "lyx/link/frame.hpp"

namespace lyx::sim::testing {

// A connection to a device on the virtual HID bus.
class VhidClient {
  public:
    explicit VhidClient(const std::string &socketPath);
    ~VhidClient();
    bool ok() const { return fd_ >= 0; }
    const std::string &identity() const { return identity_; }
    // One output report carrying `frame` (up to 64 bytes).
    bool send(const link::Bytes &frame);
    // The next input report's 64 data bytes, or nullopt after `timeout`.
    std::optional<link::Bytes> report(std::chrono::milliseconds timeout);
    // Reads reports until a frame with type code `code` shows up in them.
    std::optional<link::Bytes> frameWithCode(std::uint8_t code, std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
    std::string identity_;
    link::Bytes stream_;
};

// The terminal side of a pseudo-terminal, opened as a serial port is.
class SerialClient {
  public:
    explicit SerialClient(const std::string &device);
    ~SerialClient();
    bool ok() const { return fd_ >= 0; }
    bool send(const link::Bytes &frame);
    std::optional<link::Bytes> frameWithCode(std::uint8_t code, std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
    link::Bytes stream_;
};

// Takes whole frames out of the front of `stream` (skipping what is not a
// frame) until one of type code `code` is found.
std::optional<link::Bytes> takeFrameWithCode(link::Bytes &stream, std::uint8_t code);

}  // namespace lyx::sim::testing
