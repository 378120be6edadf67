// The index handles of table handles, and what the table layer asks of the index layer.
#include "engine/index/index_handles.h"

#include "engine/handles.h"
#include "engine/index/table_indexes.h"
#include "engine/status.h"

namespace kce {

std::shared_ptr<IndexHandle> HandleOf(KDSHANDLE h) {
    return std::dynamic_pointer_cast<IndexHandle>(Handles::Find(h));
}

KCESTATUS IndexHandlesOf(const std::shared_ptr<TableCursor>& cursor,
                         std::vector<std::shared_ptr<IndexHandle>>* out) {
    out->clear();
    std::shared_ptr<TableIndexes> indexes;
    if (!TableIndexes::Supports(cursor->Store())) return KCE_SUCCESS;
    if (KCESTATUS s = TableIndexes::For(cursor->Store(), &indexes)) return s;
    if (KCESTATUS s = indexes->Refresh()) return s;
    std::vector<std::shared_ptr<IndexHandle>> existing;
    for (KDSHANDLE h : cursor->IndexHandles()) {
        if (auto ih = HandleOf(h)) existing.push_back(ih);
    }
    for (const auto& index : indexes->Indexes()) {
        std::shared_ptr<IndexHandle> handle;
        for (const auto& e : existing) {
            if (e->Index().SharedIndex() == index) handle = e;
        }
        if (!handle) {
            handle = std::make_shared<IndexHandle>(cursor, std::make_shared<IndexOrder>(index));
            cursor->IndexHandles().push_back(Handles::Add(handle));
        }
        out->push_back(handle);
    }
    for (const auto& e : existing) {
        if (e->Index().Index().InIndexFile()) out->push_back(e);
    }
    return KCE_SUCCESS;
}

KCESTATUS AttachIndexes(Storage& storage) {
    if (!TableIndexes::Supports(storage)) return KCE_SUCCESS;
    std::shared_ptr<TableIndexes> indexes;
    return TableIndexes::For(storage, &indexes);
}

bool RoutesToRawKey(HandleObject& obj, const UNSIGNED8* field, const UNSIGNED8* value,
                    UNSIGNED32 len, bool raw, KCESTATUS* status) {
    if (obj.HandleType() != KCE_HANDLE_INDEX) return false;
    auto* ih = dynamic_cast<IndexHandle*>(&obj);
    if (!ih || !ih->BuildingKey()) return false;
    int index = -1;
    if ((*status = ResolveField(ih->Cursor().Layout(), field, ih->Cursor().Name(), &index))) {
        return true;
    }
    if (!value && len) {
        *status = Fail(KCE_INVALID_ARGUMENT, "no value given");
        return true;
    }
    *status = ih->SetKeyField(index, value, len, raw);
    return true;
}

}  // namespace kce
