#include "tools/json.h"

#include <gtest/gtest.h>

#include "tools/base64.h"

namespace {

using tools::JsonValue;

TEST(Json, ParsesObjectsKeepingOrderAndNumberText) {
    std::string error;
    auto v = tools::ParseJson(R"({"b": 1.50, "a": [true, null, "x\u00e9\ud83d\ude00\n"], "c": {}})",
                              &error);
    ASSERT_TRUE(v) << error;
    ASSERT_EQ(v->members.size(), 3u);
    EXPECT_EQ(v->members[0].key, "b");
    EXPECT_EQ(v->members[0].value.text, "1.50");
    const JsonValue* a = v->Member("a");
    ASSERT_TRUE(a);
    ASSERT_EQ(a->items.size(), 3u);
    EXPECT_TRUE(a->items[0].boolean);
    EXPECT_EQ(a->items[1].kind, JsonValue::kNull);
    EXPECT_EQ(a->items[2].text, "x\xC3\xA9\xF0\x9F\x98\x80\n");
}

TEST(Json, RefusesMalformedTextWithItsColumn) {
    const char* bad[] = {"{\"a\": }",    "{\"a\" 1}",   "[1,]", "{\"a\": 01}",       "\"open",
                         "{\"a\": 1} x", "\"\\ud800\"", "tru",  "{\"a\": \"\x01\"}", "-"};
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(tools::ParseJson(text, &error)) << text;
        EXPECT_NE(error.find("column"), std::string::npos) << text;
    }
    std::string deep(100, '[');
    std::string error;
    EXPECT_FALSE(tools::ParseJson(deep, &error));
}

TEST(Json, WritesEscapedStringsThatReadBack) {
    std::string s = "quote\" back\\ tab\t nl\n nul";
    s += '\0';
    std::string out;
    tools::AppendJsonString(out, s);
    std::string error;
    auto v = tools::ParseJson(out, &error);
    ASSERT_TRUE(v) << error;
    EXPECT_EQ(v->text, s);
}

TEST(Json, TellsValidUtf8) {
    EXPECT_TRUE(tools::IsValidUtf8("plain \xC3\xA9 \xF0\x9F\x98\x80"));
    for (const char* bad : {"\xFF", "\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x82"}) {
        EXPECT_FALSE(tools::IsValidUtf8(bad)) << bad;
    }
}

TEST(Base64, RoundTripsEveryLengthAndRefusesBadText) {
    std::string bytes;
    for (int n = 0; n < 8; ++n) {
        auto back = tools::Base64Decode(tools::Base64Encode(bytes));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, bytes);
        bytes += char(0xF0 + n);
    }
    EXPECT_EQ(tools::Base64Encode("abc"), "YWJj");
    EXPECT_EQ(tools::Base64Encode("ab"), "YWI=");
    for (const char* bad : {"YWJ", "YW=j", "Y!Jj", "=WJj"}) EXPECT_FALSE(tools::Base64Decode(bad));
}

}  // namespace
