#include "kds/kdstable.h"

#include <cctype>

#include "rtl/exceptions.h"
#include "rtl/paths.h"

namespace kds {
namespace {

constexpr UNSIGNED16 kMaxIndexHandles = 50;

}  // namespace

TKdsTable::TKdsTable(rtl::TComponent* owner) : TKdsExtendedTable(owner) {}

TKdsTable::~TKdsTable() {
    try {
        CloseForDestruction();
    } catch (...) {
    }
}

bool TKdsTable::TableExists() {
    if (Active()) return true;
    if (TableName().empty()) return false;
    std::string file = DatabasePath() + "\\" + TableName();
    if (rtl::ExtractFileExt(TableName()).empty()) {
        file += TableType() == ttKdsKDT ? ".kdt" : ".dbf";
    }
    return rtl::FileExists(file);
}

KDSHANDLE TKdsTable::OpenTableCursor() {
    if (TableName().empty()) KdsDatabaseError(this, msg::kMissingTableName);
    UNSIGNED32 options = OpenOptions();
    const TKdsTableOptions& o = KdsTableOptions();
    UNSIGNED16 lockType = o.KdsLockType() == Proprietary ? 1 : 0;
    UNSIGNED16 charType = o.KdsCharType() == ANSI ? 1 : 2;
    UNSIGNED16 rights = o.KdsRightsCheck() ? 1 : 2;
    std::string path = DatabasePath();
    if (path.empty()) KdsDatabaseError(this, msg::kNoDatabaseName);
    bool dictionary = KdsConnection() != nullptr && KdsConnection()->IsDictionaryConnection();
    // A folder typed relative to the working directory is made absolute here: the engine reads a
    // relative table name against the connection's folder, which would apply the folder twice.
    bool relative = !(path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                      path[1] == ':') &&
                    !rtl::IsPathDelimiter(path[0]);
    if (relative) path = rtl::ResolvePath(path);
    std::string name = dictionary ? TableName() : path + "\\" + TableName();
    KDSHANDLE connection = ConnectionHandleForOpen();
    UNSIGNED16 type = dictionary ? 0 : EngineTableType();
    KDSHANDLE handle = 0;
    KCESTATUS status = KdsOpenTable(connection, KceText(name), nullptr, type, charType, lockType,
                                    rights, options, &handle);
    if (status == KCE_TABLE_NOT_FOUND && dictionary) {
        // Not in the dictionary: a free table beside it.
        name = path + "\\" + TableName();
        status = KdsOpenTable(connection, KceText(name), nullptr, EngineTableType(), charType,
                              lockType, rights, options, &handle);
    }
    CheckKdsStatus(this, status);
    try {
        if (dictionary) {
            UNSIGNED16 engineType = 0;
            CheckKdsStatus(this, KdsGetTableType(handle, &engineType));
            SetTableTypeFromEngine(engineType);
        }
        for (int i = 0; i < IndexFiles().Count(); ++i) {
            KDSHANDLE indexes[kMaxIndexHandles] = {};
            UNSIGNED16 count = kMaxIndexHandles;
            std::string file = path + "\\" + IndexFiles().Strings(i);
            CheckKdsStatus(this, KdsOpenIndex(handle, KceText(file), indexes, &count));
        }
    } catch (...) {
        KdsCloseTable(handle);
        throw;
    }
    return handle;
}

int32_t TKdsTable::LastAutoIncValue() {
    UNSIGNED32 value = 0;
    CheckKdsStatus(this, KdsGetLastAutoinc(TableHandle(), &value));
    if (value > 2147483647u) throw rtl::ERangeError("Range check error");
    return static_cast<int32_t>(value);
}

}  // namespace kds
