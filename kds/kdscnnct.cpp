#include "kds/kdscnnct.h"

#include <algorithm>
#include <mutex>

#include "gui/application.h"
#include "kds/kdsdata.h"
#include "kds/kdsengineerror.h"
#include "rtl/inifiles.h"
#include "rtl/paths.h"
#include "rtl/textutils.h"

namespace kds {
namespace {

constexpr const char* kAliasFile = "KDS.INI";
constexpr const char* kAliasSection = "Databases";
constexpr UNSIGNED16 kServerNameCapacity = 255;
constexpr UNSIGNED16 kTableNameCapacity = 260;
constexpr UNSIGNED16 kObjectNameCapacity = 200;

TKdsLoginDialog& LoginDialog() {
    static TKdsLoginDialog dialog;
    return dialog;
}

bool ContainsKdd(const std::string& path) {
    return rtl::UpperCase(path).find(".KDD") != std::string::npos;
}

std::string TextOf(const UNSIGNED8* bytes, UNSIGNED16 length) {
    std::string text(reinterpret_cast<const char*>(bytes), length);
    size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

void CheckConnection(KCESTATUS status) {
    if (status != KCE_SUCCESS) throw kdscnnct::KdsError(status);
}

}  // namespace

// ---- Errors
// -----------------------------------------------------------------------------------------

kdscnnct::KdsError::KdsError(UNSIGNED32 status)
    : rtl::Exception(KdsErrorMessage(status, EngineErrorSource::LastError)) {}

void SetKdsLoginDialog(TKdsLoginDialog dialog) { LoginDialog() = std::move(dialog); }

// ---- The alias file
// ---------------------------------------------------------------------------------

std::string AliasFileName() {
    std::string program = rtl::ProgramFileName();
    if (!program.empty()) {
        std::string beside = rtl::JoinPath(rtl::ExtractFileDir(program), kAliasFile);
        if (rtl::FileExists(beside)) return beside;
    }
    return kAliasFile;
}

bool FindAlias(const std::string& name, TKdsAlias& alias) {
    if (name.empty()) return false;
    rtl::TIniFile file(AliasFileName());
    std::string value = file.ReadString(kAliasSection, name, "");
    alias = TKdsAlias{};
    size_t semicolon = value.find(';');
    if (semicolon != std::string::npos) {
        char letter = semicolon + 1 < value.size() ? value[semicolon + 1] : ' ';
        switch (letter) {
            case 'N':
            case 'n':
                alias.TableType = atNTX;
                break;
            case 'C':
            case 'c':
                alias.TableType = atCDX;
                break;
            case 'K':
            case 'k':
                alias.TableType = atKDT;
                break;
            default:
                break;
        }
        value.resize(semicolon);
    }
    alias.Path = value;
    return !value.empty();
}

// ---- Registry
// ---------------------------------------------------------------------------------------

rtl::TThreadList<TKdsConnection>& ConnectionRegistry() {
    // Never destroyed: components that outlive the program's static objects may still leave it.
    static auto* registry = new rtl::TThreadList<TKdsConnection>();
    return *registry;
}

// ---- TKdsConnection
// ---------------------------------------------------------------------------------

TKdsConnection::TKdsConnection(rtl::TComponent* owner) : rtl::TComponent(owner) {
    ConnectionRegistry().Add(this);
}

TKdsConnection::~TKdsConnection() {
    std::vector<TKdsDataSet*> attached = dataSets_;
    if (connected_) {
        // Destruction disconnects without the before and after events.
        for (TKdsDataSet* dataSet : attached) {
            // A table that cannot close cleanly is closed all the same (its handle is
            // forgotten); a destructor has nobody to report that to.
            try {
                dataSet->Close();
            } catch (...) {
            }
            dataSet->ConnectionLost();
            dataSet->ForgetConnection();
        }
        KCESTATUS status = KdsDisconnect(handle_);
        handle_ = 0;
        connected_ = false;
        dataSets_.clear();
        ConnectionRegistry().Remove(this);
        // A destructor must not throw: a refusal other than "not connected" is dropped here,
        // the handle being gone either way.
        (void)status;
        if (OnDisconnect_) {
            try {
                OnDisconnect_(this);
            } catch (...) {
            }
        }
        return;
    }
    for (TKdsDataSet* dataSet : attached) dataSet->ForgetConnection();
    dataSets_.clear();
    ConnectionRegistry().Remove(this);
}

void TKdsConnection::FireEvent(const TKdsNotifyEvent& event) {
    if (event) event(this);
}

void TKdsConnection::DoAfterCommit() { FireEvent(AfterCommit_); }
void TKdsConnection::DoBeforeCommit() { FireEvent(BeforeCommit_); }
void TKdsConnection::DoAfterRollback() { FireEvent(AfterRollback_); }
void TKdsConnection::DoBeforeRollback() { FireEvent(BeforeRollback_); }
void TKdsConnection::DoOnConnect() { FireEvent(OnConnect_); }
void TKdsConnection::DoOnDisconnect() { FireEvent(OnDisconnect_); }

std::string TKdsConnection::ConnectPath() const { return connectPath_; }

void TKdsConnection::SetConnectPath(const std::string& value) {
    if (connected_) throw KdsConnectionError(std::string(msg::kConnectPathWhileConnected));
    connectPath_ = value;
    dictionary_ = ContainsKdd(value);
    aliasName_.clear();
    aliasPath_.clear();
    aliasTableType_ = atNone;
}

void TKdsConnection::SetAliasName(const std::string& value) {
    if (connected_) throw KdsConnectionError(std::string(msg::kAliasNameWhileConnected));
    aliasValid_ = true;
    if (value.empty()) {
        aliasName_.clear();
        aliasPath_.clear();
        aliasTableType_ = atNone;
        return;
    }
    TKdsAlias alias;
    if (!FindAlias(value, alias)) {
        aliasValid_ = false;
        aliasName_ = value;
        aliasPath_.clear();
        aliasTableType_ = atNone;
        return;
    }
    connectPath_.clear();
    aliasName_ = value;
    aliasPath_ = alias.Path;
    aliasTableType_ = alias.TableType;
    dictionary_ = ContainsKdd(alias.Path);
    if (Owner() == nullptr || aliasTableType_ == atNone) return;
    // The attached datasets of the same owner that address this connection follow its type.
    for (int i = 0; i < Owner()->ComponentCount(); ++i) {
        auto* dataSet = dynamic_cast<TKdsDataSet*>(Owner()->Components(i));
        if (dataSet == nullptr || dataSet->KdsConnection() != this) continue;
        if (!dataSet->DatabaseName().empty() && dataSet->DatabaseName() != Name()) continue;
        dataSet->FollowAliasTableType(aliasTableType_);
    }
}

void TKdsConnection::SetIsConnected(bool value) {
    if (value) {
        Connect();
    } else {
        Disconnect();
    }
}

void TKdsConnection::Connect() {
    if (connected_) return;
    if (IsLoading()) {
        connectAfterLoading_ = true;
        return;
    }
    if (!aliasValid_) {
        SetAliasName(aliasName_);
        if (!aliasValid_) throw KdsConnectionError(std::string(msg::kAliasNotValid));
    }
    if (ConnectionString().empty()) {
        connected_ = false;
        throw KdsConnectionError(std::string(msg::kNoConnectionString));
    }
    {
        gui::TWaitCursor wait(gui::crHourGlass);
        FireEvent(BeforeConnect_);
        ConnectWith(ConnectionString());
    }
    connected_ = true;
    if (dictionary_) ApplyDictionaryDefaultIndexes();
    FireEvent(AfterConnect_);
    DoOnConnect();
}

void TKdsConnection::ApplyDictionaryDefaultIndexes() {
    for (TKdsDataSet* dataSet : std::vector<TKdsDataSet*>(dataSets_)) {
        dataSet->ApplyDictionaryDefaultIndex();
    }
}

void TKdsConnection::ConnectWith(const std::string& connectionString) {
    std::string user = username_;
    std::string password = password_;
    if (loginPrompt_ && dictionary_) {
        user.clear();
        password.clear();
        if (OnLogin_) {
            OnLogin_(*this, user, password);
        } else {
            user = username_;
            bool accepted = LoginDialog() && LoginDialog()(Name(), user, password);
            if (!accepted) db::DatabaseErrorFmt(msg::kCannotConnect, {Name()});
        }
        username_ = user.substr(0, kMaxCredential);
    }
    if (!dictionary_) {
        user.clear();
        password.clear();
    }
    UNSIGNED16 mask = ServerTypeMask(serverTypes_);
    UNSIGNED32 options = (middleTier_ ? 1u : 0u) + (storedProcedure_ ? 2u : 0u);
    std::string path = connectionString.substr(0, kMaxConnectionString);
    user = user.substr(0, kMaxCredential);
    password = password.substr(0, kMaxCredential);
    KDSHANDLE handle = 0;
    CheckKdsStatus(nullptr, KdsConnect60(KceText(path), mask, KceText(user), KceText(password),
                                         options, &handle));
    handle_ = handle;
}

void TKdsConnection::Disconnect() {
    if (!connected_) return;
    FireEvent(BeforeDisconnect_);
    for (TKdsDataSet* dataSet : std::vector<TKdsDataSet*>(dataSets_)) {
        dataSet->Close();
        dataSet->ConnectionLost();
    }
    CloseCachedStatements();
    CheckConnection(KdsDisconnect(handle_));
    handle_ = 0;
    FireEvent(AfterDisconnect_);
    DoOnDisconnect();
    connected_ = false;
}

void TKdsConnection::Loaded() {
    rtl::TComponent::Loaded();
    if (connectAfterLoading_ && !connected_) {
        connectAfterLoading_ = false;
        Connect();
    }
}

void TKdsConnection::SetName(const std::string& name) {
    rtl::TComponent::SetName(name);
    if (Owner() == nullptr) return;
    // Datasets read before a connection of this name existed hold the name only: bind them.
    std::string qualified = Owner()->Name() + "." + Name();
    std::vector<TKdsDataSet*> rebind;
    {
        rtl::TLockedList<TKdsDataSet> registry(DataSetRegistry());
        for (TKdsDataSet* dataSet : registry.Items()) {
            if (dataSet->Owner() == nullptr) continue;
            if (rtl::SameText(dataSet->Owner()->Name() + "." + dataSet->DatabaseName(),
                              qualified)) {
                rebind.push_back(dataSet);
            }
        }
    }
    for (TKdsDataSet* dataSet : rebind) dataSet->SetDatabaseName(Name());
}

std::string TKdsConnection::ServerName() {
    if (!connected_) throw KdsConnectionError(std::string(msg::kServerNameNeedsConnection));
    UNSIGNED8 buffer[kServerNameCapacity + 1] = {};
    UNSIGNED16 length = kServerNameCapacity;
    CheckConnection(KdsGetServerName(handle_, buffer, &length));
    return TextOf(buffer, length);
}

KDSHANDLE TKdsConnection::ConnectionHandle() const { return connected_ ? handle_ : 0; }

std::string TKdsConnection::ConnectionType() {
    if (!connected_) return {};
    UNSIGNED16 type = 0;
    CheckConnection(KdsGetConnectionType(handle_, &type));
    switch (type) {
        case KCE_LOCAL_SERVER:
            return "Local";
        case KCE_REMOTE_SERVER:
            return "Remote";
        case KCE_INTERNET_SERVER:
            return "Internet";
        default:
            return {};
    }
}

bool TKdsConnection::TransactionActive() const {
    if (!connected_) throw KdsConnectionError(std::string(msg::kNoServerConnection));
    return transactionActive_;
}

TKdsDataSet* TKdsConnection::DataSets(int index) const {
    if (index < 0 || index >= static_cast<int>(dataSets_.size())) rtl::ListIndexError(index);
    return dataSets_[static_cast<size_t>(index)];
}

int TKdsConnection::DataSetCount() const { return static_cast<int>(dataSets_.size()); }

void TKdsConnection::RegisterDataSet(TKdsDataSet* dataSet) { dataSets_.push_back(dataSet); }

void TKdsConnection::UnregisterDataSet(TKdsDataSet* dataSet) {
    auto it = std::find(dataSets_.begin(), dataSets_.end(), dataSet);
    if (it != dataSets_.end()) dataSets_.erase(it);
}

std::string TKdsConnection::ConnectionString() const {
    return connectPath_.empty() ? aliasPath_ : connectPath_;
}

std::string TKdsConnection::TablePath() const {
    std::string text = ConnectionString();
    // "x.ext" at the end names a file (a dictionary) whose folder holds the tables, unless it is a
    // folder: one that exists, or any path that is neither a dictionary nor an existing file (a
    // folder named "hr.old" is never read as a file in "/data", whose tables could differ). Both
    // "\\" and "/" separate folders.
    const bool fileShape = text.size() >= 5 && text[text.size() - 4] == '.';
    const bool namesFile =
        fileShape && !rtl::DirectoryExists(text) &&
        (rtl::UpperCase(text.substr(text.size() - 4)) == ".KDD" || rtl::FileExists(text));
    if (namesFile) {
        size_t slash = text.find_last_of("\\/");
        return slash == std::string::npos ? std::string(".\\") : text.substr(0, slash);
    }
    return text;
}

void TKdsConnection::BeginTransaction() {
    if (!connected_) throw KdsConnectionError(std::string(msg::kNoServerConnection));
    CheckConnection(KdsBeginTransaction(handle_));
    transactionActive_ = true;
}

void TKdsConnection::Commit() {
    if (!connected_) throw KdsConnectionError(std::string(msg::kNoServerConnection));
    DoBeforeCommit();
    CloseCachedStatements();
    CheckConnection(KdsCommitTransaction(handle_));
    transactionActive_ = false;
    DoAfterCommit();
}

void TKdsConnection::Rollback() {
    if (!connected_) throw KdsConnectionError(std::string(msg::kNoServerConnection));
    DoBeforeRollback();
    CloseCachedStatements();
    CheckConnection(KdsRollbackTransaction(handle_));
    transactionActive_ = false;
    DoAfterRollback();
}

void TKdsConnection::GetTableNames(rtl::TStrings* list, const std::string& mask) {
    if (!connected_) throw KdsConnectionError(std::string(msg::kNoServerConnection));
    if (list == nullptr) return;
    std::string pattern;
    if (!dictionary_) {
        std::string folder = ConnectionString();
        if (!folder.empty() && folder.back() == '\\') folder.pop_back();
        std::string fileMask = mask;
        if (aliasTableType_ == atKDT) {
            fileMask = "*.kdt";
        } else if (aliasTableType_ == atCDX || aliasTableType_ == atNTX) {
            fileMask = "*.dbf";
        }
        pattern = folder + "\\" + fileMask;
    }
    UNSIGNED8 name[kTableNameCapacity + 1] = {};
    UNSIGNED16 length = kTableNameCapacity;
    KDSHANDLE search = 0;
    KCESTATUS status = KdsFindFirstTable(handle_, KceText(pattern), name, &length, &search);
    // The search handle, once there, is closed whatever happens to the list.
    struct SearchCloser {
        KDSHANDLE& search;
        ~SearchCloser() {
            if (search != 0) KdsFindClose(search);
        }
    } closer{search};
    while (status == KCE_SUCCESS) {
        list->Add(TextOf(name, length));
        length = kTableNameCapacity;
        status = KdsFindNextTable(search, name, &length);
    }
    if (status != KCE_NO_MORE_TABLES) CheckConnection(status);
}

void TKdsConnection::GetDictionaryObjectNames(rtl::TStrings* list) {
    if (!connected_) Connect();
    if (list == nullptr || !dictionary_) return;
    UNSIGNED8 name[kObjectNameCapacity + 1] = {};
    UNSIGNED16 length = kObjectNameCapacity;
    KDSHANDLE search = 0;
    KCESTATUS status =
        KdsDDFindFirstObject(handle_, KCE_DD_TABLE_OBJECT, KceText(""), name, &length, &search);
    struct SearchCloser {
        KDSHANDLE& search;
        ~SearchCloser() {
            if (search != 0) KdsDDFindClose(search);
        }
    } closer{search};
    while (status == KCE_SUCCESS) {
        list->Add(TextOf(name, length));
        length = kObjectNameCapacity;
        status = KdsDDFindNextObject(search, name, &length);
    }
    if (status != KCE_NO_MORE_OBJECTS) CheckKdsStatus(nullptr, status);
}

// ---- Per-folder connections
// -------------------------------------------------------------------------

TDynamicConnList::~TDynamicConnList() {
    // The program is ending: a refused disconnect has nobody left to tell.
    for (TDynamicConn& entry : entries_) KdsDisconnect(entry.Handle);
    entries_.clear();
}

KDSHANDLE TDynamicConnList::HandleFor(const std::string& folder) {
    KCESTATUS status = KCE_SUCCESS;
    {
        std::lock_guard<rtl::TCriticalSection> guard(lock_);
        for (const TDynamicConn& entry : entries_) {
            if (rtl::SameText(entry.Path, folder)) return entry.Handle;
        }
        KDSHANDLE handle = 0;
        status = KdsConnect(KceText(folder), &handle);
        if (status == KCE_SUCCESS) {
            try {
                entries_.push_back(TDynamicConn{handle, folder});
            } catch (...) {
                KdsDisconnect(handle);
                return 0;
            }
            return handle;
        }
    }
    // Raised with the list unlocked.
    CheckKdsStatus(nullptr, status);
    return 0;
}

int TDynamicConnList::Count() {
    std::lock_guard<rtl::TCriticalSection> guard(lock_);
    return static_cast<int>(entries_.size());
}

TDynamicConnList& DynamicConnList() {
    static TDynamicConnList list;
    return list;
}

}  // namespace kds
