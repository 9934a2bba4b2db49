// Activation: creating an object of a registered class by class identifier or
// programmatic identifier. The registry names the library; it is loaded once
// (dlopen, RTLD_NOW | RTLD_LOCAL), asked for its class factory through
// DllGetClassObject, and the factory makes the object.
//
// A component library exports, with C linkage:
//   int32_t DllGetClassObject(const Guid *classId, const Guid *iid, void **object);
//   int32_t DllCanUnloadNow(void);      0 when no object of it is alive, else 1
//   int32_t DllRegisterServer(void);    writes its registry entry, 0 on success
//   int32_t DllUnregisterServer(void);  removes it
#pragma once

#include <cstdint>
#include <string_view>

#include "LyxPlatform.h"
#include "lyx/platform/automation_error.hpp"
#include "lyx/platform/guid.hpp"
#include "lyx/platform/unknown.hpp"

namespace lyx::platform {

class ClassFactory : public Unknown {
  public:
    static constexpr Guid iid = guid("{00000001-0000-0000-C000-000000000046}");
    using Base = Unknown;

    // A new object's interface `id` with one reference for the caller; raises
    // AutomationError when the object cannot be made.
    virtual void *createInstance(const Guid &id) = 0;
    // Keeps the library loaded while locked.
    virtual void lockServer(bool lock) noexcept = 0;

  protected:
    ~ClassFactory() = default;
};

using DllGetClassObjectFunction = std::int32_t (*)(const Guid *classId, const Guid *iid,
                                                   void **object);
using DllCanUnloadNowFunction = std::int32_t (*)();
using DllRegisterServerFunction = std::int32_t (*)();

// A new object of class `classId` as its interface `iid`, one reference for the
// caller. Raises AutomationError with a description for every failure: class
// not registered, library missing or not loadable, no class factory, interface
// not supported, or the object's own error.
LYX_PLATFORM_API void *createInstance(const Guid &classId, const Guid &iid);

template <class I>
Ref<I> createInstance(const Guid &classId) {
    return Ref<I>::adopt(static_cast<I *>(createInstance(classId, I::iid)));
}

// The class registered under `progId`; raises kInvalidClassString when none is.
LYX_PLATFORM_API Guid classIdFromProgId(std::string_view progId);

// By programmatic identifier, or by class identifier written as text.
template <class I>
Ref<I> createObject(std::string_view progIdOrClassId) {
    auto id = parseGuid(progIdOrClassId);
    return createInstance<I>(id ? *id : classIdFromProgId(progIdOrClassId));
}

// Unloads the component libraries that say they can be unloaded.
LYX_PLATFORM_API void freeUnusedLibraries();

}  // namespace lyx::platform
