#include "lyx/platform/automation_error.hpp"

namespace lyx::platform {

AutomationError::AutomationError(std::int32_t number, const std::string &description)
    : std::runtime_error(description), number_(number) {}

// Out of line, so that the type's identity lives in this library alone and an
// error thrown in a component is caught as this type by its clients.
AutomationError::~AutomationError() = default;

}  // namespace lyx::platform
