// Unit kdstable: TKdsTable, the table component the program places on its window.
#pragma once

#include <memory>
#include <string>
#include <vector>

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

    // The master's fields named by MasterFields, and this table's fields of the index it orders
    // by (none without one).
    void DetailLinkFields(std::vector<db::TField*>& masterFields,
                          std::vector<db::TField*>& detailFields) override;

    // ---- Data-provider answers ----------------------------------------------------------------
    // Parameters become a key range on the active index (an unnamed one goes to the segment of
    // its position); no parameters remove the range. Opens the table.
    void ProviderSetParams(db::TParams& params) override;
    // The index the table orders by when its fields exist, else the first primary, else the
    // first unique index; a copy of its own.
    std::unique_ptr<db::TIndexDef> ProviderDefaultOrder() override;
    std::unique_ptr<db::TIndexDefs> ProviderIndexDefs(const db::TIndexOptions& kinds) override;
    // The fields of the first unique index.
    std::string ProviderKeyFields() override;
    // A non-empty text becomes TableName.
    void ProviderSetCommandText(const std::string& text) override;
    // TableName without a four-character extension.
    std::string ProviderTableName() override;

  protected:
    KDSHANDLE OpenTableCursor() override;
};

}  // namespace kds
