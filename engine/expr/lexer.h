// Tokens of the expression language.
//
// Literals: numbers (12, 1.5, .5, 1E3), strings in '...' or "..." (no escapes: the other quote
// stands for itself), .T. .F. .TRUE. .FALSE. .Y. .N.; names (letters, digits, '_', not starting
// with a digit), or any name in brackets ([FIELD NAME]); operators + - * / % = == <> != # < <= > >=
// $ ! and the words AND OR NOT, with or without surrounding dots (.AND.); parentheses and commas.
// "@n" is a field by ordinal, used only by the short form. Positions are byte offsets into the
// text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kce {

enum class TokenKind : uint8_t {
    kEnd,
    kNumber,
    kString,
    kName,
    kTrue,
    kFalse,
    kAnd,
    kOr,
    kNot,
    kLParen,
    kRParen,
    kComma,
    kPlus,
    kMinus,
    kStar,
    kSlash,
    kPercent,
    kEq,
    kEqEq,
    kNe,
    kLt,
    kLe,
    kGt,
    kGe,
    kDollar,
    kOrdinal,
};

struct Token {
    TokenKind kind = TokenKind::kEnd;
    size_t pos = 0;     // byte offset of the first character
    size_t len = 0;     // bytes of source text
    double number = 0;  // kNumber, kOrdinal
    std::string text;   // kString (without quotes), kName (as written)
};

// Splits text into tokens ending with kEnd. On a bad character or an unterminated string it
// returns false and sets *errorPos and *error.
bool Tokenize(std::string_view text, std::vector<Token>* tokens, size_t* errorPos,
              std::string* error);

}  // namespace kce
