// The engine's expression language: compiled once against a table's fields, evaluated on many
// records. Filters, index keys and the searches that the data-access layer builds all go
// through here.
//
// Grammar, loosest binding first:
//   or      := and { (.OR. | OR) and }
//   and     := not { (.AND. | AND) not }
//   not     := (.NOT. | NOT | !) not | compare
//   compare := sum [ (= | == | <> | != | # | < | <= | > | >= | $) sum ]
//   sum     := product { (+ | -) product }
//   product := unary { (* | / | %) unary }
//   unary   := (- | +) unary | primary
//   primary := number | string | logical | name | name "(" [or {"," or}] ")" | "(" or ")"
//
// Types are checked at compile time; an error names what is wrong and where (1-based position).
// Character comparison: `=` with the exact setting off is true when the left side begins with
// the right side (an empty right side matches everything); with it on, and always for `==`, both
// sides must be equal once trailing blanks are set aside. `<` `>` compare as if the shorter side
// were padded with blanks; `<=` and `>=` are `<` or `=` and `>` or `=`. `$` is "is contained in".
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/value.h"
#include "engine/kce.h"

namespace kce {

enum class ExprOp : uint8_t {
    kAdd,
    kSub,
    kMul,
    kDiv,
    kMod,
    kNeg,
    kEq,
    kEqEq,
    kNe,
    kLt,
    kLe,
    kGt,
    kGe,
    kContains,
    kAnd,
    kOr,
    kNot,
};

enum class ExprFunc : uint8_t {
    kUpper,
    kLower,
    kTrim,
    kRTrim,
    kLTrim,
    kAllTrim,
    kSubstr,
    kLeft,
    kRight,
    kStr,
    kVal,
    kDtos,
    kDtoc,
    kCtod,
    kCtot,
    kCtots,
    kStod,
    kEmpty,
    kChr,
    kIif,
    kYear,
    kMonth,
    kDay,
    kDeleted,
    kRecno,
    kLen,
    kAbs,
    kInt,
};

enum class ExprNodeKind : uint8_t { kLiteral, kField, kUnary, kBinary, kCall };

struct ExprNode {
    ExprNodeKind kind = ExprNodeKind::kLiteral;
    ValueType type = ValueType::kLogical;
    size_t pos = 0;  // byte offset in the source text
    ExprOp op = ExprOp::kAdd;
    ExprFunc func = ExprFunc::kUpper;
    int field = -1;  // schema index of a kField node
    int height = 1;  // levels of nodes from here down
    Value literal;
    std::vector<std::unique_ptr<ExprNode>> args;
};

class Expression {
  public:
    // Compiles text against the schema. On failure records the status and a text naming the
    // problem and its position, and returns the status (6500-6599).
    static KCESTATUS Compile(std::string_view text, const ExprSchema& schema,
                             std::unique_ptr<Expression>* out);

    const std::string& Text() const { return text_; }
    ValueType Type() const { return root_->type; }
    const ExprNode& Root() const { return *root_; }
    const ExprSchema& Schema() const { return schema_; }

    // Evaluates on one record. A failure on this record (division by zero, ...) records the
    // status KCE_EXPR_EVAL_FAILED with the position and returns it.
    KCESTATUS Evaluate(const ExprRecord& record, bool exact, Value* out) const;
    // For a logical expression: whether the record satisfies it. A record the expression cannot
    // be evaluated on does not.
    bool Matches(const ExprRecord& record, bool exact) const;

  private:
    Expression() = default;
    std::string text_;
    ExprSchema schema_;
    std::unique_ptr<ExprNode> root_;
};

// The calling thread's last failure text without its leading fixed status text, for wrapping
// a failure in a status of another meaning with more context.
std::string LastFailureDetail();

// Compares two character values as `=` does under the given exact setting.
bool CharacterEquals(std::string_view left, std::string_view right, bool exact);
// Full comparison with blank padding: <0, 0, >0.
int CharacterCompare(std::string_view left, std::string_view right);

// The short form of an expression: each name of a field of the schema is written as "@n" (its
// 1-based ordinal); everything else, string literals and spacing included, stays byte for byte.
// ShortToLong puts the schema's field names back, so that ShortToLong(LongToShort(e)) is e with
// field names spelt as the table spells them. Statuses: a syntax error in the text, an ordinal
// the schema lacks.
KCESTATUS ExpressionLongToShort(std::string_view text, const ExprSchema& schema, std::string* out);
KCESTATUS ExpressionShortToLong(std::string_view text, const ExprSchema& schema, std::string* out);

}  // namespace kce
