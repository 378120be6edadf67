// TKdsDataSet field data: which buffer a field access uses in each state, the null tests of native
// and xBase record images, and the conversions between each engine field type's raw bytes and the
// native forms of the field objects. New records get their default expressions here.
//
// A field read touches only the record buffer and asks the engine for the table type (and, for
// xBase date texts, for the date conversion); no record is fetched or written.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "kds/kdsdata.h"
#include "rtl/datetime.h"
#include "rtl/numconv.h"
#include "rtl/textutils.h"

namespace kds {
namespace {

// Julian day of the day before 1 January of year 1: native day n is Julian day n + this.
constexpr int32_t kJulianDelta = 1721425;
constexpr double kMSecsPerDay = 86400000.0;
constexpr int kDateTextCapacity = 13;

bool AllBytes(const char* p, int length, auto predicate) {
    for (int i = 0; i < length; ++i) {
        if (!predicate(static_cast<unsigned char>(p[i]))) return false;
    }
    return true;
}

bool IsZero(unsigned char c) { return c == 0; }
bool IsZeroOrBlank(unsigned char c) { return c == 0 || c == ' '; }

bool BytesEqual(const char* p, std::initializer_list<unsigned char> bytes) {
    int i = 0;
    for (unsigned char b : bytes) {
        if (static_cast<unsigned char>(p[i++]) != b) return false;
    }
    return true;
}

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

bool IsBlobType(int code) { return code >= KCE_MEMO && code <= KCE_VARCHAR; }

// The settings of numeric field texts: "." whatever the process uses. Reading a number uses
// only the decimal separator, so the process-wide settings need not be copied for every value.
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
    // Rounding to the places may carry into one more integer digit (99.999 -> 100.00).
    if (text == "-0" || text.starts_with("-0.")) {
        bool allZero = text.find_first_not_of("-0.") == std::string::npos;
        if (allZero) text.erase(0, 1);
    }
    return text;
}

// A compact date's three bytes as its eight-digit text YYYYMMDD.
std::string CompactDateText(const char* p) {
    unsigned b0 = static_cast<unsigned char>(p[0]);
    unsigned b1 = static_cast<unsigned char>(p[1]);
    unsigned b2 = static_cast<unsigned char>(p[2]);
    unsigned w = b0 * 256 + b1;
    unsigned year = w >> 1;
    unsigned month = (w & 1u) * 8 + (b2 >> 5);
    unsigned day = b2 & 0x1Fu;
    std::string yearText = "0000" + std::to_string(year);
    auto two = [](unsigned n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    return yearText.substr(yearText.size() - 4) + two(month) + two(day);
}

void PackCompactDate(const char* text, char* p) {
    auto number = [&](int from, int count) {
        int value = 0;
        for (int i = from; i < from + count; ++i) {
            char c = text[i];
            value = value * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
        }
        return value;
    };
    int year = number(0, 4);
    int month = number(4, 2);
    int day = number(6, 2);
    uint16_t w = static_cast<uint16_t>(year * 2 + (month >> 3));
    p[0] = static_cast<char>(w >> 8);
    p[1] = static_cast<char>(w & 0xFF);
    p[2] = static_cast<char>((month * 32 + day) & 0xFF);
}

}  // namespace

const TKCEFieldDef& TKdsDataSet::DescriptionOf(int fieldNumber) const {
    return fieldDescriptions_.Item(fieldNumber - 1);
}

db::TRecordBuffer TKdsDataSet::GetRecordBufferForState() {
    switch (State()) {
        case db::DataSetState::Browse:
        case db::DataSetState::BlockRead:
            return IsEmpty() ? nullptr : ActiveBuffer();
        case db::DataSetState::Edit:
        case db::DataSetState::Insert:
        case db::DataSetState::NewValue:
            return ActiveBuffer();
        case db::DataSetState::SetKey:
            return keyBuffers_[static_cast<size_t>(currentKeyBuffer_)].empty()
                       ? nullptr
                       : KeyBuffer(currentKeyBuffer_) + kKeyRecordOffset;
        case db::DataSetState::CalcFields:
        case db::DataSetState::InternalCalc:
            return CalcTarget();
        case db::DataSetState::Filter:
            return FilterBuffer() != nullptr ? FilterBuffer() : ActiveBuffer();
        case db::DataSetState::OldValue:
            return oldRecordImage_.empty() ? nullptr : oldRecordImage_.data();
        default:
            return nullptr;
    }
}

// ---- Null tests
// -------------------------------------------------------------------------------------

bool IsBinaryNumberType(int type) {
    return type == KCE_DOUBLE || type == KCE_CURDOUBLE || type == KCE_INTEGER ||
           type == KCE_SHORTINT;
}

// The engine's empty value of a binary number: the same bytes on every table kind.
bool IsBinaryNumberNull(const char* p, int type) {
    switch (type) {
        case KCE_DOUBLE:
        case KCE_CURDOUBLE:
            return BytesEqual(p, {0x20, 0, 0, 0, 0, 0, 0, 0x80});
        case KCE_INTEGER:
            return BytesEqual(p, {0, 0, 0, 0x80});
        case KCE_SHORTINT:
            return BytesEqual(p, {0, 0x80});
        default:
            return false;
    }
}

void WriteBinaryNumberNull(char* p, int type) {
    switch (type) {
        case KCE_DOUBLE:
        case KCE_CURDOUBLE:
            std::memcpy(p, "\x20\0\0\0\0\0\0\x80", 8);
            return;
        case KCE_INTEGER:
            std::memcpy(p, "\0\0\0\x80", 4);
            return;
        case KCE_SHORTINT:
            std::memcpy(p, "\0\x80", 2);
            return;
        default:
            return;
    }
}

bool TKdsDataSet::IsFieldEmpty(const char* p, int length, int type) {
    if (OpenTableType() == 3) {
        switch (type) {
            case KCE_LOGICAL:
                return p[0] == ' ';
            case KCE_NUMERIC:
            case KCE_DATE:
            case KCE_STRING:
            case KCE_COMPACTDATE:
            case KCE_RAW:
                return AllBytes(p, length, IsZero);
            case KCE_MEMO:
            case KCE_BINARY:
            case KCE_IMAGE:
            case KCE_VARCHAR:
                return Load<int32_t>(p) == 0;
            case KCE_DOUBLE:
            case KCE_CURDOUBLE:
            case KCE_INTEGER:
            case KCE_SHORTINT:
                return IsBinaryNumberNull(p, type);
            case KCE_TIME:
            case KCE_AUTOINC:
                return BytesEqual(p, {0xFF, 0xFF, 0xFF, 0xFF});
            case KCE_TIMESTAMP:
                return Load<int32_t>(p) == 0;
            default:
                return true;
        }
    }
    switch (type) {
        case KCE_LOGICAL:
        case KCE_NUMERIC:
        case KCE_STRING:
            return AllBytes(p, length, IsZeroOrBlank);
        case KCE_DATE:
            return length == 4 ? Load<int32_t>(p) == 0 : AllBytes(p, length, IsZeroOrBlank);
        case KCE_MEMO:
        case KCE_BINARY:
        case KCE_IMAGE:
        case KCE_VARCHAR:
            return Load<int32_t>(p) == 0;
        case KCE_COMPACTDATE:
            return AllBytes(p, length, IsZero);
        // A binary number has no empty spelling in a DBF file; a field that can be null (a
        // Visual FoxPro null flag) reaches the image with the engine's empty value of its type,
        // the same bytes as in a native table.
        case KCE_DOUBLE:
        case KCE_CURDOUBLE:
        case KCE_INTEGER:
        case KCE_SHORTINT:
            return IsBinaryNumberNull(p, type);
        // CDX tables hold timestamps and autoincrements too; blanks are their empty image.
        // Answering "empty" for every value would lose them on every read.
        case KCE_TIMESTAMP:
            return AllBytes(p, length, IsZeroOrBlank) || Load<int32_t>(p) == 0;
        case KCE_AUTOINC:
            return AllBytes(p, length, [](unsigned char c) { return c == ' '; });
        default:
            return true;
    }
}

bool TKdsDataSet::IsBlobFieldEmpty(const db::TField& field, db::TRecordBuffer buffer) {
    const TKCEFieldDef& d = DescriptionOf(field.FieldNo());
    int64_t size = ModifiedBlobSize(field, buffer);
    if (size >= 0) return size < 1;
    return IsFieldEmpty(buffer + d.Offset, 0, d.FieldType);
}

// ---- Reading
// ----------------------------------------------------------------------------------------

bool TKdsDataSet::ReadFieldData(const db::TField& field, void* destination) {
    db::TRecordBuffer buffer = GetRecordBufferForState();
    if (buffer == nullptr) return false;
    if (field.FieldNo() > 0) {
        const TKCEFieldDef& d = DescriptionOf(field.FieldNo());
        bool editing = State() == db::DataSetState::Edit || State() == db::DataSetState::Insert;
        bool empty = editing && IsBlobType(d.FieldType)
                         ? IsBlobFieldEmpty(field, buffer)
                         : IsFieldEmpty(buffer + d.Offset, static_cast<int>(d.Length), d.FieldType);
        if (destination != nullptr && !empty) ReadFieldValue(field, buffer, destination);
        return !empty;
    }
    switch (State()) {
        case db::DataSetState::Browse:
        case db::DataSetState::Edit:
        case db::DataSetState::Insert:
        case db::DataSetState::CalcFields:
        case db::DataSetState::Filter: {
            const char* flag = buffer + recordLength_ + field.Offset();
            if (*flag != 0 && destination != nullptr) {
                std::memcpy(destination, flag + 1, field.DataSize());
            }
            return *flag != 0;
        }
        default:
            return false;
    }
}

void TKdsDataSet::ReadFieldValue(const db::TField& field, db::TRecordBuffer buffer,
                                 void* destination) {
    const TKCEFieldDef& d = DescriptionOf(field.FieldNo());
    char* p = buffer + d.Offset;
    int length = static_cast<int>(d.Length);
    switch (d.FieldType) {
        case KCE_LOGICAL: {
            char c = p[0];
            bool on = c == '1' || c == 'T' || c == 'Y' || c == 't' || c == 'y';
            Store<int16_t>(destination, on ? -1 : 0);
            return;
        }
        case KCE_NUMERIC: {
            int textLength = 0;
            while (textLength < length && p[textLength] != 0) ++textLength;
            const std::string text(p, static_cast<size_t>(textLength));
            const rtl::TFormatSettings& settings = PointSettings();
            // A text that does not read as a number leaves the destination as it was.
            if (field.DataType() == db::ftSmallint) {
                double value = 0;
                if (rtl::TryStrToFloat(text, value, settings) && std::fabs(value) < 32768.0) {
                    Store<int16_t>(destination, static_cast<int16_t>(std::trunc(value)));
                }
            } else {
                double value = 0;
                if (rtl::TryStrToFloat(text, value, settings)) Store<double>(destination, value);
            }
            return;
        }
        case KCE_DATE: {
            if (length == 4) {
                Store<int32_t>(destination, Load<int32_t>(p) - kJulianDelta);
                return;
            }
            double julian = 0;
            CheckKdsStatus(this,
                           KdsConvertStringToJulian(reinterpret_cast<UNSIGNED8*>(p),
                                                    static_cast<UNSIGNED16>(length), &julian));
            Store<int32_t>(destination, static_cast<int32_t>(std::trunc(julian - kJulianDelta)));
            return;
        }
        case KCE_STRING: {
            // A field object may be narrower than the table's field: never past its data.
            auto* out = static_cast<char*>(destination);
            int count = std::min(length, std::max(field.DataSize() - 1, 0));
            std::memcpy(out, p, static_cast<size_t>(count));
            out[count] = 0;
            for (int i = count - 1; i >= 0 && (out[i] == ' ' || out[i] == 0); --i) out[i] = 0;
            return;
        }
        case KCE_COMPACTDATE: {
            std::string text = CompactDateText(p);
            double julian = 0;
            CheckKdsStatus(this, KdsConvertStringToJulian(KceText(text), 8, &julian));
            Store<int32_t>(destination, static_cast<int32_t>(std::trunc(julian - kJulianDelta)));
            return;
        }
        case KCE_DOUBLE:
            std::memcpy(destination, p, 8);
            return;
        case KCE_CURDOUBLE:
            // The engine keeps money exactly, as a 64-bit count of ten-thousandths.
            Store<double>(destination, static_cast<double>(Load<int64_t>(p)) / 10000.0);
            return;
        case KCE_INTEGER:
        case KCE_AUTOINC:
        case KCE_TIME:
            std::memcpy(destination, p, 4);
            return;
        case KCE_SHORTINT:
            std::memcpy(destination, p, 2);
            return;
        case KCE_TIMESTAMP: {
            double julian = Load<uint32_t>(p);
            double ms = Load<uint32_t>(p + 4);
            double value = (julian - kJulianDelta) * kMSecsPerDay + ms;
            Store<double>(destination, value < 0 ? 0.0 : value);
            return;
        }
        case KCE_RAW:
            std::memcpy(destination, p, static_cast<size_t>(std::min(length, field.DataSize())));
            return;
        default:
            return;
    }
}

// ---- Writing
// ----------------------------------------------------------------------------------------

void TKdsDataSet::WriteFieldData(db::TField& field, const void* source) {
    using db::DataSetState;
    DataSetState state = State();
    switch (state) {
        case DataSetState::Edit:
        case DataSetState::Insert:
        case DataSetState::SetKey:
        case DataSetState::CalcFields:
        case DataSetState::Filter:
        case DataSetState::NewValue:
        case DataSetState::InternalCalc:
            break;
        default:
            KdsDatabaseError(this, msg::kNotInEditMode);
    }
    if (state == DataSetState::SetKey && field.FieldNo() < 0 && !IsIndexField(field)) {
        db::DatabaseErrorFmt(msg::kFieldNotIndexed, {field.DisplayName()});
    }
    db::TRecordBuffer buffer = GetRecordBufferForState();
    if (buffer == nullptr) KdsDatabaseError(this, msg::kNotInEditMode);
    if (field.FieldNo() < 1) {
        char* flag = buffer + recordLength_ + field.Offset();
        *flag = source != nullptr ? 1 : 0;
        if (source != nullptr) std::memcpy(flag + 1, source, field.DataSize());
    } else {
        if (state == DataSetState::CalcFields) KdsDatabaseError(this, msg::kNotInEditMode);
        if (field.ReadOnly() && state != DataSetState::SetKey && state != DataSetState::Filter) {
            db::DatabaseErrorFmt(msg::kFieldReadOnly, {field.DisplayName()});
        }
        if (state == DataSetState::Edit || state == DataSetState::Insert) field.Validate(source);
        if (field.FieldKind() != db::fkInternalCalc) {
            WriteFieldValue(field.FieldNo(), field.DataType(), source, buffer);
        }
        if (state == DataSetState::SetKey) {
            const TKCEFieldDef& d = DescriptionOf(field.FieldNo());
            uint16_t mark = 1;
            if (field.DataType() == db::ftString) {
                // 0xFFFF marks a segment not assigned: a longer text counts as 0xFFFE characters,
                // more than any key segment holds.
                const size_t length = source != nullptr
                                          ? strnlen(static_cast<const char*>(source),
                                                    static_cast<size_t>(field.DataSize()))
                                          : 0;
                mark = static_cast<uint16_t>(std::min<size_t>(length, 0xFFFE));
            }
            int position = fieldDescriptions_.PositionOfName(d.Name);
            if (position >= 0) SetKeyAssignedMark(currentKeyBuffer_, position, mark);
        }
    }
    if (state != DataSetState::CalcFields && state != DataSetState::Filter &&
        state != DataSetState::NewValue) {
        NotifyDataEvent(db::DataEventCode::FieldChange, &field);
    }
}

void TKdsDataSet::WriteFieldValue(int fieldNumber, db::TFieldType dataType, const void* source,
                                  db::TRecordBuffer buffer) {
    const TKCEFieldDef& d = DescriptionOf(fieldNumber);
    char* p = buffer + d.Offset;
    int length = static_cast<int>(d.Length);
    bool native = OpenTableType() == 3;
    if (source == nullptr) {
        if (!native && !IsBinaryNumberType(d.FieldType)) {
            bool zeros = d.FieldType >= KCE_MEMO && d.FieldType <= KCE_COMPACTDATE;
            std::memset(p, zeros ? 0 : ' ', static_cast<size_t>(length));
            return;
        }
        // Binary numbers take the engine's empty value on every kind: a DBF field shows blank
        // until Post, which then asks the engine to empty it (null where the field can be null).
        if (IsBinaryNumberType(d.FieldType)) {
            WriteBinaryNumberNull(p, d.FieldType);
            return;
        }
        switch (d.FieldType) {
            case KCE_LOGICAL:
                p[0] = ' ';
                return;
            case KCE_NUMERIC:
            case KCE_DATE:
            case KCE_STRING:
            case KCE_MEMO:
            case KCE_BINARY:
            case KCE_IMAGE:
            case KCE_VARCHAR:
            case KCE_COMPACTDATE:
            case KCE_RAW:
                std::memset(p, 0, static_cast<size_t>(length));
                return;
            case KCE_TIME:
            case KCE_AUTOINC:
                std::memset(p, 0xFF, 4);
                return;
            case KCE_TIMESTAMP:
                std::memset(p, 0, 4);
                std::memset(p + 4, 0xFF, 4);
                return;
            default:
                return;
        }
    }
    switch (d.FieldType) {
        case KCE_LOGICAL:
            p[0] = Load<int16_t>(source) != 0 ? 'T' : 'F';
            return;
        case KCE_NUMERIC: {
            std::string text;
            if (dataType == db::ftSmallint) {
                text = std::to_string(Load<int16_t>(source));
            } else if (dataType == db::ftInteger) {
                text = std::to_string(Load<int32_t>(source));
            } else {
                int precision = d.Decimals > 0 ? length - 1 : length;
                text = NumericText(Load<double>(source), precision, d.Decimals);
            }
            if (static_cast<int>(text.size()) > length ||
                text.find_first_of("Ee") != std::string::npos) {
                KdsDatabaseError(this, msg::kNumericOutOfRange);
            }
            std::memset(p, ' ', static_cast<size_t>(length));
            std::memcpy(p + length - text.size(), text.data(), text.size());
            return;
        }
        case KCE_DATE: {
            int32_t day = Load<int32_t>(source);
            if (length == 4) {
                Store<int32_t>(p, day + kJulianDelta);
                return;
            }
            UNSIGNED8 text[kDateTextCapacity + 1] = {};
            UNSIGNED16 textLength = kDateTextCapacity;
            CheckKdsStatus(this, KdsConvertJulianToString(static_cast<double>(day) + kJulianDelta,
                                                          text, &textLength));
            if (textLength > length) KdsDatabaseError(this, msg::kDateFunctions);
            std::memcpy(p, text, textLength);
            return;
        }
        case KCE_STRING: {
            bool zeros = tableType_ == ttKdsKDT && static_cast<const char*>(source)[0] == 0;
            std::memset(p, zeros ? 0 : ' ', static_cast<size_t>(length));
            size_t count = strnlen(static_cast<const char*>(source), static_cast<size_t>(length));
            std::memcpy(p, source, count);
            return;
        }
        case KCE_COMPACTDATE: {
            int32_t day = Load<int32_t>(source);
            UNSIGNED8 text[kDateTextCapacity + 1] = {};
            UNSIGNED16 textLength = kDateTextCapacity;
            CheckKdsStatus(this, KdsConvertJulianToString(static_cast<double>(day) + kJulianDelta,
                                                          text, &textLength));
            text[12] = 0;
            PackCompactDate(reinterpret_cast<const char*>(text), p);
            return;
        }
        case KCE_DOUBLE:
            std::memcpy(p, source, 8);
            return;
        case KCE_CURDOUBLE: {
            double count = std::nearbyint(Load<double>(source) * 10000.0);
            if (!(std::fabs(count) < 9.2e18)) KdsDatabaseError(this, msg::kNumericOutOfRange);
            Store<int64_t>(p, static_cast<int64_t>(count));
            return;
        }
        case KCE_INTEGER:
        case KCE_AUTOINC:
        case KCE_TIME:
            std::memcpy(p, source, 4);
            return;
        case KCE_SHORTINT: {
            int16_t value = dataType == db::ftInteger ? static_cast<int16_t>(Load<int32_t>(source))
                                                      : Load<int16_t>(source);
            Store<int16_t>(p, value);
            return;
        }
        case KCE_TIMESTAMP: {
            double value = Load<double>(source);
            double days = std::trunc(value / kMSecsPerDay);
            Store<uint32_t>(p, static_cast<uint32_t>(static_cast<int64_t>(days) + kJulianDelta));
            Store<uint32_t>(p + 4, static_cast<uint32_t>(std::trunc(value - days * kMSecsPerDay)));
            return;
        }
        case KCE_RAW:
            std::memcpy(p, source, static_cast<size_t>(length));
            return;
        default:
            return;
    }
}

// ---- New records
// ------------------------------------------------------------------------------------

void TKdsDataSet::CursorInitRecord(db::TRecordBuffer buffer) {
    CheckKdsStatus(this, KdsClearRecordBuffer(tableHandle_, reinterpret_cast<UNSIGNED8*>(buffer),
                                              recordLength_));
    // Finding each field by name costs a search of the field list per field and record: it is
    // skipped when no field has a default expression at all (the usual case).
    bool anyDefault = false;
    for (int f = 0; f < Fields().Count() && !anyDefault; ++f) {
        anyDefault = !Fields().At(f).DefaultExpression().empty();
    }
    for (int i = 0; i < fieldDescriptions_.Count(); ++i) {
        const TKCEFieldDef& d = fieldDescriptions_.Item(i);
        if (d.FieldType == KCE_AUTOINC) {
            std::memset(buffer + d.Offset, 0xFF, 4);
            continue;
        }
        if (IsBlobType(d.FieldType) || !anyDefault) continue;
        db::TField* field = FieldNamedOrNull(d.Name);
        if (field == nullptr || field->DefaultExpression().empty()) continue;
        std::string e = rtl::Trim(field->DefaultExpression());
        int fieldNumber = i + 1;
        try {
            switch (d.FieldType) {
                case KCE_LOGICAL: {
                    std::string upper = rtl::UpperCase(e);
                    bool on = upper == "TRUE" || upper == "T" || upper == ".T." || upper == "1";
                    int16_t value = on ? -1 : 0;
                    WriteFieldValue(fieldNumber, db::ftBoolean, &value, buffer);
                    break;
                }
                case KCE_NUMERIC:
                case KCE_DOUBLE:
                case KCE_CURDOUBLE: {
                    double value = rtl::StrToFloat(e);
                    WriteFieldValue(fieldNumber, db::ftFloat, &value, buffer);
                    break;
                }
                case KCE_DATE:
                case KCE_COMPACTDATE: {
                    int32_t value =
                        static_cast<int32_t>(std::trunc(rtl::StrToDate(e))) + rtl::kDateDelta;
                    WriteFieldValue(fieldNumber, db::ftDate, &value, buffer);
                    break;
                }
                case KCE_STRING:
                    if (e.size() >= 2 && e.front() == '\'' && e.back() == '\'') {
                        std::string text = e.substr(1, e.size() - 2);
                        WriteFieldValue(fieldNumber, db::ftString, text.c_str(), buffer);
                    }
                    break;
                case KCE_INTEGER:
                case KCE_SHORTINT: {
                    int32_t value = rtl::StrToInt(e);
                    bool outOfRange =
                        value == std::numeric_limits<int32_t>::min() ||
                        (d.FieldType == KCE_SHORTINT && (value > 32767 || value <= -32768));
                    if (outOfRange) {
                        KdsDatabaseError(nullptr, std::string(msg::kDefaultOutOfRange) + e, 0);
                    }
                    WriteFieldValue(fieldNumber, db::ftInteger, &value, buffer);
                    break;
                }
                case KCE_TIME: {
                    double time = rtl::StrToTime(e);
                    double fraction = time - std::floor(time);
                    int32_t value = static_cast<int32_t>(std::llround(fraction * kMSecsPerDay));
                    WriteFieldValue(fieldNumber, db::ftTime, &value, buffer);
                    break;
                }
                case KCE_TIMESTAMP: {
                    double value = (rtl::StrToDateTime(e) + rtl::kDateDelta) * kMSecsPerDay;
                    WriteFieldValue(fieldNumber, db::ftDateTime, &value, buffer);
                    break;
                }
                default:
                    break;
            }
        } catch (const rtl::EConvertError& error) {
            // Raised without the dataset, as the first error was: the message reads the same
            // whichever conversion failed.
            KdsDatabaseError(nullptr,
                             std::string(msg::kDefaultValueError) + field->DisplayName() + ")\r\n" +
                                 error.Message(),
                             0);
        } catch (const EKDSDatabaseError& error) {
            KdsDatabaseError(nullptr,
                             std::string(msg::kDefaultValueError) + field->DisplayName() + ")\r\n" +
                                 error.Message(),
                             0);
        }
    }
    if (BlobCount() > 0 && StateAllowsBlobDiscard()) DiscardBlobCaches(buffer);
}

}  // namespace kds
