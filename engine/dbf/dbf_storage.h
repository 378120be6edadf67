// DBF tables as a storage kind of the table layer: CDX tables (type 2) and NTX tables (type 1).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/dbf/dbf_table.h"
#include "engine/storage.h"

namespace kce::dbf {

KCESTATUS OpenCdx(const OpenRequest& request, std::unique_ptr<Storage>* out);
KCESTATUS OpenNtx(const OpenRequest& request, std::unique_ptr<Storage>* out);
KCESTATUS CreateCdx(const std::string& path, const std::vector<FieldSpec>& fields,
                    std::unique_ptr<Storage>* out);
KCESTATUS CreateNtx(const std::string& path, const std::vector<FieldSpec>& fields,
                    std::unique_ptr<Storage>* out);

// The DBF table behind a storage, or null when the storage is of another kind (for the calls
// that only xBase tables have: pack, check and repair, the code page).
DbfTable* DbfTableOf(Storage& storage);
// Removes the deleted records of a DBF table and the unused space of its memo file; the
// storage's observers (indexes) are told of the renumbered records. The caller holds the table
// exclusively.
KCESTATUS PackDbf(Storage& storage);
// The table type an existing .dbf file's layout goes with: KCE_NTX for the dBase layouts
// (versions 0x03, 0x04, 0x05, 0x83, 0x8B, 0x8E, 0xCB), KCE_CDX for the FoxPro layouts and any
// other first byte. A file that is missing, empty, unreadable or not a regular file (never
// waited on) answers KCE_CDX, the type a .dbf opens as when none is given.
UNSIGNED16 TableTypeOfFile(const std::string& path);

}  // namespace kce::dbf
