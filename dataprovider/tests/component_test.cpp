// The component as its clients meet it: libLyxDataProviderCOM.so registered
// and activated through the automation stand-in, called directly and by name,
// against pseudo-terminal base stations.

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "answering_station.hpp"
#include "lyx/dataprovider/data_provider.hpp"
#include "lyx/link/frame.hpp"
#include "lyx/platform/activation.hpp"
#include "lyx/platform/class_registry.hpp"
#include "lyx/platform/events.hpp"
#include "lyx/platform/library.hpp"
#include "lyx/platform/profile.hpp"
#include "lyx/sim/pty_port.hpp"
#include "message_boxes.hpp"
#include "test_support.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::testing;
using namespace lyx::platform;
using lyx::link::Bytes;
using lyx::sim::PtyPort;

class Component : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.open(LYX_COMPONENT_FILE)) << library.error();
        ASSERT_TRUE(com5.ok() && com6.ok());
        ASSERT_TRUE(com5.linkAs(folder / "ports", 5));
        ASSERT_TRUE(com6.linkAs(folder / "ports", 6));
        fs::create_directories(folder.path() / "tmp");
        ASSERT_EQ(exported("DllRegisterServer")(), 0);
    }
    DllRegisterServerFunction exported(const char *name) {
        return library.function<DllRegisterServerFunction>(name);
    }
    Ref<IDataProvider> make() { return createInstance<IDataProvider>(kClassId); }
    // The frame the base station reads for `payload`.
    Bytes sent(PtyPort &port, const Bytes &payload) {
        Bytes frame = lyx::link::buildFrame(1, payload);
        return port.read(frame.size(), 2000);
    }

    TestFolder folder;
    ScopedEnv registry{"LYX_REGISTRY", (folder / "classes.ini").c_str()};
    ScopedEnv tmp{"TMPDIR", (folder / "tmp").c_str()};
    ScopedEnv ports{"LYX_PORT_DIR", (folder / "ports").c_str()};
    DynamicLibrary library;
    PtyPort com5, com6;
};

TEST_F(Component, RegisteredItIsCreatedByClassIdAndProgIdAndUnregisteredItIsGone) {
    auto entry = findClass(kClassId);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->library, fs::canonical(LYX_COMPONENT_FILE).string());
    EXPECT_EQ(entry->progId, "LyxDataProviderCOM.DataProvider");
    EXPECT_EQ(entry->typeLibrary, kTypeLibraryId);
    EXPECT_EQ(entry->typeLibraryVersion, "3.4");

    Ref<IDataProvider> byId = make();
    ASSERT_TRUE(byId);
    Ref<IDataProvider> byProgId = createObject<IDataProvider>(kProgId);
    ASSERT_TRUE(byProgId);
    EXPECT_NE(byId.get(), byProgId.get());
    EXPECT_TRUE(byId.query<Dispatch>());
    EXPECT_TRUE(byId.query<EventSource>());
    EXPECT_EQ(byId->typeInfo().name, "_DataProvider");

    ASSERT_EQ(exported("DllUnregisterServer")(), 0);
    EXPECT_FALSE(findClass(kClassId));
    EXPECT_TRUE(getPrivateProfileSectionNames(folder / "classes.ini").empty());
    auto e = errorOf([&] { make(); });
    EXPECT_EQ(e.number(), errors::kClassNotRegistered);
    EXPECT_EQ(e.description(),
              "Class not registered: {B75BE7E8-2CC9-40FF-BC68-9DADBEF8346D} has "
              "no entry in " +
                  (folder / "classes.ini"));
    e = errorOf([&] { createObject<IDataProvider>(kProgId); });
    EXPECT_EQ(e.number(), errors::kInvalidClassString);
}

TEST_F(Component, AMissingLibraryOrDriverFileIsAClearErrorAndLeavesNoCopy) {
    registerClass({kClassId, folder / "libGone.so", kProgId, kTypeLibraryId, "3.4"});
    auto e = errorOf([&] { make(); });
    EXPECT_EQ(e.number(), errors::kModuleNotFound);
    EXPECT_NE(e.description().find(folder / "libGone.so"), std::string::npos);

    ASSERT_EQ(exported("DllRegisterServer")(), 0);
    fs::create_directories(folder.path() / "system");
    ScopedEnv system("LYX_SYSTEM_DIR", (folder / "system").c_str());
    e = errorOf([&] { make(); });
    EXPECT_EQ(e.number(), errors::kFileNotFound);
    EXPECT_EQ(e.description(), "File not found: " + (folder / "system") + "/libLyxDrv.so");
    EXPECT_TRUE(fs::is_empty(folder.path() / "tmp"));
}

TEST_F(Component, ACopyThatCannotBeLoadedShowsItsNameAndEveryDynamicCallFailsVisibly) {
    fs::create_directories(folder.path() / "system");
    std::ofstream(folder / "system/libLyxDrv.so") << "not a library";
    ScopedEnv system("LYX_SYSTEM_DIR", (folder / "system").c_str());
    MessageBoxes boxes;
    Ref<IDataProvider> dp = make();
    ASSERT_TRUE(dp);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, "Function call error");
    EXPECT_TRUE(
        boxes.shown[0].text.starts_with("Can not find library \"" + (folder / "tmp") + "/Lyx"));
    EXPECT_TRUE(boxes.shown[0].text.ends_with(".so\""));

    EXPECT_EQ(dp->get_DLLVersion(), 0.0f);
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_TRUE(
        boxes.shown[1].text.starts_with("Can not find function entry point for \"VERSION\""));
    EXPECT_EQ(boxes.shown[2].text, "Function not defined!");
    dp.reset();
    EXPECT_TRUE(fs::is_empty(folder.path() / "tmp"));  // the copy went with the object
}

TEST_F(Component, VersionIs2Point3AndDllVersion2Point7OnBothPaths) {
    Ref<IDataProvider> a = make();
    Ref<IDataProvider> b = make();
    EXPECT_EQ(a->get_Version(), 2.3f);
    EXPECT_EQ(a->get_DLLVersion(), 2.7f);  // not initialised: through its copy
    ASSERT_EQ(a->Initialise(5, 9600), 0);
    ASSERT_EQ(b->Initialise(6, 9600), 0);
    EXPECT_EQ(a->get_DLLVersion(), 2.7f);  // instance 1: the plain driver
    EXPECT_EQ(b->get_DLLVersion(), 2.7f);  // instance 2: its copy
    Variant late = callByName(*b, "dllversion", kInvokePropertyGet, {});
    ASSERT_EQ(late.type(), VarType::Float);
    EXPECT_EQ(late.as<float>(), 2.7f);
    EXPECT_EQ(callByName(*a, "VERSION", kInvokeMethod | kInvokePropertyGet, {}).as<float>(), 2.3f);
}

TEST_F(Component, PayloadExamplesReachTheBaseStationByteForByteOnBothPaths) {
    Ref<IDataProvider> a = make();
    Ref<IDataProvider> b = make();
    ASSERT_EQ(a->Initialise(5, 115200), 0);
    ASSERT_EQ(b->Initialise(6, 115200), 0);
    for (auto *pair : {&*a, &*b}) {
        IDataProvider &dp = *pair;
        PtyPort &port = pair == a.get() ? com5 : com6;
        dp.WritePacketNumeric(1, 0x1234, 0, 1000, DT_UINT16);
        EXPECT_EQ(sent(port, {3, 0x12, 0x34, 0, 2, 0x03, 0xE8}),
                  lyx::link::buildFrame(1, Bytes{3, 0x12, 0x34, 0, 2, 0x03, 0xE8}));
        dp.WritePacketNumeric(1, 70000, 9, -2, DT_INT32);
        EXPECT_EQ(sent(port, {3, 0x11, 0x70, 9, 3, 0xFF, 0xFF, 0xFF, 0xFE}),
                  lyx::link::buildFrame(1, Bytes{3, 0x11, 0x70, 9, 3, 0xFF, 0xFF, 0xFF, 0xFE}));
        dp.WritePacketNumeric(2, 5, 0, 1.5, DT_FLOAT);
        Bytes floatFrame = lyx::link::buildFrame(2, Bytes{3, 0, 5, 0, 4, 0x3F, 0xC0, 0, 0});
        EXPECT_EQ(port.read(floatFrame.size(), 2000), floatFrame);
        dp.WritePacketString(1, 5, 0, "abc", DT_NONE);
        EXPECT_EQ(sent(port, {3, 0, 5, 0, 0}), lyx::link::buildFrame(1, Bytes{3, 0, 5, 0, 0}));
        dp.WritePacketString(1, 5, 0, "abc", DT_STRING);
        EXPECT_EQ(sent(port, {3, 0, 5, 0, 5, 'a', 'b', 'c'}),
                  lyx::link::buildFrame(1, Bytes{3, 0, 5, 0, 5, 'a', 'b', 'c'}));
    }
}

TEST_F(Component, RejectedValuesRaiseTheirErrorsAndSendNothing) {
    Ref<IDataProvider> dp = make();
    ASSERT_EQ(dp->Initialise(5, 9600), 0);
    auto e = errorOf([&] { dp->WritePacketNumeric(1, 5, 0, 256, DT_UINT8); });
    EXPECT_EQ(e.number(), hresult(0x800403EC));
    EXPECT_EQ(e.description(), "Value invalid for DT_UINT8!");
    e = errorOf([&] { dp->WritePacketNumeric(1, 5, 0, 7, DT_STRING); });
    EXPECT_EQ(e.number(), hresult(0x800403EB));
    EXPECT_EQ(e.description(),
              "Invalid DataType! Type must be DT_UINT8, DT_UINT16, DT_INT32 or DT_FLOAT!");
    e = errorOf([&] { dp->WritePacketString(1, 5, 0, "x", DT_FLOAT); });
    EXPECT_EQ(e.description(), "Invalid DataType! Type must be DT_STRING or DT_BINARY or DT_NONE!");
    std::vector<Variant> args{Variant(1), Variant(5), Variant(0), Variant(3e9), Variant(3)};
    e = errorOf([&] { callByName(*dp, "WritePacketNumeric", kInvokeMethod, args); });
    EXPECT_EQ(e.number(), hresult(0x800A0006));
    EXPECT_EQ(e.description(), "Overflow");

    // The next thing on the line is the next valid packet.
    dp->WritePacketNumeric(1, 5, 0, 255, DT_UINT8);
    EXPECT_EQ(sent(com5, {3, 0, 5, 0, 1, 0xFF}),
              lyx::link::buildFrame(1, Bytes{3, 0, 5, 0, 1, 0xFF}));
}

namespace {

// Arguments that suit each parameter type, given as text where a number is
// wanted, so that late binding converts them.
Variant argumentFor(const ParamDesc &param) {
    switch (param.type) {
        case VarType::UInt8:
            return Variant("1");
        case VarType::Int16:
            return Variant("5");
        case VarType::Int32:
            return param.typeName == "Data_Type" ? Variant(5) : Variant("7");
        case VarType::Double:
            return Variant(std::int16_t{3});
        case VarType::String:
            return Variant("abc");
        case VarType::Bool:
            return Variant(false);
        case VarType::ByteArray:
            return Variant(ByteArray{0, std::vector<std::uint8_t>(129, 0)});
        case VarType::FloatArray:
            return Variant(FloatArray{1, std::vector<float>(10, 0.0f)});
        default:
            return Variant();
    }
}

}  // namespace

TEST_F(Component, EveryMemberIsCallableByNameInAnyCase) {
    Ref<IDataProvider> dp = make();
    AnsweringStation station(com5);

    std::size_t called = 0;
    for (const MemberDesc &member : dp->typeInfo().members) {
        SCOPED_TRACE(std::string(member.name));
        if (member.name == "Terminate") continue;  // last, below
        std::vector<Variant> storage;
        for (const auto &param : member.params)
            storage.push_back(argumentFor(param));
        std::vector<Variant> args;
        for (auto &value : storage)
            args.push_back(Variant::ref(value));
        std::string name(member.name);
        for (char &c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (member.name == "Initialise") args[0] = Variant(5);  // COM5
        if (member.name == "WritePacketNumeric") args[4] = Variant(DT_UINT8);
        const unsigned kind = member.kind == MemberKind::PropertyPut   ? kInvokePropertyPut
                              : member.kind == MemberKind::PropertyGet ? kInvokePropertyGet
                                                                       : kInvokeMethod;
        Variant result = callByName(*dp, name, kind, args);
        EXPECT_EQ(result.type(), member.result);
        ++called;
    }
    EXPECT_EQ(callByName(*dp, "BSIFID", kInvokePropertyGet, {}).as<std::int32_t>(), 7);
    // WritePacketString and WritePacketNumeric went out on COM5.
    EXPECT_TRUE(station.received(lyx::link::buildFrame(1, Bytes{3, 0, 7, 1, 5, 'a', 'b', 'c'})));
    EXPECT_TRUE(station.received(lyx::link::buildFrame(1, Bytes{3, 0, 7, 1, 1, 3})));
    EXPECT_TRUE(callByName(*dp, "terminate", kInvokeMethod, {}).isEmpty());
    EXPECT_EQ(called + 1, 27u);
}

TEST_F(Component, BadLateBoundCallsAreAutomationErrorsNeverCrashes) {
    Ref<IDataProvider> dp = make();
    std::vector<Variant> two{Variant(1), Variant(2)};
    EXPECT_EQ(errorOf([&] { callByName(*dp, "WritePacketString", kInvokeMethod, two); }).number(),
              errors::kBadParamCount);
    EXPECT_EQ(errorOf([&] { callByName(*dp, "NoSuchMember", kInvokeMethod, two); }).number(),
              errors::kUnknownName);
    std::vector<Variant> badTag{Variant(1), Variant("tag"), Variant(0), Variant(1.0), Variant(1)};
    auto e = errorOf([&] { callByName(*dp, "WritePacketNumeric", kInvokeMethod, badTag); });
    EXPECT_EQ(e.number(), errors::kTypeMismatch);
    EXPECT_EQ(e.description(), "Type mismatch in argument 2 (DataTag) of \"WritePacketNumeric\"");
    std::vector<Variant> bigStation{Variant(300), Variant(1), Variant(0), Variant(1.0), Variant(1)};
    EXPECT_EQ(
        errorOf([&] { callByName(*dp, "WritePacketNumeric", kInvokeMethod, bigStation); }).number(),
        errors::kOverflow);
    std::vector<Variant> notAnArray{Variant(5), Variant(5)};
    EXPECT_EQ(errorOf([&] { callByName(*dp, "TriggerEvent", kInvokeMethod, notAnArray); }).number(),
              errors::kTypeMismatch);
    std::vector<Variant> value{Variant(1.0f)};
    EXPECT_EQ(errorOf([&] { callByName(*dp, "Version", kInvokePropertyPut, value); }).number(),
              errors::kMemberNotFound);
    EXPECT_EQ(errorOf([&] { dp->invoke(999, kInvokeMethod, {}); }).number(),
              errors::kMemberNotFound);
    EXPECT_EQ(dp->get_Version(), 2.3f);  // still alive and well
}

namespace {
class Sink final : public Implements<IDataProviderEvents> {
  public:
    void PacketArrived(std::uint8_t &, std::int32_t &, std::string &, std::uint8_t &,
                       std::int16_t &, std::int16_t &, bool &, bool &) override {}
};
}  // namespace

TEST_F(Component, EventSinksConnectWithCookiesAndTheLibraryStaysWhileObjectsLive) {
    auto canUnload = exported("DllCanUnloadNow");
    {
        Ref<IDataProvider> dp = make();
        Ref<Sink> sink = makeObject<Sink>();
        Ref<EventSource> source = dp.query<EventSource>();
        std::uint32_t first = source->advise(kEventsId, *sink);
        std::uint32_t second = source->advise(kEventsId, *sink);
        EXPECT_NE(first, second);
        source->unadvise(kEventsId, first);
        EXPECT_EQ(errorOf([&] { source->unadvise(kEventsId, first); }).number(),
                  errors::kNoConnection);
        EXPECT_EQ(errorOf([&] { source->advise(kInterfaceId, *sink); }).number(),
                  errors::kCannotConnect);
        EXPECT_EQ(canUnload(), errors::kFalse);
    }
    EXPECT_EQ(canUnload(), errors::kOk);
}
