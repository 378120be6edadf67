// Native tables (.kdt): one SQLite database per table. The file layout is described in
// docs/formats/kdt.md and at the top of kdt_storage.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/storage.h"

struct sqlite3;

namespace kce::native {

KCESTATUS OpenKdt(const OpenRequest& request, std::unique_ptr<Storage>* out);
KCESTATUS CreateKdt(const std::string& path, const std::vector<FieldSpec>& fields,
                    std::unique_ptr<Storage>* out);

// The SQLite database of a native table, null for a storage of another kind. The index layer
// keeps a native table's structural indexes in it and maintains them inside the storage's write
// transactions (WriteObserver).
sqlite3* DatabaseOf(Storage& storage);

// Tests name a SQLite VFS of their own (registered with sqlite3_vfs_register) to inject I/O
// faults into native tables opened afterwards; null goes back to SQLite's default.
void SetSqliteVfsForTesting(const char* vfsName);

}  // namespace kce::native
