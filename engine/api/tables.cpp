// The C entry points of tables: create, open, close, layout.
#include <sys/stat.h>

#include "engine/api/helpers.h"
#include "engine/connection.h"
#include "engine/dictionary/dictionary.h"
#include "engine/paths.h"
#include "engine/storage.h"
#include "engine/table.h"

using namespace kce;

namespace {

// Resolves a table name against the connection's folder and completes the extension and the
// table type (0: from the extension). On a dictionary connection a bare name (no folder) is a
// table of the dictionary: its file and type come from there, and its index files are added to
// indexFiles when that is given.
KCESTATUS ResolveTable(KDSHANDLE connectionHandle, const UNSIGNED8* name, UNSIGNED16* tableType,
                       std::string* path, std::vector<std::string>* indexFiles = nullptr) {
    std::string base;
    std::string given = TextArg(name);
    if (given.empty()) return Fail(KCE_INVALID_PATH, "no table name given");
    if (connectionHandle != 0) {
        std::shared_ptr<Connection> connection;
        if (KCESTATUS s = Handles::Get(connectionHandle, &connection, "connection")) return s;
        base = connection->Folder();
        if (!connection->Dictionary().empty() && given.find_first_of("/\\:") == std::string::npos) {
            DictionaryTable table;
            if (KCESTATUS s = FindDictionaryTable(connection->Dictionary(), given, &table)) {
                return s;
            }
            *path = ResolvePath(table.file, base);
            *tableType = table.tableType;
            if (indexFiles) *indexFiles = table.indexFiles;
            return KCE_SUCCESS;
        }
    }
    const StorageKind* kind = nullptr;
    if (*tableType != KCE_DEFAULT_TABLE) {
        kind = FindStorageKind(*tableType);
        if (!kind) return Fail(KCE_INVALID_ARGUMENT, "table type " + std::to_string(*tableType));
    }
    std::string ext = Extension(given);
    if (ext.empty()) {
        given += kind ? kind->extension : FindStorageKind(KCE_KDT)->extension;
        ext = Extension(given);
    }
    if (!kind) {
        kind = FindStorageKindByExtension(ext);
        *tableType = kind ? kind->tableType : UNSIGNED16(KCE_KDT);
    }
    *path = ResolvePath(given, base);
    return KCE_SUCCESS;
}

KCESTATUS CheckCodes(UNSIGNED16 charType, UNSIGNED32 options) {
    if (charType != KCE_ANSI && charType != KCE_OEM) {
        return Fail(KCE_INVALID_ARGUMENT, "character type " + std::to_string(charType));
    }
    if (options & ~UNSIGNED32(KCE_OPEN_EXCLUSIVE | KCE_OPEN_READ_ONLY)) {
        return Fail(KCE_INVALID_ARGUMENT, "open options " + std::to_string(options));
    }
    return KCE_SUCCESS;
}

}  // namespace

extern "C" KCESTATUS KdsOpenTable(KDSHANDLE connection, const UNSIGNED8* name,
                                  const UNSIGNED8* alias, UNSIGNED16 tableType, UNSIGNED16 charType,
                                  UNSIGNED16 lockType, UNSIGNED16 rightsCheck, UNSIGNED32 options,
                                  KDSHANDLE* table) {
    (void)rightsCheck;  // rights are a matter of dictionaries; free tables have none
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        if (KCESTATUS s = NeedOut(table)) return s;
        *table = 0;
        if (alias && *alias)
            return Fail(KCE_NOT_SUPPORTED, "table aliases ('" + TextArg(alias) + "')");
        if (lockType != KCE_COMPATIBLE_LOCKING && lockType != KCE_PROPRIETARY_LOCKING)
            return Fail(KCE_INVALID_ARGUMENT, "lock type " + std::to_string(lockType));
        if (KCESTATUS s = CheckCodes(charType, options)) return s;
        OpenArgs args;
        args.tableType = tableType;
        std::vector<std::string> indexFiles;
        if (KCESTATUS s = ResolveTable(connection, name, &args.tableType, &args.path, &indexFiles))
            return s;
        args.charType = charType;
        args.options = options;
        args.connection = connection;
        if (KCESTATUS s = OpenTable(args, table)) return s;
        // The index files a dictionary lists for the table open with it.
        for (const std::string& file : indexFiles) {
            KDSHANDLE handles[50];
            UNSIGNED16 count = 50;
            if (KCESTATUS s = KdsOpenIndex(*table, reinterpret_cast<const UNSIGNED8*>(file.c_str()),
                                           handles, &count)) {
                CloseTable(*table);  // keeps the index file's failure as the last error
                *table = 0;
                return s;
            }
        }
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsCreateTable(KDSHANDLE connection, const UNSIGNED8* name,
                                    UNSIGNED16 tableType, UNSIGNED16 charType,
                                    const UNSIGNED8* fields, UNSIGNED32 options, KDSHANDLE* table) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        if (KCESTATUS s = NeedOut(table)) return s;
        *table = 0;
        if (KCESTATUS s = CheckCodes(charType, options)) return s;
        std::vector<FieldSpec> specs;
        if (KCESTATUS s = ParseFieldList(TextArg(fields), &specs)) return s;
        OpenArgs args;
        args.tableType = tableType;
        if (KCESTATUS s = ResolveTable(connection, name, &args.tableType, &args.path)) return s;
        args.charType = charType;
        args.options = KCE_OPEN_EXCLUSIVE;
        args.connection = connection;
        return CreateTable(args, specs, table);
    });
}

extern "C" KCESTATUS KdsCloseTable(KDSHANDLE table) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        return CloseTable(table);
    });
}

extern "C" KCESTATUS KdsGetTableType(KDSHANDLE table, UNSIGNED16* type) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(type)) return s;
        *type = cursor.Store().TableType();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsIsTableEncrypted(KDSHANDLE table, UNSIGNED16* encrypted) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(encrypted)) return s;
        *encrypted = cursor.Store().Encrypted() ? 1 : 0;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetTableOpenOptions(KDSHANDLE table, UNSIGNED32* options) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(options)) return s;
        *options = cursor.Options();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetTableFilename(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED16* len) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        return CopyOut(cursor.Store().Path(), buf, len);
    });
}

extern "C" KCESTATUS KdsGetRecordLength(KDSHANDLE table, UNSIGNED32* length) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(length)) return s;
        *length = cursor.Layout().recordLength;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetNumFields(KDSHANDLE table, UNSIGNED16* count) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(count)) return s;
        *count = UNSIGNED16(cursor.Layout().fields.size());
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetFieldName(KDSHANDLE table, UNSIGNED16 ordinal, UNSIGNED8* buf,
                                     UNSIGNED16* len) {
    return OnCursor(table, [&](TableCursor& cursor, Order&) -> KCESTATUS {
        int index = -1;
        if (KCESTATUS s =
                ResolveField(cursor.Layout(), KCE_FIELD_ORDINAL(ordinal), cursor.Name(), &index))
            return s;
        return CopyOut(cursor.Layout().fields[index].name, buf, len);
    });
}

extern "C" KCESTATUS KdsGetFieldNum(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* ordinal) {
    return OnField(table, field, [&](TableCursor&, Order&, int index, const FieldDesc&) {
        if (KCESTATUS s = NeedOut(ordinal)) return s;
        *ordinal = UNSIGNED16(index + 1);
        return KCESTATUS(KCE_SUCCESS);
    });
}

extern "C" KCESTATUS KdsGetFieldType(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* type) {
    return OnField(table, field, [&](TableCursor&, Order&, int, const FieldDesc& f) {
        if (KCESTATUS s = NeedOut(type)) return s;
        *type = f.type;
        return KCESTATUS(KCE_SUCCESS);
    });
}

extern "C" KCESTATUS KdsGetFieldLength(KDSHANDLE table, const UNSIGNED8* field,
                                       UNSIGNED32* length) {
    return OnField(table, field, [&](TableCursor&, Order&, int, const FieldDesc& f) {
        if (KCESTATUS s = NeedOut(length)) return s;
        *length = f.length;
        return KCESTATUS(KCE_SUCCESS);
    });
}

extern "C" KCESTATUS KdsGetFieldDecimals(KDSHANDLE table, const UNSIGNED8* field,
                                         UNSIGNED16* decimals) {
    return OnField(table, field, [&](TableCursor&, Order&, int, const FieldDesc& f) {
        if (KCESTATUS s = NeedOut(decimals)) return s;
        *decimals = f.decimals;
        return KCESTATUS(KCE_SUCCESS);
    });
}

extern "C" KCESTATUS KdsGetFieldOffset(KDSHANDLE table, const UNSIGNED8* field,
                                       UNSIGNED32* offset) {
    return OnField(table, field, [&](TableCursor&, Order&, int, const FieldDesc& f) {
        if (KCESTATUS s = NeedOut(offset)) return s;
        *offset = f.offset;
        return KCESTATUS(KCE_SUCCESS);
    });
}

extern "C" KCESTATUS KdsGetBookmarkLength(KDSHANDLE table, UNSIGNED32* length) {
    return OnCursor(table, [&](TableCursor&, Order&) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(length)) return s;
        *length = 4;
        return KCE_SUCCESS;
    });
}
