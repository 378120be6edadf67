#include "engine/filter/sql_filter.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "engine/dates.h"
#include "engine/filter/expr_filter.h"
#include "engine/native/kdt_storage.h"
#include "engine/native/sqlite_status.h"
#include "engine/status.h"

namespace kce {

namespace {

std::string Column(const ExprField& f) { return "\"" + f.name + "\""; }

bool IsNumberType(int type) {
    return type == KCE_NUMERIC || type == KCE_DOUBLE || type == KCE_INTEGER ||
           type == KCE_SHORTINT || type == KCE_AUTOINC || type == KCE_CURDOUBLE;
}

class Translator {
  public:
    explicit Translator(const ExprSchema& schema) : schema_(schema) {}

    // The clause of a logical node, or nothing when it cannot be translated generously.
    std::optional<std::string> Node(const ExprNode& n) {
        if (n.kind == ExprNodeKind::kBinary && n.op == ExprOp::kAnd) {
            std::optional<std::string> a = Node(*n.args[0]);
            std::optional<std::string> b = Node(*n.args[1]);
            if (a && b) return "(" + *a + " AND " + *b + ")";
            return a ? a : b;
        }
        if (n.kind == ExprNodeKind::kBinary && n.op == ExprOp::kOr) {
            std::optional<std::string> a = Node(*n.args[0]);
            if (!a) return std::nullopt;
            std::optional<std::string> b = Node(*n.args[1]);
            if (!b) return std::nullopt;
            return "(" + *a + " OR " + *b + ")";
        }
        if (n.kind == ExprNodeKind::kField && n.type == ValueType::kLogical) {
            // An empty logical field reads false.
            return "(" + Column(Field(n)) + " = 1)";
        }
        if (n.kind == ExprNodeKind::kUnary && n.op == ExprOp::kNot &&
            n.args[0]->kind == ExprNodeKind::kField && n.args[0]->type == ValueType::kLogical) {
            return "(" + Column(Field(*n.args[0])) + " IS NOT 1)";
        }
        if (n.kind == ExprNodeKind::kBinary) return Comparison(n);
        return std::nullopt;
    }

    std::vector<SqlParam> TakeParams() { return std::move(params_); }

  private:
    const ExprField& Field(const ExprNode& n) const { return schema_.Fields()[size_t(n.field)]; }

    std::string Number(double v) {
        SqlParam p;
        p.number = v;
        params_.push_back(p);
        return "?" + std::to_string(params_.size());
    }
    std::string Text(std::string v) {
        SqlParam p;
        p.isText = true;
        p.text = std::move(v);
        params_.push_back(p);
        return "?" + std::to_string(params_.size());
    }

    std::optional<std::string> Comparison(const ExprNode& n) {
        ExprOp op = n.op;
        if (op != ExprOp::kEq && op != ExprOp::kEqEq && op != ExprOp::kLt && op != ExprOp::kLe &&
            op != ExprOp::kGt && op != ExprOp::kGe) {
            return std::nullopt;
        }
        const ExprNode* field = n.args[0].get();
        const ExprNode* constant = n.args[1].get();
        bool flipped = false;
        if (field->kind != ExprNodeKind::kField) {
            std::swap(field, constant);
            flipped = true;
        }
        if (field->kind != ExprNodeKind::kField) return std::nullopt;
        Value v;
        if (!ConstantOperand(*constant, &v) || v.type != field->type) return std::nullopt;
        if (flipped) {
            // Character `=` is a prefix test of the left side: only the field on the left is
            // translated. The order tests turn round.
            if (v.type == ValueType::kCharacter) return std::nullopt;
            op = op == ExprOp::kLt   ? ExprOp::kGt
                 : op == ExprOp::kLe ? ExprOp::kGe
                 : op == ExprOp::kGt ? ExprOp::kLt
                 : op == ExprOp::kGe ? ExprOp::kLe
                                     : op;
        }
        const ExprField& f = Field(*field);
        if (v.type == ValueType::kNumeric && IsNumberType(f.type)) return NumberTest(f, op, v);
        if (v.type == ValueType::kDate && (f.type == KCE_DATE || f.type == KCE_COMPACTDATE)) {
            return DateTest(f, op, v);
        }
        if (v.type == ValueType::kCharacter && f.type == KCE_STRING &&
            (op == ExprOp::kEq || op == ExprOp::kEqEq)) {
            return PrefixTest(f, v);
        }
        return std::nullopt;
    }

    // Numbers compare as doubles in the expression; the bounds are widened by a little so that a
    // value the column keeps as an integer or a real is never lost to rounding. An empty field
    // reads 0, and a value kept as text or bytes is left to the expression.
    std::optional<std::string> NumberTest(const ExprField& f, ExprOp op, const Value& v) {
        if (!std::isfinite(v.number)) return std::nullopt;
        const double slack = 1e-9 * std::max(1.0, std::fabs(v.number));
        std::string col = Column(f);
        std::string value = col;
        if (f.type == KCE_CURDOUBLE) {
            // A count of ten-thousandths, or a real in units written by older versions.
            value = "(CASE typeof(" + col + ") WHEN 'integer' THEN " + col + " / 10000.0 ELSE " +
                    col + " END)";
        }
        std::string test;
        switch (op) {
            case ExprOp::kEq:
            case ExprOp::kEqEq:
                test = value + " BETWEEN " + Number(v.number - slack) + " AND " +
                       Number(v.number + slack);
                break;
            case ExprOp::kLt:
            case ExprOp::kLe:
                test = value + " <= " + Number(v.number + slack);
                break;
            default:
                test = value + " >= " + Number(v.number - slack);
                break;
        }
        return "(" + test + " OR typeof(" + col + ") NOT IN ('integer', 'real'))";
    }

    // Dates are kept as YYYY-MM-DD texts, which sort as the days do. The empty date reads before
    // every day.
    std::optional<std::string> DateTest(const ExprField& f, ExprOp op, const Value& v) {
        if (v.day < kJulianOfYearZero || v.day > kJulianOfLastDay) return std::nullopt;
        CivilDate d = CivilFromJulian(v.day);
        char text[16];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", int(d.year), int(d.month), int(d.day));
        std::string col = Column(f);
        std::string p = Text(text);
        std::string test;
        switch (op) {
            case ExprOp::kEq:
            case ExprOp::kEqEq:
                test = col + " = " + p;
                break;
            case ExprOp::kLt:
            case ExprOp::kLe:
                test = col + " <= " + p;
                break;
            default:
                test = col + " >= " + p;
                break;
        }
        return "(" + test + " OR typeof(" + col + ") <> 'text')";
    }

    // A character field equal to a text, under either exact setting, begins with the text
    // without its trailing blanks. Columns keep the text without trailing blanks, in UTF-8 where
    // it is not ASCII: only ASCII texts are compared (and not '?', which stands for characters a
    // column holds that the code page lacks).
    std::optional<std::string> PrefixTest(const ExprField& f, const Value& v) {
        std::string t = v.text;
        while (!t.empty() && t.back() == ' ') t.pop_back();
        if (t.empty()) return std::nullopt;
        for (char c : t) {
            auto u = static_cast<unsigned char>(c);
            if (u >= 0x80 || u < 0x20 || c == '?') return std::nullopt;
        }
        const size_t n = t.size();
        return "(substr(CAST(" + Column(f) + " AS BLOB), 1, " + std::to_string(n) + ") = CAST(" +
               Text(std::move(t)) + " AS BLOB))";
    }

    const ExprSchema& schema_;
    std::vector<SqlParam> params_;
};

}  // namespace

SqlClause TranslateToSql(const std::vector<const Expression*>& conditions) {
    SqlClause clause;
    if (conditions.empty()) return clause;
    // The conditions of one table share its schema.
    Translator t(conditions.front()->Schema());
    for (const Expression* e : conditions) {
        std::optional<std::string> part = t.Node(e->Root());
        if (part) clause.where += (clause.where.empty() ? "" : " AND ") + *part;
    }
    clause.params = t.TakeParams();
    return clause;
}

bool SqlFilterApplies(Storage& storage) {
    return storage.TableType() == KCE_KDT && native::DatabaseOf(storage) != nullptr &&
           !storage.Encrypted();
}

uint64_t SqlDataStamp(Storage& storage) {
    sqlite3* db = native::DatabaseOf(storage);
    if (!db) return 0;
    unsigned int version = 0;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_DATA_VERSION, &version);
    // The data version moves with every commit (this connection's or another's); the change count
    // with each of this connection's writes, inside a transaction too.
    return (uint64_t(version) << 40) ^ uint64_t(sqlite3_total_changes64(db));
}

KCESTATUS SqlCandidates(Storage& storage, const SqlClause& clause, std::vector<UNSIGNED32>* out) {
    out->clear();
    sqlite3* db = native::DatabaseOf(storage);
    if (!db) return Fail(KCE_INVALID_ARGUMENT, storage.Path() + ": not a native table");
    const std::string sql = "SELECT kdt_recno FROM records WHERE " + clause.where;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    if (rc != SQLITE_OK) return SqliteFail(db, rc, storage.Path() + " (filter)");
    for (size_t i = 0; i < clause.params.size(); ++i) {
        const SqlParam& p = clause.params[i];
        if (p.isText) {
            sqlite3_bind_text(stmt, int(i + 1), p.text.data(), int(p.text.size()), SQLITE_STATIC);
        } else {
            sqlite3_bind_double(stmt, int(i + 1), p.number);
        }
    }
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        out->push_back(UNSIGNED32(sqlite3_column_int64(stmt, 0)));
    }
    KCESTATUS status = KCE_SUCCESS;
    if (rc != SQLITE_DONE) status = SqliteFail(db, rc, storage.Path() + " (filter)");
    sqlite3_finalize(stmt);
    std::sort(out->begin(), out->end());
    return status;
}

}  // namespace kce
