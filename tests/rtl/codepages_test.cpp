#include "rtl/codepages.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/python.h"

namespace {

TEST(CodePages, EveryByteOfEveryPageRoundTripsThroughUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    for (int number : {437, 850, 852, 865, 866, 1250, 1251, 1252, 1253, 1254, 1257}) {
        const rtl::CodePage* page = rtl::FindCodePage(number);
        ASSERT_NE(page, nullptr) << number;
        std::string utf8 = rtl::ToUtf8(*page, all);
        EXPECT_TRUE(rtl::IsUtf8(utf8)) << number;
        EXPECT_EQ(rtl::FromUtf8(*page, utf8), all) << number;
    }
    EXPECT_EQ(rtl::FindCodePage(65001), nullptr);
}

// Each byte that a page defines reads as the character Python's codecs give it (a round trip alone
// would pass a table with two characters swapped). Bytes Python leaves undefined are ours to map.
TEST(CodePages, EveryDefinedByteReadsAsPythonsCodecsReadIt) {
    if (!testsupport::HavePython()) GTEST_SKIP() << "/usr/bin/python3 is not installed";
    const int pages[] = {437, 850, 852, 865, 866, 1250, 1251, 1252, 1253, 1254, 1257};
    std::string script = "for page in (";
    for (int number : pages) script += std::to_string(number) + ",";
    script +=
        "):\n"
        "    row = []\n"
        "    for b in range(256):\n"
        "        try:\n"
        "            row.append(bytes([b]).decode('cp%d' % page).encode('utf-8').hex())\n"
        "        except UnicodeDecodeError:\n"
        "            row.append('-')\n"
        "    print(page, ' '.join(row))\n";
    bool ok = false;
    std::istringstream reference(testsupport::RunPython(script, &ok));
    ASSERT_TRUE(ok) << reference.str();
    for (int number : pages) {
        SCOPED_TRACE(number);
        const rtl::CodePage* page = rtl::FindCodePage(number);
        ASSERT_NE(page, nullptr);
        int named = 0;
        ASSERT_TRUE(reference >> named);
        ASSERT_EQ(named, number);
        int defined = 0, differ = 0;
        for (int b = 0; b < 256; ++b) {
            std::string hex;
            ASSERT_TRUE(reference >> hex);
            if (hex == "-") continue;
            ++defined;
            std::string expected;
            for (size_t i = 0; i + 1 < hex.size(); i += 2) {
                expected += char(std::stoi(hex.substr(i, 2), nullptr, 16));
            }
            if (rtl::ToUtf8(*page, std::string(1, char(b))) != expected && ++differ <= 3) {
                ADD_FAILURE() << "byte " << b << " reads as "
                              << rtl::ToUtf8(*page, std::string(1, char(b))) << ", not "
                              << expected;
            }
        }
        EXPECT_EQ(differ, 0);
        EXPECT_GE(defined, 239);
    }
}

TEST(CodePages, TextIsRefusedAtTheFirstCharacterThePageLacks) {
    const rtl::CodePage& ansi = rtl::DefaultCodePage();
    EXPECT_EQ(rtl::FromUtf8(ansi, "Zo\xC3\xAB \xE2\x82\xAC"), std::string("Zo\xEB \x80"));  // Zoë €
    struct Case {
        const char* utf8;
        size_t bad;
    } cases[] = {
        {"ab\xCE\xA9", 2},         // a Greek letter
        {"ab\xC3", 2},             // cut short
        {"\xC0\xAF", 0},           // an overlong '/'
        {"x\xED\xA0\x80", 1},      // a surrogate
        {"x\xF0\x9F\x98\x80", 1},  // outside the page
    };
    for (const Case& c : cases) {
        size_t bad = 99;
        EXPECT_FALSE(rtl::FromUtf8(ansi, c.utf8, &bad)) << c.utf8;
        EXPECT_EQ(bad, c.bad) << c.utf8;
    }
    EXPECT_EQ(rtl::FromUtf8Replacing(ansi, "a\xCE\xA9z", '?'), "a?z");
}

TEST(CodePages, DbfMarksNameTheirPagesAndOemPagesTranslate) {
    EXPECT_EQ(rtl::CodePageOfDbfMark(0x03).Number(), 1252);
    EXPECT_EQ(rtl::CodePageOfDbfMark(0x00).Number(), 1252);
    EXPECT_EQ(rtl::CodePageOfDbfMark(0x02).Number(), 850);
    EXPECT_EQ(rtl::CodePageOfDbfMark(0xC9).Number(), 1251);
    const rtl::CodePage& oem = *rtl::FindCodePage(850);
    const rtl::CodePage& ansi = *rtl::FindCodePage(oem.AnsiPartner());
    EXPECT_TRUE(oem.IsOem());
    EXPECT_EQ(rtl::Translate(oem, ansi, "\x89\x81"), std::string("\xEB\xFC"));  // ëü
    size_t bad = 0;
    EXPECT_FALSE(rtl::Translate(oem, ansi, "a\xB0", &bad));  // a shade block
    EXPECT_EQ(bad, 1u);
}

}  // namespace
