// The table kinds the engine knows, by table type. A new kind adds its line here.
#include "engine/dbf/dbf_storage.h"
#include "engine/native/kdt_storage.h"
#include "engine/storage.h"
#include "rtl/textutils.h"

namespace kce {
namespace {

// Of the kinds that share an extension, the first is the one a file of that extension opens as
// when no table type is given.
const StorageKind kKinds[] = {
    {KCE_KDT, ".kdt", &native::OpenKdt, &native::CreateKdt},
    {KCE_CDX, ".dbf", &dbf::OpenCdx, &dbf::CreateCdx},
    {KCE_NTX, ".dbf", &dbf::OpenNtx, &dbf::CreateNtx},
};

}  // namespace

const StorageKind* FindStorageKind(UNSIGNED16 tableType) {
    for (const StorageKind& kind : kKinds) {
        if (kind.tableType == tableType) return &kind;
    }
    return nullptr;
}

const StorageKind* FindStorageKindByExtension(std::string_view extension) {
    for (const StorageKind& kind : kKinds) {
        if (rtl::SameText(std::string(extension), kind.extension)) return &kind;
    }
    return nullptr;
}

}  // namespace kce
