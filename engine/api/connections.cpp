// The C entry points of connections, table searches and handle types.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <deque>

#include "engine/api/helpers.h"
#include "engine/connection.h"
#include "engine/dictionary/dictionary.h"
#include "engine/paths.h"
#include "engine/table.h"
#include "engine/text.h"
#include "rtl/edge.h"

using namespace kce;

namespace {

class TableSearch : public HandleObject {
  public:
    UNSIGNED16 HandleType() const override { return KCE_HANDLE_TABLE_SEARCH; }
    std::deque<std::string> names;
};

}  // namespace

extern "C" KCESTATUS KdsConnect60(const UNSIGNED8* path, UNSIGNED16 serverTypes,
                                  const UNSIGNED8* user, const UNSIGNED8* password,
                                  UNSIGNED32 options, KDSHANDLE* connection) {
    (void)options;
    return Guard([&]() -> KCESTATUS {
        if (!connection) return Fail(KCE_INVALID_ARGUMENT, "no handle variable given");
        *connection = 0;
        // An empty mask leaves the choice to the engine: the local server, the only one here.
        if (serverTypes != 0 && !(serverTypes & 1)) {
            return Fail(KCE_INVALID_SERVER_TYPE,
                        "mask " + std::to_string(serverTypes) +
                            ": only the local server type (1) is available");
        }
        std::string given = TextArg(path);
        if (given.empty()) return Fail(KCE_INVALID_PATH, "no connection path given");
        if (NamesDictionary(given)) {
            std::string file = ResolvePath(given);
            if (KCESTATUS s = CheckDictionaryLogin(file, TextArg(user), TextArg(password)))
                return s;
            size_t slash = file.find_last_of('/');
            auto c = std::make_shared<Connection>(given, slash == 0 ? "/" : file.substr(0, slash));
            c->SetDictionary(file);
            *connection = Handles::Add(c);
            return KCE_SUCCESS;
        }
        std::string folder = ResolvePath(given);
        struct stat st;
        if (::stat(rtl::OsPath(folder).c_str(), &st) != 0) {
            return Fail(KCE_FILE_NOT_FOUND, "folder " + given + " (" + folder + ")");
        }
        if (!S_ISDIR(st.st_mode)) return Fail(KCE_INVALID_PATH, given + " is not a folder");
        *connection = Handles::Add(std::make_shared<Connection>(given, folder));
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsConnect(const UNSIGNED8* path, KDSHANDLE* connection) {
    return Guard(
        [&] { return KdsConnect60(path, KCE_LOCAL_SERVER, nullptr, nullptr, 0, connection); });
}

extern "C" KCESTATUS KdsDisconnect(KDSHANDLE handle) {
    return Guard([&]() -> KCESTATUS {
        EngineGuard lock(EngineLock());
        std::shared_ptr<Connection> connection;
        if (Handles::Get(handle, &connection, "connection") != KCE_SUCCESS) {
            return Fail(KCE_NOT_CONNECTED, "connection handle " + std::to_string(handle));
        }
        // A transaction left open ends as an ended process's does: rolled back.
        if (connection->InTransaction()) EndTransaction(*connection, false);
        std::vector<KDSHANDLE> tables = connection->Tables();
        for (KDSHANDLE table : tables) CloseTable(table);
        Handles::Remove(handle);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetServerName(KDSHANDLE handle, UNSIGNED8* buf, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS {
        std::shared_ptr<Connection> connection;
        if (KCESTATUS s = Handles::Get(handle, &connection, "connection")) return s;
        return CopyOut(connection->Given(), buf, len);
    });
}

extern "C" KCESTATUS KdsGetConnectionType(KDSHANDLE handle, UNSIGNED16* type) {
    return Guard([&]() -> KCESTATUS {
        std::shared_ptr<Connection> connection;
        if (KCESTATUS s = Handles::Get(handle, &connection, "connection")) return s;
        if (!type) return Fail(KCE_INVALID_ARGUMENT, "no type variable given");
        *type = KCE_LOCAL_SERVER;
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsFindFirstTable(KDSHANDLE handle, const UNSIGNED8* pattern, UNSIGNED8* name,
                                       UNSIGNED16* len, KDSHANDLE* search) {
    return Guard([&]() -> KCESTATUS {
        std::shared_ptr<Connection> connection;
        if (KCESTATUS s = Handles::Get(handle, &connection, "connection")) return s;
        if (!search) return Fail(KCE_INVALID_ARGUMENT, "no search handle variable given");
        *search = 0;
        std::string text = TextArg(pattern);
        auto found = std::make_shared<TableSearch>();
        if (text.empty() && !connection->Dictionary().empty()) {
            std::vector<std::string> names;
            if (KCESTATUS s = DictionaryTableNames(connection->Dictionary(), &names)) return s;
            found->names.assign(names.begin(), names.end());
            if (found->names.empty()) return Fail(KCE_NO_MORE_TABLES, "the dictionary has none");
            if (KCESTATUS s = CopyOut(found->names.front(), name, len)) return s;
            found->names.pop_front();
            *search = Handles::Add(found);
            return KCE_SUCCESS;
        }
        size_t slash = text.find_last_of("/\\");
        std::string mask = slash == std::string::npos ? text : text.substr(slash + 1);
        std::string folder = slash == std::string::npos
                                 ? connection->Folder()
                                 : ResolvePath(text.substr(0, slash + 1), connection->Folder());
        if (mask.empty()) mask = "*";
        if (DIR* dir = ::opendir(rtl::OsPath(folder).c_str())) {
            while (dirent* e = ::readdir(dir)) {
                // A name the ANSI page cannot hold cannot be given back to the caller.
                std::optional<std::string> name = rtl::PathFromOs(e->d_name);
                if (!name) continue;
                std::string entry = *name;
                if (entry == "." || entry == "..") continue;
                if (::fnmatch(mask.c_str(), entry.c_str(), FNM_CASEFOLD) != 0) continue;
                struct stat st;
                if (::stat(rtl::OsPath(folder + "/" + entry).c_str(), &st) == 0 &&
                    S_ISREG(st.st_mode)) {
                    found->names.push_back(entry);
                }
            }
            ::closedir(dir);
        }
        std::sort(found->names.begin(), found->names.end());
        if (found->names.empty()) return Fail(KCE_NO_MORE_TABLES, "no table matches " + text);
        if (KCESTATUS s = CopyOut(found->names.front(), name, len)) return s;
        found->names.pop_front();
        *search = Handles::Add(found);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsFindNextTable(KDSHANDLE handle, UNSIGNED8* name, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS {
        std::shared_ptr<TableSearch> search;
        if (KCESTATUS s = Handles::Get(handle, &search, "table search")) return s;
        if (search->names.empty()) return Fail(KCE_NO_MORE_TABLES);
        if (KCESTATUS s = CopyOut(search->names.front(), name, len)) return s;
        search->names.pop_front();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsFindClose(KDSHANDLE handle) {
    return Guard([&]() -> KCESTATUS {
        std::shared_ptr<TableSearch> search;
        if (KCESTATUS s = Handles::Get(handle, &search, "table search")) return s;
        Handles::Remove(handle);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsGetHandleType(KDSHANDLE handle, UNSIGNED16* type) {
    return Guard([&]() -> KCESTATUS {
        if (!type) return Fail(KCE_INVALID_ARGUMENT, "no type variable given");
        std::shared_ptr<HandleObject> obj = Handles::Find(handle);
        if (!obj) return Fail(KCE_INVALID_HANDLE, "handle " + std::to_string(handle));
        *type = obj->HandleType();
        return KCE_SUCCESS;
    });
}
