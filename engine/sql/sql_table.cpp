#include "engine/sql/sql_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/connection.h"
#include "engine/expr/value.h"
#include "engine/field_text.h"
#include "engine/native/kdt_storage.h"
#include "engine/native/kdt_values.h"
#include "engine/paths.h"
#include "engine/settings.h"
#include "engine/sql/statement.h"
#include "engine/status.h"
#include "engine/table.h"
#include "engine/text.h"
#include "rtl/edge.h"

namespace kce::sql {
namespace {

// What SQLite holds for a virtual table and for one of its cursors.
struct VTab {
    sqlite3_vtab base;
    SqlTable* table;
};

struct VCursor {
    sqlite3_vtab_cursor base;
    SqlTable* table = nullptr;
    std::shared_ptr<TableCursor> handle;  // keeps the table open while the cursor lives
    bool single = false;                  // a rowid lookup: one record at most
    bool lookup = false;                  // an equality lookup: the candidates below
    std::vector<UNSIGNED32> candidates;
    size_t next = 0;
    bool eof = true;
    UNSIGNED32 recno = 0;
    // A native table's full scan hands SQLite its stored columns where they are the fields'
    // values, and reads the record image only for a column that is not (`loaded` then).
    bool direct = false;
    bool loaded = true;
    std::vector<uint8_t> image;
};

SqlTable* TableOf(sqlite3_vtab* vtab) { return reinterpret_cast<VTab*>(vtab)->table; }

// The detail of the thread's last error (without the fixed text of its status).
std::string LastDetail() {
    const char* fixed = StatusText(LastStatus());
    std::string text = LastText();
    std::string prefix = std::string(fixed ? fixed : "") + ": ";
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

// Hands an engine failure to SQLite (its text) and to the statement (its status).
int Refuse(sqlite3_vtab* vtab, KCESTATUS status) {
    std::string text = LastText();
    TableOf(vtab)->Owner().NoteTableFailure(status, LastDetail());
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_mprintf("%s", native::ColumnText(text).c_str());
    return status == KCE_DUPLICATE_KEY ? SQLITE_CONSTRAINT : SQLITE_ERROR;
}

const char* Affinity(UNSIGNED16 type, UNSIGNED16 decimals) {
    switch (type) {
        case KCE_LOGICAL:
        case KCE_INTEGER:
        case KCE_SHORTINT:
        case KCE_AUTOINC:
            return "INT";
        case KCE_NUMERIC:
            return decimals ? "REAL" : "INT";
        case KCE_DOUBLE:
        case KCE_CURDOUBLE:
            return "REAL";
        case KCE_BINARY:
        case KCE_IMAGE:
        case KCE_RAW:
            return "BLOB";
        default:
            return "TEXT";
    }
}

ExprField ExprFieldOf(const FieldDesc& f) {
    ExprField e;
    e.name = f.name;
    e.type = f.type;
    e.offset = int(f.offset);
    e.length = int(f.length);
    e.decimals = f.decimals;
    return e;
}

void ResultText(sqlite3_context* ctx, const std::string& utf8) {
    sqlite3_result_text(ctx, utf8.data(), int(utf8.size()), SQLITE_TRANSIENT);
}

// One field of a record image as SQLite's value.
KCESTATUS ColumnValue(sqlite3_context* ctx, Storage& storage, UNSIGNED32 recno, int index,
                      const uint8_t* image) {
    const FieldDesc& f = storage.Layout().fields[size_t(index)];
    if (IsBlobType(f.type)) {
        BlobValue blob;
        if (KCESTATUS s = storage.ReadBlob(recno, index, &blob)) return s;
        if (blob.isNull) {
            sqlite3_result_null(ctx);
        } else if (f.type == KCE_MEMO || f.type == KCE_VARCHAR) {
            ResultText(ctx, native::ColumnText(blob.bytes));
        } else {
            sqlite3_result_blob(ctx, blob.bytes.data(), int(blob.bytes.size()), SQLITE_TRANSIENT);
        }
        return KCE_SUCCESS;
    }
    if (storage.IsNull(index, image)) {
        sqlite3_result_null(ctx);
        return KCE_SUCCESS;
    }
    if (f.type == KCE_STRING) {
        // The storage's text form: trailing blanks off, the OEM page translated.
        std::string text;
        if (KCESTATUS s = storage.FieldToText(index, image, &text)) return s;
        ResultText(ctx, native::ColumnText(text));
        return KCE_SUCCESS;
    }
    if (f.type == KCE_RAW) {
        sqlite3_result_blob(ctx, image + f.offset, int(f.length), SQLITE_TRANSIENT);
        return KCE_SUCCESS;
    }
    Value v = DecodeField(ExprFieldOf(f), image + f.offset);
    switch (f.type) {
        case KCE_LOGICAL:
            sqlite3_result_int(ctx, v.logical ? 1 : 0);
            break;
        case KCE_NUMERIC:
            if (f.decimals == 0 && std::fabs(v.number) < 9.0e15 &&
                v.number == std::trunc(v.number)) {
                sqlite3_result_int64(ctx, sqlite3_int64(v.number));
            } else {
                sqlite3_result_double(ctx, v.number);
            }
            break;
        case KCE_DOUBLE:
        case KCE_CURDOUBLE:
            sqlite3_result_double(ctx, v.number);
            break;
        case KCE_INTEGER:
        case KCE_SHORTINT:
        case KCE_AUTOINC:
            sqlite3_result_int64(ctx, sqlite3_int64(v.number));
            break;
        case KCE_DATE:
        case KCE_COMPACTDATE:
            if (v.day == 0) {
                sqlite3_result_null(ctx);
            } else {
                ResultText(ctx, FormatIsoDate(v.day));
            }
            break;
        case KCE_TIME:
            ResultText(ctx, FormatTimeOfDay(uint32_t(v.ms)));
            break;
        case KCE_TIMESTAMP:
            if (v.day == 0) {
                sqlite3_result_null(ctx);
            } else {
                ResultText(ctx, FormatIsoDate(v.day) + "T" + FormatTimeOfDay(uint32_t(v.ms)));
            }
            break;
        default:
            sqlite3_result_null(ctx);
    }
    return KCE_SUCCESS;
}

std::string NumberText(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

// Sets a field of the pending record from SQLite's value, through the field's text form.
KCESTATUS SetFromValue(TableCursor& cursor, int index, sqlite3_value* v) {
    const FieldDesc& f = cursor.Layout().fields[size_t(index)];
    std::string text;
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            return cursor.SetEmpty(index);
        case SQLITE_INTEGER: {
            sqlite3_int64 n = sqlite3_value_int64(v);
            text = f.type == KCE_LOGICAL ? (n ? "T" : "F") : std::to_string(n);
            break;
        }
        case SQLITE_FLOAT: {
            double d = sqlite3_value_double(v);
            text = f.type == KCE_LOGICAL ? (d != 0 ? "T" : "F") : NumberText(d);
            break;
        }
        case SQLITE_TEXT: {
            const char* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
            std::string_view utf8(p ? p : "", size_t(sqlite3_value_bytes(v)));
            std::string missing;
            std::optional<std::string> ansi = native::ColumnValueText(utf8, &missing);
            if (!ansi) {
                return Fail(KCE_INVALID_FIELD_VALUE, "field '" + f.name +
                                                         "': the value holds the "
                                                         "character " +
                                                         missing + ", which code page 1252 lacks");
            }
            text = std::move(*ansi);
            break;
        }
        default: {
            const void* p = sqlite3_value_blob(v);
            text.assign(static_cast<const char*>(p ? p : ""), size_t(sqlite3_value_bytes(v)));
            break;
        }
    }
    return cursor.SetText(index, text);
}

// Moves a cursor to the next record to show, from the one after `after`.
KCESTATUS Advance(VCursor& c, UNSIGNED32 after) {
    Storage& storage = c.handle->Store();
    bool showDeleted = CurrentSettings().showDeleted || !storage.HasDeletedMarks();
    UNSIGNED32 recno = after;
    for (;;) {
        UNSIGNED32 next = 0;
        if (KCESTATUS s = storage.NextRecno(recno, &next)) return s;
        if (next == 0) {
            c.eof = true;
            return KCE_SUCCESS;
        }
        recno = next;
        if (c.direct) {
            // The scan found the record; its columns are read as they are asked for.
            c.recno = recno;
            c.loaded = false;
            c.eof = false;
            return KCE_SUCCESS;
        }
        bool exists = false, deleted = false;
        if (KCESTATUS s = storage.ReadRecord(recno, c.image.data(), &exists, &deleted)) return s;
        if (!exists || (deleted && !showDeleted)) continue;
        c.recno = recno;
        c.eof = false;
        return KCE_SUCCESS;
    }
}

std::string NumberKey(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "N%.17g", d);
    return buf;
}

// The lookup key of a field's value, as its SQL value compares: "N" and the number, "T" and the
// text, "B" and the bytes; false for an empty field (NULL equals nothing).
KCESTATUS FieldKey(Storage& storage, int index, const uint8_t* image, std::string* key,
                   bool* present) {
    const FieldDesc& f = storage.Layout().fields[size_t(index)];
    *present = false;
    if (storage.IsNull(index, image)) return KCE_SUCCESS;
    if (f.type == KCE_STRING) {
        std::string text;
        if (KCESTATUS s = storage.FieldToText(index, image, &text)) return s;
        *key = "T" + native::ColumnText(text);
        *present = true;
        return KCE_SUCCESS;
    }
    if (f.type == KCE_RAW) {
        *key = "B" + std::string(reinterpret_cast<const char*>(image + f.offset), f.length);
        *present = true;
        return KCE_SUCCESS;
    }
    Value v = DecodeField(ExprFieldOf(f), image + f.offset);
    switch (f.type) {
        case KCE_LOGICAL:
            *key = NumberKey(v.logical ? 1 : 0);
            break;
        case KCE_DATE:
        case KCE_COMPACTDATE:
            if (v.day == 0) return KCE_SUCCESS;
            *key = "T" + FormatIsoDate(v.day);
            break;
        case KCE_TIME:
            *key = "T" + FormatTimeOfDay(uint32_t(v.ms));
            break;
        case KCE_TIMESTAMP:
            if (v.day == 0) return KCE_SUCCESS;
            *key = "T" + FormatIsoDate(v.day) + "T" + FormatTimeOfDay(uint32_t(v.ms));
            break;
        default:
            *key = NumberKey(v.number);
    }
    *present = true;
    return KCE_SUCCESS;
}

// Every key a value may equal under SQL's affinity rules (a number and its text both ways).
std::vector<std::string> ValueKeys(sqlite3_value* v) {
    std::vector<std::string> keys;
    switch (sqlite3_value_type(v)) {
        case SQLITE_NULL:
            break;
        case SQLITE_BLOB: {
            const void* p = sqlite3_value_blob(v);
            keys.push_back("B" + std::string(static_cast<const char*>(p ? p : ""),
                                             size_t(sqlite3_value_bytes(v))));
            break;
        }
        case SQLITE_TEXT: {
            const char* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
            std::string text(p ? p : "", size_t(sqlite3_value_bytes(v)));
            keys.push_back("T" + text);
            double d = 0;
            if (ParseDouble(text, &d)) keys.push_back(NumberKey(d));
            break;
        }
        default: {
            keys.push_back(NumberKey(sqlite3_value_double(v)));
            const char* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
            keys.push_back("T" + std::string(p ? p : ""));
        }
    }
    return keys;
}

// Moves a lookup cursor to its next candidate that is still there to show.
KCESTATUS AdvanceCandidate(VCursor& c) {
    Storage& storage = c.handle->Store();
    bool showDeleted = CurrentSettings().showDeleted || !storage.HasDeletedMarks();
    while (c.next < c.candidates.size()) {
        UNSIGNED32 recno = c.candidates[c.next++];
        bool exists = false, deleted = false;
        if (KCESTATUS s = storage.ReadRecord(recno, c.image.data(), &exists, &deleted)) return s;
        if (!exists || (deleted && !showDeleted)) continue;
        c.recno = recno;
        c.loaded = true;
        c.eof = false;
        return KCE_SUCCESS;
    }
    c.eof = true;
    return KCE_SUCCESS;
}

int Connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char** err) {
    auto* statement = static_cast<Statement*>(aux);
    const Statement::PendingTable& pending = statement->Pending();
    auto table = std::make_unique<SqlTable>(statement, pending.path, pending.tableType);
    if (KCESTATUS s = table->Load()) {
        statement->NoteTableFailure(s, LastDetail());
        *err = sqlite3_mprintf("%s", native::ColumnText(LastText()).c_str());
        return SQLITE_ERROR;
    }
    std::string declaration = "CREATE TABLE x(";
    const auto& fields = table->Layout().fields;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) declaration += ", ";
        std::string name;
        for (char ch : fields[i].name) name += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        declaration += "\"" + native::ColumnText(name) + "\" " + DeclaredType(fields[i]);
    }
    declaration += ")";
    if (int rc = sqlite3_declare_vtab(db, declaration.c_str())) {
        *err = sqlite3_mprintf("%s", sqlite3_errmsg(db));
        return rc;
    }
    auto* vtab = new VTab();
    vtab->table = table.release();
    statement->AddTable(vtab->table);
    *out = &vtab->base;
    return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* base) {
    auto* vtab = reinterpret_cast<VTab*>(base);
    vtab->table->Owner().RemoveTable(vtab->table);
    delete vtab->table;
    delete vtab;
    return SQLITE_OK;
}

int BestIndex(sqlite3_vtab* base, sqlite3_index_info* info) {
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.usable && c.iColumn == -1 && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            info->idxNum = 1;
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            info->estimatedCost = 1;
            info->estimatedRows = 1;
            info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
            return SQLITE_OK;
        }
    }
    double rows = double(TableOf(base)->RowsEstimate()) + 1;
    // An equality on a column is served by the table's lookup of that column (built once a run,
    // by one scan), so that a join reads each table once instead of once a row.
    const RecordLayout& layout = TableOf(base)->Layout();
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (!c.usable || c.iColumn < 0 || c.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
        if (IsBlobType(layout.fields[size_t(c.iColumn)].type)) continue;
        const char* collation = sqlite3_vtab_collation(info, i);
        if (collation && sqlite3_stricmp(collation, "BINARY") != 0) continue;
        info->idxNum = 2 + c.iColumn;
        info->aConstraintUsage[i].argvIndex = 1;
        info->aConstraintUsage[i].omit = 0;  // SQLite checks the rows the lookup gives
        info->estimatedCost = 20;
        info->estimatedRows = 10;
        return SQLITE_OK;
    }
    info->idxNum = 0;
    info->estimatedCost = rows;
    info->estimatedRows = sqlite3_int64(rows);
    return SQLITE_OK;
}

int OpenCursor(sqlite3_vtab* base, sqlite3_vtab_cursor** out) {
    SqlTable* table = TableOf(base);
    auto c = std::make_unique<VCursor>();
    c->table = table;
    if (KCESTATUS s = table->Cursor(&c->handle)) return Refuse(base, s);
    // Without its password an encrypted table's records read as empty images; a statement
    // would answer with blanks as if they were the data, so it is refused instead.
    if (!c->handle->Store().Unlocked()) {
        return Refuse(base,
                      Fail(KCE_PASSWORD_REQUIRED,
                           c->handle->Store().Path() + " is encrypted: give its password first"));
    }
    c->image.assign(c->handle->Layout().recordLength, 0);
    c->direct = native::OffersScanColumns(c->handle->Store());
    *out = &c.release()->base;
    return SQLITE_OK;
}

int CloseCursor(sqlite3_vtab_cursor* base) {
    delete reinterpret_cast<VCursor*>(base);
    return SQLITE_OK;
}

int Filter(sqlite3_vtab_cursor* base, int idxNum, const char*, int argc, sqlite3_value** argv) {
    auto& c = *reinterpret_cast<VCursor*>(base);
    c.single = idxNum == 1;
    if (c.single) {
        c.eof = true;
        if (argc < 1 || sqlite3_value_numeric_type(argv[0]) != SQLITE_INTEGER) return SQLITE_OK;
        sqlite3_int64 wanted = sqlite3_value_int64(argv[0]);
        if (wanted < 1 || wanted > 0xFFFFFFFFll) return SQLITE_OK;
        // The record before the wanted one, then one step.
        if (KCESTATUS s = Advance(c, UNSIGNED32(wanted - 1))) return Refuse(base->pVtab, s);
        if (!c.eof && c.recno != UNSIGNED32(wanted)) c.eof = true;
        return SQLITE_OK;
    }
    c.lookup = idxNum >= 2;
    if (c.lookup) {
        c.candidates.clear();
        c.next = 0;
        const ColumnLookup* lookup = nullptr;
        if (KCESTATUS s = c.table->Lookup(idxNum - 2, &lookup)) return Refuse(base->pVtab, s);
        std::vector<std::string> keys;
        if (argc >= 1) keys = ValueKeys(argv[0]);
        for (const std::string& key : keys) lookup->Find(key, &c.candidates);
        // Each key's records come in record order; those of two keys are merged.
        if (keys.size() > 1) {
            std::sort(c.candidates.begin(), c.candidates.end());
            c.candidates.erase(std::unique(c.candidates.begin(), c.candidates.end()),
                               c.candidates.end());
        }
        if (KCESTATUS s = AdvanceCandidate(c)) return Refuse(base->pVtab, s);
        return SQLITE_OK;
    }
    if (KCESTATUS s = Advance(c, 0)) return Refuse(base->pVtab, s);
    return SQLITE_OK;
}

int Next(sqlite3_vtab_cursor* base) {
    auto& c = *reinterpret_cast<VCursor*>(base);
    if (c.single) {
        c.eof = true;
        return SQLITE_OK;
    }
    if (c.lookup) {
        if (KCESTATUS s = AdvanceCandidate(c)) return Refuse(base->pVtab, s);
        return SQLITE_OK;
    }
    if (KCESTATUS s = Advance(c, c.recno)) return Refuse(base->pVtab, s);
    return SQLITE_OK;
}

int Eof(sqlite3_vtab_cursor* base) { return reinterpret_cast<VCursor*>(base)->eof; }

int Column(sqlite3_vtab_cursor* base, sqlite3_context* ctx, int index) {
    auto& c = *reinterpret_cast<VCursor*>(base);
    // An UPDATE leaves the columns it does not change alone.
    if (sqlite3_vtab_nochange(ctx)) return SQLITE_OK;
    Storage& storage = c.handle->Store();
    if (!c.loaded) {
        if (sqlite3_value* v = native::ScanColumn(storage, c.recno, index)) {
            // (A text goes into the result's own buffer, which lasts from row to row.)
            switch (sqlite3_value_type(v)) {
                case SQLITE_TEXT:
                    sqlite3_result_text(ctx, reinterpret_cast<const char*>(sqlite3_value_text(v)),
                                        sqlite3_value_bytes(v), SQLITE_TRANSIENT);
                    break;
                case SQLITE_INTEGER:
                    sqlite3_result_int64(ctx, sqlite3_value_int64(v));
                    break;
                case SQLITE_FLOAT:
                    sqlite3_result_double(ctx, sqlite3_value_double(v));
                    break;
                default:
                    sqlite3_result_null(ctx);
            }
            return SQLITE_OK;
        }
        // The scan moved on (another cursor of the table read meanwhile), or the value is not
        // in its plain form: the record itself.
        bool exists = false, deleted = false;
        KCESTATUS s = storage.ReadRecord(c.recno, c.image.data(), &exists, &deleted);
        if (!s && !exists) {
            s = Fail(KCE_INVALID_RECORD, storage.Path() + ": record " + std::to_string(c.recno) +
                                             " went away while the statement read it");
        }
        if (s) return Refuse(base->pVtab, s);
        c.loaded = true;
    }
    if (KCESTATUS s = ColumnValue(ctx, storage, c.recno, index, c.image.data()))
        return Refuse(base->pVtab, s);
    return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
    *rowid = reinterpret_cast<VCursor*>(base)->recno;
    return SQLITE_OK;
}

KCESTATUS Goto(TableCursor& cursor, sqlite3_value* rowid) {
    sqlite3_int64 recno = sqlite3_value_int64(rowid);
    if (recno < 1 || recno > 0xFFFFFFFFll) {
        return Fail(KCE_INVALID_RECORD, "record " + std::to_string(recno));
    }
    return cursor.GotoRecord(UNSIGNED32(recno));
}

int Update(sqlite3_vtab* base, int argc, sqlite3_value** argv, sqlite3_int64* rowid) {
    SqlTable* table = TableOf(base);
    std::shared_ptr<TableCursor> cursor;
    if (KCESTATUS s = table->Cursor(&cursor)) return Refuse(base, s);
    TableCursor& c = *cursor;
    table->ForgetLookups();
    const size_t fields = c.Layout().fields.size();
    KCESTATUS s = KCE_SUCCESS;
    if (argc == 1) {
        s = Goto(c, argv[0]);
        if (!s) s = c.Delete();
    } else if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        if (sqlite3_value_type(argv[1]) != SQLITE_NULL) {
            s = Fail(KCE_NOT_SUPPORTED, "a new record's number is the table's to choose");
        }
        if (!s) s = c.Append();
        for (size_t i = 0; !s && i < fields && int(i) + 2 < argc; ++i) {
            sqlite3_value* v = argv[i + 2];
            // The appended record starts empty (and its autoincrement field counts on).
            if (sqlite3_value_type(v) == SQLITE_NULL) continue;
            s = SetFromValue(c, int(i), v);
        }
        if (!s) s = c.Write();
        if (!s) {
            *rowid = c.Recno();
            for (const FieldDesc& f : c.Layout().fields) {
                if (f.type != KCE_AUTOINC) continue;
                UNSIGNED32 value = 0;
                if (c.Store().LastAutoinc(&value) == KCE_SUCCESS) table->Owner().NoteAutoinc(value);
            }
        }
    } else {
        if (sqlite3_value_int64(argv[0]) != sqlite3_value_int64(argv[1])) {
            s = Fail(KCE_NOT_SUPPORTED, "a record's number cannot be changed");
        }
        if (!s) s = Goto(c, argv[0]);
        for (size_t i = 0; !s && i < fields && int(i) + 2 < argc; ++i) {
            sqlite3_value* v = argv[i + 2];
            if (sqlite3_value_nochange(v)) continue;
            s = SetFromValue(c, int(i), v);
        }
        if (!s) s = c.Write();
    }
    if (s) {
        c.DiscardPending();
        return Refuse(base, s);
    }
    return SQLITE_OK;
}

int Begin(sqlite3_vtab* base) {
    if (KCESTATUS s = TableOf(base)->Begin()) return Refuse(base, s);
    return SQLITE_OK;
}

int Sync(sqlite3_vtab*) { return SQLITE_OK; }

int Commit(sqlite3_vtab* base) {
    if (KCESTATUS s = TableOf(base)->End(true)) return Refuse(base, s);
    return SQLITE_OK;
}

int Rollback(sqlite3_vtab* base) {
    if (KCESTATUS s = TableOf(base)->End(false)) return Refuse(base, s);
    return SQLITE_OK;
}

sqlite3_module MakeModule() {
    sqlite3_module m{};
    m.iVersion = 1;
    m.xCreate = Connect;
    m.xConnect = Connect;
    m.xBestIndex = BestIndex;
    m.xDisconnect = Disconnect;
    // Dropping the virtual table forgets it; the table file stays (DROP is refused anyway).
    m.xDestroy = Disconnect;
    m.xOpen = OpenCursor;
    m.xClose = CloseCursor;
    m.xFilter = Filter;
    m.xNext = Next;
    m.xEof = Eof;
    m.xColumn = Column;
    m.xRowid = Rowid;
    m.xUpdate = Update;
    m.xBegin = Begin;
    m.xSync = Sync;
    m.xCommit = Commit;
    m.xRollback = Rollback;
    return m;
}

const sqlite3_module kModule = MakeModule();

}  // namespace

int RegisterTableModule(sqlite3* db, Statement* statement) {
    return sqlite3_create_module(db, "kce", &kModule, statement);
}

std::string DeclaredType(const FieldDesc& field) {
    return std::string(Affinity(field.type, field.decimals)) + "_K" + std::to_string(field.type) +
           "_" + std::to_string(field.length) + "_" + std::to_string(field.decimals);
}

bool FieldOfDeclaredType(const char* declared, FieldSpec* out) {
    if (!declared) return false;
    const char* k = std::strstr(declared, "_K");
    if (!k) return false;
    unsigned type = 0, length = 0, decimals = 0;
    if (std::sscanf(k, "_K%u_%u_%u", &type, &length, &decimals) != 3) return false;
    if (!FindFieldType(UNSIGNED16(type))) return false;
    out->type = UNSIGNED16(type);
    out->length = length;
    out->decimals = UNSIGNED16(decimals);
    return true;
}

SqlTable::~SqlTable() { Close(); }

KCESTATUS SqlTable::Load() {
    OpenArgs args;
    args.path = path_;
    args.tableType = tableType_;
    args.charType = statement_->Options().charType;
    args.options = KCE_OPEN_READ_ONLY;
    KDSHANDLE handle = 0;
    if (KCESTATUS s = OpenTable(args, &handle)) return s;
    std::shared_ptr<TableCursor> cursor;
    KCESTATUS s = Handles::Get(handle, &cursor, "table");
    if (!s) {
        layout_ = cursor->Layout();
        if (cursor->Store().RecordEstimate(&rows_) != KCE_SUCCESS) rows_ = 1000000;
    }
    CloseTable(handle);
    return s;
}

KCESTATUS SqlTable::Cursor(std::shared_ptr<TableCursor>* out) {
    if (cursor_) {
        *out = cursor_;
        return KCE_SUCCESS;
    }
    OpenArgs args;
    args.path = path_;
    args.tableType = tableType_;
    args.charType = statement_->Options().charType;
    args.options = statement_->ReadOnlyRun() ? KCE_OPEN_READ_ONLY : 0;
    args.connection = statement_->ConnectionHandle();
    KDSHANDLE handle = 0;
    if (KCESTATUS s = OpenTable(args, &handle)) return s;
    std::shared_ptr<TableCursor> cursor;
    if (KCESTATUS s = Handles::Get(handle, &cursor, "table")) return s;
    handle_ = handle;
    cursor_ = cursor;
    const RecordLayout& now = cursor->Layout();
    bool same = now.fields.size() == layout_.fields.size();
    for (size_t i = 0; same && i < now.fields.size(); ++i) {
        same = now.fields[i].name == layout_.fields[i].name &&
               now.fields[i].type == layout_.fields[i].type;
    }
    if (!same) {
        Close();
        return Fail(KCE_SQL_FAILED, "the fields of table '" + FileName(path_) +
                                        "' changed since the statement was prepared");
    }
    // An NTX table keeps no list of its indexes; its .ntx files are those named in
    // TABLE.ntxlist beside it (one file name a line, from the table's folder), as kdstool keeps
    // them. A change keeps each right; a listed file that is missing stops the statement.
    if (cursor->Store().TableType() == KCE_NTX && !statement_->ReadOnlyRun()) {
        std::string listPath = Sibling(path_, ".ntxlist");
        std::ifstream list(rtl::OsPath(listPath));
        std::string folder = std::filesystem::path(path_).parent_path().string();
        std::string line;
        while (list && std::getline(list, line)) {
            size_t end = line.find_last_not_of(" \t\r");
            if (end == std::string::npos) continue;
            line.resize(end + 1);
            // The list is a file on disk: its names are UTF-8.
            std::string file = ResolvePath(rtl::PathFromOs(line).value_or(line), folder);
            UNSIGNED16 count = 0;
            if (KCESTATUS s = KdsOpenIndex(handle, reinterpret_cast<const UNSIGNED8*>(file.c_str()),
                                           nullptr, &count)) {
                std::string detail = LastDetail() + " (listed in " + FileName(listPath) + ")";
                Close();
                return Fail(s, detail);
            }
        }
    }
    *out = cursor_;
    return KCE_SUCCESS;
}

KCESTATUS SqlTable::Lookup(int column, const ColumnLookup** out) {
    auto found = lookups_.find(column);
    if (found != lookups_.end()) {
        *out = &found->second;
        return KCE_SUCCESS;
    }
    std::shared_ptr<TableCursor> cursor;
    if (KCESTATUS s = Cursor(&cursor)) return s;
    Storage& storage = cursor->Store();
    std::vector<std::pair<uint64_t, UNSIGNED32>> entries;
    std::string key;
    KCESTATUS s =
        storage.ScanField(column, [&](UNSIGNED32 recno, const uint8_t* image, bool) -> KCESTATUS {
            bool present = false;
            if (KCESTATUS s = FieldKey(storage, column, image, &key, &present)) return s;
            if (present) entries.emplace_back(ColumnLookup::Hash(key), recno);
            return KCE_SUCCESS;
        });
    if (s) return s;
    ColumnLookup& lookup = lookups_[column];
    lookup.Build(std::move(entries));
    *out = &lookup;
    return KCE_SUCCESS;
}

uint64_t ColumnLookup::Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }

void ColumnLookup::Build(std::vector<std::pair<uint64_t, UNSIGNED32>> entries) {
    size_t buckets = 1;
    while (buckets < entries.size()) buckets <<= 1;
    mask_ = buckets - 1;
    // A counting sort by bucket keeps each bucket's records in record order.
    start_.assign(buckets + 1, 0);
    for (const auto& e : entries) ++start_[(e.first & mask_) + 1];
    for (size_t b = 0; b < buckets; ++b) start_[b + 1] += start_[b];
    hashes_.resize(entries.size());
    recnos_.resize(entries.size());
    std::vector<uint32_t> fill(start_.begin(), start_.end() - 1);
    for (const auto& e : entries) {
        uint32_t at = fill[e.first & mask_]++;
        hashes_[at] = e.first;
        recnos_[at] = e.second;
    }
}

void ColumnLookup::Find(std::string_view key, std::vector<UNSIGNED32>* out) const {
    if (start_.empty()) return;
    uint64_t hash = Hash(key);
    size_t b = hash & mask_;
    for (uint32_t i = start_[b]; i < start_[b + 1]; ++i) {
        if (hashes_[i] == hash) out->push_back(recnos_[i]);
    }
}

void SqlTable::Close() {
    lookups_.clear();
    if (ownTransaction_) End(false);
    if (handle_) CloseTable(handle_);
    handle_ = 0;
    cursor_.reset();
}

KCESTATUS SqlTable::Begin() {
    std::shared_ptr<TableCursor> cursor;
    if (KCESTATUS s = Cursor(&cursor)) return s;
    std::shared_ptr<Connection> connection;
    if (Handles::Get(statement_->ConnectionHandle(), &connection, "connection") == KCE_SUCCESS &&
        connection->InTransaction()) {
        return KCE_SUCCESS;  // the connection's transaction holds the changes
    }
    Storage& storage = cursor->Store();
    if (storage.InTransaction()) return KCE_SUCCESS;
    if (KCESTATUS s = storage.BeginTransaction()) return s;
    ownTransaction_ = true;
    return KCE_SUCCESS;
}

KCESTATUS SqlTable::End(bool commit) {
    if (!ownTransaction_ || !cursor_) return KCE_SUCCESS;
    ownTransaction_ = false;
    Storage& storage = cursor_->Store();
    if (commit) {
        KCESTATUS s = storage.CommitTransaction();
        if (s && storage.InTransaction()) storage.RollbackTransaction();
        return s;
    }
    cursor_->DiscardPending();
    return storage.RollbackTransaction();
}

}  // namespace kce::sql
