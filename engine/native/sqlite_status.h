// SQLite result codes as engine statuses, for everything that keeps its data in SQLite files
// (native tables and their index key tables).
#pragma once

#include <sqlite3.h>

#include <string>

#include "engine/kce.h"

namespace kce {

// Records a failed SQLite call as the thread's last error: the status that fits the result code,
// with `where` and SQLite's own text as detail. Returns that status.
KCESTATUS SqliteFail(sqlite3* db, int rc, const std::string& where);
// Runs statements without results (sqlite3_exec); a failure as SqliteFail.
KCESTATUS SqliteExec(sqlite3* db, const char* sql, const std::string& where);

}  // namespace kce
