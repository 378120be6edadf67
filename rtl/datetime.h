// Date-time values and their text forms.
//
// A TDateTime counts days since 30 December 1899; the fraction is the time of day. Before that
// day the value is negative and the fraction still counts forward from midnight: -1.25 is
// 29 December 1899 at 6:00. Years 1 to 9999 of the proleptic Gregorian calendar are valid.
//
// Format letters (case does not matter, except that "am/pm" and "a/p" keep the case written):
//   d dd ddd dddd   day, two-digit day, short and long day name
//   ddddd dddddd    short and long date format
//   m mm mmm mmmm   month (minutes right after an hour letter), short and long month name
//   yy yyyy         two- and four-digit year
//   h hh n nn s ss  hour (12-hour when an am/pm letter follows anywhere), minute, second
//   z zzz           milliseconds
//   t tt c          short time, long time, short date + long time (time left out at midnight)
//   am/pm a/p ampm  the marks of a 12-hour clock (ampm: TimeAMString, TimePMString)
//   / :             the date and time separators of the settings
//   "x" 'x'         literal text
#pragma once

#include <cstdint>
#include <string>

#include "rtl/formatsettings.h"

namespace rtl {

using TDateTime = double;

inline constexpr int64_t kMSecsPerDay = 86400000;
// Days from 1 January of year 1 (day 1) to 30 December 1899 (TDateTime 0).
inline constexpr int64_t kDateDelta = 693594;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Failure raises EConvertError "Invalid argument to date encode" / "... time encode".
TDateTime EncodeDate(int year, int month, int day);
bool TryEncodeDate(int year, int month, int day, TDateTime& value);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value);
// A date (whole days) and a time of day (a fraction) into one value, also before 1899-12-30.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

// The value is rounded to the millisecond first, so 23:59:59.9996 becomes the next midnight.
// A value outside years 1 to 9999 (or NaN) raises EConvertError "Invalid argument to date decode".
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime value);

TDateTime Now();
TDateTime Date();

std::string FormatDateTime(const std::string& format, TDateTime value);
std::string FormatDateTime(const std::string& format, TDateTime value,
                           const TFormatSettings& settings);

// ShortDateFormat; LongTimeFormat; the short date, then a blank and the long time unless the
// hours, minutes and seconds are all zero (milliseconds never count).
std::string DateToStr(TDateTime value);
std::string DateToStr(TDateTime value, const TFormatSettings& settings);
std::string TimeToStr(TDateTime value);
std::string TimeToStr(TDateTime value, const TFormatSettings& settings);
std::string DateTimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings);

// Parsers. A date is two or three numbers separated by DateSeparator, in the order of the
// letters d, m, y in ShortDateFormat (two numbers: day and month of the current year); a year of
// one or two digits lies within TwoDigitYearCenturyWindow years of the current one. A time is
// hour[:minute[:second[<DecimalSeparator>milliseconds]]] with an optional AM/PM mark. Blanks are
// allowed around the parts; nothing else may follow. Failures raise EConvertError
// "'%s' is not a valid date", "'%s' is not a valid time", "'%s' is not a valid date and time".
TDateTime StrToDate(const std::string& text);
TDateTime StrToDate(const std::string& text, const TFormatSettings& settings);
bool TryStrToDate(const std::string& text, TDateTime& value, const TFormatSettings& settings);
TDateTime StrToTime(const std::string& text);
TDateTime StrToTime(const std::string& text, const TFormatSettings& settings);
bool TryStrToTime(const std::string& text, TDateTime& value, const TFormatSettings& settings);
// A date, optionally followed by blanks and a time; or a time alone (on day 0).
TDateTime StrToDateTime(const std::string& text);
TDateTime StrToDateTime(const std::string& text, const TFormatSettings& settings);
bool TryStrToDateTime(const std::string& text, TDateTime& value, const TFormatSettings& settings);

}  // namespace rtl
