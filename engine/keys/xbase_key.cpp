#include "engine/keys/xbase_key.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/dates.h"
#include "engine/keys/raw_key.h"
#include "engine/text.h"

namespace kce {

namespace {

bool IdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Strips "alias->" and maps names longer than the table's to the field they begin with.
std::string Names(std::string_view text, const ExprSchema& schema) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '"' || c == '\'') {
            size_t end = text.find(c, i + 1);
            end = end == std::string_view::npos ? text.size() : end + 1;
            out.append(text.substr(i, end - i));
            i = end;
            continue;
        }
        if (!IdentStart(c) || (i > 0 && (IdentChar(text[i - 1]) || text[i - 1] == '.'))) {
            out.push_back(c);
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && IdentChar(text[end])) ++end;
        std::string_view name = text.substr(i, end - i);
        size_t next = end;
        while (next < text.size() && text[next] == ' ') ++next;
        if (text.compare(next, 2, "->") == 0) {
            i = next + 2;
            while (i < text.size() && text[i] == ' ') ++i;
            continue;
        }
        if (next < text.size() && text[next] == '(') {
            out.append(name);
            i = end;
            continue;
        }
        if (schema.Find(name) < 0 && name.size() > 10 && schema.Find(name.substr(0, 10)) >= 0) {
            name = name.substr(0, 10);
        }
        out.append(name);
        i = end;
    }
    return out;
}

// STR(field) of a numeric field: the field's own width and decimals.
std::string StrWidths(const std::string& text, const ExprSchema& schema) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '"' || c == '\'') {
            size_t end = text.find(c, i + 1);
            end = end == std::string::npos ? text.size() : end + 1;
            out.append(text, i, end - i);
            i = end;
            continue;
        }
        if (i + 3 < text.size() && SameText(std::string_view(text).substr(i, 3), "STR") &&
            (i == 0 || !IdentChar(text[i - 1]))) {
            size_t open = i + 3;
            while (open < text.size() && text[open] == ' ') ++open;
            if (open < text.size() && text[open] == '(') {
                size_t close = text.find(')', open);
                if (close != std::string::npos) {
                    std::string arg = text.substr(open + 1, close - open - 1);
                    size_t b = arg.find_first_not_of(' '), e = arg.find_last_not_of(' ');
                    arg = b == std::string::npos ? "" : arg.substr(b, e - b + 1);
                    int f = schema.Find(arg);
                    if (f >= 0 && arg.find(',') == std::string::npos &&
                        schema.Fields()[size_t(f)].type == KCE_NUMERIC) {
                        const ExprField& field = schema.Fields()[size_t(f)];
                        out += "STR(" + arg + "," + std::to_string(field.length);
                        if (field.decimals > 0) out += "," + std::to_string(field.decimals);
                        out += ")";
                        i = close + 1;
                        continue;
                    }
                }
            }
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

void AppendDouble(double d, std::string* key) { AppendKeyValue(Value::Numeric(d), 8, key); }

}  // namespace

std::string XbaseExpression(std::string_view text, const ExprSchema& schema, KeyDialect dialect) {
    std::string out = Names(text, schema);
    if (dialect == KeyDialect::kNtx) out = StrWidths(out, schema);
    return out;
}

void AppendXbaseKey(const Value& v, const XbaseEncoding& enc, KeyDialect dialect,
                    std::string* key) {
    switch (v.type) {
        case ValueType::kCharacter: {
            size_t n = std::min(enc.width, v.text.size());
            key->append(v.text, 0, n);
            key->append(enc.width - n, ' ');
            return;
        }
        case ValueType::kLogical:
            key->push_back(v.logical ? 'T' : 'F');
            return;
        case ValueType::kNumeric:
            if (dialect == KeyDialect::kCdx) {
                if (enc.integer) {
                    double r = std::nearbyint(v.number);
                    int64_t n = r < -2147483648.0  ? INT32_MIN
                                : r > 2147483647.0 ? INT32_MAX
                                                   : int64_t(r);
                    uint32_t bits = uint32_t(int32_t(n)) ^ 0x80000000u;
                    for (int i = 3; i >= 0; --i) key->push_back(char(bits >> (8 * i)));
                } else {
                    AppendDouble(v.number, key);
                }
                return;
            }
            {
                // Digits of the absolute value with leading zeros; 0x5C - c for negatives.
                const int width = int(enc.width);
                double a = std::fabs(v.number);
                char buf[400];
                int len = std::snprintf(buf, sizeof buf, "%0*.*f", width, enc.decimals, a);
                std::string digits(buf, size_t(std::max(0, len)));
                if (int(digits.size()) > width) digits = std::string(size_t(width), '*');
                bool negative = v.number < 0 && std::nearbyint(a * std::pow(10, enc.decimals)) != 0;
                if (negative) {
                    for (char& c : digits) {
                        if (c != '.') c = char(0x5C - c);
                    }
                }
                key->append(digits);
            }
            return;
        case ValueType::kDate:
            if (dialect == KeyDialect::kCdx) {
                AppendDouble(double(v.day), key);
            } else if (v.day <= 0) {
                key->append(8, ' ');
            } else {
                CivilDate d = CivilFromJulian(v.day);
                char buf[16];
                std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year % 10000, d.month, d.day);
                key->append(buf, 8);
            }
            return;
        case ValueType::kDateTime:
            if (dialect == KeyDialect::kCdx) {
                AppendDouble(double(v.day) + double(v.ms) / 86400000.0, key);
            } else {
                AppendKeyValue(v, 8, key);
            }
            return;
    }
}

}  // namespace kce
