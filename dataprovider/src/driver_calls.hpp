// The two ways a DataProvider object reaches its driver: the direct path (the
// driver loaded by its plain name, linked with the component; instance 1) and
// the dynamic-call path (the object's private copy through cFuncCall; every
// other instance). Both call the same exports with the same arguments.
#pragma once

#include <cstdint>

#include "LyxDrv.h"
#include "func_call.hpp"

namespace lyx::dataprovider {

class DriverCalls {
  public:
    virtual ~DriverCalls() = default;
    virtual void INITIALISEMULTI(const std::intptr_t *callbackAddress, std::int32_t instance) = 0;
    virtual std::int32_t OPENPORT(std::int16_t port, std::int32_t baudRate) = 0;
    virtual std::int32_t OPENUSB() = 0;
    virtual std::int32_t CLOSEPORT() = 0;
    virtual std::int32_t WRITEPACKET(std::uint8_t address, const std::uint8_t *payload,
                                     std::int32_t length) = 0;
    virtual float VERSION() = 0;
    virtual std::int32_t BIND(std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                              std::int32_t mode, std::uint8_t duration, std::int32_t *id,
                              std::int32_t *dataTag) = 0;
    virtual std::int32_t BINDASYNC(std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                                   std::uint8_t mode, std::uint8_t duration) = 0;
    virtual std::int32_t BINDASYNCPOLL(std::int32_t *id, std::int32_t *dataTag) = 0;
    virtual std::int32_t READMODULE(std::uint8_t baseStation, std::uint8_t parameter,
                                    std::uint8_t *buffer, std::int32_t *length) = 0;
    virtual std::int32_t WRITEMODULE(std::uint8_t baseStation, std::uint8_t parameter,
                                     const std::uint8_t *data, std::int32_t length) = 0;
    virtual std::int32_t READREMOTE(std::uint8_t baseStation, std::int32_t id,
                                    std::uint8_t parameter, std::uint8_t *buffer,
                                    std::int32_t *length, std::int16_t *rssi,
                                    std::int16_t *linkQuality, std::int16_t *statusFlags) = 0;
    virtual std::int32_t WRITEREMOTE(std::uint8_t baseStation, std::int32_t id,
                                     std::uint8_t parameter, const std::uint8_t *data,
                                     std::int32_t length, std::int16_t *rssi,
                                     std::int16_t *linkQuality, std::int16_t *statusFlags) = 0;
    // The driver's extension; -1 when the driver does not have it.
    virtual std::int32_t LyxDrvGetLinkStatistics(LyxDrvLinkStatistics *statistics) = 0;
};

class DirectDriver final : public DriverCalls {
  public:
    void INITIALISEMULTI(const std::intptr_t *callbackAddress, std::int32_t instance) override;
    std::int32_t OPENPORT(std::int16_t port, std::int32_t baudRate) override;
    std::int32_t OPENUSB() override;
    std::int32_t CLOSEPORT() override;
    std::int32_t WRITEPACKET(std::uint8_t address, const std::uint8_t *payload,
                             std::int32_t length) override;
    float VERSION() override;
    std::int32_t BIND(std::uint8_t baseStation, std::uint8_t useRemoteSettings, std::int32_t mode,
                      std::uint8_t duration, std::int32_t *id, std::int32_t *dataTag) override;
    std::int32_t BINDASYNC(std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                           std::uint8_t mode, std::uint8_t duration) override;
    std::int32_t BINDASYNCPOLL(std::int32_t *id, std::int32_t *dataTag) override;
    std::int32_t READMODULE(std::uint8_t baseStation, std::uint8_t parameter, std::uint8_t *buffer,
                            std::int32_t *length) override;
    std::int32_t WRITEMODULE(std::uint8_t baseStation, std::uint8_t parameter,
                             const std::uint8_t *data, std::int32_t length) override;
    std::int32_t READREMOTE(std::uint8_t baseStation, std::int32_t id, std::uint8_t parameter,
                            std::uint8_t *buffer, std::int32_t *length, std::int16_t *rssi,
                            std::int16_t *linkQuality, std::int16_t *statusFlags) override;
    std::int32_t WRITEREMOTE(std::uint8_t baseStation, std::int32_t id, std::uint8_t parameter,
                             const std::uint8_t *data, std::int32_t length, std::int16_t *rssi,
                             std::int16_t *linkQuality, std::int16_t *statusFlags) override;
    std::int32_t LyxDrvGetLinkStatistics(LyxDrvLinkStatistics *statistics) override;
};

// Each call is a FunctionName put and a CallFunction on the object's cFuncCall;
// a call the loader cannot make returns 0.
class DynamicDriver final : public DriverCalls {
  public:
    explicit DynamicDriver(cFuncCall &call) : call_(call) {}
    void INITIALISEMULTI(const std::intptr_t *callbackAddress, std::int32_t instance) override;
    std::int32_t OPENPORT(std::int16_t port, std::int32_t baudRate) override;
    std::int32_t OPENUSB() override;
    std::int32_t CLOSEPORT() override;
    std::int32_t WRITEPACKET(std::uint8_t address, const std::uint8_t *payload,
                             std::int32_t length) override;
    float VERSION() override;
    std::int32_t BIND(std::uint8_t baseStation, std::uint8_t useRemoteSettings, std::int32_t mode,
                      std::uint8_t duration, std::int32_t *id, std::int32_t *dataTag) override;
    std::int32_t BINDASYNC(std::uint8_t baseStation, std::uint8_t useRemoteSettings,
                           std::uint8_t mode, std::uint8_t duration) override;
    std::int32_t BINDASYNCPOLL(std::int32_t *id, std::int32_t *dataTag) override;
    std::int32_t READMODULE(std::uint8_t baseStation, std::uint8_t parameter, std::uint8_t *buffer,
                            std::int32_t *length) override;
    std::int32_t WRITEMODULE(std::uint8_t baseStation, std::uint8_t parameter,
                             const std::uint8_t *data, std::int32_t length) override;
    std::int32_t READREMOTE(std::uint8_t baseStation, std::int32_t id, std::uint8_t parameter,
                            std::uint8_t *buffer, std::int32_t *length, std::int16_t *rssi,
                            std::int16_t *linkQuality, std::int16_t *statusFlags) override;
    std::int32_t WRITEREMOTE(std::uint8_t baseStation, std::int32_t id, std::uint8_t parameter,
                             const std::uint8_t *data, std::int32_t length, std::int16_t *rssi,
                             std::int16_t *linkQuality, std::int16_t *statusFlags) override;
    std::int32_t LyxDrvGetLinkStatistics(LyxDrvLinkStatistics *statistics) override;

  private:
    platform::Variant call(const char *name, std::vector<platform::Variant> arguments);
    cFuncCall &call_;
};

}  // namespace lyx::dataprovider
