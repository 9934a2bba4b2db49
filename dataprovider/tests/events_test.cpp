// PacketArrived as the reception part raises it: typed and late-bound sinks,
// changes made by handlers kept, errors of handlers ignored.

#include <gtest/gtest.h>

#include "data_provider.hpp"
#include "test_support.hpp"
#include "type_library.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::testing;
using namespace lyx::platform;

namespace {

class TypedSink final : public Implements<IDataProviderEvents> {
  public:
    void PacketArrived(std::uint8_t &BaseStation, std::int32_t &DataTag, std::string &Value,
                       std::uint8_t &Status, std::int16_t &RSSI, std::int16_t &CV, bool &BattLow,
                       bool &) override {
        seen.push_back(std::to_string(BaseStation) + "/" + std::to_string(DataTag) + "/" + Value +
                       "/" + std::to_string(Status) + "/" + std::to_string(RSSI) + "/" +
                       std::to_string(CV) + "/" + (BattLow ? "low" : "ok"));
        RSSI = -50;  // a handler may change the store
        if (fail) throw AutomationError(5, "handler failed");
    }
    std::vector<std::string> seen;
    bool fail = false;
};

class LateSink final : public Implements<Dispatch> {
  public:
    const InterfaceDesc &typeInfo() const noexcept override { return *events; }
    Variant invoke(DispId id, unsigned, std::span<Variant> args) override {
        ids.push_back(id);
        types.clear();
        for (auto &a : args)
            types.push_back(a.isRef());
        args[0].as<std::uint8_t>() = 9;   // written through the reference
        args[7].target() = Variant("1");  // converted back to the parameter's type
        return {};
    }
    const InterfaceDesc *events = &kDataProviderEvents;
    std::vector<DispId> ids;
    std::vector<bool> types;
};

}  // namespace

TEST(PacketArrived, ReachesTypedAndLateBoundSinksWithTheirChangesKept) {
    TestFolder folder;
    ScopedEnv tmp("TMPDIR", folder.path().c_str());
    Ref<DataProvider> dp = DataProvider::create();
    Ref<TypedSink> typed = makeObject<TypedSink>();
    Ref<LateSink> late = makeObject<LateSink>();
    std::uint32_t cookie = dp->advise(kEventsId, *typed);
    dp->advise(kEventsId, *late);

    std::uint8_t station = 1, status = 5;
    std::int32_t tag = 4660;
    std::string value = "200";
    std::int16_t rssi = -101, cv = 48;
    bool battLow = true, error = false;
    dp->raisePacketArrived(station, tag, value, status, rssi, cv, battLow, error);
    EXPECT_EQ(typed->seen, std::vector<std::string>{"1/4660/200/5/-101/48/low"});
    EXPECT_EQ(late->ids, std::vector<DispId>{1});
    EXPECT_EQ(late->types, std::vector<bool>(8, true));  // every argument by reference
    EXPECT_EQ(rssi, -50);
    EXPECT_EQ(station, 9);
    EXPECT_TRUE(error);

    typed->fail = true;  // a failing handler does not keep the others from the event
    dp->unadvise(kEventsId, cookie);
    dp->advise(kEventsId, *typed);
    dp->raisePacketArrived(station, tag, value, status, rssi, cv, battLow, error);
    EXPECT_EQ(typed->seen.size(), 2u);
    EXPECT_EQ(late->ids.size(), 2u);
}

TEST(PrivateCopyPlace, AnEmptyTmpdirPutsTheCopyInTmp) {
    ScopedEnv tmp("TMPDIR", "");
    Ref<DataProvider> dp = DataProvider::create();
    const std::string copy = dp->driverCopy();
    EXPECT_TRUE(copy.starts_with("/tmp/Lyx")) << copy;
    EXPECT_TRUE(fs::exists(copy));
    dp.reset();
    EXPECT_FALSE(fs::exists(copy));
}
