// The table kinds the engine knows, by table type. A new kind adds its line here.
#include "engine/dbf/dbf_storage.h"
#include "engine/native/kdt_storage.h"
#include "engine/storage.h"

namespace kce {
namespace {

const StorageKind kKinds[] = {
    {1, ".dbf", &dbf::OpenNtx, &dbf::CreateNtx},
    {2, ".dbf", &dbf::OpenCdx, &dbf::CreateCdx},
    {3, ".kdt", &native::OpenKdt, &native::CreateKdt},
};

}  // namespace

const StorageKind* FindStorageKind(UNSIGNED16 tableType) {
    for (const StorageKind& kind : kKinds) {
        if (kind.tableType == tableType) return &kind;
    }
    return nullptr;
}

}  // namespace kce
