#include "engine/native/sqlite_status.h"

#include "engine/status.h"

namespace kce {

KCESTATUS SqliteFail(sqlite3* db, int rc, const std::string& where) {
    std::string detail = where + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    switch (rc & 0xFF) {
        case SQLITE_FULL:
            return Fail(KCE_DISK_FULL, detail);
        case SQLITE_READONLY:
            return Fail(KCE_TABLE_READ_ONLY, detail);
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return Fail(KCE_TABLE_IN_USE, detail);
        case SQLITE_CORRUPT:
            return Fail(KCE_DAMAGED_FILE, detail);
        case SQLITE_NOTADB:
            return Fail(KCE_WRONG_FILE_FORMAT, detail);
        case SQLITE_IOERR:
            return Fail(KCE_FILE_WRITE_FAILED, detail);
        case SQLITE_CANTOPEN:
            return Fail(KCE_FILE_OPEN_FAILED, detail);
        case SQLITE_NOMEM:
            return Fail(KCE_OUT_OF_MEMORY, detail);
        default:
            return Fail(KCE_INTERNAL_ERROR, detail);
    }
}

KCESTATUS SqliteExec(sqlite3* db, const char* sql, const std::string& where) {
    int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return KCE_SUCCESS;
    return SqliteFail(db, rc, where);
}

}  // namespace kce
