// DataProvider: creation, binding to the driver, Initialise, Terminate, closing
// and destruction, versions.

#include "data_provider.hpp"

#include <cmath>

#include "LyxPlatform.h"
#include "lyx/platform/clock.hpp"
#include "lyx/platform/messages.hpp"
#include "type_library.hpp"

namespace lyx::dataprovider {

using platform::AutomationError;

platform::Ref<DataProvider> DataProvider::create() {
    PrivateDriverCopy copy = PrivateDriverCopy::create(
        CallbackModule::SystemDirectory() + "/libLyxDrv.so", temporaryFolder(), randomCopyNames());
    return platform::Ref<DataProvider>(new DataProvider(std::move(copy)));
}

DataProvider::DataProvider(PrivateDriverCopy copy)
    : copy_(std::move(copy)), mDriverCopy(copy_.path()) {
    // Loading the copy shows "Can not find library" when it fails; the object
    // stays usable and its later dynamic calls fail the same visible way.
    mFuncCall.put_LibraryName(mDriverCopy);
}

DataProvider::~DataProvider() {
    // Out of the registry first: the messages dispatched below may carry a
    // packet for this object, and routing it here would revive an object that
    // is being destroyed (and destroy it a second time).
    if (registry_) CallbackModule::UnregisterInstance(*registry_, mInstance, *this);
    LyxPumpMessages();
    CloseDriver();
    LyxPumpMessages();
    // Members go next: mFuncCall unloads the copy, then copy_ deletes it.
}

DriverCalls &DataProvider::driver() {
    if (mInstance == 1) return direct_;
    return dynamic_;
}

std::int16_t DataProvider::Initialise(std::int16_t Port, std::int32_t Baudrate) {
    // An object that is registered already keeps its number: a second entry
    // would outlive the object.
    bool registered = false;
    if (registry_) {
        auto found = registry_->instanceRegistry.find(mInstance);
        registered = found != registry_->instanceRegistry.end() && found->second == this;
    }
    if (!registered) {
        registry_ = CallbackModule::currentRegistry();
        mInstance = CallbackModule::RegisterInstance(*registry_, *this);
    }

    const std::intptr_t callback = CallbackModule::FunctionAddress();
    DriverCalls &calls = driver();
    calls.INITIALISEMULTI(&callback, mInstance);
    const std::int32_t opened = Port != 0 ? calls.OPENPORT(Port, Baudrate) : calls.OPENUSB();

    store_.clearTags();
    return static_cast<std::int16_t>(opened);
}

void DataProvider::Terminate() {
    CloseDriver();
    // One second on the time-of-day clock, dispatching messages all the while;
    // the wait ends early when the clock goes back past midnight.
    const double start = platform::timeOfDay();
    const double end = start + 1.0;
    for (;;) {
        LyxPumpMessages();
        const double now = platform::timeOfDay();
        if (now >= end || now < start) break;
        platform::waitForMessages(static_cast<int>(std::ceil((end - now) * 1000.0)));
    }
}

void DataProvider::CloseDriver() {
    try {
        if (mInstance == 1) {
            direct_.CLOSEPORT();
        } else {
            mLastDriverResult = static_cast<std::int16_t>(dynamic_.CLOSEPORT());
        }
    } catch (...) {
    }
    if (registry_) CallbackModule::UnregisterInstance(*registry_, mInstance, *this);
}

LinkStatistics DataProvider::GetLinkStatistics() {
    LyxDrvLinkStatistics raw{};
    raw.size = sizeof raw;
    LinkStatistics s;
    if (driver().LyxDrvGetLinkStatistics(&raw) != 0) return s;
    s.framesDelivered = raw.framesDelivered;
    s.framesHeld = raw.framesHeld;
    s.framesHeldMax = raw.framesHeldMax;
    s.framesDropped = raw.framesDropped;
    s.bytesDropped = raw.bytesDropped;
    s.bytesDiscarded = raw.bytesDiscarded;
    s.stations = raw.stations;
    return s;
}

float DataProvider::get_Version() {
    return static_cast<float>(kVersionMajor + kVersionMinor / 10.0);
}

float DataProvider::get_DLLVersion() {
    return driver().VERSION();
}

const platform::InterfaceDesc &DataProvider::typeInfo() const noexcept {
    return kDataProviderInterface;
}

}  // namespace lyx::dataprovider
