// The component's four exports, with C linkage; nothing else of the library is
// visible (LyxDataProviderCOM.map).

#include <dlfcn.h>

#include <climits>
#include <cstdlib>

#include "class_factory.hpp"
#include "live_objects.hpp"
#include "lyx/dataprovider/data_provider.hpp"

using namespace lyx;
namespace errors = platform::errors;

#define LYX_DATAPROVIDER_API extern "C" __attribute__((visibility("default")))

namespace {

// The absolute path of this library, as the registry records it.
std::string libraryPath() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void *>(&libraryPath), &info) == 0 || info.dli_fname == nullptr)
        return {};
    char resolved[PATH_MAX];
    return ::realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
}

}  // namespace

LYX_DATAPROVIDER_API std::int32_t DllGetClassObject(const platform::Guid *classId,
                                                    const platform::Guid *iid, void **object) {
    if (object == nullptr || classId == nullptr || iid == nullptr) return errors::kPointer;
    *object = nullptr;
    if (*classId != dataprovider::kClassId) return errors::kClassNotAvailable;
    try {
        *object = dataprovider::makeClassFactory()->queryInterface(*iid);
    } catch (...) {
        return errors::kOutOfMemory;
    }
    return *object != nullptr ? errors::kOk : errors::kNoInterface;
}

LYX_DATAPROVIDER_API std::int32_t DllCanUnloadNow() {
    return dataprovider::canUnloadNow() ? errors::kOk : errors::kFalse;
}

LYX_DATAPROVIDER_API std::int32_t DllRegisterServer() {
    try {
        std::string path = libraryPath();
        if (path.empty()) return errors::kSelfRegClass;
        platform::registerClass(dataprovider::registryEntry(path));
        return errors::kOk;
    } catch (const platform::AutomationError &e) {
        return e.number();
    } catch (...) {
        return errors::kSelfRegClass;
    }
}

LYX_DATAPROVIDER_API std::int32_t DllUnregisterServer() {
    try {
        platform::unregisterClass(dataprovider::kClassId);
        return errors::kOk;
    } catch (const platform::AutomationError &e) {
        return e.number();
    } catch (...) {
        return errors::kSelfRegClass;
    }
}
