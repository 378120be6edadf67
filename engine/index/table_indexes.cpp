#include "engine/index/table_indexes.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <mutex>

#include "engine/dbf/dbf_storage.h"
#include "engine/dbf/dbf_table.h"
#include "engine/handles.h"
#include "engine/index/xbase_store.h"
#include "engine/paths.h"
#include "engine/status.h"
#include "engine/text.h"
#include "rtl/edge.h"

namespace kce {

namespace {

// Storage -> its indexes. The storage owns the TableIndexes (as an observer); this map only
// finds it again.
std::map<const Storage*, std::weak_ptr<TableIndexes>>& Registry() {
    static std::map<const Storage*, std::weak_ptr<TableIndexes>> registry;
    return registry;
}

bool ValidIndexName(const std::string& name) {
    if (name.empty() || name.size() > 128) return false;
    if (!std::isalpha(static_cast<unsigned char>(name[0])) && name[0] != '_') return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

KCESTATUS ExecSql(sqlite3* db, const char* sql, const std::string& file) {
    char* error = nullptr;
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, &error);
    if (rc == SQLITE_OK) return KCE_SUCCESS;
    std::string text = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    if ((rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED) {
        return Fail(KCE_TABLE_IN_USE, file + ": " + text);
    }
    if ((rc & 0xFF) == SQLITE_READONLY) return Fail(KCE_TABLE_READ_ONLY, file + ": " + text);
    return Fail(KCE_FILE_WRITE_FAILED, file + ": " + text);
}

}  // namespace

std::string XbaseKeyText(const std::string& key, const ExprSchema& schema) {
    if (key.find(';') == std::string::npos) return key;
    std::string out;
    size_t start = 0;
    while (true) {
        size_t cut = key.find(';', start);
        std::string part = key.substr(start, cut - start);
        part.erase(0, part.find_first_not_of(' '));
        part.erase(part.find_last_not_of(' ') + 1);
        int f = schema.Find(part);
        if (f < 0) return key;
        const ExprField& field = schema.Fields()[size_t(f)];
        if (!out.empty()) out += '+';
        switch (field.type) {
            case KCE_DATE:
                out += "DTOS(" + field.name + ")";
                break;
            case KCE_LOGICAL:
                out += "IIF(" + field.name + ",\"T\",\"F\")";
                break;
            case KCE_NUMERIC:
            case KCE_DOUBLE:
            case KCE_INTEGER:
            case KCE_AUTOINC:
            case KCE_CURDOUBLE:
                out += "STR(" + field.name + "," +
                       std::to_string(field.type == KCE_NUMERIC ? field.length : 20) + "," +
                       std::to_string(field.type == KCE_NUMERIC ? field.decimals : 4) + ")";
                break;
            default:
                out += field.name;
        }
        if (cut == std::string::npos) break;
        start = cut + 1;
    }
    return out;
}

ExprSchema SchemaOfLayout(const RecordLayout& layout) {
    std::vector<ExprField> fields;
    fields.reserve(layout.fields.size());
    for (const FieldDesc& f : layout.fields) {
        fields.push_back({f.name, int(f.type), int(f.offset), int(f.length), int(f.decimals)});
    }
    return ExprSchema(std::move(fields));
}

std::string BlobSource::Read(void* context, int field) {
    auto* source = static_cast<BlobSource*>(context);
    BlobValue value;
    if (source->storage->ReadBlob(source->recno, field, &value) != KCE_SUCCESS) return {};
    return value.isNull ? std::string() : value.bytes;
}

KCESTATUS NativeIndex::KeyOfImage(Storage& storage, UNSIGNED32 recno, const uint8_t* image,
                                  bool deleted, std::string* key, bool* included) const {
    // Expressions read the schema the key was compiled against; it lives in the key's segments.
    ExprSchema schema = SchemaOfLayout(storage.Layout());
    ImageRecord record(schema, image, storage.Layout().recordLength);
    record.SetRecNo(recno);
    record.SetDeleted(deleted);
    BlobSource blobs{&storage, recno};
    record.SetBlobReader(&BlobSource::Read, &blobs);
    *included = key_->Includes(record);
    if (!*included) return KCE_SUCCESS;
    if (KCESTATUS s = key_->KeyOf(record, key)) return s;
    if (key_->Nullable()) {
        // A NULL value of a NULL-able field is the all-zero key, which sorts first.
        for (int f : key_->SegmentFields()) {
            if (storage.IsNull(f, image)) {
                key->assign(key->size(), '\0');
                break;
            }
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::For(Storage& storage, std::shared_ptr<TableIndexes>* out) {
    auto& registry = Registry();
    auto it = registry.find(&storage);
    if (it != registry.end()) {
        if (auto existing = it->second.lock()) {
            *out = std::move(existing);
            return KCE_SUCCESS;
        }
        registry.erase(it);
    }
    if (!Supports(storage)) {
        return Fail(KCE_NOT_SUPPORTED, storage.Path() + ": this table kind keeps no indexes here");
    }
    auto indexes = std::make_shared<TableIndexes>(storage);
    if (KCESTATUS s = indexes->Load()) {
        // A damaged or missing structural index file refuses the table, except to an exclusive
        // writer, who may build it again (KdsReindex). Until then everything that needs the
        // indexes, every write among them, fails with the same status.
        const bool repairable =
            s == KCE_DAMAGED_FILE || s == KCE_FILE_NOT_FOUND || s == KCE_WRONG_FILE_FORMAT;
        if (!indexes->Xbase() || !repairable || !storage.Share().exclusive || !storage.Writable())
            return s;
        indexes->broken_ = s;
        indexes->brokenText_ = LastFailureDetail();
    }
    storage.AddObserver(indexes);
    registry[&storage] = indexes;
    *out = std::move(indexes);
    return KCE_SUCCESS;
}

TableIndexes::TableIndexes(Storage& storage)
    : storage_(storage),
      db_(native::DatabaseOf(storage)),
      schema_(SchemaOfLayout(storage.Layout())) {
    keysInMemory_ = storage.Encrypted();
}

TableIndexes::~TableIndexes() {
    *self_ = nullptr;
    for (auto& f : files_) {
        f->indexes.clear();
        if (f->db) sqlite3_close_v2(f->db);
    }
    auto& registry = Registry();
    auto it = registry.find(&storage_);
    if (it != registry.end() && it->second.expired()) registry.erase(it);
}

std::string TableIndexes::UnusableReason(std::string_view name) const {
    for (const auto& [tag, reason] : unusable_) {
        if (SameText(tag, name)) return reason;
    }
    return std::string();
}

std::shared_ptr<NativeIndex> TableIndexes::Find(std::string_view name) const {
    for (const auto& index : indexes_) {
        const std::string& n = index->Definition().name;
        if (SameText(n, name)) {
            return index;
        }
    }
    return nullptr;
}

KCESTATUS TableIndexes::Compile(const IndexDefinition& def, std::shared_ptr<NativeIndex>* out) {
    return CompileIn(def, db_, storage_.Path(), out);
}

KCESTATUS TableIndexes::CompileIn(const IndexDefinition& def, sqlite3* db, const std::string& file,
                                  std::shared_ptr<NativeIndex>* out) {
    auto index = std::make_shared<NativeIndex>();
    index->def_ = def;
    index->file_ = file;
    index->inIndexFile_ = db != db_;
    if (KCESTATUS s =
            IndexKey::Compile(schema_, def.key, def.descending, def.condition, &index->key_)) {
        return Fail(s, "index " + def.name + " of " + storage_.Path() + ": " + LastFailureDetail());
    }
    const bool inMemory = db == db_ && keysInMemory_;
    auto store = std::make_unique<SqlKeyStore>(db, file, def.name, inMemory);
    if (inMemory) WatchMemoryKeys(*store);
    index->store_ = std::move(store);
    if (inMemory) {
        // Empty until the password is given; then filled from the records.
        if (KCESTATUS s = index->store_->Create()) return s;
        if (storage_.Unlocked()) {
            if (KCESTATUS s = index->store_->Clear()) return s;
            if (KCESTATUS s = Fill(*index)) return s;
        }
    }
    *out = std::move(index);
    return KCE_SUCCESS;
}

std::vector<std::shared_ptr<NativeIndex>> TableIndexes::AllIndexes() const {
    std::vector<std::shared_ptr<NativeIndex>> all = indexes_;
    for (const auto& f : files_) all.insert(all.end(), f->indexes.begin(), f->indexes.end());
    return all;
}

TableIndexes::IndexFile* TableIndexes::FindFile(const std::string& path) {
    for (auto& f : files_) {
        if (f->path == path) return f.get();
    }
    return nullptr;
}

KCESTATUS TableIndexes::AttachFile(const std::string& path, bool create, IndexFile** out) {
    if (IndexFile* f = FindFile(path)) {
        *out = f;
        return KCE_SUCCESS;
    }
    if (Xbase()) {
        std::unique_ptr<IndexFile> file;
        if (KCESTATUS s = AttachXbaseFile(path, &file)) return s;
        files_.push_back(std::move(file));
        *out = files_.back().get();
        return KCE_SUCCESS;
    }
    if (keysInMemory_) {
        return Fail(KCE_ENCRYPTION_NOT_SUPPORTED,
                    "index file " + path + ": table " + storage_.Path() +
                        " is encrypted, and an index file of its own would keep its keys readable; "
                        "give it structural indexes instead");
    }
    auto file = std::make_unique<IndexFile>();
    file->path = path;
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(rtl::OsPath(path).c_str(), &file->db, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(file->db);
        return Fail(rc == SQLITE_CANTOPEN ? KCE_FILE_NOT_FOUND : KCE_FILE_OPEN_FAILED,
                    "index file " + path + ": " + sqlite3_errstr(rc));
    }
    sqlite3_busy_timeout(file->db, 5000);
    if (KCESTATUS s =
            ExecSql(file->db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", path)) {
        sqlite3_close_v2(file->db);
        return s;
    }
    std::vector<IndexDefinition> defs;
    KCESTATUS s = LoadIndexDefinitions(file->db, path, &defs);
    for (const IndexDefinition& def : defs) {
        if (s) break;
        std::shared_ptr<NativeIndex> index;
        if (CompileIn(def, file->db, path, &index) != KCE_SUCCESS) {
            s = Fail(KCE_INDEX_MISMATCH, "index file " + path + ": index " + def.name +
                                             " does not fit table " + storage_.Path() + ": " +
                                             LastFailureDetail());
            break;
        }
        file->indexes.push_back(std::move(index));
    }
    if (s == KCE_SUCCESS && !create && defs.empty()) {
        s = Fail(KCE_WRONG_FILE_FORMAT, "index file " + path + " holds no index");
    }
    if (s) {
        file->indexes.clear();
        sqlite3_close_v2(file->db);
        return s;
    }
    files_.push_back(std::move(file));
    *out = files_.back().get();
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::CreateInFile(const std::string& path, const IndexDefinition& def,
                                     std::shared_ptr<NativeIndex>* out) {
    if (!ValidIndexName(def.name)) {
        return Fail(KCE_INVALID_INDEX_NAME,
                    "'" + def.name + "': letters, digits and '_', at most 128, not a digit first");
    }
    if (Xbase()) {
        std::string ext = rtl::LowerCase(Extension(path));
        IndexFile* file = FindFile(path);
        std::unique_ptr<IndexFile> made;
        if (!file && ext == ".cdx" && std::filesystem::exists(rtl::OsPath(path))) {
            if (KCESTATUS s = AttachXbaseFile(path, &made)) return s;
            file = made.get();
        }
        std::shared_ptr<NativeIndex> index;
        if (ext == ".cdx") {
            if (!file) {
                made = std::make_unique<IndexFile>();
                made->path = path;
                if (KCESTATUS s = storage_.CoverFile(path)) return s;
                std::unique_ptr<cdx::CdxFile> created;
                if (KCESTATUS s = cdx::CdxFile::Create(path, false, &created)) return s;
                made->cdx = std::move(created);
                file = made.get();
            }
            if (KCESTATUS s = AddTag(file->cdx, def, &index)) return s;
        } else if (ext == ".ntx") {
            if (file) return Fail(KCE_INDEX_EXISTS, "index file " + path + " is open already");
            made = std::make_unique<IndexFile>();
            made->path = path;
            if (KCESTATUS s = storage_.CoverFile(path)) return s;
            if (KCESTATUS s = CreateNtx(path, def, &index)) return s;
            file = made.get();
        } else {
            return Fail(KCE_WRONG_FILE_FORMAT,
                        "index file " + path + ": xBase tables keep indexes in .cdx or .ntx files");
        }
        index->inIndexFile_ = true;
        file->indexes.push_back(index);
        ++file->opens;
        if (made) {
            // Every index of a file just opened counts as one handle, as OpenFile counts them.
            made->opens += int(made->indexes.size()) - 1;
            files_.push_back(std::move(made));
        }
        *out = std::move(index);
        return KCE_SUCCESS;
    }
    bool attached = FindFile(path) != nullptr;
    IndexFile* file = nullptr;
    if (KCESTATUS s = AttachFile(path, true, &file)) return s;
    auto detachIfNew = [&] {
        if (!attached) ReleaseFile(path, file->opens);
    };
    for (const auto& i : file->indexes) {
        if (SameText(i->def_.name, def.name)) {
            detachIfNew();
            return Fail(KCE_INDEX_EXISTS, "index " + def.name + " in " + path);
        }
    }
    std::shared_ptr<NativeIndex> index;
    if (KCESTATUS s = CompileIn(def, file->db, path, &index)) {
        detachIfNew();
        return s;
    }
    KCESTATUS s = ExecSql(file->db, "BEGIN IMMEDIATE", path);
    if (!s) s = index->store_->Create();
    if (!s) s = SaveIndexDefinition(file->db, path, def);
    if (!s) s = Fill(*index);
    if (!s) s = ExecSql(file->db, "COMMIT", path);
    if (s) {
        std::string text = LastFailureDetail();
        sqlite3_exec(file->db, "ROLLBACK", nullptr, nullptr, nullptr);
        detachIfNew();
        return Fail(s, text);
    }
    ++file->opens;
    file->indexes.push_back(index);
    *out = std::move(index);
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::OpenFile(const std::string& path,
                                 std::vector<std::shared_ptr<NativeIndex>>* out) {
    IndexFile* file = nullptr;
    if (KCESTATUS s = AttachFile(path, false, &file)) return s;
    file->opens += int(file->indexes.size());
    *out = file->indexes;
    return KCE_SUCCESS;
}

void TableIndexes::ReleaseFile(const std::string& path, int handles) {
    for (auto it = files_.begin(); it != files_.end(); ++it) {
        if ((*it)->path != path) continue;
        (*it)->opens -= handles;
        if ((*it)->opens > 0) return;
        // Index handles still in a call may hold statements: the connection closes after them.
        (*it)->indexes.clear();
        if ((*it)->db) sqlite3_close_v2((*it)->db);
        files_.erase(it);
        return;
    }
}

KCESTATUS TableIndexes::SchemaVersion(int64_t* version) {
    // Asked before every write: prepared once, kept for the life of this object (which ends
    // before the table's connection closes).
    int rc = SQLITE_OK;
    if (!schemaVersionStmt_) {
        sqlite3_stmt* stmt = nullptr;
        rc = sqlite3_prepare_v3(db_, "PRAGMA schema_version", -1, SQLITE_PREPARE_PERSISTENT, &stmt,
                                nullptr);
        schemaVersionStmt_.reset(stmt);
    }
    if (rc == SQLITE_OK) rc = sqlite3_step(schemaVersionStmt_.get());
    *version = rc == SQLITE_ROW ? sqlite3_column_int64(schemaVersionStmt_.get(), 0) : -1;
    if (schemaVersionStmt_) sqlite3_reset(schemaVersionStmt_.get());
    if (rc != SQLITE_ROW) {
        return Fail(KCE_FILE_READ_FAILED, storage_.Path() + ": " + sqlite3_errmsg(db_));
    }
    return KCE_SUCCESS;
}

// Another process may have created or removed indexes since the file was opened (its catalog is
// part of the schema): take the catalog again, keeping the indexes that are still there.
KCESTATUS TableIndexes::Load() {
    if (broken_) return Fail(broken_, brokenText_);
    if (Xbase()) return LoadXbase();
    int64_t version = 0;
    if (KCESTATUS s = SchemaVersion(&version)) return s;
    if (version == schemaVersion_) return KCE_SUCCESS;
    std::vector<IndexDefinition> defs;
    if (KCESTATUS s = LoadIndexDefinitions(db_, storage_.Path(), &defs)) return s;
    std::vector<std::shared_ptr<NativeIndex>> next;
    for (const IndexDefinition& def : defs) {
        std::shared_ptr<NativeIndex> index = Find(def.name);
        if (!index || index->def_.key != def.key || index->def_.condition != def.condition ||
            index->def_.unique != def.unique || index->def_.descending != def.descending) {
            if (Compile(def, &index) != KCE_SUCCESS) {
                return Fail(KCE_DAMAGED_FILE, storage_.Path() + ": stored index " + def.name +
                                                  " does not compile: " + LastFailureDetail());
            }
        }
        next.push_back(std::move(index));
    }
    indexes_ = std::move(next);
    schemaVersion_ = version;
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::Refresh() { return Load(); }

void TableIndexes::WatchMemoryKeys(SqlKeyStore& store) {
    store.SetBeforeRead(
        [self = self_] { return *self ? (*self)->SyncMemoryKeys() : KCESTATUS(KCE_SUCCESS); });
}

KCESTATUS TableIndexes::DataVersion(int64_t* version) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
    *version = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW) {
        return Fail(KCE_FILE_READ_FAILED, storage_.Path() + ": " + sqlite3_errmsg(db_));
    }
    return KCE_SUCCESS;
}

// The data version moves on only for other connections' commits, so this process's own writes
// (which keep the keys up to date as they go) never cost a rebuild. Inside a transaction the keys
// are built within it: a rollback takes them back, and the next read builds them again.
KCESTATUS TableIndexes::SyncMemoryKeys() {
    if (!keysInMemory_ || syncingMemory_ || !storage_.Unlocked()) return KCE_SUCCESS;
    int64_t version = -1;
    if (KCESTATUS s = DataVersion(&version)) return s;
    if (version == memoryVersion_) return KCE_SUCCESS;
    const bool own = sqlite3_get_autocommit(db_) != 0;
    if (own) {
        if (KCESTATUS s = ExecSql(db_, "BEGIN", storage_.Path())) return s;
    }
    syncingMemory_ = true;
    KCESTATUS s = KCE_SUCCESS;
    for (auto& index : indexes_) {
        ++index->changes_;
        s = index->store_->Clear();
        if (!s) s = Fill(*index);
        if (s) break;
    }
    syncingMemory_ = false;
    if (own) {
        if (!s) s = ExecSql(db_, "COMMIT", storage_.Path());
        if (s) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    memoryVersion_ = s ? -1 : version;
    return s;
}

// Inside the table's transaction these are a savepoint of it. xBase tables have no database:
// their index files are changed in place.
KCESTATUS TableIndexes::Begin() {
    if (!db_) return KCE_SUCCESS;
    nested_ = !sqlite3_get_autocommit(db_);
    // Keys in memory take no lock of the file (a reader builds them too).
    const char* begin = keysInMemory_ ? "BEGIN" : "BEGIN IMMEDIATE";
    return ExecSql(db_, nested_ ? "SAVEPOINT kdt_index" : begin, storage_.Path());
}
KCESTATUS TableIndexes::Commit() {
    if (!db_) return KCE_SUCCESS;
    return ExecSql(db_, nested_ ? "RELEASE kdt_index" : "COMMIT", storage_.Path());
}
void TableIndexes::Rollback() {
    if (!db_) return;
    memoryVersion_ = -1;  // keys built again inside what is rolled back go with it
    sqlite3_exec(db_, nested_ ? "ROLLBACK TO kdt_index; RELEASE kdt_index" : "ROLLBACK", nullptr,
                 nullptr, nullptr);
}

// The index files follow the table's transaction with their own, committed after it.
KCESTATUS TableIndexes::OnTransaction(Storage&, TransactionPhase phase) {
    if (Xbase()) {
        // The table's rollback journal covers the index files too: they go back with it.
        if (phase == TransactionPhase::kBegin) {
            if (structural_) {
                if (KCESTATUS s = storage_.CoverFile(structural_->Path())) return s;
            }
            for (auto& f : files_) {
                if (KCESTATUS s = storage_.CoverFile(f->path)) return s;
            }
            return KCE_SUCCESS;
        }
        return phase == TransactionPhase::kRollback ? ReloadXbase() : KCESTATUS(KCE_SUCCESS);
    }
    if (phase == TransactionPhase::kRollback) memoryVersion_ = -1;
    KCESTATUS first = KCE_SUCCESS;
    for (auto& f : files_) {
        if (!f->db) continue;  // an xBase index file
        // A file attached during the transaction is not in it.
        if (phase != TransactionPhase::kBegin && sqlite3_get_autocommit(f->db)) continue;
        const char* sql = phase == TransactionPhase::kBegin    ? "BEGIN IMMEDIATE"
                          : phase == TransactionPhase::kCommit ? "COMMIT"
                                                               : "ROLLBACK";
        KCESTATUS s = ExecSql(f->db, sql, f->path);
        if (!first) first = s;
    }
    return first;
}

KCESTATUS TableIndexes::Fill(NativeIndex& index) {
    const UNSIGNED32 length = storage_.Layout().recordLength;
    std::vector<uint8_t> image(length);
    UNSIGNED32 recno = 0;
    bool unique = index.def_.unique;
    while (true) {
        if (KCESTATUS s = storage_.NextRecno(recno, &recno)) return s;
        if (recno == 0) return KCE_SUCCESS;
        bool exists = false, deleted = false;
        if (KCESTATUS s = storage_.ReadRecord(recno, image.data(), &exists, &deleted)) return s;
        if (!exists) continue;
        std::string key;
        bool included = false;
        if (KCESTATUS s = index.KeyOfImage(storage_, recno, image.data(), deleted, &key, &included))
            return Fail(s, "record " + std::to_string(recno) + ": " + LastFailureDetail());
        if (!included) continue;
        if (unique) {
            bool found = false;
            UNSIGNED32 other = 0;
            if (KCESTATUS s = index.store_->HasOther(key, recno, &found, &other)) return s;
            if (found) {
                return Fail(KCE_DUPLICATE_KEY, "unique index " + index.def_.name + " of " +
                                                   storage_.Path() + ": records " +
                                                   std::to_string(other) + " and " +
                                                   std::to_string(recno) + " have the same key");
            }
        }
        if (KCESTATUS s = index.store_->Insert(key, recno)) return s;
    }
}

KCESTATUS TableIndexes::Create(const IndexDefinition& def, std::shared_ptr<NativeIndex>* out) {
    if (!ValidIndexName(def.name)) {
        return Fail(KCE_INVALID_INDEX_NAME,
                    "'" + def.name + "': letters, digits and '_', at most 128, not a digit first");
    }
    if (Find(def.name)) {
        return Fail(KCE_INDEX_EXISTS, "index " + def.name + " of " + storage_.Path());
    }
    if (indexes_.size() >= 50) {
        return Fail(KCE_TOO_MANY_INDEXES, storage_.Path() + " has 50 indexes");
    }
    std::shared_ptr<NativeIndex> index;
    if (Xbase()) {
        if (storage_.TableType() == KCE_NTX) {
            // An NTX table has no structural index file: each index is a .ntx of its own.
            std::string table = storage_.Path();
            std::string path = table.substr(0, table.find_last_of('/') + 1) + def.name + ".ntx";
            return CreateInFile(path, def, out);
        }
        if (!structural_) {
            if (KCESTATUS s = storage_.CoverFile(StructuralPath())) return s;
            std::unique_ptr<cdx::CdxFile> created;
            if (KCESTATUS s = cdx::CdxFile::Create(StructuralPath(), true, &created)) return s;
            structural_ = std::move(created);
            if (KCESTATUS s = MarkStructural(true)) return s;
        }
        if (KCESTATUS s = AddTag(structural_, def, &index)) return s;
        indexes_.push_back(index);
        *out = std::move(index);
        return KCE_SUCCESS;
    }
    if (KCESTATUS s = Compile(def, &index)) return s;
    if (KCESTATUS s = Begin()) return s;
    KCESTATUS s = index->store_->Create();
    if (!s) s = SaveIndexDefinition(db_, storage_.Path(), def);
    if (!s) s = Fill(*index);
    if (!s) s = Commit();
    if (s) {
        std::string text = LastFailureDetail();
        Rollback();
        return Fail(s, text);
    }
    indexes_.push_back(index);
    *out = std::move(index);
    SchemaVersion(&schemaVersion_);
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::Drop(const std::string& name) {
    auto index = Find(name);
    if (!index) return Fail(KCE_INDEX_NOT_FOUND, "index " + name + " of " + storage_.Path());
    if (Xbase()) {
        if (KCESTATUS s = index->store_->Drop()) return s;
        indexes_.erase(std::find(indexes_.begin(), indexes_.end(), index));
        return KCE_SUCCESS;
    }
    if (KCESTATUS s = Begin()) return s;
    KCESTATUS s = index->store_->Drop();
    if (!s) s = DeleteIndexDefinition(db_, storage_.Path(), index->def_.name);
    if (!s) s = Commit();
    if (s) {
        Rollback();
        return s;
    }
    indexes_.erase(std::find(indexes_.begin(), indexes_.end(), index));
    SchemaVersion(&schemaVersion_);
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::Rebuild() {
    if (Xbase()) {
        if (broken_) return RebuildStructural();
        // A tag this engine cannot build would be left out of date beside the others, or lost:
        // nothing is built, and every index file stays as it is.
        if (!unusable_.empty()) {
            return Fail(KCE_NOT_SUPPORTED, "the indexes of table " + storage_.Path() +
                                               " are not built again, and their files are left "
                                               "as they are: " +
                                               unusable_.front().second);
        }
        for (auto& index : AllIndexes()) {
            ++index->changes_;
            std::vector<KeyPos> keys;
            if (KCESTATUS s = CollectKeys(*index, &keys)) return s;
            auto* store = static_cast<XbaseStore*>(index->store_.get());
            if (KCESTATUS s = store->Rebuild(std::move(keys))) return s;
        }
        return KCE_SUCCESS;
    }
    int64_t version = -1;
    if (keysInMemory_) {
        if (KCESTATUS s = DataVersion(&version)) return s;
    }
    if (KCESTATUS s = Begin()) return s;
    syncingMemory_ = true;  // the keys being built are read (unique indexes) as they are
    for (auto& index : indexes_) {
        ++index->changes_;
        KCESTATUS s = index->store_->Clear();
        if (!s) s = Fill(*index);
        if (s) {
            syncingMemory_ = false;
            memoryVersion_ = -1;
            Rollback();
            return s;
        }
    }
    syncingMemory_ = false;
    if (KCESTATUS s = Commit()) {
        memoryVersion_ = -1;
        return s;
    }
    if (keysInMemory_ && storage_.Unlocked()) memoryVersion_ = version;
    for (auto& f : files_) {
        if (KCESTATUS s = ExecSql(f->db, "BEGIN IMMEDIATE", f->path)) return s;
        for (auto& index : f->indexes) {
            ++index->changes_;
            KCESTATUS s = index->store_->Clear();
            if (!s) s = Fill(*index);
            if (s) {
                sqlite3_exec(f->db, "ROLLBACK", nullptr, nullptr, nullptr);
                return s;
            }
        }
        if (KCESTATUS s = ExecSql(f->db, "COMMIT", f->path)) return s;
    }
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::Check(std::vector<std::string>* problems) {
    problems->clear();
    if (broken_) {
        problems->push_back(brokenText_);
        return KCE_SUCCESS;
    }
    // A tag the engine cannot read is not a fault of the file; it is named, as not checked.
    for (const auto& [tag, reason] : unusable_) {
        problems->push_back("warning: " + reason + "; it is not checked");
    }
    const UNSIGNED32 length = storage_.Layout().recordLength;
    std::vector<uint8_t> image(length);
    for (auto& index : AllIndexes()) {
        // Every record's key must be present, and the index must hold nothing else.
        UNSIGNED32 recno = 0, expected = 0;
        while (true) {
            if (KCESTATUS s = storage_.NextRecno(recno, &recno)) return s;
            if (recno == 0) break;
            bool exists = false, deleted = false;
            if (KCESTATUS s = storage_.ReadRecord(recno, image.data(), &exists, &deleted)) return s;
            if (!exists) continue;
            std::string key;
            bool included = false;
            if (index->KeyOfImage(storage_, recno, image.data(), deleted, &key, &included)) {
                problems->push_back("index " + index->def_.name + ": record " +
                                    std::to_string(recno) + ": " + LastFailureDetail());
                continue;
            }
            if (!included) continue;
            ++expected;
            KeyRange exact;
            exact.hasLo = exact.hasHi = true;
            exact.lo = key;
            exact.hi = key + '\0';
            std::vector<UNSIGNED32> recnos;
            if (KCESTATUS s = index->store_->Recnos(exact, &recnos)) return s;
            if (std::find(recnos.begin(), recnos.end(), recno) == recnos.end()) {
                problems->push_back("index " + index->def_.name + ": record " +
                                    std::to_string(recno) + " is missing");
            }
        }
        std::vector<std::string> audit;
        index->store_->Audit(&audit);
        for (const std::string& a : audit) {
            problems->push_back("index " + index->def_.name + ": " + a);
        }
        UNSIGNED32 stored = 0;
        if (KCESTATUS s = index->store_->Count(KeyRange{}, &stored)) return s;
        if (stored != expected) {
            problems->push_back("index " + index->def_.name + ": holds " + std::to_string(stored) +
                                " keys for " + std::to_string(expected) + " records");
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::OnWrite(Storage& storage, UNSIGNED32 recno, const uint8_t* oldImage,
                                const uint8_t* newImage) {
    if (KCESTATUS s = Load()) return s;
    if (!unusable_.empty()) {
        return Fail(KCE_NOT_SUPPORTED, "table " + storage_.Path() +
                                           " is read only here, as a write would leave a tag "
                                           "out of date: " +
                                           unusable_.front().second);
    }
    // Every key and every unique check first, so that a refused write changes no index (the
    // keys of xBase index files are not inside any transaction).
    struct Move {
        std::shared_ptr<NativeIndex> index;
        std::string oldKey, newKey;
        bool oldIn = false, newIn = false;
    };
    std::vector<Move> moves;
    for (auto& index : AllIndexes()) {
        Move m{index, {}, {}, false, false};
        if (oldImage) {
            if (KCESTATUS s =
                    index->KeyOfImage(storage, recno, oldImage, false, &m.oldKey, &m.oldIn))
                return s;
        }
        if (newImage) {
            if (KCESTATUS s =
                    index->KeyOfImage(storage, recno, newImage, false, &m.newKey, &m.newIn))
                return Fail(
                    s, "record " + std::to_string(recno) + " not written: " + LastFailureDetail());
        }
        if (m.oldIn == m.newIn && m.oldKey == m.newKey) continue;
        if (m.newIn && index->def_.unique) {
            bool found = false;
            UNSIGNED32 other = 0;
            if (KCESTATUS s = index->store_->HasOther(m.newKey, recno, &found, &other)) return s;
            if (found) {
                return Fail(KCE_DUPLICATE_KEY,
                            "unique index " + index->def_.name + " of " + storage.Path() +
                                " already holds the key of "
                                "record " +
                                std::to_string(recno) + " for record " + std::to_string(other));
            }
        }
        moves.push_back(std::move(m));
    }
    for (Move& m : moves) {
        ++m.index->changes_;
        if (m.oldIn) {
            if (KCESTATUS s = m.index->store_->Remove(m.oldKey, recno)) return s;
        }
        if (m.newIn) {
            if (KCESTATUS s = m.index->store_->Insert(m.newKey, recno)) return s;
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::OnRebuild(Storage&) {
    if (KCESTATUS s = Load()) return s;
    if (!Xbase() && keysInMemory_ != storage_.Encrypted()) {
        // Encrypted or decrypted: the keys move between the file and memory.
        keysInMemory_ = storage_.Encrypted();
        for (auto& index : indexes_) {
            if (!keysInMemory_) index->store_->Drop();
            auto store = std::make_unique<SqlKeyStore>(db_, storage_.Path(), index->def_.name,
                                                       keysInMemory_);
            if (keysInMemory_) WatchMemoryKeys(*store);
            index->store_ = std::move(store);
            if (KCESTATUS s = index->store_->Create()) return s;
        }
    }
    if (!unusable_.empty()) {
        return Fail(KCE_NOT_SUPPORTED, "table " + storage_.Path() +
                                           " is read only here, as the change would leave a tag "
                                           "out of date: " +
                                           unusable_.front().second);
    }
    return Rebuild();
}

KCESTATUS TableIndexes::OnZap(Storage&) {
    if (KCESTATUS s = Load()) return s;
    if (!unusable_.empty()) {
        return Fail(KCE_NOT_SUPPORTED, "table " + storage_.Path() +
                                           " is read only here, as the change would leave a tag "
                                           "out of date: " +
                                           unusable_.front().second);
    }
    for (auto& index : AllIndexes()) {
        ++index->changes_;
        if (KCESTATUS s = index->store_->Clear()) return s;
    }
    return KCE_SUCCESS;
}

// ---- xBase index files ---------------------------------------------------------------------

KeyDialect TableIndexes::Dialect() const {
    return storage_.TableType() == KCE_CDX ? KeyDialect::kCdx : KeyDialect::kNtx;
}

KCESTATUS TableIndexes::CompileXbase(const IndexDefinition& def, const KeyFileOptions& options,
                                     const std::string& file, std::shared_ptr<NativeIndex>* out) {
    if (def.descending) {
        return Fail(KCE_NOT_SUPPORTED, "index " + def.name + " in " + file +
                                           ": descending xBase indexes are not supported");
    }
    auto index = std::make_shared<NativeIndex>();
    index->def_ = def;
    index->file_ = file;
    if (KCESTATUS s =
            IndexKey::Compile(schema_, def.key, false, def.condition, &index->key_, options)) {
        return Fail(s, "index " + def.name + " in " + file + ": " + LastFailureDetail());
    }
    *out = std::move(index);
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::CollectKeys(NativeIndex& index, std::vector<KeyPos>* out) {
    out->clear();
    std::vector<uint8_t> image(storage_.Layout().recordLength);
    UNSIGNED32 recno = 0;
    while (true) {
        if (KCESTATUS s = storage_.NextRecno(recno, &recno)) return s;
        if (recno == 0) break;
        bool exists = false, deleted = false;
        if (KCESTATUS s = storage_.ReadRecord(recno, image.data(), &exists, &deleted)) return s;
        if (!exists) continue;
        KeyPos pos;
        bool included = false;
        if (KCESTATUS s =
                index.KeyOfImage(storage_, recno, image.data(), deleted, &pos.key, &included))
            return Fail(s, "record " + std::to_string(recno) + ": " + LastFailureDetail());
        if (!included) continue;
        pos.recno = recno;
        out->push_back(std::move(pos));
    }
    std::sort(out->begin(), out->end(), [](const KeyPos& a, const KeyPos& b) {
        int c = a.key.compare(b.key);
        return c < 0 || (c == 0 && a.recno < b.recno);
    });
    if (index.def_.unique) {
        for (size_t i = 1; i < out->size(); ++i) {
            if ((*out)[i].key == (*out)[i - 1].key) {
                return Fail(KCE_DUPLICATE_KEY,
                            "unique index " + index.def_.name + " of " + storage_.Path() +
                                ": records " + std::to_string((*out)[i - 1].recno) + " and " +
                                std::to_string((*out)[i].recno) + " have the same key");
            }
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::CollectNewKeys(NativeIndex& index, size_t maxLength, const char* holder,
                                       std::vector<KeyPos>* out) {
    if (index.key_->Length() > maxLength) {
        return Fail(KCE_KEY_TOO_LONG, "index " + index.def_.name + ": keys of " +
                                          std::to_string(index.key_->Length()) + " bytes, " +
                                          holder + " holds at most " + std::to_string(maxLength));
    }
    return CollectKeys(index, out);
}

KCESTATUS TableIndexes::AttachXbaseFile(const std::string& path, std::unique_ptr<IndexFile>* out) {
    auto file = std::make_unique<IndexFile>();
    file->path = path;
    std::string ext = rtl::LowerCase(Extension(path));
    const bool readOnly = !storage_.Writable();
    if (ext == ".cdx") {
        std::unique_ptr<cdx::CdxFile> cdx;
        if (KCESTATUS s = cdx::CdxFile::Open(path, readOnly, &cdx)) return s;
        file->cdx = std::move(cdx);
        std::vector<std::pair<std::string, std::string>> unusable;
        if (KCESTATUS s = OpenTags(file->cdx, &file->indexes, &unusable)) return s;
        if (!unusable.empty()) return Fail(KCE_NOT_SUPPORTED, unusable.front().second);
    } else if (ext == ".ntx") {
        std::unique_ptr<ntx::NtxFile> ntx;
        if (KCESTATUS s = ntx::NtxFile::Open(path, readOnly, &ntx)) return s;
        file->ntx = std::move(ntx);
        std::shared_ptr<NativeIndex> index;
        if (KCESTATUS s = OpenNtx(file->ntx, &index)) return s;
        file->indexes.push_back(std::move(index));
    } else {
        return Fail(KCE_WRONG_FILE_FORMAT,
                    "index file " + path + ": xBase tables keep indexes in .cdx or .ntx files");
    }
    for (auto& index : file->indexes) index->inIndexFile_ = true;
    // Opened inside the table's transaction: a rollback gives it back too.
    if (!readOnly) {
        if (KCESTATUS s = storage_.CoverFile(path)) return s;
    }
    *out = std::move(file);
    return KCE_SUCCESS;
}

// After a rollback of the table's transaction the index files are as they were at its
// beginning (one made during it is gone): every open one is read again, with its tag list.
KCESTATUS TableIndexes::ReloadXbase() {
    auto retag = [this](const std::shared_ptr<cdx::CdxFile>& file,
                        std::vector<std::shared_ptr<NativeIndex>>* indexes) -> KCESTATUS {
        std::vector<std::string> before, after;
        for (const auto& index : *indexes) before.push_back(index->def_.name);
        if (KCESTATUS s = file->Reload()) return s;
        for (const auto& tag : file->Tags()) after.push_back(tag.name);
        if (before == after) return KCE_SUCCESS;
        std::vector<std::shared_ptr<NativeIndex>> next;
        std::vector<std::pair<std::string, std::string>> unusable;
        if (KCESTATUS s = OpenTags(file, &next, &unusable)) return s;
        if (!unusable.empty()) return Fail(KCE_NOT_SUPPORTED, unusable.front().second);
        *indexes = std::move(next);
        return KCE_SUCCESS;
    };
    KCESTATUS first = KCE_SUCCESS;
    if (structural_) {
        if (!std::filesystem::exists(rtl::OsPath(structural_->Path()))) {
            structural_.reset();
            indexes_.clear();
        } else if (KCESTATUS s = retag(structural_, &indexes_)) {
            first = s;
        }
    }
    for (size_t i = 0; i < files_.size();) {
        IndexFile& f = *files_[i];
        if (!std::filesystem::exists(rtl::OsPath(f.path))) {
            files_.erase(files_.begin() + long(i));
            continue;
        }
        KCESTATUS s = KCE_SUCCESS;
        if (f.cdx) {
            s = retag(f.cdx, &f.indexes);
            for (auto& index : f.indexes) index->inIndexFile_ = true;
        } else if (f.ntx) {
            s = f.ntx->Reload();
        }
        if (s && !first) first = s;
        ++i;
    }
    return first;
}

}  // namespace kce
