// The C entry points of data dictionaries: table properties, object searches, maintenance.
#include <sys/stat.h>

#include <deque>

#include "engine/api/helpers.h"
#include "engine/connection.h"
#include "engine/dictionary/dictionary.h"
#include "engine/paths.h"
#include "engine/storage.h"
#include "rtl/edge.h"

using namespace kce;

namespace {

class ObjectSearch : public HandleObject {
  public:
    UNSIGNED16 HandleType() const override { return KCE_HANDLE_OBJECT_SEARCH; }
    std::deque<std::string> names;
};

// The dictionary file of a connection handle (KCE_NOT_DICTIONARY_CONNECTION for a folder).
KCESTATUS DictionaryOf(KDSHANDLE handle, std::string* path) {
    std::shared_ptr<Connection> connection;
    if (KCESTATUS s = Handles::Get(handle, &connection, "connection")) return s;
    if (connection->Dictionary().empty()) {
        return Fail(KCE_NOT_DICTIONARY_CONNECTION, "connection to " + connection->Given());
    }
    *path = connection->Dictionary();
    return KCE_SUCCESS;
}

KCESTATUS DictionaryPath(const UNSIGNED8* given, std::string* path) {
    std::string text = TextArg(given);
    if (text.empty()) return Fail(KCE_INVALID_PATH, "no dictionary path given");
    *path = ResolvePath(text);
    return KCE_SUCCESS;
}

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(start, end - start);
        if (!item.empty()) items.push_back(item);
        start = end + 1;
    }
    return items;
}

}  // namespace

extern "C" KCESTATUS KdsDDGetTableProperty(KDSHANDLE connection, const UNSIGNED8* table,
                                           UNSIGNED16 property, UNSIGNED8* buf, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS {
        std::string path;
        if (KCESTATUS s = DictionaryOf(connection, &path)) return s;
        std::string value;
        if (KCESTATUS s = GetDictionaryTableProperty(path, TextArg(table), property, &value))
            return s;
        return CopyOut(value, buf, len);
    });
}

extern "C" KCESTATUS KdsDDFindFirstObject(KDSHANDLE connection, UNSIGNED16 objectType,
                                          const UNSIGNED8* parent, UNSIGNED8* name, UNSIGNED16* len,
                                          KDSHANDLE* search) {
    return Guard([&]() -> KCESTATUS {
        if (KCESTATUS s = NeedOut(search)) return s;
        *search = 0;
        std::string path;
        if (KCESTATUS s = DictionaryOf(connection, &path)) return s;
        if (objectType != KCE_DD_TABLE_OBJECT) {
            return Fail(KCE_UNKNOWN_OBJECT_TYPE, "object type " + std::to_string(objectType));
        }
        if (!TextArg(parent).empty()) {
            return Fail(KCE_INVALID_ARGUMENT,
                        "tables have no parent object ('" + TextArg(parent) + "' given)");
        }
        std::vector<std::string> names;
        if (KCESTATUS s = DictionaryTableNames(path, &names)) return s;
        if (names.empty())
            return Fail(KCE_NO_MORE_OBJECTS, "dictionary " + path + " has no tables");
        if (KCESTATUS s = CopyOut(names.front(), name, len)) return s;
        auto found = std::make_shared<ObjectSearch>();
        found->names.assign(names.begin() + 1, names.end());
        *search = Handles::Add(found);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsDDFindNextObject(KDSHANDLE handle, UNSIGNED8* name, UNSIGNED16* len) {
    return Guard([&]() -> KCESTATUS {
        std::shared_ptr<ObjectSearch> search;
        if (KCESTATUS s = Handles::Get(handle, &search, "dictionary object search")) return s;
        if (search->names.empty()) return Fail(KCE_NO_MORE_OBJECTS);
        if (KCESTATUS s = CopyOut(search->names.front(), name, len)) return s;
        search->names.pop_front();
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsDDFindClose(KDSHANDLE handle) {
    return Guard([&]() -> KCESTATUS {
        std::shared_ptr<ObjectSearch> search;
        if (KCESTATUS s = Handles::Get(handle, &search, "dictionary object search")) return s;
        Handles::Remove(handle);
        return KCE_SUCCESS;
    });
}

extern "C" KCESTATUS KdsDDCreate(const UNSIGNED8* path) {
    return Guard([&]() -> KCESTATUS {
        std::string file;
        if (KCESTATUS s = DictionaryPath(path, &file)) return s;
        return CreateDictionary(file);
    });
}

extern "C" KCESTATUS KdsDDAddUser(const UNSIGNED8* path, const UNSIGNED8* user,
                                  const UNSIGNED8* password) {
    return Guard([&]() -> KCESTATUS {
        std::string file;
        if (KCESTATUS s = DictionaryPath(path, &file)) return s;
        return AddDictionaryUser(file, TextArg(user), TextArg(password));
    });
}

extern "C" KCESTATUS KdsDDDropUser(const UNSIGNED8* path, const UNSIGNED8* user) {
    return Guard([&]() -> KCESTATUS {
        std::string file;
        if (KCESTATUS s = DictionaryPath(path, &file)) return s;
        return DropDictionaryUser(file, TextArg(user));
    });
}

extern "C" KCESTATUS KdsDDAddTable(const UNSIGNED8* path, const UNSIGNED8* name,
                                   const UNSIGNED8* file, UNSIGNED16 tableType,
                                   const UNSIGNED8* indexFiles) {
    return Guard([&]() -> KCESTATUS {
        std::string dictionary;
        if (KCESTATUS s = DictionaryPath(path, &dictionary)) return s;
        DictionaryTable table;
        table.name = TextArg(name);
        table.file = TextArg(file);
        table.indexFiles = SplitList(TextArg(indexFiles));
        if (table.name.find_first_of("/\\:") != std::string::npos) {
            return Fail(KCE_INVALID_ARGUMENT,
                        "table name '" + table.name + "' (a dictionary name has no folder)");
        }
        const StorageKind* kind = nullptr;
        if (tableType != KCE_DEFAULT_TABLE) {
            kind = FindStorageKind(tableType);
            if (!kind) return Fail(KCE_INVALID_ARGUMENT, "table type " + std::to_string(tableType));
        } else {
            kind = FindStorageKindByExtension(Extension(table.file));
            if (!kind) {
                return Fail(KCE_INVALID_ARGUMENT,
                            "table file " + table.file + ": the extension names no table type");
            }
        }
        table.tableType = kind->tableType;
        std::string folder = dictionary.substr(0, dictionary.find_last_of('/') + 1);
        std::string resolved = ResolvePath(table.file, folder);
        struct stat st;
        if (::stat(rtl::OsPath(resolved).c_str(), &st) != 0) {
            return Fail(KCE_FILE_NOT_FOUND, "table file " + table.file + " (" + resolved + ")");
        }
        return AddDictionaryTable(dictionary, table);
    });
}

extern "C" KCESTATUS KdsDDSetTableProperty(const UNSIGNED8* path, const UNSIGNED8* table,
                                           UNSIGNED16 property, const UNSIGNED8* value) {
    return Guard([&]() -> KCESTATUS {
        std::string file;
        if (KCESTATUS s = DictionaryPath(path, &file)) return s;
        return SetDictionaryTableProperty(file, TextArg(table), property, TextArg(value));
    });
}
