#include "engine/dates.h"

#include <gtest/gtest.h>

namespace kce {
namespace {

TEST(Dates, JulianRoundTripsAcrossCenturies) {
    struct Case {
        CivilDate date;
        int64_t julian;
    } cases[] = {
        {{1, 1, 1}, 1721426},      {{1582, 10, 15}, 2299161}, {{1899, 12, 30}, 2415019},
        {{2000, 1, 1}, 2451545},   {{2000, 2, 29}, 2451604},  {{2100, 3, 1}, 2488129},
        {{9999, 12, 31}, 5373484},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JulianFromCivil(c.date), c.julian) << c.date.year;
        CivilDate back = CivilFromJulian(c.julian);
        EXPECT_EQ(back.year, c.date.year);
        EXPECT_EQ(back.month, c.date.month);
        EXPECT_EQ(back.day, c.date.day);
    }
}

TEST(Dates, FormatParsesOnlyCompleteFormats) {
    for (const char* good : {"MM/dd/ccyy", "dd.MM.yy", "ccyyMMdd", "yyyy-mm-dd", "DD/MM/YYYY"})
        EXPECT_TRUE(DateFormat::Parse(good)) << good;
    for (const char* bad :
         {"", "MM/dd", "MM/dd/yyy", "MM/dd/ccyy/MM", "M/d/yyyy", "MM/dd/ccyy-xxxx"})
        EXPECT_FALSE(DateFormat::Parse(bad)) << bad;
}

TEST(Dates, TextRoundTripsUnderFormat) {
    auto us = *DateFormat::Parse("MM/dd/ccyy");
    EXPECT_EQ(us.Format(2451545), "01/01/2000");
    EXPECT_EQ(us.Format(0), "          ");
    EXPECT_EQ(us.ParseDate("12/31/1999"), 2451544);
    EXPECT_EQ(us.ParseDate("   "), 0);
    EXPECT_FALSE(us.ParseDate("02/30/2000"));
    EXPECT_FALSE(us.ParseDate("1/1/2000"));
    auto dense = *DateFormat::Parse("ccyyMMdd");
    EXPECT_EQ(dense.Format(JulianFromCivil({1850, 7, 4})), "18500704");
    auto shortYear = *DateFormat::Parse("dd.MM.yy");
    EXPECT_EQ(shortYear.ParseDate("01.01.49"), JulianFromCivil({2049, 1, 1}));
    EXPECT_EQ(shortYear.ParseDate("01.01.50"), JulianFromCivil({1950, 1, 1}));
}

}  // namespace
}  // namespace kce
