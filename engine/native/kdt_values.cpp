#include "engine/native/kdt_values.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/dates.h"
#include "engine/decimal.h"
#include "engine/field_text.h"
#include "engine/settings.h"
#include "engine/status.h"
#include "engine/text.h"
#include "rtl/codepages.h"

namespace kce::native {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < n && i < 16; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        out += b;
    }
    return out;
}

// What one pass over a numeric image's text finds.
struct NumericScan {
    bool negative = false;
    bool hasPoint = false;
    size_t significant = 0;  // digits, leading zeros not counted
    size_t decimals = 0;     // digits after the point
    uint64_t mantissa = 0;   // every digit, the point left out (meaningful up to 18 significant)
};

// A numeric image's text: optional sign, digits, optional point and digits; false otherwise.
bool ScanNumericText(std::string_view s, NumericScan* out) {
    size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) out->negative = s[i++] == '-';
    bool digits = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (out->hasPoint) ++out->decimals;
            if (out->significant == 0 && c == '0') continue;
            if (++out->significant <= 18) out->mantissa = out->mantissa * 10 + uint64_t(c - '0');
        } else if (c == '.' && !out->hasPoint) {
            out->hasPoint = true;
        } else {
            return false;
        }
    }
    return digits;
}

// 10^n for the exactly representable powers.
double PowerOfTen(size_t n) {
    static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return kPowers[n];
}

// A date's Julian day names a day of years 0 to 9999.
bool InDateRange(int64_t julian) {
    return julian >= kJulianOfYearZero && julian <= kJulianOfLastDay;
}

// Lays text right-aligned over the field's bytes p, blanks before it; false (p untouched) when it
// is longer than the field.
bool PutRightAligned(const FieldDesc& f, std::string_view text, uint8_t* p) {
    if (text.size() > f.length) return false;
    std::memset(p, ' ', f.length - text.size());
    std::memcpy(p + f.length - text.size(), text.data(), text.size());
    return true;
}

// Writes the numeric field's image text of v into its bytes p; false (p untouched) when it does
// not fit.
bool PutNumeric(const FieldDesc& f, double v, uint8_t* p) {
    // The common case without printf: a value whose scaled form is clearly not a rounding tie
    // (values stored from text with the field's decimals always are).
    static const double kScale[] = {1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
    if (f.decimals <= 6 && std::fabs(v) < 1e12) {
        double scaled = v * kScale[f.decimals];
        double rounded = std::nearbyint(scaled);
        if (std::fabs(std::fabs(scaled - rounded) - 0.5) > 1e-6) {
            int64_t units = int64_t(rounded);
            bool negative = units < 0;
            uint64_t mag = negative ? uint64_t(-units) : uint64_t(units);
            // Filled from the end.
            char digits[40];
            char* at = digits + sizeof digits;
            for (int i = 0; i < f.decimals; ++i) {
                *--at = char('0' + mag % 10);
                mag /= 10;
            }
            if (f.decimals) *--at = '.';
            do {
                *--at = char('0' + mag % 10);
                mag /= 10;
            } while (mag);
            if (negative) *--at = '-';
            return PutRightAligned(f, std::string_view(at, size_t(digits + sizeof digits - at)), p);
        }
    }
    char buf[400];
    int n = std::snprintf(buf, sizeof buf, "%.*f", int(f.decimals), v);
    if (n < 0 || uint32_t(n) > f.length || std::strchr(buf, 'e') || std::strchr(buf, 'n') ||
        std::strchr(buf, 'i'))
        return false;
    if (std::strcmp(buf, "-0") == 0) return PutRightAligned(f, "0", p);
    return PutRightAligned(f, std::string_view(buf, size_t(n)), p);
}

bool PutInteger(const FieldDesc& f, int64_t v, uint8_t* p) {
    if (f.decimals) return PutNumeric(f, double(v), p);
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return PutRightAligned(f, std::string_view(buf, size_t(end - buf)), p);
}

bool IsAscii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

}  // namespace

std::string ColumnText(std::string_view ansi) {
    std::string out;
    AssignColumnText(ansi, &out);
    return out;
}

void AssignColumnText(std::string_view ansi, std::string* out) {
    for (char c : ansi) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            *out = rtl::ToUtf8(rtl::DefaultCodePage(), ansi);
            return;
        }
    }
    out->assign(ansi);
}

std::string AnsiText(std::string_view column) {
    bool ascii = true;
    for (char c : column) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) return std::string(column);
    if (!rtl::IsUtf8(column)) return std::string(column);
    return rtl::FromUtf8Replacing(rtl::DefaultCodePage(), column, '?');
}

std::optional<std::string> ColumnValueText(std::string_view column, std::string* missing) {
    bool ascii = true;
    for (char c : column) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii || !rtl::IsUtf8(column)) return std::string(column);
    size_t bad = 0;
    std::optional<std::string> ansi = rtl::FromUtf8(rtl::DefaultCodePage(), column, &bad);
    if (!ansi) {
        // The code point of the UTF-8 sequence at bad (the text is well-formed UTF-8).
        auto lead = static_cast<unsigned char>(column[bad]);
        int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
        char32_t c = lead & (0x3F >> more);
        for (int i = 1; i <= more && bad + size_t(i) < column.size(); ++i)
            c = c << 6 | (static_cast<unsigned char>(column[bad + size_t(i)]) & 0x3F);
        char name[16];
        std::snprintf(name, sizeof name, "U+%04X", unsigned(c));
        *missing = name;
    }
    return ansi;
}

KCESTATUS Unconvertible(const std::string& file, UNSIGNED32 recno, const std::string& field,
                        const std::string& missing) {
    return Fail(KCE_INVALID_FIELD_VALUE,
                file + ", record " + std::to_string(recno) + ", field '" + field +
                    "': the value holds the character " + missing + ", which code page " +
                    std::to_string(rtl::DefaultCodePage().Number()) + " lacks");
}

const char* ColumnType(UNSIGNED16 type) {
    switch (type) {
        case KCE_LOGICAL:
        case KCE_INTEGER:
        case KCE_SHORTINT:
        case KCE_AUTOINC:
        case KCE_CURDOUBLE:
            return "INTEGER";
        case KCE_NUMERIC:
            return "NUMERIC";
        case KCE_DOUBLE:
            return "REAL";
        case KCE_BINARY:
        case KCE_IMAGE:
        case KCE_RAW:
            return "BLOB";
        default:
            return "TEXT";
    }
}

namespace {

// DecodeAt, or with `convert` false CheckAt: the same checks, without the column value's text.
// inPlace: a char value of plain ASCII is left in the image (DecodeInPlace).
KCESTATUS DecodeOrCheck(const FieldDesc& f, const uint8_t* p, ColumnValue* out, bool convert,
                        bool inPlace = false) {
    // Reset without giving up the string's capacity: callers reuse their values.
    out->kind = ColumnValue::kNull;
    out->bytes.clear();
    out->inPlace = {};
    if (IsBlobType(f.type) || IsNativeNullAt(f, p)) return KCE_SUCCESS;
    switch (f.type) {
        case KCE_LOGICAL: {
            char c = char(p[0]);
            out->kind = ColumnValue::kInteger;
            if (std::strchr("TtYy1", c) && c) {
                out->integer = 1;
            } else if (std::strchr("FfNn0", c) && c) {
                out->integer = 0;
            } else {
                return InvalidValue(f, "byte " + Hex(p, 1) + " is not T or F");
            }
            return KCE_SUCCESS;
        }
        case KCE_NUMERIC: {
            std::string_view text = TrimBlanks({reinterpret_cast<const char*>(p), f.length});
            if (text.empty()) return KCE_SUCCESS;  // blanks: empty
            NumericScan scan;
            if (!ScanNumericText(text, &scan)) {
                return InvalidValue(f, "'" + std::string(text) + "' is not a number");
            }
            if (!convert) return KCE_SUCCESS;
            int64_t i = 0;
            if (!scan.hasPoint && f.decimals == 0 && scan.significant <= 18) {
                out->kind = ColumnValue::kInteger;
                out->integer = scan.negative ? -int64_t(scan.mantissa) : int64_t(scan.mantissa);
            } else if (!scan.hasPoint && f.decimals == 0 && ParseInt64(text, &i)) {
                out->kind = ColumnValue::kInteger;
                out->integer = i;
            } else if (scan.significant <= 15) {
                // A double holds every such value; the field's decimals bring its text back.
                out->kind = ColumnValue::kReal;
                if (scan.decimals <= 22) {
                    // Both numbers are exact doubles, and a division rounds correctly: the same
                    // double as reading the text.
                    double v = double(scan.mantissa) / PowerOfTen(scan.decimals);
                    out->real = scan.negative ? -v : v;
                } else {
                    ParseDouble(text, &out->real);
                }
            } else {
                out->kind = ColumnValue::kBlob;
                out->bytes = std::string(text);
            }
            return KCE_SUCCESS;
        }
        case KCE_DATE: {
            int32_t j = int32_t(LoadU32(p));
            if (!InDateRange(j)) {
                return InvalidValue(f,
                                    "Julian day " + std::to_string(j) + " is outside years 0-9999");
            }
            out->kind = ColumnValue::kText;
            if (convert) out->bytes = FormatIsoDate(j);
            return KCE_SUCCESS;
        }
        case KCE_COMPACTDATE: {
            int64_t j = JulianFromCompact(p);
            if (j < 0) return InvalidValue(f, "bytes " + Hex(p, 3) + " name no day");
            out->kind = ColumnValue::kText;
            if (convert) out->bytes = FormatIsoDate(j);
            return KCE_SUCCESS;
        }
        case KCE_STRING: {
            std::string_view s(reinterpret_cast<const char*>(p), f.length);
            size_t zero = s.find('\0');
            if (zero != s.npos) s = s.substr(0, zero);
            while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
            out->kind = ColumnValue::kText;
            if (!convert) return KCE_SUCCESS;
            if (inPlace && IsAscii(s)) {
                // Never null, also for the empty text: that marks the value as in place.
                out->inPlace = std::string_view(reinterpret_cast<const char*>(p), s.size());
            } else {
                AssignColumnText(s, &out->bytes);
            }
            return KCE_SUCCESS;
        }
        case KCE_CURDOUBLE:
            out->kind = ColumnValue::kInteger;
            out->integer = LoadI64(p);
            return KCE_SUCCESS;
        case KCE_DOUBLE: {
            double v = LoadDouble(p);
            if (std::isnan(v)) return InvalidValue(f, "not a number (NaN)");
            out->kind = ColumnValue::kReal;
            out->real = v;
            return KCE_SUCCESS;
        }
        case KCE_INTEGER:
            out->kind = ColumnValue::kInteger;
            out->integer = int32_t(LoadU32(p));
            return KCE_SUCCESS;
        case KCE_SHORTINT:
            out->kind = ColumnValue::kInteger;
            out->integer = int16_t(LoadU16(p));
            return KCE_SUCCESS;
        case KCE_AUTOINC:
            out->kind = ColumnValue::kInteger;
            out->integer = LoadU32(p);
            return KCE_SUCCESS;
        case KCE_TIME: {
            uint32_t ms = LoadU32(p);
            if (ms >= kMsPerDay)
                return InvalidValue(f, std::to_string(ms) + " ms is past midnight");
            out->kind = ColumnValue::kText;
            if (convert) out->bytes = FormatTimeOfDay(ms);
            return KCE_SUCCESS;
        }
        case KCE_TIMESTAMP: {
            int32_t j = int32_t(LoadU32(p));
            uint32_t ms = LoadU32(p + 4);
            if (!InDateRange(j)) {
                return InvalidValue(f,
                                    "Julian day " + std::to_string(j) + " is outside years 0-9999");
            }
            if (ms >= kMsPerDay)
                return InvalidValue(f, std::to_string(ms) + " ms is past midnight");
            out->kind = ColumnValue::kText;
            if (convert) {
                // Appended in place: the value's string keeps its room from record to record.
                out->bytes.append(FormatIsoDate(j)).append(1, 'T').append(FormatTimeOfDay(ms));
            }
            return KCE_SUCCESS;
        }
        case KCE_RAW:
            out->kind = ColumnValue::kBlob;
            if (convert) out->bytes.assign(reinterpret_cast<const char*>(p), f.length);
            return KCE_SUCCESS;
    }
    return InvalidValue(f, "unknown type");
}

}  // namespace

KCESTATUS Decode(const FieldDesc& f, const uint8_t* image, ColumnValue* out) {
    return DecodeOrCheck(f, image + f.offset, out, true);
}

KCESTATUS DecodeInPlace(const FieldDesc& f, const uint8_t* image, ColumnValue* out) {
    return DecodeOrCheck(f, image + f.offset, out, true, true);
}

KCESTATUS DecodeAt(const FieldDesc& f, const uint8_t* p, ColumnValue* out) {
    return DecodeOrCheck(f, p, out, true);
}

KCESTATUS CheckAt(const FieldDesc& f, const uint8_t* p, ColumnValue* scratch) {
    return DecodeOrCheck(f, p, scratch, false);
}

KCESTATUS Bind(sqlite3_stmt* stmt, int index, const ColumnValue& v, bool stable) {
    int rc = SQLITE_OK;
    auto lifetime = stable ? SQLITE_STATIC : SQLITE_TRANSIENT;
    switch (v.kind) {
        case ColumnValue::kNull:
            rc = sqlite3_bind_null(stmt, index);
            break;
        case ColumnValue::kInteger:
            rc = sqlite3_bind_int64(stmt, index, v.integer);
            break;
        case ColumnValue::kReal:
            rc = sqlite3_bind_double(stmt, index, v.real);
            break;
        case ColumnValue::kText:
            if (v.inPlace.data() != nullptr) {
                rc = sqlite3_bind_text(stmt, index, v.inPlace.data(), int(v.inPlace.size()),
                                       lifetime);
            } else {
                rc = sqlite3_bind_text(stmt, index, v.bytes.data(), int(v.bytes.size()), lifetime);
            }
            break;
        case ColumnValue::kBlob:
            rc = sqlite3_bind_blob(stmt, index, v.bytes.data(), int(v.bytes.size()), lifetime);
            break;
    }
    if (rc != SQLITE_OK) return Fail(KCE_INTERNAL_ERROR, sqlite3_errstr(rc));
    return KCE_SUCCESS;
}

namespace {

// A column value as SQLite answers it: its storage class and, by class, the integer, the real
// (an integer's too, converted as SQLite converts it) or the bytes of a text or blob.
struct ColumnView {
    int kind = SQLITE_NULL;
    int64_t integer = 0;
    double real = 0;
    std::string_view bytes;
};

// The image bytes of a non-blob field from its column value.
KCESTATUS ImageFromColumn(const ColumnView& c, const FieldDesc& f, uint8_t* image, UNSIGNED32 recno,
                          const std::string& file) {
    uint8_t* p = image + f.offset;
    const int kind = c.kind;
    auto damaged = [&](const std::string& why) {
        return Fail(KCE_DAMAGED_FILE, file + ", record " + std::to_string(recno) + ", field '" +
                                          f.name + "': " + why);
    };
    if (kind == SQLITE_NULL) {
        WriteNativeNull(f, image);
        return KCE_SUCCESS;
    }
    bool numeric = kind == SQLITE_INTEGER || kind == SQLITE_FLOAT;
    switch (f.type) {
        case KCE_LOGICAL:
            if (kind != SQLITE_INTEGER) return damaged("not 0 or 1");
            p[0] = c.integer ? 'T' : 'F';
            return KCE_SUCCESS;
        case KCE_NUMERIC: {
            if (!numeric) {
                // Digits past a double's, kept as text.
                auto d = ParseDecimal(c.bytes);
                auto s = d ? FormatFixed(*d, f.decimals, f.length) : std::nullopt;
                if (!s) return damaged("not a number");
                if (s->size() > f.length) return damaged("the number does not fit the field");
                std::memset(p, ' ', f.length);
                std::memcpy(p + f.length - s->size(), s->data(), s->size());
                return KCE_SUCCESS;
            }
            bool fits =
                kind == SQLITE_INTEGER ? PutInteger(f, c.integer, p) : PutNumeric(f, c.real, p);
            if (!fits) return damaged("the number does not fit the field");
            return KCE_SUCCESS;
        }
        case KCE_DATE:
        case KCE_COMPACTDATE: {
            int64_t j = 0;
            if (kind != SQLITE_TEXT || !ParseIsoDate(c.bytes, &j)) return damaged("not a date");
            if (f.type == KCE_DATE) {
                StoreU32(p, uint32_t(j));
            } else {
                CompactFromJulian(j, p);
            }
            return KCE_SUCCESS;
        }
        case KCE_STRING: {
            if (kind != SQLITE_TEXT && kind != SQLITE_BLOB) return damaged("not text");
            // Plain ASCII, the common case, is the same in both character sets: copied as it is.
            bool ascii = true;
            for (char ch : c.bytes) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
            if (ascii) {
                if (c.bytes.size() > f.length) return damaged("longer than the field");
                std::memset(p, ' ', f.length);
                if (!c.bytes.empty()) std::memcpy(p, c.bytes.data(), c.bytes.size());
                return KCE_SUCCESS;
            }
            std::string missing;
            std::optional<std::string> value = ColumnValueText(c.bytes, &missing);
            if (!value) return Unconvertible(file, recno, f.name, missing);
            const std::string& text = *value;
            if (text.size() > f.length) return damaged("longer than the field");
            std::memset(p, ' ', f.length);
            if (!text.empty()) std::memcpy(p, text.data(), text.size());
            return KCE_SUCCESS;
        }
        case KCE_DOUBLE:
            if (!numeric) return damaged("not a number");
            StoreDouble(p, c.real);
            return KCE_SUCCESS;
        case KCE_CURDOUBLE: {
            // A count of ten-thousandths; a REAL is a value in units (tables written before money
            // was kept exactly).
            if (!numeric) return damaged("not a number");
            int64_t count = 0;
            if (kind == SQLITE_INTEGER) {
                count = c.integer;
            } else {
                double v = std::nearbyint(c.real * 10000.0);
                if (!(std::fabs(v) < 9.2e18)) return damaged("out of range");
                count = int64_t(v);
            }
            if (count == kMoneyNullCount) return damaged("out of range");
            StoreI64(p, count);
            return KCE_SUCCESS;
        }
        case KCE_INTEGER:
        case KCE_SHORTINT:
        case KCE_AUTOINC: {
            if (kind != SQLITE_INTEGER) return damaged("not an integer");
            int64_t v = c.integer;
            if (f.type == KCE_SHORTINT) {
                if (v <= -32768 || v > 32767) return damaged("out of range");
                StoreU16(p, uint16_t(v));
            } else if (f.type == KCE_INTEGER) {
                if (v <= INT32_MIN || v > INT32_MAX) return damaged("out of range");
                StoreU32(p, uint32_t(v));
            } else {
                if (v < 0 || v >= 0xFFFFFFFFLL) return damaged("out of range");
                StoreU32(p, uint32_t(v));
            }
            return KCE_SUCCESS;
        }
        case KCE_TIME: {
            uint32_t ms = 0;
            if (kind != SQLITE_TEXT || !ParseTimeOfDay(c.bytes, &ms)) return damaged("not a time");
            StoreU32(p, ms);
            return KCE_SUCCESS;
        }
        case KCE_TIMESTAMP: {
            std::string_view t = kind == SQLITE_TEXT ? c.bytes : std::string_view();
            int64_t j = 0;
            uint32_t ms = 0;
            if (t.size() < 12 || (t[10] != 'T' && t[10] != ' ') ||
                !ParseIsoDate(t.substr(0, 10), &j) || !ParseTimeOfDay(t.substr(11), &ms))
                return damaged("not a timestamp");
            StoreU32(p, uint32_t(j));
            StoreU32(p + 4, ms);
            return KCE_SUCCESS;
        }
        case KCE_RAW: {
            if (kind != SQLITE_BLOB && kind != SQLITE_TEXT) return damaged("not bytes");
            size_t n = c.bytes.size();
            if (n > f.length) return damaged("longer than the field");
            std::memset(p, 0, f.length);
            if (n) std::memcpy(p, c.bytes.data(), n);
            return KCE_SUCCESS;
        }
    }
    return damaged("unknown type");
}

}  // namespace

KCESTATUS ReadColumn(sqlite3_stmt* stmt, int col, const FieldDesc& f, uint8_t* image,
                     UNSIGNED32 recno, const std::string& file) {
    if (IsBlobType(f.type)) {
        // The select list asks whether a blob field holds a value (1 or 0), not for the value.
        StoreU32(image + f.offset, sqlite3_column_int(stmt, col) ? 0xFFFFFFFFu : 0);
        return KCE_SUCCESS;
    }
    // One column call, then the value's own accessors, which skip the statement's checks. The
    // connections of native tables are opened without SQLite's mutex and used under the engine
    // lock alone, where an unprotected value is as good as a protected one.
    sqlite3_value* value = sqlite3_column_value(stmt, col);
    ColumnView c;
    c.kind = sqlite3_value_type(value);
    switch (c.kind) {
        case SQLITE_INTEGER:
            c.integer = sqlite3_value_int64(value);
            c.real = double(c.integer);
            break;
        case SQLITE_FLOAT:
            c.real = sqlite3_value_double(value);
            break;
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
            const void* data = sqlite3_value_blob(value);
            c.bytes = std::string_view(static_cast<const char*>(data ? data : ""),
                                       size_t(sqlite3_value_bytes(value)));
            break;
        }
    }
    return ImageFromColumn(c, f, image, recno, file);
}

bool IsCanonicalColumn(const FieldDesc& f, sqlite3_value* value) {
    const int kind = sqlite3_value_type(value);
    if (kind == SQLITE_NULL) return !IsBlobType(f.type);
    switch (f.type) {
        case KCE_LOGICAL: {
            if (kind != SQLITE_INTEGER) return false;
            sqlite3_int64 v = sqlite3_value_int64(value);
            return v == 0 || v == 1;
        }
        case KCE_STRING: {
            if (kind != SQLITE_TEXT) return false;
            const auto* p = static_cast<const unsigned char*>(sqlite3_value_blob(value));
            size_t n = size_t(sqlite3_value_bytes(value));
            if (n > f.length || (n && p[n - 1] == ' ')) return false;
            for (size_t i = 0; i < n; ++i) {
                if (p[i] == 0 || p[i] > 0x7F) return false;
            }
            return true;
        }
        case KCE_DATE: {
            if (kind != SQLITE_TEXT) return false;
            const void* p = sqlite3_value_blob(value);
            int64_t j = 0;
            return ParseIsoDate(
                {static_cast<const char*>(p ? p : ""), size_t(sqlite3_value_bytes(value))}, &j);
        }
        case KCE_DOUBLE: {
            if (kind != SQLITE_FLOAT) return false;
            // The one double whose bytes are the empty field's.
            uint8_t bytes[8];
            StoreDouble(bytes, sqlite3_value_double(value));
            static const uint8_t kNull[8] = {0x20, 0, 0, 0, 0, 0, 0, 0x80};
            return std::memcmp(bytes, kNull, 8) != 0;
        }
        case KCE_INTEGER:
        case KCE_SHORTINT:
        case KCE_AUTOINC: {
            if (kind != SQLITE_INTEGER) return false;
            sqlite3_int64 v = sqlite3_value_int64(value);
            if (f.type == KCE_SHORTINT) return v > -32768 && v <= 32767;
            if (f.type == KCE_INTEGER) return v > INT32_MIN && v <= INT32_MAX;
            return v >= 0 && v < 0xFFFFFFFFLL;
        }
        default:
            return false;
    }
}

KCESTATUS ImageFromValue(const ColumnValue& v, const FieldDesc& f, uint8_t* image,
                         const std::string& file) {
    if (IsBlobType(f.type)) {
        StoreU32(image + f.offset, v.kind == ColumnValue::kInteger && v.integer ? 0xFFFFFFFFu : 0);
        return KCE_SUCCESS;
    }
    ColumnView c;
    switch (v.kind) {
        case ColumnValue::kNull:
            c.kind = SQLITE_NULL;
            break;
        case ColumnValue::kInteger:
            c.kind = SQLITE_INTEGER;
            c.integer = v.integer;
            c.real = double(v.integer);
            break;
        case ColumnValue::kReal:
            // SQLite keeps no NaN: bound, it reads back as NULL.
            c.kind = std::isnan(v.real) ? SQLITE_NULL : SQLITE_FLOAT;
            c.real = v.real;
            break;
        case ColumnValue::kText:
            c.kind = SQLITE_TEXT;
            c.bytes = v.bytes;
            break;
        case ColumnValue::kBlob:
            c.kind = SQLITE_BLOB;
            c.bytes = v.bytes;
            break;
    }
    return ImageFromColumn(c, f, image, 0, file);
}

}  // namespace kce::native
