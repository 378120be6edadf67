#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/kce.h"
#include "tests/engine/engine_test_util.h"

namespace {

using kcetest::LastErrorText;
using kcetest::U;

// A native table of employees with an index on CODE and one on NAME.
class FilterTest : public kcetest::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        table_ = Create("EMP", "NAME,char,10;CODE,integer;HIRED,date;PAID,logical");
        const char* names[] = {"SMITH", "SMYTHE", "JONES", "ADAMS", "SMALL", "BROWN"};
        for (int i = 0; i < 6; ++i) Append(names[i], i + 1, i % 2 == 0);
        KDSHANDLE index = 0;
        ASSERT_EQ(KdsCreateIndex(table_, nullptr, U("BYCODE"), U("CODE"), nullptr, 0, &index), 0u)
            << LastErrorText();
        ASSERT_EQ(KdsCreateIndex(table_, nullptr, U("BYNAME"), U("NAME"), nullptr, 0, &byName_),
                  0u);
    }
    void Append(const std::string& name, int code, bool paid) {
        ASSERT_EQ(KdsAppendRecord(table_), 0u) << LastErrorText();
        std::string c = std::to_string(code);
        ASSERT_EQ(KdsSetField(table_, U("NAME"), U(name), UNSIGNED32(name.size())), 0u);
        ASSERT_EQ(KdsSetField(table_, U("CODE"), U(c), UNSIGNED32(c.size())), 0u);
        ASSERT_EQ(KdsSetField(table_, U("PAID"), U(paid ? "T" : "F"), 1), 0u);
        ASSERT_EQ(KdsSetField(table_, U("HIRED"), U("20010915"), 8), 0u);
        ASSERT_EQ(KdsWriteRecord(table_), 0u) << LastErrorText();
    }
    std::string Name(KDSHANDLE h) {
        UNSIGNED8 buf[64];
        UNSIGNED32 len = sizeof buf;
        EXPECT_EQ(KdsGetField(h, U("NAME"), buf, &len, 0), 0u) << LastErrorText();
        return std::string(reinterpret_cast<char*>(buf), len);
    }
    std::vector<std::string> Walk(KDSHANDLE h) {
        std::vector<std::string> seen;
        EXPECT_EQ(KdsGotoTop(h), 0u) << LastErrorText();
        UNSIGNED16 eof = 0;
        while (KdsAtEOF(h, &eof) == 0 && !eof && seen.size() < 100) {
            seen.push_back(Name(h));
            EXPECT_EQ(KdsSkip(h, 1), 0u) << LastErrorText();
        }
        return seen;
    }
    std::vector<std::string> WalkBack(KDSHANDLE h) {
        std::vector<std::string> seen;
        EXPECT_EQ(KdsGotoBottom(h), 0u) << LastErrorText();
        UNSIGNED16 bof = 0;
        while (KdsAtBOF(h, &bof) == 0 && !bof && seen.size() < 100) {
            seen.insert(seen.begin(), Name(h));
            EXPECT_EQ(KdsSkip(h, -1), 0u) << LastErrorText();
        }
        return seen;
    }
    UNSIGNED32 Count(KDSHANDLE h, UNSIGNED16 option) {
        UNSIGNED32 n = 0;
        EXPECT_EQ(KdsGetRecordCount(h, option, &n), 0u) << LastErrorText();
        return n;
    }
    UNSIGNED16 OptLevel() {
        UNSIGNED16 level = 0;
        EXPECT_EQ(KdsGetAOFOptLevel(table_, &level, nullptr, nullptr), 0u) << LastErrorText();
        return level;
    }

    using Names = std::vector<std::string>;
    KDSHANDLE table_ = 0;
    KDSHANDLE byName_ = 0;
};

TEST_F(FilterTest, FilterHoldsForMovesVisibilityAndCounts) {
    ASSERT_EQ(KdsSetFilter(table_, U("CODE > 2 .AND. .NOT. PAID")), 0u) << LastErrorText();
    EXPECT_EQ(Walk(table_), (Names{"ADAMS", "BROWN"}));
    EXPECT_EQ(WalkBack(table_), (Names{"ADAMS", "BROWN"}));
    EXPECT_EQ(Count(table_, KCE_RESPECT_FILTERS), 2u);
    EXPECT_EQ(Count(table_, KCE_IGNORE_FILTERS), 6u);
    ASSERT_EQ(KdsGotoRecord(table_, 1), 0u);
    UNSIGNED16 visible = 1;
    ASSERT_EQ(KdsIsRecordVisible(table_, &visible), 0u);
    EXPECT_EQ(visible, 0);
    // The index handles of the table honour it too.
    EXPECT_EQ(Walk(byName_), (Names{"ADAMS", "BROWN"}));
    ASSERT_EQ(KdsClearFilter(table_), 0u);
    EXPECT_EQ(KdsClearFilter(table_), KCE_NO_FILTER);
    EXPECT_EQ(Walk(table_).size(), 6u);
}

TEST_F(FilterTest, ExactSettingDecidesStringEquality) {
    UNSIGNED16 exact = 9;
    ASSERT_EQ(KdsGetExact22(table_, &exact), 0u);
    EXPECT_EQ(exact, 0);
    ASSERT_EQ(KdsSetFilter(table_, U("NAME = 'SM'")), 0u);
    EXPECT_EQ(Walk(table_), (Names{"SMITH", "SMYTHE", "SMALL"}));
    ASSERT_EQ(KdsSetExact22(table_, 1), 0u);
    ASSERT_EQ(KdsGetExact22(table_, &exact), 0u);
    EXPECT_EQ(exact, 1);
    EXPECT_TRUE(Walk(table_).empty());
    ASSERT_EQ(KdsSetFilter(table_, U("NAME = 'SMITH'")), 0u);
    EXPECT_EQ(Walk(table_), (Names{"SMITH"}));
    ASSERT_EQ(KdsSetExact22(table_, 0), 0u);
    ASSERT_EQ(KdsSetFilter(table_, U("NAME == 'SM'")), 0u);
    EXPECT_TRUE(Walk(table_).empty());
}

TEST_F(FilterTest, OptimizedFilterIsServedByAnIndexWhereItCanBe) {
    struct Case {
        const char* expression;
        UNSIGNED16 level;
        Names expected;
    } cases[] = {
        {"CODE >= 2 .AND. CODE < 5", 1, {"SMYTHE", "JONES", "ADAMS"}},
        {"NAME = 'SM' .AND. CODE > 1", 1, {"SMYTHE", "SMALL"}},
        {"4 < CODE", 1, {"SMALL", "BROWN"}},
        {"HIRED = CTOD('09/15/2001') .AND. PAID", 3, {"SMITH", "JONES", "SMALL"}},
        {"CODE = 3 .OR. CODE = 5", 3, {"JONES", "SMALL"}},
        {"'M' $ NAME", 3, {"SMITH", "SMYTHE", "ADAMS", "SMALL"}},
    };
    for (UNSIGNED16 resolution : {KCE_RESOLVE_IMMEDIATE, KCE_RESOLVE_DYNAMIC}) {
        for (const Case& c : cases) {
            ASSERT_EQ(KdsSetAOF(table_, U(c.expression), resolution), 0u) << LastErrorText();
            EXPECT_EQ(OptLevel(), c.level) << c.expression;
            EXPECT_EQ(Walk(table_), c.expected) << c.expression << " resolution " << resolution;
            EXPECT_EQ(WalkBack(table_), c.expected) << c.expression;
            EXPECT_EQ(Count(table_, KCE_RESPECT_FILTERS), c.expected.size()) << c.expression;
        }
    }
    // Dynamic resolution follows the table; immediate keeps the records found when it was set.
    ASSERT_EQ(KdsSetAOF(table_, U("CODE > 5"), KCE_RESOLVE_DYNAMIC), 0u);
    Append("DAVIS", 7, false);
    EXPECT_EQ(Walk(table_), (Names{"BROWN", "DAVIS"}));
    ASSERT_EQ(KdsSetAOF(table_, U("CODE > 5"), KCE_RESOLVE_IMMEDIATE), 0u);
    Append("EVANS", 8, false);
    EXPECT_EQ(Walk(table_), (Names{"BROWN", "DAVIS"}));
}

TEST_F(FilterTest, AofTextAndItsStatuses) {
    UNSIGNED8 buf[64];
    UNSIGNED16 len = sizeof buf;
    EXPECT_EQ(KdsGetAOF(table_, buf, &len), KCE_NO_FILTER);
    EXPECT_EQ(KdsClearAOF(table_), KCE_NO_FILTER);
    const std::string text = "NAME = 'SMI'";
    ASSERT_EQ(KdsSetAOF(table_, U(text), KCE_RESOLVE_DYNAMIC), 0u);
    len = 0;
    EXPECT_EQ(KdsGetAOF(table_, nullptr, &len), KCE_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len, text.size());
    len = 4;
    EXPECT_EQ(KdsGetAOF(table_, buf, &len), KCE_INSUFFICIENT_BUFFER);
    len = sizeof buf;
    ASSERT_EQ(KdsGetAOF(table_, buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), text);
    EXPECT_EQ(KdsSetAOF(table_, U(text), 3), KCE_INVALID_ARGUMENT);
    ASSERT_EQ(KdsClearAOF(table_), 0u);
    EXPECT_EQ(Walk(table_).size(), 6u);
}

// A text past 65,535 bytes cannot be described by a 16-bit length: never a cut text and success.
TEST_F(FilterTest, TextLongerThanAnyBufferGivesItsStatusAndLength) {
    const std::string text = "NAME = '" + std::string(70000, 'S') + "'";
    ASSERT_EQ(KdsSetFilter(table_, U(text)), 0u) << LastErrorText();
    std::vector<UNSIGNED8> buf(0xFFFF);
    for (UNSIGNED8* given : {buf.data(), static_cast<UNSIGNED8*>(nullptr)}) {
        UNSIGNED16 len = 0xFFFF;
        EXPECT_EQ(KdsGetFilter(table_, given, &len), KCE_INSUFFICIENT_BUFFER);
        EXPECT_EQ(len, 0xFFFF);
        EXPECT_NE(LastErrorText().find(std::to_string(text.size())), std::string::npos)
            << LastErrorText();
    }
    UNSIGNED16 len = 0xFFFF;
    EXPECT_EQ(KdsExpressionLongToShort(table_, U(text), buf.data(), &len), KCE_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len, 0xFFFF);
}

TEST_F(FilterTest, FiltersCombineWithScopesAndIndexOrder) {
    ASSERT_EQ(KdsSetScope(byName_, KCE_TOP, U("B"), 1, KCE_STRINGKEY), 0u);
    ASSERT_EQ(KdsSetScope(byName_, KCE_BOTTOM, U("SMI"), 3, KCE_STRINGKEY), 0u);
    EXPECT_EQ(Walk(byName_), (Names{"BROWN", "JONES", "SMALL", "SMITH"}));
    ASSERT_EQ(KdsSetFilter(byName_, U("PAID")), 0u);
    EXPECT_EQ(Walk(byName_), (Names{"JONES", "SMALL", "SMITH"}));
    ASSERT_EQ(KdsSetAOF(table_, U("CODE <> 3"), KCE_RESOLVE_DYNAMIC), 0u);
    EXPECT_EQ(Walk(byName_), (Names{"SMALL", "SMITH"}));
    EXPECT_EQ(WalkBack(byName_), (Names{"SMALL", "SMITH"}));
    EXPECT_EQ(Count(byName_, KCE_RESPECT_FILTERS), 2u);
    EXPECT_EQ(Count(byName_, KCE_RESPECT_SCOPES), 4u);
    // A seek lands on the first record at or after the key that passes the filters.
    UNSIGNED16 found = 0;
    ASSERT_EQ(KdsSeek(byName_, U("J"), 1, KCE_STRINGKEY, KCE_SOFTSEEK, &found), 0u);
    EXPECT_EQ(Name(byName_), "SMALL");
    EXPECT_EQ(found, 0);
    ASSERT_EQ(KdsSeek(byName_, U("JONES"), 5, KCE_STRINGKEY, KCE_HARDSEEK, &found), 0u);
    EXPECT_EQ(found, 0);
    UNSIGNED16 eof = 0;
    ASSERT_EQ(KdsAtEOF(byName_, &eof), 0u);
    EXPECT_EQ(eof, 1);
}

TEST_F(FilterTest, ShortFormRoundTripsThroughTheTable) {
    UNSIGNED8 buf[128];
    UNSIGNED16 len = sizeof buf;
    ASSERT_EQ(KdsExpressionLongToShort(table_, U("name='SMI*' .AND. Code>1"), buf, &len), 0u)
        << LastErrorText();
    std::string shortForm(reinterpret_cast<char*>(buf), len);
    EXPECT_EQ(shortForm, "@1='SMI*' .AND. @2>1");
    // A caller edits the literal of the short form (drops the trailing wildcard), then turns it
    // back into the long form and installs it.
    std::string edited = "@1='SMI' .AND. @2>1";
    len = sizeof buf;
    ASSERT_EQ(KdsExpressionShortToLong(table_, U(edited), buf, &len), 0u);
    std::string longForm(reinterpret_cast<char*>(buf), len);
    EXPECT_EQ(longForm, "NAME='SMI' .AND. CODE>1");
    ASSERT_EQ(KdsSetAOF(table_, U(longForm), KCE_RESOLVE_IMMEDIATE), 0u);
    EXPECT_TRUE(Walk(table_).empty());
    len = sizeof buf;
    EXPECT_EQ(KdsExpressionShortToLong(table_, U("@9 = 1"), buf, &len), KCE_EXPR_UNKNOWN_FIELD);
}

// A native field name may hold a blank; expressions write it in brackets, and the short form
// turns back into that spelling.
TEST_F(FilterTest, BracketedNamesReachFieldsWithABlank) {
    KDSHANDLE t = Create("IMPORT", "SECTION,char,10;FIELD NAME,char,10");
    for (const char* value : {"DUMMY", "OTHER", "DUMMY2"}) {
        ASSERT_EQ(KdsAppendRecord(t), 0u) << LastErrorText();
        ASSERT_EQ(KdsSetField(t, U("FIELD NAME"), U(value), UNSIGNED32(strlen(value))), 0u)
            << LastErrorText();
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    ASSERT_EQ(KdsSetFilter(t, U("[field name] == 'DUMMY' .OR. [FIELD NAME] = 'OT'")), 0u)
        << LastErrorText();
    UNSIGNED32 n = 0;
    ASSERT_EQ(KdsGetRecordCount(t, KCE_RESPECT_FILTERS, &n), 0u);
    EXPECT_EQ(n, 2u);
    UNSIGNED8 buf[128];
    UNSIGNED16 len = sizeof buf;
    ASSERT_EQ(KdsExpressionLongToShort(t, U("[field name]='D' .AND. [SECTION]=''"), buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "@2='D' .AND. @1=''");
    len = sizeof buf;
    ASSERT_EQ(KdsExpressionShortToLong(t, U("@2='D' .AND. @1=''"), buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "[FIELD NAME]='D' .AND. SECTION=''");
    for (const char* bad : {"FIELD NAME = 'D'", "[FIELD NAME = 'D'", "[] = 'D'"}) {
        EXPECT_NE(KdsSetFilter(t, U(bad)), 0u) << bad;
    }
    KdsCloseTable(t);
}

TEST_F(FilterTest, BadFiltersFailClearlyAndChangeNothing) {
    ASSERT_EQ(KdsSetFilter(table_, U("PAID")), 0u);
    struct Case {
        const char* text;
        KCESTATUS status;
        const char* detail;
    } cases[] = {
        {"CODE >", KCE_EXPR_SYNTAX, "unexpected end of expression at position 7"},
        {"NOPE = 1", KCE_EXPR_UNKNOWN_FIELD, "no field named 'NOPE' at position 1"},
        {"UPPER(CODE) = 'A'", KCE_EXPR_TYPE_MISMATCH, "UPPER: argument 1 must be character"},
        {"CODE + 1", KCE_EXPR_NOT_LOGICAL, "is numeric, not logical"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KdsSetFilter(table_, U(c.text)), c.status) << c.text;
        EXPECT_NE(LastErrorText().find(c.detail), std::string::npos) << LastErrorText();
        EXPECT_NE(LastErrorText().find("EMP"), std::string::npos) << LastErrorText();
        EXPECT_EQ(KdsSetAOF(table_, U(c.text), KCE_RESOLVE_DYNAMIC), c.status) << c.text;
    }
    // The filter set before stays in force.
    EXPECT_EQ(Walk(table_), (Names{"SMITH", "JONES", "SMALL"}));
    UNSIGNED8 buf[64];
    UNSIGNED16 len = sizeof buf;
    EXPECT_EQ(KdsGetAOF(table_, buf, &len), KCE_NO_FILTER);
    // A record the filter cannot be evaluated on is not shown.
    ASSERT_EQ(KdsSetFilter(table_, U("6 / (CODE - 3) > 0")), 0u);
    EXPECT_EQ(Walk(table_), (Names{"ADAMS", "SMALL", "BROWN"}));
}

}  // namespace
