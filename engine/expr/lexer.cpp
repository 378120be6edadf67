#include "engine/expr/lexer.h"

#include <cctype>
#include <cstdlib>

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

}  // namespace

bool Tokenize(std::string_view text, std::vector<Token>* tokens, size_t* errorPos,
              std::string* error) {
    tokens->clear();
    size_t i = 0;
    const size_t n = text.size();
    auto fail = [&](size_t pos, std::string message) {
        *errorPos = pos;
        *error = std::move(message);
        return false;
    };
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
        if (c == '\'' || c == '"') {
            size_t close = text.find(c, i + 1);
            if (close == std::string_view::npos) {
                return fail(i, std::string("string literal opened with ") + c + " is not closed");
            }
            t.kind = TokenKind::kString;
            t.text = std::string(text.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(text[i + 1]))) {
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
            std::string literal(text.substr(i, j - i));
            t.kind = TokenKind::kNumber;
            t.number = std::strtod(literal.c_str(), nullptr);
            i = j;
        } else if (c == '.') {
            size_t j = i + 1;
            while (j < n && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
            TokenKind kind = TokenKind::kEnd;
            if (j < n && text[j] == '.' && j > i + 1)
                kind = DottedWord(text.substr(i + 1, j - i - 1));
            if (kind == TokenKind::kEnd) return fail(i, "unexpected '.'");
            t.kind = kind;
            i = j + 1;
        } else if (IsNameStart(c)) {
            size_t j = i;
            while (j < n && IsNameChar(text[j])) ++j;
            t.text = std::string(text.substr(i, j - i));
            std::string u = Upper(t.text);
            if (u == "AND") {
                t.kind = TokenKind::kAnd;
            } else if (u == "OR") {
                t.kind = TokenKind::kOr;
            } else if (u == "NOT") {
                t.kind = TokenKind::kNot;
            } else {
                t.kind = TokenKind::kName;
            }
            i = j;
        } else if (c == '@') {
            size_t j = i + 1;
            double v = 0;
            while (j < n && IsDigit(text[j]) && v < 1e6) v = v * 10 + (text[j++] - '0');
            if (j == i + 1) return fail(i, "'@' must be followed by a field number");
            t.kind = TokenKind::kOrdinal;
            t.number = v;
            i = j;
        } else {
            char d = i + 1 < n ? text[i + 1] : '\0';
            size_t len = 1;
            switch (c) {
                case '(':
                    t.kind = TokenKind::kLParen;
                    break;
                case ')':
                    t.kind = TokenKind::kRParen;
                    break;
                case ',':
                    t.kind = TokenKind::kComma;
                    break;
                case '+':
                    t.kind = TokenKind::kPlus;
                    break;
                case '-':
                    t.kind = TokenKind::kMinus;
                    break;
                case '*':
                    t.kind = TokenKind::kStar;
                    break;
                case '/':
                    t.kind = TokenKind::kSlash;
                    break;
                case '%':
                    t.kind = TokenKind::kPercent;
                    break;
                case '$':
                    t.kind = TokenKind::kDollar;
                    break;
                case '#':
                    t.kind = TokenKind::kNe;
                    break;
                case '=':
                    t.kind = d == '=' ? TokenKind::kEqEq : TokenKind::kEq;
                    len = d == '=' ? 2 : 1;
                    break;
                case '!':
                    t.kind = d == '=' ? TokenKind::kNe : TokenKind::kNot;
                    len = d == '=' ? 2 : 1;
                    break;
                case '<':
                    if (d == '=') {
                        t.kind = TokenKind::kLe;
                        len = 2;
                    } else if (d == '>') {
                        t.kind = TokenKind::kNe;
                        len = 2;
                    } else {
                        t.kind = TokenKind::kLt;
                    }
                    break;
                case '>':
                    t.kind = d == '=' ? TokenKind::kGe : TokenKind::kGt;
                    len = d == '=' ? 2 : 1;
                    break;
                default: {
                    unsigned char u = static_cast<unsigned char>(c);
                    char hex[8];
                    static const char* kDigits = "0123456789ABCDEF";
                    hex[0] = kDigits[u >> 4];
                    hex[1] = kDigits[u & 15];
                    hex[2] = 0;
                    if (std::isprint(u))
                        return fail(i, std::string("unexpected character '") + c + "'");
                    return fail(i, std::string("unexpected byte 0x") + hex);
                }
            }
            i += len;
        }
        t.len = i - t.pos;
        tokens->push_back(std::move(t));
    }
}

}  // namespace kce
