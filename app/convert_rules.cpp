#include "app/convert_rules.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "kds/kdsdata.h"
#include "rtl/datetime.h"
#include "rtl/numconv.h"
#include "rtl/textutils.h"

namespace app {
namespace {

constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();
// The digits FloatToStr writes, and so the digits a double keeps of any decimal text.
constexpr int kFloatDigits = 15;

// The engine field a field object of an open table stands for; null outside the data-access
// layer.
const kds::TKCEFieldDef* EngineDescription(const db::TField& field) {
    auto* table = dynamic_cast<const kds::TKdsDataSet*>(field.DataSet());
    if (!table) return nullptr;
    int position = table->FieldDescriptions().PositionOfName(field.FieldName());
    return position < 0 ? nullptr : &table->FieldDescriptions().Item(position);
}

bool IsTextType(db::TFieldType t) {
    return t == db::ftString || t == db::ftFixedChar || t == db::ftWideString || t == db::ftGuid;
}
bool IsIntegerType(db::TFieldType t) {
    return t == db::ftSmallint || t == db::ftInteger || t == db::ftWord || t == db::ftAutoInc ||
           t == db::ftLargeint;
}
bool IsFloatType(db::TFieldType t) {
    return t == db::ftFloat || t == db::ftCurrency || t == db::ftBCD;
}
bool IsMomentType(db::TFieldType t) {
    return t == db::ftDate || t == db::ftTime || t == db::ftDateTime;
}
bool IsLargeType(db::TFieldType t) {
    return t == db::ftMemo || t == db::ftFmtMemo || t == db::ftBlob || t == db::ftGraphic;
}

int DecimalDigits(int64_t n) {
    int digits = 1;
    for (uint64_t m = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n); m >= 10;
         m /= 10)
        ++digits;
    return digits;
}

int64_t PowerOfTen(int n) {
    int64_t p = 1;
    for (int i = 0; i < n && p < std::numeric_limits<int64_t>::max() / 10; ++i) p *= 10;
    return p;
}

// The whole numbers a field holds: its class's range, narrowed by the width of a numeric field.
struct Range {
    int64_t lo = 0, hi = 0;
};
Range IntegerRange(const db::TField& field) {
    Range r;
    switch (field.DataType()) {
        case db::ftSmallint:
            r = {INT16_MIN, INT16_MAX};
            break;
        case db::ftWord:
            r = {0, UINT16_MAX};
            break;
        case db::ftLargeint:
            r = {INT64_MIN, INT64_MAX};
            break;
        default:
            r = {INT32_MIN, INT32_MAX};
            break;
    }
    const kds::TKCEFieldDef* d = EngineDescription(field);
    if (d && d->FieldType == KCE_NUMERIC && d->Length < 19) {
        int whole = static_cast<int>(d->Length) - (d->Decimals > 0 ? d->Decimals + 1 : 0);
        r.hi = std::min(r.hi, PowerOfTen(whole) - 1);
        r.lo = std::max(r.lo, whole > 1 ? -(PowerOfTen(whole - 1) - 1) : int64_t{0});
    }
    return r;
}

// What the text of a source value can look like.
struct SourceShape {
    size_t maxLength = kUnbounded;  // characters of its longest text
    int maxDigits = kFloatDigits;   // significant digits of a number
    bool blanksAtEnd = false;       // may end in blanks (a memo's text)
    bool fractions = false;         // a number with decimals
    bool milliseconds = false;      // a moment held to the millisecond
};

SourceShape ShapeOf(const db::TField& source) {
    SourceShape s;
    const db::TFieldType t = source.DataType();
    const kds::TKCEFieldDef* d = EngineDescription(source);
    if (IsTextType(t)) {
        s.maxLength = static_cast<size_t>(source.Size());
        s.maxDigits = source.Size();
        s.fractions = true;
    } else if (IsIntegerType(t)) {
        Range r = IntegerRange(source);
        s.maxLength = static_cast<size_t>(
            std::max(DecimalDigits(r.lo) + (r.lo < 0 ? 1 : 0), DecimalDigits(r.hi)));
        s.maxDigits = std::max(DecimalDigits(r.lo), DecimalDigits(r.hi));
    } else if (IsFloatType(t)) {
        s.fractions = true;
        if (d && d->FieldType == KCE_NUMERIC) {
            s.maxLength = d->Length;
            s.maxDigits = static_cast<int>(d->Length) - (d->Decimals > 0 ? 1 : 0);
            s.fractions = d->Decimals > 0;
        } else {
            s.maxLength = 23;  // -1.23456789012346E-100
            s.maxDigits = 17;  // what a double holds, beyond the 15 its text shows
        }
    } else if (IsMomentType(t)) {
        const double sample = 36888.99999;  // 28 December 2000, 23:59:59
        s.maxLength = t == db::ftDate   ? rtl::DateToStr(sample).size()
                      : t == db::ftTime ? rtl::TimeToStr(sample).size()
                                        : rtl::DateTimeToStr(sample).size();
        s.milliseconds = t != db::ftDate;
    } else if (t == db::ftBoolean) {
        s.maxLength = 5;
        const auto* b = static_cast<const db::TBooleanField*>(&source);
        if (!b->DisplayValues().empty()) s.maxLength = b->DisplayValues().size();
    } else {
        s.blanksAtEnd = true;
        s.fractions = true;
    }
    return s;
}

bool FloatSource(const db::TField& source) {
    return source.DataType() == db::ftFloat || source.DataType() == db::ftCurrency;
}

std::string Characters(size_t n) {
    return std::to_string(n) + (n == 1 ? " character" : " characters");
}

// Significant digits of a number's text: its mantissa without leading zeros, nor trailing zeros
// after the point.
int SignificantDigits(const std::string& text) {
    size_t end = text.find_first_of("eE");
    std::string m = text.substr(0, end);
    std::string digits;
    for (char c : m)
        if (c >= '0' && c <= '9') digits += c;
    size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return 0;
    digits.erase(0, first);
    if (m.find_first_of(".,") != std::string::npos) {
        size_t last = digits.find_last_not_of('0');
        digits.erase(last + 1);
    }
    return static_cast<int>(digits.size());
}

long long Milliseconds(double moment) { return std::llround(moment * 86400000.0); }

}  // namespace

const char* LossName(Loss loss) {
    switch (loss) {
        case Loss::kCut:
            return "cut";
        case Loss::kRounded:
            return "rounded";
        case Loss::kEmptied:
            return "emptied";
        case Loss::kTimeDropped:
            return "time dropped";
        case Loss::kDateDropped:
            return "date dropped";
        case Loss::kRefused:
            return "refused";
        case Loss::kChanged:
            return "changed";
    }
    return "";
}

EngineField EngineFieldOf(const db::TField& field) {
    static const char* const kNames[] = {"logical", "numeric",  "date",    "char",        "memo",
                                         "binary",  "image",    "varchar", "compactdate", "double",
                                         "integer", "shortint", "time",    "timestamp",   "autoinc",
                                         "raw",     "money"};
    EngineField e;
    const kds::TKCEFieldDef* d = EngineDescription(field);
    if (!d) {
        e.type = db::FieldTypeName(field.DataType());
        e.length = field.Size();
        return e;
    }
    e.type = d->FieldType >= 1 && d->FieldType <= 17 ? kNames[d->FieldType - 1] : "unknown";
    e.length = static_cast<int>(d->Length);
    e.decimals = d->Decimals;
    return e;
}

std::vector<PossibleLoss> PossibleLosses(const db::TField& source, const db::TField& target) {
    std::vector<PossibleLoss> losses;
    const db::TFieldType s = source.DataType();
    const db::TFieldType t = target.DataType();
    const SourceShape shape = ShapeOf(source);
    const bool numberSource = IsIntegerType(s) || IsFloatType(s);
    // Losses on the way out of the source, whatever the target.
    bool roundedOut = FloatSource(source) && shape.maxDigits > kFloatDigits;
    bool secondsOut = shape.milliseconds;

    if (s == db::ftBytes || s == db::ftVarBytes) {
        losses.push_back({Loss::kRefused, "always: the field has no text"});
        return losses;
    }
    if (IsTextType(t)) {
        if (roundedOut) losses.push_back({Loss::kRounded, "to 15 significant digits"});
        if (secondsOut) losses.push_back({Loss::kRounded, "to whole seconds"});
        if (shape.maxLength > static_cast<size_t>(target.Size()) || shape.blanksAtEnd)
            losses.push_back({Loss::kCut, "to " + Characters(static_cast<size_t>(target.Size())) +
                                              (shape.blanksAtEnd ? ", blanks at the end" : "")});
        if (shape.blanksAtEnd) losses.push_back({Loss::kEmptied, "when only blanks"});
    } else if (IsIntegerType(t)) {
        Range to = IntegerRange(target);
        bool fits = IsIntegerType(s) && IntegerRange(source).lo >= to.lo &&
                    IntegerRange(source).hi <= to.hi;
        if (!fits)
            losses.push_back({Loss::kRefused, "when not a whole number from " +
                                                  std::to_string(to.lo) + " to " +
                                                  std::to_string(to.hi)});
    } else if (IsFloatType(t)) {
        const kds::TKCEFieldDef* d = EngineDescription(target);
        int digits = kFloatDigits, decimals = -1;
        int64_t limit = 0;  // the largest whole part, 0 for a double
        if (d && d->FieldType == KCE_NUMERIC) {
            digits = std::min<int>(kFloatDigits,
                                   static_cast<int>(d->Length) - (d->Decimals > 0 ? 1 : 0));
            decimals = d->Decimals;
            limit =
                PowerOfTen(static_cast<int>(d->Length) - (d->Decimals > 0 ? d->Decimals + 1 : 0)) -
                1;
        } else if (t == db::ftCurrency || t == db::ftBCD) {
            decimals = 4;
            limit = 922337203685477;
        }
        if (roundedOut || shape.maxDigits > digits)
            losses.push_back(
                {Loss::kRounded, "to " + std::to_string(digits) + " significant digits"});
        if (decimals >= 0 && shape.fractions && (!numberSource || decimals < 15))
            losses.push_back({Loss::kRounded, "to " + std::to_string(decimals) + " decimals"});
        bool fits = IsIntegerType(s) && limit > 0 && IntegerRange(source).hi <= limit &&
                    -IntegerRange(source).lo <= limit;
        if (!numberSource)
            losses.push_back(
                {Loss::kRefused, limit > 0 ? "when not a number, or beyond " + std::to_string(limit)
                                           : "when not a number"});
        else if (limit > 0 && !fits)
            losses.push_back({Loss::kRefused, "beyond " + std::to_string(limit)});
    } else if (IsMomentType(t)) {
        // A moment is read back with the pattern of the target's kind alone: a date takes no
        // time of day, a time no date.
        if (s == t || (s == db::ftDate && t == db::ftDateTime)) {
            if (secondsOut) losses.push_back({Loss::kRounded, "to whole seconds"});
        } else if (s == db::ftDateTime && t == db::ftDate) {
            losses.push_back({Loss::kRefused, "when it has a time of day"});
        } else {
            losses.push_back({Loss::kRefused, t == db::ftDate   ? "when not a date"
                                              : t == db::ftTime ? "when not a time"
                                                                : "when not a date and time"});
        }
    } else if (t == db::ftBoolean) {
        if (s != db::ftBoolean)
            losses.push_back({Loss::kRefused, "when not the true or the false text"});
    } else if (IsLargeType(t)) {
        if (roundedOut) losses.push_back({Loss::kRounded, "to 15 significant digits"});
        if (secondsOut) losses.push_back({Loss::kRounded, "to whole seconds"});
    } else {
        losses.push_back({Loss::kRefused, "always: the field takes no text"});
    }
    return losses;
}

std::string ExactSourceText(const db::TField& source, const std::string& text) {
    if (!FloatSource(source) || text.empty()) return text;
    double value = source.FloatValue();
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : text;
}

bool WhatHappened(const db::TField& source, const db::TField& target, const std::string& text,
                  Loss& loss) {
    const db::TFieldType s = source.DataType();
    const db::TFieldType t = target.DataType();
    // Lost on the way out of the source: digits of a double, milliseconds of a moment.
    bool roundedOut = false;
    if (!text.empty() && FloatSource(source)) {
        double parsed = 0;
        roundedOut = !rtl::TryStrToFloat(text, parsed) || parsed != source.FloatValue();
    } else if (!text.empty() && (s == db::ftTime || s == db::ftDateTime)) {
        double moment = source.DateTimeValue();
        roundedOut = Milliseconds(moment) % 1000 != 0;
    }
    const std::string stored = target.StringValue();
    if (stored == text) {
        if (roundedOut) loss = Loss::kRounded;
        return roundedOut;
    }
    if (stored.empty()) {
        loss = Loss::kEmptied;
        return true;
    }
    if (IsTextType(t)) {
        loss = text.starts_with(stored) ? Loss::kCut : Loss::kChanged;
        return true;
    }
    if (IsIntegerType(t)) {
        int64_t parsed = 0;
        bool same = rtl::TryStrToInt64(text, parsed) && parsed == rtl::StrToInt64(stored);
        loss = Loss::kChanged;
        return !same;
    }
    if (IsFloatType(t)) {
        double parsed = 0;
        bool same = rtl::TryStrToFloat(text, parsed) && parsed == target.FloatValue() &&
                    SignificantDigits(text) <= kFloatDigits;
        loss = Loss::kRounded;
        return roundedOut || !same;
    }
    if (IsMomentType(t)) {
        double from = 0;
        if (IsMomentType(s)) {
            from = source.DateTimeValue();
        } else if (!rtl::TryStrToDateTime(text, from, rtl::CurrentFormatSettings())) {
            loss = Loss::kChanged;
            return true;
        }
        const double to = target.DateTimeValue();
        const long long a = Milliseconds(from), b = Milliseconds(to);
        const long long day = 86400000;
        if (a == b) {
            loss = Loss::kRounded;
            return roundedOut;
        }
        if (t == db::ftDate && std::floor(from) == std::floor(to)) {
            loss = Loss::kTimeDropped;
        } else if (t == db::ftTime && ((a % day) + day) % day == ((b % day) + day) % day) {
            loss = Loss::kDateDropped;
        } else if (a / 1000 == b / 1000) {
            loss = Loss::kRounded;
        } else {
            loss = Loss::kChanged;
        }
        return true;
    }
    if (t == db::ftBoolean) {
        loss = Loss::kChanged;
        return !(text.size() <= stored.size() &&
                 rtl::SameText(stored.substr(0, text.size()), text));
    }
    loss = Loss::kChanged;
    return true;
}

}  // namespace app
