#include "engine/expr/lexer.h"

#include <cctype>
#include <cstdlib>

#include "engine/expr/value.h"
#include "engine/text.h"

namespace kce {

namespace {

bool IsNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)); }

// A dotted word such as .T. or .AND.; kEnd when the dots do not enclose a known word.
TokenKind DottedWord(std::string_view word) {
    std::string u = Upper(word);
    if (u == "T" || u == "TRUE" || u == "Y") return TokenKind::kTrue;
    if (u == "F" || u == "FALSE" || u == "N") return TokenKind::kFalse;
    if (u == "AND") return TokenKind::kAnd;
    if (u == "OR") return TokenKind::kOr;
    if (u == "NOT") return TokenKind::kNot;
    return TokenKind::kEnd;
}

// Each scanner reads one token of its kind that starts at text[i] into *t and returns the offset
// just past it; on a fault it sets *error and returns npos (the fault is at i).
constexpr size_t kFault = std::string_view::npos;

// '...' or "...", without escapes.
size_t ScanString(std::string_view text, size_t i, Token* t, std::string* error) {
    char quote = text[i];
    size_t close = text.find(quote, i + 1);
    if (close == std::string_view::npos) {
        *error = std::string("string literal opened with ") + quote + " is not closed";
        return kFault;
    }
    t->kind = TokenKind::kString;
    t->text = std::string(text.substr(i + 1, close - i - 1));
    return close + 1;
}

// 12, 1.5, .5, 1E3, 2.E-1; a dot followed by a letter is not the number's (1.AND.).
size_t ScanNumber(std::string_view text, size_t i, Token* t) {
    const size_t n = text.size();
    size_t j = i;
    while (j < n && IsDigit(text[j])) ++j;
    if (j < n && text[j] == '.' && !(j + 1 < n && IsNameStart(text[j + 1]))) {
        ++j;
        while (j < n && IsDigit(text[j])) ++j;
    }
    if (j < n && (text[j] == 'e' || text[j] == 'E')) {
        size_t k = j + 1;
        if (k < n && (text[k] == '+' || text[k] == '-')) ++k;
        if (k < n && IsDigit(text[k])) {
            while (k < n && IsDigit(text[k])) ++k;
            j = k;
        }
    }
    t->kind = TokenKind::kNumber;
    t->number = ReadNumberText(text.substr(i, j - i), nullptr);
    return j;
}

// .T., .AND. and the other dotted words.
size_t ScanDotted(std::string_view text, size_t i, Token* t, std::string* error) {
    const size_t n = text.size();
    size_t j = i + 1;
    while (j < n && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
    TokenKind kind = TokenKind::kEnd;
    if (j < n && text[j] == '.' && j > i + 1) kind = DottedWord(text.substr(i + 1, j - i - 1));
    if (kind == TokenKind::kEnd) {
        *error = "unexpected '.'";
        return kFault;
    }
    t->kind = kind;
    return j + 1;
}

// A name, or one of the words AND, OR, NOT.
size_t ScanName(std::string_view text, size_t i, Token* t) {
    size_t j = i;
    while (j < text.size() && IsNameChar(text[j])) ++j;
    t->text = std::string(text.substr(i, j - i));
    std::string u = Upper(t->text);
    t->kind = u == "AND"   ? TokenKind::kAnd
              : u == "OR"  ? TokenKind::kOr
              : u == "NOT" ? TokenKind::kNot
                           : TokenKind::kName;
    return j;
}

// [name], a field name written in brackets because it holds a blank (or to set it apart from a
// word of the language: [AND] is a field).
size_t ScanBracketName(std::string_view text, size_t i, Token* t, std::string* error) {
    size_t close = text.find(']', i + 1);
    if (close == std::string_view::npos) {
        *error = "field name opened with [ is not closed";
        return kFault;
    }
    if (close == i + 1) {
        *error = "empty field name []";
        return kFault;
    }
    t->kind = TokenKind::kName;
    t->text = std::string(text.substr(i + 1, close - i - 1));
    return close + 1;
}

// @n, a field by its ordinal.
size_t ScanOrdinal(std::string_view text, size_t i, Token* t, std::string* error) {
    size_t j = i + 1;
    double v = 0;
    while (j < text.size() && IsDigit(text[j]) && v < 1e6) v = v * 10 + (text[j++] - '0');
    if (j == i + 1) {
        *error = "'@' must be followed by a field number";
        return kFault;
    }
    t->kind = TokenKind::kOrdinal;
    t->number = v;
    return j;
}

// Operators and punctuation; the two-character ones are tried first.
size_t ScanOperator(std::string_view text, size_t i, Token* t, std::string* error) {
    static constexpr struct {
        std::string_view text;
        TokenKind kind;
    } kOperators[] = {
        {"==", TokenKind::kEqEq},   {"!=", TokenKind::kNe},    {"<=", TokenKind::kLe},
        {"<>", TokenKind::kNe},     {">=", TokenKind::kGe},    {"(", TokenKind::kLParen},
        {")", TokenKind::kRParen},  {",", TokenKind::kComma},  {"+", TokenKind::kPlus},
        {"-", TokenKind::kMinus},   {"*", TokenKind::kStar},   {"/", TokenKind::kSlash},
        {"%", TokenKind::kPercent}, {"$", TokenKind::kDollar}, {"#", TokenKind::kNe},
        {"=", TokenKind::kEq},      {"!", TokenKind::kNot},    {"<", TokenKind::kLt},
        {">", TokenKind::kGt},
    };
    for (const auto& op : kOperators) {
        if (text.substr(i, op.text.size()) == op.text) {
            t->kind = op.kind;
            return i + op.text.size();
        }
    }
    unsigned char u = static_cast<unsigned char>(text[i]);
    if (std::isprint(u)) {
        *error = std::string("unexpected character '") + text[i] + "'";
    } else {
        static const char* kDigits = "0123456789ABCDEF";
        *error = std::string("unexpected byte 0x") + kDigits[u >> 4] + kDigits[u & 15];
    }
    return kFault;
}

}  // namespace

bool Tokenize(std::string_view text, std::vector<Token>* tokens, size_t* errorPos,
              std::string* error) {
    tokens->clear();
    size_t i = 0;
    const size_t n = text.size();
    while (true) {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
            ++i;
        Token t;
        t.pos = i;
        if (i >= n) {
            tokens->push_back(t);
            return true;
        }
        char c = text[i];
        size_t end;
        if (c == '\'' || c == '"') {
            end = ScanString(text, i, &t, error);
        } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(text[i + 1]))) {
            end = ScanNumber(text, i, &t);
        } else if (c == '.') {
            end = ScanDotted(text, i, &t, error);
        } else if (IsNameStart(c)) {
            end = ScanName(text, i, &t);
        } else if (c == '[') {
            end = ScanBracketName(text, i, &t, error);
        } else if (c == '@') {
            end = ScanOrdinal(text, i, &t, error);
        } else {
            end = ScanOperator(text, i, &t, error);
        }
        if (end == kFault) {
            *errorPos = i;
            return false;
        }
        i = end;
        t.len = i - t.pos;
        tokens->push_back(std::move(t));
    }
}

}  // namespace kce
