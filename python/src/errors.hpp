// lyx.AutomationError: the component's automation errors in Python, with their
// number (the HRESULT as an unsigned 32-bit number, 0x800403EB) and description.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

namespace lyx::python {

namespace py = pybind11;

// RPC_E_WRONG_THREAD: an object called from a thread that does not own it.
inline constexpr std::uint32_t kWrongThread = 0x8001010E;

// Defines lyx.AutomationError in `m` and translates lyx::platform::AutomationError
// raised by the component into it.
void bindErrors(py::module_ &m);

// Raises lyx.AutomationError(number, description) as a Python error.
[[noreturn]] void throwAutomationError(std::int32_t number, const std::string &description);

}  // namespace lyx::python
