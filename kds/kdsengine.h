// The binding between the data-access components and the engine's C interface (engine/kce.h):
// what the components need on top of that header.
//
// Every engine status a component does not treat as an outcome becomes an exception whose code and
// text come from one answer, EngineErrorOf (kdsengineerror.h). Three exception classes are raised
// from it: EKDSDatabaseError here (CheckKdsStatus, the engine's last error, with the dataset whose
// operation failed), kdscnnct::KdsError (the last error) and kdsset::KdsError (the status's fixed
// text), the connection's and the settings' own refusals.
//
// One Boolean per thread marks that a database error is pending: it is set when an
// EKDSDatabaseError has been filled in and cleared when that exception (every copy of it) is
// destroyed. While it is set, CheckKdsStatus raises nothing, so clean-up that runs while the
// first error propagates (closing a table, cancelling an update) cannot replace it. The two
// KdsError classes do not look at that flag.
//
// This header includes the engine's, so whatever includes it sees the engine's named codes (the
// program compares field types of the field descriptions with them). The program reaches the
// engine's display callback, version and open-table count only through the functions at the end
// of this header; it calls no entry point of the engine itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "dataset/db_errors.h"
#include "engine/kce.h"

namespace kds {

class TKdsDataSet;

// The code of every condition the components detect themselves.
inline constexpr int32_t kKdsLayerError = 5121;

// Text arguments and field ordinals in the engine's byte form.
inline const UNSIGNED8* KceText(const std::string& text) {
    return reinterpret_cast<const UNSIGNED8*>(text.c_str());
}
inline const UNSIGNED8* KceText(const char* text) {
    return reinterpret_cast<const UNSIGNED8*>(text);
}
inline const UNSIGNED8* KceField(int ordinal) { return KCE_FIELD_ORDINAL(ordinal); }

class EKDSDatabaseError : public db::EDatabaseError {
  public:
    // Filled in from the dataset (none: every string field empty). While another
    // EKDSDatabaseError is alive on this thread only the code and the bare message are kept.
    EKDSDatabaseError(const TKdsDataSet* dataSet, const std::string& message, int32_t code);
    EKDSDatabaseError(const EKDSDatabaseError&) = default;
    EKDSDatabaseError& operator=(const EKDSDatabaseError&) = default;
    ~EKDSDatabaseError() override;

    int32_t ErrorCode() const { return errorCode_; }
    const std::string& DataSetName() const { return dataSetName_; }
    const std::string& DataSetOwnerName() const { return dataSetOwnerName_; }
    const std::string& DatabaseName() const { return databaseName_; }
    const std::string& DatabasePath() const { return databasePath_; }
    const std::string& TableName() const { return tableName_; }
    const std::string& ColumnName() const { return columnName_; }

    // The calling thread's pending-error flag.
    static bool Pending();

  private:
    // Shared by the copies of one error: the flag is cleared when the last copy goes.
    struct PendingMark;

    int32_t errorCode_ = 0;
    std::string dataSetName_;
    std::string dataSetOwnerName_;
    std::string databaseName_;
    std::string databasePath_;
    std::string tableName_;
    std::string columnName_;
    std::shared_ptr<PendingMark> pending_;
};

// Does nothing for status 0 or while a database error is pending on this thread; otherwise
// raises EKDSDatabaseError with the engine's last error code and text for this thread.
void CheckKdsStatus(const TKdsDataSet* dataSet, KCESTATUS status);

// Raises EKDSDatabaseError with a fixed message (code 5121 unless given).
[[noreturn]] void KdsDatabaseError(const TKdsDataSet* dataSet, std::string_view message,
                                   int32_t code = kKdsLayerError);

// The fixed texts of the components' own errors. Callers and tests compare them exactly.
namespace msg {
inline constexpr std::string_view kOpenDataSet = "Cannot perform this operation on an open dataset";
inline constexpr std::string_view kTableMustNotBeActive = "Table must not be Active.";
inline constexpr std::string_view kTableMustBeActive = "Table must be Active.";
inline constexpr std::string_view kTableAlreadyOpen = "Table is already open.";
inline constexpr std::string_view kMissingTableName = "Missing TableName property";
inline constexpr std::string_view kNoDatabaseName =
    "One of the DatabaseName property or the KdsConnection property must have a value.";
inline constexpr std::string_view kInvalidConnectionHandle =
    "Internal Error: invalid connection handle.";
inline constexpr std::string_view kAliasTableType =
    "The table type must remain identical to the table type associated with the alias.";
inline constexpr std::string_view kUnexpectedAddRecord = "Unexpected error in InternalAddRecord.";
inline constexpr std::string_view kNotInEditMode = "Dataset not in edit mode";
inline constexpr std::string_view kNumericOutOfRange = "Numeric out of range.";
inline constexpr std::string_view kDateFunctions = "Something's wrong with KDS date functions";
inline constexpr std::string_view kDefaultOutOfRange = "Numeric out of range:";
inline constexpr std::string_view kDefaultValueError = "Error setting default field value. (";
inline constexpr std::string_view kStaticView =
    "This table is based on a static VIEW. Static VIEWs can not be updated.";
inline constexpr std::string_view kIndexNotSet = "Index is not set.";
inline constexpr std::string_view kNoKeyExpressions =
    "No parseable expressions in setting key fields";
inline constexpr std::string_view kTooManyKeyValues = "Too many values given for current index";
inline constexpr std::string_view kRangeWithScope =
    "Cannot set range on table when there is an active scope.";
inline constexpr std::string_view kScopeWithoutIndex =
    "Cannot activate scope when there is no active index.";
inline constexpr std::string_view kScopeWithRange =
    "Cannot activate scope when there is an active range.";
inline constexpr std::string_view kScopeTooLong = "Scope text length exceeded 256";
inline constexpr std::string_view kInvalidIndexFieldName = "Not a valid index field name:";
inline constexpr std::string_view kNoActiveIndexSegment =
    "Internal Error: GetSegmentFieldNum : No Active Index";
inline constexpr std::string_view kCircularDataLink = "Circular Data Link";
inline constexpr std::string_view kBuildFilterString = "Internal Error, << BuildFilterString >>";
inline constexpr std::string_view kBlobWriteState =
    "Table must be in Edit or Insert state to open blob stream in Write Mode.";
inline constexpr std::string_view kNotABlobField = "Invalid blob open on non-blob field.";
inline constexpr std::string_view kReadOnlyBlob = "Error modifying read only blob.";
inline constexpr std::string_view kBlobWriteNoCache = "Cannot write to blob in current state.";
inline constexpr std::string_view kBatchMove =
    "The method BatchMove in TKdsDataSet is not supported.";
inline constexpr std::string_view kRenameTable =
    "The method RenameTable in TKdsDataSet is not supported.";
inline constexpr std::string_view kUpdateStatus =
    "The method UpdateStatus in TKdsDataSet is not supported.";
inline constexpr std::string_view kProviderNeedsConnection =
    "A TKdsConnection component is required for TClientDataSet/IProvider support. Use either the "
    "KdsConnection  property or the Database property to specify a TKdsConnection instance.";
inline constexpr std::string_view kParamUnknownType =
    "The field named: '%s' has the DataType of "
    "ftUnknown, which is invalid.";
inline constexpr std::string_view kParamUnsupportedType =
    "The field named: '%s' has a DataType that is not supported.";
inline constexpr std::string_view kNoCursorHandle =
    "The SQL statement did not generate a cursor handle.  Use TKdsQuery.ExecSQL to execute SQL "
    "statements that are not SELECT statements";
inline constexpr std::string_view kQueryNtx =
    "The TKdsQuery component does not support the NTX table type";
inline constexpr std::string_view kQueryNoDatabase =
    "The DatabaseName property has not been assigned a value.";

// Connection misuse (KdsConnectionError).
inline constexpr std::string_view kAliasNotValid = "TKdsConnection.AliasName is not valid";
inline constexpr std::string_view kNoConnectionString =
    "Must specify connection string before getting a server connection.";
inline constexpr std::string_view kConnectPathWhileConnected =
    "The TKdsConnection.ConnectPath may not be changed when IsConnected is TRUE";
inline constexpr std::string_view kAliasNameWhileConnected =
    "The TKdsConnection.AliasName may not be changed when IsConnected is TRUE";
inline constexpr std::string_view kServerNameNeedsConnection =
    "Must be connected to get Keel server name.";
inline constexpr std::string_view kNoServerConnection = "No connection to Keel server.";

// EDatabaseError of the dataset model.
inline constexpr std::string_view kCannotConnect = "Cannot connect to database '%s'";
inline constexpr std::string_view kFieldNotIndexed =
    "Field '%s' is not indexed and cannot be modified";
inline constexpr std::string_view kFieldReadOnly = "Field '%s' cannot be modified";

// Title of the engine's own message box when it cannot give a text (KdsErrorMessage).
inline constexpr std::string_view kKdsExceptionTitle = "Kds Exception Error";
}  // namespace msg

// ---- The program's door to the engine -------------------------------------------------------

// Shows an engine message (title, text). The program registers the GUI's message box at start-up
// (or a stream when headless); null puts back the engine's default, standard error.
using EngineDisplayCallback = void (*)(const char* title, const char* text, void* context);
void SetEngineDisplayCallback(EngineDisplayCallback callback, void* context);

struct TEngineVersion {
    uint32_t Major = 0;
    uint32_t Minor = 0;
    char Letter = ' ';  // a blank when the version has none
};
// Raises EKDSDatabaseError when the engine cannot tell.
TEngineVersion EngineVersion();
// "KCE 6.05", "KCE 6.11a": the minor number in two digits, the letter unless it is a blank.
std::string EngineVersionText();

// The engine's number of open tables (every handle of the process).
int EngineOpenTableCount();

}  // namespace kds
