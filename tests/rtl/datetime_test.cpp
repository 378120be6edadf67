#include "rtl/datetime.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "rtl/exceptions.h"
#include "tests/support/python.h"

namespace rtl {
namespace {

// The settings the program runs with: month/day/four-digit year, 24-hour time.
TFormatSettings Usual() { return TFormatSettings{}; }

template <typename F>
std::string MessageOf(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(no exception)";
}

TEST(DateTime, DatesAcrossCenturiesEncodeDecodeAndReadBack) {
    struct Case {
        int y, m, d;
        double value;
        const char* text;
        int weekDay;
    };
    const Case cases[] = {
        {1, 1, 1, -693593, "01/01/0001", 2},   {1600, 2, 29, -109512, "02/29/1600", 3},
        {1850, 6, 1, -18109, "06/01/1850", 7}, {1899, 12, 29, -1, "12/29/1899", 6},
        {1899, 12, 30, 0, "12/30/1899", 7},    {1900, 1, 1, 2, "01/01/1900", 2},
        {1900, 3, 1, 61, "03/01/1900", 5},     {2000, 2, 29, 36585, "02/29/2000", 3},
        {2001, 3, 15, 36965, "03/15/2001", 5}, {9999, 12, 31, 2958465, "12/31/9999", 6},
    };
    const TFormatSettings s = Usual();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.value);
        int y, m, d;
        DecodeDate(c.value, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
        EXPECT_EQ(DayOfWeek(c.value), c.weekDay);
        EXPECT_EQ(DateToStr(c.value, s), c.text);
        EXPECT_EQ(StrToDate(c.text, s), c.value);
        EXPECT_EQ(StrToDateTime(c.text, s), c.value);
    }
}

// Every day Python's calendar names encodes to its distance from 1899-12-30, decodes back and
// falls on Python's weekday: a calendar that is wrong by a day somewhere fails here even when
// its encoding and decoding agree with each other.
TEST(DateTime, DaysAgreeWithPythonsCalendar) {
    if (!testsupport::HavePython()) GTEST_SKIP() << "/usr/bin/python3 is not installed";
    std::istringstream days(
        testsupport::RunPython("import datetime\n"
                               "days = set(range(1, datetime.date.max.toordinal() + 1, 97))\n"
                               "for y in (1600, 1700, 1900, 2000, 2100):\n"
                               "    days.update(range(datetime.date(y, 1, 1).toordinal(),\n"
                               "                      datetime.date(y, 12, 31).toordinal() + 1))\n"
                               "for n in sorted(days):\n"
                               "    d = datetime.date.fromordinal(n)\n"
                               "    print(d.year, d.month, d.day, n, d.isoweekday())\n"));
    const int kOrdinalOf18991230 = 693594;
    int y, m, d, ordinal, isoWeekDay, seen = 0, wrong = 0;
    while (days >> y >> m >> d >> ordinal >> isoWeekDay) {
        ++seen;
        const double value = ordinal - kOrdinalOf18991230;
        int y2 = 0, m2 = 0, d2 = 0;
        DecodeDate(value, y2, m2, d2);
        if ((EncodeDate(y, m, d) != value || y2 != y || m2 != m || d2 != d ||
             DayOfWeek(value) != isoWeekDay % 7 + 1) &&
            ++wrong <= 3) {
            ADD_FAILURE() << y << "-" << m << "-" << d << ": encodes to " << EncodeDate(y, m, d)
                          << ", not " << value << "; decodes to " << y2 << "-" << m2 << "-" << d2
                          << "; weekday " << DayOfWeek(value);
        }
    }
    EXPECT_GT(seen, 39000) << days.str().substr(0, 500);
    EXPECT_EQ(wrong, 0);
}

TEST(DateTime, InvalidDatesAndTimesAreRefused) {
    EXPECT_EQ(MessageOf([] { EncodeDate(1900, 2, 29); }), "Invalid argument to date encode");
    EXPECT_EQ(MessageOf([] { EncodeDate(10000, 1, 1); }), "Invalid argument to date encode");
    EXPECT_EQ(MessageOf([] { EncodeTime(24, 0, 0, 0); }), "Invalid argument to time encode");
    int y, m, d;
    EXPECT_EQ(MessageOf([&] { DecodeDate(3e6, y, m, d); }), "Invalid argument to date decode");
}

TEST(DateTime, TimesBeforeAndAfter1899KeepTheirTimeOfDay) {
    const TFormatSettings s = Usual();
    const struct {
        TDateTime value;
        const char* text;
    } cases[] = {
        {ComposeDateTime(EncodeDate(2001, 3, 15), EncodeTime(14, 30, 5, 0)), "03/15/2001 14:30:05"},
        {ComposeDateTime(EncodeDate(1850, 6, 1), EncodeTime(6, 0, 0, 0)), "06/01/1850 06:00:00"},
        {-1.25, "12/29/1899 06:00:00"},
        {0.5, "12/30/1899 12:00:00"},
        // Milliseconds alone do not bring the time into the text.
        {ComposeDateTime(EncodeDate(2001, 3, 15), EncodeTime(0, 0, 0, 250)), "03/15/2001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DateTimeToStr(c.value, s), c.text);
        const TDateTime back = StrToDateTime(c.text, s);
        EXPECT_EQ(DateTimeToStr(back, s), c.text);
        int h, n, sec, ms, h2, n2, sec2, ms2;
        DecodeTime(c.value, h, n, sec, ms);
        DecodeTime(back, h2, n2, sec2, ms2);
        EXPECT_EQ(h * 3600 + n * 60 + sec, h2 * 3600 + n2 * 60 + sec2);
    }
    EXPECT_EQ(-1.25, ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0)));
}

TEST(DateTime, DecodingRoundsToTheMillisecondAcrossMidnight) {
    const TDateTime v = EncodeDate(2001, 3, 15) + (kMSecsPerDay - 0.4) / kMSecsPerDay;
    int y, m, d, h, n, s, ms;
    DecodeDateTime(v, y, m, d, h, n, s, ms);
    EXPECT_EQ(std::vector<int>({y, m, d, h, n, s, ms}),
              std::vector<int>({2001, 3, 16, 0, 0, 0, 0}));
}

TEST(StrToTime, ReadsTwentyFourAndTwelveHourTimes) {
    const TFormatSettings s = Usual();
    const struct {
        const char* text;
        int h, n, sec, ms;
    } cases[] = {
        {"14:30:05", 14, 30, 5, 0}, {" 7:05 ", 7, 5, 0, 0},     {"2:30 PM", 14, 30, 0, 0},
        {"12:00 am", 0, 0, 0, 0},   {"12:15 PM", 12, 15, 0, 0}, {"23:59:59.999", 23, 59, 59, 999},
        {"9", 9, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToTime(c.text, s), EncodeTime(c.h, c.n, c.sec, c.ms));
    }
    EXPECT_EQ(TimeToStr(EncodeTime(14, 30, 5, 0), s), "14:30:05");

    // A twelve-hour long time format (as some locales give) reads back its own text.
    TFormatSettings twelve = s;
    twelve.LongTimeFormat = "hh:nn:ss AMPM";
    for (int hour : {0, 9, 12, 23}) {
        const TDateTime t = EncodeTime(hour, 5, 7, 0);
        EXPECT_EQ(StrToTime(TimeToStr(t, twelve), twelve), t) << TimeToStr(t, twelve);
    }
    EXPECT_EQ(TimeToStr(EncodeTime(0, 5, 7, 0), twelve), "12:05:07 AM");
}

TEST(StrToDate, MessagesNameTheTextExactly) {
    const TFormatSettings s = Usual();
    EXPECT_EQ(MessageOf([&] { StrToDate("02/30/2001", s); }), "'02/30/2001' is not a valid date");
    EXPECT_EQ(MessageOf([&] { StrToDate("03/15/2001 10:00", s); }),
              "'03/15/2001 10:00' is not a valid date");
    EXPECT_EQ(MessageOf([&] { StrToTime("25:00", s); }), "'25:00' is not a valid time");
    EXPECT_EQ(MessageOf([&] { StrToTime("13:00 PM", s); }), "'13:00 PM' is not a valid time");
    EXPECT_EQ(MessageOf([&] { StrToDateTime("03/15/2001 25:00", s); }),
              "'03/15/2001 25:00' is not a valid date and time");
    for (const char* bad : {"", "15.03.2001", "03/15/20011", "03/15/", "1/2/3/4", "03/15/2001x",
                            "03/15/200114:00", "12:60", "12:30:60", "0:30 PM"}) {
        SCOPED_TRACE(bad);
        TDateTime v;
        EXPECT_FALSE(TryStrToDateTime(bad, v, s));
    }
}

TEST(StrToDate, FollowsTheOrderAndSeparatorOfTheShortDateFormat) {
    TFormatSettings dmy;
    dmy.ShortDateFormat = "dd.MM.yy";
    dmy.DateSeparator = '.';
    EXPECT_EQ(DateToStr(EncodeDate(2001, 3, 15), dmy), "15.03.01");
    // Two-digit years fall within fifty years of the current one.
    EXPECT_EQ(StrToDate("15.03.01", dmy), EncodeDate(2001, 3, 15));
    EXPECT_EQ(StrToDate("15.3.1850", dmy), EncodeDate(1850, 3, 15));
    int y, m, d;
    DecodeDate(StrToDate("15.3", dmy), y, m, d);
    EXPECT_EQ(m * 100 + d, 315);

    TFormatSettings ymd;
    ymd.ShortDateFormat = "yyyy/mm/dd";
    ymd.DateSeparator = '-';
    EXPECT_EQ(DateToStr(EncodeDate(2001, 3, 15), ymd), "2001-03-15");
    EXPECT_EQ(StrToDate("2001-03-15", ymd), EncodeDate(2001, 3, 15));
    EXPECT_THROW(StrToDate("2001/03/15", ymd), EConvertError);
}

TEST(FormatDateTime, FormatLetters) {
    const TFormatSettings s = Usual();
    const TDateTime v = ComposeDateTime(EncodeDate(2001, 3, 5), EncodeTime(14, 7, 9, 25));
    const std::pair<const char*, const char*> cases[] = {
        {"dddd, mmmm d, yyyy", "Monday, March 5, 2001"},
        {"ddd mmm dd yy", "Mon Mar 05 01"},
        {"h:m:s", "14:7:9"},  // m after h is the minute
        {"hh:nn:ss.zzz", "14:07:09.025"},
        {"hh:nn am/pm", "02:07 pm"},
        {"h:nn A/P", "2:07 P"},
        {"hh ampm", "02 PM"},
        {"'yyyy' \"mm\" yyyy", "yyyy mm 2001"},
        {"c", "03/05/2001 14:07:09"},
        {"ddddd t", "03/05/2001 14:07"},
        {"tt", "14:07:09"},
        {"yyyy/mm/dd", "2001/03/05"},
    };
    for (auto [format, text] : cases) EXPECT_EQ(FormatDateTime(format, v, s), text) << format;
    TFormatSettings dots = s;
    dots.DateSeparator = '.';
    EXPECT_EQ(FormatDateTime("mm/dd/yyyy", v, dots), "03.05.2001");
    EXPECT_EQ(FormatDateTime("hh:nn am/pm", EncodeTime(0, 5, 0, 0), s), "12:05 am");
    // A date format that names itself ends; more distinct formats than a thread keeps read
    // once still write rightly.
    TFormatSettings selfNaming = s;
    selfNaming.ShortDateFormat = "ddddd";
    EXPECT_EQ(FormatDateTime("c", v, selfNaming), " 14:07:09");
    for (int k = 0; k < 40; ++k) {
        EXPECT_EQ(FormatDateTime("yyyy'-" + std::to_string(k) + "'", v, s),
                  "2001-" + std::to_string(k));
    }
}

}  // namespace
}  // namespace rtl
