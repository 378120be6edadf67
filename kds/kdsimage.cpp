#include "kds/kdsimage.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "rtl/datetime.h"
#include "rtl/numconv.h"

namespace kds::image {
namespace {

constexpr double kMSecsPerDay = 86400000.0;
// Native day numbers that name a day of years 1 to 9999 (0001-01-01 is day 1).
constexpr int32_t kLastNativeDay = 3652059;
constexpr int kDateTextCapacity = 13;

// ---- Empty images and tests ---------------------------------------------------------------------

// How a field's empty image is written.
enum class Fill : uint8_t {
    None,    // the type has no image
    Zeros,   // every byte 0
    Blanks,  // every byte a blank
    Image,   // the row's empty bytes
};

// When a field's bytes hold no value.
enum class Test : uint8_t {
    Always,          // the type holds no value in this kind
    Blank,           // the one byte is a blank
    Zeros,           // every byte is 0
    ZerosOrBlanks,   // every byte is 0 or a blank
    Marker,          // the 32-bit blob marker is 0
    Image,           // the bytes are the row's empty bytes
    DayZero,         // the first 32-bit word (a Julian day) is 0
    DayZeroOrBlank,  // every byte is 0 or a blank, or the day is 0
};

struct Layout {
    Test test;
    Fill fill;
};

using Reader = void (*)(const ImageField&, const char*, const NativeSlot&, void*);
using Writer = void (*)(const ImageField&, char*, const NativeSlot&, const void*, bool);

struct TypeRow {
    uint16_t type;
    Layout native;
    Layout xbase;
    // The empty bytes of Test::Image / Fill::Image (the native empty image of the type).
    uint8_t emptyLength;
    std::array<uint8_t, 8> empty;
    // A binary number: its native empty image marks a pending empty value on both kinds.
    bool binaryNumber;
    Reader read;
    Writer write;
};

template <typename T>
T Load(const void* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T>
void Store(void* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

bool AllBytes(const char* p, int length, auto predicate) {
    for (int i = 0; i < length; ++i) {
        if (!predicate(static_cast<unsigned char>(p[i]))) return false;
    }
    return true;
}

bool IsZero(unsigned char c) { return c == 0; }
bool IsZeroOrBlank(unsigned char c) { return c == 0 || c == ' '; }

// ---- Dates --------------------------------------------------------------------------------------

// The native day of a calendar day, or 0 when the numbers name no day of years 1 to 9999.
int32_t NativeDayOf(int year, int month, int day) {
    rtl::TDateTime value = 0;
    if (!rtl::TryEncodeDate(year, month, day, value)) return 0;
    return static_cast<int32_t>(std::trunc(value)) + static_cast<int32_t>(rtl::kDateDelta);
}

// The native day of a date text through the engine, which reads every form it knows and refuses
// the texts that name no day with its own error.
int32_t NativeDayOfText(const char* text, int length, const NativeSlot& slot) {
    double julian = 0;
    CheckKdsStatus(slot.owner, KdsConvertStringToJulian(reinterpret_cast<const UNSIGNED8*>(text),
                                                        static_cast<UNSIGNED16>(length), &julian));
    return static_cast<int32_t>(std::trunc(julian - KCE_JULIAN_DAY_ZERO));
}

// The eight-digit text YYYYMMDD of a native day, through the engine when the day lies outside
// years 1 to 9999 (the empty date gives eight blanks; other days its error). Answers the length.
int DateText(int32_t day, const NativeSlot& slot, char (&text)[kDateTextCapacity + 1]) {
    if (day >= 1 && day <= kLastNativeDay) {
        int year = 0, month = 0, dayOfMonth = 0;
        rtl::DecodeDate(static_cast<rtl::TDateTime>(day - rtl::kDateDelta), year, month,
                        dayOfMonth);
        std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, dayOfMonth);
        return 8;
    }
    UNSIGNED16 length = kDateTextCapacity;
    std::memset(text, 0, sizeof text);
    CheckKdsStatus(slot.owner,
                   KdsConvertJulianToString(static_cast<double>(day) + KCE_JULIAN_DAY_ZERO,
                                            reinterpret_cast<UNSIGNED8*>(text), &length));
    return length;
}

int Digits(const char* p, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        char c = p[i];
        value = value * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
    }
    return value;
}

// ---- Numbers ------------------------------------------------------------------------------------

// The settings of numeric field texts: "." whatever the process uses.
const rtl::TFormatSettings& PointSettings() {
    static const rtl::TFormatSettings settings = [] {
        rtl::TFormatSettings s;
        s.DecimalSeparator = '.';
        return s;
    }();
    return settings;
}

// The text of a fixed-width numeric field: rounded to `precision` significant digits and to
// `decimals` places, exactly `decimals` digits after the point. A value whose integer part needs
// more than `precision` digits answers a text with an exponent.
std::string NumericText(double value, int precision, int decimals) {
    char buffer[400];
    if (!std::isfinite(value)) return "E";
    double magnitude = std::fabs(value);
    int integerDigits =
        magnitude < 1.0 ? 1 : static_cast<int>(std::floor(std::log10(magnitude))) + 1;
    if (precision < 1 || integerDigits > precision) {
        auto [end, ec] =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
        return std::string(buffer, ec == std::errc() ? end : buffer);
    }
    auto [sigEnd, sigEc] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                         std::chars_format::scientific, precision - 1);
    double rounded = value;
    if (sigEc == std::errc()) std::from_chars(buffer, sigEnd, rounded);
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, decimals);
    std::string text(buffer, ec == std::errc() ? end : buffer);
    if (text == "-0" || text.starts_with("-0.")) {
        bool allZero = text.find_first_not_of("-0.") == std::string::npos;
        if (allZero) text.erase(0, 1);
    }
    return text;
}

// ---- Readers ------------------------------------------------------------------------------------

void ReadNothing(const ImageField&, const char*, const NativeSlot&, void*) {}

void ReadLogical(const ImageField&, const char* p, const NativeSlot&, void* out) {
    char c = p[0];
    bool on = c == '1' || c == 'T' || c == 'Y' || c == 't' || c == 'y';
    Store<int16_t>(out, on ? -1 : 0);
}

void ReadNumeric(const ImageField& f, const char* p, const NativeSlot& slot, void* out) {
    int textLength = 0;
    while (textLength < f.length && p[textLength] != 0) ++textLength;
    const std::string text(p, static_cast<size_t>(textLength));
    // A text that does not read as a number leaves the destination as it was.
    double value = 0;
    if (!rtl::TryStrToFloat(text, value, PointSettings())) return;
    if (slot.dataType == db::ftSmallint) {
        if (std::fabs(value) < 32768.0)
            Store<int16_t>(out, static_cast<int16_t>(std::trunc(value)));
    } else {
        Store<double>(out, value);
    }
}

void ReadDate(const ImageField& f, const char* p, const NativeSlot& slot, void* out) {
    if (f.length == 4) {
        Store<int32_t>(out, Load<int32_t>(p) - KCE_JULIAN_DAY_ZERO);
        return;
    }
    // Eight digits name the day directly; any other text is the engine's to read or refuse.
    int32_t day = 0;
    if (f.length == 8 && AllBytes(p, 8, [](unsigned char c) { return c >= '0' && c <= '9'; })) {
        day = NativeDayOf(Digits(p, 4), Digits(p + 4, 2), Digits(p + 6, 2));
    }
    Store<int32_t>(out, day != 0 ? day : NativeDayOfText(p, f.length, slot));
}

void ReadString(const ImageField& f, const char* p, const NativeSlot& slot, void* out) {
    // A field object may be narrower than the table's field: never past its data.
    auto* text = static_cast<char*>(out);
    int count = std::min(f.length, std::max(slot.dataSize - 1, 0));
    std::memcpy(text, p, static_cast<size_t>(count));
    text[count] = 0;
    for (int i = count - 1; i >= 0 && (text[i] == ' ' || text[i] == 0); --i) text[i] = 0;
}

void ReadCompactDate(const ImageField&, const char* p, const NativeSlot& slot, void* out) {
    unsigned b0 = static_cast<unsigned char>(p[0]);
    unsigned b1 = static_cast<unsigned char>(p[1]);
    unsigned b2 = static_cast<unsigned char>(p[2]);
    unsigned w = b0 * 256 + b1;
    // The word holds years up to 32767; the date's text, and so its day, keeps the last four
    // digits of the year.
    int year = static_cast<int>(w >> 1) % 10000;
    int month = static_cast<int>((w & 1u) * 8 + (b2 >> 5));
    int dayOfMonth = static_cast<int>(b2 & 0x1Fu);
    int32_t day = NativeDayOf(year, month, dayOfMonth);
    if (day == 0) {
        // Numbers that name no day: the engine refuses their text with its error.
        char text[16];
        std::snprintf(text, sizeof text, "%04d%02d%02d", year, month, dayOfMonth);
        day = NativeDayOfText(text, 8, slot);
    }
    Store<int32_t>(out, day);
}

void ReadMoney(const ImageField&, const char* p, const NativeSlot&, void* out) {
    // The engine keeps money exactly, as a 64-bit count of ten-thousandths.
    Store<double>(out, static_cast<double>(Load<int64_t>(p)) / 10000.0);
}

template <size_t N>
void ReadBytes(const ImageField&, const char* p, const NativeSlot&, void* out) {
    std::memcpy(out, p, N);
}

void ReadTimestamp(const ImageField&, const char* p, const NativeSlot&, void* out) {
    double julian = Load<uint32_t>(p);
    double ms = Load<uint32_t>(p + 4);
    double value = (julian - KCE_JULIAN_DAY_ZERO) * kMSecsPerDay + ms;
    Store<double>(out, value < 0 ? 0.0 : value);
}

void ReadRaw(const ImageField& f, const char* p, const NativeSlot& slot, void* out) {
    std::memcpy(out, p, static_cast<size_t>(std::min(f.length, slot.dataSize)));
}

// ---- Writers ------------------------------------------------------------------------------------

void WriteNothing(const ImageField&, char*, const NativeSlot&, const void*, bool) {}

void WriteLogical(const ImageField&, char* p, const NativeSlot&, const void* in, bool) {
    p[0] = Load<int16_t>(in) != 0 ? 'T' : 'F';
}

void WriteNumeric(const ImageField& f, char* p, const NativeSlot& slot, const void* in, bool) {
    std::string text;
    if (slot.dataType == db::ftSmallint) {
        text = std::to_string(Load<int16_t>(in));
    } else if (slot.dataType == db::ftInteger) {
        text = std::to_string(Load<int32_t>(in));
    } else {
        int precision = f.decimals > 0 ? f.length - 1 : f.length;
        text = NumericText(Load<double>(in), precision, f.decimals);
    }
    if (static_cast<int>(text.size()) > f.length || text.find_first_of("Ee") != std::string::npos) {
        KdsDatabaseError(slot.owner, msg::kNumericOutOfRange);
    }
    std::memset(p, ' ', static_cast<size_t>(f.length));
    std::memcpy(p + f.length - text.size(), text.data(), text.size());
}

void WriteDate(const ImageField& f, char* p, const NativeSlot& slot, const void* in, bool) {
    int32_t day = Load<int32_t>(in);
    if (f.length == 4) {
        Store<int32_t>(p, day + KCE_JULIAN_DAY_ZERO);
        return;
    }
    char text[kDateTextCapacity + 1];
    int length = DateText(day, slot, text);
    if (length > f.length) KdsDatabaseError(slot.owner, msg::kDateFunctions);
    std::memcpy(p, text, static_cast<size_t>(length));
}

void WriteString(const ImageField& f, char* p, const NativeSlot&, const void* in,
                 bool emptyTextIsZeros) {
    const char* text = static_cast<const char*>(in);
    bool zeros = emptyTextIsZeros && text[0] == 0;
    std::memset(p, zeros ? 0 : ' ', static_cast<size_t>(f.length));
    std::memcpy(p, text, strnlen(text, static_cast<size_t>(f.length)));
}

void WriteCompactDate(const ImageField&, char* p, const NativeSlot& slot, const void* in, bool) {
    const int32_t day = Load<int32_t>(in);
    int year = 0, month = 0, dayOfMonth = 0;
    if (day >= 1 && day <= kLastNativeDay) {
        rtl::DecodeDate(static_cast<rtl::TDateTime>(day - rtl::kDateDelta), year, month,
                        dayOfMonth);
    } else {
        // Outside years 1 to 9999 the engine answers: the empty date as blanks, which pack as
        // zeros (the compact date's empty image); any other day with its error.
        char text[kDateTextCapacity + 1];
        DateText(day, slot, text);
        year = Digits(text, 4);
        month = Digits(text + 4, 2);
        dayOfMonth = Digits(text + 6, 2);
    }
    const uint16_t w = static_cast<uint16_t>(year * 2 + (month >> 3));
    p[0] = static_cast<char>(w >> 8);
    p[1] = static_cast<char>(w & 0xFF);
    p[2] = static_cast<char>((month * 32 + dayOfMonth) & 0xFF);
}

void WriteMoney(const ImageField&, char* p, const NativeSlot& slot, const void* in, bool) {
    double count = std::nearbyint(Load<double>(in) * 10000.0);
    if (!(std::fabs(count) < 9.2e18)) KdsDatabaseError(slot.owner, msg::kNumericOutOfRange);
    Store<int64_t>(p, static_cast<int64_t>(count));
}

template <size_t N>
void WriteBytes(const ImageField&, char* p, const NativeSlot&, const void* in, bool) {
    std::memcpy(p, in, N);
}

void WriteShortint(const ImageField&, char* p, const NativeSlot& slot, const void* in, bool) {
    int16_t value = slot.dataType == db::ftInteger ? static_cast<int16_t>(Load<int32_t>(in))
                                                   : Load<int16_t>(in);
    Store<int16_t>(p, value);
}

void WriteTimestamp(const ImageField&, char* p, const NativeSlot&, const void* in, bool) {
    double value = Load<double>(in);
    double days = std::trunc(value / kMSecsPerDay);
    Store<uint32_t>(p, static_cast<uint32_t>(static_cast<int64_t>(days) + KCE_JULIAN_DAY_ZERO));
    Store<uint32_t>(p + 4, static_cast<uint32_t>(std::trunc(value - days * kMSecsPerDay)));
}

void WriteRaw(const ImageField& f, char* p, const NativeSlot&, const void* in, bool) {
    std::memcpy(p, in, static_cast<size_t>(f.length));
}

// ---- The table ----------------------------------------------------------------------------------

constexpr std::array<uint8_t, 8> kNoBytes{};
constexpr std::array<uint8_t, 8> kEmptyDouble{0x20, 0, 0, 0, 0, 0, 0, 0x80};
constexpr std::array<uint8_t, 8> kEmptyInteger{0, 0, 0, 0x80};
constexpr std::array<uint8_t, 8> kEmptyShortint{0, 0x80};
constexpr std::array<uint8_t, 8> kAllOnes{0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::array<uint8_t, 8> kEmptyTimestamp{0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};

constexpr Layout kText{Test::Zeros, Fill::Zeros};
constexpr Layout kXBaseText{Test::ZerosOrBlanks, Fill::Blanks};
constexpr Layout kBlob{Test::Marker, Fill::Zeros};
constexpr Layout kOwnImage{Test::Image, Fill::Image};
constexpr Layout kNoXBaseField{Test::Always, Fill::Blanks};

// Indexed by engine field type. Rows of types DBF tables cannot hold (no DBF column) keep the
// rules the components have always applied to them.
// clang-format off
constexpr std::array<TypeRow, 18> kRows{{
    {0, {Test::Always, Fill::None}, {Test::Always, Fill::None}, 0, kNoBytes, false, ReadNothing,
     WriteNothing},
    {KCE_LOGICAL, {Test::Blank, Fill::Blanks}, kXBaseText, 0, kNoBytes, false, ReadLogical,
     WriteLogical},
    {KCE_NUMERIC, kText, kXBaseText, 0, kNoBytes, false, ReadNumeric, WriteNumeric},
    {KCE_DATE, kText, kXBaseText, 0, kNoBytes, false, ReadDate, WriteDate},
    {KCE_STRING, kText, kXBaseText, 0, kNoBytes, false, ReadString, WriteString},
    {KCE_MEMO, kBlob, kBlob, 0, kNoBytes, false, ReadNothing, WriteNothing},
    {KCE_BINARY, kBlob, kBlob, 0, kNoBytes, false, ReadNothing, WriteNothing},
    {KCE_IMAGE, kBlob, kBlob, 0, kNoBytes, false, ReadNothing, WriteNothing},
    {KCE_VARCHAR, kBlob, kBlob, 0, kNoBytes, false, ReadNothing, WriteNothing},
    {KCE_COMPACTDATE, kText, kText, 0, kNoBytes, false, ReadCompactDate, WriteCompactDate},
    {KCE_DOUBLE, kOwnImage, kOwnImage, 8, kEmptyDouble, true, ReadBytes<8>, WriteBytes<8>},
    {KCE_INTEGER, kOwnImage, kOwnImage, 4, kEmptyInteger, true, ReadBytes<4>, WriteBytes<4>},
    {KCE_SHORTINT, kOwnImage, kOwnImage, 2, kEmptyShortint, true, ReadBytes<2>, WriteShortint},
    {KCE_TIME, kOwnImage, kNoXBaseField, 4, kAllOnes, false, ReadBytes<4>, WriteBytes<4>},
    {KCE_TIMESTAMP, {Test::DayZero, Fill::Image}, {Test::DayZeroOrBlank, Fill::Blanks}, 8,
     kEmptyTimestamp, false, ReadTimestamp, WriteTimestamp},
    {KCE_AUTOINC, kOwnImage, kXBaseText, 4, kAllOnes, false, ReadBytes<4>, WriteBytes<4>},
    {KCE_RAW, kText, kNoXBaseField, 0, kNoBytes, false, ReadRaw, WriteRaw},
    {KCE_CURDOUBLE, kOwnImage, kOwnImage, 8, kEmptyDouble, true, ReadMoney, WriteMoney},
}};
// clang-format on

constexpr bool RowsInTypeOrder() {
    for (size_t i = 0; i < kRows.size(); ++i) {
        if (kRows[i].type != i) return false;
    }
    return true;
}
static_assert(RowsInTypeOrder(), "kRows is indexed by field type");

const TypeRow& RowOf(uint16_t type) { return kRows[type < kRows.size() ? type : 0]; }

const Layout& LayoutOf(const TypeRow& row, TableKind kind) {
    return kind == TableKind::Native ? row.native : row.xbase;
}

// The bytes a rule looks at: the row's own length, else the field's.
int LengthOf(const TypeRow& row, const ImageField& f) {
    return row.emptyLength != 0 ? row.emptyLength : f.length;
}

}  // namespace

bool IsEmpty(TableKind kind, const ImageField& f, const char* p) {
    const TypeRow& row = RowOf(f.type);
    const int length = LengthOf(row, f);
    switch (LayoutOf(row, kind).test) {
        case Test::Always:
            return true;
        case Test::Blank:
            return p[0] == ' ';
        case Test::Zeros:
            return AllBytes(p, length, IsZero);
        case Test::ZerosOrBlanks:
            return AllBytes(p, length, IsZeroOrBlank);
        case Test::Marker:
            return Load<int32_t>(p) == 0;
        case Test::Image:
            return std::memcmp(p, row.empty.data(), static_cast<size_t>(length)) == 0;
        case Test::DayZero:
            return Load<int32_t>(p) == 0;
        case Test::DayZeroOrBlank:
            return AllBytes(p, length, IsZeroOrBlank) || Load<int32_t>(p) == 0;
    }
    return true;
}

void WriteEmpty(TableKind kind, const ImageField& f, char* p) {
    const TypeRow& row = RowOf(f.type);
    const int length = LengthOf(row, f);
    Fill fill = row.binaryNumber ? Fill::Image : LayoutOf(row, kind).fill;
    switch (fill) {
        case Fill::None:
            return;
        case Fill::Zeros:
            std::memset(p, 0, static_cast<size_t>(length));
            return;
        case Fill::Blanks:
            std::memset(p, ' ', static_cast<size_t>(length));
            return;
        case Fill::Image:
            std::memcpy(p, row.empty.data(), static_cast<size_t>(length));
            return;
    }
}

bool IsPendingEmptyNumber(const ImageField& f, const char* p) {
    const TypeRow& row = RowOf(f.type);
    return row.binaryNumber && std::memcmp(p, row.empty.data(), row.emptyLength) == 0;
}

void Read(const ImageField& f, const char* p, const NativeSlot& slot, void* destination) {
    RowOf(f.type).read(f, p, slot, destination);
}

void Write(const ImageField& f, char* p, const NativeSlot& slot, const void* source,
           bool emptyTextIsZeros) {
    RowOf(f.type).write(f, p, slot, source, emptyTextIsZeros);
}

}  // namespace kds::image
