// Filters of a table handle: the plain filter (KdsSetFilter) and the optimized filter
// (KdsSetAOF), both expressions of the expression language, and the handle's exact setting.
//
// Both filters are installed on the table's cursor as one RecordFilter, so that every move,
// visibility test and filter-respecting count of the handle (and of its index handles) honours
// them. The optimized filter asks the table's indexes first: each term of its top-level .AND.
// chain that compares an indexed field (the first field of a plain index) with a constant gives
// a key range, and only the records in every such range are candidates. Candidates are still
// tested against the whole expression, so the ranges need only be generous. A filter no index
// serves tests every record.
//
// Resolution: immediate (1) fixes the set of matching records when the filter is set; dynamic
// (2) tests records as the cursor reaches them, its candidate set following the index's changes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/cursor.h"
#include "engine/expr/expression.h"
#include "engine/filter/sql_filter.h"

namespace kce {

class TableIndexes;

struct FilterState {
    bool exact = false;
    std::string filterText;
    std::unique_ptr<Expression> filter;
    std::string aofText;
    std::unique_ptr<Expression> aof;
    UNSIGNED16 aofMode = 0;
    // Candidates of the optimized filter, sorted by record number (optimized only).
    bool optimized = false;
    std::vector<UNSIGNED32> candidates;
    uint64_t candidatesChanges = 0;
    std::vector<std::string> servedBy;  // index names that served the filter
    // A native table asks SQLite for the records that can match, when no index serves the
    // optimized filter: the translated part of both filters, and its answer as of sqlStamp.
    SqlClause sql;
    bool sqlFresh = false;
    uint64_t sqlStamp = 0;
    std::vector<UNSIGNED32> sqlCandidates;
};

class ExprFilter : public RecordFilter {
  public:
    ExprFilter(std::shared_ptr<FilterState> state, ExprSchema schema)
        : state_(std::move(state)), schema_(std::move(schema)) {}
    KCESTATUS Accepts(const RecordView& record, bool* accepted) override;
    KCESTATUS NextCandidate(Storage& storage, UNSIGNED32 from, bool forward, UNSIGNED32* recno,
                            bool* narrowed) override;

  private:
    KCESTATUS Refresh(Storage& storage);
    // Whether SQLite narrows the records now; brings its candidates up to date.
    KCESTATUS SqlNarrows(Storage& storage, bool* narrows);
    std::shared_ptr<FilterState> state_;
    ExprSchema schema_;
};

// The filter state of a table handle (made on first use).
std::shared_ptr<FilterState> FilterStateOf(TableCursor& cursor);
// Installs or removes the cursor's RecordFilter after the state changed.
void InstallFilter(TableCursor& cursor);

// The value of the constant side of a comparison: a literal, a negated number, or a date or time
// made from a literal text (CTOD('09/15/2001')); false for anything else.
bool ConstantOperand(const ExprNode& node, Value* out);

// Candidates of a logical expression from the table's indexes: *served false when no index
// serves any term. Sorted by record number.
KCESTATUS IndexCandidates(TableIndexes& indexes, const Expression& expr, bool exact,
                          std::vector<UNSIGNED32>* out, bool* served,
                          std::vector<std::string>* servedBy, uint64_t* changes);

}  // namespace kce
