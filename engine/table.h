// Opening and sharing tables: the process-wide registry of open storages (one per file), the
// exclusive / shared rules across handles and processes, and the close of a table handle.
#pragma once

#include <memory>
#include <string>

#include "engine/cursor.h"

namespace kce {

struct OpenArgs {
    std::string path;  // resolved path with extension
    UNSIGNED16 tableType = KCE_KDT;
    UNSIGNED16 charType = KCE_ANSI;
    UNSIGNED32 options = 0;
    KDSHANDLE connection = 0;
};

// Opens (or shares) the table and registers a new cursor handle.
KCESTATUS OpenTable(const OpenArgs& args, KDSHANDLE* handle);
// Creates the file with the kind's creator, then opens it as OpenTable does.
KCESTATUS CreateTable(const OpenArgs& args, const std::vector<FieldSpec>& fields,
                      KDSHANDLE* handle);
// Closes a table handle: discards its pending change, releases its locks and index handles.
KCESTATUS CloseTable(KDSHANDLE handle);
// How many handles of this process have the storage open.
int OpenCount(const Storage& storage);

}  // namespace kce
