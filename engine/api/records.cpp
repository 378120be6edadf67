// The C entry points of navigation, bookmarks and record reading.
#include "engine/api/helpers.h"
#include "engine/sql/statement.h"

using namespace kce;

extern "C" KCESTATUS KdsGotoTop(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& c, Order& o) { return c.GotoTop(o); });
}

extern "C" KCESTATUS KdsGotoBottom(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& c, Order& o) { return c.GotoBottom(o); });
}

extern "C" KCESTATUS KdsSkip(KDSHANDLE table, SIGNED32 count) {
    return OnCursor(table, [&](TableCursor& c, Order& o) { return c.Skip(o, count); });
}

extern "C" KCESTATUS KdsAtEOF(KDSHANDLE table, UNSIGNED16* atEof) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(atEof)) return s;
        *atEof = c.AtEof() && !c.Pending();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsAtBOF(KDSHANDLE table, UNSIGNED16* atBof) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(atBof)) return s;
        *atBof = c.AtBof() && !c.Pending();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGotoRecord(KDSHANDLE table, UNSIGNED32 recno) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.GotoRecord(recno); });
}

extern "C" KCESTATUS KdsGetRecord(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32* len) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (!len || !buf) return Fail(KCE_INVALID_ARGUMENT, "no buffer given");
        const uint8_t* image = c.Image();
        if (!image) {
            return Fail(KCE_NO_CURRENT_RECORD,
                        "table '" + c.Name() + "' is at " + (c.AtEof() ? "EOF" : "BOF"));
        }
        UNSIGNED32 length = c.Layout().recordLength;
        if (*len < length) {
            *len = length;
            return Fail(KCE_INSUFFICIENT_BUFFER, "a record of table '" + c.Name() + "' needs " +
                                                     std::to_string(length) + " bytes");
        }
        std::memcpy(buf, image, length);
        *len = length;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetRecordNum(KDSHANDLE table, UNSIGNED16 option, UNSIGNED32* recno) {
    (void)option;  // filters do not renumber records
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(recno)) return s;
        *recno = c.Recno();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetRecordCount(KDSHANDLE table, UNSIGNED16 option, UNSIGNED32* count) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        // A statement answers the rows its last run changed.
        if (sql::IsStatement(table)) return sql::StatementRowsAffected(table, count);
        return OnCursor(table, [&](TableCursor& c, Order& o) -> KCESTATUS {
            if (KCESTATUS s = NeedOut(count)) return s;
            if ((option & 3) == 0) {
                return Fail(KCE_INVALID_ARGUMENT, "record count option " + std::to_string(option));
            }
            return c.Count(o, option, count);
        });
    });
}

extern "C" KCESTATUS KdsGetBookmark(KDSHANDLE table, KDSHANDLE* bookmark) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(bookmark)) return s;
        if (c.Recno() == 0) return Fail(KCE_NO_CURRENT_RECORD, "table '" + c.Name() + "'");
        *bookmark = c.Recno();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetBookmark60(KDSHANDLE table, UNSIGNED8* bookmark, UNSIGNED32* len) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (!bookmark || !len) return Fail(KCE_INVALID_ARGUMENT, "no bookmark buffer given");
        if (c.Recno() == 0) return Fail(KCE_NO_CURRENT_RECORD, "table '" + c.Name() + "'");
        if (*len < 4) {
            *len = 4;
            return Fail(KCE_INSUFFICIENT_BUFFER, "a bookmark needs 4 bytes");
        }
        StoreU32(bookmark, c.Recno());
        *len = 4;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGotoBookmark(KDSHANDLE table, KDSHANDLE bookmark) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.GotoRecord(bookmark); });
}

extern "C" KCESTATUS KdsCompareBookmarks(const UNSIGNED8* bookmark1, const UNSIGNED8* bookmark2,
                                         SIGNED32* result) {
    return Guard([&]() -> KCESTATUS {
        if (!bookmark1 || !bookmark2 || !result) {
            return Fail(KCE_INVALID_ARGUMENT, "two bookmarks and a result variable are needed");
        }
        UNSIGNED32 a = LoadU32(bookmark1), b = LoadU32(bookmark2);
        *result = a < b ? -1 : a > b ? 1 : 0;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsIsRecordVisible(KDSHANDLE table, UNSIGNED16* visible) {
    return OnCursor(table, [&](TableCursor& c, Order& o) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(visible)) return s;
        bool v = false;
        if (KCESTATUS s = c.Visible(o, &v)) return s;
        *visible = v;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsIsRecordDeleted(KDSHANDLE table, UNSIGNED16* deleted) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(deleted)) return s;
        if (!c.OnRecord()) return Fail(KCE_NO_CURRENT_RECORD, "table '" + c.Name() + "'");
        *deleted = c.CurrentDeleted() && !c.AppendPending();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsRefreshRecord(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.Refresh(); });
}

extern "C" KCESTATUS KdsGetNullRecord(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32* len) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (!buf || !len) return Fail(KCE_INVALID_ARGUMENT, "no buffer given");
        UNSIGNED32 length = c.Layout().recordLength;
        if (*len < length) {
            *len = length;
            return Fail(KCE_INSUFFICIENT_BUFFER, "a record of table '" + c.Name() + "' needs " +
                                                     std::to_string(length) + " bytes");
        }
        c.Store().NullRecord(buf);
        *len = length;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsClearRecordBuffer(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32 len) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (!buf) return Fail(KCE_INVALID_ARGUMENT, "no buffer given");
        UNSIGNED32 length = c.Layout().recordLength;
        if (len < length) {
            return Fail(KCE_WRONG_RECORD_LENGTH, "a record of table '" + c.Name() + "' has " +
                                                     std::to_string(length) + " bytes, " +
                                                     std::to_string(len) + " given");
        }
        c.Store().NullRecord(buf);
        return KCE_SUCCESS;
    });
}
