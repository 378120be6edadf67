// Data dictionaries: the SQLite file, its users and its tables.
#include "engine/dictionary/dictionary.h"

#include <sodium.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "engine/native/sqlite_status.h"
#include "engine/status.h"
#include "engine/text.h"
#include "rtl/edge.h"

namespace kce {

namespace {

// Marks a SQLite file as a dictionary of this layout.
const char kFormat[] = "kdd 1";

const char kSchema[] =
    "CREATE TABLE kdd_info(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE kdd_users(name TEXT PRIMARY KEY COLLATE NOCASE,"
    "  password_hash TEXT NOT NULL);"
    "CREATE TABLE kdd_tables(name TEXT PRIMARY KEY COLLATE NOCASE, file TEXT NOT NULL,"
    "  table_type INTEGER NOT NULL);"
    "CREATE TABLE kdd_table_indexes(table_name TEXT NOT NULL COLLATE NOCASE,"
    "  position INTEGER NOT NULL, file TEXT NOT NULL, PRIMARY KEY(table_name, position));"
    "CREATE TABLE kdd_table_properties(table_name TEXT NOT NULL COLLATE NOCASE,"
    "  property INTEGER NOT NULL, value TEXT NOT NULL, PRIMARY KEY(table_name, property));";

class Db {
  public:
    ~Db() { sqlite3_close(db_); }
    sqlite3* db_ = nullptr;
    std::string path_;
    operator sqlite3*() const { return db_; }
};

class Stmt {
  public:
    ~Stmt() { sqlite3_finalize(st_); }
    int TryPrepare(const Db& db, const char* sql) {
        return sqlite3_prepare_v2(db, sql, -1, &st_, nullptr);
    }
    KCESTATUS Prepare(const Db& db, const char* sql) {
        int rc = TryPrepare(db, sql);
        return rc == SQLITE_OK ? KCESTATUS(KCE_SUCCESS)
                               : SqliteFail(db, rc, "dictionary " + db.path_);
    }
    void Bind(int i, const std::string& text) {
        sqlite3_bind_text(st_, i, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
    void Bind(int i, int64_t value) { sqlite3_bind_int64(st_, i, value); }
    std::string Text(int i) {
        const unsigned char* p = sqlite3_column_text(st_, i);
        return p ? std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(st_, i))
                 : std::string();
    }
    operator sqlite3_stmt*() const { return st_; }

  private:
    sqlite3_stmt* st_ = nullptr;
};

// Opens an existing dictionary and checks that it is one.
KCESTATUS Open(const std::string& path, bool write, Db* db) {
    db->path_ = path;
    struct stat st;
    if (::stat(rtl::OsPath(path).c_str(), &st) != 0)
        return Fail(KCE_FILE_NOT_FOUND, "dictionary " + path);
    if (!S_ISREG(st.st_mode)) return Fail(KCE_NOT_A_FILE, "dictionary " + path);
    int flags = write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    int rc = sqlite3_open_v2(rtl::OsPath(path).c_str(), &db->db_, flags, nullptr);
    if (rc != SQLITE_OK) return SqliteFail(db->db_, rc, "dictionary " + path);
    sqlite3_busy_timeout(db->db_, 5000);
    sqlite3_extended_result_codes(db->db_, 1);
    Stmt q;
    if (q.TryPrepare(*db, "SELECT value FROM kdd_info WHERE key = 'format'") != SQLITE_OK ||
        sqlite3_step(q) != SQLITE_ROW || q.Text(0) != kFormat) {
        return Fail(KCE_NOT_A_DICTIONARY, path);
    }
    return KCE_SUCCESS;
}

// Runs one statement that returns no rows; answers the number of rows it changed.
KCESTATUS Run(const Db& db, Stmt& st, int* changed = nullptr) {
    int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE) return SqliteFail(db, rc, "dictionary " + db.path_);
    if (changed) *changed = sqlite3_changes(db);
    return KCE_SUCCESS;
}

KCESTATUS NeedTable(const Db& db, const std::string& name) {
    Stmt q;
    if (KCESTATUS s = q.Prepare(db, "SELECT 1 FROM kdd_tables WHERE name = ?")) return s;
    q.Bind(1, name);
    int rc = sqlite3_step(q);
    if (rc == SQLITE_ROW) return KCE_SUCCESS;
    if (rc != SQLITE_DONE) return SqliteFail(db, rc, "dictionary " + db.path_);
    return Fail(KCE_TABLE_NOT_FOUND, "table '" + name + "' is not in dictionary " + db.path_);
}

KCESTATUS NeedProperty(UNSIGNED16 property, const std::string& table) {
    if (property == KCE_DD_TABLE_DEFAULT_INDEX) return KCE_SUCCESS;
    return Fail(KCE_UNKNOWN_PROPERTY,
                "table property " + std::to_string(property) + " of '" + table + "'");
}

// Whether a stored hash asks for a cost this engine could have written. Verifying runs the hash
// with the cost the hash itself names, so a damaged or hostile file could otherwise make one login
// take hours or gigabytes; such a hash is refused unread.
bool CostWithinBounds(const std::string& hash) {
    unsigned long long memoryKiB = 0, passes = 0, lanes = 0;
    int n = 0;
    if (std::sscanf(hash.c_str(), "$argon2id$v=%*u$m=%llu,t=%llu,p=%llu$%n", &memoryKiB, &passes,
                    &lanes, &n) != 3 ||
        n == 0) {
        return false;
    }
    return memoryKiB <= crypto_pwhash_MEMLIMIT_MODERATE / 1024 &&
           passes <= crypto_pwhash_OPSLIMIT_MODERATE && lanes >= 1 && lanes <= 16;
}

KCESTATUS NeedSodium() {
    if (sodium_init() < 0)
        return Fail(KCE_PASSWORD_HASH_FAILED, "the cipher library did not start");
    return KCE_SUCCESS;
}

}  // namespace

bool NamesDictionary(const std::string& given) {
    return Upper(given).find(".KDD") != std::string::npos;
}

KCESTATUS CreateDictionary(const std::string& path) {
    struct stat st;
    if (::stat(rtl::OsPath(path).c_str(), &st) == 0) return Fail(KCE_DICTIONARY_EXISTS, path);
    Db db;
    db.path_ = path;
    int rc = sqlite3_open_v2(rtl::OsPath(path).c_str(), &db.db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE,
                             nullptr);
    if (rc != SQLITE_OK) {
        KCESTATUS s = Fail(KCE_FILE_OPEN_FAILED, path + ": " + sqlite3_errstr(rc));
        return s;
    }
    std::string sql = std::string("BEGIN;") + kSchema + "INSERT INTO kdd_info VALUES('format', '" +
                      kFormat + "');COMMIT;";
    if (KCESTATUS s = SqliteExec(db, sql.c_str(), "dictionary " + path)) {
        sqlite3_close(db.db_);
        db.db_ = nullptr;
        ::unlink(rtl::OsPath(path).c_str());
        return s;
    }
    return KCE_SUCCESS;
}

KCESTATUS CheckDictionaryLogin(const std::string& path, const std::string& user,
                               const std::string& password) {
    if (KCESTATUS s = NeedSodium()) return s;
    Db db;
    if (KCESTATUS s = Open(path, false, &db)) return s;
    Stmt q;
    if (KCESTATUS s = q.Prepare(db, "SELECT password_hash FROM kdd_users WHERE name = ?")) return s;
    q.Bind(1, user);
    int rc = sqlite3_step(q);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return SqliteFail(db, rc, "dictionary " + path);
    std::string refused = "user '" + user + "' of dictionary " + path;
    if (rc == SQLITE_DONE) return Fail(KCE_LOGIN_FAILED, refused);
    std::string hash = q.Text(0);
    if (!CostWithinBounds(hash)) {
        return Fail(KCE_LOGIN_FAILED, refused + " (the stored password hash is damaged)");
    }
    if (crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) != 0) {
        return Fail(KCE_LOGIN_FAILED, refused);
    }
    return KCE_SUCCESS;
}

KCESTATUS AddDictionaryUser(const std::string& path, const std::string& user,
                            const std::string& password) {
    if (user.empty() || user.size() > KCE_MAX_USER_NAME_LEN) {
        return Fail(
            KCE_INVALID_USER_NAME,
            "'" + user + "': 1 to " + std::to_string(KCE_MAX_USER_NAME_LEN) + " characters");
    }
    if (KCESTATUS s = NeedSodium()) return s;
    Db db;
    if (KCESTATUS s = Open(path, true, &db)) return s;
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(hash, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
        return Fail(KCE_PASSWORD_HASH_FAILED, "user '" + user + "' of dictionary " + path);
    }
    Stmt ins;
    if (KCESTATUS s = ins.Prepare(db, "INSERT OR IGNORE INTO kdd_users VALUES(?, ?)")) return s;
    ins.Bind(1, user);
    ins.Bind(2, std::string(hash));
    sodium_memzero(hash, sizeof hash);
    int changed = 0;
    if (KCESTATUS s = Run(db, ins, &changed)) return s;
    if (changed == 0) return Fail(KCE_USER_EXISTS, "user '" + user + "' of dictionary " + path);
    return KCE_SUCCESS;
}

KCESTATUS DropDictionaryUser(const std::string& path, const std::string& user) {
    Db db;
    if (KCESTATUS s = Open(path, true, &db)) return s;
    Stmt del;
    if (KCESTATUS s = del.Prepare(db, "DELETE FROM kdd_users WHERE name = ?")) return s;
    del.Bind(1, user);
    int changed = 0;
    if (KCESTATUS s = Run(db, del, &changed)) return s;
    if (changed == 0) return Fail(KCE_USER_NOT_FOUND, "user '" + user + "' of dictionary " + path);
    return KCE_SUCCESS;
}

KCESTATUS DictionaryUsers(const std::string& path, std::vector<std::string>* users) {
    Db db;
    if (KCESTATUS s = Open(path, false, &db)) return s;
    Stmt q;
    if (KCESTATUS s = q.Prepare(db, "SELECT name FROM kdd_users ORDER BY name")) return s;
    users->clear();
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) users->push_back(q.Text(0));
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : SqliteFail(db, rc, "dictionary " + path);
}

KCESTATUS AddDictionaryTable(const std::string& path, const DictionaryTable& table) {
    if (table.name.empty() || table.file.empty()) {
        return Fail(KCE_INVALID_ARGUMENT, "a dictionary table needs a name and a file");
    }
    Db db;
    if (KCESTATUS s = Open(path, true, &db)) return s;
    if (KCESTATUS s = SqliteExec(db, "BEGIN IMMEDIATE", "dictionary " + path)) return s;
    auto body = [&]() -> KCESTATUS {
        Stmt ins;
        if (KCESTATUS s = ins.Prepare(db, "INSERT OR IGNORE INTO kdd_tables VALUES(?, ?, ?)"))
            return s;
        ins.Bind(1, table.name);
        ins.Bind(2, table.file);
        ins.Bind(3, int64_t(table.tableType));
        int changed = 0;
        if (KCESTATUS s = Run(db, ins, &changed)) return s;
        if (changed == 0) {
            return Fail(KCE_DICTIONARY_TABLE_EXISTS,
                        "table '" + table.name + "' of dictionary " + path);
        }
        int position = 0;
        for (const std::string& file : table.indexFiles) {
            Stmt idx;
            if (KCESTATUS s = idx.Prepare(db, "INSERT INTO kdd_table_indexes VALUES(?, ?, ?)"))
                return s;
            idx.Bind(1, table.name);
            idx.Bind(2, int64_t(++position));
            idx.Bind(3, file);
            if (KCESTATUS s = Run(db, idx)) return s;
        }
        return SqliteExec(db, "COMMIT", "dictionary " + path);
    };
    KCESTATUS s = body();
    if (s != KCE_SUCCESS) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return s;
}

KCESTATUS FindDictionaryTable(const std::string& path, const std::string& name,
                              DictionaryTable* table) {
    Db db;
    if (KCESTATUS s = Open(path, false, &db)) return s;
    Stmt q;
    if (KCESTATUS s = q.Prepare(db, "SELECT name, file, table_type FROM kdd_tables WHERE name = ?"))
        return s;
    q.Bind(1, name);
    int rc = sqlite3_step(q);
    if (rc == SQLITE_DONE) {
        return Fail(KCE_TABLE_NOT_FOUND, "table '" + name + "' is not in dictionary " + path);
    }
    if (rc != SQLITE_ROW) return SqliteFail(db, rc, "dictionary " + path);
    table->name = q.Text(0);
    table->file = q.Text(1);
    table->tableType = UNSIGNED16(sqlite3_column_int(q, 2));
    table->indexFiles.clear();
    Stmt idx;
    if (KCESTATUS s = idx.Prepare(
            db, "SELECT file FROM kdd_table_indexes WHERE table_name = ? ORDER BY position"))
        return s;
    idx.Bind(1, name);
    while ((rc = sqlite3_step(idx)) == SQLITE_ROW) table->indexFiles.push_back(idx.Text(0));
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : SqliteFail(db, rc, "dictionary " + path);
}

KCESTATUS DictionaryTableNames(const std::string& path, std::vector<std::string>* names) {
    Db db;
    if (KCESTATUS s = Open(path, false, &db)) return s;
    Stmt q;
    if (KCESTATUS s = q.Prepare(db, "SELECT name FROM kdd_tables ORDER BY name")) return s;
    names->clear();
    int rc;
    while ((rc = sqlite3_step(q)) == SQLITE_ROW) names->push_back(q.Text(0));
    return rc == SQLITE_DONE ? KCESTATUS(KCE_SUCCESS) : SqliteFail(db, rc, "dictionary " + path);
}

KCESTATUS GetDictionaryTableProperty(const std::string& path, const std::string& table,
                                     UNSIGNED16 property, std::string* value) {
    if (KCESTATUS s = NeedProperty(property, table)) return s;
    Db db;
    if (KCESTATUS s = Open(path, false, &db)) return s;
    if (KCESTATUS s = NeedTable(db, table)) return s;
    Stmt q;
    if (KCESTATUS s = q.Prepare(
            db, "SELECT value FROM kdd_table_properties WHERE table_name = ? AND property = ?"))
        return s;
    q.Bind(1, table);
    q.Bind(2, int64_t(property));
    int rc = sqlite3_step(q);
    if (rc == SQLITE_DONE) {
        return Fail(KCE_NO_PROPERTY, "table '" + table + "' of dictionary " + path +
                                         " has no property " + std::to_string(property));
    }
    if (rc != SQLITE_ROW) return SqliteFail(db, rc, "dictionary " + path);
    *value = q.Text(0);
    return KCE_SUCCESS;
}

KCESTATUS SetDictionaryTableProperty(const std::string& path, const std::string& table,
                                     UNSIGNED16 property, const std::string& value) {
    if (KCESTATUS s = NeedProperty(property, table)) return s;
    Db db;
    if (KCESTATUS s = Open(path, true, &db)) return s;
    if (KCESTATUS s = NeedTable(db, table)) return s;
    Stmt st;
    if (value.empty()) {
        if (KCESTATUS s = st.Prepare(
                db, "DELETE FROM kdd_table_properties WHERE table_name = ? AND property = ?"))
            return s;
    } else {
        if (KCESTATUS s = st.Prepare(db,
                                     "INSERT OR REPLACE INTO kdd_table_properties"
                                     " VALUES(?, ?, ?)"))
            return s;
        st.Bind(3, value);
    }
    st.Bind(1, table);
    st.Bind(2, int64_t(property));
    return Run(db, st);
}

}  // namespace kce
