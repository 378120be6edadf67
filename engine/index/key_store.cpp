#include "engine/index/key_store.h"

#include <cctype>

#include "engine/native/sqlite_status.h"
#include "engine/status.h"
#include "engine/text.h"

namespace kce {

namespace {

void BindBlob(sqlite3_stmt* stmt, int at, const std::string& bytes) {
    sqlite3_bind_blob(stmt, at, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
}

KCESTATUS ExecOn(sqlite3* db, const std::string& sql, const std::string& file) {
    char* error = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        std::string text = error ? error : sqlite3_errstr(rc);
        sqlite3_free(error);
        return SqliteFail(nullptr, rc, file + ": " + text);
    }
    return KCE_SUCCESS;
}

}  // namespace

std::string PrefixSuccessor(const std::string& prefix) {
    std::string s = prefix;
    while (!s.empty() && static_cast<unsigned char>(s.back()) == 0xFF) s.pop_back();
    if (s.empty()) return s;
    s.back() = char(static_cast<unsigned char>(s.back()) + 1);
    return s;
}

KCESTATUS LoadIndexDefinitions(sqlite3* db, const std::string& file,
                               std::vector<IndexDefinition>* out) {
    out->clear();
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db,
                                "SELECT name, key, is_unique, descending, condition FROM "
                                "kdt_indexes ORDER BY ordinal",
                                -1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        // A table without indexes has no catalog yet.
        if (std::string(sqlite3_errmsg(db)).find("no such table") != std::string::npos) {
            return KCE_SUCCESS;
        }
        return SqliteFail(db, rc, file + ": reading the index catalog");
    }
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        IndexDefinition d;
        auto text = [&](int col) {
            const unsigned char* t = sqlite3_column_text(stmt, col);
            return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
        };
        d.name = text(0);
        d.key = text(1);
        d.unique = sqlite3_column_int(stmt, 2) != 0;
        d.descending = sqlite3_column_int(stmt, 3) != 0;
        d.condition = text(4);
        out->push_back(std::move(d));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) return SqliteFail(db, rc, file + ": reading the index catalog");
    return KCE_SUCCESS;
}

KCESTATUS SaveIndexDefinition(sqlite3* db, const std::string& file, const IndexDefinition& def) {
    if (KCESTATUS s = ExecOn(db,
                             "CREATE TABLE IF NOT EXISTS kdt_indexes(name TEXT PRIMARY KEY "
                             "COLLATE NOCASE, key TEXT NOT NULL, is_unique INTEGER NOT NULL, "
                             "descending INTEGER NOT NULL, condition TEXT NOT NULL, "
                             "ordinal INTEGER NOT NULL)",
                             file)) {
        return s;
    }
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db,
                                "INSERT INTO kdt_indexes(name, key, is_unique, descending, "
                                "condition, ordinal) VALUES (?1, ?2, ?3, ?4, ?5, (SELECT "
                                "coalesce(max(ordinal), 0) + 1 FROM kdt_indexes))",
                                -1, &stmt, nullptr);
    if (rc != SQLITE_OK) return SqliteFail(db, rc, file + ": saving index " + def.name);
    sqlite3_bind_text(stmt, 1, def.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, def.key.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(stmt, 3, def.unique);
    sqlite3_bind_int(stmt, 4, def.descending);
    sqlite3_bind_text(stmt, 5, def.condition.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) return SqliteFail(db, rc, file + ": saving index " + def.name);
    return KCE_SUCCESS;
}

KCESTATUS DeleteIndexDefinition(sqlite3* db, const std::string& file, const std::string& name) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "DELETE FROM kdt_indexes WHERE name = ?1", -1, &stmt, nullptr);
    if (rc != SQLITE_OK) return SqliteFail(db, rc, file + ": removing index " + name);
    sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) return SqliteFail(db, rc, file + ": removing index " + name);
    return KCE_SUCCESS;
}

SqlKeyStore::SqlKeyStore(sqlite3* db, std::string file, const std::string& indexName, bool inMemory)
    : db_(db),
      file_(std::move(file)),
      table_(std::string(inMemory ? "temp." : "") + "\"kdt_index_" + Upper(indexName) + "\"") {}

SqlKeyStore::~SqlKeyStore() {
    EndWalk();
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
}

KCESTATUS SqlKeyStore::Fail(int rc, const std::string& what) {
    return SqliteFail(db_, rc, file_ + ": index table " + table_ + ": " + what);
}

KCESTATUS SqlKeyStore::Prepare(const std::string& sql, sqlite3_stmt** out) {
    if (walk_ && sql == walkSql_) EndWalk();
    auto it = cache_.find(sql);
    if (it != cache_.end()) {
        sqlite3_reset(it->second);
        sqlite3_clear_bindings(it->second);
        *out = it->second;
        return KCE_SUCCESS;
    }
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        if ((rc & 0xFF) == SQLITE_ERROR) {
            return kce::Fail(KCE_DAMAGED_FILE,
                             file_ + ": index table " + table_ + ": " + sqlite3_errmsg(db_));
        }
        return Fail(rc, "preparing");
    }
    cache_[sql] = stmt;
    *out = stmt;
    return KCE_SUCCESS;
}

KCESTATUS SqlKeyStore::Exec(const std::string& sql) {
    EndWalk();
    // Cached statements on a table about to be dropped would keep it busy.
    for (auto& [text, stmt] : cache_) sqlite3_finalize(stmt);
    cache_.clear();
    return ExecOn(db_, sql, file_);
}

KCESTATUS SqlKeyStore::Create() {
    return Exec("CREATE TABLE IF NOT EXISTS " + table_ +
                "(key BLOB NOT NULL, recno INTEGER NOT NULL, PRIMARY KEY (key, recno)) "
                "WITHOUT ROWID");
}

KCESTATUS SqlKeyStore::Drop() { return Exec("DROP TABLE IF EXISTS " + table_); }

KCESTATUS SqlKeyStore::Clear() {
    EndWalk();
    sqlite3_stmt* stmt;
    if (KCESTATUS s = Prepare("DELETE FROM " + table_, &stmt)) return s;
    int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : Fail(rc, "clearing");
}

KCESTATUS SqlKeyStore::Insert(const std::string& key, UNSIGNED32 recno) {
    EndWalk();
    sqlite3_stmt* stmt;
    if (KCESTATUS s =
            Prepare("INSERT OR REPLACE INTO " + table_ + "(key, recno) VALUES (?1, ?2)", &stmt)) {
        return s;
    }
    BindBlob(stmt, 1, key);
    sqlite3_bind_int64(stmt, 2, recno);
    int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : Fail(rc, "adding a key");
}

KCESTATUS SqlKeyStore::Remove(const std::string& key, UNSIGNED32 recno) {
    EndWalk();
    sqlite3_stmt* stmt;
    if (KCESTATUS s = Prepare("DELETE FROM " + table_ + " WHERE key = ?1 AND recno = ?2", &stmt)) {
        return s;
    }
    BindBlob(stmt, 1, key);
    sqlite3_bind_int64(stmt, 2, recno);
    int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : Fail(rc, "removing a key");
}

KCESTATUS SqlKeyStore::HasOther(const std::string& key, UNSIGNED32 recno, bool* found,
                                UNSIGNED32* other) {
    if (KCESTATUS s = BeforeRead()) return s;
    sqlite3_stmt* stmt;
    if (KCESTATUS s =
            Prepare("SELECT key, recno FROM " + table_ + " WHERE key = ?1 AND recno <> ?2 LIMIT 1",
                    &stmt)) {
        return s;
    }
    BindBlob(stmt, 1, key);
    sqlite3_bind_int64(stmt, 2, recno);
    KeyPos pos;
    KCESTATUS s = StepRow(stmt, &pos, found);
    *other = pos.recno;
    return s;
}

KCESTATUS SqlKeyStore::StepRow(sqlite3_stmt* stmt, KeyPos* pos, bool* found) {
    int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        const void* blob = sqlite3_column_blob(stmt, 0);
        int n = sqlite3_column_bytes(stmt, 0);
        pos->key.assign(static_cast<const char*>(blob ? blob : ""), size_t(n));
        pos->recno = UNSIGNED32(sqlite3_column_int64(stmt, 1));
        *found = true;
        sqlite3_reset(stmt);
        return KCE_SUCCESS;
    }
    sqlite3_reset(stmt);
    *found = false;
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : Fail(rc, "reading keys");
}

std::string SqlKeyStore::RangeSql(const KeyRange& range) {
    std::string sql;
    if (range.hasLo) sql += " AND key >= ?10";
    if (range.hasHi) sql += " AND key < ?11";
    return sql;
}

void SqlKeyStore::BindRange(sqlite3_stmt* stmt, const KeyRange& range, int) {
    if (range.hasLo) BindBlob(stmt, 10, range.lo);
    if (range.hasHi) BindBlob(stmt, 11, range.hi);
}

KCESTATUS SqlKeyStore::First(const KeyRange& range, KeyPos* pos, bool* found) {
    if (KCESTATUS s = BeforeRead()) return s;
    sqlite3_stmt* stmt;
    if (KCESTATUS s = Prepare("SELECT key, recno FROM " + table_ + " WHERE 1" + RangeSql(range) +
                                  " ORDER BY key, recno LIMIT 1",
                              &stmt)) {
        return s;
    }
    BindRange(stmt, range, 10);
    return StepRow(stmt, pos, found);
}

KCESTATUS SqlKeyStore::Last(const KeyRange& range, KeyPos* pos, bool* found) {
    if (KCESTATUS s = BeforeRead()) return s;
    sqlite3_stmt* stmt;
    if (KCESTATUS s = Prepare("SELECT key, recno FROM " + table_ + " WHERE 1" + RangeSql(range) +
                                  " ORDER BY key DESC, recno DESC LIMIT 1",
                              &stmt)) {
        return s;
    }
    BindRange(stmt, range, 10);
    return StepRow(stmt, pos, found);
}

void SqlKeyStore::EndWalk() {
    if (walk_) sqlite3_reset(walk_);
    walk_ = nullptr;
}

KCESTATUS SqlKeyStore::After(const KeyPos& from, const KeyRange& range, KeyPos* pos, bool* found) {
    if (KCESTATUS s = BeforeRead()) return s;
    constexpr auto kWalkLifetime = std::chrono::milliseconds(50);
    std::string sql = "SELECT key, recno FROM " + table_ + " WHERE (key, recno) > (?1, ?2)" +
                      RangeSql(range) + " ORDER BY key, recno";
    bool continues = walk_ && walkSql_ == sql && walkRange_.lo == range.lo &&
                     walkRange_.hi == range.hi && walkPos_.recno == from.recno &&
                     walkPos_.key == from.key &&
                     std::chrono::steady_clock::now() - walkStart_ < kWalkLifetime;
    if (!continues) {
        EndWalk();
        sqlite3_stmt* stmt;
        if (KCESTATUS s = Prepare(sql, &stmt)) return s;
        BindBlob(stmt, 1, from.key);
        sqlite3_bind_int64(stmt, 2, from.recno);
        BindRange(stmt, range, 10);
        walk_ = stmt;
        walkSql_ = std::move(sql);
        walkRange_ = range;
        walkStart_ = std::chrono::steady_clock::now();
    }
    int rc = sqlite3_step(walk_);
    if (rc == SQLITE_ROW) {
        const void* blob = sqlite3_column_blob(walk_, 0);
        int n = sqlite3_column_bytes(walk_, 0);
        pos->key.assign(static_cast<const char*>(blob ? blob : ""), size_t(n));
        pos->recno = UNSIGNED32(sqlite3_column_int64(walk_, 1));
        *found = true;
        walkPos_ = *pos;
        return KCE_SUCCESS;
    }
    EndWalk();
    *found = false;
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : Fail(rc, "reading keys");
}

KCESTATUS SqlKeyStore::Before(const KeyPos& from, const KeyRange& range, KeyPos* pos, bool* found) {
    if (KCESTATUS s = BeforeRead()) return s;
    sqlite3_stmt* stmt;
    if (KCESTATUS s =
            Prepare("SELECT key, recno FROM " + table_ + " WHERE (key, recno) < (?1, ?2)" +
                        RangeSql(range) + " ORDER BY key DESC, recno DESC LIMIT 1",
                    &stmt)) {
        return s;
    }
    BindBlob(stmt, 1, from.key);
    sqlite3_bind_int64(stmt, 2, from.recno);
    BindRange(stmt, range, 10);
    return StepRow(stmt, pos, found);
}

KCESTATUS SqlKeyStore::KeyOf(UNSIGNED32 recno, std::string* key, bool* found) {
    if (KCESTATUS s = BeforeRead()) return s;
    sqlite3_stmt* stmt;
    if (KCESTATUS s =
            Prepare("SELECT key, recno FROM " + table_ + " WHERE recno = ?1 LIMIT 1", &stmt)) {
        return s;
    }
    sqlite3_bind_int64(stmt, 1, recno);
    KeyPos pos;
    KCESTATUS s = StepRow(stmt, &pos, found);
    *key = std::move(pos.key);
    return s;
}

KCESTATUS SqlKeyStore::Count(const KeyRange& range, UNSIGNED32* count) {
    if (KCESTATUS s = BeforeRead()) return s;
    sqlite3_stmt* stmt;
    if (KCESTATUS s =
            Prepare("SELECT count(*) FROM " + table_ + " WHERE 1" + RangeSql(range), &stmt)) {
        return s;
    }
    BindRange(stmt, range, 10);
    int rc = sqlite3_step(stmt);
    *count = rc == SQLITE_ROW ? UNSIGNED32(sqlite3_column_int64(stmt, 0)) : 0;
    sqlite3_reset(stmt);
    return rc == SQLITE_ROW ? KCESTATUS(KCE_SUCCESS) : Fail(rc, "counting keys");
}

KCESTATUS SqlKeyStore::CountBefore(const KeyPos& pos, const KeyRange& range, UNSIGNED32* count) {
    if (KCESTATUS s = BeforeRead()) return s;
    sqlite3_stmt* stmt;
    if (KCESTATUS s = Prepare(
            "SELECT count(*) FROM " + table_ + " WHERE (key, recno) < (?1, ?2)" + RangeSql(range),
            &stmt)) {
        return s;
    }
    BindBlob(stmt, 1, pos.key);
    sqlite3_bind_int64(stmt, 2, pos.recno);
    BindRange(stmt, range, 10);
    int rc = sqlite3_step(stmt);
    *count = rc == SQLITE_ROW ? UNSIGNED32(sqlite3_column_int64(stmt, 0)) : 0;
    sqlite3_reset(stmt);
    return rc == SQLITE_ROW ? KCESTATUS(KCE_SUCCESS) : Fail(rc, "counting keys");
}

KCESTATUS SqlKeyStore::AtOffset(const KeyRange& range, UNSIGNED32 offset, KeyPos* pos,
                                bool* found) {
    if (KCESTATUS s = BeforeRead()) return s;
    sqlite3_stmt* stmt;
    if (KCESTATUS s = Prepare("SELECT key, recno FROM " + table_ + " WHERE 1" + RangeSql(range) +
                                  " ORDER BY key, recno LIMIT 1 OFFSET ?1",
                              &stmt)) {
        return s;
    }
    sqlite3_bind_int64(stmt, 1, offset);
    BindRange(stmt, range, 10);
    return StepRow(stmt, pos, found);
}

KCESTATUS SqlKeyStore::Recnos(const KeyRange& range, std::vector<UNSIGNED32>* out) {
    if (KCESTATUS s = BeforeRead()) return s;
    out->clear();
    sqlite3_stmt* stmt;
    if (KCESTATUS s = Prepare("SELECT key, recno FROM " + table_ + " WHERE 1" + RangeSql(range) +
                                  " ORDER BY key, recno",
                              &stmt)) {
        return s;
    }
    BindRange(stmt, range, 10);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        out->push_back(UNSIGNED32(sqlite3_column_int64(stmt, 1)));
    }
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : Fail(rc, "reading keys");
}

}  // namespace kce
