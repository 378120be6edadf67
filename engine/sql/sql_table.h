// The virtual tables through which SQLite reads and writes the engine's tables.
//
// A virtual table stands for one table file of the statement's folder. Its columns are the
// table's fields, declared with a type that gives SQLite the right affinity and that names the
// engine field it comes from ("TEXT_K4_30_0": char, length 30, no decimals), so that a result
// column taken straight from a field keeps that field's type. Its rowid is the record number.
//
// Values as SQLite sees them (NULL is the empty field of every type):
//   logical                   INTEGER 1 / 0
//   numeric                   INTEGER when it has no decimals, otherwise REAL
//   double, money             REAL
//   integer, shortint,autoinc INTEGER
//   date, compactdate         TEXT 'YYYY-MM-DD'
//   time                      TEXT 'HH:MM:SS.mmm'
//   timestamp                 TEXT 'YYYY-MM-DDTHH:MM:SS.mmm'
//   char                      TEXT, trailing blanks removed
//   memo, varchar             TEXT
//   binary, image, raw        BLOB
//
// Reads walk the table's storage in record-number order (records marked deleted follow the
// engine's show-deleted setting); writes go through a table handle of the statement's
// connection (KdsAppendRecord, KdsSetField, KdsWriteRecord, KdsDeleteRecord), so every index is
// kept, another handle's record lock or exclusive open refuses the write, and an active
// transaction of the connection takes the changes. Outside a transaction each statement is one:
// a statement that fails part way leaves its tables as they were.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/cursor.h"

namespace kce::sql {

class Statement;

// Registers the virtual table module ("kce") on a statement's database.
int RegisterTableModule(sqlite3* db, Statement* statement);

// The declared column type of a field ("TEXT_K4_30_0"), and the field it names back (false for a
// type that names none, such as an expression's).
std::string DeclaredType(const FieldDesc& field);
bool FieldOfDeclaredType(const char* declared, FieldSpec* out);

// The records of each value of one column, kept as hashes of the values' keys (see FieldKey in
// sql_table.cpp): a probe may also give a record whose value merely hashes alike, which SQLite's
// own check of the whole condition then drops.
class ColumnLookup {
  public:
    // (hash of the key, record number) for every record with a value, in record-number order.
    void Build(std::vector<std::pair<uint64_t, UNSIGNED32>> entries);
    // Appends the records whose key hashes as `key` does, in record-number order.
    void Find(std::string_view key, std::vector<UNSIGNED32>* out) const;
    static uint64_t Hash(std::string_view key);

  private:
    uint64_t mask_ = 0;
    std::vector<uint32_t> start_;  // per bucket, its first entry (one more: the end)
    std::vector<uint64_t> hashes_;
    std::vector<UNSIGNED32> recnos_;
};

class SqlTable {
  public:
    SqlTable(Statement* statement, std::string path, UNSIGNED16 tableType)
        : statement_(statement), path_(std::move(path)), tableType_(tableType) {}
    ~SqlTable();

    // Reads the layout (opening the table for a moment).
    KCESTATUS Load();
    const RecordLayout& Layout() const { return layout_; }
    const std::string& Path() const { return path_; }
    UNSIGNED32 RowsEstimate() const { return rows_; }

    // The table handle of the current run, opened on first use.
    KCESTATUS Cursor(std::shared_ptr<TableCursor>* out);
    // The records of each value of a column (its lookup keys), made by one scan on first use in a
    // run; a change to the table forgets them.
    KCESTATUS Lookup(int column, const ColumnLookup** out);
    void ForgetLookups() { lookups_.clear(); }
    // Closes the handle at the end of a run (a transaction of its own rolls back first).
    void Close();

    // The statement's own transaction on the table (when the connection has none).
    KCESTATUS Begin();
    KCESTATUS End(bool commit);

    Statement& Owner() { return *statement_; }

  private:
    Statement* statement_;
    std::string path_;
    UNSIGNED16 tableType_;
    RecordLayout layout_;
    UNSIGNED32 rows_ = 0;
    KDSHANDLE handle_ = 0;
    std::shared_ptr<TableCursor> cursor_;
    bool ownTransaction_ = false;
    std::map<int, ColumnLookup> lookups_;
};

}  // namespace kce::sql
