#include "engine/filter/expr_filter.h"

#include <algorithm>
#include <map>

#include "engine/index/table_indexes.h"
#include "engine/keys/raw_key.h"
#include "engine/status.h"

namespace kce {

namespace {

std::map<KDSHANDLE, std::shared_ptr<FilterState>>& States() {
    static std::map<KDSHANDLE, std::shared_ptr<FilterState>> states;
    return states;
}

// A record with no fields: constants are evaluated on it.
class NoRecord : public ExprRecord {
  public:
    Value FieldValue(int) const override { return Value(); }
    bool Deleted() const override { return false; }
    uint32_t RecNo() const override { return 0; }
};

bool IsConstant(const ExprNode& n) {
    if (n.kind == ExprNodeKind::kField) return false;
    if (n.kind == ExprNodeKind::kCall &&
        (n.func == ExprFunc::kDeleted || n.func == ExprFunc::kRecno)) {
        return false;
    }
    return std::all_of(n.args.begin(), n.args.end(), [](const auto& a) { return IsConstant(*a); });
}

void Conjuncts(const ExprNode& n, std::vector<const ExprNode*>* out) {
    if (n.kind == ExprNodeKind::kBinary && n.op == ExprOp::kAnd) {
        Conjuncts(*n.args[0], out);
        Conjuncts(*n.args[1], out);
    } else {
        out->push_back(&n);
    }
}

ExprOp Flip(ExprOp op) {
    switch (op) {
        case ExprOp::kLt:
            return ExprOp::kGt;
        case ExprOp::kLe:
            return ExprOp::kGe;
        case ExprOp::kGt:
            return ExprOp::kLt;
        case ExprOp::kGe:
            return ExprOp::kLe;
        default:
            return op;
    }
}

}  // namespace

// The value of the constant side of a comparison: a literal, a negated number, or a date or
// time made from a literal text (CTOD('09/15/2001')). Other constants are not used for ranges.
bool ConstantOperand(const ExprNode& node, Value* out) {
    if (!IsConstant(node)) return false;
    if (node.kind == ExprNodeKind::kLiteral) {
        *out = node.literal;
        return true;
    }
    if (node.kind == ExprNodeKind::kUnary && node.op == ExprOp::kNeg &&
        node.args[0]->kind == ExprNodeKind::kLiteral) {
        *out = Value::Numeric(-node.args[0]->literal.number);
        return true;
    }
    if (node.kind == ExprNodeKind::kCall && node.args.size() == 1 &&
        node.args[0]->kind == ExprNodeKind::kLiteral &&
        (node.func == ExprFunc::kCtod || node.func == ExprFunc::kStod ||
         node.func == ExprFunc::kCtot || node.func == ExprFunc::kCtots)) {
        static const char* kNames[] = {"CTOD", "STOD", "CTOT", "CTOTS"};
        int which = node.func == ExprFunc::kCtod   ? 0
                    : node.func == ExprFunc::kStod ? 1
                    : node.func == ExprFunc::kCtot ? 2
                                                   : 3;
        std::string text = std::string(kNames[which]) + "('" + node.args[0]->literal.text + "')";
        if (node.args[0]->literal.text.find('\'') != std::string::npos) return false;
        std::unique_ptr<Expression> e;
        if (Expression::Compile(text, ExprSchema(), &e) != KCE_SUCCESS) return false;
        return e->Evaluate(NoRecord(), true, out) == KCE_SUCCESS;
    }
    return false;
}

KCESTATUS IndexCandidates(TableIndexes& indexes, const Expression& expr, bool exact,
                          std::vector<UNSIGNED32>* out, bool* served,
                          std::vector<std::string>* servedBy, uint64_t* changes) {
    (void)exact;  // the ranges below hold the matches under either setting
    *served = false;
    out->clear();
    servedBy->clear();
    *changes = 0;
    std::vector<const ExprNode*> terms;
    Conjuncts(expr.Root(), &terms);
    const ExprSchema& schema = indexes.Schema();
    for (const ExprNode* term : terms) {
        if (term->kind != ExprNodeKind::kBinary) continue;
        ExprOp op = term->op;
        if (op != ExprOp::kEq && op != ExprOp::kEqEq && op != ExprOp::kLt && op != ExprOp::kLe &&
            op != ExprOp::kGt && op != ExprOp::kGe) {
            continue;
        }
        const ExprNode* field = term->args[0].get();
        const ExprNode* constant = term->args[1].get();
        if (field->kind != ExprNodeKind::kField) {
            std::swap(field, constant);
            op = Flip(op);
        }
        if (field->kind != ExprNodeKind::kField) continue;
        Value v;
        if (!ConstantOperand(*constant, &v) || v.type != field->type) continue;
        // A plain index whose first segment is the field.
        std::shared_ptr<NativeIndex> index;
        for (const auto& candidate : indexes.Indexes()) {
            const IndexKey& k = candidate->Key();
            if (k.IsFieldList() && !k.Descending() && k.ConditionText().empty() &&
                !k.SegmentFields().empty() && k.SegmentFields()[0] == field->field) {
                index = candidate;
                break;
            }
        }
        if (!index) continue;
        const ExprField& f = schema.Fields()[size_t(field->field)];
        size_t width = KeyWidth(v.type, size_t(std::max(0, f.length)));
        std::string low, high;  // prefixes: low is inclusive, high bounds keys beginning with it
        if (v.type == ValueType::kCharacter) {
            std::string cut = RightTrim(v.text.substr(0, std::min(v.text.size(), width)));
            if (v.text.size() > width && RightTrim(v.text).size() > width) continue;
            low = cut;
            AppendKeyValue(v, width, &high);
        } else {
            AppendKeyValue(v, width, &low);
            high = low;
        }
        KeyRange range;
        switch (op) {
            case ExprOp::kEq:
            case ExprOp::kEqEq:
                if (low.empty()) continue;  // '' matches every record
                range.hasLo = true;
                range.lo = low;
                range.hi = PrefixSuccessor(low);
                range.hasHi = !range.hi.empty();
                break;
            case ExprOp::kGt:
            case ExprOp::kGe:
                range.hasLo = !low.empty();
                range.lo = low;
                break;
            default:
                range.hi = PrefixSuccessor(high);
                range.hasHi = !range.hi.empty();
                break;
        }
        std::vector<UNSIGNED32> recnos;
        if (KCESTATUS s = index->Store().Recnos(range, &recnos)) return s;
        std::sort(recnos.begin(), recnos.end());
        if (!*served) {
            *out = std::move(recnos);
        } else {
            std::vector<UNSIGNED32> both;
            std::set_intersection(out->begin(), out->end(), recnos.begin(), recnos.end(),
                                  std::back_inserter(both));
            *out = std::move(both);
        }
        *served = true;
        *changes += index->Changes();
        servedBy->push_back(index->Definition().name);
    }
    return KCE_SUCCESS;
}

KCESTATUS ExprFilter::Refresh(Storage& storage) {
    FilterState& st = *state_;
    if (!st.optimized || st.aofMode != 2 || !st.aof) return KCE_SUCCESS;
    std::shared_ptr<TableIndexes> indexes;
    if (KCESTATUS s = TableIndexes::For(storage, &indexes)) return s;
    uint64_t changes = 0;
    for (const std::string& name : st.servedBy) {
        if (auto index = indexes->Find(name)) changes += index->Changes();
    }
    if (changes == st.candidatesChanges) return KCE_SUCCESS;
    bool served = false;
    return IndexCandidates(*indexes, *st.aof, st.exact, &st.candidates, &served, &st.servedBy,
                           &st.candidatesChanges);
}

KCESTATUS ExprFilter::SqlNarrows(Storage& storage, bool* narrows) {
    FilterState& st = *state_;
    *narrows = false;
    if ((st.aof && st.optimized) || st.sql.where.empty() || !SqlFilterApplies(storage)) {
        return KCE_SUCCESS;
    }
    const uint64_t stamp = SqlDataStamp(storage);
    if (!st.sqlFresh || stamp != st.sqlStamp) {
        st.sqlFresh = false;
        if (KCESTATUS s = SqlCandidates(storage, st.sql, &st.sqlCandidates)) return s;
        st.sqlFresh = true;
        st.sqlStamp = stamp;
    }
    *narrows = true;
    return KCE_SUCCESS;
}

KCESTATUS ExprFilter::Accepts(const RecordView& view, bool* accepted) {
    FilterState& st = *state_;
    *accepted = true;
    if (st.aof && st.optimized) {
        if (KCESTATUS s = Refresh(view.storage)) return s;
        if (!std::binary_search(st.candidates.begin(), st.candidates.end(), view.recno)) {
            *accepted = false;
            return KCE_SUCCESS;
        }
    } else {
        bool narrows = false;
        if (KCESTATUS s = SqlNarrows(view.storage, &narrows)) return s;
        if (narrows &&
            !std::binary_search(st.sqlCandidates.begin(), st.sqlCandidates.end(), view.recno)) {
            *accepted = false;
            return KCE_SUCCESS;
        }
    }
    ImageRecord record(schema_, view.image, view.layout.recordLength);
    record.SetRecNo(view.recno);
    record.SetDeleted(view.deleted);
    BlobSource blobs{&view.storage, view.recno};
    record.SetBlobReader(&BlobSource::Read, &blobs);
    if (st.filter && !st.filter->Matches(record, st.exact)) {
        *accepted = false;
    } else if (st.aof && !st.aof->Matches(record, st.exact)) {
        *accepted = false;
    }
    return KCE_SUCCESS;
}

KCESTATUS ExprFilter::NextCandidate(Storage& storage, UNSIGNED32 from, bool forward,
                                    UNSIGNED32* recno, bool* narrowed) {
    FilterState& st = *state_;
    *recno = 0;
    *narrowed = st.aof && st.optimized;
    if (*narrowed) {
        if (KCESTATUS s = Refresh(storage)) return s;
    } else {
        if (KCESTATUS s = SqlNarrows(storage, narrowed)) return s;
        if (!*narrowed) return KCE_SUCCESS;
    }
    const auto& c = st.aof && st.optimized ? st.candidates : st.sqlCandidates;
    if (forward) {
        auto it = std::upper_bound(c.begin(), c.end(), from);
        if (it != c.end()) *recno = *it;
    } else {
        auto it = from == 0 ? c.end() : std::lower_bound(c.begin(), c.end(), from);
        if (it != c.begin()) *recno = *(it - 1);
    }
    return KCE_SUCCESS;
}

std::shared_ptr<FilterState> FilterStateOf(TableCursor& cursor) {
    auto& states = States();
    auto it = states.find(cursor.Handle());
    if (it != states.end()) return it->second;
    // Handles are never reused; forget the states of closed ones now and then.
    if (states.size() >= 64) {
        for (auto i = states.begin(); i != states.end();) {
            i = Handles::Find(i->first) ? std::next(i) : states.erase(i);
        }
    }
    auto state = std::make_shared<FilterState>();
    states[cursor.Handle()] = state;
    return state;
}

void InstallFilter(TableCursor& cursor) {
    auto state = FilterStateOf(cursor);
    std::vector<const Expression*> conditions;
    if (state->filter) conditions.push_back(state->filter.get());
    if (state->aof) conditions.push_back(state->aof.get());
    state->sql = TranslateToSql(conditions);
    state->sqlFresh = false;
    state->sqlCandidates.clear();
    if (state->filter || state->aof) {
        cursor.SetFilter(std::make_shared<ExprFilter>(state, SchemaOfLayout(cursor.Layout())));
    } else {
        cursor.SetFilter(nullptr);
    }
}

}  // namespace kce
