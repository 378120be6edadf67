#include "engine/expr/expression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/dates.h"
#include "engine/expr/value.h"
#include "engine/status.h"

namespace kce {
namespace {

// A record image of one employee, laid out as the engine lays out native records.
class ExpressionTest : public ::testing::Test {
  protected:
    ExpressionTest()
        : schema_({{"NAME", 4, 0, 10, 0},
                   {"QTY", 2, 10, 6, 2},
                   {"HIRED", 3, 16, 4, 0},
                   {"PAID", 1, 20, 1, 0},
                   {"SALARY", 10, 21, 8, 0},
                   {"AGE", 11, 29, 4, 0},
                   {"STAMP", 14, 33, 8, 0},
                   {"START", 13, 41, 4, 0},
                   {"NOTE", 4, 45, 10, 0},
                   {"BORN", 9, 55, 3, 0}}),
          image_(58, 0),
          record_(schema_, image_.data(), image_.size()) {
        std::memcpy(&image_[0], "SMITH     ", 10);
        std::memcpy(&image_[10], "  5.50", 6);
        Put32(16, JulianFromCivil({2001, 9, 15}));
        image_[20] = 'T';
        double salary = -1234.5;
        std::memcpy(&image_[21], &salary, 8);
        Put32(29, 42);
        Put32(33, JulianFromCivil({2001, 9, 15}));
        Put32(37, (10 * 3600 + 30 * 60) * 1000);
        Put32(41, 8 * 3600 * 1000);
        // NOTE stays zeros: an empty field. BORN 0F A3 2F is 2001-09-15 as a compact date.
        image_[55] = 0x0F;
        image_[56] = 0xA3;
        image_[57] = 0x2F;
        record_.SetRecNo(7);
    }

    void Put32(size_t at, uint32_t v) { std::memcpy(&image_[at], &v, 4); }

    // Compiles and evaluates; the test fails on a compile or evaluation error.
    Value Eval(const std::string& text, bool exact = false) {
        std::unique_ptr<Expression> e;
        KCESTATUS s = Expression::Compile(text, schema_, &e);
        EXPECT_EQ(s, KCE_SUCCESS) << text << ": " << LastText();
        Value v;
        if (s == KCE_SUCCESS) {
            EXPECT_EQ(e->Evaluate(record_, exact, &v), KCE_SUCCESS) << text;
        }
        return v;
    }

    ExprSchema schema_;
    std::vector<uint8_t> image_;
    ImageRecord record_;
};

TEST_F(ExpressionTest, LogicalExpressionsOnARecord) {
    struct Case {
        const char* text;
        bool exact;
        bool expected;
    } cases[] = {
        {"NAME = 'SMI'", false, true},
        {"NAME = 'SMI'", true, false},
        {"NAME == 'SMI'", false, false},
        {"NAME = 'SMITH'", true, true},
        {"NAME == 'SMITH'", false, true},
        {"NAME = ''", false, true},
        {"NAME = ''", true, false},
        {"NAME <> 'SMI'", false, false},
        {"NAME # 'JONES'", true, true},
        {"'SMI' = NAME", false, false},
        {"NAME > 'SMITA' .AND. NAME < 'SMITZ'", false, true},
        {"NAME >= 'SMI'", false, true},
        {"'MIT' $ NAME", false, true},
        {"'mit' $ NAME", false, false},
        {"UPPER(LOWER(NAME)) = 'SMITH'", true, true},
        {"QTY = 5.5 .AND. QTY > 5 .AND. QTY < 6", false, true},
        {"SALARY < 0 .AND. -SALARY = 1234.5", false, true},
        {"AGE * 2 + 1 = 85 AND AGE % 5 = 2", false, true},
        {"HIRED = CTOD('09/15/2001')", false, true},
        {"HIRED = STOD('20010915') .AND. BORN = HIRED", false, true},
        {"HIRED + 1 > HIRED .AND. HIRED - CTOD('09/14/2001') = 1", false, true},
        {"YEAR(HIRED) = 2001 .AND. MONTH(HIRED) = 9 .AND. DAY(HIRED) = 15", false, true},
        {"PAID .AND. .NOT. .F. .AND. !.F. .AND. PAID = .TRUE.", false, true},
        {"PAID .OR. 1/0 = 1", false, true},
        {"EMPTY(NOTE) .AND. .NOT. EMPTY(NAME) .AND. EMPTY(0) .AND. !EMPTY(HIRED)", false, true},
        {"STAMP = CTOTS('09/15/2001 10:30:00')", false, true},
        {"STAMP > CTOTS('2001-09-15T10:29:59')", false, true},
        {"START = CTOT('08:00') .AND. START < CTOT('1:00 PM')", false, true},
        {"RECNO() = 7 .AND. .NOT. DELETED()", false, true},
        {"IIF(PAID, AGE, 0) = 42", false, true},
        {"(AGE = 1 .OR. AGE = 42) .AND. NOT (AGE = 1)", false, true},
        {"VAL('  12.50xyz') = 12.5 .AND. VAL('abc') = 0", false, true},
        {"LEN(NAME) = 10 .AND. LEN(TRIM(NAME)) = 5", false, true},
    };
    for (const Case& c : cases) {
        Value v = Eval(c.text, c.exact);
        EXPECT_EQ(v.type, ValueType::kLogical) << c.text;
        EXPECT_EQ(v.logical, c.expected) << c.text << " exact=" << c.exact;
    }
}

// Number text reads as the nearest double, whatever path it takes (a field, VAL(), a literal);
// digit by digit accumulation was one unit in the last place off for about a quarter of two-place
// decimals. The expected values are the compiler's own correctly rounded literals.
TEST_F(ExpressionTest, NumberTextReadsAsTheNearestDouble) {
    struct Case {
        const char* text;
        double expected;
        size_t used;
    } cases[] = {
        {"8704.23", 8704.23, 7},
        {"0.12", 0.12, 4},
        {"-870.17", -870.17, 7},
        {"  +0.29", 0.29, 7},
        {"123456.789", 123456.789, 10},
        {".5", 0.5, 2},
        {"5.", 5.0, 2},
        {"1e23", 1e23, 4},
        {"9007199254740993", 9007199254740992.0, 16},  // halfway: to even
        {"2.2250738585072011e-308", 2.2250738585072011e-308, 23},
        {"4.9e-324", 4.9e-324, 8},
        {"0.000000000000000000000000000000000000000000001", 1e-45, 47},
        {"1.5E+3 rest", 1500.0, 6},
        {"12.50xyz", 12.5, 5},
        {"7e", 7.0, 1},  // an exponent without digits is not read
        {"1e400", HUGE_VAL, 5},
        {"-1e400", -HUGE_VAL, 6},
        {"1e-400", 0.0, 6},
        {"0.00000e999999", 0.0, 14},
        {"abc", 0.0, 0},
        {"-", 0.0, 0},
        {".", 0.0, 0},
        {"", 0.0, 0},
    };
    for (const Case& c : cases) {
        size_t used = 99;
        double v = ReadNumberText(c.text, &used);
        EXPECT_EQ(std::memcmp(&v, &c.expected, sizeof v), 0) << c.text << " read as " << v;
        EXPECT_EQ(used, c.used) << c.text;
    }
    // The same through VAL(), a field, and a literal in a comparison.
    EXPECT_EQ(Eval("VAL('8704.23')").number, 8704.23);
    for (const char* text : {"870.17", "  0.12", "-98.29", "999.99", "  0.07"}) {
        std::memcpy(&image_[10], text, 6);
        std::string literal(text);
        literal.erase(0, literal.find_first_not_of(' '));
        Value v = Eval("QTY = " + literal + " .AND. QTY = VAL('" + literal + "')");
        EXPECT_TRUE(v.logical) << text;
        EXPECT_EQ(Eval("QTY").number, std::stod(literal)) << text;
    }
}

TEST_F(ExpressionTest, CharacterFunctions) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"TRIM(NAME) + '!'", "SMITH!"},
        {"RTRIM(NAME) + '|'", "SMITH|"},
        {"LTRIM('  ab ') + '|'", "ab |"},
        {"ALLTRIM('  ab ') + '|'", "ab|"},
        {"NAME - '!'", "SMITH!     "},
        {"SUBSTR(NAME, 2, 3)", "MIT"},
        {"SUBSTR(NAME, 4)", "TH     "},
        {"SUBSTR(NAME, 40, 2)", ""},
        {"LEFT(NAME, 2) + RIGHT(TRIM(NAME), 2)", "SMTH"},
        {"STR(AGE)", "        42"},
        {"STR(QTY, 6, 2)", "  5.50"},
        {"STR(123456, 3)", "***"},
        {"STR(-2.5, 5, 1)", " -2.5"},
        {"DTOS(HIRED)", "20010915"},
        {"DTOC(HIRED)", "09/15/2001"},
        {"DTOS(CTOD('garbage'))", "        "},
        {"DTOS(HIRED + 1E300) + DTOS(HIRED - 3000000)", "                "},
        {"DTOS(HIRED + 0.9) + DTOS(CTOD('12/31/9999') + 1)", "20010915        "},
        {"CHR(65) + CHR(66)", "AB"},
        {"NOTE", "          "},
        {"LOWER(\"A'B\")", "a'b"},
    };
    for (const Case& c : cases) {
        Value v = Eval(c.text);
        EXPECT_EQ(v.type, ValueType::kCharacter) << c.text;
        EXPECT_EQ(v.text, c.expected) << c.text;
    }
}

TEST_F(ExpressionTest, ErrorsNameWhatAndWhere) {
    struct Case {
        const char* text;
        KCESTATUS status;
        const char* detail;
    } cases[] = {
        {"NAME = 'SMI", KCE_EXPR_SYNTAX, "not closed at position 8"},
        {"NAME = = 'X'", KCE_EXPR_SYNTAX, "unexpected '=' at position 8"},
        {"(AGE = 1", KCE_EXPR_SYNTAX, "expected ')' to close the '(' at position 1"},
        {"AGE = 1 2", KCE_EXPR_SYNTAX, "unexpected number at position 9"},
        {"AGE ~ 1", KCE_EXPR_SYNTAX, "unexpected character '~' at position 5"},
        {"AGE = 1 .XOR. 2", KCE_EXPR_SYNTAX, "unexpected '.' at position 9"},
        {"NOSUCH = 1", KCE_EXPR_UNKNOWN_FIELD, "no field named 'NOSUCH' at position 1"},
        {"FROB(NAME)", KCE_EXPR_UNKNOWN_FUNCTION, "no function named 'FROB' at position 1"},
        {"SUBSTR(NAME)", KCE_EXPR_ARGUMENT_COUNT, "SUBSTR takes 2 to 3 arguments, given 1"},
        {"NAME = 5", KCE_EXPR_TYPE_MISMATCH,
         "operator = cannot combine character and numeric at position 6"},
        {"UPPER(AGE)", KCE_EXPR_TYPE_MISMATCH,
         "UPPER: argument 1 must be character, not numeric at position 7"},
        {"IIF(PAID, 1, 'x')", KCE_EXPR_TYPE_MISMATCH, "argument 3 must be numeric"},
        {".NOT. AGE", KCE_EXPR_TYPE_MISMATCH, ".NOT. needs a logical operand"},
        {"   ", KCE_EXPR_EMPTY, "no expression"},
        {"NAME = '\x01\xff", KCE_EXPR_SYNTAX, "not closed"},
        {"AGE = \x01", KCE_EXPR_SYNTAX, "unexpected byte 0x01 at position 7"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<Expression> e;
        EXPECT_EQ(Expression::Compile(c.text, schema_, &e), c.status) << c.text;
        EXPECT_EQ(LastStatus(), c.status);
        EXPECT_NE(LastText().find(c.detail), std::string::npos) << c.text << " -> " << LastText();
        EXPECT_EQ(e, nullptr);
    }
}

TEST_F(ExpressionTest, NestingIsBoundedWithoutCrashing) {
    std::unique_ptr<Expression> e;
    EXPECT_EQ(Expression::Compile(std::string(100000, '(') + "1", schema_, &e),
              KCE_EXPR_TOO_COMPLEX);
    EXPECT_EQ(Expression::Compile(std::string(100000, '-') + "1", schema_, &e),
              KCE_EXPR_TOO_COMPLEX);
    std::string chain = "AGE";
    for (int i = 0; i < 5000; ++i) chain += "+AGE";
    EXPECT_EQ(Expression::Compile(chain, schema_, &e), KCE_EXPR_TOO_COMPLEX);
    std::string fine = "AGE";
    for (int i = 0; i < 500; ++i) fine += "+1";
    ASSERT_EQ(Expression::Compile(fine, schema_, &e), KCE_SUCCESS);
    Value v;
    ASSERT_EQ(e->Evaluate(record_, false, &v), KCE_SUCCESS);
    EXPECT_EQ(v.number, 542);
}

TEST_F(ExpressionTest, FailureOnARecordIsAStatusAndAFilterMiss) {
    std::unique_ptr<Expression> e;
    ASSERT_EQ(Expression::Compile("AGE / (AGE - 42) > 1", schema_, &e), KCE_SUCCESS);
    Value v;
    EXPECT_EQ(e->Evaluate(record_, false, &v), KCE_EXPR_EVAL_FAILED);
    EXPECT_NE(LastText().find("division by zero at position 5"), std::string::npos) << LastText();
    EXPECT_NE(LastText().find("on record 7"), std::string::npos);
    EXPECT_FALSE(e->Matches(record_, false));
}

TEST_F(ExpressionTest, ShortFormRoundTrips) {
    struct Case {
        const char* longForm;
        const char* shortForm;
    } cases[] = {
        {"NAME='SMI*'", "@1='SMI*'"},
        {"upper(name) = \"NAME\" .AND. Qty>5", "upper(@1) = \"NAME\" .AND. @2>5"},
        {"EMPTY(NOTE) .OR. 'AGE' $ NOTE", "EMPTY(@9) .OR. 'AGE' $ @9"},
        {"UNKNOWN = 1", "UNKNOWN = 1"},
    };
    for (const Case& c : cases) {
        std::string shortForm, longForm;
        ASSERT_EQ(ExpressionLongToShort(c.longForm, schema_, &shortForm), KCE_SUCCESS);
        EXPECT_EQ(shortForm, c.shortForm);
        ASSERT_EQ(ExpressionShortToLong(shortForm, schema_, &longForm), KCE_SUCCESS);
        // Field names come back as the table spells them.
        std::string expected = c.longForm;
        if (expected.find("name") != std::string::npos) {
            expected = "upper(NAME) = \"NAME\" .AND. QTY>5";
        }
        EXPECT_EQ(longForm, expected);
    }
    std::string out;
    EXPECT_EQ(ExpressionShortToLong("@11 = 1", schema_, &out), KCE_EXPR_UNKNOWN_FIELD);
    EXPECT_NE(LastText().find("no field number @11 at position 1"), std::string::npos);
    EXPECT_EQ(ExpressionLongToShort("NAME = 'open", schema_, &out), KCE_EXPR_SYNTAX);
}

TEST(CharacterComparison, ExactSettingAndPadding) {
    struct Case {
        const char* left;
        const char* right;
        bool inexact;
        bool exact;
        int order;
    } cases[] = {
        {"ABC", "AB", true, false, 1},     {"AB", "ABC", false, false, -1},
        {"AB  ", "AB", true, true, 0},     {"AB", "AB  ", true, true, 0},
        {"AB", "", true, false, 1},        {"", "", true, true, 0},
        {"AB\x01", "AB", true, false, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CharacterEquals(c.left, c.right, false), c.inexact) << c.left << "|" << c.right;
        EXPECT_EQ(CharacterEquals(c.left, c.right, true), c.exact) << c.left << "|" << c.right;
        EXPECT_EQ(CharacterCompare(c.left, c.right), c.order) << c.left << "|" << c.right;
    }
}

}  // namespace
}  // namespace kce
