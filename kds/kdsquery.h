// TKdsQuery: a dataset whose records come from an SQL statement the engine runs over the tables
// of its folder, instead of from one named table. The statement's result is the engine's static
// cursor, which the record machinery of TKdsDataSet walks as it walks a table; it reports itself
// read-only, so a query is read-only whatever RequestLive asks.
//
// The statement is made on first use and kept across runs: closing the query keeps it, and each
// run sets the options and prepares the text again. ReleaseStatement, a new text, a new folder
// or a disconnect of the connection let it go.
#pragma once

#include <memory>
#include <string>

#include "dataset/datalink.h"
#include "dataset/params.h"
#include "gui/backend.h"
#include "kds/kdsfunc.h"
#include "rtl/stringlist.h"

namespace kds {

class TKdsQuery;

// The query's link to the data source whose fields feed its unbound parameters: a move of the
// master's record runs the query again.
class TKdsQueryDataLink : public db::TDetailDataLink {
  public:
    explicit TKdsQueryDataLink(TKdsQuery* query) : query_(query) {}
    db::TDataSet* DetailDataSet() const override;

  protected:
    void ActiveChanged() override;
    void RecordChanged(db::TField* field) override;
    void CheckBrowseMode() override;

  private:
    TKdsQuery* query_;
};

class TKdsQuery : public TKdsExtendedDataSet {
  public:
    explicit TKdsQuery(rtl::TComponent* owner = nullptr);
    ~TKdsQuery() override;

    // ---- Properties ---------------------------------------------------------------------------
    // The statement text: the lines joined with CR LF. A change closes the query, forgets its
    // preparation and, with ParamCheck, lists the parameters again (values of names that stay
    // are kept).
    rtl::TStringList& SQL() { return sql_; }
    // Assigning lines whose text equals the present one does nothing.
    void SetSQL(const rtl::TStrings& lines);
    std::string SQLText() const { return sql_.Text(); }
    db::TParams& Params() { return params_; }
    // Copies the values of same-named parameters.
    void SetParams(const db::TParams& params) { params_.AssignValues(params); }
    bool ParamCheck() const { return paramCheck_; }
    void SetParamCheck(bool value) { paramCheck_ = value; }
    bool RequestLive() const { return requestLive_; }
    void SetRequestLive(bool value) { requestLive_ = value; }
    bool Constrained() const { return constrained_; }
    void SetConstrained(bool value) { constrained_ = value; }
    bool ReadAllColumns() const { return readAllColumns_; }
    void SetReadAllColumns(bool value) { readAllColumns_ = value; }
    gui::TCursor WaitCursor() const { return waitCursor_; }
    void SetWaitCursor(gui::TCursor value) { waitCursor_ = value; }
    // The master whose fields of the same names give unbound parameters their values. Raises
    // "Circular Data Link" when the master's chain of sources leads back to this query.
    db::TDataSource* DataSource() const { return dataLink_->DataSource(); }
    void SetDataSource(db::TDataSource* source);
    // The kind of tables the statement reads (the dataset's TableType). NTX is refused except on
    // a dictionary connection.
    TKdsTableTypes SourceTableType() const { return TableType(); }
    void SetSourceTableType(TKdsTableTypes value) { SetTableType(value); }
    void SetTableType(TKdsTableTypes value) override;
    // A changed folder lets a statement made on a per-folder connection go.
    void SetDatabaseName(const std::string& value) override;

    // ---- Running ------------------------------------------------------------------------------
    // Runs a statement that gives no cursor (a cursor given anyway is closed).
    void ExecSQL();
    // Closes the statement (refused while open).
    void ReleaseStatement();
    // Rows the last run changed; -1 when the engine gives no count (a query).
    int32_t RowsAffected() const { return rowsAffected_; }
    bool Prepared() const { return prepared_; }
    KDSHANDLE StatementHandle() const { return statement_; }
    int32_t LastAutoIncValue() override;
    // Closes the query and runs it again when its master is open (and not entering a key).
    void RefreshFromMaster();

    // ---- Connection bookkeeping and dataset-model answers -------------------------------------
    void ConnectionLost() override;
    db::TDataSource* MasterDataSource() const override;
    void DetailLinkFields(std::vector<db::TField*>& masterFields,
                          std::vector<db::TField*>& detailFields) override;
    void NotifyDataEvent(db::DataEventCode event, const void* argument = nullptr) override;

    // ---- Data-provider answers ----------------------------------------------------------------
    void ProviderExecute() override { ExecSQL(); }
    db::TParams* ProviderParams() override { return &params_; }
    void ProviderSetParams(db::TParams& params) override;
    void ProviderSetCommandText(const std::string& text) override;
    // Not built: a query's default order (from its ORDER BY) and the table its statement names
    // are refused.
    std::unique_ptr<db::TIndexDef> ProviderDefaultOrder() override;
    std::string ProviderTableName() override;

    // Gives the query a cursor the engine opened elsewhere (a provider's statement); the query
    // must be closed. Open then walks that cursor instead of running the statement.
    void AdoptCursor(KDSHANDLE cursor);

  protected:
    KDSHANDLE OpenTableCursor() override;
    int32_t CursorRecordNumber() override;
    void CursorClose() override;

  private:
    void StatementChanged();
    void EnsureStatement();
    KDSHANDLE Run();

    rtl::TStringList sql_;
    bool prepared_ = false;
    bool readAllColumns_ = false;
    db::TParams params_;
    bool requestLive_ = false;
    bool constrained_ = false;
    bool paramCheck_ = true;
    std::unique_ptr<TKdsQueryDataLink> dataLink_;
    KDSHANDLE statement_ = kNoKdsHandle;
    KDSHANDLE folderConnection_ = kNoKdsHandle;
    int32_t rowsAffected_ = -1;
    gui::TCursor waitCursor_ = gui::crDefault;
    // Set while RefreshFromMaster runs: the data sources see one change at the end.
    bool quiet_ = false;
};

}  // namespace kds
