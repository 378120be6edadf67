#include "engine/dates.h"

#include <cctype>
#include <cstdio>

#include "rtl/datetime.h"

namespace kce {

bool IsValidCivil(const CivilDate& d, int firstYear) {
    return d.year >= firstYear && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= rtl::DaysInMonth(d.year, d.month);
}

// Fliegel and Van Flandern's conversion, valid for every day of years 1 to 9999.
int64_t JulianFromCivil(const CivilDate& d) {
    int64_t a = (14 - d.month) / 12;
    int64_t y = d.year + 4800 - a;
    int64_t m = d.month + 12 * a - 3;
    return d.day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

CivilDate CivilFromJulian(int64_t julian) {
    int64_t a = julian + 32044;
    int64_t b = (4 * a + 3) / 146097;
    int64_t c = a - 146097 * b / 4;
    int64_t d = (4 * c + 3) / 1461;
    int64_t e = c - 1461 * d / 4;
    int64_t m = (5 * e + 2) / 153;
    CivilDate out;
    out.day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    out.month = static_cast<int>(m + 3 - 12 * (m / 10));
    out.year = static_cast<int>(100 * b + d - 4800 + m / 10);
    return out;
}

std::string EightDigitDate(int64_t julian) {
    if (julian == 0) return std::string(8, ' ');
    CivilDate d = CivilFromJulian(julian);
    char text[16];
    std::snprintf(text, sizeof text, "%04d%02d%02d", d.year, d.month, d.day);
    return text;
}

std::optional<int64_t> JulianFromEightDigits(std::string_view text, int firstYear) {
    if (text.size() != 8) return std::nullopt;
    int v[8];
    for (int i = 0; i < 8; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
        v[i] = text[i] - '0';
    }
    CivilDate d{v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3], v[4] * 10 + v[5], v[6] * 10 + v[7]};
    if (!IsValidCivil(d, firstYear)) return std::nullopt;
    return JulianFromCivil(d);
}

int64_t JulianFromCompact(const uint8_t* p) {
    unsigned w = unsigned(p[0]) << 8 | p[1];
    int year = int(w >> 1);
    int month = int((w & 1) << 3 | p[2] >> 5);
    int day = p[2] & 0x1F;
    if (!IsValidCivil({year, month, day}, 0)) return -1;
    return JulianFromCivil({year, month, day});
}

void CompactFromJulian(int64_t julian, uint8_t* p) {
    CivilDate d = CivilFromJulian(julian);
    unsigned w = unsigned(d.year * 2 + (d.month >> 3)) & 0xFFFF;
    p[0] = uint8_t(w >> 8);
    p[1] = uint8_t(w);
    p[2] = uint8_t((d.month * 32 + d.day) & 0xFF);
}

std::optional<DateFormat> DateFormat::Parse(std::string_view text) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    DateFormat f;
    f.text_ = std::string(text);
    bool seen[4] = {};
    for (size_t i = 0; i < text.size();) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        Part part = c == 'y' || c == 'c' ? Part::kYear
                    : c == 'm'           ? Part::kMonth
                    : c == 'd'           ? Part::kDay
                                         : Part::kLiteral;
        size_t j = i + 1;
        if (part != Part::kLiteral) {
            while (j < text.size()) {
                char n = static_cast<char>(std::tolower(static_cast<unsigned char>(text[j])));
                bool same = part == Part::kYear ? (n == 'y' || n == 'c')
                                                : n == (part == Part::kMonth ? 'm' : 'd');
                if (!same) break;
                ++j;
            }
            int index = static_cast<int>(part);
            if (seen[index]) return std::nullopt;
            seen[index] = true;
        }
        int width = static_cast<int>(j - i);
        if (part == Part::kYear && width != 2 && width != 4) return std::nullopt;
        if ((part == Part::kMonth || part == Part::kDay) && width != 2) return std::nullopt;
        f.runs_[f.count_++] = Run{part, width, text[i]};
        i = j;
    }
    if (!seen[1] || !seen[2] || !seen[3]) return std::nullopt;
    return f;
}

std::string DateFormat::Format(int64_t julian) const {
    if (julian == 0) return std::string(text_.size(), ' ');
    CivilDate d = CivilFromJulian(julian);
    std::string out;
    char digits[8];
    for (int i = 0; i < count_; ++i) {
        const Run& r = runs_[i];
        switch (r.part) {
            case Part::kLiteral:
                out += r.literal;
                break;
            case Part::kYear:
                std::snprintf(digits, sizeof digits, "%0*d", r.width,
                              r.width == 2 ? d.year % 100 : d.year);
                out += digits;
                break;
            case Part::kMonth:
                std::snprintf(digits, sizeof digits, "%02d", d.month);
                out += digits;
                break;
            case Part::kDay:
                std::snprintf(digits, sizeof digits, "%02d", d.day);
                out += digits;
                break;
        }
    }
    return out;
}

std::optional<int64_t> DateFormat::ParseDate(std::string_view text) const {
    if (text.find_first_not_of(' ') == std::string_view::npos) return 0;
    CivilDate d;
    size_t pos = 0;
    for (int i = 0; i < count_; ++i) {
        const Run& r = runs_[i];
        if (r.part == Part::kLiteral) {
            if (pos >= text.size() || text[pos] != r.literal) return std::nullopt;
            ++pos;
            continue;
        }
        int value = 0;
        for (int k = 0; k < r.width; ++k, ++pos) {
            if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos])))
                return std::nullopt;
            value = value * 10 + (text[pos] - '0');
        }
        if (r.part == Part::kYear)
            d.year = r.width == 2 ? (value < 50 ? 2000 : 1900) + value : value;
        if (r.part == Part::kMonth) d.month = value;
        if (r.part == Part::kDay) d.day = value;
    }
    if (text.find_first_not_of(' ', pos) != std::string_view::npos) return std::nullopt;
    if (!IsValidCivil(d)) return std::nullopt;
    return JulianFromCivil(d);
}

}  // namespace kce
