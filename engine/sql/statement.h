// SQL statements: what a statement handle holds.
//
// SQLite is the SQL processor. Each statement has a private in-memory SQLite database in which the
// tables of its connection's folder appear as virtual tables (sql_table.h), made as the statement
// text names them; they read and write through the engine's own cursors, so indexes are kept,
// locks and exclusive opens are honoured, and the connection's transaction covers the writes.
// Table handles are open only while the statement runs.
//
// Text: the engine's bytes are Windows-1252; SQLite sees UTF-8. The statement text, text
// parameters and text values are translated at this boundary, both ways.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/handles.h"
#include "engine/sql/params.h"

namespace kce::sql {

class SqlTable;

// The statement options (KdsStmtSet...): how the statement opens the tables it names.
struct StatementOptions {
    UNSIGNED16 lockType = KCE_PROPRIETARY_LOCKING;
    UNSIGNED16 charType = KCE_ANSI;
    UNSIGNED16 rights = KCE_CHECK_RIGHTS;
    // 0: either kind, native first; 3 native; 1 or 2 xBase (NTX or CDX).
    UNSIGNED16 tableType = 0;
};

// A parameter value as it is bound.
struct ParamValue {
    enum Kind { kNull, kInteger, kReal, kText, kBlob } kind = kNull;
    int64_t integer = 0;
    double real = 0;
    std::string bytes;  // UTF-8 text or blob bytes
};

class Statement : public HandleObject {
  public:
    Statement(KDSHANDLE connection, std::string folder);
    ~Statement() override;
    UNSIGNED16 HandleType() const override { return KCE_HANDLE_STATEMENT; }

    KCESTATUS Open();
    StatementOptions& Options() { return options_; }
    KDSHANDLE ConnectionHandle() const { return connection_; }
    const std::string& Folder() const { return folder_; }

    // Compiles a text (its tables found in the folder); the parameters start unset (NULL).
    KCESTATUS Prepare(std::string_view ansiText);
    // Runs the prepared text. *cursor: the handle of the static result set of a query, 0 for a
    // statement that gives none.
    KCESTATUS Execute(KDSHANDLE* cursor);

    // The parameter numbers (0-based) a field argument names: KCE_FIELD_ORDINAL(n) or a name.
    KCESTATUS ParamSlots(const UNSIGNED8* param, std::vector<size_t>* slots) const;
    KCESTATUS SetParam(const UNSIGNED8* param, ParamValue value);

    // Rows the last run inserted, changed or deleted; KCE_NO_ROW_COUNT when it was a query or
    // nothing has run.
    KCESTATUS RowsAffected(UNSIGNED32* count) const;
    UNSIGNED32 LastAutoinc() const { return lastAutoinc_; }

    // For the virtual tables, while the statement runs.
    void NoteAutoinc(UNSIGNED32 value) { lastAutoinc_ = value; }
    // Keeps the first engine failure of a table so that the run answers it (SQLite would only
    // keep its text).
    void NoteTableFailure(KCESTATUS status, const std::string& text);
    // The file a table name stands for in the folder; false when there is none.
    bool FindTableFile(const std::string& name, std::string* path, UNSIGNED16* tableType) const;
    // The table whose virtual table is being made (xCreate reads it).
    struct PendingTable {
        std::string path;
        UNSIGNED16 tableType = 0;
    };
    const PendingTable& Pending() const { return pending_; }
    void AddTable(SqlTable* table) { tables_.push_back(table); }
    void RemoveTable(SqlTable* table);
    bool ReadOnlyRun() const { return readOnlyRun_; }

  private:
    KCESTATUS Compile(const std::string& utf8, sqlite3_stmt** out);
    KCESTATUS MakeTable(const std::string& name, bool* made);
    KCESTATUS SqliteFailure(KCESTATUS status, int rc);
    void EndRun();

    KDSHANDLE connection_;
    std::string folder_;
    StatementOptions options_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
    ParsedStatement parsed_;
    std::vector<ParamValue> params_;
    bool hasCount_ = false;
    UNSIGNED32 affected_ = 0;
    UNSIGNED32 lastAutoinc_ = 0;
    KCESTATUS tableStatus_ = KCE_SUCCESS;
    std::string tableText_;
    PendingTable pending_;
    std::vector<SqlTable*> tables_;
    bool readOnlyRun_ = false;
    bool internal_ = false;  // the statement's own SQL (not the caller's) is being run
    friend int Authorize(void*, int, const char*, const char*, const char*, const char*);
};

// The statement a handle names (KCE_INVALID_STATEMENT when it names none).
KCESTATUS GetStatement(KDSHANDLE handle, std::shared_ptr<Statement>* out);
// Whether a handle names a statement.
bool IsStatement(KDSHANDLE handle);
// The statement side of calls that take a table or a statement handle (KdsSetEmpty,
// KdsGetRecordCount, KdsGetLastAutoinc). The caller holds the engine lock.
KCESTATUS SetStatementNull(KDSHANDLE handle, const UNSIGNED8* param);
KCESTATUS StatementRowsAffected(KDSHANDLE handle, UNSIGNED32* count);
KCESTATUS StatementLastAutoinc(KDSHANDLE handle, UNSIGNED32* value);

}  // namespace kce::sql
