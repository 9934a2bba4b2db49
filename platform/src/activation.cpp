// Activation of registered classes. Component libraries stay loaded once
// loaded, like the loaded-server table of the system this stands in for, until
// freeUnusedLibraries finds that they can go.

#include "lyx/platform/activation.hpp"

#include <map>
#include <memory>
#include <mutex>

#include "lyx/platform/class_registry.hpp"
#include "lyx/platform/library.hpp"

namespace lyx::platform {
namespace {

struct Server {
    DynamicLibrary library;
    DllGetClassObjectFunction getClassObject = nullptr;
    DllCanUnloadNowFunction canUnloadNow = nullptr;
};

class ServerTable {
  public:
    // The class factory of `classId` from the library at `path`.
    Ref<ClassFactory> factory(const std::string &path, const Guid &classId) {
        std::lock_guard guard(lock_);
        Server &server = load(path);
        void *object = nullptr;
        std::int32_t result = server.getClassObject(&classId, &ClassFactory::iid, &object);
        if (result != errors::kOk || object == nullptr) {
            throw AutomationError(
                result != errors::kOk ? result : errors::kClassNotAvailable,
                "The library " + path + " cannot supply the class " + toString(classId));
        }
        return Ref<ClassFactory>::adopt(static_cast<ClassFactory *>(object));
    }

    void freeUnused() {
        std::lock_guard guard(lock_);
        for (auto it = servers_.begin(); it != servers_.end();) {
            auto &server = *it->second;
            if (server.canUnloadNow != nullptr && server.canUnloadNow() == errors::kOk) {
                it = servers_.erase(it);
            } else {
                ++it;
            }
        }
    }

  private:
    Server &load(const std::string &path) {
        auto found = servers_.find(path);
        if (found != servers_.end()) return *found->second;
        auto server = std::make_unique<Server>();
        if (!server->library.open(path)) {
            throw AutomationError(
                errors::kModuleNotFound,
                "The specified module could not be found: " + server->library.error());
        }
        server->getClassObject =
            server->library.function<DllGetClassObjectFunction>("DllGetClassObject");
        server->canUnloadNow = server->library.function<DllCanUnloadNowFunction>("DllCanUnloadNow");
        if (server->getClassObject == nullptr) {
            throw AutomationError(errors::kErrorInDll,
                                  "Error in the DLL: " + path + " exports no DllGetClassObject");
        }
        return *servers_.emplace(path, std::move(server)).first->second;
    }

    std::mutex lock_;
    std::map<std::string, std::unique_ptr<Server>> servers_;
};

// Never destroyed: objects that outlive main must not find their library gone.
ServerTable &servers() {
    static auto *table = new ServerTable;
    return *table;
}

}  // namespace

void *createInstance(const Guid &classId, const Guid &iid) {
    auto entry = findClass(classId);
    if (!entry) {
        throw AutomationError(errors::kClassNotRegistered,
                              "Class not registered: " + toString(classId) + " has no entry in " +
                                  describeClassRegistrySearch());
    }
    Ref<ClassFactory> factory = servers().factory(entry->library, classId);
    void *object = factory->createInstance(iid);
    if (object == nullptr) {
        throw AutomationError(
            errors::kNoInterface,
            "No such interface supported: " + toString(iid) + " of class " + toString(classId));
    }
    return object;
}

Guid classIdFromProgId(std::string_view progId) {
    auto entry = findClassByProgId(progId);
    if (!entry) {
        throw AutomationError(errors::kInvalidClassString,
                              "Invalid class string: no class is registered as \"" +
                                  std::string(progId) + "\" in " + describeClassRegistrySearch());
    }
    return entry->classId;
}

void freeUnusedLibraries() {
    servers().freeUnused();
}

}  // namespace lyx::platform
