#include "engine/index/table_indexes.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "engine/handles.h"
#include "engine/status.h"

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

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

}  // namespace

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
    return key_->KeyOf(record, key);
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
    if (KCESTATUS s = indexes->Load()) return s;
    storage.AddObserver(indexes);
    registry[&storage] = indexes;
    *out = std::move(indexes);
    return KCE_SUCCESS;
}

TableIndexes::TableIndexes(Storage& storage)
    : storage_(storage), db_(storage.Database()), schema_(SchemaOfLayout(storage.Layout())) {}

TableIndexes::~TableIndexes() {
    for (auto& f : files_) {
        f->indexes.clear();
        sqlite3_close_v2(f->db);
    }
    auto& registry = Registry();
    auto it = registry.find(&storage_);
    if (it != registry.end() && it->second.expired()) registry.erase(it);
}

std::shared_ptr<NativeIndex> TableIndexes::Find(std::string_view name) const {
    for (const auto& index : indexes_) {
        const std::string& n = index->Definition().name;
        if (n.size() == name.size() &&
            std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) ==
                       std::toupper(static_cast<unsigned char>(b));
            })) {
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
    index->store_ = std::make_unique<KeyStore>(db, file, def.name);
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
    auto file = std::make_unique<IndexFile>();
    file->path = path;
    int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &file->db, flags, nullptr);
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
    bool attached = FindFile(path) != nullptr;
    IndexFile* file = nullptr;
    if (KCESTATUS s = AttachFile(path, true, &file)) return s;
    auto detachIfNew = [&] {
        if (!attached) ReleaseFile(path, file->opens);
    };
    for (const auto& i : file->indexes) {
        if (SameName(i->def_.name, def.name)) {
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
        sqlite3_close_v2((*it)->db);
        files_.erase(it);
        return;
    }
}

KCESTATUS TableIndexes::SchemaVersion(int64_t* version) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA schema_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
    *version = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW) {
        return Fail(KCE_FILE_READ_FAILED, storage_.Path() + ": " + sqlite3_errmsg(db_));
    }
    return KCE_SUCCESS;
}

// Another process may have created or removed indexes since the file was opened (its catalog is
// part of the schema): take the catalog again, keeping the indexes that are still there.
KCESTATUS TableIndexes::Load() {
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

// Inside the table's transaction these are a savepoint of it.
KCESTATUS TableIndexes::Begin() {
    nested_ = !sqlite3_get_autocommit(db_);
    return ExecSql(db_, nested_ ? "SAVEPOINT kdt_index" : "BEGIN IMMEDIATE", storage_.Path());
}
KCESTATUS TableIndexes::Commit() {
    return ExecSql(db_, nested_ ? "RELEASE kdt_index" : "COMMIT", storage_.Path());
}
void TableIndexes::Rollback() {
    sqlite3_exec(db_, nested_ ? "ROLLBACK TO kdt_index; RELEASE kdt_index" : "ROLLBACK", nullptr,
                 nullptr, nullptr);
}

// The index files follow the table's transaction with their own, committed after it.
KCESTATUS TableIndexes::OnTransaction(Storage&, TransactionPhase phase) {
    KCESTATUS first = KCE_SUCCESS;
    for (auto& f : files_) {
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
    if (KCESTATUS s = Begin()) return s;
    for (auto& index : indexes_) {
        ++index->changes_;
        KCESTATUS s = index->store_->Clear();
        if (!s) s = Fill(*index);
        if (s) {
            Rollback();
            return s;
        }
    }
    if (KCESTATUS s = Commit()) return s;
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
    for (auto& index : AllIndexes()) {
        std::string oldKey, newKey;
        bool oldIn = false, newIn = false;
        if (oldImage) {
            if (KCESTATUS s = index->KeyOfImage(storage, recno, oldImage, false, &oldKey, &oldIn))
                return s;
        }
        if (newImage) {
            if (KCESTATUS s = index->KeyOfImage(storage, recno, newImage, false, &newKey, &newIn))
                return Fail(
                    s, "record " + std::to_string(recno) + " not written: " + LastFailureDetail());
        }
        if (oldIn == newIn && oldKey == newKey) continue;
        ++index->changes_;
        if (newIn && index->def_.unique) {
            bool found = false;
            UNSIGNED32 other = 0;
            if (KCESTATUS s = index->store_->HasOther(newKey, recno, &found, &other)) return s;
            if (found) {
                return Fail(KCE_DUPLICATE_KEY,
                            "unique index " + index->def_.name + " of " + storage.Path() +
                                " already holds the key of "
                                "record " +
                                std::to_string(recno) + " for record " + std::to_string(other));
            }
        }
        if (oldIn) {
            if (KCESTATUS s = index->store_->Remove(oldKey, recno)) return s;
        }
        if (newIn) {
            if (KCESTATUS s = index->store_->Insert(newKey, recno)) return s;
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::OnZap(Storage&) {
    if (KCESTATUS s = Load()) return s;
    for (auto& index : AllIndexes()) {
        ++index->changes_;
        if (KCESTATUS s = index->store_->Clear()) return s;
    }
    return KCE_SUCCESS;
}

}  // namespace kce
