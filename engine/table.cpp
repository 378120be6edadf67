#include "engine/table.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <map>

#include "engine/connection.h"
#include "engine/index/index_handles.h"
#include "engine/invariant.h"
#include "engine/paths.h"
#include "engine/settings.h"
#include "engine/status.h"
#include "rtl/edge.h"

namespace kce {
namespace {

// Open storages of this process by file identity, so that every handle on one file shares one.
std::map<std::string, std::weak_ptr<Storage>>& OpenStorages() {
    static auto* storages = new std::map<std::string, std::weak_ptr<Storage>>();
    return *storages;
}

// A file's identity as the key of OpenStorages.
std::string FileKey(const struct stat& st) {
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::string FileKey(const std::string& path) {
    struct stat st;
    if (::stat(rtl::OsPath(path).c_str(), &st) != 0) return path;
    return FileKey(st);
}

// Registers a cursor on storage under the sharing rules; storage is new when fresh is true, and
// is then kept under `key`, its file's identity.
KCESTATUS Attach(const std::shared_ptr<Storage>& storage, bool fresh, const std::string& key,
                 const OpenArgs& args, KDSHANDLE* handle) {
    bool exclusive = args.options & KCE_OPEN_EXCLUSIVE;
    Storage::Sharing& share = storage->Share();
    std::string name = "table '" + FileName(storage->Path()) + "'";
    if (!fresh) {
        if (share.exclusive) return Fail(KCE_TABLE_IN_USE, name + " is open exclusively");
        if (exclusive && share.handles > 0) {
            return Fail(KCE_TABLE_IN_USE, name + " is open; it cannot be opened exclusively");
        }
    } else if (!storage->Locks().LockTable(exclusive)) {
        return Fail(KCE_TABLE_IN_USE, exclusive ? name + " is open in another process"
                                                : name + " is open exclusively in another process");
    }
    // Structural indexes are attached with the storage, so that every write keeps them (an
    // exclusive open may get past a damaged index file to build it again).
    if (fresh) {
        share.exclusive = exclusive;
        if (KCESTATUS s = AttachIndexes(*storage)) return s;
    }
    auto cursor =
        std::make_shared<TableCursor>(storage, args.options, args.charType, args.connection);
    ++share.handles;
    share.exclusive = exclusive;
    // An exclusive handle is the only one on its table.
    KCE_INVARIANT(!share.exclusive || share.handles == 1);
    if (fresh) OpenStorages()[key] = storage;
    // The cursor starts on the first record; a record that cannot be read is reported when the
    // caller moves to it, not here.
    if (cursor->GotoTop(cursor->Natural()) != KCE_SUCCESS) cursor->Land(0);
    *handle = Handles::Add(cursor);
    NoteTableOpened();
    if (args.connection) {
        std::shared_ptr<Connection> connection;
        if (Handles::Get(args.connection, &connection, "connection") == KCE_SUCCESS) {
            connection->Tables().push_back(*handle);
            // A table opened during the connection's transaction is in it.
            // (A close that succeeds leaves the failure recorded as the last error.)
            if (KCESTATUS s = JoinTransaction(*connection, storage)) {
                CloseTable(*handle);
                *handle = 0;
                return s;
            }
        }
    }
    return KCE_SUCCESS;
}

}  // namespace

int OpenCount(const Storage& storage) { return const_cast<Storage&>(storage).Share().handles; }

KCESTATUS OpenTable(const OpenArgs& args, KDSHANDLE* handle) {
    const StorageKind* kind = FindStorageKind(args.tableType);
    if (!kind) {
        return Fail(KCE_NOT_SUPPORTED,
                    "table type " + std::to_string(args.tableType) + " (" + args.path + ")");
    }
    struct stat st;
    if (::stat(rtl::OsPath(args.path).c_str(), &st) != 0) {
        return Fail(KCE_FILE_NOT_FOUND, "table file " + args.path);
    }
    // A FIFO or device would make the first read wait forever.
    if (!S_ISREG(st.st_mode)) {
        return Fail(KCE_NOT_A_FILE, "table file " + args.path + " is not a regular file");
    }
    const std::string key = FileKey(st);
    std::shared_ptr<Storage> storage = OpenStorages()[key].lock();
    bool fresh = !storage;
    if (fresh) {
        std::unique_ptr<Storage> opened;
        OpenRequest request;
        request.path = args.path;
        request.readOnly = args.options & KCE_OPEN_READ_ONLY;
        request.charType = args.charType;
        if (KCESTATUS s = kind->open(request, &opened)) return s;
        storage = std::move(opened);
    } else if (storage->TableType() != args.tableType) {
        return Fail(KCE_WRONG_FILE_FORMAT, "table file " + args.path + " is open as table type " +
                                               std::to_string(storage->TableType()));
    }
    return Attach(storage, fresh, key, args, handle);
}

KCESTATUS CreateTable(const OpenArgs& args, const std::vector<FieldSpec>& fields,
                      KDSHANDLE* handle) {
    const StorageKind* kind = FindStorageKind(args.tableType);
    if (!kind) {
        return Fail(KCE_NOT_SUPPORTED,
                    "table type " + std::to_string(args.tableType) + " (" + args.path + ")");
    }
    std::unique_ptr<Storage> created;
    if (KCESTATUS s = kind->create(args.path, fields, &created)) return s;
    std::shared_ptr<Storage> storage = std::move(created);
    return Attach(storage, true, FileKey(storage->Path()), args, handle);
}

KCESTATUS CloseTable(KDSHANDLE handle) {
    std::shared_ptr<TableCursor> cursor;
    if (KCESTATUS s = Handles::Get(handle, &cursor, "table")) return s;
    for (KDSHANDLE index : cursor->IndexHandles()) Handles::Remove(index);
    cursor->IndexHandles().clear();
    cursor->DiscardPending();
    cursor->UnlockAll();
    Storage::Sharing& share = cursor->Store().Share();
    // The handle was counted when it opened, and its record locks are gone with UnlockAll.
    KCE_INVARIANT(share.handles >= 1);
    if constexpr (kInvariants) {
        for (const auto& entry : share.recordLocks) KCE_INVARIANT(entry.second != cursor.get());
    }
    if (--share.handles <= 0) {
        share.handles = 0;
        share.exclusive = false;
    }
    if (cursor->ConnectionHandle()) {
        std::shared_ptr<Connection> connection;
        if (Handles::Get(cursor->ConnectionHandle(), &connection, "connection") == KCE_SUCCESS) {
            auto& tables = connection->Tables();
            std::erase(tables, handle);
        }
    }
    Handles::Remove(handle);
    NoteTableClosed();
    return KCE_SUCCESS;
}

}  // namespace kce
