// The class factory of DataProvider, and the component's registry entry.
#pragma once

#include <cstdint>
#include <string>

#include "lyx/platform/activation.hpp"
#include "lyx/platform/class_registry.hpp"

namespace lyx::dataprovider {

// A factory with one reference for the caller.
platform::Ref<platform::ClassFactory> makeClassFactory();

// The registry entry of DataProvider served by the library at `libraryPath`.
platform::ClassEntry registryEntry(const std::string &libraryPath);

}  // namespace lyx::dataprovider
