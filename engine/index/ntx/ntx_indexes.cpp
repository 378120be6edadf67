// The NTX side of a table's indexes (TableIndexes, table_indexes.h): a .ntx made from the
// records, and a .ntx opened as an index of the table.
#include "engine/index/table_indexes.h"
#include "engine/index/xbase_store.h"
#include "engine/status.h"

namespace kce {

KCESTATUS TableIndexes::CreateNtx(const std::string& path, const IndexDefinition& given,
                                  std::shared_ptr<NativeIndex>* out) {
    IndexDefinition def = given;
    def.key = XbaseKeyText(def.key, schema_);
    std::shared_ptr<NativeIndex> index;
    if (KCESTATUS s = CompileXbase(def, {KeyDialect::kNtx, 0, false, 0}, path, &index)) return s;
    std::vector<KeyPos> keys;
    if (KCESTATUS s = CollectNewKeys(*index, ntx::kMaxKeyLength, "a .ntx", &keys)) return s;
    const std::vector<ntx::Item> items = AsEntries<ntx::Item>(std::move(keys));
    ntx::Header proto;
    proto.keyLength = uint16_t(index->key_->Length());
    proto.decimals = uint16_t(index->key_->Decimals());
    proto.unique = def.unique;
    proto.keyExpr = def.key;
    proto.forExpr = def.condition;
    std::unique_ptr<ntx::NtxFile> file;
    if (KCESTATUS s = ntx::NtxFile::Create(path, proto, items, &file)) return s;
    index->store_ = std::make_unique<NtxStore>(std::move(file));
    *out = std::move(index);
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::OpenNtx(const std::shared_ptr<ntx::NtxFile>& file,
                                std::shared_ptr<NativeIndex>* out) {
    const ntx::Header& h = file->Head();
    IndexDefinition def;
    std::string stem = file->Path().substr(file->Path().find_last_of('/') + 1);
    def.name = stem.substr(0, stem.find_last_of('.'));
    def.key = h.keyExpr;
    def.condition = h.forExpr;
    def.unique = h.unique;
    def.descending = h.descending;
    std::shared_ptr<NativeIndex> index;
    if (CompileXbase(def, {KeyDialect::kNtx, h.keyLength, false, int(h.decimals)}, file->Path(),
                     &index)) {
        return Fail(KCE_INDEX_MISMATCH, "index file " + file->Path() + " does not fit table " +
                                            storage_.Path() + ": " + LastFailureDetail());
    }
    index->store_ = std::make_unique<NtxStore>(file);
    *out = std::move(index);
    return KCE_SUCCESS;
}

}  // namespace kce
