// A small component for the activation tests: class Counter, served by the
// module library lyx_test_server.
#pragma once

#include <cstdint>
#include <string>

#include "lyx/platform/dispatch.hpp"

namespace lyx::testserver {

using platform::guid;

inline constexpr platform::Guid kCounterClass = guid("{0C1A55E5-0000-4000-8000-00000000C0DE}");
inline constexpr platform::Guid kTypeLibrary = guid("{0C1A55E5-0000-4000-8000-0000000071B0}");
inline constexpr const char *kCounterProgId = "LyxTest.Counter";

class ICounter : public platform::Dispatch {
  public:
    static constexpr platform::Guid iid = guid("{0C1A55E5-0000-4000-8000-00000000FACE}");
    using Base = platform::Dispatch;

    virtual std::int32_t Add(std::int32_t amount) = 0;
    virtual std::int32_t get_Total() = 0;
    virtual void put_Total(std::int32_t value) = 0;

  protected:
    ~ICounter() = default;
};

// An interface no class implements.
class INothing : public platform::Unknown {
  public:
    static constexpr platform::Guid iid = guid("{0C1A55E5-0000-4000-8000-000000000000}");
    using Base = platform::Unknown;
};

}  // namespace lyx::testserver
