#include "engine/dates.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/python.h"

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

// The Julian day numbers of the days Python's calendar names (its ordinal 1 is 0001-01-01, Julian
// day 1721426), both ways and under two text formats.
TEST(Dates, JulianDaysAgreeWithPythonsCalendar) {
    if (!testsupport::HavePython()) GTEST_SKIP() << "/usr/bin/python3 is not installed";
    std::istringstream days(testsupport::RunPython(
        "import datetime\n"
        "days = set(range(1, datetime.date.max.toordinal() + 1, 97))\n"
        "for y in (1600, 1700, 1900, 2000, 2100):\n"
        "    days.update(range(datetime.date(y, 1, 1).toordinal(),\n"
        "                      datetime.date(y, 12, 31).toordinal() + 1))\n"
        "for n in sorted(days):\n"
        "    d = datetime.date.fromordinal(n)\n"
        "    print(d.year, d.month, d.day, n, '%02d/%02d/%04d' % (d.month, d.day, d.year),\n"
        "          '%04d%02d%02d' % (d.year, d.month, d.day))\n"));
    const auto us = *DateFormat::Parse("MM/dd/ccyy");
    const auto dense = *DateFormat::Parse("ccyyMMdd");
    int y, m, d, seen = 0, wrong = 0;
    int64_t ordinal;
    std::string usText, denseText;
    while (days >> y >> m >> d >> ordinal >> usText >> denseText) {
        ++seen;
        const int64_t julian = ordinal + 1721425;
        const CivilDate back = CivilFromJulian(julian);
        if ((JulianFromCivil({y, m, d}) != julian || back.year != y || back.month != m ||
             back.day != d || us.Format(julian) != usText || us.ParseDate(usText) != julian ||
             dense.Format(julian) != denseText) &&
            ++wrong <= 3) {
            ADD_FAILURE() << denseText << ": Julian day " << JulianFromCivil({y, m, d}) << ", not "
                          << julian << "; reads " << us.Format(julian);
        }
    }
    EXPECT_GT(seen, 39000) << days.str().substr(0, 500);
    EXPECT_EQ(wrong, 0);
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
