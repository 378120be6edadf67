// The enumerations and small types shared by datasets, fields and data links.
//
// Ordinals are part of the contract: descendants and the engine binding test ranges of states and
// map engine field types onto TFieldType by number, so no value may be reordered.
#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace db {

// Field data types, in ordinal order.
enum TFieldType : int {
    ftUnknown = 0,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftBCD,
    ftDate,
    ftTime,
    ftDateTime,
    ftBytes,
    ftVarBytes,
    ftAutoInc,
    ftBlob,
    ftMemo,
    ftGraphic,
    ftFmtMemo,
    ftParadoxOle,
    ftDBaseOle,
    ftTypedBinary,
    ftCursor,
    ftFixedChar,
    ftWideString,
    ftLargeint,
    ftADT,
    ftArray,
    ftReference,
    ftDataSet,
    ftOraBlob,
    ftOraClob,
    ftVariant,
    ftInterface,
    ftIDispatch,
    ftGuid,
};
constexpr int kFieldTypeCount = ftGuid + 1;

// The name of a field type as it appears in messages and in the display text of blob fields.
const std::string& FieldTypeName(TFieldType type);

// True for the types whose content travels through a blob stream.
bool IsBlobType(TFieldType type);
// True for the object types (ADT, array, reference, nested dataset), which have no data of
// their own in a record buffer.
bool IsObjectType(TFieldType type);

// Dataset states. Descendants compare ranges of ordinals, so the order is fixed.
enum class DataSetState : int {
    Inactive = 0,
    Browse,
    Edit,
    Insert,
    SetKey,
    CalcFields,
    Filter,
    NewValue,
    OldValue,
    CurValue,
    BlockRead,
    InternalCalc,
    Opening,
};
const char* StateName(DataSetState state);

// What a record buffer stands for; kept by the descendant inside each buffer.
// (BOF and EOF are spelled Bof and Eof: EOF is a macro of the C library.)
enum class BookmarkFlag : int { Current = 0, Bof = 1, Eof = 2, Inserted = 3 };

enum class FetchMode : int { Current = 0, Next = 1, Prior = 2 };
enum class FetchResult : int { OK = 0, Bof = 1, Eof = 2, Error = 3 };

// Notifications a dataset sends to itself and to its data sources.
enum class DataEventCode : int {
    FieldChange = 0,
    RecordChange,
    DataSetChange,
    DataSetScroll,
    LayoutChange,
    RecordUpdate,
    StateChange,
    BrowseModeCheck,
    PropertyChange,
    FieldListChange,
};

// The answer an error event gives: fail re-raises, abort raises the silent abort, retry runs the
// failing step again.
enum class TDataAction : int { daFail = 0, daAbort = 1, daRetry = 2 };

enum TFieldKind : int { fkData = 0, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TFieldAttribute : int { faHiddenCol = 0, faReadonly, faRequired, faLink, faUnNamed, faFixed };
using TFieldAttributes = std::set<TFieldAttribute>;

enum TIndexOption : int {
    ixPrimary = 0,
    ixUnique,
    ixDescending,
    ixCaseInsensitive,
    ixExpression,
    ixNonMaintained,
};
using TIndexOptions = std::set<TIndexOption>;

enum TFilterOption : int { foCaseInsensitive = 0, foNoPartialCompare };
using TFilterOptions = std::set<TFilterOption>;

enum TAlignment : int { taLeftJustify = 0, taRightJustify, taCenter };

enum TProviderFlag : int { pfInUpdate = 0, pfInWhere, pfInKey, pfHidden };
using TProviderFlags = std::set<TProviderFlag>;

enum TAutoRefreshFlag : int { arNone = 0, arAutoInc, arDefault };

// Options of RefillBuffers: Exact requires the cursor's record to be there, Center puts it in the
// middle of the window.
enum TResyncOption : int { rmExact = 0, rmCenter };
using TResyncMode = std::set<TResyncOption>;

// What a provider update does to a record.
enum class TUpdateKind : int { ukModify = 0, ukInsert, ukDelete };

enum TLocateOption : int { loCaseInsensitive = 0, loPartialKey };
using TLocateOptions = std::set<TLocateOption>;

enum class TBlobStreamMode : int { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };

// One record buffer: raw bytes laid out by the descendant that allocated it.
using TRecordBuffer = char*;

// A bookmark: BookmarkLength opaque bytes that the descendant understands.
using TBookmark = std::string;

}  // namespace db
