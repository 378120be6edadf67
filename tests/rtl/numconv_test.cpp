#include "rtl/numconv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "rtl/exceptions.h"

namespace rtl {
namespace {

TEST(FloatToStr, WritesGeneralFormatAndReadsItBack) {
    struct Case {
        double value;
        const char* text;
        bool exact = true;  // the text holds every digit of the value
    };
    const Case cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {1.0, "1"},
        {-1.5, "-1.5"},
        {1234.5, "1234.5"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.3", false},  // 17 significant digits arrive rounded to 15
        {1.0 / 3.0, "0.333333333333333", false},
        {-2.0 / 3.0, "-0.666666666666667", false},
        {123456789012345.0, "123456789012345"},
        {999999999999999.0, "999999999999999"},
        {999999999999999.9, "1E15", false},  // rounds up across the boundary
        {1e15, "1E15"},
        {-1e15, "-1E15"},
        {1.5e20, "1.5E20"},
        {123456789012345678.0, "1.23456789012346E17", false},
        {0.00001, "0.00001"},
        {-0.00001, "-0.00001"},
        {0.000012345, "0.000012345"},
        {9.9e-6, "9.9E-6"},
        {-2e-7, "-2E-7"},
        {1.7976931348623157e308, "1.79769313486232E308", false},
        {5e-324, "4.94065645841247E-324", false},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string text = FloatToStr(c.value);
        EXPECT_EQ(text, c.text);
        const double back = StrToFloat(text);
        EXPECT_EQ(FloatToStr(back), text);
        if (c.exact) {
            EXPECT_EQ(back, c.value);
        }
    }
    EXPECT_TRUE(std::isnan(StrToFloat(FloatToStr(std::nan("")))));
}

// Every precision names the same number printf's %.*e names, over doubles of every magnitude
// (random bit patterns), subnormals and short decimals (where the shortest text is taken). The
// texts are compared as long doubles, which tell apart decimals that round to one double.
TEST(FloatToStr, RoundsAsPrintfDoesAtEveryPrecision) {
    std::mt19937_64 random(20240917);
    std::vector<double> values;
    for (int i = 0; i < 4000; ++i) {
        uint64_t bits = random();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v) && v != 0) values.push_back(v);
        values.push_back(static_cast<double>(random() % 100000000) / 100.0 - 400000.0);
        values.push_back(std::numeric_limits<double>::denorm_min() * static_cast<double>(i + 1));
    }
    values.push_back(std::numeric_limits<double>::min());
    values.push_back(std::numeric_limits<double>::max());
    for (double v : values) {
        for (int precision = 1; precision <= 17; ++precision) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%.*e", precision - 1, v);
            const std::string text = FloatToStrGeneral(v, precision, '.');
            ASSERT_EQ(std::strtold(text.c_str(), nullptr), std::strtold(expected, nullptr))
                << text << " against " << expected << " at precision " << precision;
        }
    }
}

TEST(FloatToStr, UsesTheDecimalSeparatorOfTheSettings) {
    TFormatSettings comma;
    comma.DecimalSeparator = ',';
    EXPECT_EQ(FloatToStr(1234.5, comma), "1234,5");
    EXPECT_EQ(FloatToStr(1.5e-7, comma), "1,5E-7");
    EXPECT_EQ(StrToFloat("1234,5", comma), 1234.5);
    double v;
    EXPECT_FALSE(TryStrToFloat("1234.5", v, comma));
}

// Decimal texts of every length, with and without sign, point and exponent, read exactly as the
// C library reads them.
TEST(StrToFloat, ReadsDecimalsAsTheCLibraryDoes) {
    const TFormatSettings cSettings;  // "." as the decimal separator, as the C library reads
    std::mt19937_64 random(77);
    for (int i = 0; i < 20000; ++i) {
        std::string text = i % 3 == 0 ? "-" : i % 3 == 1 ? "+" : "";
        const int digits = 1 + static_cast<int>(random() % 19);
        const int point = static_cast<int>(random() % (digits + 1));
        for (int d = 0; d < digits; ++d) {
            if (d == point && d > 0) text += '.';
            text += static_cast<char>('0' + random() % 10);
        }
        if (i % 7 == 0) text += "e" + std::to_string(static_cast<int>(random() % 40) - 20);
        double value = 0;
        ASSERT_TRUE(TryStrToFloat(text, value, cSettings)) << text;
        EXPECT_EQ(value, std::strtod(text.c_str(), nullptr)) << text;
        EXPECT_EQ(std::signbit(value), std::signbit(std::strtod(text.c_str(), nullptr))) << text;
    }
}

TEST(StrToFloat, AcceptsBlanksSignsAndExponents) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {{" 1.5 ", 1.5},  {"+2", 2},        {"-.5", -0.5},     {"5.", 5},
                          {"1e3", 1000},   {"1E-3", 0.001},  {"-1.5e+2", -150}, {"007", 7},
                          {"1e-400", 0.0}, {"inf", INFINITY}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToFloat(c.text), c.value);
    }
}

TEST(StrToFloat, RefusesOtherTextsWithTheExactMessage) {
    for (const char* text :
         {"", " ", "-", ".", "1.2.3", "1e", "e5", "1,5", "abc", "1 2", "1e999", "0x10", "1.5x"}) {
        SCOPED_TRACE(text);
        double v;
        EXPECT_FALSE(TryStrToFloat(text, v));
    }
    try {
        StrToFloat("abc");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
    }
}

TEST(StrToInt, ReadsDecimalAndHexadecimal) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {{"0", 0},
                          {" 42", 42},
                          {"\t-17", -17},
                          {"+5", 5},
                          {"$1F", 31},
                          {"x1f", 31},
                          {"0x1F", 31},
                          {"0X1f", 31},
                          {"-$10", -16},
                          {"2147483647", 2147483647},
                          {"-2147483648", INT32_MIN},
                          {"$7FFFFFFF", INT32_MAX},
                          {"$FFFFFFFF", -1},
                          {"00012", 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToInt(c.text), c.value);
    }
    EXPECT_EQ(StrToInt(IntToStr(INT32_MIN)), INT32_MIN);
}

TEST(StrToInt, RefusesWhatIsNotA32BitInteger) {
    for (const char* text : {"", " ", "42 ", "1.5", "2147483648", "-2147483649", "$", "0x", "$1G",
                             "1e3", "- 5", "$100000000", "+-1", "12a"}) {
        SCOPED_TRACE(text);
        int32_t v;
        EXPECT_FALSE(TryStrToInt(text, v));
    }
    try {
        StrToInt("1.5");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'1.5' is not a valid integer value");
    }
    EXPECT_EQ(StrToIntDef("x", 7), 7);
}

TEST(StrToInt64, CoversTheWholeRange) {
    EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(StrToInt64("4294967296"), 4294967296LL);
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(IntToHex(255, 4), "00FF");
}

TEST(Round, HalvesGoToTheEvenNeighbour) {
    const std::pair<double, int64_t> cases[] = {{2.5, 2},    {3.5, 4},  {-2.5, -2},
                                                {-3.5, -4},  {0.5, 0},  {1.5, 2},
                                                {2.4999, 2}, {-0.4, 0}, {1e15, 1000000000000000}};
    for (auto [value, rounded] : cases) EXPECT_EQ(Round(value), rounded) << value;
    EXPECT_THROW(Round(std::nan("")), EInvalidCast);
    EXPECT_THROW(Round(1e19), EInvalidCast);
}

TEST(Currency, HoldsTenThousandthsAndWritesThemExactly) {
    EXPECT_EQ(DoubleToCurrency(1234.5).Units, 12345000);
    EXPECT_EQ(DoubleToCurrency(-1234.5).Units, -12345000);
    EXPECT_EQ(CurrToStr(DoubleToCurrency(1234.5)), "1234.5");
    EXPECT_EQ(CurrToStr(Currency{-1}), "-0.0001");
    EXPECT_EQ(CurrToStr(Currency{0}), "0");
    EXPECT_EQ(CurrToStr(Currency{INT64_MIN}), "-922337203685477.5808");
    EXPECT_EQ(CurrencyToDouble(StrToCurr("12.34567")), 12.3457);
    EXPECT_THROW(DoubleToCurrency(1e300), EInvalidCast);
}

}  // namespace
}  // namespace rtl
