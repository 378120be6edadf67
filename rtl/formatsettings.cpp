#include "rtl/formatsettings.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <mutex>

namespace rtl {
namespace {

std::mutex& SettingsLock() {
    static std::mutex lock;
    return lock;
}

// Counts the changes; a thread's copy of the settings is current while it has seen the latest
// count. Changed under the lock, after the settings.
std::atomic<uint64_t>& Generation() {
    static std::atomic<uint64_t> generation{1};
    return generation;
}

void NoteChange() { Generation().fetch_add(1, std::memory_order_release); }

TFormatSettings& Current() {
    // Read from the locale on first use, so the environment at that time decides.
    static TFormatSettings settings = FormatSettingsFromLocale();
    return settings;
}

// Turns a strftime time format of the locale into format letters: %H:%M:%S -> hh:nn:ss,
// %I:%M:%S %p -> hh:nn:ss AMPM. Anything else the locale uses is kept as literal text.
std::string TimeFormatFromStrftime(const std::string& fmt, char& separator) {
    std::string out;
    bool afterHour = false;
    bool separatorFound = false;
    auto noteSeparator = [&](char c) {
        if (afterHour && !separatorFound) {
            separator = c;
            separatorFound = true;
        }
    };
    for (size_t i = 0; i < fmt.size(); ++i) {
        char c = fmt[i];
        if (c != '%' || i + 1 == fmt.size()) {
            bool punct = c > ' ' && c < 0x7f && !std::isalnum(static_cast<unsigned char>(c));
            if (punct) noteSeparator(c);
            if (separatorFound && c == separator) {
                out += ':';
            } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '"' || c == '\'') {
                // Quoted so that they are not read as format letters.
                out += c == '"' ? '\'' : '"';
                out += c;
                out += c == '"' ? '\'' : '"';
            } else {
                out += c;
            }
            continue;
        }
        char spec = fmt[++i];
        while ((spec == 'E' || spec == 'O' || spec == '-' || spec == '_' || spec == '0') &&
               i + 1 < fmt.size()) {
            spec = fmt[++i];
        }
        switch (spec) {
            case 'H':
            case 'I':
            case 'k':
            case 'l':
                out += "hh";
                afterHour = true;
                break;
            case 'M':
                out += "nn";
                break;
            case 'S':
                out += "ss";
                break;
            case 'p':
            case 'P':
                out += "AMPM";
                break;
            case 'T':
                afterHour = true;
                noteSeparator(':');
                out += "hh:nn:ss";
                break;
            case 'R':
                afterHour = true;
                noteSeparator(':');
                out += "hh:nn";
                break;
            case 'r':
                afterHour = true;
                noteSeparator(':');
                out += "hh:nn:ss AMPM";
                break;
            case '%':
                out += '%';
                break;
            default:
                break;  // dates and zones are not part of a time of day
        }
    }
    return out;
}

}  // namespace

TFormatSettings FormatSettingsFromLocale(const std::string& numericLocale,
                                         const std::string& timeLocale) {
    TFormatSettings s;
    if (locale_t loc = newlocale(LC_NUMERIC_MASK, numericLocale.c_str(), nullptr)) {
        const char* radix = nl_langinfo_l(RADIXCHAR, loc);
        if (radix && radix[0] && !radix[1]) s.DecimalSeparator = radix[0];
        const char* thousands = nl_langinfo_l(THOUSEP, loc);
        if (thousands && thousands[0] && !thousands[1]) s.ThousandSeparator = thousands[0];
        freelocale(loc);
    }
    if (locale_t loc = newlocale(LC_TIME_MASK, timeLocale.c_str(), nullptr)) {
        const char* tfmt = nl_langinfo_l(T_FMT, loc);
        if (tfmt && tfmt[0]) {
            char separator = ':';
            std::string letters = TimeFormatFromStrftime(tfmt, separator);
            if (letters.find("hh") != std::string::npos) {
                s.LongTimeFormat = letters;
                s.TimeSeparator = separator;
                std::string::size_type sec = letters.find(":ss");
                s.ShortTimeFormat = sec == std::string::npos
                                        ? letters
                                        : letters.substr(0, sec) + letters.substr(sec + 3);
            }
        }
        const char* am = nl_langinfo_l(AM_STR, loc);
        const char* pm = nl_langinfo_l(PM_STR, loc);
        if (am && am[0] && pm && pm[0]) {
            s.TimeAMString = am;
            s.TimePMString = pm;
        }
        freelocale(loc);
    }
    return s;
}

TFormatSettings FormatSettings() {
    std::lock_guard<std::mutex> guard(SettingsLock());
    return Current();
}

const TFormatSettings& CurrentFormatSettings() {
    thread_local TFormatSettings copy;
    thread_local uint64_t seen = 0;
    if (seen != Generation().load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> guard(SettingsLock());
        copy = Current();
        seen = Generation().load(std::memory_order_relaxed);
    }
    return copy;
}

void SetFormatSettings(const TFormatSettings& settings) {
    std::lock_guard<std::mutex> guard(SettingsLock());
    Current() = settings;
    NoteChange();
}

#define RTL_SETTING(Type, Name)                            \
    Type Name() { return CurrentFormatSettings().Name; }   \
    void Set##Name(const Type& value) {                    \
        std::lock_guard<std::mutex> guard(SettingsLock()); \
        Current().Name = value;                            \
        NoteChange();                                      \
    }

// The header declares the char setters by value; these overloads forward to them.
#define RTL_CHAR_SETTING(Name)                             \
    char Name() { return CurrentFormatSettings().Name; }   \
    void Set##Name(char value) {                           \
        std::lock_guard<std::mutex> guard(SettingsLock()); \
        Current().Name = value;                            \
        NoteChange();                                      \
    }

RTL_CHAR_SETTING(DecimalSeparator)
RTL_CHAR_SETTING(DateSeparator)
RTL_CHAR_SETTING(TimeSeparator)
RTL_SETTING(std::string, ShortDateFormat)
RTL_SETTING(std::string, LongTimeFormat)

#undef RTL_SETTING
#undef RTL_CHAR_SETTING

TFormatSettingsScope::TFormatSettingsScope(const TFormatSettings& settings)
    : saved_(FormatSettings()) {
    SetFormatSettings(settings);
}

TFormatSettingsScope::~TFormatSettingsScope() { SetFormatSettings(saved_); }

}  // namespace rtl
