// The C entry points of editing, fields, blobs, locks and table maintenance.
#include "engine/api/helpers.h"
#include "engine/index/index_handles.h"
#include "engine/sql/statement.h"

using namespace kce;

extern "C" KCESTATUS KdsAppendRecord(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.Append(); });
}

extern "C" KCESTATUS KdsSetField(KDSHANDLE table, const UNSIGNED8* field, const UNSIGNED8* value,
                                 UNSIGNED32 len) {
    return OnFieldOrKey(table, field, value, len, false, [&](TableCursor& c, int index) {
        if (!value && len) return Fail(KCE_INVALID_ARGUMENT, "no value given");
        std::string_view text(reinterpret_cast<const char*>(value ? value : (const UNSIGNED8*)""),
                              len);
        return c.SetText(index, text);
    });
}

extern "C" KCESTATUS KdsSetFieldRaw(KDSHANDLE table, const UNSIGNED8* field, const UNSIGNED8* value,
                                    UNSIGNED32 len) {
    return OnFieldOrKey(table, field, value, len, true,
                        [&](TableCursor& c, int index) { return c.SetRaw(index, value, len); });
}

extern "C" KCESTATUS KdsSetEmpty(KDSHANDLE table, const UNSIGNED8* field) {
    // One firewall pass, one lock and one handle lookup: posting a record empties many fields.
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<HandleObject> obj = Handles::Find(table);
        if (obj && obj->HandleType() == KCE_HANDLE_STATEMENT) {
            return sql::SetStatementNull(table, field);
        }
        TableCursor* cursor = nullptr;
        Order* order = nullptr;
        if (KCESTATUS s = ResolveCursor(table, obj.get(), &cursor, &order)) return s;
        int index = -1;
        if (KCESTATUS s = ResolveField(cursor->Layout(), field, cursor->Name(), &index)) return s;
        return cursor->SetEmpty(index);
    });
}

extern "C" KCESTATUS KdsWriteRecord(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.Write(); });
}

extern "C" KCESTATUS KdsDeleteRecord(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.Delete(); });
}

extern "C" KCESTATUS KdsCancelUpdate(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.Cancel(); });
}

extern "C" KCESTATUS KdsLockRecord(KDSHANDLE table, UNSIGNED32 recno) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.Lock(recno); });
}

extern "C" KCESTATUS KdsUnlockRecord(KDSHANDLE table, UNSIGNED32 recno) {
    return OnCursor(table, [&](TableCursor& c, Order&) { return c.Unlock(recno); });
}

extern "C" KCESTATUS KdsGetLastAutoinc(KDSHANDLE table, UNSIGNED32* value) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        if (sql::IsStatement(table)) return sql::StatementLastAutoinc(table, value);
        return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
            if (KCESTATUS s = NeedOut(value)) return s;
            return c.Store().LastAutoinc(value);
        });
    });
}

extern "C" KCESTATUS KdsGetField(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED8* buf,
                                 UNSIGNED32* len, UNSIGNED16 option) {
    (void)option;
    return OnField(table, field, [&](TableCursor& c, Order&, int index, const FieldDesc& f) {
        std::string text;
        if (IsBlobType(f.type)) {
            BlobValue v;
            if (KCESTATUS s = c.Blob(index, &v)) return s;
            text = std::move(v.bytes);
        } else {
            const uint8_t* image = c.Image();
            if (!image) return Fail(KCE_NO_CURRENT_RECORD, "table '" + c.Name() + "'");
            if (KCESTATUS s = c.Store().FieldToText(index, image, &text)) return s;
        }
        return CopyOut32(text, buf, len);
    });
}

extern "C" KCESTATUS KdsIsEmpty(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* empty) {
    return OnField(table, field, [&](TableCursor& c, Order&, int index, const FieldDesc&) {
        if (KCESTATUS s = NeedOut(empty)) return s;
        const uint8_t* image = c.Image();
        if (!image) return Fail(KCE_NO_CURRENT_RECORD, "table '" + c.Name() + "'");
        *empty = c.Store().IsNull(index, image);
        return KCESTATUS(KCE_SUCCESS);
    });
}

namespace {

// The body of the blob-length calls: the length of a blob field's value.
auto BlobLength(UNSIGNED32* length) {
    return [length](TableCursor& c, Order&, int index, const FieldDesc& f) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(length)) return s;
        if (!IsBlobType(f.type)) {
            return Fail(KCE_NOT_A_BLOB, "field '" + f.name + "' of table '" + c.Name() + "'");
        }
        BlobValue v;
        if (KCESTATUS s = c.Blob(index, &v)) return s;
        *length = UNSIGNED32(v.bytes.size());
        return KCE_SUCCESS;
    };
}

}  // namespace

extern "C" KCESTATUS KdsGetMemoLength(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* length) {
    return OnField(table, field, BlobLength(length));
}

extern "C" KCESTATUS KdsGetBinaryLength(KDSHANDLE table, const UNSIGNED8* field,
                                        UNSIGNED32* length) {
    return OnField(table, field, BlobLength(length));
}

extern "C" KCESTATUS KdsGetMemoDataType(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* type) {
    return OnField(table, field, [&](TableCursor& c, Order&, int, const FieldDesc& f) {
        if (KCESTATUS s = NeedOut(type)) return s;
        if (!IsBlobType(f.type)) {
            return Fail(KCE_NOT_A_BLOB, "field '" + f.name + "' of table '" + c.Name() + "'");
        }
        *type = f.type == KCE_MEMO || f.type == KCE_VARCHAR ? KCE_MEMO : KCE_BINARY;
        return KCESTATUS(KCE_SUCCESS);
    });
}

extern "C" KCESTATUS KdsZapTable(KDSHANDLE table) {
    return OnCursor(table, [&](TableCursor& c, Order& o) -> KCESTATUS {
        if (!c.Exclusive()) {
            return Fail(KCE_NOT_EXCLUSIVE,
                        "table '" + c.Name() + "' cannot be emptied while shared");
        }
        if (KCESTATUS s = c.CheckWritable()) return s;
        c.DiscardPending();
        if (KCESTATUS s = c.Store().Zap()) return s;
        return c.GotoTop(o);
    });
}

// The password reaches the table's storage, which every handle of this process shares; records
// read before it was given are read again.
extern "C" KCESTATUS KdsEnableEncryption(KDSHANDLE table, const UNSIGNED8* password) {
    return OnCursor(table, [&](TableCursor& c, Order&) -> KCESTATUS {
        if (!c.Store().Encrypted()) return KCESTATUS(KCE_SUCCESS);
        if (KCESTATUS s = c.Store().GivePassword(TextArg(password))) return s;
        if (!c.OnRecord() || c.Pending()) return KCESTATUS(KCE_SUCCESS);
        // A tampered current record is reported where it is read; the password stands.
        KCESTATUS s = c.Refresh();
        return s == KCE_TAMPERED ? KCESTATUS(KCE_SUCCESS) : s;
    });
}

namespace {

// Encrypting and decrypting rewrite every record: the handle must hold the table alone.
template <typename Change>
KCESTATUS ChangeEncryption(TableCursor& c, Order& o, const char* what, Change&& change) {
    if (!c.Exclusive()) {
        return Fail(KCE_NOT_EXCLUSIVE,
                    "table '" + c.Name() + "' cannot be " + what + " while shared");
    }
    if (KCESTATUS s = c.CheckWritable()) return s;
    c.DiscardPending();
    if (KCESTATUS s = change(c.Store())) return s;
    return c.GotoTop(o);
}

}  // namespace

extern "C" KCESTATUS KdsEncryptTable(KDSHANDLE table, const UNSIGNED8* password) {
    return OnCursor(table, [&](TableCursor& c, Order& o) -> KCESTATUS {
        return ChangeEncryption(c, o, "encrypted",
                                [&](Storage& s) { return s.Encrypt(TextArg(password)); });
    });
}

extern "C" KCESTATUS KdsDecryptTable(KDSHANDLE table, const UNSIGNED8* password) {
    return OnCursor(table, [&](TableCursor& c, Order& o) -> KCESTATUS {
        return ChangeEncryption(c, o, "decrypted",
                                [&](Storage& s) { return s.Decrypt(TextArg(password)); });
    });
}
