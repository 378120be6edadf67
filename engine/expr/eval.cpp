// Evaluation of compiled expressions.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/dates.h"
#include "engine/expr/expression.h"
#include "engine/settings.h"
#include "engine/status.h"

namespace kce {

namespace {

constexpr int64_t kMsPerDay = 86400000;

// A date moved by a number of days; the empty date stays empty.
int64_t ShiftDay(int64_t day, double days) {
    if (day == 0 || !std::isfinite(days)) return 0;
    double moved = double(day) + std::floor(days);
    // Date arithmetic that leaves years 1 to 9999 gives the empty date.
    if (moved < double(kJulianOfDayOne) || moved > double(kJulianOfLastDay)) return 0;
    return int64_t(moved);
}

struct EvalError {
    size_t pos;
    std::string message;
};

std::string LeftTrim(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return std::string(s.substr(i));
}

bool IsEmptyValue(const Value& v) {
    switch (v.type) {
        case ValueType::kCharacter:
            return v.text.find_first_not_of(' ') == std::string::npos;
        case ValueType::kNumeric:
            return v.number == 0;
        case ValueType::kDate:
            return v.day == 0;
        case ValueType::kLogical:
            return !v.logical;
        case ValueType::kDateTime:
            return v.day == 0 && v.ms == 0;
    }
    return true;
}

// STR(): the number rounded to `decimals` places, right-aligned in `width`; asterisks when it
// does not fit, as xBase programs expect.
std::string FormatStr(double n, int width, int decimals) {
    width = std::clamp(width, 1, 255);
    decimals = std::clamp(decimals, 0, std::max(0, width - 2));
    if (!std::isfinite(n)) return std::string(width, '*');
    char buf[400];
    int len = std::snprintf(buf, sizeof buf, "%.*f", decimals, n);
    if (len < 0 || len > width) return std::string(width, '*');
    return std::string(width - len, ' ') + std::string(buf, len);
}

// Letter case in the Windows-1252 code page, the text of tables and of keys other programs
// compare: accented letters have capitals too (so UPPER() keys match theirs); sharp s, the
// multiplication and division signs and the non-breaking space have none.
uint8_t AnsiUpper(uint8_t c) {
    if (c >= 'a' && c <= 'z') return uint8_t(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return uint8_t(c - 32);
    if (c == 0x9A || c == 0x9C || c == 0x9E) return uint8_t(c - 16);
    if (c == 0xFF) return 0x9F;
    return c;
}

uint8_t AnsiLower(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return uint8_t(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return uint8_t(c + 32);
    if (c == 0x8A || c == 0x8C || c == 0x8E) return uint8_t(c + 16);
    if (c == 0x9F) return 0xFF;
    return c;
}

std::string Digits(int64_t v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", width, static_cast<long long>(v));
    return buf;
}

std::string DtosText(int64_t day) {
    if (day <= 0) return std::string(8, ' ');
    CivilDate d = CivilFromJulian(day);
    return Digits(d.year, 4) + Digits(d.month, 2) + Digits(d.day, 2);
}

int64_t StodDay(std::string_view s) {
    return JulianFromEightDigits(RightTrim(LeftTrim(s))).value_or(0);
}

// A date text in the engine's date format, or in ISO form YYYY-MM-DD; 0 when neither.
int64_t ParseDateText(std::string_view s) {
    std::string t = RightTrim(LeftTrim(s));
    if (t.empty()) return 0;
    if (auto d = CurrentDateFormat().ParseDate(t)) return *d;
    if (t.size() == 10 && t[4] == '-' && t[7] == '-') {
        return StodDay(t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2));
    }
    return 0;
}

// CTOTS(): a date and a time separated by a blank or 'T'; the time may be missing.
Value ParseTimestamp(std::string_view s) {
    std::string t = RightTrim(LeftTrim(s));
    if (t.empty()) return Value::DateTime(0, 0);
    size_t cut = t.find_first_of(" T");
    std::string datePart = t.substr(0, cut);
    int64_t day = ParseDateText(datePart);
    if (day == 0) return Value::DateTime(0, 0);
    int64_t ms = 0;
    if (cut != std::string::npos) {
        ms = ParseTimeOfDay(LeftTrim(t.substr(cut + 1)));
        if (ms < 0) return Value::DateTime(0, 0);
    }
    return Value::DateTime(day, ms);
}

Value AddToDateTime(const Value& dt, double seconds) {
    double total = double(dt.day) * kMsPerDay + dt.ms + seconds * 1000.0;
    if (!std::isfinite(total) || total < 0 || total > double(kJulianOfLastDay + 1) * kMsPerDay) {
        return Value::DateTime(0, 0);
    }
    int64_t whole = static_cast<int64_t>(std::llround(total));
    int64_t day = whole / kMsPerDay;
    int64_t ms = whole % kMsPerDay;
    if (ms < 0) {
        ms += kMsPerDay;
        --day;
    }
    return Value::DateTime(day, ms);
}

int CompareValues(const Value& a, const Value& b) {
    switch (a.type) {
        case ValueType::kCharacter:
            return CharacterCompare(a.text, b.text);
        case ValueType::kNumeric:
            return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
        case ValueType::kDate:
            return a.day < b.day ? -1 : a.day > b.day ? 1 : 0;
        case ValueType::kLogical:
            return int(a.logical) - int(b.logical);
        case ValueType::kDateTime:
            if (a.day != b.day) return a.day < b.day ? -1 : 1;
            return a.ms < b.ms ? -1 : a.ms > b.ms ? 1 : 0;
    }
    return 0;
}

class Evaluator {
  public:
    Evaluator(const ExprRecord& record, bool exact) : record_(record), exact_(exact) {}

    Value Eval(const ExprNode& n) {
        switch (n.kind) {
            case ExprNodeKind::kLiteral:
                return n.literal;
            case ExprNodeKind::kField:
                return record_.FieldValue(n.field);
            case ExprNodeKind::kUnary: {
                Value v = Eval(*n.args[0]);
                if (n.op == ExprOp::kNot) return Value::Logical(!v.logical);
                return Value::Numeric(-v.number);
            }
            case ExprNodeKind::kBinary:
                return EvalBinary(n);
            case ExprNodeKind::kCall:
                return EvalCall(n);
        }
        return Value();
    }

    bool Equal(const Value& a, const Value& b, bool exact) {
        if (a.type == ValueType::kCharacter) return CharacterEquals(a.text, b.text, exact);
        return CompareValues(a, b) == 0;
    }

  private:
    Value EvalBinary(const ExprNode& n) {
        if (n.op == ExprOp::kAnd) {
            if (!Eval(*n.args[0]).logical) return Value::Logical(false);
            return Value::Logical(Eval(*n.args[1]).logical);
        }
        if (n.op == ExprOp::kOr) {
            if (Eval(*n.args[0]).logical) return Value::Logical(true);
            return Value::Logical(Eval(*n.args[1]).logical);
        }
        Value a = Eval(*n.args[0]);
        Value b = Eval(*n.args[1]);
        switch (n.op) {
            case ExprOp::kAdd:
                if (a.type == ValueType::kCharacter) {
                    a.text += b.text;
                    return a;
                }
                if (a.type == ValueType::kNumeric && b.type == ValueType::kNumeric)
                    return Value::Numeric(a.number + b.number);
                if (a.type == ValueType::kNumeric) std::swap(a, b);
                if (a.type == ValueType::kDate) return Value::Date(ShiftDay(a.day, b.number));
                return AddToDateTime(a, b.number);
            case ExprOp::kSub:
                if (a.type == ValueType::kCharacter) {
                    // xBase '-': the trailing blanks of the left side move to the end.
                    std::string left = RightTrim(a.text);
                    size_t blanks = a.text.size() - left.size();
                    return Value::Character(left + b.text + std::string(blanks, ' '));
                }
                if (a.type == ValueType::kNumeric) return Value::Numeric(a.number - b.number);
                if (b.type == ValueType::kNumeric) {
                    if (a.type == ValueType::kDate) return Value::Date(ShiftDay(a.day, -b.number));
                    return AddToDateTime(a, -b.number);
                }
                if (a.type == ValueType::kDate) return Value::Numeric(double(a.day - b.day));
                return Value::Numeric((double(a.day - b.day) * kMsPerDay + double(a.ms - b.ms)) /
                                      1000.0);
            case ExprOp::kMul:
                return Value::Numeric(a.number * b.number);
            case ExprOp::kDiv:
                if (b.number == 0) throw EvalError{n.pos, "division by zero"};
                return Value::Numeric(a.number / b.number);
            case ExprOp::kMod:
                if (b.number == 0) throw EvalError{n.pos, "division by zero"};
                return Value::Numeric(a.number - b.number * std::floor(a.number / b.number));
            case ExprOp::kEq:
                return Value::Logical(Equal(a, b, exact_));
            case ExprOp::kEqEq:
                return Value::Logical(Equal(a, b, true));
            case ExprOp::kNe:
                return Value::Logical(!Equal(a, b, exact_));
            case ExprOp::kLt:
                return Value::Logical(CompareValues(a, b) < 0);
            case ExprOp::kGt:
                return Value::Logical(CompareValues(a, b) > 0);
            case ExprOp::kLe:
                return Value::Logical(CompareValues(a, b) < 0 || Equal(a, b, exact_));
            case ExprOp::kGe:
                return Value::Logical(CompareValues(a, b) > 0 || Equal(a, b, exact_));
            case ExprOp::kContains:
                return Value::Logical(b.text.find(a.text) != std::string::npos);
            default:
                return Value();
        }
    }

    static int64_t Clamp(double v, int64_t lo, int64_t hi) {
        if (std::isnan(v)) return lo;
        if (v < double(lo)) return lo;
        if (v > double(hi)) return hi;
        return static_cast<int64_t>(v);
    }

    Value EvalCall(const ExprNode& n) {
        if (n.func == ExprFunc::kIif) {
            return Eval(*n.args[0]).logical ? Eval(*n.args[1]) : Eval(*n.args[2]);
        }
        Value args[3];
        for (size_t i = 0; i < n.args.size() && i < 3; ++i) args[i] = Eval(*n.args[i]);
        Value& a = args[0];
        switch (n.func) {
            case ExprFunc::kUpper:
                for (char& c : a.text) c = static_cast<char>(AnsiUpper(static_cast<uint8_t>(c)));
                return a;
            case ExprFunc::kLower:
                for (char& c : a.text) c = static_cast<char>(AnsiLower(static_cast<uint8_t>(c)));
                return a;
            case ExprFunc::kTrim:
            case ExprFunc::kRTrim:
                return Value::Character(RightTrim(a.text));
            case ExprFunc::kLTrim:
                return Value::Character(LeftTrim(a.text));
            case ExprFunc::kAllTrim:
                return Value::Character(LeftTrim(RightTrim(a.text)));
            case ExprFunc::kSubstr: {
                int64_t size = int64_t(a.text.size());
                int64_t start = Clamp(args[1].number, 1, size + 1) - 1;
                int64_t count = n.args.size() > 2 ? Clamp(args[2].number, 0, size) : size;
                return Value::Character(a.text.substr(size_t(start), size_t(count)));
            }
            case ExprFunc::kLeft: {
                int64_t count = Clamp(args[1].number, 0, int64_t(a.text.size()));
                return Value::Character(a.text.substr(0, size_t(count)));
            }
            case ExprFunc::kRight: {
                int64_t count = Clamp(args[1].number, 0, int64_t(a.text.size()));
                return Value::Character(a.text.substr(a.text.size() - size_t(count)));
            }
            case ExprFunc::kStr: {
                int width = n.args.size() > 1 ? int(Clamp(args[1].number, 1, 255)) : 10;
                int decimals = n.args.size() > 2 ? int(Clamp(args[2].number, 0, 255)) : 0;
                return Value::Character(FormatStr(a.number, width, decimals));
            }
            case ExprFunc::kVal:
                return Value::Numeric(ParseLeadingNumber(a.text));
            case ExprFunc::kLen:
                return Value::Numeric(double(a.text.size()));
            case ExprFunc::kAbs:
                return Value::Numeric(std::fabs(a.number));
            case ExprFunc::kInt:
                return Value::Numeric(std::trunc(a.number));
            case ExprFunc::kChr: {
                int64_t code = Clamp(a.number, -1, 256);
                if (code < 0 || code > 255) {
                    throw EvalError{n.pos, "CHR of " + FormatStr(a.number, 12, 0).substr(0) +
                                               " is outside 0 to 255"};
                }
                return Value::Character(std::string(1, static_cast<char>(code)));
            }
            case ExprFunc::kDtos:
                return Value::Character(DtosText(a.day));
            case ExprFunc::kDtoc:
                return Value::Character(CurrentDateFormat().Format(a.day > 0 ? a.day : 0));
            case ExprFunc::kCtod:
                return Value::Date(ParseDateText(a.text));
            case ExprFunc::kStod:
                return Value::Date(StodDay(a.text));
            case ExprFunc::kCtot: {
                int64_t ms = ParseTimeOfDay(RightTrim(a.text));
                return Value::DateTime(0, ms < 0 ? 0 : ms);
            }
            case ExprFunc::kCtots:
                return ParseTimestamp(a.text);
            case ExprFunc::kEmpty:
                return Value::Logical(IsEmptyValue(a));
            case ExprFunc::kYear:
            case ExprFunc::kMonth:
            case ExprFunc::kDay: {
                if (a.day <= 0) return Value::Numeric(0);
                CivilDate d = CivilFromJulian(a.day);
                int part = n.func == ExprFunc::kYear    ? d.year
                           : n.func == ExprFunc::kMonth ? d.month
                                                        : d.day;
                return Value::Numeric(part);
            }
            case ExprFunc::kDeleted:
                return Value::Logical(record_.Deleted());
            case ExprFunc::kRecno:
                return Value::Numeric(record_.RecNo());
            default:
                return Value();
        }
    }

    const ExprRecord& record_;
    bool exact_;
};

}  // namespace

std::string LastFailureDetail() {
    const std::string& text = LastText();
    const char* fixed = StatusText(LastStatus());
    if (fixed && text.rfind(fixed, 0) == 0 && text.compare(std::strlen(fixed), 2, ": ") == 0) {
        return text.substr(std::strlen(fixed) + 2);
    }
    return text;
}

bool CharacterEquals(std::string_view left, std::string_view right, bool exact) {
    if (!exact) {
        if (right.empty()) return true;
        if (left.size() >= right.size()) return left.compare(0, right.size(), right) == 0;
        // A shorter left side counts as padded with blanks.
        if (left.compare(0, left.size(), right.substr(0, left.size())) != 0) return false;
        return right.find_first_not_of(' ', left.size()) == std::string_view::npos;
    }
    return CharacterCompare(left, right) == 0;
}

int CharacterCompare(std::string_view left, std::string_view right) {
    size_t common = std::min(left.size(), right.size());
    int c = std::memcmp(left.data(), right.data(), common);
    if (c != 0) return c < 0 ? -1 : 1;
    std::string_view rest = left.size() > common ? left.substr(common) : right.substr(common);
    int sign = left.size() > common ? 1 : -1;
    for (char ch : rest) {
        unsigned char u = static_cast<unsigned char>(ch);
        if (u != ' ') return u > ' ' ? sign : -sign;
    }
    return 0;
}

KCESTATUS Expression::Evaluate(const ExprRecord& record, bool exact, Value* out) const {
    try {
        Evaluator evaluator(record, exact);
        *out = evaluator.Eval(*root_);
        return KCE_SUCCESS;
    } catch (const EvalError& e) {
        return Fail(KCE_EXPR_EVAL_FAILED, e.message + " at position " + std::to_string(e.pos + 1) +
                                              " in expression \"" + text_.substr(0, 200) +
                                              "\" on record " + std::to_string(record.RecNo()));
    }
}

bool Expression::Matches(const ExprRecord& record, bool exact) const {
    try {
        Evaluator evaluator(record, exact);
        return evaluator.Eval(*root_).logical;
    } catch (const EvalError&) {
        return false;
    }
}

}  // namespace kce
