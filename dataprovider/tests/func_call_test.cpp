// cFuncCall on a private copy of the driver: results in the export's own type,
// and the message boxes of its failures.

#include <gtest/gtest.h>

#include "callback_module.hpp"
#include "func_call.hpp"
#include "message_boxes.hpp"
#include "private_copy.hpp"
#include "test_support.hpp"

using namespace lyx::dataprovider;
using namespace lyx::dataprovider::testing;
using lyx::platform::Variant;
using lyx::platform::VariantArray;
using lyx::platform::VarType;

class FuncCall : public ::testing::Test {
  protected:
    void SetUp() override {
        copy.emplace(PrivateDriverCopy::create(CallbackModule::SystemDirectory() + "/libLyxDrv.so",
                                               folder.path().string(),
                                               [] { return std::string("LyxTest.so"); }));
        call.put_LibraryName(copy->path());
        ASSERT_TRUE(call.libraryLoaded());
    }

    Variant callNamed(const char *name, std::vector<Variant> args = {}) {
        call.put_FunctionName(name);
        VariantArray list{0, std::move(args)};
        return call.CallFunction(list);
    }

    TestFolder folder;
    MessageBoxes boxes;
    std::optional<PrivateDriverCopy> copy;
    cFuncCall call;
};

TEST_F(FuncCall, AFloatResultComesBackAsTheFloat) {
    Variant version = callNamed("VERSION");
    ASSERT_EQ(version.type(), VarType::Float);
    EXPECT_EQ(version.as<float>(), 2.7f);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(FuncCall, IntegerArgumentsAndResultsTravelInTheirTypes) {
    // Port 0 cannot be opened: the driver answers -2.
    Variant opened = callNamed("OPENPORT", {std::int16_t{0}, 9600});
    ASSERT_EQ(opened.type(), VarType::Int32);
    EXPECT_EQ(opened.as<std::int32_t>(), -2);
    // A pointer result (here no packet: null) arrives as a whole number.
    Variant packet = callNamed("GETNEXTPACKET");
    ASSERT_EQ(packet.type(), VarType::Int64);
    EXPECT_EQ(packet.as<std::int64_t>(), 0);
    // References contribute their target's value; text converts as a number.
    Variant port("0");
    Variant baud(9600.4);
    EXPECT_EQ(callNamed("OPENPORT", {Variant::ref(port), Variant::ref(baud)}).as<std::int32_t>(),
              -2);
    EXPECT_EQ(callNamed("CLRBUFFERS").type(), VarType::Empty);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(FuncCall, EachCallNeedsItsOwnFunctionName) {
    EXPECT_EQ(callNamed("VERSION").as<float>(), 2.7f);
    VariantArray none;
    Variant again = call.CallFunction(none);
    EXPECT_EQ(again.as<std::int32_t>(), 0);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Function not defined!");
    EXPECT_EQ(boxes.shown[0].caption, "Call function error");
    EXPECT_EQ(boxes.shown[0].flags, std::uint32_t{LYX_MB_ICONERROR});
}

TEST_F(FuncCall, AnUnknownExportShowsItsNameAndTheCaseNote) {
    call.put_FunctionName("version");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "Can not find function entry point for \"version\"\r\n"
              "Note: function names are case sensitive, check out you function spelling!");
    EXPECT_EQ(boxes.shown[0].caption, "Function call error");
    EXPECT_EQ(boxes.shown[0].flags, std::uint32_t{LYX_MB_ICONERROR});
    VariantArray none;
    EXPECT_EQ(call.CallFunction(none).as<std::int32_t>(), 0);
    EXPECT_EQ(boxes.shown.back().text, "Function not defined!");
}

TEST_F(FuncCall, AWrongArgumentCountIsRefusedBeforeTheCall) {
    Variant result = callNamed("OPENPORT", {std::int16_t{3}});
    EXPECT_EQ(result.as<std::int32_t>(), 0);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "Wrong number of arguments for \"OPENPORT\": 2 expected, 1 given!");
    EXPECT_EQ(boxes.shown[0].caption, "Call function error");
}

TEST_F(FuncCall, AMissingLibraryShowsItsNameAndLeavesTheObjectUsable) {
    call.put_LibraryName(folder / "LyxMissing.so");
    EXPECT_FALSE(call.libraryLoaded());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Can not find library \"" + (folder / "LyxMissing.so") + "\"");
    EXPECT_EQ(boxes.shown[0].caption, "Function call error");
    EXPECT_EQ(callNamed("VERSION").as<std::int32_t>(), 0);
    EXPECT_EQ(boxes.shown.size(), 3u);  // entry point, then not defined
    call.put_LibraryName(copy->path());
    EXPECT_EQ(callNamed("VERSION").as<float>(), 2.7f);
}

TEST_F(FuncCall, CallTypeIsKept) {
    EXPECT_EQ(call.callType(), 0);
    call.put_CallType(1);
    EXPECT_EQ(call.callType(), 1);
    EXPECT_EQ(callNamed("VERSION").as<float>(), 2.7f);
}
