#include "engine/sql/statement.h"

#include <sys/stat.h>

#include <algorithm>

#include "engine/connection.h"
#include "engine/dictionary/dictionary.h"
#include "engine/native/kdt_values.h"
#include "engine/paths.h"
#include "engine/sql/result_set.h"
#include "engine/sql/sql_table.h"
#include "engine/status.h"
#include "engine/storage.h"
#include "engine/text.h"
#include "rtl/edge.h"

namespace kce::sql {

// Statements may read and write the tables; they may not make, drop or attach anything, change
// SQLite's settings or run transactions of their own (the engine's transaction calls do that).
int Authorize(void* context, int action, const char*, const char*, const char*, const char*) {
    auto* statement = static_cast<Statement*>(context);
    if (statement->internal_) return SQLITE_OK;
    switch (action) {
        case SQLITE_SELECT:
        case SQLITE_READ:
        case SQLITE_INSERT:
        case SQLITE_UPDATE:
        case SQLITE_DELETE:
        case SQLITE_FUNCTION:
        case SQLITE_RECURSIVE:
            return SQLITE_OK;
        default:
            return SQLITE_DENY;
    }
}

namespace {

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(rtl::OsPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Blank(const char* tail) {
    for (; tail && *tail; ++tail) {
        if (*tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n' && *tail != ';')
            return false;
    }
    return true;
}

}  // namespace

Statement::Statement(KDSHANDLE connection, std::string folder)
    : connection_(connection), folder_(std::move(folder)) {}

Statement::~Statement() {
    if (stmt_) sqlite3_finalize(stmt_);
    if (db_) sqlite3_close(db_);
}

KCESTATUS Statement::Open() {
    int rc = sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) rc = RegisterTableModule(db_, this);
    if (rc != SQLITE_OK) {
        return Fail(KCE_SQL_FAILED, std::string("the SQL processor cannot start: ") +
                                        (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc)));
    }
    sqlite3_set_authorizer(db_, Authorize, this);
    return KCE_SUCCESS;
}

void Statement::NoteTableFailure(KCESTATUS status, const std::string& text) {
    if (tableStatus_) return;
    tableStatus_ = status;
    tableText_ = text;
}

void Statement::RemoveTable(SqlTable* table) { std::erase(tables_, table); }

bool Statement::FindTableFile(const std::string& name, std::string* path,
                              UNSIGNED16* tableType) const {
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) return false;
    // On a dictionary connection a name the dictionary holds is that table; any other name is a
    // free table of the dictionary's folder.
    std::shared_ptr<Connection> connection;
    if (Handles::Get(connection_, &connection, "connection") == KCE_SUCCESS &&
        !connection->Dictionary().empty()) {
        DictionaryTable table;
        if (FindDictionaryTable(connection->Dictionary(), name, &table) == KCE_SUCCESS) {
            *path = ResolvePath(table.file, connection->Folder());
            *tableType = table.tableType;
            return true;
        }
    }
    std::vector<std::string> candidates;
    std::string ext = Extension(name);
    const StorageKind* byExt = ext.empty() ? nullptr : FindStorageKindByExtension(ext);
    if (byExt) {
        candidates.push_back(name);
    } else {
        // A name without an extension is looked for as the statement's table type says,
        // native tables first when it says nothing.
        if (options_.tableType == KCE_DEFAULT_TABLE || options_.tableType == KCE_KDT)
            candidates.push_back(name + FindStorageKind(KCE_KDT)->extension);
        if (options_.tableType != KCE_KDT)
            candidates.push_back(name + FindStorageKind(KCE_CDX)->extension);
    }
    for (const std::string& candidate : candidates) {
        std::string resolved = ResolvePath(candidate, folder_);
        if (!FileExists(resolved)) continue;
        const StorageKind* kind = FindStorageKindByExtension(Extension(candidate));
        if (!kind) continue;
        *path = resolved;
        *tableType = kind->tableType;
        // An xBase file is opened as the table type the statement names (NTX or CDX).
        if (kind->tableType != KCE_KDT &&
            (options_.tableType == KCE_NTX || options_.tableType == KCE_CDX))
            *tableType = options_.tableType;
        return true;
    }
    return false;
}

KCESTATUS Statement::MakeTable(const std::string& name, bool* made) {
    *made = false;
    PendingTable table;
    if (!FindTableFile(native::AnsiText(name), &table.path, &table.tableType)) return KCE_SUCCESS;
    pending_ = table;
    std::string quoted;
    for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    internal_ = true;
    tableStatus_ = KCE_SUCCESS;
    int rc = sqlite3_exec(db_, ("CREATE VIRTUAL TABLE \"" + quoted + "\" USING kce").c_str(),
                          nullptr, nullptr, nullptr);
    internal_ = false;
    if (rc != SQLITE_OK) {
        if (tableStatus_) return Fail(tableStatus_, tableText_);
        return SqliteFailure(KCE_SQL_ERROR, rc);
    }
    *made = true;
    return KCE_SUCCESS;
}

KCESTATUS Statement::SqliteFailure(KCESTATUS status, int rc) {
    if ((rc & 0xFF) == SQLITE_AUTH) status = KCE_SQL_NOT_ALLOWED;
    if ((rc & 0xFF) == SQLITE_CONSTRAINT && status == KCE_SQL_FAILED) status = KCE_SQL_CONSTRAINT;
    std::string text = native::AnsiText(sqlite3_errmsg(db_));
    if (status == KCE_SQL_NOT_ALLOWED) {
        text +=
            " (statements read and change the folder's tables: they do not create, drop or "
            "attach anything, set pragmas or run transactions of their own)";
    }
    return Fail(status, text);
}

KCESTATUS Statement::Compile(const std::string& utf8, sqlite3_stmt** out) {
    // Each table the text names is made a virtual table when SQLite first misses it.
    for (int made = 0;; ++made) {
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v2(db_, utf8.c_str(), int(utf8.size()), out, &tail);
        if (rc == SQLITE_OK) {
            if (!*out) return Fail(KCE_SQL_ERROR, "the text holds no SQL statement");
            if (!Blank(tail)) {
                sqlite3_finalize(*out);
                *out = nullptr;
                return Fail(KCE_SQL_ERROR, "the text holds more than one SQL statement");
            }
            return KCE_SUCCESS;
        }
        std::string message = sqlite3_errmsg(db_);
        const std::string missing = "no such table: ";
        if (made < 200 && message.compare(0, missing.size(), missing) == 0) {
            std::string name = message.substr(missing.size());
            if (name.compare(0, 5, "main.") == 0) name = name.substr(5);
            bool madeOne = false;
            if (KCESTATUS s = MakeTable(name, &madeOne)) return s;
            if (madeOne) continue;
            return Fail(KCE_SQL_ERROR, native::AnsiText(message) +
                                           " (no table file of that name in " + folder_ + ")");
        }
        return SqliteFailure(KCE_SQL_ERROR, rc);
    }
}

KCESTATUS Statement::Prepare(std::string_view ansiText) {
    if (stmt_) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
    params_.clear();
    hasCount_ = false;
    ParsedStatement parsed;
    if (KCESTATUS s = ParseStatement(ansiText, &parsed)) return s;
    sqlite3_stmt* stmt = nullptr;
    if (KCESTATUS s = Compile(native::ColumnText(parsed.text), &stmt)) return s;
    // SQLite's own parameter forms (@x, $x) would take numbers past ours.
    if (size_t(sqlite3_bind_parameter_count(stmt)) > parsed.names.size()) {
        sqlite3_finalize(stmt);
        return Fail(KCE_SQL_PARAMETER, "parameters are written ':NAME' or '?'");
    }
    stmt_ = stmt;
    parsed_ = std::move(parsed);
    params_.assign(parsed_.names.size(), ParamValue());
    return KCE_SUCCESS;
}

KCESTATUS Statement::ParamSlots(const UNSIGNED8* param, std::vector<size_t>* slots) const {
    slots->clear();
    if (!stmt_) return Fail(KCE_SQL_NOT_PREPARED, "parameters are set after KdsPrepareSQL");
    uintptr_t value = reinterpret_cast<uintptr_t>(param);
    if (value < 65536) {
        if (value < 1 || value > params_.size()) {
            return Fail(KCE_SQL_PARAMETER, "parameter " + std::to_string(value) +
                                               ": the statement has " +
                                               std::to_string(params_.size()));
        }
        slots->push_back(size_t(value - 1));
        return KCE_SUCCESS;
    }
    std::string name(reinterpret_cast<const char*>(param));
    if (!name.empty() && name[0] == ':') name = name.substr(1);
    for (size_t i = 0; i < parsed_.names.size(); ++i) {
        if (!parsed_.names[i].empty() && SameText(parsed_.names[i], name)) slots->push_back(i);
    }
    if (slots->empty())
        return Fail(KCE_SQL_PARAMETER, "the statement has no parameter '" + name + "'");
    return KCE_SUCCESS;
}

KCESTATUS Statement::SetParam(const UNSIGNED8* param, ParamValue value) {
    std::vector<size_t> slots;
    if (KCESTATUS s = ParamSlots(param, &slots)) return s;
    for (size_t slot : slots) params_[slot] = value;
    return KCE_SUCCESS;
}

KCESTATUS Statement::RowsAffected(UNSIGNED32* count) const {
    if (!hasCount_) {
        return Fail(KCE_NO_ROW_COUNT, stmt_ ? "the statement gave a result set or has not run"
                                            : "no statement has been prepared");
    }
    *count = affected_;
    return KCE_SUCCESS;
}

void Statement::EndRun() {
    sqlite3_reset(stmt_);
    for (SqlTable* table : tables_) table->Close();
    readOnlyRun_ = false;
}

KCESTATUS Statement::Execute(KDSHANDLE* cursor) {
    *cursor = 0;
    if (!stmt_) return Fail(KCE_SQL_NOT_PREPARED, "KdsExecuteSQL needs KdsPrepareSQL first");
    std::shared_ptr<Connection> connection;
    if (Handles::Get(connection_, &connection, "connection") != KCE_SUCCESS) {
        return Fail(KCE_NOT_CONNECTED, "the statement's connection is closed");
    }
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    for (size_t i = 0; i < params_.size(); ++i) {
        const ParamValue& p = params_[i];
        int n = int(i + 1), rc = SQLITE_OK;
        switch (p.kind) {
            case ParamValue::kNull:
                break;
            case ParamValue::kInteger:
                rc = sqlite3_bind_int64(stmt_, n, p.integer);
                break;
            case ParamValue::kReal:
                rc = sqlite3_bind_double(stmt_, n, p.real);
                break;
            case ParamValue::kText:
                rc = sqlite3_bind_text(stmt_, n, p.bytes.data(), int(p.bytes.size()),
                                       SQLITE_TRANSIENT);
                break;
            case ParamValue::kBlob:
                rc = sqlite3_bind_blob(stmt_, n, p.bytes.data(), int(p.bytes.size()),
                                       SQLITE_TRANSIENT);
                break;
        }
        if (rc != SQLITE_OK) return SqliteFailure(KCE_SQL_PARAMETER, rc);
    }
    tableStatus_ = KCE_SUCCESS;
    tableText_.clear();
    hasCount_ = false;
    lastAutoinc_ = 0;
    readOnlyRun_ = sqlite3_stmt_readonly(stmt_) != 0;
    KCESTATUS status = KCE_SUCCESS;
    int rc = SQLITE_OK;
    if (sqlite3_column_count(stmt_) > 0) {
        status = RunQuery(stmt_, cursor, &rc);
    } else {
        while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
        }
        if (rc == SQLITE_DONE) {
            rc = SQLITE_OK;
            affected_ = UNSIGNED32(sqlite3_changes(db_));
            hasCount_ = true;
        }
    }
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        // A table's failure is answered with its own status; SQLite's with its text.
        if (tableStatus_) {
            status = Fail(tableStatus_, tableText_);
        } else {
            status = SqliteFailure(KCE_SQL_FAILED, rc);
        }
        if (*cursor) {
            Handles::Remove(*cursor);
            *cursor = 0;
        }
    }
    EndRun();
    return status;
}

KCESTATUS GetStatement(KDSHANDLE handle, std::shared_ptr<Statement>* out) {
    std::shared_ptr<HandleObject> obj = Handles::Find(handle);
    auto statement = std::dynamic_pointer_cast<Statement>(obj);
    if (!statement) {
        return Fail(KCE_INVALID_STATEMENT, "handle " + std::to_string(handle) +
                                               (obj ? " is not a statement" : " is not open"));
    }
    *out = std::move(statement);
    return KCE_SUCCESS;
}

bool IsStatement(KDSHANDLE handle) {
    return std::dynamic_pointer_cast<Statement>(Handles::Find(handle)) != nullptr;
}

KCESTATUS SetStatementNull(KDSHANDLE handle, const UNSIGNED8* param) {
    std::shared_ptr<Statement> statement;
    if (KCESTATUS s = GetStatement(handle, &statement)) return s;
    return statement->SetParam(param, ParamValue());
}

KCESTATUS StatementRowsAffected(KDSHANDLE handle, UNSIGNED32* count) {
    std::shared_ptr<Statement> statement;
    if (KCESTATUS s = GetStatement(handle, &statement)) return s;
    if (!count) return Fail(KCE_INVALID_ARGUMENT, "no result variable given");
    return statement->RowsAffected(count);
}

KCESTATUS StatementLastAutoinc(KDSHANDLE handle, UNSIGNED32* value) {
    std::shared_ptr<Statement> statement;
    if (KCESTATUS s = GetStatement(handle, &statement)) return s;
    if (!value) return Fail(KCE_INVALID_ARGUMENT, "no result variable given");
    *value = statement->LastAutoinc();
    return KCE_SUCCESS;
}

}  // namespace kce::sql
