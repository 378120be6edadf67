// The C entry points of SQL statements, and the value setters shared by statement parameters and
// table fields.
#include <algorithm>
#include <cstdio>

#include "engine/api/helpers.h"
#include "engine/connection.h"
#include "engine/field_text.h"
#include "engine/native/kdt_values.h"
#include "engine/sql/params.h"
#include "engine/sql/statement.h"
#include "engine/table.h"

using namespace kce;
using namespace kce::sql;

namespace {

// Runs body(statement) for a statement handle, inside the firewall and the engine lock.
template <typename Body>
KCESTATUS WithStatement(KDSHANDLE handle, Body&& body) {
    EngineGuard lock(EngineLock());
    std::shared_ptr<Statement> statement;
    if (KCESTATUS s = GetStatement(handle, &statement)) return s;
    return body(*statement);
}

// Sets a statement parameter (value) or a table field (its text form).
KCESTATUS SetValue(KDSHANDLE handle, const UNSIGNED8* field, const ParamValue& value,
                   const std::string& fieldText) {
    EngineGuard lock(EngineLock());
    if (IsStatement(handle)) {
        return WithStatement(handle, [&](Statement& st) { return st.SetParam(field, value); });
    }
    return OnField(handle, field, [&](TableCursor& c, Order&, int index, const FieldDesc&) {
        if (value.kind == ParamValue::kNull) return c.SetEmpty(index);
        return c.SetText(index, fieldText);
    });
}

ParamValue Text(std::string utf8) {
    ParamValue v;
    v.kind = ParamValue::kText;
    v.bytes = std::move(utf8);
    return v;
}

std::string DoubleText(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

constexpr SIGNED32 kMsPerDay = 86400000;

KCESTATUS CheckMilliseconds(SIGNED32 ms) {
    if (ms < 0 || ms >= kMsPerDay) {
        return Fail(KCE_INVALID_FIELD_VALUE,
                    std::to_string(ms) + " milliseconds is no time of day (0 to 86399999)");
    }
    return KCE_SUCCESS;
}

}  // namespace

extern "C" KCESTATUS KdsCreateSQLStatement(KDSHANDLE connection, KDSHANDLE* statement) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        if (KCESTATUS s = NeedOut(statement)) return s;
        *statement = 0;
        std::shared_ptr<Connection> conn;
        if (Handles::Get(connection, &conn, "connection") != KCE_SUCCESS) {
            return Fail(KCE_NOT_CONNECTED, "connection handle " + std::to_string(connection));
        }
        auto st = std::make_shared<Statement>(connection, conn->Folder());
        if (KCESTATUS s = st->Open()) return s;
        *statement = Handles::Add(st);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsCloseSQLStatement(KDSHANDLE statement) {
    return Guard([&]() -> KCESTATUS {
        return WithStatement(statement, [&](Statement&) -> KCESTATUS {
            Handles::Remove(statement);
            return KCE_SUCCESS;
        });
    });
}

extern "C" KCESTATUS KdsPrepareSQL(KDSHANDLE statement, const UNSIGNED8* sql) {
    return Guard([&]() -> KCESTATUS {
        return WithStatement(statement, [&](Statement& st) { return st.Prepare(TextArg(sql)); });
    });
}

extern "C" KCESTATUS KdsExecuteSQL(KDSHANDLE statement, KDSHANDLE* cursor) {
    return Guard([&]() -> KCESTATUS {
        return WithStatement(statement, [&](Statement& st) {
            KDSHANDLE result = 0;
            KCESTATUS s = st.Execute(&result);
            if (cursor) {
                *cursor = result;
            } else if (result) {
                CloseTable(result);  // nobody asked for the rows
            }
            return s;
        });
    });
}

extern "C" KCESTATUS KdsExecuteSQLDirect(KDSHANDLE statement, const UNSIGNED8* sql,
                                         KDSHANDLE* cursor) {
    return Guard([&]() -> KCESTATUS {
        return WithStatement(statement, [&](Statement& st) -> KCESTATUS {
            if (cursor) *cursor = 0;
            if (KCESTATUS s = st.Prepare(TextArg(sql))) return s;
            KDSHANDLE result = 0;
            KCESTATUS s = st.Execute(&result);
            if (cursor) {
                *cursor = result;
            } else if (result) {
                CloseTable(result);
            }
            return s;
        });
    });
}

extern "C" KCESTATUS KdsGetSQLStmtParams(const UNSIGNED8* sql, UNSIGNED8* names, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS {
        ParsedStatement parsed;
        if (KCESTATUS s = ParseStatement(TextArg(sql), &parsed)) return s;
        std::string list;
        for (size_t i = 0; i < parsed.names.size(); ++i) {
            if (i) list += ';';
            list += parsed.names[i].empty() ? "?" : parsed.names[i];
        }
        return CopyOut(list, names, len);
    });
}

namespace {

// The body of the statement options: value must be one of the allowed codes.
template <typename Apply>
KCESTATUS SetOption(KDSHANDLE statement, const char* what, UNSIGNED16 value,
                    std::initializer_list<UNSIGNED16> allowed, Apply&& apply) {
    return WithStatement(statement, [&](Statement& st) -> KCESTATUS {
        if (std::find(allowed.begin(), allowed.end(), value) == allowed.end()) {
            return Fail(KCE_INVALID_ARGUMENT, std::string(what) + " " + std::to_string(value));
        }
        return apply(st.Options());
    });
}

}  // namespace

extern "C" KCESTATUS KdsStmtSetTableLockType(KDSHANDLE statement, UNSIGNED16 lockType) {
    return Guard([&]() -> KCESTATUS {
        return SetOption(statement, "lock type", lockType,
                         {KCE_COMPATIBLE_LOCKING, KCE_PROPRIETARY_LOCKING},
                         [&](StatementOptions& o) -> KCESTATUS {
                             o.lockType = lockType;
                             return KCE_SUCCESS;
                         });
    });
}

extern "C" KCESTATUS KdsStmtSetTableCharType(KDSHANDLE statement, UNSIGNED16 charType) {
    return Guard([&]() -> KCESTATUS {
        return SetOption(statement, "character type", charType, {KCE_ANSI, KCE_OEM},
                         [&](StatementOptions& o) -> KCESTATUS {
                             o.charType = charType;
                             return KCE_SUCCESS;
                         });
    });
}

extern "C" KCESTATUS KdsStmtSetTableRights(KDSHANDLE statement, UNSIGNED16 rights) {
    return Guard([&]() -> KCESTATUS {
        return SetOption(statement, "rights checking", rights,
                         {KCE_CHECK_RIGHTS, KCE_IGNORE_RIGHTS},
                         [&](StatementOptions& o) -> KCESTATUS {
                             o.rights = rights;
                             return KCE_SUCCESS;
                         });
    });
}

extern "C" KCESTATUS KdsStmtSetTableReadOnly(KDSHANDLE statement, UNSIGNED16 readOnly) {
    return Guard([&]() -> KCESTATUS {
        return SetOption(statement, "read-only option", readOnly,
                         {KCE_CURSOR_READ_ONLY, KCE_CURSOR_READ_WRITE},
                         [&](StatementOptions&) -> KCESTATUS {
                             // Result sets are static: both settings give a cursor that says it
                             // is read-only in its open options.
                             return KCE_SUCCESS;
                         });
    });
}

extern "C" KCESTATUS KdsStmtSetTableType(KDSHANDLE statement, UNSIGNED16 tableType) {
    return Guard([&]() -> KCESTATUS {
        return SetOption(statement, "table type", tableType, {KCE_NTX, KCE_CDX, KCE_KDT},
                         [&](StatementOptions& o) -> KCESTATUS {
                             o.tableType = tableType;
                             return KCE_SUCCESS;
                         });
    });
}

extern "C" KCESTATUS KdsStmtConstrainUpdates(KDSHANDLE statement, UNSIGNED16 constrain) {
    return Guard([&]() -> KCESTATUS {
        return SetOption(statement, "constrain option", constrain,
                         {KCE_STMT_OPTION_ON, KCE_STMT_OPTION_OFF},
                         [&](StatementOptions&) -> KCESTATUS {
                             if (constrain == KCE_STMT_OPTION_ON) {
                                 return Fail(KCE_NOT_SUPPORTED,
                                             "constrained updates of live result sets (result "
                                             "sets are static)");
                             }
                             return KCE_SUCCESS;
                         });
    });
}

extern "C" KCESTATUS KdsStmtReadAllColumns(KDSHANDLE statement, UNSIGNED16 readAll) {
    return Guard([&]() -> KCESTATUS {
        return SetOption(statement, "read-all-columns option", readAll,
                         {KCE_STMT_OPTION_ON, KCE_STMT_OPTION_OFF},
                         [&](StatementOptions&) -> KCESTATUS {
                             if (readAll == KCE_STMT_OPTION_ON) {
                                 return Fail(KCE_NOT_SUPPORTED,
                                             "reading every column of the tables of a live "
                                             "result set (result sets are static)");
                             }
                             return KCE_SUCCESS;
                         });
    });
}

extern "C" KCESTATUS KdsSetLogical(KDSHANDLE handle, const UNSIGNED8* field, UNSIGNED16 value) {
    return Guard([&]() -> KCESTATUS {
        ParamValue v;
        v.kind = ParamValue::kInteger;
        v.integer = value ? 1 : 0;
        return SetValue(handle, field, v, value ? "T" : "F");
    });
}

extern "C" KCESTATUS KdsSetDouble(KDSHANDLE handle, const UNSIGNED8* field, double value) {
    return Guard([&]() -> KCESTATUS {
        ParamValue v;
        v.kind = ParamValue::kReal;
        v.real = value;
        return SetValue(handle, field, v, DoubleText(value));
    });
}

extern "C" KCESTATUS KdsSetJulian(KDSHANDLE handle, const UNSIGNED8* field, SIGNED32 julian) {
    return Guard([&]() -> KCESTATUS {
        // Julian day 0 is the empty date.
        if (julian == 0) return SetValue(handle, field, ParamValue(), "");
        std::string iso = FormatIsoDate(julian);
        int64_t back = 0;
        if (julian < 0 || !ParseIsoDate(iso, &back) || back != julian) {
            return Fail(KCE_INVALID_DATE, "Julian day " + std::to_string(julian));
        }
        return SetValue(handle, field, Text(iso), iso);
    });
}

extern "C" KCESTATUS KdsSetMilliseconds(KDSHANDLE handle, const UNSIGNED8* field, SIGNED32 ms) {
    return Guard([&]() -> KCESTATUS {
        if (KCESTATUS s = CheckMilliseconds(ms)) return s;
        std::string time = FormatTimeOfDay(uint32_t(ms));
        return SetValue(handle, field, Text(time), time);
    });
}

extern "C" KCESTATUS KdsSetTimeStampRaw(KDSHANDLE handle, const UNSIGNED8* field,
                                        const UNSIGNED8* raw, UNSIGNED32 len) {
    return Guard([&]() -> KCESTATUS {
        if (!raw || len != 8) {
            return Fail(KCE_INVALID_ARGUMENT,
                        "a raw timestamp is 8 bytes (the Julian day, then the milliseconds)");
        }
        auto word = [&](int at) {
            return SIGNED32(uint32_t(raw[at]) | uint32_t(raw[at + 1]) << 8 |
                            uint32_t(raw[at + 2]) << 16 | uint32_t(raw[at + 3]) << 24);
        };
        SIGNED32 julian = word(0), ms = word(4);
        if (julian == 0) return SetValue(handle, field, ParamValue(), "");
        if (KCESTATUS s = CheckMilliseconds(ms)) return s;
        std::string iso = FormatIsoDate(julian);
        int64_t back = 0;
        if (julian < 0 || !ParseIsoDate(iso, &back) || back != julian) {
            return Fail(KCE_INVALID_DATE, "Julian day " + std::to_string(julian));
        }
        std::string time = FormatTimeOfDay(uint32_t(ms));
        return SetValue(handle, field, Text(iso + "T" + time), iso + " " + time);
    });
}

extern "C" KCESTATUS KdsSetBinary(KDSHANDLE handle, const UNSIGNED8* field, UNSIGNED16 binaryType,
                                  UNSIGNED32 totalLength, UNSIGNED32 offset, const UNSIGNED8* bytes,
                                  UNSIGNED32 len) {
    return Guard([&]() -> KCESTATUS {
        if (binaryType != KCE_BINARY && binaryType != KCE_IMAGE) {
            return Fail(KCE_INVALID_ARGUMENT, "binary type " + std::to_string(binaryType));
        }
        if (offset != 0 || len != totalLength) {
            return Fail(KCE_NOT_SUPPORTED,
                        "a binary value set in pieces: give it whole (offset "
                        "0, length its total length)");
        }
        if (!bytes && len) return Fail(KCE_INVALID_ARGUMENT, "no bytes given");
        ParamValue v;
        v.kind = ParamValue::kBlob;
        v.bytes.assign(reinterpret_cast<const char*>(bytes ? bytes : (const UNSIGNED8*)""), len);
        return SetValue(handle, field, v, v.bytes);
    });
}

extern "C" KCESTATUS KdsSetString(KDSHANDLE handle, const UNSIGNED8* field, const UNSIGNED8* value,
                                  UNSIGNED32 len) {
    return Guard([&]() -> KCESTATUS {
        if (!value && len) return Fail(KCE_INVALID_ARGUMENT, "no value given");
        std::string ansi(reinterpret_cast<const char*>(value ? value : (const UNSIGNED8*)""), len);
        return SetValue(handle, field, Text(native::ColumnText(ansi)), ansi);
    });
}
