// Native tables (.kdt): one SQLite database per table. The file layout is described in
// docs/formats/kdt.md and at the top of kdt_storage.cpp.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/storage.h"

struct sqlite3;
struct sqlite3_value;

namespace kce::native {

KCESTATUS OpenKdt(const OpenRequest& request, std::unique_ptr<Storage>* out);
KCESTATUS CreateKdt(const std::string& path, const std::vector<FieldSpec>& fields,
                    std::unique_ptr<Storage>* out);

// The SQLite database of a native table, null for a storage of another kind. The index layer
// keeps a native table's structural indexes in it and maintains them inside the storage's write
// transactions (WriteObserver).
sqlite3* DatabaseOf(Storage& storage);

// A forward scan's stored columns, for readers that want the values and not the record image
// (SQL over a native table). Whether the storage offers them: a native table that is not sealed.
bool OffersScanColumns(Storage& storage);
// For a storage that offers them: the stored value of `field` while the storage's forward scan
// (NextRecno) stands on record `recno`, when the value is in its canonical form
// (IsCanonicalColumn in kdt_values.h); null otherwise, and then the caller reads the record. The
// value lasts until the storage's next call.
sqlite3_value* ScanColumn(Storage& storage, UNSIGNED32 recno, int field);

// Tests name a SQLite VFS of their own (registered with sqlite3_vfs_register) to inject I/O
// faults into native tables opened afterwards; null goes back to SQLite's default.
void SetSqliteVfsForTesting(const char* vfsName);

}  // namespace kce::native
