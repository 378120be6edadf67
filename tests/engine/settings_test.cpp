#include <gtest/gtest.h>

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

TEST(EngineSettings, DateFormatDrivesJulianTexts) {
    ASSERT_EQ(KdsSetDateFormat(reinterpret_cast<const UNSIGNED8*>("dd.MM.ccyy")), 0u);
    UNSIGNED8 buf[13];
    UNSIGNED16 len = sizeof buf;
    ASSERT_EQ(KdsConvertJulianToString(2451545.0, buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "01.01.2000");
    double julian = 0;
    ASSERT_EQ(
        KdsConvertStringToJulian(reinterpret_cast<const UNSIGNED8*>("29.02.2000"), 10, &julian),
        0u);
    EXPECT_EQ(julian, 2451604.0);
    EXPECT_EQ(
        KdsConvertStringToJulian(reinterpret_cast<const UNSIGNED8*>("30.02.2000"), 10, &julian),
        KCE_INVALID_DATE);
    EXPECT_NE(LastErrorText().find("'30.02.2000'"), std::string::npos);
    ASSERT_EQ(KdsSetDateFormat(reinterpret_cast<const UNSIGNED8*>("MM/dd/ccyy")), 0u);
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
