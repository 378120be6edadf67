// Process-wide format settings: the separators and date/time formats that the text conversions
// of numbers and dates use. They start from the user's locale (LC_NUMERIC for the decimal
// separator, LC_TIME for the time format); the short date format and the date separator start as
// "MM/dd/yyyy" and "/" and are set by the program (the engine settings component) afterwards.
//
// Reads and writes are guarded by one lock, so a conversion on one thread sees either the old or
// the new settings, never a mix. Each conversion takes a copy: the struct is small on purpose.
#pragma once

#include <string>

namespace rtl {

struct TFormatSettings {
    char DecimalSeparator = '.';
    char ThousandSeparator = ',';
    char DateSeparator = '/';
    char TimeSeparator = ':';
    // Format letters as FormatDateTime reads them ("MM/dd/yyyy", "hh:nn:ss").
    std::string ShortDateFormat = "MM/dd/yyyy";
    std::string LongDateFormat = "dddd, mmmm d, yyyy";
    std::string ShortTimeFormat = "hh:nn";
    std::string LongTimeFormat = "hh:nn:ss";
    std::string TimeAMString = "AM";
    std::string TimePMString = "PM";
    // A two-digit year is placed in the hundred years that end this many years from now.
    int TwoDigitYearCenturyWindow = 50;
};

// Settings as they would start from the given locale names of LC_NUMERIC and LC_TIME ("" means
// the environment's, as setlocale reads it). An unknown locale counts as the C locale.
TFormatSettings FormatSettingsFromLocale(const std::string& numericLocale = "",
                                         const std::string& timeLocale = "");

// A copy of the current process-wide settings.
TFormatSettings FormatSettings();
// The current settings without a copy, for conversions made once per value: this thread's own
// copy, taken again only after the settings changed. The reference stays valid on this thread;
// its content is replaced by the first call after a change, so a caller holds it only for one
// conversion.
const TFormatSettings& CurrentFormatSettings();
void SetFormatSettings(const TFormatSettings& settings);

// Single settings, for the callers that change one of them.
char DecimalSeparator();
void SetDecimalSeparator(char value);
char DateSeparator();
void SetDateSeparator(char value);
char TimeSeparator();
void SetTimeSeparator(char value);
std::string ShortDateFormat();
void SetShortDateFormat(const std::string& value);
std::string LongTimeFormat();
void SetLongTimeFormat(const std::string& value);

// Sets the settings for the lifetime of the object and puts the previous ones back afterwards
// (tests, and code that must convert under a fixed form).
class TFormatSettingsScope {
  public:
    explicit TFormatSettingsScope(const TFormatSettings& settings);
    ~TFormatSettingsScope();
    TFormatSettingsScope(const TFormatSettingsScope&) = delete;
    TFormatSettingsScope& operator=(const TFormatSettingsScope&) = delete;

  private:
    TFormatSettings saved_;
};

}  // namespace rtl
