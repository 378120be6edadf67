// Unit kdscnnct: the connection component TKdsConnection, the alias file KDS.INI, and the
// process-wide bookkeeping around connections (the registry of every connection, and the per-folder
// connections of datasets that have no connection component).
//
// A connection holds one engine connection to a data folder or to a data dictionary (a path that
// contains ".KDD"). Datasets attach to it by reference (their KdsConnection) or by name (their
// DatabaseName); opening an attached dataset connects on demand, disconnecting closes every
// attached dataset first.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kds/kdsengine.h"
#include "kds/kdsset.h"
#include "kds/kdssql.h"
#include "rtl/component.h"
#include "rtl/exceptions.h"
#include "rtl/stringlist.h"
#include "rtl/threads.h"

namespace kds {

class TKdsDataSet;
class TKdsConnection;

// Misuse of a connection (a property changed while connected, no connection string).
class KdsConnectionError : public rtl::Exception {
  public:
    using rtl::Exception::Exception;
};

namespace kdscnnct {
// An engine refusal met by a connection operation (disconnect, transactions, server name, table
// search). The message is the engine's last error text on this thread; when the engine cannot
// give it, the engine shows its own message box (titled msg::kKdsExceptionTitle) and the message
// stays empty.
class KdsError : public rtl::Exception {
  public:
    explicit KdsError(UNSIGNED32 status);
};
}  // namespace kdscnnct

using TKdsNotifyEvent = std::function<void(rtl::TComponent* sender)>;
// The user name and password go in and out.
using TKdsDatabaseLoginEvent =
    std::function<void(TKdsConnection& connection, std::string& userName, std::string& password)>;

// The login dialog of dictionary connections: answers false when the user cancels. The GUI layer
// has no such dialog yet; the program registers one (see SetKdsLoginDialog). Without one, a
// dictionary connection that prompts cannot connect.
using TKdsLoginDialog = std::function<bool(const std::string& databaseName, std::string& userName,
                                           std::string& password)>;
void SetKdsLoginDialog(TKdsLoginDialog dialog);

// Alias table types: 0 none, 1 CDX, 2 NTX, 3 KDT.
enum TKdsAliasTableType : uint8_t { atNone = 0, atCDX = 1, atNTX = 2, atKDT = 3 };

// One alias of the alias file: its folder (or dictionary path) and the table type its type
// letter names.
struct TKdsAlias {
    std::string Path;
    TKdsAliasTableType TableType = atNone;
};
// The alias file: KDS.INI in the running program's folder when it exists there, else KDS.INI in
// the working folder. Section [Databases], alias=path[;N|C|K].
std::string AliasFileName();
// False when the alias file has no non-empty path for the name.
bool FindAlias(const std::string& name, TKdsAlias& alias);

class TKdsConnection : public rtl::TComponent {
  public:
    explicit TKdsConnection(rtl::TComponent* owner = nullptr);
    ~TKdsConnection() override;

    // ---- Published properties -----------------------------------------------------------------
    const std::string& AliasName() const { return aliasName_; }
    // Raises KdsConnectionError while connected. A name the alias file does not know is kept and
    // reported when connecting.
    virtual void SetAliasName(const std::string& value);
    bool IsConnected() const { return connected_; }
    virtual void SetIsConnected(bool value);
    virtual std::string ConnectPath() const;
    // Raises KdsConnectionError while connected; clears the alias.
    virtual void SetConnectPath(const std::string& value);
    // Raises KdsConnectionError while disconnected, kdscnnct::KdsError on engine refusal.
    virtual std::string ServerName();
    virtual KDSHANDLE ConnectionHandle() const;
    TKdsServerTypes KdsServerTypes() const { return serverTypes_; }
    void SetKdsServerTypes(TKdsServerTypes value) { serverTypes_ = value; }
    bool LoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool value) { loginPrompt_ = value; }
    const std::string& Username() const { return username_; }
    void SetUsername(const std::string& value) { username_ = value.substr(0, kMaxCredential); }
    const std::string& Password() const { return password_; }
    void SetPassword(const std::string& value) { password_ = value.substr(0, kMaxCredential); }
    bool MiddleTierConnection() const { return middleTier_; }
    void SetMiddleTierConnection(bool value) { middleTier_ = value; }
    bool StoreConnected() const { return storeConnected_; }
    void SetStoreConnected(bool value) { storeConnected_ = value; }
    bool StoredProcedureConnection() const { return storedProcedure_; }
    void SetStoredProcedureConnection(bool value) { storedProcedure_ = value; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value) { readOnly_ = value; }

#define KDS_CONNECTION_EVENT(Name)                          \
    const TKdsNotifyEvent& Name() const { return Name##_; } \
    void Set##Name(TKdsNotifyEvent handler) { Name##_ = std::move(handler); }
    KDS_CONNECTION_EVENT(AfterCommit)
    KDS_CONNECTION_EVENT(BeforeCommit)
    KDS_CONNECTION_EVENT(AfterRollback)
    KDS_CONNECTION_EVENT(BeforeRollback)
    KDS_CONNECTION_EVENT(OnConnect)
    KDS_CONNECTION_EVENT(OnDisconnect)
    KDS_CONNECTION_EVENT(AfterConnect)
    KDS_CONNECTION_EVENT(BeforeConnect)
    KDS_CONNECTION_EVENT(AfterDisconnect)
    KDS_CONNECTION_EVENT(BeforeDisconnect)
#undef KDS_CONNECTION_EVENT
    const TKdsDatabaseLoginEvent& OnLogin() const { return OnLogin_; }
    void SetOnLogin(TKdsDatabaseLoginEvent handler) { OnLogin_ = std::move(handler); }

    // ---- Operations ---------------------------------------------------------------------------
    // "Local", "Remote", "Internet"; empty for other types and while disconnected.
    virtual std::string ConnectionType();
    // Raises KdsConnectionError while disconnected.
    virtual bool TransactionActive() const;
    virtual TKdsDataSet* DataSets(int index) const;
    virtual int DataSetCount() const;
    // Closes the statements ExecuteSQL kept (Commit, Rollback and Disconnect call it).
    virtual void CloseCachedStatements();
    // Runs a statement on the connection (connecting on demand): with parameters (at least one)
    // bound by number, else the text as it is. With a cursor place the result set's cursor goes
    // there and the answer is 0; without, the answer is the count of changed rows (-1 for a
    // query). keep caches the prepared statement for the next call with the same text (letter
    // case ignored) until CloseCachedStatements; otherwise it is closed when the call ends.
    virtual int32_t ExecuteSQL(const std::string& text, const db::TParams* params,
                               KDSHANDLE* cursor, bool keep);
    // The statements ExecuteSQL keeps, in order of first use.
    const std::vector<TStmtInfo>& CachedStatements() const { return statements_; }
    virtual bool IsDictionaryConnection() const { return dictionary_; }
    virtual void ConnectWith(const std::string& connectionString);
    virtual void Connect();
    virtual void Disconnect();
    virtual void RegisterDataSet(TKdsDataSet* dataSet);
    virtual void UnregisterDataSet(TKdsDataSet* dataSet);
    // The folder tables are found in: ConnectionString, or the folder of a dictionary file.
    virtual std::string TablePath() const;
    // The connect path, or the alias path when the connect path is empty.
    virtual std::string ConnectionString() const;
    virtual TKdsAliasTableType AliasTableType() const { return aliasTableType_; }
    virtual void BeginTransaction();
    virtual void Commit();
    virtual void Rollback();
    // Appends the tables of the connection's folder matching the mask (or the alias type's
    // extension) to the list.
    virtual void GetTableNames(rtl::TStrings* list, const std::string& mask);
    virtual void GetDictionaryObjectNames(rtl::TStrings* list);

    void SetName(const std::string& name) override;
    void Loaded() override;

  protected:
    virtual void DoAfterCommit();
    virtual void DoBeforeCommit();
    virtual void DoAfterRollback();
    virtual void DoBeforeRollback();
    virtual void DoOnConnect();
    virtual void DoOnDisconnect();

  private:
    static constexpr size_t kMaxConnectionString = 254;
    static constexpr size_t kMaxCredential = 260;

    void FireEvent(const TKdsNotifyEvent& event);
    // Runs the dictionary default-index rule of each attached table after connecting.
    void ApplyDictionaryDefaultIndexes();

    std::string aliasName_;
    bool aliasValid_ = true;
    bool connected_ = false;
    std::string connectPath_;
    bool transactionActive_ = false;
    KDSHANDLE handle_ = 0;
    std::vector<TKdsDataSet*> dataSets_;
    bool connectAfterLoading_ = false;
    std::string aliasPath_;
    TKdsAliasTableType aliasTableType_ = atNone;
    bool dictionary_ = false;
    bool loginPrompt_ = true;
    std::string username_;
    std::string password_;
    TKdsServerTypes serverTypes_;
    bool middleTier_ = false;
    bool storedProcedure_ = false;
    bool storeConnected_ = true;
    bool readOnly_ = false;
    TKdsNotifyEvent AfterCommit_, BeforeCommit_, AfterRollback_, BeforeRollback_, OnConnect_,
        OnDisconnect_, AfterConnect_, BeforeConnect_, AfterDisconnect_, BeforeDisconnect_;
    TKdsDatabaseLoginEvent OnLogin_;
    std::vector<TStmtInfo> statements_;
};

// Every live connection component, in creation order.
rtl::TThreadList<TKdsConnection>& ConnectionRegistry();

// The engine connections of datasets without a connection component: one per folder (compared
// ignoring case), made on first use and closed when the program ends.
class TDynamicConnList {
  public:
    TDynamicConnList() = default;
    ~TDynamicConnList();
    TDynamicConnList(const TDynamicConnList&) = delete;
    TDynamicConnList& operator=(const TDynamicConnList&) = delete;

    // The handle for the folder, connecting with KdsConnect when there is none yet; failures
    // raise EKDSDatabaseError without a dataset.
    KDSHANDLE HandleFor(const std::string& folder);
    int Count();

  private:
    struct TDynamicConn {
        KDSHANDLE Handle = 0;
        std::string Path;
    };
    rtl::TCriticalSection lock_;
    std::vector<TDynamicConn> entries_;
};

TDynamicConnList& DynamicConnList();

}  // namespace kds
