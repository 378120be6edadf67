#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/kce.h"

namespace {

std::string LastErrorText() {
    UNSIGNED32 code = 0;
    UNSIGNED8 buf[601];
    UNSIGNED16 len = 600;
    EXPECT_EQ(KdsGetLastError(&code, buf, &len), 0u);
    return std::string(reinterpret_cast<char*>(buf), len);
}

void SetDateFormat(const char* format) {
    ASSERT_EQ(KdsSetDateFormat(reinterpret_cast<const UNSIGNED8*>(format)), 0u) << format;
}

// Julian day of 15 September 2001.
constexpr double kSept15 = 2452168.0;

TEST(EngineSettings, DateTextsReadEightDigitsWhateverTheFormat) {
    struct Case {
        const char* format;
        std::string text;  // all of it is passed, zero bytes included
        KCESTATUS status;
        double julian;
    };
    const Case cases[] = {
        {"MM/dd/ccyy", "20010915", 0, kSept15},
        {"dd.MM.yy", "20010915", 0, kSept15},
        // Eight digits win over a format without separators that they would fit too.
        {"ddMMccyy", "20010915", 0, kSept15},
        {"ddMMccyy", "15092001", KCE_INVALID_DATE, -1},
        // A formatted date still reads under the engine's format.
        {"MM/dd/ccyy", "09/15/2001", 0, kSept15},
        {"dd.MM.yy", "15.09.01", 0, kSept15},
        {"MM/dd/ccyy", "02/30/2001", KCE_INVALID_DATE, -1},
        {"MM/dd/ccyy", std::string("20010915\0\0\0\0\0", 13), 0, kSept15},
        {"MM/dd/ccyy", "20010915  ", 0, kSept15},
        {"MM/dd/ccyy", "        ", 0, 0},
        {"MM/dd/ccyy", "", 0, 0},
        {"MM/dd/ccyy", "00010101", 0, 1721426},
        {"MM/dd/ccyy", "99991231", 0, 5373484},
        {"MM/dd/ccyy", "20011315", KCE_INVALID_DATE, -1},
        {"MM/dd/ccyy", "20010229", KCE_INVALID_DATE, -1},
        {"MM/dd/ccyy", "00000000", KCE_INVALID_DATE, -1},
        {"MM/dd/ccyy", "2001091", KCE_INVALID_DATE, -1},
        {"MM/dd/ccyy", "2001-09-15", KCE_INVALID_DATE, -1},
        {"MM/dd/ccyy", " 20010915", KCE_INVALID_DATE, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " '" + c.text + "'");
        SetDateFormat(c.format);
        double julian = -1;
        EXPECT_EQ(KdsConvertStringToJulian(reinterpret_cast<const UNSIGNED8*>(c.text.data()),
                                           static_cast<UNSIGNED16>(c.text.size()), &julian),
                  c.status);
        EXPECT_EQ(julian, c.julian);
    }
    SetDateFormat("MM/dd/ccyy");
    double julian = 0;
    ASSERT_EQ(KdsConvertStringToJulian(reinterpret_cast<const UNSIGNED8*>("20010230"), 8, &julian),
              KCE_INVALID_DATE);
    EXPECT_NE(LastErrorText().find("'20010230'"), std::string::npos);
}

TEST(EngineSettings, DatesWriteEightDigitsWhateverTheFormat) {
    struct Case {
        double julian;
        KCESTATUS status;
        std::string text;
    };
    const Case cases[] = {
        {kSept15, 0, "20010915"},
        {kSept15 + 0.75, 0, "20010915"},
        {0, 0, "        "},
        {1721426, 0, "00010101"},
        {5373484, 0, "99991231"},
        {1721425, KCE_INVALID_DATE, ""},
        {5373485, KCE_INVALID_DATE, ""},
        {-1, KCE_INVALID_DATE, ""},
        {1e300, KCE_INVALID_DATE, ""},
        {std::nan(""), KCE_INVALID_DATE, ""},
    };
    for (const char* format : {"MM/dd/ccyy", "dd.MM.yy"}) {
        SetDateFormat(format);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(format) + " " + std::to_string(c.julian));
            UNSIGNED8 buf[13];
            UNSIGNED16 len = sizeof buf;
            ASSERT_EQ(KdsConvertJulianToString(c.julian, buf, &len), c.status);
            if (c.status == 0) {
                EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), c.text);
            }
        }
    }
    SetDateFormat("MM/dd/ccyy");
}

TEST(EngineSettings, EveryKindOfDayRoundTripsThroughItsText) {
    // Steps of 97 days touch every month, leap days and all four centuries' rules.
    for (double julian = 1721426; julian <= 5373484; julian += 97) {
        UNSIGNED8 buf[13];
        UNSIGNED16 len = sizeof buf;
        ASSERT_EQ(KdsConvertJulianToString(julian, buf, &len), 0u) << julian;
        ASSERT_EQ(len, 8) << julian;
        double back = 0;
        ASSERT_EQ(KdsConvertStringToJulian(buf, len, &back), 0u) << julian;
        ASSERT_EQ(back, julian);
    }
}

TEST(EngineSettings, RefusedValuesKeepTheOldOne) {
    EXPECT_EQ(KdsSetDateFormat(reinterpret_cast<const UNSIGNED8*>("nonsense")),
              KCE_INVALID_DATE_FORMAT);
    UNSIGNED8 buf[20];
    UNSIGNED16 len = sizeof buf;
    ASSERT_EQ(KdsGetDateFormat(buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "MM/dd/ccyy");
    EXPECT_EQ(KdsSetServerType(0), KCE_INVALID_SERVER_TYPE);
    UNSIGNED16 mask = 0;
    ASSERT_EQ(KdsGetServerType(&mask), 0u);
    EXPECT_EQ(mask, 1);
}

TEST(EngineSettings, TextResultsFollowBufferConvention) {
    UNSIGNED8 small[4];
    UNSIGNED16 len = sizeof small;
    EXPECT_EQ(KdsGetErrorString(KCE_TABLE_NOT_FOUND, small, &len), KCE_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len, std::string("the table was not found").size());
    len = 0;
    EXPECT_EQ(KdsGetErrorString(KCE_TABLE_NOT_FOUND, nullptr, &len), 0u);
    EXPECT_EQ(len, std::string("the table was not found").size());
    EXPECT_EQ(KdsGetErrorString(123456, small, &len), KCE_INVALID_ARGUMENT);
}

}  // namespace
