#include "class_factory.hpp"

#include "data_provider.hpp"
#include "live_objects.hpp"
#include "type_library.hpp"

namespace lyx::dataprovider {
namespace {

class Factory final : public platform::Implements<platform::ClassFactory> {
  public:
    void *createInstance(const platform::Guid &id) override {
        platform::Ref<DataProvider> object = DataProvider::create();
        return object->queryInterface(id);
    }
    void lockServer(bool lock) noexcept override { dataprovider::lockServer(lock); }

  private:
    LiveObject live_;
};

}  // namespace

platform::Ref<platform::ClassFactory> makeClassFactory() {
    return platform::makeObject<Factory>();
}

platform::ClassEntry registryEntry(const std::string &libraryPath) {
    return {kClassId, libraryPath, kProgId, kTypeLibraryId,
            std::to_string(kTypeLibrary.majorVersion) + "." +
                std::to_string(kTypeLibrary.minorVersion)};
}

}  // namespace lyx::dataprovider
