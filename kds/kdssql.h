// SQL for the data-access components: the parameter binding of statements, the hash that
// preselects a connection's cached statements, and the cached statement itself (TStmtInfo).
#pragma once

#include <cstdint>
#include <string>

#include "dataset/params.h"
#include "engine/kce.h"

namespace kds {

class TKdsDataSet;

// One cached statement of a connection: the hash of its text, its engine statement (0 before it
// is made) and its text.
struct TStmtInfo {
    uint32_t Hash = 0;
    KDSHANDLE Statement = 0;
    std::string Text;
};

// The hash of a statement text that preselects cache entries (equal hashes are then compared by
// text, ignoring case).
uint32_t StatementHash(const std::string& text);

// Binds every parameter to the statement by number, in collection order. dataSet names the
// dataset in errors (none for a connection's ExecuteSQL).
void BindParams(const TKdsDataSet* dataSet, KDSHANDLE statement, const db::TParams& params);

}  // namespace kds
