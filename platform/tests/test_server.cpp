// The test component: one class, Counter, with a member table, registration
// and a creation that fails on request (total set to -1 through the
// environment variable LYX_TEST_COUNTER_FAIL).

#include "test_server.hpp"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>

#include "lyx/platform/activation.hpp"
#include "lyx/platform/class_registry.hpp"

using namespace lyx::platform;
using lyx::testserver::ICounter;

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<int> liveObjects{0};

constexpr ParamDesc kAddParams[] = {{"Amount", VarType::Int32}};
constexpr ParamDesc kTotalPut[] = {{"Value", VarType::Int32}};
constexpr MemberDesc kMembers[] = {
    {1, "Add", MemberKind::Method, kAddParams, VarType::Int32, {}, "Adds to the total."},
    {2, "Total", MemberKind::PropertyGet, {}, VarType::Int32, {}, "The total."},
    {2, "Total", MemberKind::PropertyPut, kTotalPut, VarType::Empty, {}, "The total."},
};
constexpr InterfaceDesc kCounterInterface{"_Counter", ICounter::iid, kMembers};

class Counter final : public Implements<ICounter> {
  public:
    Counter() { ++liveObjects; }
    ~Counter() override { --liveObjects; }

    std::int32_t Add(std::int32_t amount) override { return total_ += amount; }
    std::int32_t get_Total() override { return total_; }
    void put_Total(std::int32_t value) override { total_ = value; }

    const InterfaceDesc &typeInfo() const noexcept override { return kCounterInterface; }
    Variant invoke(DispId id, unsigned kind, std::span<Variant> args) override {
        static constexpr MemberHandler<Counter> kHandlers[] = {
            [](Counter &c, std::span<Variant> a) -> Variant {
                return c.Add(a[0].as<std::int32_t>());
            },
            [](Counter &c, std::span<Variant>) -> Variant { return c.get_Total(); },
            [](Counter &c, std::span<Variant> a) -> Variant {
                c.put_Total(a[0].as<std::int32_t>());
                return {};
            },
        };
        return invokeFromTable<Counter>(kCounterInterface, kHandlers, *this, id, kind, args);
    }

  private:
    std::int32_t total_ = 0;
};

class Factory final : public Implements<ClassFactory> {
  public:
    Factory() { ++liveObjects; }
    ~Factory() override { --liveObjects; }
    void *createInstance(const Guid &id) override {
        if (std::getenv("LYX_TEST_COUNTER_FAIL") != nullptr)
            throw AutomationError(errors::kOutOfMemory, "Counter refused to be made");
        Ref<Counter> counter = makeObject<Counter>();
        return counter->queryInterface(id);
    }
    void lockServer(bool) noexcept override {}
};

std::string ownPath() {
    Dl_info info{};
    ::dladdr(reinterpret_cast<void *>(&liveObjects), &info);
    return info.dli_fname != nullptr ? info.dli_fname : "";
}

}  // namespace

EXPORT std::int32_t DllGetClassObject(const Guid *classId, const Guid *iid, void **object) {
    if (object == nullptr) return errors::kPointer;
    *object = nullptr;
    if (*classId != lyx::testserver::kCounterClass) return errors::kClassNotAvailable;
    Ref<Factory> factory = makeObject<Factory>();
    *object = factory->queryInterface(*iid);
    return *object != nullptr ? errors::kOk : errors::kNoInterface;
}

EXPORT std::int32_t DllCanUnloadNow() {
    return liveObjects == 0 ? errors::kOk : errors::kFalse;
}

EXPORT std::int32_t DllRegisterServer() {
    try {
        registerClass({lyx::testserver::kCounterClass, ownPath(), lyx::testserver::kCounterProgId,
                       lyx::testserver::kTypeLibrary, "1.0"});
        return errors::kOk;
    } catch (const AutomationError &e) {
        return e.number();
    }
}

EXPORT std::int32_t DllUnregisterServer() {
    try {
        unregisterClass(lyx::testserver::kCounterClass);
        return errors::kOk;
    } catch (const AutomationError &e) {
        return e.number();
    }
}
