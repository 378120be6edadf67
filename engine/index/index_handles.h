// Index handles of table handles, and what the table layer asks of the index layer.
#pragma once

#include <memory>
#include <vector>

#include "engine/index/index_order.h"

namespace kce {

// Attaches the structural indexes of a freshly opened storage, so that every write maintains
// them whether or not a handle ever asks for them. Other kinds: nothing.
KCESTATUS AttachIndexes(Storage& storage);

// The index handles of a table handle, made on first use, in the indexes' order.
KCESTATUS IndexHandlesOf(const std::shared_ptr<TableCursor>& cursor,
                         std::vector<std::shared_ptr<IndexHandle>>* out);

// The index handle a handle names, or null when it names something else (or nothing).
std::shared_ptr<IndexHandle> HandleOf(KDSHANDLE handle);

// KdsSetField / KdsSetFieldRaw given the object of an index handle that is building a raw key
// (after KdsInitRawKey): sets the key's field and answers true with the status; otherwise false,
// and the call goes to the record as usual. Runs inside the caller's firewall and engine lock.
bool RoutesToRawKey(HandleObject& obj, const UNSIGNED8* field, const UNSIGNED8* value,
                    UNSIGNED32 len, bool raw, KCESTATUS* status);

}  // namespace kce
