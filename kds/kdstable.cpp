#include "kds/kdstable.h"

#include <cctype>

#include "dataset/datalink.h"
#include "dataset/names.h"
#include "kds/kdsdata_limits.h"
#include "rtl/exceptions.h"
#include "rtl/paths.h"

namespace kds {

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
    UNSIGNED16 lockType =
        o.KdsLockType() == Proprietary ? KCE_PROPRIETARY_LOCKING : KCE_COMPATIBLE_LOCKING;
    UNSIGNED16 charType = o.KdsCharType() == ANSI ? KCE_ANSI : KCE_OEM;
    UNSIGNED16 rights = o.KdsRightsCheck() ? KCE_CHECK_RIGHTS : KCE_IGNORE_RIGHTS;
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
            KDSHANDLE indexes[kMaxIndexes] = {};
            UNSIGNED16 count = kMaxIndexes;
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

// ---- Master-detail and data-provider answers --------------------------------------------------

namespace {

// Whether every field of the definition is a field of the dataset.
bool FieldsExist(const db::TDataSet& ds, const db::TIndexDef& def) {
    for (const std::string& name : db::SplitNames(def.Fields())) {
        if (ds.FieldNamedOrNull(name) == nullptr) return false;
    }
    return true;
}

}  // namespace

void TKdsTable::DetailLinkFields(std::vector<db::TField*>& masterFields,
                                 std::vector<db::TField*>& detailFields) {
    masterFields.clear();
    detailFields.clear();
    db::TDataSet* master = MasterSource() != nullptr ? MasterSource()->DataSet() : nullptr;
    if (master == nullptr || MasterFields().empty()) return;
    master->FieldsNamed(&masterFields, MasterFields());
    IndexDefs().SetUpdated(false);
    IndexDefs().Update();
    db::TIndexDef* def = nullptr;
    if (!IndexName().empty()) {
        def = &IndexDefs().Find(IndexName());
    } else if (!IndexFieldNames().empty()) {
        def = IndexDefs().GetIndexForFields(IndexFieldNames(), false);
    }
    if (def != nullptr) FieldsNamed(&detailFields, def->Fields());
}

void TKdsTable::ProviderSetParams(db::TParams& params) {
    if (params.Count() > 0) {
        Open();
        auto assign = [&] {
            for (int i = 0; i < params.Count(); ++i) {
                db::TParam& p = params[i];
                db::TField& field = p.Name().empty() ? SegmentField(i) : FieldNamed(p.Name());
                field.SetVariantValue(p.Value());
            }
        };
        BeginRangeStart();
        assign();
        BeginRangeEnd();
        assign();
        ApplyKeyRange();
    } else if (Active()) {
        CancelKeyRange();
    }
    ProviderReset();
}

std::unique_ptr<db::TIndexDef> TKdsTable::ProviderDefaultOrder() {
    IndexDefs().SetUpdated(false);
    IndexDefs().Update();
    const db::TIndexDef* chosen = nullptr;
    try {
        const db::TIndexDef* def = nullptr;
        if (!IndexName().empty()) {
            def = &IndexDefs().Find(IndexName());
        } else if (!IndexFieldNames().empty()) {
            def = &IndexDefs().FindIndexForFields(IndexFieldNames());
        }
        if (def != nullptr && FieldsExist(*this, *def)) chosen = def;
    } catch (const std::exception&) {
        chosen = nullptr;
    }
    for (db::TIndexOption kind : {db::ixPrimary, db::ixUnique}) {
        for (int i = 0; chosen == nullptr && i < IndexDefs().Count(); ++i) {
            const db::TIndexDef& def = IndexDefs()[i];
            if (def.Options().count(kind) && FieldsExist(*this, def)) chosen = &def;
        }
    }
    if (chosen == nullptr) return nullptr;
    auto copy = std::make_unique<db::TIndexDef>(nullptr, chosen->Name(), chosen->Fields(),
                                                chosen->Options());
    copy->Assign(*chosen);
    return copy;
}

std::unique_ptr<db::TIndexDefs> TKdsTable::ProviderIndexDefs(const db::TIndexOptions& kinds) {
    return IndexDefs().SelectByOptions(kinds);
}

std::string TKdsTable::ProviderKeyFields() {
    std::string fields = TKdsExtendedTable::ProviderKeyFields();
    if (!fields.empty() || !TableExists()) return fields;
    IndexDefs().SetUpdated(false);
    IndexDefs().Update();
    for (int i = 0; i < IndexDefs().Count(); ++i) {
        const db::TIndexDef& def = IndexDefs()[i];
        if (def.Options().count(db::ixUnique) && (NumFields() == 0 || FieldsExist(*this, def))) {
            return def.Fields();
        }
    }
    return {};
}

void TKdsTable::ProviderSetCommandText(const std::string& text) {
    if (!text.empty()) SetTableName(text);
}

std::string TKdsTable::ProviderTableName() {
    const std::string& name = TableName();
    if (name.size() >= 5 && name[name.size() - 4] == '.') return name.substr(0, name.size() - 4);
    return name;
}

}  // namespace kds
