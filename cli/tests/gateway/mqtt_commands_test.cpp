#include "mqtt_commands.hpp"

#include <gtest/gtest.h>

#include <string>

namespace lyx::cli {
namespace {

CommandRequest accepted(std::string_view name, std::string_view body, bool stationTopic = false) {
    ParsedRequest p = parseRequest(name, body, stationTopic);
    EXPECT_TRUE(p.request) << name << " " << body << ": " << p.error;
    return p.request.value_or(CommandRequest{});
}

std::string refused(std::string_view name, std::string_view body, bool stationTopic = false) {
    ParsedRequest p = parseRequest(name, body, stationTopic);
    EXPECT_FALSE(p.request) << name << " " << body;
    return p.error;
}

TEST(MqttCommandBodies, FieldsNamedLikeTheOptions) {
    auto sleep = accepted("sleep", R"({"tag":1234,"id":"a-1"})");
    EXPECT_EQ(sleep.tag, 1234);
    EXPECT_FALSE(sleep.all);
    EXPECT_EQ(sleep.id, R"("a-1")");
    EXPECT_TRUE(accepted("pause", R"({"all":true})").all);
    auto wake = accepted("wake", R"({"module":"0x010203","station":2,"id":7})");
    EXPECT_EQ(wake.module, 0x010203);
    EXPECT_EQ(wake.station, 2);
    EXPECT_EQ(wake.id, "7");
    EXPECT_FALSE(accepted("wake", "").module);  // an empty body: a broadcast
    EXPECT_EQ(accepted("stay-awake", R"({"for":"2min"})").duration.count(), 120000);
    EXPECT_EQ(accepted("stay-awake", R"({"for":1.5})").duration.count(), 1500);
    auto pair = accepted("pair", R"({"seconds":30,"config":true})");
    EXPECT_EQ(pair.seconds, 30);
    EXPECT_TRUE(pair.configuration);
    EXPECT_FALSE(pair.keepChannel);
    EXPECT_TRUE(accepted("pair", R"({"keep_channel":true})").keepChannel);
    EXPECT_EQ(accepted("pair", "{}").seconds, 10);
    EXPECT_EQ(accepted("channel", R"({"channel":7})").channel, 7);
    auto read = accepted("read", R"({"module":66051,"param":20})", true);
    EXPECT_EQ(read.module, 66051);
    EXPECT_EQ(read.param, 20);
    auto write = accepted("write", R"({"module":1,"param":20,"type":"float","value":2.5})");
    EXPECT_EQ(write.type, ValueType::Float);
    EXPECT_EQ(write.value, "2.5");
    auto send = accepted("send", R"({"tag":500,"type":"binary","value":"00FF","status":3})");
    EXPECT_EQ(send.tag, 500);
    EXPECT_EQ(send.status, 3);
    EXPECT_EQ(send.value, "00FF");
}

TEST(MqttCommandBodies, RefusedWithTheReason) {
    EXPECT_EQ(refused("sleep", R"({"tga":5})"),
              R"(unknown field "tga" (sleep takes tag and all, and "id" for the request))");
    EXPECT_EQ(refused("sleep", "{}"), R"("tag" is missing (or give "all":true))");
    EXPECT_EQ(refused("sleep", R"({"tag":5,"all":true})"), R"(give "tag" or "all", not both)");
    EXPECT_EQ(refused("sleep", R"({"tag":0})"), "tag: '0' is out of range (from 1 to 65535)");
    EXPECT_EQ(refused("sleep", R"({"tag":2.5})"),
              "tag: expected a whole number from 1 to 65535, got 2.5");
    EXPECT_EQ(refused("pause", R"({"all":1})"), "all: expected true or false, got 1");
    EXPECT_EQ(refused("channel", R"({"channel":0})"),
              "channel: '0' is out of range (from 1 to 255)");
    EXPECT_EQ(refused("read", R"({"module":1})"), R"("param" is missing)");
    EXPECT_EQ(refused("read", R"({"module":16777216,"param":1})"),
              "module: '16777216' is out of range (from 0 to 16777215)");
    EXPECT_EQ(refused("write", R"({"module":1,"param":2,"type":"uint8","value":256})"),
              "value: '256' is out of range (from 0 to 255)");
    EXPECT_EQ(refused("write", R"({"module":1,"param":2,"type":"double","value":1})")
                  .rfind("type: 'double' is not one of uint8", 0),
              0u);
    EXPECT_EQ(refused("send", R"({"tag":1,"type":"string","value":[1]})"),
              "value: expected a string or a number, got [1]");
    EXPECT_EQ(refused("stay-awake", "{}"), R"("for" is missing)");
    EXPECT_EQ(refused("stay-awake", R"({"for":7200})"),
              "for: 7200 is out of range (more than 0 s, up to 1 h)");
    EXPECT_EQ(refused("station", R"({"station":1})", true),
              R"(the topic names the base station; leave "station" out)");
    EXPECT_EQ(refused("sleep", "[1]"), "the body must be a JSON object, not array");
    EXPECT_EQ(refused("sleep", "{\"tag\":").rfind("the body is not JSON: parse error", 0), 0u);
    EXPECT_EQ(refused("sleep", std::string(100, '[') + std::string(100, ']')),
              "the body nests deeper than 16 levels");
    EXPECT_EQ(refused("sleep", std::string(70000, ' ')), "the body is larger than 64 KiB");
    // Brackets inside strings are no nesting.
    EXPECT_TRUE(
        parseRequest("sleep", R"({"tag":1,"id":"[[[[[[[[[[[[[[[[[[[[[[[[\"["})", false).request);
}

TEST(MqttCommandBodies, TheRequestIdComesBackEvenWhenRefused) {
    EXPECT_EQ(parseRequest("sleep", R"({"id":{"n":1},"tga":1})", false).id, R"({"n":1})");
    EXPECT_EQ(parseRequest("frobnicate", R"({"id":"x"})", false).id, R"("x")");
    EXPECT_EQ(parseRequest("frobnicate", R"({"id":"x"})", false)
                  .error.rfind("unknown command 'frobnicate' (sleep, pause, wake, stay-awake", 0),
              0u);
    EXPECT_EQ(parseRequest("sleep", "not json", false).id, "");
}

TEST(MqttCommandReplies, ResponseStatusMessageAndValues) {
    Outcome read{0, "RT_ACK", "2.5", {{"value", "2.500000"}, {"value_type", "\"number\""}}};
    EXPECT_EQ(replyJson("read", R"("r1")", read),
              R"({"id":"r1","command":"read","status":0,"response":"RT_ACK","message":"2.5",)"
              R"("value":2.500000,"value_type":"number"})");
    EXPECT_EQ(errorReplyJson("sleep", "", "a \"quoted\" word"),
              R"({"id":null,"command":"sleep","status":2,"response":null,)"
              R"("message":"a \"quoted\" word"})");
}

}  // namespace
}  // namespace lyx::cli
