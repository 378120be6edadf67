// Transactions of a connection. A transaction belongs to a connection: every table opened
// through it, before or during the transaction, is in it. Native tables keep it in SQLite, DBF
// tables in a rollback journal beside the table (storage.h, journal.h).
#include <algorithm>

#include "engine/connection.h"
#include "engine/cursor.h"
#include "engine/handles.h"
#include "engine/invariant.h"
#include "engine/status.h"

namespace kce {
namespace {

// The detail of the thread's last error, without the fixed text of its status.
std::string DetailOf(KCESTATUS status) {
    std::string text = LastText();
    std::string prefix = std::string(StatusText(status) ? StatusText(status) : "") + ": ";
    return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

}  // namespace

KCESTATUS JoinTransaction(Connection& connection, const std::shared_ptr<Storage>& storage) {
    if (!connection.InTransaction()) return KCE_SUCCESS;
    auto& tables = connection.TransactionTables();
    if (std::find(tables.begin(), tables.end(), storage) != tables.end()) return KCE_SUCCESS;
    if (storage->InTransaction()) {
        return Fail(KCE_TRANSACTION_ACTIVE,
                    "table " + storage->Path() + " is in the transaction of another connection");
    }
    if (KCESTATUS s = storage->BeginTransaction()) return s;
    tables.push_back(storage);
    KCE_INVARIANT(storage->InTransaction());
    return KCE_SUCCESS;
}

KCESTATUS EndTransaction(Connection& connection, bool commit) {
    if (!connection.InTransaction()) {
        return Fail(KCE_NO_TRANSACTION, "connection to " + connection.Given());
    }
    // Pending appends and edits of the connection's handles belong to no transaction.
    for (KDSHANDLE handle : connection.Tables()) {
        std::shared_ptr<TableCursor> cursor;
        if (Handles::Get(handle, &cursor, "table") == KCE_SUCCESS) cursor->DiscardPending();
    }
    // Each table commits (or rolls back) on its own: a failure is answered after every table
    // has been ended, so that none is left in the transaction.
    KCESTATUS first = KCE_SUCCESS;
    std::string text;
    for (auto& storage : connection.TransactionTables()) {
        KCESTATUS s = commit ? storage->CommitTransaction() : storage->RollbackTransaction();
        if (s && !first) {
            first = s;
            text = DetailOf(s);
        }
        // A table whose commit failed is not left in the transaction.
        if (s && commit && storage->InTransaction()) storage->RollbackTransaction();
    }
    // Every table has left the transaction, whether it ended well or not: none stays in one that
    // its connection no longer has.
    if constexpr (kInvariants) {
        for (const auto& storage : connection.TransactionTables()) {
            KCE_INVARIANT(!storage->InTransaction());
        }
    }
    connection.TransactionTables().clear();
    connection.SetInTransaction(false);
    if (!first) return KCE_SUCCESS;
    return Fail(first, text);
}

KCESTATUS BeginTransaction(Connection& connection) {
    if (connection.InTransaction()) {
        return Fail(KCE_TRANSACTION_ACTIVE, "connection to " + connection.Given());
    }
    connection.SetInTransaction(true);
    for (KDSHANDLE table : connection.Tables()) {
        std::shared_ptr<TableCursor> cursor;
        if (Handles::Get(table, &cursor, "table") != KCE_SUCCESS) continue;
        if (KCESTATUS s = JoinTransaction(connection, cursor->SharedStorage())) {
            std::string text = DetailOf(s);
            EndTransaction(connection, false);
            return Fail(s, text);
        }
    }
    // One transaction deep: each table of the connection is in it once.
    if constexpr (kInvariants) {
        const auto& tables = connection.TransactionTables();
        for (const auto& storage : tables) {
            KCE_INVARIANT(storage->InTransaction());
            KCE_INVARIANT(std::count(tables.begin(), tables.end(), storage) == 1);
        }
    }
    return KCE_SUCCESS;
}

}  // namespace kce
