// Late binding through a member table, and event connections, on an object
// defined here.

#include <gtest/gtest.h>

#include <vector>

#include "lyx/platform/automation_error.hpp"
#include "lyx/platform/dispatch.hpp"
#include "lyx/platform/events.hpp"

using namespace lyx::platform;

namespace {

class IMeter : public Dispatch {
  public:
    static constexpr Guid iid = guid("{11111111-2222-3333-4444-555555555555}");
    using Base = Dispatch;
};

class IMeterEvents : public Unknown {
  public:
    static constexpr Guid iid = guid("{11111111-2222-3333-4444-666666666666}");
    using Base = Unknown;
    virtual void Reading(std::int32_t &value) = 0;
};

constexpr ParamDesc kScaleParams[] = {{"Value", VarType::Double}, {"Factor", VarType::Int16}};
constexpr ParamDesc kFillParams[] = {{"Bytes", VarType::ByteArray, true},
                                     {"Count", VarType::Int32, true}};
constexpr ParamDesc kLabelGet[] = {{"Index", VarType::UInt8}};
constexpr ParamDesc kLabelPut[] = {{"Index", VarType::UInt8}, {"Text", VarType::String}};
constexpr MemberDesc kMembers[] = {
    {1, "Scale", MemberKind::Method, kScaleParams, VarType::Double},
    {2, "Fill", MemberKind::Method, kFillParams},
    {3, "Label", MemberKind::PropertyGet, kLabelGet, VarType::String},
    {3, "Label", MemberKind::PropertyPut, kLabelPut},
    {4, "Fail", MemberKind::Method, {}},
};
constexpr InterfaceDesc kMeter{"_Meter", IMeter::iid, kMembers};

class Meter final : public Implements<IMeter, EventSource> {
  public:
    const InterfaceDesc &typeInfo() const noexcept override { return kMeter; }
    Variant invoke(DispId id, unsigned kind, std::span<Variant> args) override {
        static constexpr MemberHandler<Meter> kHandlers[] = {
            [](Meter &, std::span<Variant> a) -> Variant {
                return a[0].as<double>() * a[1].as<std::int16_t>();
            },
            [](Meter &, std::span<Variant> a) -> Variant {
                auto &bytes = a[0].as<ByteArray>();
                for (auto &b : bytes.items)
                    b = 0xAB;
                a[1] = static_cast<std::int32_t>(bytes.items.size());
                return {};
            },
            [](Meter &m, std::span<Variant> a) -> Variant {
                return m.labels[a[0].as<std::uint8_t>() % 4];
            },
            [](Meter &m, std::span<Variant> a) -> Variant {
                m.labels[a[0].as<std::uint8_t>() % 4] = a[1].as<std::string>();
                return {};
            },
            [](Meter &, std::span<Variant>) -> Variant {
                throw AutomationError(hresult(0x800403EB), "Failed on purpose");
            },
        };
        return invokeFromTable<Meter>(kMeter, kHandlers, *this, id, kind, args);
    }

    std::uint32_t advise(const Guid &events, Unknown &sink) override {
        if (events != IMeterEvents::iid) throw AutomationError(errors::kCannotConnect, "no");
        return readings.advise(sink);
    }
    void unadvise(const Guid &, std::uint32_t cookie) override { readings.unadvise(cookie); }

    // Raises Reading to every sink; a late-bound sink gets dispatch id 1.
    void raise(std::int32_t &value) {
        for (auto &sink : readings.sinks()) {
            if (sink.typed) {
                sink.typed->Reading(value);
            } else {
                Variant v(value);
                Variant args[] = {Variant::ref(v)};
                sink.late->invoke(1, kInvokeMethod, args);
                value = v.as<std::int32_t>();
            }
        }
    }

    std::string labels[4];
    ConnectionPoint<IMeterEvents> readings;
};

template <class F>
AutomationError errorOf(F f) {
    try {
        f();
    } catch (const AutomationError &e) {
        return e;
    }
    return AutomationError(0, "no error");
}

}  // namespace

TEST(LateBinding, MembersAreFoundByNameInAnyCase) {
    Ref<Meter> meter = makeObject<Meter>();
    std::vector<Variant> args{Variant("2.5"), Variant(4)};
    EXPECT_EQ(callByName(*meter, "scale", kInvokeMethod, args).as<double>(), 10.0);
    EXPECT_EQ(callByName(*meter, "SCALE", kInvokeMethod | kInvokePropertyGet, args).as<double>(),
              10.0);
    EXPECT_EQ(idOfName(kMeter, "lAbEl"), 3);
}

TEST(LateBinding, PropertyGetAndPutShareTheNameAndAreChosenByKind) {
    Ref<Meter> meter = makeObject<Meter>();
    std::vector<Variant> put{Variant(std::uint8_t{1}), Variant(12.5)};
    callByName(*meter, "Label", kInvokePropertyPut, put);
    EXPECT_EQ(meter->labels[1], "12.5");
    std::vector<Variant> get{Variant(1)};
    EXPECT_EQ(callByName(*meter, "Label", kInvokePropertyGet, get).as<std::string>(), "12.5");
    std::vector<Variant> none;
    auto e = errorOf([&] { callByName(*meter, "Fail", kInvokePropertyPut, none); });
    EXPECT_EQ(e.number(), errors::kMemberNotFound);
    EXPECT_EQ(e.description(), "Member not found: \"Fail\" cannot be set");
}

TEST(LateBinding, ByReferenceArgumentsAreWrittenBackToTheirTargetsOrThemselves) {
    Ref<Meter> meter = makeObject<Meter>();
    Variant bytes(ByteArray{0, {1, 2, 3}});
    Variant count(std::int16_t{0});
    std::vector<Variant> args{Variant::ref(bytes), Variant::ref(count)};
    callByName(*meter, "Fill", kInvokeMethod, args);
    EXPECT_EQ(bytes.as<ByteArray>().items, (std::vector<std::uint8_t>{0xAB, 0xAB, 0xAB}));
    EXPECT_EQ(count.type(), VarType::Int32);
    EXPECT_EQ(count.as<std::int32_t>(), 3);

    std::vector<Variant> plain{Variant(ByteArray{0, {7}}), Variant(0)};
    callByName(*meter, "Fill", kInvokeMethod, plain);
    EXPECT_EQ(plain[1].as<std::int32_t>(), 1);
}

TEST(LateBinding, BadCallsAreAutomationErrorsWithTheMemberAndParameterNamed) {
    Ref<Meter> meter = makeObject<Meter>();
    std::vector<Variant> one{Variant(1.0)};
    auto e = errorOf([&] { callByName(*meter, "Scale", kInvokeMethod, one); });
    EXPECT_EQ(e.number(), errors::kBadParamCount);
    EXPECT_EQ(e.description(), "Invalid number of parameters: \"Scale\" takes 2, 1 given");

    std::vector<Variant> text{Variant(1.0), Variant("many")};
    e = errorOf([&] { callByName(*meter, "Scale", kInvokeMethod, text); });
    EXPECT_EQ(e.number(), errors::kTypeMismatch);
    EXPECT_EQ(e.description(), "Type mismatch in argument 2 (Factor) of \"Scale\"");

    std::vector<Variant> big{Variant(1.0), Variant(40000)};
    e = errorOf([&] { callByName(*meter, "Scale", kInvokeMethod, big); });
    EXPECT_EQ(e.number(), errors::kOverflow);

    std::vector<Variant> array{Variant(5), Variant(0)};
    e = errorOf([&] { callByName(*meter, "Fill", kInvokeMethod, array); });
    EXPECT_EQ(e.number(), errors::kTypeMismatch);

    e = errorOf([&] { callByName(*meter, "Nope", kInvokeMethod, one); });
    EXPECT_EQ(e.number(), errors::kUnknownName);
    EXPECT_EQ(e.description(), "Unknown name: _Meter has no member \"Nope\"");

    e = errorOf([&] { meter->invoke(99, kInvokeMethod, one); });
    EXPECT_EQ(e.number(), errors::kMemberNotFound);
}

TEST(LateBinding, ErrorsRaisedByAMemberPassThroughWithNumberAndText) {
    Ref<Meter> meter = makeObject<Meter>();
    auto e = errorOf([&] { callByName(*meter, "Fail", kInvokeMethod, {}); });
    EXPECT_EQ(e.number(), hresult(0x800403EB));
    EXPECT_EQ(e.description(), "Failed on purpose");
}

namespace {

class TypedSink final : public Implements<IMeterEvents> {
  public:
    void Reading(std::int32_t &value) override {
        seen.push_back(value);
        value += 1;
    }
    std::vector<std::int32_t> seen;
};

constexpr ParamDesc kReadingParams[] = {{"Value", VarType::Int32, true}};
constexpr MemberDesc kEventMembers[] = {{1, "Reading", MemberKind::Method, kReadingParams}};
constexpr InterfaceDesc kMeterEvents{"__Meter", IMeterEvents::iid, kEventMembers};

class LateSink final : public Implements<Dispatch> {
  public:
    const InterfaceDesc &typeInfo() const noexcept override { return kMeterEvents; }
    Variant invoke(DispId id, unsigned, std::span<Variant> args) override {
        seen.push_back(id);
        args[0].as<std::int32_t>() *= 10;
        return {};
    }
    std::vector<DispId> seen;
};

class IPlain : public Unknown {
  public:
    static constexpr Guid iid = guid("{11111111-2222-3333-4444-777777777777}");
    using Base = Unknown;
};

class PlainSink final : public Implements<IPlain> {};

}  // namespace

TEST(Events, SinksGetCookiesAndEventsInConnectionOrderWithReferencesHonoured) {
    Ref<Meter> meter = makeObject<Meter>();
    Ref<TypedSink> typed = makeObject<TypedSink>();
    Ref<LateSink> late = makeObject<LateSink>();
    Ref<EventSource> source = meter.query<EventSource>();
    ASSERT_TRUE(source);
    std::uint32_t first = source->advise(IMeterEvents::iid, *typed);
    std::uint32_t second = source->advise(IMeterEvents::iid, *late);
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);

    std::int32_t value = 4;
    meter->raise(value);
    EXPECT_EQ(typed->seen, std::vector<std::int32_t>{4});
    EXPECT_EQ(late->seen, std::vector<DispId>{1});
    EXPECT_EQ(value, 50);  // (4 + 1) * 10

    source->unadvise(IMeterEvents::iid, first);
    meter->raise(value);
    EXPECT_EQ(typed->seen.size(), 1u);
    EXPECT_EQ(late->seen.size(), 2u);
    EXPECT_EQ(errorOf([&] { source->unadvise(IMeterEvents::iid, first); }).number(),
              errors::kNoConnection);
}

TEST(Events, ASinkWithNeitherFormOrAnUnknownEventInterfaceCannotConnect) {
    Ref<Meter> meter = makeObject<Meter>();
    Ref<TypedSink> typed = makeObject<TypedSink>();
    Ref<PlainSink> plain = makeObject<PlainSink>();
    auto e = errorOf([&] { meter->advise(IMeterEvents::iid, *plain); });
    EXPECT_EQ(e.number(), errors::kCannotConnect);
    EXPECT_EQ(e.description(), "The sink implements neither the event interface nor Dispatch");
    EXPECT_EQ(errorOf([&] { meter->advise(IMeter::iid, *typed); }).number(),
              errors::kCannotConnect);
    EXPECT_TRUE(meter->readings.empty());
}

TEST(Interfaces, QueryInterfaceFindsEveryImplementedAndExtendedInterfaceAndCounts) {
    Ref<Meter> meter = makeObject<Meter>();
    Ref<Unknown> identity = meter.query<Unknown>();
    Ref<Dispatch> dispatch = meter.query<Dispatch>();
    Ref<EventSource> source = meter.query<EventSource>();
    ASSERT_TRUE(identity && dispatch && source);
    EXPECT_EQ(static_cast<void *>(dispatch.get()),
              static_cast<void *>(meter.query<IMeter>().get()));
    EXPECT_EQ(source.query<Unknown>().get(), identity.get());  // one identity
    EXPECT_FALSE(meter.query<IMeterEvents>());
    // Four holders now: meter, identity, dispatch, source.
    EXPECT_EQ(meter->addRef(), 5u);
    EXPECT_EQ(meter->release(), 4u);
}
