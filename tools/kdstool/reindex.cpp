// kdstool pack and reindex: the maintenance that rebuilds a table's files.
#include <string>

#include "tools/kdstool/common.h"

namespace kdstool {

// Removes the records marked deleted (xBase tables) and the unused space of the memo file; the
// indexes of a native table are built again.
int Pack(int argc, char** argv) {
    Table table(OneTableArgs(argc, argv, "pack"), KCE_OPEN_EXCLUSIVE);
    Check(KdsPackTable(table.Handle()));
    UNSIGNED16 type = 0;
    Check(KdsGetTableType(table.Handle(), &type));
    if (type == KCE_KDT) Check(KdsReindex(table.Handle()));
    return 0;
}

// Builds the indexes of a table again from its records (a .dbf table: those of its structural
// .cdx).
int Reindex(int argc, char** argv) {
    Table table(OneTableArgs(argc, argv, "reindex"), KCE_OPEN_EXCLUSIVE);
    Check(KdsReindex(table.Handle()));
    return 0;
}

}  // namespace kdstool
