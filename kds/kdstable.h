// Unit kdstable: TKdsTable, the table component the program places on its window.
#pragma once

#include <string>

#include "kds/kdsfunc.h"

namespace kds {

class TKdsTable : public TKdsExtendedTable {
  public:
    explicit TKdsTable(rtl::TComponent* owner = nullptr);
    ~TKdsTable() override;

    // True while open; false without TableName; otherwise whether the table's file exists in
    // DatabasePath (".kdt" or ".dbf" added to a name without extension).
    bool TableExists();
    int32_t LastAutoIncValue() override;

  protected:
    KDSHANDLE OpenTableCursor() override;
};

}  // namespace kds
