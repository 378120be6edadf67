// The short form of expressions: field names written as "@n".
#include <string>

#include "engine/expr/expression.h"
#include "engine/expr/lexer.h"
#include "engine/status.h"

namespace kce {

namespace {

KCESTATUS LexOrFail(std::string_view text, std::vector<Token>* tokens) {
    size_t errorPos = 0;
    std::string error;
    if (!Tokenize(text, tokens, &errorPos, &error)) {
        return Fail(KCE_EXPR_SYNTAX, error + " at position " + std::to_string(errorPos + 1) +
                                         " in expression \"" + std::string(text.substr(0, 200)) +
                                         "\"");
    }
    return KCE_SUCCESS;
}

}  // namespace

KCESTATUS ExpressionLongToShort(std::string_view text, const ExprSchema& schema, std::string* out) {
    std::vector<Token> tokens;
    if (KCESTATUS s = LexOrFail(text, &tokens)) return s;
    std::string result;
    size_t copied = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind != TokenKind::kName) continue;
        // A name followed by '(' is a function, never a field.
        if (tokens[i + 1].kind == TokenKind::kLParen) continue;
        int index = schema.Find(t.text);
        if (index < 0) continue;
        result.append(text.substr(copied, t.pos - copied));
        result += "@" + std::to_string(index + 1);
        copied = t.pos + t.len;
    }
    result.append(text.substr(copied));
    *out = std::move(result);
    return KCE_SUCCESS;
}

KCESTATUS ExpressionShortToLong(std::string_view text, const ExprSchema& schema, std::string* out) {
    std::vector<Token> tokens;
    if (KCESTATUS s = LexOrFail(text, &tokens)) return s;
    std::string result;
    size_t copied = 0;
    for (const Token& t : tokens) {
        if (t.kind != TokenKind::kOrdinal) continue;
        if (t.number < 1 || t.number > double(schema.Fields().size())) {
            return Fail(KCE_EXPR_UNKNOWN_FIELD,
                        "no field number " + std::string(text.substr(t.pos, t.len)) +
                            " at position " + std::to_string(t.pos + 1) + " (the table has " +
                            std::to_string(schema.Fields().size()) + " fields)");
        }
        result.append(text.substr(copied, t.pos - copied));
        const std::string& name = schema.Fields()[size_t(t.number) - 1].name;
        result += name.find(' ') == std::string::npos ? name : "[" + name + "]";
        copied = t.pos + t.len;
    }
    result.append(text.substr(copied));
    *out = std::move(result);
    return KCE_SUCCESS;
}

}  // namespace kce
