// A dynamically loaded library: dlopen with RTLD_NOW | RTLD_LOCAL, so that each
// loaded file (for example each private copy of the driver) keeps its own state.
#pragma once

#include <string>

#include "LyxPlatform.h"

namespace lyx::platform {

class LYX_PLATFORM_API DynamicLibrary {
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary &&other) noexcept;
    DynamicLibrary &operator=(DynamicLibrary &&other) noexcept;
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;

    // Loads `path` after unloading what was loaded; false with error() set on failure.
    bool open(const std::string &path);
    void close();
    bool isOpen() const { return handle_ != nullptr; }

    // The address of an exported symbol, or null with error() set.
    void *symbol(const char *name);

    template <class Function>
    Function function(const char *name) {
        return reinterpret_cast<Function>(symbol(name));
    }

    // The loader's text for the last failure.
    const std::string &error() const { return error_; }

  private:
    void *handle_ = nullptr;
    std::string error_;
};

}  // namespace lyx::platform
