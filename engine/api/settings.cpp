// The C entry points of the engine-wide settings, the version and the date conversions.
#include "engine/settings.h"

#include <optional>
#include <string>

#include "engine/api/helpers.h"

namespace {

constexpr UNSIGNED32 kVersionMajor = 1;
constexpr UNSIGNED32 kVersionMinor = 0;
constexpr UNSIGNED8 kVersionLetter = ' ';
constexpr UNSIGNED16 kMaxDecimals = 15;

}  // namespace

using namespace kce;

extern "C" KCESTATUS KdsSetDateFormat(const UNSIGNED8* format) {
    return Guard([&]() -> KCESTATUS {
        std::string text = TextArg(format);
        auto parsed = DateFormat::Parse(text);
        if (!parsed) return Fail(KCE_INVALID_DATE_FORMAT, "'" + text + "'");
        SetDateFormat(*parsed);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetDateFormat(UNSIGNED8* buf, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS { return CopyOut(CurrentDateFormat().Text(), buf, len); });
}

extern "C" KCESTATUS KdsSetDecimals(UNSIGNED16 decimals) {
    return Guard([&]() -> KCESTATUS {
        if (decimals > kMaxDecimals)
            return Fail(KCE_INVALID_ARGUMENT, "decimals " + std::to_string(decimals) +
                                                  " (at most " + std::to_string(kMaxDecimals) +
                                                  ")");
        UpdateSettings([&](EngineSettings& s) { s.decimals = decimals; });
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetDecimals(UNSIGNED16* decimals) {
    return Guard([&]() -> KCESTATUS {
        if (KCESTATUS s = NeedOut(decimals)) return s;
        *decimals = static_cast<UNSIGNED16>(CurrentSettings().decimals);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsShowDeleted(UNSIGNED16 show) {
    return Guard([&]() -> KCESTATUS {
        UpdateSettings([&](EngineSettings& s) { s.showDeleted = show != 0; });
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetDeleted(UNSIGNED16* shown) {
    return Guard([&]() -> KCESTATUS {
        if (KCESTATUS s = NeedOut(shown)) return s;
        *shown = CurrentSettings().showDeleted ? 1 : 0;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsSetServerType(UNSIGNED16 mask) {
    return Guard([&]() -> KCESTATUS {
        if (mask == 0 || (mask & ~7u) != 0)
            return Fail(KCE_INVALID_SERVER_TYPE, "server-type mask " + std::to_string(mask));
        UpdateSettings([&](EngineSettings& s) { s.serverTypes = mask; });
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetServerType(UNSIGNED16* mask) {
    return Guard([&]() -> KCESTATUS {
        if (KCESTATUS s = NeedOut(mask)) return s;
        *mask = CurrentSettings().serverTypes;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsCacheOpenTables(UNSIGNED16 count) {
    return Guard([&]() -> KCESTATUS {
        UpdateSettings([&](EngineSettings& s) { s.cachedTables = count; });
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetCacheOpenTables(UNSIGNED16* count) {
    return Guard([&]() -> KCESTATUS {
        if (KCESTATUS s = NeedOut(count)) return s;
        *count = CurrentSettings().cachedTables;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsCacheOpenCursors(UNSIGNED16 count) {
    return Guard([&]() -> KCESTATUS {
        UpdateSettings([&](EngineSettings& s) { s.cachedCursors = count; });
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetCacheOpenCursors(UNSIGNED16* count) {
    return Guard([&]() -> KCESTATUS {
        if (KCESTATUS s = NeedOut(count)) return s;
        *count = CurrentSettings().cachedCursors;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetNumOpenTables(UNSIGNED16* count) {
    return Guard([&]() -> KCESTATUS {
        if (KCESTATUS s = NeedOut(count)) return s;
        *count = static_cast<UNSIGNED16>(OpenTableCount());
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetVersion(UNSIGNED32* major, UNSIGNED32* minor, UNSIGNED8* letter,
                                   UNSIGNED8* desc, UNSIGNED16* descLen) {
    return Guard([&]() -> KCESTATUS {
        if (major) *major = kVersionMajor;
        if (minor) *minor = kVersionMinor;
        if (letter) *letter = kVersionLetter;
        if (descLen) return CopyOut("KCE table engine", desc, descLen);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsConvertJulianToString(double julian, UNSIGNED8* buf, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS {
        // Day 0 is the empty date; others must fall in years 1 to 9999.
        if (julian != julian ||
            (julian != 0 && (julian < kJulianOfDayOne || julian >= kJulianOfLastDay + 1)))
            return Fail(KCE_INVALID_DATE, "Julian day " + std::to_string(julian));
        return CopyOut(EightDigitDate(static_cast<int64_t>(julian)), buf, len);
    });
}

extern "C" KCESTATUS KdsConvertStringToJulian(const UNSIGNED8* text, UNSIGNED16 len,
                                              double* julian) {
    return Guard([&]() -> KCESTATUS {
        if (!julian || (!text && len)) return Fail(KCE_INVALID_ARGUMENT, "no text or result given");
        std::string_view view(reinterpret_cast<const char*>(text), len);
        // A zero ends the text early, as in a C string held in a longer buffer.
        view = view.substr(0, view.find('\0'));
        std::string_view digits = view.substr(0, view.find_last_not_of(' ') + 1);
        DateFormat format = CurrentDateFormat();
        std::optional<int64_t> day;
        if (digits.size() == 8 &&
            digits.find_first_not_of("0123456789") == std::string_view::npos) {
            // Eight digits are always year, month, day, even under a format they would also fit.
            day = JulianFromEightDigits(digits);
            if (!day)
                return Fail(KCE_INVALID_DATE,
                            "'" + std::string(view) + "' names no day of years 1 to 9999");
        } else {
            day = format.ParseDate(view);
            if (!day)
                return Fail(KCE_INVALID_DATE, "'" + std::string(view) +
                                                  "' is neither YYYYMMDD nor a date under the "
                                                  "format " +
                                                  format.Text());
        }
        *julian = static_cast<double>(*day);
        return KCE_SUCCESS;
    });
}
