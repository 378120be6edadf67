#include "kds/kdssql.h"

#include <cmath>
#include <cstring>

#include "kds/kdscnnct.h"
#include "kds/kdsengine.h"
#include "rtl/textutils.h"

namespace kds {

uint32_t StatementHash(const std::string& text) {
    // Positions count from 0 in the zero-terminated text; the first character is not taken and
    // the terminating zero may be.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    const size_t length = text.size();
    uint32_t hash = 0;
    if (length < 16) {
        for (size_t p = 1; p <= length; ++p) hash = hash * 37 + bytes[p];
        return hash;
    }
    const size_t step = length / 8;
    const size_t last = 1 + (length - 1) / step * step;
    for (size_t p = 1; p <= last; p += step) hash = hash * 39 + bytes[p];
    return hash;
}

namespace {

constexpr int32_t kDayOffset = 2415019;  // Julian day of the day the date-time value 0 names
constexpr double kMsPerDay = 86400000.0;

}  // namespace

void BindParams(const TKdsDataSet* dataSet, KDSHANDLE statement, const db::TParams& params) {
    for (int i = 0; i < params.Count(); ++i) {
        const db::TParam& p = params[i];
        const UNSIGNED8* n = KceField(i + 1);
        if (p.IsNull()) {
            CheckKdsStatus(dataSet, KdsSetEmpty(statement, n));
            continue;
        }
        const double value = p.DataType() == db::ftDate || p.DataType() == db::ftTime ||
                                     p.DataType() == db::ftDateTime
                                 ? p.AsDateTime()
                                 : 0;
        const double days = std::trunc(value);
        const auto ms = SIGNED32(std::trunc((value - days) * kMsPerDay));
        switch (p.DataType()) {
            case db::ftUnknown:
                KdsDatabaseError(dataSet, "The field named: '" + p.Name() +
                                              "' has the DataType of ftUnknown, which is invalid.");
            case db::ftBoolean:
                CheckKdsStatus(dataSet, KdsSetLogical(statement, n, p.AsBoolean() ? 1 : 0));
                break;
            case db::ftFloat:
            case db::ftCurrency:
                CheckKdsStatus(dataSet, KdsSetDouble(statement, n, p.AsFloat()));
                break;
            case db::ftDate:
                CheckKdsStatus(dataSet, KdsSetJulian(statement, n, SIGNED32(days) + kDayOffset));
                break;
            case db::ftTime:
                CheckKdsStatus(dataSet, KdsSetMilliseconds(statement, n, ms));
                break;
            case db::ftDateTime: {
                UNSIGNED8 raw[8];
                const uint32_t words[2] = {uint32_t(SIGNED32(days) + kDayOffset), uint32_t(ms)};
                for (int w = 0; w < 2; ++w) {
                    for (int b = 0; b < 4; ++b) raw[w * 4 + b] = UNSIGNED8(words[w] >> (8 * b));
                }
                CheckKdsStatus(dataSet, KdsSetTimeStampRaw(statement, n, raw, 8));
                break;
            }
            case db::ftBytes:
            case db::ftVarBytes:
            case db::ftBlob:
            case db::ftGraphic: {
                std::string bytes = p.NativeData();
                CheckKdsStatus(dataSet,
                               KdsSetBinary(statement, n, KCE_BINARY, UNSIGNED32(bytes.size()), 0,
                                            KceText(bytes), UNSIGNED32(bytes.size())));
                break;
            }
            case db::ftParadoxOle:
            case db::ftDBaseOle:
            case db::ftTypedBinary:
            case db::ftCursor:
            case db::ftWideString:
            case db::ftADT:
            case db::ftArray:
            case db::ftReference:
            case db::ftDataSet:
                KdsDatabaseError(dataSet, "The field named: '" + p.Name() +
                                              "' has a DataType that is not supported.");
            case db::ftString:
            case db::ftSmallint:
            case db::ftInteger:
            case db::ftWord:
            case db::ftBCD:
            case db::ftAutoInc:
            case db::ftMemo:
            case db::ftFmtMemo:
            case db::ftFixedChar:
            case db::ftLargeint: {
                std::string text = p.AsString();
                CheckKdsStatus(dataSet,
                               KdsSetString(statement, n, KceText(text), UNSIGNED32(text.size())));
                break;
            }
            default:
                break;  // the types after ftDataSet are not bound
        }
    }
}

int32_t TKdsConnection::ExecuteSQL(const std::string& text, const db::TParams* params,
                                   KDSHANDLE* cursor, bool keep) {
    Connect();
    KDSHANDLE statement = 0;
    TStmtInfo* entry = nullptr;
    if (keep) {
        const uint32_t hash = StatementHash(text);
        for (TStmtInfo& info : statements_) {
            if (info.Hash == hash && rtl::SameText(info.Text, text)) {
                entry = &info;
                break;
            }
        }
        if (!entry) {
            statements_.push_back(TStmtInfo{hash, 0, {}});
            entry = &statements_.back();
        }
        statement = entry->Statement;
    }
    const bool made = statement == 0;
    if (made) {
        CheckKdsStatus(nullptr, KdsCreateSQLStatement(ConnectionHandle(), &statement));
    }
    // Unless kept, the statement goes when this call ends, also when a step fails.
    struct Release {
        KDSHANDLE statement;
        bool keep;
        ~Release() {
            if (!keep && statement) KdsCloseSQLStatement(statement);
        }
    } release{statement, keep};
    if (made) {
        if (cursor) {
            CheckKdsStatus(nullptr, KdsStmtSetTableReadOnly(statement, KCE_CURSOR_READ_ONLY));
        }
        if (AliasTableType() == atNTX) {
            CheckKdsStatus(nullptr, KdsStmtSetTableType(statement, KCE_NTX));
        }
        if (AliasTableType() == atCDX) {
            CheckKdsStatus(nullptr, KdsStmtSetTableType(statement, KCE_CDX));
        }
        if (keep) {
            // The entry holds the statement from here, so a failure below does not lose it.
            entry->Statement = statement;
            entry->Text = text;
        }
        CheckKdsStatus(nullptr, KdsPrepareSQL(statement, KceText(text)));
    }
    KDSHANDLE result = 0;
    if (params && params->Count() > 0) {
        BindParams(nullptr, statement, *params);
        CheckKdsStatus(nullptr, KdsExecuteSQL(statement, &result));
    } else {
        CheckKdsStatus(nullptr, KdsExecuteSQLDirect(statement, KceText(text), &result));
    }
    if (cursor) {
        *cursor = result;
        return 0;
    }
    if (result) KdsCloseTable(result);
    UNSIGNED32 count = 0;
    KCESTATUS s = KdsGetRecordCount(statement, KCE_IGNORE_FILTERS, &count);
    if (s == KCE_NO_ROW_COUNT) return -1;  // a query run for its effect has no count
    CheckKdsStatus(nullptr, s);
    return int32_t(count);
}

void TKdsConnection::CloseCachedStatements() {
    std::vector<TStmtInfo> statements;
    statements.swap(statements_);
    for (const TStmtInfo& info : statements) {
        if (info.Statement) CheckKdsStatus(nullptr, KdsCloseSQLStatement(info.Statement));
    }
}

}  // namespace kds
