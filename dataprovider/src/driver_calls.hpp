// The two ways a DataProvider object reaches its driver: the direct path (the
// driver loaded by its plain name, linked with the component; instance 1) and
// the dynamic-call path (the object's private copy through cFuncCall; every
// other instance). Both call the same exports with the same arguments.
#pragma once

#include <cstdint>

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

  private:
    platform::Variant call(const char *name, std::vector<platform::Variant> arguments);
    cFuncCall &call_;
};

}  // namespace lyx::dataprovider
