#include "lyx/platform/library.hpp"

#include <dlfcn.h>

#include <utility>

namespace lyx::platform {

DynamicLibrary::~DynamicLibrary() {
    close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary &&other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool DynamicLibrary::open(const std::string &path) {
    close();
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char *text = ::dlerror();
        error_ = text != nullptr ? text : "cannot load " + path;
        return false;
    }
    error_.clear();
    return true;
}

void DynamicLibrary::close() {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}

void *DynamicLibrary::symbol(const char *name) {
    if (handle_ == nullptr) {
        error_ = "no library loaded";
        return nullptr;
    }
    ::dlerror();
    void *address = ::dlsym(handle_, name);
    if (address == nullptr) {
        const char *text = ::dlerror();
        error_ = text != nullptr ? text : std::string("no symbol ") + name;
    }
    return address;
}

}  // namespace lyx::platform
