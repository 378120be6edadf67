// The result set of a query: a static, read-only table in memory that the record calls walk like
// any other (KdsGotoTop, KdsSkip, KdsGetRecord, KdsGetField...). Its records are the rows in the
// order the statement gave them, numbered from 1, in the native record image. It says it is
// read-only (its handle's open options hold KCE_OPEN_READ_ONLY); a lock or a write gives
// KCE_STATIC_CURSOR.
//
// Field types: a column taken straight from a table field keeps that field's type and size
// (a compact date becomes a date, a varchar a memo, an autoincrement an integer); any other
// column takes the type its values need: integer, double, date or timestamp (texts all in those
// forms), char (as long as the longest text; memo past 254 bytes) or binary. Field names are the
// column names, letters, digits and '_' kept and any other character written '_'; a name used
// twice gets a number.
#pragma once

#include <sqlite3.h>

#include "engine/kce.h"

namespace kce::sql {

// Runs a prepared query to its end and opens its rows as a result-set handle. A failing step
// answers KCE_SQL_FAILED with SQLite's code in *failure, and records no text (SQLite has it).
KCESTATUS RunQuery(sqlite3_stmt* stmt, KDSHANDLE* cursor, int* failure);

}  // namespace kce::sql
