// The indexes of one open table, shared by every handle on it, and their upkeep.
//
// A TableIndexes is attached to a Storage (one per open file) as its WriteObserver: every
// append, write and delete of any handle passes through OnWrite inside the storage's write
// transaction, which computes the record's old and new key for each index, refuses a key that a
// unique index already holds for another record (the storage then rolls the write back), and
// moves the key. A zap empties every index.
//
// Native tables keep their structural indexes in the table's own SQLite file (key_store.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/index/cdx/cdx_file.h"
#include "engine/index/key_store.h"
#include "engine/index/ntx/ntx_file.h"
#include "engine/keys/index_key.h"
#include "engine/native/kdt_storage.h"
#include "engine/storage.h"

namespace kce {

// RecordLayout as the expression compiler sees it.
ExprSchema SchemaOfLayout(const RecordLayout& layout);

// A key given as a field list ("EMPLOYEECO;EFFECTIVED") in the expression an xBase file stores
// ("EMPLOYEECO+DTOS(EFFECTIVED)"): the fields as text, in order. Any other key stays as it is.
std::string XbaseKeyText(const std::string& key, const ExprSchema& schema);

// Reads the memo and blob fields of a stored record for an expression.
struct BlobSource {
    Storage* storage;
    UNSIGNED32 recno;
    static std::string Read(void* context, int field);
};

class NativeIndex {
  public:
    const IndexDefinition& Definition() const { return def_; }
    const IndexKey& Key() const { return *key_; }
    KeyStore& Store() { return *store_; }
    // The file the index lives in.
    const std::string& File() const { return file_; }
    // Whether it lives in an index file of its own (not in the table's file).
    bool InIndexFile() const { return inIndexFile_; }
    // Counts the changes of the index's keys, so that an order can tell whether a position it
    // remembers may be stale.
    uint64_t Changes() const { return changes_; }

    // The key of a record; *included false when the index's condition leaves it out.
    KCESTATUS KeyOfImage(Storage& storage, UNSIGNED32 recno, const uint8_t* image, bool deleted,
                         std::string* key, bool* included) const;

  private:
    friend class TableIndexes;
    IndexDefinition def_;
    std::unique_ptr<IndexKey> key_;
    std::unique_ptr<KeyStore> store_;
    std::string file_;
    bool inIndexFile_ = false;
    uint64_t changes_ = 0;
};

class TableIndexes : public WriteObserver {
  public:
    // The indexes of this storage, attached (and loaded from the file) on first use.
    static KCESTATUS For(Storage& storage, std::shared_ptr<TableIndexes>* out);
    // Whether the storage kind keeps indexes here.
    static bool Supports(Storage& storage) {
        return native::DatabaseOf(storage) != nullptr || storage.TableType() == KCE_NTX ||
               storage.TableType() == KCE_CDX;
    }

    explicit TableIndexes(Storage& storage);
    ~TableIndexes() override;

    // The structural indexes, in order of creation.
    const std::vector<std::shared_ptr<NativeIndex>>& Indexes() const { return indexes_; }
    // Tags that are read from the file but cannot be kept: name and reason.
    const std::vector<std::pair<std::string, std::string>>& Unusable() const { return unusable_; }
    // Every index kept up to date: the structural ones, then those of the attached index files.
    std::vector<std::shared_ptr<NativeIndex>> AllIndexes() const;

    // Index files: separate SQLite files (the same catalog and key tables as a table file) whose
    // indexes are maintained while any handle has the file open. Creating one makes the file
    // when it does not exist. The file counts the index handles made on it (one per index an
    // open answers, one per create); ReleaseFile gives back `handles` of them, and the file is
    // closed when none remains. Writes to an index file commit on their own, after the
    // record: a crash between the two leaves the file to `reindex`.
    KCESTATUS CreateInFile(const std::string& path, const IndexDefinition& def,
                           std::shared_ptr<NativeIndex>* out);
    KCESTATUS OpenFile(const std::string& path, std::vector<std::shared_ptr<NativeIndex>>* out);
    void ReleaseFile(const std::string& path, int handles);
    std::shared_ptr<NativeIndex> Find(std::string_view name) const;
    // Why a tag of the structural file cannot be used (a function or collation this engine
    // lacks), naming it; empty when there is no such tag by that name.
    std::string UnusableReason(std::string_view name) const;
    const ExprSchema& Schema() const { return schema_; }
    Storage& GetStorage() { return storage_; }

    // Takes the index catalog again when another process changed it.
    KCESTATUS Refresh();

    // Creates a structural index and fills it from the table's records, all or nothing.
    KCESTATUS Create(const IndexDefinition& def, std::shared_ptr<NativeIndex>* out);
    // Removes a structural index and its keys.
    KCESTATUS Drop(const std::string& name);
    // Builds every index again from the records; refused, changing nothing, while a tag cannot
    // be used here.
    KCESTATUS Rebuild();
    // Compares every index with the records: *problems lists what disagrees (empty when all
    // agree), and, as lines starting "warning: ", the tags that cannot be used and so are not
    // checked.
    KCESTATUS Check(std::vector<std::string>* problems);

    KCESTATUS OnWrite(Storage& storage, UNSIGNED32 recno, const uint8_t* oldImage,
                      const uint8_t* newImage) override;
    KCESTATUS OnZap(Storage& storage) override;
    KCESTATUS OnRebuild(Storage& storage) override;
    KCESTATUS OnTransaction(Storage& storage, TransactionPhase phase) override;

  private:
    KCESTATUS Load();
    KCESTATUS SchemaVersion(int64_t* version);
    KCESTATUS Fill(NativeIndex& index);
    KCESTATUS Compile(const IndexDefinition& def, std::shared_ptr<NativeIndex>* out);
    KCESTATUS Begin();
    KCESTATUS Commit();
    void Rollback();
    bool nested_ = false;  // Begin ran inside the table's transaction
    // The structural keys live in memory (an encrypted table): they are built from the records
    // once the storage has the password, and again when the table is encrypted or decrypted.
    bool keysInMemory_ = false;
    // Keys in memory are built again, before the next read of them, once another process has
    // changed the table (SQLite's data version of the file moved on since they were built).
    KCESTATUS SyncMemoryKeys();
    KCESTATUS DataVersion(int64_t* version);
    void WatchMemoryKeys(SqlKeyStore& store);
    int64_t memoryVersion_ = -1;  // the data version the keys in memory were built at
    bool syncingMemory_ = false;
    // What the key stores' read hooks reach this object through; null once it is gone.
    std::shared_ptr<TableIndexes*> self_ = std::make_shared<TableIndexes*>(this);

    // xBase tables: their indexes live in .cdx and .ntx files (the structural .cdx of a CDX
    // table has the table's name and opens with it).
    bool Xbase() const { return db_ == nullptr; }
    KeyDialect Dialect() const;
    std::string StructuralPath() const;
    // Sets (or clears) the table header's mark of a structural index file.
    KCESTATUS MarkStructural(bool on);
    KCESTATUS StructuralMark(bool* marked);
    KCESTATUS RebuildStructural();
    KCESTATUS LoadXbase();
    KCESTATUS ReloadXbase();
    KCESTATUS OpenTags(const std::shared_ptr<cdx::CdxFile>& file,
                       std::vector<std::shared_ptr<NativeIndex>>* out,
                       std::vector<std::pair<std::string, std::string>>* unusable);
    KCESTATUS AddTag(const std::shared_ptr<cdx::CdxFile>& file, const IndexDefinition& def,
                     std::shared_ptr<NativeIndex>* out);
    KCESTATUS CreateNtx(const std::string& path, const IndexDefinition& def,
                        std::shared_ptr<NativeIndex>* out);
    KCESTATUS OpenNtx(const std::shared_ptr<ntx::NtxFile>& file, std::shared_ptr<NativeIndex>* out);
    KCESTATUS CompileXbase(const IndexDefinition& def, const KeyFileOptions& options,
                           const std::string& file, std::shared_ptr<NativeIndex>* out);
    // Every record's key, sorted; a duplicate of a unique index fails.
    KCESTATUS CollectKeys(NativeIndex& index, std::vector<KeyPos>* out);
    // CollectKeys for a new index file or tag, refused when its keys are longer than maxLength,
    // what `holder` ("a .ntx", "a .cdx tag") can hold.
    KCESTATUS CollectNewKeys(NativeIndex& index, size_t maxLength, const char* holder,
                             std::vector<KeyPos>* out);
    // Sorted keys as the entries of a new index file (cdx::Entry, ntx::Item).
    template <class Entry>
    static std::vector<Entry> AsEntries(std::vector<KeyPos>&& keys) {
        std::vector<Entry> entries;
        entries.reserve(keys.size());
        for (KeyPos& k : keys) entries.push_back({std::move(k.key), k.recno, 0});
        return entries;
    }

    struct IndexFile {
        std::string path;
        sqlite3* db = nullptr;
        std::shared_ptr<cdx::CdxFile> cdx;
        std::shared_ptr<ntx::NtxFile> ntx;
        std::vector<std::shared_ptr<NativeIndex>> indexes;
        int opens = 0;
    };
    IndexFile* FindFile(const std::string& path);
    // Opens an xBase index file and compiles its indexes.
    KCESTATUS AttachXbaseFile(const std::string& path, std::unique_ptr<IndexFile>* out);
    KCESTATUS AttachFile(const std::string& path, bool create, IndexFile** out);
    KCESTATUS CompileIn(const IndexDefinition& def, sqlite3* db, const std::string& file,
                        std::shared_ptr<NativeIndex>* out);

    Storage& storage_;
    sqlite3* db_;
    std::vector<std::unique_ptr<IndexFile>> files_;
    int64_t schemaVersion_ = -1;
    struct StmtFinalizer {
        void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
    };
    std::unique_ptr<sqlite3_stmt, StmtFinalizer> schemaVersionStmt_;
    ExprSchema schema_;
    std::vector<std::shared_ptr<NativeIndex>> indexes_;
    std::vector<std::pair<std::string, std::string>> unusable_;
    std::shared_ptr<cdx::CdxFile> structural_;
    // Why the structural index file could not be opened, on an exclusive open that let the table
    // through for a rebuild; KCE_SUCCESS otherwise.
    KCESTATUS broken_ = KCE_SUCCESS;
    std::string brokenText_;
};

}  // namespace kce
