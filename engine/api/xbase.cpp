// The C entry points that only xBase tables give meaning to: pack, the file check and the
// code page.
#include "engine/api/helpers.h"
#include "engine/dbf/dbf_storage.h"

using namespace kce;

extern "C" KCESTATUS KdsPackTable(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& cursor, Order& order) -> KCESTATUS {
        if (KCESTATUS s = cursor.CheckWritable()) return s;
        if (!cursor.Exclusive()) {
            return Fail(KCE_NOT_EXCLUSIVE, "pack of " + cursor.Name());
        }
        cursor.DiscardPending();
        // Native tables remove deleted records at once: there is nothing to pack.
        if (dbf::DbfTableOf(cursor.Store()) == nullptr) return KCE_SUCCESS;
        if (KCESTATUS s = dbf::PackDbf(cursor.Store())) return s;
        return cursor.GotoTop(order);
    });
}

extern "C" KCESTATUS KdsCheckTableFile(KDSHANDLE table, UNSIGNED16 repair, UNSIGNED8* report,
                                       UNSIGNED32* len) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        std::string text;
        if (dbf::DbfTable* dbf = dbf::DbfTableOf(cursor.Store())) {
            std::vector<std::string> problems;
            if (KCESTATUS s = dbf->Check(&problems)) return s;
            for (const std::string& p : problems) text += p + "\n";
            if (repair && !problems.empty()) {
                if (KCESTATUS s = cursor.CheckWritable()) return s;
                if (!cursor.Exclusive()) {
                    return Fail(KCE_NOT_EXCLUSIVE, "repair of " + cursor.Name());
                }
                if (KCESTATUS s = dbf->Repair()) return s;
            }
        }
        return CopyOut32(text, report, len);
    });
}

extern "C" KCESTATUS KdsGetCodePage(KDSHANDLE table, UNSIGNED16* codePage) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(codePage)) return s;
        dbf::DbfTable* dbf = dbf::DbfTableOf(cursor.Store());
        if (!dbf) return Fail(KCE_NOT_APPLICABLE, "table " + cursor.Name() + " has no code page");
        *codePage = dbf->CodePage();
        return KCE_SUCCESS;
    });
}
