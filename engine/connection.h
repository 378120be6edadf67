// A connection: a data folder the tables of a handle are found in, or a data dictionary (whose
// folder is then the connection's). It owns nothing but its list of open table handles, which
// KdsDisconnect closes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/handles.h"
#include "engine/storage.h"

namespace kce {

class Connection : public HandleObject {
  public:
    Connection(std::string given, std::string folder)
        : given_(std::move(given)), folder_(std::move(folder)) {}
    UNSIGNED16 HandleType() const override { return KCE_HANDLE_CONNECTION; }

    // The path as the caller gave it, and the folder it resolved to.
    const std::string& Given() const { return given_; }
    const std::string& Folder() const { return folder_; }
    // The dictionary file of a dictionary connection, else empty.
    const std::string& Dictionary() const { return dictionary_; }
    void SetDictionary(std::string path) { dictionary_ = std::move(path); }

    // Table handles opened through this connection (KdsDisconnect closes them).
    std::vector<KDSHANDLE>& Tables() { return tables_; }

    // The transaction of the connection (KdsBeginTransaction): whether one is active, and the
    // tables in it, each held open until it ends, whatever handles close meanwhile.
    bool InTransaction() const { return inTransaction_; }
    void SetInTransaction(bool active) { inTransaction_ = active; }
    std::vector<std::shared_ptr<Storage>>& TransactionTables() { return transactionTables_; }

  private:
    std::string given_;
    std::string folder_;
    std::string dictionary_;
    std::vector<KDSHANDLE> tables_;
    bool inTransaction_ = false;
    std::vector<std::shared_ptr<Storage>> transactionTables_;
};

// Starts the connection's transaction with every table open through it.
KCESTATUS BeginTransaction(Connection& connection);
// Puts a table opened through the connection into its transaction, when one is active.
KCESTATUS JoinTransaction(Connection& connection, const std::shared_ptr<Storage>& storage);
// Commits or rolls back the connection's transaction (KCE_NO_TRANSACTION without one).
KCESTATUS EndTransaction(Connection& connection, bool commit);

}  // namespace kce
