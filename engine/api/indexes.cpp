// C entry points of indexes, raw keys, seeks and scopes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/api/helpers.h"
#include "engine/index/index_handles.h"
#include "engine/native/kdt_storage.h"
#include "engine/paths.h"
#include "engine/text.h"

namespace kce {

namespace {

KCESTATUS CopyHandles(const std::vector<std::shared_ptr<IndexHandle>>& list, KDSHANDLE* handles,
                      UNSIGNED16* count) {
    if (KCESTATUS s = NeedOut(count)) return s;
    UNSIGNED16 room = *count;
    *count = UNSIGNED16(list.size());
    if (!handles) return KCE_SUCCESS;
    if (list.size() > room) {
        return Fail(KCE_INSUFFICIENT_BUFFER, "the table has " + std::to_string(list.size()) +
                                                 " indexes, room was given for " +
                                                 std::to_string(room));
    }
    for (size_t i = 0; i < list.size(); ++i) handles[i] = list[i]->Handle();
    return KCE_SUCCESS;
}

// Puts the cursor on the first entry at or after pos that passes the table's filter; EOF when
// none does.
KCESTATUS LandFrom(IndexHandle& h, KeyPos pos, bool found, const std::string& prefix,
                   bool needPrefix, UNSIGNED16* foundFlag) {
    TableCursor& cursor = h.Cursor();
    IndexOrder& order = h.Index();
    Storage& storage = cursor.Store();
    std::vector<uint8_t> image(storage.Layout().recordLength);
    KeyRange range = order.Range();
    // Without a filter every record of the index is shown: land without reading it twice.
    const bool screened = cursor.Filter() || storage.HasDeletedMarks();
    while (found) {
        if (needPrefix && pos.key.compare(0, prefix.size(), prefix) != 0) break;
        if (!screened) {
            order.Remember(pos);
            if (foundFlag) *foundFlag = pos.key.compare(0, prefix.size(), prefix) == 0;
            return cursor.Land(pos.recno);
        }
        bool exists = false, deleted = false;
        if (KCESTATUS s = storage.ReadRecord(pos.recno, image.data(), &exists, &deleted)) return s;
        bool ok = false;
        if (exists) {
            if (KCESTATUS s = cursor.Passes(pos.recno, image.data(), deleted, &ok)) return s;
        }
        if (ok) {
            order.Remember(pos);
            if (foundFlag) *foundFlag = pos.key.compare(0, prefix.size(), prefix) == 0;
            return cursor.Land(pos.recno);
        }
        if (KCESTATUS s = order.Index().Store().After(pos, range, &pos, &found)) return s;
    }
    if (foundFlag) *foundFlag = 0;
    return cursor.Land(0);
}

// The key of a seek or scope: raw bytes, or a string key converted to the key's encoding.
KCESTATUS EncodeKey(IndexHandle& h, const UNSIGNED8* key, UNSIGNED16 len, UNSIGNED16 keyType,
                    std::string* out) {
    const IndexKey& k = h.Index().Index().Key();
    if (!key && len) return Fail(KCE_INVALID_ARGUMENT, "no key given");
    std::string_view bytes(reinterpret_cast<const char*>(key ? key : (const UNSIGNED8*)""), len);
    if (keyType == KCE_RAWKEY) {
        if (bytes.size() > k.Length()) {
            return Fail(KCE_KEY_TOO_LONG, "raw key of " + std::to_string(bytes.size()) +
                                              " bytes for index " +
                                              h.Index().Index().Definition().name + " of " +
                                              std::to_string(k.Length()) + " bytes");
        }
        out->assign(bytes);
        return KCE_SUCCESS;
    }
    if (keyType == KCE_STRINGKEY) return k.TextKey(bytes, out);
    return Fail(KCE_INVALID_ARGUMENT,
                "key type " + std::to_string(keyType) + " (1 raw key, 2 string key)");
}

// An index file's path: relative to the table's folder, ".kdi" when it has no extension.
std::string IndexFilePath(TableCursor& cursor, const std::string& file) {
    const std::string& table = cursor.Store().Path();
    std::string folder = table.substr(0, table.find_last_of('/') + 1);
    std::string path = ResolvePath(file, folder);
    if (Extension(path).empty()) {
        UNSIGNED16 type = cursor.Store().TableType();
        path += type == KCE_CDX ? ".cdx" : type == KCE_NTX ? ".ntx" : ".kdi";
    }
    return path;
}

// What KdsCheckIndexes finds: every disagreement between the table's indexes and its records.
KCESTATUS IndexProblems(TableCursor& cursor, std::vector<std::string>* problems) {
    if (!TableIndexes::Supports(cursor.Store())) return KCE_SUCCESS;
    std::shared_ptr<TableIndexes> indexes;
    if (KCESTATUS s = TableIndexes::For(cursor.Store(), &indexes)) return s;
    return indexes->Check(problems);
}

std::shared_ptr<IndexHandle> NewHandle(const std::shared_ptr<TableCursor>& cursor,
                                       const std::shared_ptr<NativeIndex>& index) {
    auto handle = std::make_shared<IndexHandle>(cursor, std::make_shared<IndexOrder>(index));
    cursor->IndexHandles().push_back(Handles::Add(handle));
    return handle;
}

}  // namespace

}  // namespace kce

using namespace kce;

extern "C" KCESTATUS KdsCreateIndex(KDSHANDLE table, const UNSIGNED8* file, const UNSIGNED8* name,
                                    const UNSIGNED8* key, const UNSIGNED8* condition,
                                    UNSIGNED32 options, KDSHANDLE* index) {
    return OnTable(table, [&](const std::shared_ptr<TableCursor>& cursor) -> KCESTATUS {
        if (cursor->ReadOnly()) return Fail(KCE_TABLE_READ_ONLY, "table '" + cursor->Name() + "'");
        std::shared_ptr<TableIndexes> indexes;
        if (KCESTATUS s = TableIndexes::For(cursor->Store(), &indexes)) return s;
        IndexDefinition def;
        def.name = TextArg(name);
        def.key = TextArg(key);
        def.condition = TextArg(condition);
        def.unique = options & KCE_INDEX_UNIQUE;
        def.descending = options & KCE_INDEX_DESCENDING;
        if (!TextArg(file).empty()) {
            std::shared_ptr<NativeIndex> created;
            std::string path = IndexFilePath(*cursor, TextArg(file));
            if (KCESTATUS s = indexes->CreateInFile(path, def, &created)) return s;
            auto handle = NewHandle(cursor, created);
            if (index) *index = handle->Handle();
            return KCE_SUCCESS;
        }
        std::shared_ptr<NativeIndex> created;
        if (KCESTATUS s = indexes->Create(def, &created)) return s;
        if (created->InIndexFile()) {
            // A table kind without structural indexes made the index a file of its own.
            auto handle = NewHandle(cursor, created);
            if (index) *index = handle->Handle();
            return KCE_SUCCESS;
        }
        std::vector<std::shared_ptr<IndexHandle>> handles;
        if (KCESTATUS s = IndexHandlesOf(cursor, &handles)) return s;
        for (const auto& h : handles) {
            if (h->Index().SharedIndex() == created && index) *index = h->Handle();
        }
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsDeleteIndex(KDSHANDLE index) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        TableCursor& cursor = h.Cursor();
        if (cursor.ReadOnly()) return Fail(KCE_TABLE_READ_ONLY, "table '" + cursor.Name() + "'");
        if (h.Index().Index().InIndexFile()) {
            return Fail(KCE_NOT_SUPPORTED, "index " + h.Index().Index().Definition().name +
                                               " lives in index file " + h.Index().Index().File() +
                                               ": remove the file instead");
        }
        std::shared_ptr<TableIndexes> indexes;
        if (KCESTATUS s = TableIndexes::For(cursor.Store(), &indexes)) return s;
        if (KCESTATUS s = indexes->Drop(h.Index().Index().Definition().name)) return s;
        auto& list = cursor.IndexHandles();
        list.erase(std::remove(list.begin(), list.end(), index), list.end());
        Handles::Remove(index);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetAllIndexes(KDSHANDLE table, KDSHANDLE* handles, UNSIGNED16* count) {
    return OnTable(table, [&](const std::shared_ptr<TableCursor>& cursor) -> KCESTATUS {
        std::vector<std::shared_ptr<IndexHandle>> list;
        if (KCESTATUS s = IndexHandlesOf(cursor, &list)) return s;
        return CopyHandles(list, handles, count);
    });
}

extern "C" KCESTATUS KdsGetIndexHandle(KDSHANDLE table, const UNSIGNED8* name, KDSHANDLE* index) {
    return OnTable(table, [&](const std::shared_ptr<TableCursor>& cursor) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(index)) return s;
        std::vector<std::shared_ptr<IndexHandle>> list;
        if (KCESTATUS s = IndexHandlesOf(cursor, &list)) return s;
        std::string wanted = TextArg(name);
        for (const auto& h : list) {
            const std::string& n = h->Index().Index().Definition().name;
            if (SameText(n, wanted)) {
                *index = h->Handle();
                return KCE_SUCCESS;
            }
        }
        std::shared_ptr<TableIndexes> indexes;
        if (TableIndexes::Supports(cursor->Store()) &&
            TableIndexes::For(cursor->Store(), &indexes) == KCE_SUCCESS) {
            std::string why = indexes->UnusableReason(wanted);
            if (!why.empty()) return Fail(KCE_NOT_SUPPORTED, why);
        }
        return Fail(KCE_INDEX_NOT_FOUND,
                    "no index named '" + wanted + "' on table '" + cursor->Name() + "'");
    });
}

extern "C" KCESTATUS KdsOpenIndex(KDSHANDLE table, const UNSIGNED8* file, KDSHANDLE* handles,
                                  UNSIGNED16* count) {
    return OnTable(table, [&](const std::shared_ptr<TableCursor>& cursor) -> KCESTATUS {
        std::string path = TextArg(file);
        std::vector<std::shared_ptr<IndexHandle>> list;
        if (KCESTATUS s = IndexHandlesOf(cursor, &list)) return s;
        // The table's own file holds its structural indexes, which are open already.
        if (!path.empty() && FileName(path, true) == FileName(cursor->Store().Path(), true)) {
            return CopyHandles(list, handles, count);
        }
        // So does the structural .cdx of a CDX table (same name as the table).
        if (!path.empty() && cursor->Store().TableType() == KCE_CDX) {
            std::string resolvedPath = IndexFilePath(*cursor, path);
            std::string ext = Extension(resolvedPath);
            if (SameText(ext, ".cdx") &&
                SameText(FileName(resolvedPath, false), FileName(cursor->Store().Path(), false))) {
                std::vector<std::shared_ptr<IndexHandle>> structural;
                for (const auto& h : list) {
                    if (!h->Index().Index().InIndexFile()) structural.push_back(h);
                }
                return CopyHandles(structural, handles, count);
            }
        }
        if (!TableIndexes::Supports(cursor->Store())) {
            return Fail(KCE_NOT_SUPPORTED, "index files of table '" + cursor->Name() + "'");
        }
        std::string resolved = IndexFilePath(*cursor, path);
        // A file this handle has open already answers the handles it has.
        std::vector<std::shared_ptr<IndexHandle>> mine;
        for (const auto& h : list) {
            if (h->Index().Index().InIndexFile() && h->Index().Index().File() == resolved) {
                mine.push_back(h);
            }
        }
        if (!mine.empty()) return CopyHandles(mine, handles, count);
        std::shared_ptr<TableIndexes> indexes;
        if (KCESTATUS s = TableIndexes::For(cursor->Store(), &indexes)) return s;
        std::vector<std::shared_ptr<NativeIndex>> opened;
        if (KCESTATUS s = indexes->OpenFile(resolved, &opened)) return s;
        if (count && handles && opened.size() > *count) {
            indexes->ReleaseFile(resolved, int(opened.size()));
            UNSIGNED16 room = *count;
            *count = UNSIGNED16(opened.size());
            return Fail(KCE_INSUFFICIENT_BUFFER,
                        "index file " + resolved + " holds " + std::to_string(opened.size()) +
                            " indexes, room was given for " + std::to_string(room));
        }
        for (const auto& index : opened) mine.push_back(NewHandle(cursor, index));
        return CopyHandles(mine, handles, count);
    });
}

extern "C" KCESTATUS KdsCloseIndex(KDSHANDLE index) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (!h.Index().Index().InIndexFile()) {
            return Fail(KCE_NOT_SUPPORTED, "index " + h.Index().Index().Definition().name +
                                               " is kept in the table's file and closes with it");
        }
        // Closing an index closes its file: every index of it on this handle goes.
        std::string file = h.Index().Index().File();
        std::shared_ptr<TableCursor> cursor = h.CursorRef();
        auto& list = cursor->IndexHandles();
        std::vector<KDSHANDLE> keep;
        int removed = 0;
        for (KDSHANDLE ih : list) {
            auto other = HandleOf(ih);
            if (other && other->Index().Index().InIndexFile() &&
                other->Index().Index().File() == file) {
                Handles::Remove(ih);
                ++removed;
            } else {
                keep.push_back(ih);
            }
        }
        list = std::move(keep);
        std::shared_ptr<TableIndexes> indexes;
        if (KCESTATUS s = TableIndexes::For(cursor->Store(), &indexes)) return s;
        indexes->ReleaseFile(file, removed);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetIndexName(KDSHANDLE index, UNSIGNED8* buf, UNSIGNED16* len) {
    return OnIndex(index, [&](IndexHandle& h) {
        return CopyOut(h.Index().Index().Definition().name, buf, len);
    });
}

extern "C" KCESTATUS KdsGetIndexFilename(KDSHANDLE index, UNSIGNED16 option, UNSIGNED8* buf,
                                         UNSIGNED16* len) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        const std::string& path = h.Index().Index().File();
        switch (option) {
            case KCE_INDEX_FILE_BASE_NAME:
                return CopyOut(FileName(path, false), buf, len);
            case KCE_INDEX_FILE_NAME:
                return CopyOut(FileName(path, true), buf, len);
            case KCE_INDEX_FILE_PATH:
                return CopyOut(path, buf, len);
        }
        return Fail(KCE_INVALID_ARGUMENT, "file name option " + std::to_string(option) +
                                              " (1 base name, 2 with extension, 3 full path)");
    });
}

extern "C" KCESTATUS KdsGetIndexExpr(KDSHANDLE index, UNSIGNED8* buf, UNSIGNED16* len) {
    return OnIndex(index, [&](IndexHandle& h) {
        return CopyOut(h.Index().Index().Definition().key, buf, len);
    });
}

extern "C" KCESTATUS KdsGetNumSegments(KDSHANDLE index, UNSIGNED16* count) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(count)) return s;
        *count = UNSIGNED16(h.Index().Index().Key().SegmentFields().size());
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetSegmentFieldname(KDSHANDLE index, UNSIGNED16 segment, UNSIGNED8* buf,
                                            UNSIGNED16* len) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        const auto& fields = h.Index().Index().Key().SegmentFields();
        if (segment >= fields.size()) {
            return Fail(KCE_INVALID_ARGUMENT, "index " + h.Index().Index().Definition().name +
                                                  " has " + std::to_string(fields.size()) +
                                                  " segments, segment " + std::to_string(segment) +
                                                  " was asked for");
        }
        return CopyOut(h.Cursor().Layout().fields[size_t(fields[segment])].name, buf, len);
    });
}

extern "C" KCESTATUS KdsIsIndexUnique(KDSHANDLE index, UNSIGNED16* unique) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(unique)) return s;
        *unique = h.Index().Index().Definition().unique;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsIsIndexDescending(KDSHANDLE index, UNSIGNED16* descending) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(descending)) return s;
        *descending = h.Index().Index().Definition().descending;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsIsIndexCustom(KDSHANDLE index, UNSIGNED16* custom) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (custom) *custom = 0;
        return Fail(KCE_NOT_APPLICABLE, "index " + h.Index().Index().Definition().name +
                                            " of a native table is never custom");
    });
}

extern "C" KCESTATUS KdsGetIndexCondition(KDSHANDLE index, UNSIGNED8* buf, UNSIGNED16* len) {
    return OnIndex(index, [&](IndexHandle& h) {
        return CopyOut(h.Index().Index().Definition().condition, buf, len);
    });
}

extern "C" KCESTATUS KdsGetIndexFlags(KDSHANDLE index, UNSIGNED32* flags) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(flags)) return s;
        const IndexDefinition& d = h.Index().Index().Definition();
        *flags = (d.unique ? KCE_INDEX_UNIQUE : 0) | (d.descending ? KCE_INDEX_DESCENDING : 0) |
                 (d.condition.empty() ? 0 : KCE_INDEX_CONDITIONAL);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetIndexPageSize(KDSHANDLE index, UNSIGNED16* size) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(size)) return s;
        sqlite3_stmt* stmt = nullptr;
        *size = 4096;
        if (sqlite3_prepare_v2(native::DatabaseOf(h.Cursor().Store()), "PRAGMA page_size", -1,
                               &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW) {
            *size = UNSIGNED16(std::min(sqlite3_column_int(stmt, 0), 65535));
        }
        sqlite3_finalize(stmt);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetKeyLength(KDSHANDLE index, UNSIGNED16* length) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(length)) return s;
        *length = UNSIGNED16(h.Index().Index().Key().Length());
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetRelKeyPos(KDSHANDLE index, double* position) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        if (KCESTATUS s = NeedOut(position)) return s;
        *position = 0;
        auto h = HandleOf(index);
        if (!h) {
            if (!Handles::Find(index))
                return Fail(KCE_INVALID_HANDLE, "handle " + std::to_string(index));
            return Fail(KCE_NO_POSITION, "handle " + std::to_string(index) + " has no key order");
        }
        TableCursor& cursor = h->Cursor();
        if (!cursor.OnRecord() || cursor.AppendPending()) {
            return Fail(KCE_NO_POSITION, "table '" + cursor.Name() + "' has no current record");
        }
        KeyPos pos;
        bool found = false;
        if (KCESTATUS s = h->Index().PositionOf(cursor, cursor.Recno(), &pos, &found)) return s;
        if (!found) {
            return Fail(KCE_NO_POSITION, "record " + std::to_string(cursor.Recno()) +
                                             " is not in index " +
                                             h->Index().Index().Definition().name);
        }
        KeyRange range = h->Index().Range();
        UNSIGNED32 before = 0, total = 0;
        if (KCESTATUS s = h->Index().Index().Store().CountBefore(pos, range, &before)) return s;
        if (KCESTATUS s = h->Index().Index().Store().Count(range, &total)) return s;
        *position = total > 1 ? double(before) / double(total - 1) : 0.0;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsSetRelKeyPos(KDSHANDLE index, double position) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (std::isnan(position)) return Fail(KCE_INVALID_ARGUMENT, "position is not a number");
        position = std::clamp(position, 0.0, 1.0);
        KeyRange range = h.Index().Range();
        UNSIGNED32 total = 0;
        if (KCESTATUS s = h.Index().Index().Store().Count(range, &total)) return s;
        if (total == 0) return h.Cursor().Land(0);
        auto offset = UNSIGNED32(std::llround(position * double(total - 1)));
        KeyPos pos;
        bool found = false;
        if (KCESTATUS s = h.Index().Index().Store().AtOffset(range, offset, &pos, &found)) return s;
        return LandFrom(h, pos, found, std::string(), false, nullptr);
    });
}

extern "C" KCESTATUS KdsInitRawKey(KDSHANDLE index) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        h.InitRawKey();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsBuildRawKey(KDSHANDLE index, UNSIGNED8* key, UNSIGNED16* len) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (KCESTATUS s = NeedOut(len)) return s;
        std::string built;
        if (KCESTATUS s = h.BuildRawKey(&built)) return s;
        UNSIGNED16 room = *len;
        *len = UNSIGNED16(built.size());
        if (!key) return KCE_SUCCESS;
        if (built.size() > room) {
            return Fail(KCE_INSUFFICIENT_BUFFER, "the key needs " + std::to_string(built.size()) +
                                                     " bytes, the buffer holds " +
                                                     std::to_string(room));
        }
        if (!built.empty()) std::memcpy(key, built.data(), built.size());
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsSeek(KDSHANDLE index, const UNSIGNED8* key, UNSIGNED16 len,
                             UNSIGNED16 keyType, UNSIGNED16 seekType, UNSIGNED16* found) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (found) *found = 0;
        if (seekType != KCE_SOFTSEEK && seekType != KCE_HARDSEEK && seekType != KCE_SEEKGT) {
            return Fail(KCE_INVALID_ARGUMENT, "seek type " + std::to_string(seekType) +
                                                  " (1 soft, 2 hard, 4 after the key)");
        }
        std::string encoded;
        if (KCESTATUS s = EncodeKey(h, key, len, keyType, &encoded)) return s;
        KeyRange range = h.Index().Range();
        std::string start = encoded;
        if (seekType == KCE_SEEKGT) {
            start = PrefixSuccessor(encoded);
            if (start.empty()) return h.Cursor().Land(0);
        }
        if (!range.hasLo || start > range.lo) {
            range.hasLo = true;
            range.lo = start;
        }
        KeyPos pos;
        bool any = false;
        if (KCESTATUS s = h.Index().Index().Store().First(range, &pos, &any)) return s;
        UNSIGNED16 flag = 0;
        KCESTATUS s = LandFrom(h, pos, any, encoded, seekType == KCE_HARDSEEK, &flag);
        if (found) *found = seekType == KCE_SEEKGT ? UNSIGNED16(h.Cursor().OnRecord()) : flag;
        return s;
    });
}

extern "C" KCESTATUS KdsSetScope(KDSHANDLE index, UNSIGNED16 which, const UNSIGNED8* key,
                                 UNSIGNED16 len, UNSIGNED16 keyType) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        if (which != KCE_TOP && which != KCE_BOTTOM) {
            return Fail(KCE_INVALID_ARGUMENT,
                        "scope " + std::to_string(which) + " (1 top, 2 bottom)");
        }
        std::string encoded;
        if (KCESTATUS s = EncodeKey(h, key, len, keyType, &encoded)) return s;
        h.Index().SetScope(
            which, std::move(encoded),
            std::string(reinterpret_cast<const char*>(key ? key : (const UNSIGNED8*)""), len));
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetScope(KDSHANDLE index, UNSIGNED16 which, UNSIGNED8* buf,
                                 UNSIGNED16* len) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        std::string text;
        if (!h.Index().Scope(which, &text)) {
            if (len) *len = 0;
            return Fail(KCE_NO_SCOPE, std::string(which == KCE_TOP ? "top" : "bottom") +
                                          " scope of index " + h.Index().Index().Definition().name);
        }
        return CopyOut(text, buf, len);
    });
}

extern "C" KCESTATUS KdsClearScope(KDSHANDLE index, UNSIGNED16 which) {
    return OnIndex(index, [&](IndexHandle& h) -> KCESTATUS {
        std::string text;
        if (!h.Index().Scope(which, &text)) {
            return Fail(KCE_NO_SCOPE, std::string(which == KCE_TOP ? "top" : "bottom") +
                                          " scope of index " + h.Index().Index().Definition().name);
        }
        h.Index().ClearScope(which);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsClearAllScopes(KDSHANDLE table) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<TableCursor> cursor;
        if (auto h = HandleOf(table)) {
            cursor = h->CursorRef();
        } else if (KCESTATUS s = Handles::Get<TableCursor>(table, &cursor, "table")) {
            return s;
        }
        for (KDSHANDLE ih : cursor->IndexHandles()) {
            if (auto h = HandleOf(ih)) {
                h->Index().ClearScope(KCE_TOP);
                h->Index().ClearScope(KCE_BOTTOM);
            }
        }
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsReindex(KDSHANDLE table) {
    return OnTable(table, [&](const std::shared_ptr<TableCursor>& cursor) -> KCESTATUS {
        if (cursor->ReadOnly()) return Fail(KCE_TABLE_READ_ONLY, "table '" + cursor->Name() + "'");
        if (!TableIndexes::Supports(cursor->Store())) return KCE_SUCCESS;
        std::shared_ptr<TableIndexes> indexes;
        if (KCESTATUS s = TableIndexes::For(cursor->Store(), &indexes)) return s;
        return indexes->Rebuild();
    });
}

extern "C" KCESTATUS KdsCheckIndexes(KDSHANDLE table) {
    return OnTable(table, [&](const std::shared_ptr<TableCursor>& cursor) -> KCESTATUS {
        std::vector<std::string> problems;
        if (KCESTATUS s = IndexProblems(*cursor, &problems)) return s;
        std::erase_if(problems, [](const std::string& p) { return p.starts_with("warning: "); });
        if (problems.empty()) return KCE_SUCCESS;
        std::string text = "table '" + cursor->Name() + "':";
        for (const std::string& p : problems) text += "\n" + p;
        return Fail(KCE_INDEX_MISMATCH, text);
    });
}

extern "C" KCESTATUS KdsCheckIndexReport(KDSHANDLE table, UNSIGNED8* report, UNSIGNED32* len) {
    return OnTable(table, [&](const std::shared_ptr<TableCursor>& cursor) -> KCESTATUS {
        std::vector<std::string> problems;
        if (KCESTATUS s = IndexProblems(*cursor, &problems)) return s;
        std::string text;
        for (const std::string& p : problems) text += p + "\n";
        return CopyOut32(text, report, len);
    });
}
