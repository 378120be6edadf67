#include "tools/json.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "tests/support/python.h"
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

// Strings we write are read by Python's json module as the same characters, and the JSON Python
// writes for them (\u escapes with surrogate pairs, or raw UTF-8) reads back here as the same
// bytes; every control character, the escapes, characters of two to four bytes among them.
// Numbers keep the text Python wrote. Base64 is compared with Python's base64 module.
TEST(Json, AgreesWithPythonsJsonAndBase64) {
    if (!testsupport::HavePython()) GTEST_SKIP() << "/usr/bin/python3 is not installed";
    std::vector<std::string> strings = {"",
                                        "plain",
                                        "quote\" back\\ slash/",
                                        "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                                        "line\xE2\x80\xA8sep",
                                        "\x7F del"};
    std::string controls;
    for (int c = 0; c < 0x20; ++c) controls += char(c);
    strings.push_back(controls);
    std::string bytes;  // every byte once, for base64
    for (int b = 0; b < 256; ++b) bytes += char(b);
    testsupport::ScopedTempDir dir("json-python");
    {
        std::ofstream out(dir / "ours.jsonl", std::ios::binary);
        for (const std::string& s : strings) {
            std::string line;
            tools::AppendJsonString(line, s);
            out << line << "\n";
        }
    }
    for (size_t n : {0, 1, 2, 3, 4, 255, 256}) {
        std::ofstream(dir / ("b" + std::to_string(n)), std::ios::binary) << bytes.substr(0, n);
    }
    bool ok = false;
    std::istringstream answer(testsupport::RunPython(
        "import base64, json\n"
        "folder = '" +
            dir.Path().string() +
            "'\n"
            "for line in open(folder + '/ours.jsonl', encoding='utf-8'):\n"
            "    s = json.loads(line)\n"
            "    print('read', s.encode('utf-8').hex() or '-')\n"
            "    print('ascii', json.dumps(s, ensure_ascii=True))\n"
            "    print('utf8', json.dumps(s, ensure_ascii=False).encode('utf-8').hex())\n"
            "print('number', json.dumps([1.5, -0.0, 1e-7, 2**70, 0.1 + 0.2]))\n"
            "for n in (0, 1, 2, 3, 4, 255, 256):\n"
            "    data = open(folder + '/b%d' % n, 'rb').read()\n"
            "    print('base64', base64.b64encode(data).decode() or '-')\n",
        &ok));
    ASSERT_TRUE(ok) << answer.str();
    auto hex = [](const std::string& h) {
        std::string out;
        for (size_t i = 0; h != "-" && i + 1 < h.size(); i += 2) {
            out += char(std::stoi(h.substr(i, 2), nullptr, 16));
        }
        return out;
    };
    auto parsed = [](const std::string& text) {
        std::string error;
        auto v = tools::ParseJson(text, &error);
        EXPECT_TRUE(v) << text << ": " << error;
        return v ? v->text : std::string("(refused)");
    };
    std::string tag, value;
    for (const std::string& s : strings) {
        SCOPED_TRACE(testing::PrintToString(s));
        ASSERT_TRUE(answer >> tag >> value);
        EXPECT_EQ(tag, "read");
        EXPECT_EQ(hex(value), s);
        ASSERT_TRUE(answer >> tag >> std::ws && std::getline(answer, value));
        EXPECT_EQ(tag, "ascii");
        EXPECT_EQ(parsed(value), s) << value;
        ASSERT_TRUE(answer >> tag >> value);
        EXPECT_EQ(tag, "utf8");
        EXPECT_EQ(parsed(hex(value)), s);
    }
    ASSERT_TRUE(answer >> tag >> std::ws && std::getline(answer, value));
    EXPECT_EQ(tag, "number");
    std::string error;
    auto numbers = tools::ParseJson(value, &error);
    ASSERT_TRUE(numbers) << value << ": " << error;
    std::vector<std::string> texts;
    for (const JsonValue& n : numbers->items) texts.push_back(n.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"1.5", "-0.0", "1e-07", "1180591620717411303424",
                                               "0.30000000000000004"}));
    for (size_t n : {0, 1, 2, 3, 4, 255, 256}) {
        ASSERT_TRUE(answer >> tag >> value);
        EXPECT_EQ(tag, "base64");
        if (value == "-") value.clear();
        EXPECT_EQ(tools::Base64Encode(bytes.substr(0, n)), value) << n;
        EXPECT_EQ(tools::Base64Decode(value), bytes.substr(0, n)) << n;
    }
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
