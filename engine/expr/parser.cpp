// Parser and type checker of the expression language (grammar in expression.h).
#include <algorithm>
#include <cctype>
#include <string>

#include "engine/expr/expression.h"
#include "engine/expr/lexer.h"
#include "engine/status.h"
#include "engine/text.h"

namespace kce {

namespace {

// Deeper nesting than this is refused, so that neither the parser nor the evaluator can run out
// of stack on hostile input.
constexpr int kMaxDepth = 200;
// Long chains such as A+A+A... nest without parentheses; the tree's height is bounded too.
constexpr int kMaxHeight = 1000;

struct CompileError {
    KCESTATUS status;
    size_t pos;
    std::string message;
};

struct FunctionInfo {
    const char* name;
    ExprFunc func;
    int minArgs;
    int maxArgs;
};

const FunctionInfo kFunctions[] = {
    {"UPPER", ExprFunc::kUpper, 1, 1},   {"LOWER", ExprFunc::kLower, 1, 1},
    {"TRIM", ExprFunc::kTrim, 1, 1},     {"RTRIM", ExprFunc::kRTrim, 1, 1},
    {"LTRIM", ExprFunc::kLTrim, 1, 1},   {"ALLTRIM", ExprFunc::kAllTrim, 1, 1},
    {"SUBSTR", ExprFunc::kSubstr, 2, 3}, {"LEFT", ExprFunc::kLeft, 2, 2},
    {"RIGHT", ExprFunc::kRight, 2, 2},   {"STR", ExprFunc::kStr, 1, 3},
    {"VAL", ExprFunc::kVal, 1, 1},       {"DTOS", ExprFunc::kDtos, 1, 1},
    {"DTOC", ExprFunc::kDtoc, 1, 1},     {"CTOD", ExprFunc::kCtod, 1, 1},
    {"CTOT", ExprFunc::kCtot, 1, 1},     {"CTOTS", ExprFunc::kCtots, 1, 1},
    {"STOD", ExprFunc::kStod, 1, 1},     {"EMPTY", ExprFunc::kEmpty, 1, 1},
    {"CHR", ExprFunc::kChr, 1, 1},       {"IIF", ExprFunc::kIif, 3, 3},
    {"YEAR", ExprFunc::kYear, 1, 1},     {"MONTH", ExprFunc::kMonth, 1, 1},
    {"DAY", ExprFunc::kDay, 1, 1},       {"DELETED", ExprFunc::kDeleted, 0, 0},
    {"RECNO", ExprFunc::kRecno, 0, 0},   {"LEN", ExprFunc::kLen, 1, 1},
    {"ABS", ExprFunc::kAbs, 1, 1},       {"INT", ExprFunc::kInt, 1, 1},
};

const char* OpText(ExprOp op) {
    switch (op) {
        case ExprOp::kAdd:
            return "+";
        case ExprOp::kSub:
            return "-";
        case ExprOp::kMul:
            return "*";
        case ExprOp::kDiv:
            return "/";
        case ExprOp::kMod:
            return "%";
        case ExprOp::kNeg:
            return "unary -";
        case ExprOp::kEq:
            return "=";
        case ExprOp::kEqEq:
            return "==";
        case ExprOp::kNe:
            return "<>";
        case ExprOp::kLt:
            return "<";
        case ExprOp::kLe:
            return "<=";
        case ExprOp::kGt:
            return ">";
        case ExprOp::kGe:
            return ">=";
        case ExprOp::kContains:
            return "$";
        case ExprOp::kAnd:
            return ".AND.";
        case ExprOp::kOr:
            return ".OR.";
        case ExprOp::kNot:
            return ".NOT.";
    }
    return "?";
}

class Parser {
  public:
    Parser(const std::vector<Token>& tokens, const ExprSchema& schema)
        : tokens_(tokens), schema_(schema) {}

    std::unique_ptr<ExprNode> ParseAll() {
        if (Peek().kind == TokenKind::kEnd) throw CompileError{KCE_EXPR_EMPTY, 0, "no expression"};
        auto node = ParseOr();
        if (Peek().kind != TokenKind::kEnd) {
            throw CompileError{KCE_EXPR_SYNTAX, Peek().pos, "unexpected " + Describe(Peek())};
        }
        return node;
    }

  private:
    const Token& Peek() const { return tokens_[at_]; }
    const Token& Next() { return tokens_[at_ == tokens_.size() - 1 ? at_ : at_++]; }

    std::string Describe(const Token& t) const {
        switch (t.kind) {
            case TokenKind::kEnd:
                return "end of expression";
            case TokenKind::kName:
                return "name '" + t.text + "'";
            case TokenKind::kString:
                return "string literal";
            case TokenKind::kNumber:
                return "number";
            case TokenKind::kOrdinal:
                return "field number";
            default:
                return "'" + TokenText(t.kind) + "'";
        }
    }
    static std::string TokenText(TokenKind k) {
        switch (k) {
            case TokenKind::kTrue:
                return ".T.";
            case TokenKind::kFalse:
                return ".F.";
            case TokenKind::kAnd:
                return ".AND.";
            case TokenKind::kOr:
                return ".OR.";
            case TokenKind::kNot:
                return ".NOT.";
            case TokenKind::kLParen:
                return "(";
            case TokenKind::kRParen:
                return ")";
            case TokenKind::kComma:
                return ",";
            case TokenKind::kPlus:
                return "+";
            case TokenKind::kMinus:
                return "-";
            case TokenKind::kStar:
                return "*";
            case TokenKind::kSlash:
                return "/";
            case TokenKind::kPercent:
                return "%";
            case TokenKind::kEq:
                return "=";
            case TokenKind::kEqEq:
                return "==";
            case TokenKind::kNe:
                return "<>";
            case TokenKind::kLt:
                return "<";
            case TokenKind::kLe:
                return "<=";
            case TokenKind::kGt:
                return ">";
            case TokenKind::kGe:
                return ">=";
            case TokenKind::kDollar:
                return "$";
            default:
                return "?";
        }
    }

    void Enter(size_t pos) {
        if (++depth_ > kMaxDepth) {
            throw CompileError{KCE_EXPR_TOO_COMPLEX, pos,
                               "more than " + std::to_string(kMaxDepth) + " levels of nesting"};
        }
    }
    struct DepthScope {
        Parser* p;
        ~DepthScope() { --p->depth_; }
    };

    static std::unique_ptr<ExprNode> MakeNode(ExprNodeKind kind, size_t pos) {
        auto n = std::make_unique<ExprNode>();
        n->kind = kind;
        n->pos = pos;
        return n;
    }

    // Sets the height of a node whose arguments are complete.
    static void Seal(ExprNode& n) {
        int h = 0;
        for (auto& a : n.args) h = std::max(h, a->height);
        n.height = h + 1;
        if (n.height > kMaxHeight) {
            throw CompileError{KCE_EXPR_TOO_COMPLEX, n.pos,
                               "more than " + std::to_string(kMaxHeight) + " levels of operations"};
        }
    }

    [[noreturn]] void TypeError(size_t pos, const std::string& message) {
        throw CompileError{KCE_EXPR_TYPE_MISMATCH, pos, message};
    }

    std::unique_ptr<ExprNode> Binary(ExprOp op, size_t pos, std::unique_ptr<ExprNode> l,
                                     std::unique_ptr<ExprNode> r) {
        auto n = MakeNode(ExprNodeKind::kBinary, pos);
        n->op = op;
        ValueType a = l->type, b = r->type;
        auto mismatch = [&]() {
            TypeError(pos, std::string("operator ") + OpText(op) + " cannot combine " +
                               ValueTypeName(a) + " and " + ValueTypeName(b));
        };
        using T = ValueType;
        switch (op) {
            case ExprOp::kAnd:
            case ExprOp::kOr:
                if (a != T::kLogical || b != T::kLogical) mismatch();
                n->type = T::kLogical;
                break;
            case ExprOp::kAdd:
                if (a == T::kNumeric && b == T::kNumeric) {
                    n->type = T::kNumeric;
                } else if (a == T::kCharacter && b == T::kCharacter) {
                    n->type = T::kCharacter;
                } else if ((a == T::kDate || a == T::kDateTime) && b == T::kNumeric) {
                    n->type = a;
                } else if (a == T::kNumeric && (b == T::kDate || b == T::kDateTime)) {
                    n->type = b;
                } else {
                    mismatch();
                }
                break;
            case ExprOp::kSub:
                if (a == T::kNumeric && b == T::kNumeric) {
                    n->type = T::kNumeric;
                } else if (a == T::kCharacter && b == T::kCharacter) {
                    n->type = T::kCharacter;
                } else if ((a == T::kDate || a == T::kDateTime) && b == T::kNumeric) {
                    n->type = a;
                } else if ((a == T::kDate || a == T::kDateTime) && a == b) {
                    n->type = T::kNumeric;
                } else {
                    mismatch();
                }
                break;
            case ExprOp::kMul:
            case ExprOp::kDiv:
            case ExprOp::kMod:
                if (a != T::kNumeric || b != T::kNumeric) mismatch();
                n->type = T::kNumeric;
                break;
            case ExprOp::kContains:
                if (a != T::kCharacter || b != T::kCharacter) mismatch();
                n->type = T::kLogical;
                break;
            default:  // comparisons
                if (a != b) mismatch();
                n->type = T::kLogical;
                break;
        }
        n->args.push_back(std::move(l));
        n->args.push_back(std::move(r));
        Seal(*n);
        return n;
    }

    std::unique_ptr<ExprNode> ParseOr() {
        auto left = ParseAnd();
        while (Peek().kind == TokenKind::kOr) {
            size_t pos = Next().pos;
            left = Binary(ExprOp::kOr, pos, std::move(left), ParseAnd());
        }
        return left;
    }

    std::unique_ptr<ExprNode> ParseAnd() {
        auto left = ParseNot();
        while (Peek().kind == TokenKind::kAnd) {
            size_t pos = Next().pos;
            left = Binary(ExprOp::kAnd, pos, std::move(left), ParseNot());
        }
        return left;
    }

    std::unique_ptr<ExprNode> ParseNot() {
        if (Peek().kind == TokenKind::kNot) {
            size_t pos = Next().pos;
            Enter(pos);
            DepthScope scope{this};
            auto operand = ParseNot();
            if (operand->type != ValueType::kLogical) {
                TypeError(pos, std::string(".NOT. needs a logical operand, not ") +
                                   ValueTypeName(operand->type));
            }
            auto n = MakeNode(ExprNodeKind::kUnary, pos);
            n->op = ExprOp::kNot;
            n->type = ValueType::kLogical;
            n->args.push_back(std::move(operand));
            Seal(*n);
            return n;
        }
        return ParseCompare();
    }

    std::unique_ptr<ExprNode> ParseCompare() {
        auto left = ParseSum();
        ExprOp op;
        switch (Peek().kind) {
            case TokenKind::kEq:
                op = ExprOp::kEq;
                break;
            case TokenKind::kEqEq:
                op = ExprOp::kEqEq;
                break;
            case TokenKind::kNe:
                op = ExprOp::kNe;
                break;
            case TokenKind::kLt:
                op = ExprOp::kLt;
                break;
            case TokenKind::kLe:
                op = ExprOp::kLe;
                break;
            case TokenKind::kGt:
                op = ExprOp::kGt;
                break;
            case TokenKind::kGe:
                op = ExprOp::kGe;
                break;
            case TokenKind::kDollar:
                op = ExprOp::kContains;
                break;
            default:
                return left;
        }
        size_t pos = Next().pos;
        return Binary(op, pos, std::move(left), ParseSum());
    }

    std::unique_ptr<ExprNode> ParseSum() {
        auto left = ParseProduct();
        while (Peek().kind == TokenKind::kPlus || Peek().kind == TokenKind::kMinus) {
            const Token& t = Next();
            ExprOp op = t.kind == TokenKind::kPlus ? ExprOp::kAdd : ExprOp::kSub;
            left = Binary(op, t.pos, std::move(left), ParseProduct());
        }
        return left;
    }

    std::unique_ptr<ExprNode> ParseProduct() {
        auto left = ParseUnary();
        while (Peek().kind == TokenKind::kStar || Peek().kind == TokenKind::kSlash ||
               Peek().kind == TokenKind::kPercent) {
            const Token& t = Next();
            ExprOp op = t.kind == TokenKind::kStar    ? ExprOp::kMul
                        : t.kind == TokenKind::kSlash ? ExprOp::kDiv
                                                      : ExprOp::kMod;
            left = Binary(op, t.pos, std::move(left), ParseUnary());
        }
        return left;
    }

    std::unique_ptr<ExprNode> ParseUnary() {
        if (Peek().kind == TokenKind::kMinus || Peek().kind == TokenKind::kPlus) {
            const Token& t = Next();
            bool negate = t.kind == TokenKind::kMinus;
            size_t pos = t.pos;
            Enter(pos);
            DepthScope scope{this};
            auto operand = ParseUnary();
            if (operand->type != ValueType::kNumeric) {
                TypeError(pos, std::string("sign needs a numeric operand, not ") +
                                   ValueTypeName(operand->type));
            }
            if (!negate) return operand;
            auto n = MakeNode(ExprNodeKind::kUnary, pos);
            n->op = ExprOp::kNeg;
            n->type = ValueType::kNumeric;
            n->args.push_back(std::move(operand));
            Seal(*n);
            return n;
        }
        return ParsePrimary();
    }

    std::unique_ptr<ExprNode> ParsePrimary() {
        const Token& t = Next();
        switch (t.kind) {
            case TokenKind::kNumber: {
                auto n = MakeNode(ExprNodeKind::kLiteral, t.pos);
                n->literal = Value::Numeric(t.number);
                n->type = ValueType::kNumeric;
                return n;
            }
            case TokenKind::kString: {
                auto n = MakeNode(ExprNodeKind::kLiteral, t.pos);
                n->literal = Value::Character(t.text);
                n->type = ValueType::kCharacter;
                return n;
            }
            case TokenKind::kTrue:
            case TokenKind::kFalse: {
                auto n = MakeNode(ExprNodeKind::kLiteral, t.pos);
                n->literal = Value::Logical(t.kind == TokenKind::kTrue);
                n->type = ValueType::kLogical;
                return n;
            }
            case TokenKind::kLParen: {
                Enter(t.pos);
                DepthScope scope{this};
                auto inner = ParseOr();
                Expect(TokenKind::kRParen,
                       "')' to close the '(' at position " + std::to_string(t.pos + 1));
                return inner;
            }
            case TokenKind::kName:
                if (Peek().kind == TokenKind::kLParen) return ParseCall(t);
                return FieldNode(t);
            default:
                throw CompileError{KCE_EXPR_SYNTAX, t.pos, "unexpected " + Describe(t)};
        }
    }

    void Expect(TokenKind kind, const std::string& what) {
        if (Peek().kind != kind) {
            throw CompileError{KCE_EXPR_SYNTAX, Peek().pos,
                               "expected " + what + ", found " + Describe(Peek())};
        }
        Next();
    }

    std::unique_ptr<ExprNode> FieldNode(const Token& t) {
        int index = schema_.Find(t.text);
        if (index < 0) {
            throw CompileError{KCE_EXPR_UNKNOWN_FIELD, t.pos, "no field named '" + t.text + "'"};
        }
        auto n = MakeNode(ExprNodeKind::kField, t.pos);
        n->field = index;
        if (!ValueTypeOfField(schema_.Fields()[index].type, &n->type)) {
            throw CompileError{KCE_EXPR_TYPE_MISMATCH, t.pos,
                               "field '" + t.text + "' has a type expressions cannot read"};
        }
        return n;
    }

    std::unique_ptr<ExprNode> ParseCall(const Token& nameToken) {
        std::string name = Upper(nameToken.text);
        const FunctionInfo* info = nullptr;
        for (const FunctionInfo& f : kFunctions) {
            if (name == f.name) info = &f;
        }
        if (!info) {
            throw CompileError{KCE_EXPR_UNKNOWN_FUNCTION, nameToken.pos,
                               "no function named '" + nameToken.text + "'"};
        }
        Enter(nameToken.pos);
        DepthScope scope{this};
        Next();  // (
        auto n = MakeNode(ExprNodeKind::kCall, nameToken.pos);
        n->func = info->func;
        if (Peek().kind != TokenKind::kRParen) {
            while (true) {
                n->args.push_back(ParseOr());
                if (Peek().kind != TokenKind::kComma) break;
                Next();
            }
        }
        Expect(TokenKind::kRParen, "')' or ',' in the arguments of " + name);
        int count = static_cast<int>(n->args.size());
        if (count < info->minArgs || count > info->maxArgs) {
            std::string wanted =
                info->minArgs == info->maxArgs
                    ? std::to_string(info->minArgs)
                    : std::to_string(info->minArgs) + " to " + std::to_string(info->maxArgs);
            throw CompileError{KCE_EXPR_ARGUMENT_COUNT, nameToken.pos,
                               name + " takes " + wanted + " argument" +
                                   (info->maxArgs == 1 ? "" : "s") + ", given " +
                                   std::to_string(count)};
        }
        CheckCall(name, *n);
        Seal(*n);
        return n;
    }

    void CheckCall(const std::string& name, ExprNode& n) {
        using T = ValueType;
        auto want = [&](size_t i, std::initializer_list<T> allowed) {
            for (T t : allowed)
                if (n.args[i]->type == t) return;
            std::string list;
            for (T t : allowed) {
                if (!list.empty()) list += " or ";
                list += ValueTypeName(t);
            }
            TypeError(n.args[i]->pos, name + ": argument " + std::to_string(i + 1) + " must be " +
                                          list + ", not " + ValueTypeName(n.args[i]->type));
        };
        auto wantAll = [&](size_t from, T t) {
            for (size_t i = from; i < n.args.size(); ++i) want(i, {t});
        };
        switch (n.func) {
            case ExprFunc::kUpper:
            case ExprFunc::kLower:
            case ExprFunc::kTrim:
            case ExprFunc::kRTrim:
            case ExprFunc::kLTrim:
            case ExprFunc::kAllTrim:
                want(0, {T::kCharacter});
                n.type = T::kCharacter;
                break;
            case ExprFunc::kSubstr:
            case ExprFunc::kLeft:
            case ExprFunc::kRight:
                want(0, {T::kCharacter});
                wantAll(1, T::kNumeric);
                n.type = T::kCharacter;
                break;
            case ExprFunc::kStr:
                wantAll(0, T::kNumeric);
                n.type = T::kCharacter;
                break;
            case ExprFunc::kChr:
                want(0, {T::kNumeric});
                n.type = T::kCharacter;
                break;
            case ExprFunc::kVal:
            case ExprFunc::kLen:
                want(0, {T::kCharacter});
                n.type = T::kNumeric;
                break;
            case ExprFunc::kAbs:
            case ExprFunc::kInt:
                want(0, {T::kNumeric});
                n.type = T::kNumeric;
                break;
            case ExprFunc::kDtos:
            case ExprFunc::kDtoc:
                want(0, {T::kDate, T::kDateTime});
                n.type = T::kCharacter;
                break;
            case ExprFunc::kYear:
            case ExprFunc::kMonth:
            case ExprFunc::kDay:
                want(0, {T::kDate, T::kDateTime});
                n.type = T::kNumeric;
                break;
            case ExprFunc::kCtod:
            case ExprFunc::kStod:
                want(0, {T::kCharacter});
                n.type = T::kDate;
                break;
            case ExprFunc::kCtot:
            case ExprFunc::kCtots:
                want(0, {T::kCharacter});
                n.type = T::kDateTime;
                break;
            case ExprFunc::kEmpty:
                n.type = T::kLogical;
                break;
            case ExprFunc::kIif:
                want(0, {T::kLogical});
                want(2, {n.args[1]->type});
                n.type = n.args[1]->type;
                break;
            case ExprFunc::kDeleted:
                n.type = T::kLogical;
                break;
            case ExprFunc::kRecno:
                n.type = T::kNumeric;
                break;
        }
    }

    const std::vector<Token>& tokens_;
    const ExprSchema& schema_;
    size_t at_ = 0;
    int depth_ = 0;
};

}  // namespace

KCESTATUS Expression::Compile(std::string_view text, const ExprSchema& schema,
                              std::unique_ptr<Expression>* out) {
    std::vector<Token> tokens;
    size_t errorPos = 0;
    std::string error;
    auto fail = [&](KCESTATUS status, size_t pos, const std::string& message) {
        std::string shown(text.substr(0, 200));
        if (text.size() > 200) shown += "...";
        return Fail(status, message + " at position " + std::to_string(pos + 1) +
                                " in expression \"" + shown + "\"");
    };
    if (!Tokenize(text, &tokens, &errorPos, &error)) {
        return fail(KCE_EXPR_SYNTAX, errorPos, error);
    }
    auto expr = std::unique_ptr<Expression>(new Expression());
    expr->text_ = std::string(text);
    expr->schema_ = schema;
    try {
        Parser parser(tokens, expr->schema_);
        expr->root_ = parser.ParseAll();
    } catch (const CompileError& e) {
        return fail(e.status, e.pos, e.message);
    }
    *out = std::move(expr);
    return KCE_SUCCESS;
}

}  // namespace kce
