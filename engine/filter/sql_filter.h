// Filters of native tables evaluated inside SQLite.
//
// A native table keeps its records as rows of one SQLite table, so the parts of a filter that
// compare a field with a constant can be asked of SQLite as a WHERE clause: the records it selects
// are the only candidates the cursor then reads and tests against the whole filter. The clause is
// generous: it selects every record the expression can select (and possibly more), so the
// expression keeps the last word and both give the same records. What is not translated (functions
// of fields, character ordering, text with characters outside ASCII) is simply left out of the
// clause; an .AND. keeps whichever side translates, an .OR. needs both.
//
// Encrypted tables keep sealed rows that SQLite cannot read; for them, and for every other table
// kind, nothing is pushed down.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/expr/expression.h"
#include "engine/storage.h"

namespace kce {

// One SQL parameter of a translated clause: a real number or the bytes of a text.
struct SqlParam {
    bool isText = false;
    double number = 0;
    std::string text;
};

struct SqlClause {
    std::string where;  // empty when nothing translates
    std::vector<SqlParam> params;
};

// Translates what it can of a logical expression (each a condition that must hold) into one
// clause over the columns of the records table.
SqlClause TranslateToSql(const std::vector<const Expression*>& conditions);

// Whether clauses can run on this storage now (native, not encrypted).
bool SqlFilterApplies(Storage& storage);

// A value that changes whenever the records of the storage may have changed, by this process or
// by another one.
uint64_t SqlDataStamp(Storage& storage);

// The record numbers the clause selects, ascending.
KCESTATUS SqlCandidates(Storage& storage, const SqlClause& clause, std::vector<UNSIGNED32>* out);

}  // namespace kce
