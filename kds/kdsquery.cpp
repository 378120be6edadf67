#include "kds/kdsquery.h"

#include <cmath>
#include <set>
#include <vector>

#include "dataset/names.h"
#include "dataset/statement_text.h"
#include "gui/application.h"
#include "kds/kdsdata_limits.h"
#include "kds/kdsengine.h"
#include "kds/kdssql.h"
#include "rtl/exceptions.h"

namespace kds {
namespace {

constexpr KCESTATUS kPrepareFailed = 7209;

// Puts the screen cursor back however the run ends.
class ScreenCursor {
  public:
    explicit ScreenCursor(gui::TCursor cursor) : saved_(gui::Screen().Cursor()) {
        gui::Screen().SetCursor(cursor);
    }
    ~ScreenCursor() { gui::Screen().SetCursor(saved_); }

  private:
    gui::TCursor saved_;
};

}  // namespace

// ---- TKdsQueryDataLink ----------------------------------------------------------------------

db::TDataSet* TKdsQueryDataLink::DetailDataSet() const { return query_; }

void TKdsQueryDataLink::ActiveChanged() {
    if (query_->Active()) query_->RefreshFromMaster();
}

void TKdsQueryDataLink::RecordChanged(db::TField* field) {
    if (field == nullptr && query_->Active()) query_->RefreshFromMaster();
}

void TKdsQueryDataLink::CheckBrowseMode() {
    if (query_->Active()) query_->EnsureBrowseMode();
}

// ---- TKdsQuery ------------------------------------------------------------------------------

TKdsQuery::TKdsQuery(rtl::TComponent* owner)
    : TKdsExtendedDataSet(owner),
      params_(this),
      dataLink_(std::make_unique<TKdsQueryDataLink>(this)) {
    sql_.SetOnChange([this] { StatementChanged(); });
}

TKdsQuery::~TKdsQuery() {
    bool connected = KdsConnection() != nullptr && KdsConnection()->IsConnected();
    dataLink_.reset();
    try {
        CloseForDestruction();
    } catch (...) {
    }
    if (statement_ != kNoKdsHandle && (connected || folderConnection_ != kNoKdsHandle)) {
        KdsCloseSQLStatement(statement_);  // a statement the engine already closed is no loss
    }
}

void TKdsQuery::SetSQL(const rtl::TStrings& lines) {
    if (lines.Text() == sql_.Text()) return;
    Close();
    prepared_ = false;
    sql_.Assign(lines);
}

void TKdsQuery::StatementChanged() {
    const std::string text = sql_.Text();
    std::vector<UNSIGNED8> names(text.size() * 2 + 256, 0);
    UNSIGNED16 length = static_cast<UNSIGNED16>(std::min<size_t>(names.size() - 1, 65535));
    CheckKdsStatus(this, KdsGetSQLStmtParams(KceText(text), names.data(), &length));
    if (IsLoading()) return;
    Close();
    prepared_ = false;
    storedData_.reset();
    if (paramCheck_) {
        db::TParams old;
        for (int i = 0; i < params_.Count(); ++i) {
            old.Add(params_[i].Name()).AssignParam(params_[i]);
        }
        params_.ParseStatementText(text, true);
        params_.AssignValues(old);
    }
    NotifyDataEvent(db::DataEventCode::PropertyChange);
}

void TKdsQuery::SetDataSource(db::TDataSource* source) {
    std::set<const db::TDataSet*> seen;
    for (db::TDataSource* s = source; s != nullptr && s->DataSet() != nullptr;
         s = s->DataSet()->MasterDataSource()) {
        if (s->DataSet() == this) KdsDatabaseError(this, msg::kCircularDataLink);
        if (!seen.insert(s->DataSet()).second) break;
    }
    dataLink_->SetDataSource(source);
}

db::TDataSource* TKdsQuery::MasterDataSource() const {
    return DataSource() != nullptr ? DataSource() : TKdsExtendedDataSet::MasterDataSource();
}

void TKdsQuery::SetTableType(TKdsTableTypes value) {
    bool dictionary = KdsConnection() != nullptr && KdsConnection()->IsDictionaryConnection();
    if (value == ttKdsNTX && !dictionary) KdsDatabaseError(this, msg::kQueryNtx);
    TKdsExtendedDataSet::SetTableType(value);
}

void TKdsQuery::SetDatabaseName(const std::string& value) {
    if (Active()) KdsDatabaseError(this, msg::kTableMustNotBeActive);
    const std::string old = DatabaseName();
    SetKdsConnection(nullptr);
    TKdsExtendedDataSet::SetDatabaseName(value);
    if (!rtl::SameText(old, value) && folderConnection_ != kNoKdsHandle) {
        KDSHANDLE statement = statement_;
        statement_ = kNoKdsHandle;
        folderConnection_ = kNoKdsHandle;
        if (statement != kNoKdsHandle) CheckKdsStatus(this, KdsCloseSQLStatement(statement));
    }
}

void TKdsQuery::EnsureStatement() {
    if (statement_ != kNoKdsHandle) {
        UNSIGNED16 type = 0;
        if (KdsGetHandleType(statement_, &type) == KCE_SUCCESS && type == KCE_HANDLE_STATEMENT) {
            return;
        }
        statement_ = kNoKdsHandle;
    }
    if (DatabaseName().empty() && KdsConnection() == nullptr) {
        KdsDatabaseError(this, msg::kQueryNoDatabase);
    }
    KDSHANDLE connection = 0;
    if (KdsConnection() != nullptr) {
        if (!KdsConnection()->IsConnected()) KdsConnection()->Connect();
        connection = KdsConnection()->ConnectionHandle();
    } else {
        std::string path = DatabasePath();
        if (path.size() < 3) path += "\\";
        connection = DynamicConnList().HandleFor(path);
        folderConnection_ = connection;
    }
    if (connection == 0 || connection == kNoKdsHandle) {
        KdsDatabaseError(this, msg::kInvalidConnectionHandle);
    }
    KDSHANDLE statement = 0;
    CheckKdsStatus(this, KdsCreateSQLStatement(connection, &statement));
    statement_ = statement;
}

KDSHANDLE TKdsQuery::Run() {
    RequireInactive();
    EnsureStatement();
    const TKdsTableOptions& o = KdsTableOptions();
    bool readOnly = !requestLive_ || (KdsConnection() != nullptr && KdsConnection()->ReadOnly());
    // A default table type opens its tables as NTX ones, unlike a table's (EngineTableTypeOf).
    UNSIGNED16 tableType = TableType() == ttKdsKDT   ? KCE_KDT
                           : TableType() == ttKdsCDX ? KCE_CDX
                                                     : KCE_NTX;
    auto option = [](bool on) { return on ? KCE_STMT_OPTION_ON : KCE_STMT_OPTION_OFF; };
    CheckKdsStatus(this, KdsStmtSetTableLockType(statement_, o.KdsLockType() == Compatible
                                                                 ? KCE_COMPATIBLE_LOCKING
                                                                 : KCE_PROPRIETARY_LOCKING));
    CheckKdsStatus(
        this, KdsStmtSetTableCharType(statement_, o.KdsCharType() == OEM ? KCE_OEM : KCE_ANSI));
    CheckKdsStatus(this, KdsStmtSetTableRights(statement_, o.KdsRightsCheck() ? KCE_CHECK_RIGHTS
                                                                              : KCE_IGNORE_RIGHTS));
    CheckKdsStatus(this, KdsStmtSetTableReadOnly(
                             statement_, readOnly ? KCE_CURSOR_READ_ONLY : KCE_CURSOR_READ_WRITE));
    CheckKdsStatus(this, KdsStmtSetTableType(statement_, tableType));
    CheckKdsStatus(this, KdsStmtConstrainUpdates(statement_, option(constrained_)));
    CheckKdsStatus(this, KdsStmtReadAllColumns(statement_, option(readAllColumns_)));
    if (Active()) KdsDatabaseError(this, msg::kOpenDataSet);
    prepared_ = true;
    rowsAffected_ = -1;

    // A text the engine cannot prepare leaves no statement worth keeping.
    auto checkRun = [this](KCESTATUS status) {
        if (status == KCE_SUCCESS) return;
        try {
            CheckKdsStatus(this, status);
        } catch (const EKDSDatabaseError& e) {
            if (e.ErrorCode() == kPrepareFailed ||
                std::string(e.what()).find("7209") != std::string::npos) {
                try {
                    ReleaseStatement();
                } catch (...) {
                }
            }
            throw;
        }
    };
    const std::string text = sql_.Text();
    checkRun(KdsPrepareSQL(statement_, KceText(text)));

    db::TDataSet* master = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
    if (master != nullptr) {
        for (int i = 0; i < params_.Count(); ++i) {
            db::TParam& p = params_[i];
            if (p.Bound()) continue;
            p.AssignField(master->FieldNamed(p.Name()));
            p.SetBound(false);
        }
    }
    BindParams(this, statement_, params_);
    KDSHANDLE cursor = 0;
    checkRun(KdsExecuteSQL(statement_, &cursor));
    if (cursor == 0) {
        cursor = kNoKdsHandle;
    } else {
        UNSIGNED32 options = 0;
        CheckKdsStatus(this, KdsGetTableOpenOptions(cursor, &options));
        SetReadOnlyFromCursor((options & KCE_OPEN_READ_ONLY) != 0);
    }
    UNSIGNED32 count = 0;
    KCESTATUS status = KdsGetRecordCount(statement_, KCE_IGNORE_FILTERS, &count);
    if (status == KCE_NO_ROW_COUNT) {
        rowsAffected_ = -1;
    } else {
        if (status != KCE_SUCCESS && cursor != kNoKdsHandle) KdsCloseTable(cursor);
        CheckKdsStatus(this, status);
        rowsAffected_ = static_cast<int32_t>(count);
    }
    return cursor;
}

KDSHANDLE TKdsQuery::OpenTableCursor() {
    ScreenCursor shown(waitCursor_);
    KDSHANDLE cursor = Run();
    if (cursor == kNoKdsHandle) KdsDatabaseError(this, msg::kNoCursorHandle);
    try {
        for (int i = 0; i < IndexFiles().Count(); ++i) {
            KDSHANDLE indexes[kMaxIndexes] = {};
            UNSIGNED16 count = kMaxIndexes;
            std::string file = DatabasePath() + "\\" + IndexFiles().Strings(i);
            CheckKdsStatus(this, KdsOpenIndex(cursor, KceText(file), indexes, &count));
        }
    } catch (...) {
        KdsCloseTable(cursor);
        throw;
    }
    return cursor;
}

void TKdsQuery::ExecSQL() {
    KDSHANDLE cursor = kNoKdsHandle;
    {
        ScreenCursor shown(waitCursor_);
        cursor = Run();
    }
    if (cursor != kNoKdsHandle) CheckKdsStatus(this, KdsCloseTable(cursor));
}

void TKdsQuery::ReleaseStatement() {
    if (Active()) KdsDatabaseError(this, msg::kOpenDataSet);
    if (statement_ != kNoKdsHandle) {
        KCESTATUS status = KdsCloseSQLStatement(statement_);
        statement_ = kNoKdsHandle;
        folderConnection_ = kNoKdsHandle;
        if (status != KCE_INVALID_STATEMENT) CheckKdsStatus(this, status);
    }
    statement_ = kNoKdsHandle;
    folderConnection_ = kNoKdsHandle;
}

void TKdsQuery::CursorClose() {
    prepared_ = false;
    TKdsExtendedDataSet::CursorClose();
}

int32_t TKdsQuery::CursorRecordNumber() {
    KDSHANDLE index = 0;
    bool hasIndex = !IndexName().empty() &&
                    KdsGetIndexHandle(TableHandle(), KceText(IndexName()), &index) == KCE_SUCCESS;
    if (!Sequenced() || !hasIndex) {
        UNSIGNED32 number = 0;
        CheckKdsStatus(this, KdsGetRecordNum(TableHandle(), KCE_IGNORE_FILTERS, &number));
        return static_cast<int32_t>(number);
    }
    UNSIGNED32 count = 0;
    CheckKdsStatus(this, KdsGetRecordCount(TableHandle(), KCE_IGNORE_FILTERS, &count));
    double position = 0;
    KCESTATUS status = KdsGetRelKeyPos(index, &position);
    if (status == KCE_NO_POSITION) {
        position = 0;
    } else {
        CheckKdsStatus(this, status);
    }
    return static_cast<int32_t>(std::trunc(count * position));
}

int32_t TKdsQuery::LastAutoIncValue() {
    UNSIGNED32 value = 0;
    CheckKdsStatus(this, KdsGetLastAutoinc(statement_, &value));
    if (value > 2147483647u) throw rtl::ERangeError("Range check error");
    return static_cast<int32_t>(value);
}

void TKdsQuery::ConnectionLost() {
    prepared_ = false;
    statement_ = kNoKdsHandle;
    folderConnection_ = kNoKdsHandle;
}

void TKdsQuery::RefreshFromMaster() {
    db::TDataSet* master = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
    if (master == nullptr || !master->Active() || master->State() == db::DataSetState::SetKey) {
        return;
    }
    // The sources see the query closed and opened again as one change.
    bool wasQuiet = quiet_;
    quiet_ = true;
    try {
        Close();
        Open();
    } catch (...) {
        quiet_ = wasQuiet;
        throw;
    }
    quiet_ = wasQuiet;
    if (!quiet_) NotifyDataEvent(db::DataEventCode::DataSetChange);
}

void TKdsQuery::NotifyDataEvent(db::DataEventCode event, const void* argument) {
    if (quiet_ && event != db::DataEventCode::StateChange) return;
    TKdsExtendedDataSet::NotifyDataEvent(event, argument);
}

void TKdsQuery::DetailLinkFields(std::vector<db::TField*>& masterFields,
                                 std::vector<db::TField*>& detailFields) {
    masterFields.clear();
    detailFields.clear();
    db::TDataSet* master = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
    if (master == nullptr) return;
    for (int i = 0; i < params_.Count(); ++i) {
        db::TField* field = master->FieldNamedOrNull(params_[i].Name());
        db::TField* own = FieldNamedOrNull(params_[i].Name());
        if (field == nullptr || own == nullptr) continue;
        masterFields.push_back(field);
        detailFields.push_back(own);
    }
}

void TKdsQuery::ProviderSetParams(db::TParams& params) {
    if (params.Count() > 0) params_.AssignValues(params);
    Close();
}

std::unique_ptr<db::TIndexDef> TKdsQuery::ProviderDefaultOrder() {
    auto exists = [this](const std::string& fields) {
        for (const std::string& name : db::SplitNames(fields)) {
            if (FieldNamedOrNull(name) == nullptr) return false;
        }
        return true;
    };
    // The order of an index opened on the result, when one is chosen.
    if (!IndexName().empty() || !IndexFieldNames().empty()) {
        try {
            IndexDefs().SetUpdated(false);
            IndexDefs().Update();
            const db::TIndexDef& def = !IndexName().empty()
                                           ? IndexDefs().Find(IndexName())
                                           : IndexDefs().FindIndexForFields(IndexFieldNames());
            if (exists(def.Fields())) {
                auto copy = std::make_unique<db::TIndexDef>(nullptr, def.Name(), def.Fields(),
                                                            def.Options());
                copy->Assign(def);
                return copy;
            }
        } catch (const std::exception&) {
        }
    }
    // Otherwise the statement's ORDER BY, when it names result columns (by name or position).
    std::optional<std::vector<db::StatementOrderTerm>> terms = db::StatementOrder(SQLText());
    if (!terms) return nullptr;
    std::string fields, desc, caseIns;
    auto add = [](std::string& list, const std::string& name) {
        list += (list.empty() ? "" : ";") + name;
    };
    for (const db::StatementOrderTerm& term : *terms) {
        db::TField* field = nullptr;
        if (term.position) {
            size_t n = term.column.size() > 9 ? 0 : std::stoul(term.column);
            if (n >= 1 && n <= size_t(NumFields())) field = &Fields().At(int(n) - 1);
        } else {
            field = FieldNamedOrNull(term.column);
        }
        if (field == nullptr) return nullptr;
        add(fields, field->FieldName());
        if (term.descending) add(desc, field->FieldName());
        if (term.caseInsensitive) add(caseIns, field->FieldName());
    }
    auto def = std::make_unique<db::TIndexDef>(nullptr, "", fields, db::TIndexOptions{});
    def->SetDescFields(desc);
    def->SetCaseInsFields(caseIns);
    return def;
}

std::string TKdsQuery::ProviderTableName() { return db::StatementTableName(SQLText()); }

void TKdsQuery::ProviderSetCommandText(const std::string& text) {
    if (text.empty()) return;
    rtl::TStringList lines;
    lines.SetText(text);
    SetSQL(lines);
}

const std::string& TKdsQuery::StoredData() const {
    static const std::string none;
    return storedData_ ? *storedData_ : none;
}

void TKdsQuery::WriteData(rtl::TStream& stream) const {
    if (storedData_ && !storedData_->empty()) {
        stream.WriteBuffer(storedData_->data(), static_cast<int64_t>(storedData_->size()));
    }
}

void TKdsQuery::ReadData(rtl::TStream& stream) {
    std::string bytes(static_cast<size_t>(stream.Size() - stream.Position()), '\0');
    if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    storedData_ = std::move(bytes);
}

void TKdsQuery::AdoptCursor(KDSHANDLE cursor) {
    Close();
    SetOrderHandle(cursor);
}

}  // namespace kds
