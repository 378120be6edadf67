#include "rtl/datetime.h"

#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <string_view>
#include <vector>

#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace rtl {
namespace {

const char* const kShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonthNames[12] = {"January",   "February", "March",    "April",
                                         "May",       "June",     "July",     "August",
                                         "September", "October",  "November", "December"};
const char* const kShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the era-based algorithm that is
// exact over the whole range of int64 days).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// TDateTime 0 in days since 1970-01-01.
constexpr int64_t kUnixDelta = -25569;
constexpr double kMinDateTime = -693593.0;  // 0001-01-01
constexpr double kMaxDateTime = 2958466.0;  // 10000-01-01, exclusive

// Calendar day (days from 1899-12-30) and milliseconds of the day, rounded to the millisecond.
void Split(TDateTime value, int64_t& dayNumber, int64_t& msOfDay) {
    if (!(value > kMinDateTime - 1 && value < kMaxDateTime))
        throw EConvertError("Invalid argument to date decode");
    double whole = std::trunc(value);
    dayNumber = static_cast<int64_t>(whole);
    msOfDay = std::llround(std::fabs(value - whole) * kMSecsPerDay);
    if (msOfDay >= kMSecsPerDay) {
        msOfDay -= kMSecsPerDay;
        ++dayNumber;
    }
    if (dayNumber < static_cast<int64_t>(kMinDateTime) ||
        dayNumber >= static_cast<int64_t>(kMaxDateTime))
        throw EConvertError("Invalid argument to date decode");
}

int CurrentYear() {
    int y, m, d;
    DecodeDate(Date(), y, m, d);
    return y;
}

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool StartsWithNoCase(const std::string& s, size_t at, const std::string& word) {
    if (word.empty() || at + word.size() > s.size()) return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (Lower(s[at + k]) != Lower(word[k])) return false;
    return true;
}

// Format letters are ASCII, so reading a format needs no locale: this lowers A-Z only, and the
// format is read once per value converted.
char FormatLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Whether the format holds the lower-case ASCII word at `at`, letter case ignored.
bool FormatWordAt(const std::string& f, size_t at, std::string_view word) {
    if (at + word.size() > f.size()) return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (FormatLower(f[at + k]) != word[k]) return false;
    return true;
}

// The am/pm marks all begin with an "a".
bool AmPmAt(const std::string& f, size_t at) {
    return FormatLower(f[at]) == 'a' && (FormatWordAt(f, at, "am/pm") ||
                                         FormatWordAt(f, at, "a/p") || FormatWordAt(f, at, "ampm"));
}

// True when the format (outside quotes) holds an am/pm mark, so hours count 1 to 12.
bool UsesTwelveHours(const std::string& f) {
    for (size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c == '"' || c == '\'') {
            size_t close = f.find(c, i + 1);
            if (close == std::string::npos) return false;
            i = close;
        } else if (AmPmAt(f, i)) {
            return true;
        }
    }
    return false;
}

// Appends the value with at least `width` digits, zeros in front.
void AppendPadded(std::string& out, int value, int width) {
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    int length = static_cast<int>(end - buf);
    if (length < width) out.append(static_cast<size_t>(width - length), '0');
    out.append(buf, end);
}

struct Parts {
    int year, month, day, hour, minute, second, msec, weekDay;
};

bool HasTimeOfDay(const Parts& p) { return p.hour || p.minute || p.second; }

// A format read once into the steps that write it: conversions of many values under one format
// (every date of a column) then only run the steps.
struct FormatStep {
    enum Kind : uint8_t {
        kText,           // text: written as it is
        kAmPmMarks,      // text: "am/pm" as written, its first or last two letters
        kAPMarks,        // text: "a/p" as written, its first or last letter
        kAmPmWords,      // the settings' words for before and after noon
        kYear,           // width 2 or 4
        kMonth,          // width 1 or 2
        kMonthName,      // width 0 short, 1 long
        kDay,            // width 1 or 2
        kDayName,        // width 0 short, 1 long
        kDateFormat,     // width 0 short, 1 long: the settings' date format
        kHour,           // width 1 or 2; twelve: 1 to 12
        kMinute,         // width 1 or 2
        kSecond,         // width 1 or 2
        kMsec,           // width 1 or 3
        kTimeFormat,     // width 0 short, 1 long: the settings' time format
        kDateTime,       // the short date, and the long time when the value has one
        kDateSeparator,  // the settings' separators
        kTimeSeparator,
    };
    Kind kind;
    int width = 0;
    bool twelve = false;
    std::string text;
};
using CompiledFormat = std::vector<FormatStep>;

CompiledFormat Compile(const std::string& f) {
    CompiledFormat steps;
    const bool twelve = UsesTwelveHours(f);
    bool afterHour = false;
    size_t i = 0;
    const size_t n = f.size();
    auto run = [&](char lower) {
        size_t count = 0;
        while (i + count < n && FormatLower(f[i + count]) == lower) ++count;
        i += count;
        return static_cast<int>(count);
    };
    auto step = [&](FormatStep::Kind kind, int width = 0, std::string text = {}) {
        steps.push_back(FormatStep{kind, width, false, std::move(text)});
    };
    auto text = [&](std::string_view t) {
        if (!steps.empty() && steps.back().kind == FormatStep::kText) {
            steps.back().text.append(t);
        } else {
            step(FormatStep::kText, 0, std::string(t));
        }
    };
    while (i < n) {
        char c = f[i];
        char lc = FormatLower(c);
        if (c == '"' || c == '\'') {
            size_t close = f.find(c, i + 1);
            if (close == std::string::npos) close = n;
            text(std::string_view(f).substr(i + 1, close - i - 1));
            i = close == n ? n : close + 1;
            continue;
        }
        if (lc == 'a' && FormatWordAt(f, i, "am/pm")) {
            step(FormatStep::kAmPmMarks, 0, f.substr(i, 5));
            i += 5;
            continue;
        }
        if (lc == 'a' && FormatWordAt(f, i, "a/p")) {
            step(FormatStep::kAPMarks, 0, f.substr(i, 3));
            i += 3;
            continue;
        }
        if (lc == 'a' && FormatWordAt(f, i, "ampm")) {
            step(FormatStep::kAmPmWords);
            i += 4;
            continue;
        }
        switch (lc) {
            case 'y':
                step(FormatStep::kYear, run('y') <= 2 ? 2 : 4);
                afterHour = false;
                break;
            case 'm': {
                int count = run('m');
                if (afterHour && count <= 2) {
                    step(FormatStep::kMinute, count);
                } else if (count <= 2) {
                    step(FormatStep::kMonth, count);
                } else {
                    step(FormatStep::kMonthName, count == 3 ? 0 : 1);
                }
                afterHour = false;
                break;
            }
            case 'd': {
                int count = run('d');
                if (count <= 2)
                    step(FormatStep::kDay, count);
                else if (count <= 4)
                    step(FormatStep::kDayName, count == 3 ? 0 : 1);
                else
                    step(FormatStep::kDateFormat, count == 5 ? 0 : 1);
                afterHour = false;
                break;
            }
            case 'h':
                step(FormatStep::kHour, run('h') > 1 ? 2 : 1);
                steps.back().twelve = twelve;
                afterHour = true;
                break;
            case 'n':
                step(FormatStep::kMinute, run('n') > 1 ? 2 : 1);
                afterHour = false;
                break;
            case 's':
                step(FormatStep::kSecond, run('s') > 1 ? 2 : 1);
                afterHour = false;
                break;
            case 'z':
                step(FormatStep::kMsec, run('z') > 1 ? 3 : 1);
                afterHour = false;
                break;
            case 't':
                step(FormatStep::kTimeFormat, run('t') == 1 ? 0 : 1);
                afterHour = false;
                break;
            case 'c':
                ++i;
                step(FormatStep::kDateTime);
                afterHour = false;
                break;
            case '/':
                step(FormatStep::kDateSeparator);
                ++i;
                break;
            case ':':
                step(FormatStep::kTimeSeparator);
                ++i;
                break;
            default:
                text(std::string_view(&c, 1));
                ++i;
        }
    }
    return steps;
}

// This thread's compiled formats. Entries are never replaced, so a reference to one stays valid
// while nested formats are looked up; past the last slot a format is compiled for each use.
const CompiledFormat* CachedFormat(const std::string& f) {
    struct Entry {
        std::string format;
        CompiledFormat steps;
    };
    constexpr size_t kSlots = 16;
    thread_local std::array<Entry, kSlots> entries;
    thread_local size_t used = 0;
    for (size_t k = 0; k < used; ++k) {
        if (entries[k].format == f) return &entries[k].steps;
    }
    if (used == kSlots) return nullptr;
    entries[used].format = f;
    entries[used].steps = Compile(f);
    return &entries[used++].steps;
}

void AppendFormatted(std::string& out, const std::string& f, const Parts& p,
                     const TFormatSettings& s, int depth) {
    if (depth > 2) return;  // a date format that names itself would otherwise never end
    CompiledFormat uncached;
    const CompiledFormat* steps = CachedFormat(f);
    if (steps == nullptr) {
        uncached = Compile(f);
        steps = &uncached;
    }
    for (const FormatStep& st : *steps) {
        switch (st.kind) {
            case FormatStep::kText:
                out += st.text;
                break;
            case FormatStep::kAmPmMarks:
                out.append(st.text, p.hour < 12 ? 0 : 3, 2);
                break;
            case FormatStep::kAPMarks:
                out += p.hour < 12 ? st.text[0] : st.text[2];
                break;
            case FormatStep::kAmPmWords:
                out += p.hour < 12 ? s.TimeAMString : s.TimePMString;
                break;
            case FormatStep::kYear:
                AppendPadded(out, st.width == 2 ? p.year % 100 : p.year, st.width);
                break;
            case FormatStep::kMonth:
                AppendPadded(out, p.month, st.width);
                break;
            case FormatStep::kMonthName:
                out += st.width == 0 ? kShortMonthNames[p.month - 1] : kLongMonthNames[p.month - 1];
                break;
            case FormatStep::kDay:
                AppendPadded(out, p.day, st.width);
                break;
            case FormatStep::kDayName:
                out += st.width == 0 ? kShortDayNames[p.weekDay - 1] : kLongDayNames[p.weekDay - 1];
                break;
            case FormatStep::kDateFormat:
                AppendFormatted(out, st.width == 0 ? s.ShortDateFormat : s.LongDateFormat, p, s,
                                depth + 1);
                break;
            case FormatStep::kHour: {
                int h = p.hour;
                if (st.twelve) h = h % 12 == 0 ? 12 : h % 12;
                AppendPadded(out, h, st.width);
                break;
            }
            case FormatStep::kMinute:
                AppendPadded(out, p.minute, st.width);
                break;
            case FormatStep::kSecond:
                AppendPadded(out, p.second, st.width);
                break;
            case FormatStep::kMsec:
                AppendPadded(out, p.msec, st.width);
                break;
            case FormatStep::kTimeFormat:
                AppendFormatted(out, st.width == 0 ? s.ShortTimeFormat : s.LongTimeFormat, p, s,
                                depth + 1);
                break;
            case FormatStep::kDateTime:
                AppendFormatted(out, s.ShortDateFormat, p, s, depth + 1);
                if (HasTimeOfDay(p)) {
                    out += ' ';
                    AppendFormatted(out, s.LongTimeFormat, p, s, depth + 1);
                }
                break;
            case FormatStep::kDateSeparator:
                out += s.DateSeparator;
                break;
            case FormatStep::kTimeSeparator:
                out += s.TimeSeparator;
                break;
        }
    }
}

// 1 Sunday to 7 Saturday; 1899-12-30 (day 0) was a Saturday.
int WeekDayOf(int64_t dayNumber) {
    int64_t w = (dayNumber + 6) % 7;
    if (w < 0) w += 7;
    return static_cast<int>(w) + 1;
}

// Every part of the value from one decoding.
Parts PartsOf(TDateTime value) {
    Parts p{};
    int64_t dayNumber, ms;
    Split(value, dayNumber, ms);
    CivilFromDays(dayNumber + kUnixDelta, p.year, p.month, p.day);
    p.msec = static_cast<int>(ms % 1000);
    ms /= 1000;
    p.second = static_cast<int>(ms % 60);
    ms /= 60;
    p.minute = static_cast<int>(ms % 60);
    p.hour = static_cast<int>(ms / 60);
    p.weekDay = WeekDayOf(dayNumber);
    return p;
}

// A cursor over the text being parsed.
struct Scanner {
    const std::string& text;
    size_t pos = 0;

    void SkipBlanks() {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    }
    bool AtEnd() {
        SkipBlanks();
        return pos == text.size();
    }
    // Up to four digits; `digits` tells how many were read.
    bool Number(int& value, int& digits) {
        SkipBlanks();
        value = 0;
        digits = 0;
        while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
            if (++digits > 4) return false;
            value = value * 10 + (text[pos++] - '0');
        }
        return digits > 0;
    }
    bool Char(char c) {
        SkipBlanks();
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    }
    bool Word(const std::string& w) {
        SkipBlanks();
        if (StartsWithNoCase(text, pos, w)) {
            pos += w.size();
            return true;
        }
        return false;
    }
};

enum class DateOrder { MDY, DMY, YMD };

DateOrder OrderOf(const std::string& format) {
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c == '"' || c == '\'') {
            size_t close = format.find(c, i + 1);
            if (close == std::string::npos) break;
            i = close;
            continue;
        }
        switch (FormatLower(c)) {
            case 'd':
                return DateOrder::DMY;
            case 'm':
                return DateOrder::MDY;
            case 'y':
                return DateOrder::YMD;
            default:
                break;
        }
    }
    return DateOrder::MDY;
}

bool ScanDate(Scanner& sc, const TFormatSettings& s, TDateTime& value) {
    int n1, n2, n3 = 0, d1, d2, d3 = 0;
    if (!sc.Number(n1, d1) || !sc.Char(s.DateSeparator) || !sc.Number(n2, d2)) return false;
    bool three = false;
    size_t mark = sc.pos;
    if (sc.Char(s.DateSeparator)) {
        if (!sc.Number(n3, d3)) return false;
        three = true;
    } else {
        sc.pos = mark;
    }
    int year, month, day, yearDigits = 4;
    DateOrder order = OrderOf(s.ShortDateFormat);
    if (!three) {
        year = CurrentYear();
        if (order == DateOrder::DMY) {
            day = n1;
            month = n2;
        } else {
            month = n1;
            day = n2;
        }
    } else if (order == DateOrder::MDY) {
        month = n1, day = n2, year = n3, yearDigits = d3;
    } else if (order == DateOrder::DMY) {
        day = n1, month = n2, year = n3, yearDigits = d3;
    } else {
        year = n1, month = n2, day = n3, yearDigits = d1;
    }
    if (yearDigits <= 2) {
        int pivot = CurrentYear() - s.TwoDigitYearCenturyWindow;
        year += pivot / 100 * 100;
        if (s.TwoDigitYearCenturyWindow > 0 && year < pivot) year += 100;
    }
    return TryEncodeDate(year, month, day, value);
}

bool ScanTime(Scanner& sc, const TFormatSettings& s, TDateTime& value) {
    int hour, minute = 0, second = 0, msec = 0, digits;
    if (!sc.Number(hour, digits)) return false;
    if (sc.Char(s.TimeSeparator)) {
        if (!sc.Number(minute, digits)) return false;
        if (sc.Char(s.TimeSeparator)) {
            if (!sc.Number(second, digits)) return false;
            if (sc.Char(s.DecimalSeparator) && !sc.Number(msec, digits)) return false;
        }
    }
    int base = -1;
    if (sc.Word(s.TimeAMString) || sc.Word("AM"))
        base = 0;
    else if (sc.Word(s.TimePMString) || sc.Word("PM"))
        base = 12;
    if (base >= 0) {
        if (hour == 0 || hour > 12) return false;
        if (hour == 12) hour = 0;
        hour += base;
    }
    return TryEncodeTime(hour, minute, second, msec, value);
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& value) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    value = static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kUnixDelta);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime v;
    if (!TryEncodeDate(year, month, day, v)) throw EConvertError("Invalid argument to date encode");
    return v;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& value) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return false;
    value = static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + msec) / kMSecsPerDay;
    return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    TDateTime v;
    if (!TryEncodeTime(hour, minute, second, msec, v))
        throw EConvertError("Invalid argument to time encode");
    return v;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
    double day = std::trunc(date);
    double frac = std::fabs(time - std::trunc(time));
    return day < 0 ? day - frac : day + frac;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute,
                    int& second, int& msec) {
    const Parts p = PartsOf(value);
    year = p.year;
    month = p.month;
    day = p.day;
    hour = p.hour;
    minute = p.minute;
    second = p.second;
    msec = p.msec;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    int h, n, s, z;
    DecodeDateTime(value, year, month, day, h, n, s, z);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
    int y, m, d;
    DecodeDateTime(value, y, m, d, hour, minute, second, msec);
}

int DayOfWeek(TDateTime value) {
    int64_t dayNumber, ms;
    Split(value, dayNumber, ms);
    return WeekDayOf(dayNumber);
}

TDateTime Now() {
    using namespace std::chrono;
    const int64_t ms = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    localtime_r(&secs, &local);
    return ComposeDateTime(EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
                           EncodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                                      static_cast<int>(ms % 1000)));
}

TDateTime Date() { return std::trunc(Now()); }

std::string FormatDateTime(const std::string& format, TDateTime value,
                           const TFormatSettings& settings) {
    static const std::string kDefault = "c";
    std::string out;
    AppendFormatted(out, format.empty() ? kDefault : format, PartsOf(value), settings, 0);
    return out;
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
    return FormatDateTime(format, value, CurrentFormatSettings());
}

std::string DateToStr(TDateTime value, const TFormatSettings& settings) {
    return FormatDateTime(settings.ShortDateFormat, value, settings);
}
std::string DateToStr(TDateTime value) { return DateToStr(value, CurrentFormatSettings()); }

std::string TimeToStr(TDateTime value, const TFormatSettings& settings) {
    return FormatDateTime(settings.LongTimeFormat, value, settings);
}
std::string TimeToStr(TDateTime value) { return TimeToStr(value, CurrentFormatSettings()); }

std::string DateTimeToStr(TDateTime value, const TFormatSettings& settings) {
    return FormatDateTime("c", value, settings);
}
std::string DateTimeToStr(TDateTime value) { return DateTimeToStr(value, CurrentFormatSettings()); }

bool TryStrToDate(const std::string& text, TDateTime& value, const TFormatSettings& settings) {
    Scanner sc{text};
    TDateTime v;
    if (!ScanDate(sc, settings, v) || !sc.AtEnd()) return false;
    value = v;
    return true;
}

bool TryStrToTime(const std::string& text, TDateTime& value, const TFormatSettings& settings) {
    Scanner sc{text};
    TDateTime v;
    if (!ScanTime(sc, settings, v) || !sc.AtEnd()) return false;
    value = v;
    return true;
}

bool TryStrToDateTime(const std::string& text, TDateTime& value, const TFormatSettings& settings) {
    Scanner sc{text};
    TDateTime date, time = 0;
    if (ScanDate(sc, settings, date)) {
        if (!sc.AtEnd()) {
            // The time must be set off from the date by at least one blank.
            if (sc.pos == 0 || (text[sc.pos - 1] != ' ' && text[sc.pos - 1] != '\t')) return false;
            if (!ScanTime(sc, settings, time) || !sc.AtEnd()) return false;
        }
        value = ComposeDateTime(date, time);
        return true;
    }
    return TryStrToTime(text, value, settings);
}

#define RTL_PARSER(Name, Message)                                                     \
    TDateTime StrTo##Name(const std::string& text, const TFormatSettings& settings) { \
        TDateTime v;                                                                  \
        if (!TryStrTo##Name(text, v, settings))                                       \
            throw EConvertError(Format("'%s' is not a valid " Message, {text}));      \
        return v;                                                                     \
    }                                                                                 \
    TDateTime StrTo##Name(const std::string& text) {                                  \
        return StrTo##Name(text, CurrentFormatSettings());                            \
    }

RTL_PARSER(Date, "date")
RTL_PARSER(Time, "time")
RTL_PARSER(DateTime, "date and time")

#undef RTL_PARSER

}  // namespace rtl
