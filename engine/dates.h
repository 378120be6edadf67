// Calendar arithmetic and the engine's date texts.
//
// Days are Julian day numbers (JDN): 0001-01-01 of the proleptic Gregorian calendar is 1721426.
// Day 0 stands for the empty date.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/kce.h"

namespace kce {

struct CivilDate {
    int year = 0;  // 1..9999
    int month = 0;
    int day = 0;
};

constexpr int64_t kJulianOfDayOne =
    KCE_JULIAN_DAY_ZERO + 1;                   // 0001-01-01, the first day a date can name
constexpr int64_t kJulianOfLastDay = 5373484;  // 9999-12-31, the last one
// 0000-01-01: native tables keep the days of year 0 too, which no date text of the engine names.
constexpr int64_t kJulianOfYearZero = 1721060;
constexpr uint32_t kMsPerDay = 86400000;

// Whether d names a real day of years `firstYear` to 9999 (native tables keep days of year 0 too).
bool IsValidCivil(const CivilDate& d, int firstYear = 1);
int64_t JulianFromCivil(const CivilDate& d);
CivilDate CivilFromJulian(int64_t julian);

// The eight-digit form year, month, day ("20010915") in which xBase files and compact dates keep a
// date, whatever the engine's date format. Only days of years 1 to 9999 are written; the empty date
// (0) is eight blanks.
std::string EightDigitDate(int64_t julian);
// Reads exactly eight digits year, month, day; nullopt for any other text and for digits that
// name no real day of years `firstYear` to 9999 (month 13, 30 February, year 0).
std::optional<int64_t> JulianFromEightDigits(std::string_view text, int firstYear = 1);
// The same on the eight bytes at p, as DBF date fields hold them.
inline std::optional<int64_t> JulianFromEightDigits(const uint8_t* p) {
    return JulianFromEightDigits(std::string_view(reinterpret_cast<const char*>(p), 8));
}

// Compact dates, three bytes: year * 2 plus the month's high bit, then the month's low three bits
// and the day. The Julian day of one, or -1 when its bytes name no day of years 0 to 9999.
int64_t JulianFromCompact(const uint8_t* p);
void CompactFromJulian(int64_t julian, uint8_t* p);

// A parsed engine date format: where year, month and day stand and how wide each is.
class DateFormat {
  public:
    // Parses a format such as "MM/dd/ccyy"; nullopt when it lacks a year, month or day run, has
    // one twice, or a year run that is neither 2 nor 4 letters long.
    static std::optional<DateFormat> Parse(std::string_view text);

    const std::string& Text() const { return text_; }
    // Writes a date; the empty date (0) as blanks of the format's length.
    std::string Format(int64_t julian) const;
    // Reads a date; a blank text gives 0, a text that does not fit the format or names no real
    // day gives nullopt. Two-digit years below 50 fall in 20xx, the others in 19xx.
    std::optional<int64_t> ParseDate(std::string_view text) const;

  private:
    enum class Part { kLiteral, kYear, kMonth, kDay };
    struct Run {
        Part part;
        int width;
        char literal;
    };
    std::string text_;
    Run runs_[12];
    int count_ = 0;
};

}  // namespace kce
