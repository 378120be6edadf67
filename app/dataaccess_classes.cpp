// The data-access component classes as the form reader knows them: how each is created and how
// each stored property value reaches its setter.
#include <mutex>
#include <optional>
#include <utility>

#include "app/updatebank.h"
#include "dataset/datalink.h"
#include "kds/kdscnnct.h"
#include "kds/kdsset.h"
#include "kds/kdstable.h"
#include "rtl/exceptions.h"
#include "rtl/textutils.h"

namespace app {
namespace {

int8_t SmallInt(const gui::TPropValue& value) {
    int64_t number = gui::IntValue(value);
    if (number < -128 || number > 127) throw rtl::EReadError("Invalid property value");
    return static_cast<int8_t>(number);
}

// An enumeration value stored by its name.
template <typename T>
T Enumerated(const gui::TPropValue& value, std::initializer_list<std::pair<const char*, T>> names) {
    const std::string& name = gui::IdentValue(value);
    for (const auto& [text, item] : names)
        if (rtl::SameText(name, text)) return item;
    throw rtl::EReadError("Invalid property value");
}

kds::TKdsServerTypes ServerTypes(const gui::TPropValue& value) {
    kds::TKdsServerTypes types;
    for (const std::string& item : gui::SetValue(value)) {
        types.Include(
            Enumerated<kds::TKdsServerType>(gui::TIdent{item}, {{"stKDS_REMOTE", kds::stKDS_REMOTE},
                                                                {"stKDS_LOCAL", kds::stKDS_LOCAL},
                                                                {"stKDS_KIS", kds::stKDS_KIS}}));
    }
    return types;
}

// The name of the component a stored reference names.
const std::string& ReferenceValue(const gui::TPropValue& value) {
    if (const auto* ref = std::get_if<gui::TComponentRef>(&value)) return ref->name;
    throw rtl::EReadError("Invalid property value");
}

kds::TKdsSettings& Settings(rtl::TComponent& component) {
    return dynamic_cast<kds::TKdsSettings&>(component);
}

// In declaration order, which is also the order a stored definition applies them.
gui::TComponentClass SettingsClass() {
    using gui::TPropValue;
    using gui::TReader;
    return {
        "TKdsSettings",
        "TComponent",
        [](rtl::TComponent* owner) -> rtl::TComponent* { return new kds::TKdsSettings(owner); },
        {
            {"DateFormat", [](rtl::TComponent& c, const TPropValue& v,
                              TReader&) { Settings(c).SetDateFormat(gui::StringValue(v)); }},
            {"NumDecimals", [](rtl::TComponent& c, const TPropValue& v,
                               TReader&) { Settings(c).SetNumDecimals(SmallInt(v)); }},
            {"SetAppDate", [](rtl::TComponent& c, const TPropValue& v,
                              TReader&) { Settings(c).SetSetAppDate(gui::BoolValue(v)); }},
            {"ShowDeleted", [](rtl::TComponent& c, const TPropValue& v,
                               TReader&) { Settings(c).SetShowDeleted(gui::BoolValue(v)); }},
            {"KdsServerTypes", [](rtl::TComponent& c, const TPropValue& v,
                                  TReader&) { Settings(c).SetKdsServerTypes(ServerTypes(v)); }},
            {"NumCachedTables", [](rtl::TComponent& c, const TPropValue& v,
                                   TReader&) { Settings(c).SetNumCachedTables(SmallInt(v)); }},
            {"NumCachedCursors", [](rtl::TComponent& c, const TPropValue& v,
                                    TReader&) { Settings(c).SetNumCachedCursors(SmallInt(v)); }},
        },
    };
}

kds::TKdsConnection& Connection(rtl::TComponent& component) {
    return dynamic_cast<kds::TKdsConnection&>(component);
}

gui::TComponentClass ConnectionClass() {
    using gui::TPropValue;
    using gui::TReader;
    using C = kds::TKdsConnection;
    auto text = [](void (C::*set)(const std::string&)) {
        return [set](rtl::TComponent& c, const TPropValue& v, TReader&) {
            (Connection(c).*set)(gui::StringValue(v));
        };
    };
    auto flag = [](auto set) {
        return [set](rtl::TComponent& c, const TPropValue& v, TReader&) {
            (Connection(c).*set)(gui::BoolValue(v));
        };
    };
    return {
        "TKdsConnection",
        "TComponent",
        [](rtl::TComponent* owner) -> rtl::TComponent* { return new kds::TKdsConnection(owner); },
        {
            {"AliasName", text(&C::SetAliasName)},
            {"IsConnected", flag(&C::SetIsConnected)},
            {"ConnectPath", text(&C::SetConnectPath)},
            {"KdsServerTypes", [](rtl::TComponent& c, const TPropValue& v,
                                  TReader&) { Connection(c).SetKdsServerTypes(ServerTypes(v)); }},
            {"LoginPrompt", flag(&C::SetLoginPrompt)},
            {"Username", text(&C::SetUsername)},
            {"Password", text(&C::SetPassword)},
            {"MiddleTierConnection", flag(&C::SetMiddleTierConnection)},
            {"StoreConnected", flag(&C::SetStoreConnected)},
            {"StoredProcedureConnection", flag(&C::SetStoredProcedureConnection)},
            {"ReadOnly", flag(&C::SetReadOnly)},
        },
    };
}

kds::TKdsTable& Table(rtl::TComponent& component) {
    return dynamic_cast<kds::TKdsTable&>(component);
}

db::TFieldType FieldType(const gui::TPropValue& value) {
    const std::string& name = gui::IdentValue(value);
    for (int type = db::ftUnknown; type < db::kFieldTypeCount; ++type) {
        auto fieldType = static_cast<db::TFieldType>(type);
        // The one type whose display name is not its identifier without "ft".
        std::string ident =
            fieldType == db::ftIDispatch ? "ftIDispatch" : "ft" + db::FieldTypeName(fieldType);
        if (rtl::SameText(name, ident)) return fieldType;
    }
    throw rtl::EReadError("Invalid property value");
}

db::TIndexOptions IndexOptions(const gui::TPropValue& value) {
    db::TIndexOptions options;
    for (const std::string& item : gui::SetValue(value)) {
        options.insert(Enumerated<db::TIndexOption>(gui::TIdent{item},
                                                    {{"ixPrimary", db::ixPrimary},
                                                     {"ixUnique", db::ixUnique},
                                                     {"ixDescending", db::ixDescending},
                                                     {"ixCaseInsensitive", db::ixCaseInsensitive},
                                                     {"ixExpression", db::ixExpression},
                                                     {"ixNonMaintained", db::ixNonMaintained}}));
    }
    return options;
}

[[noreturn]] void NoSuchItemProperty(const std::string& name) {
    throw rtl::EReadError("Property " + name + " does not exist");
}

// A stored collection replaces what the table holds.
void ReadFieldDefs(db::TFieldDefs& defs, const gui::TPropValue& value) {
    defs.Clear();
    for (const std::vector<gui::TPropDef>& item : gui::CollectionValue(value)) {
        std::string name;
        db::TFieldType type = db::ftUnknown;
        int size = 0;
        bool required = false;
        int precision = 0;
        for (const gui::TPropDef& p : item) {
            if (rtl::SameText(p.name, "Name")) {
                name = gui::StringValue(p.value);
            } else if (rtl::SameText(p.name, "DataType")) {
                type = FieldType(p.value);
            } else if (rtl::SameText(p.name, "Size")) {
                size = static_cast<int>(gui::IntValue(p.value));
            } else if (rtl::SameText(p.name, "Required")) {
                required = gui::BoolValue(p.value);
            } else if (rtl::SameText(p.name, "Precision")) {
                precision = static_cast<int>(gui::IntValue(p.value));
            } else {
                NoSuchItemProperty(p.name);
            }
        }
        db::TFieldDef& def = defs.Add(name, type, size, required);
        if (precision != 0) def.SetPrecision(precision);
    }
}

void ReadIndexDefs(db::TIndexDefs& defs, const gui::TPropValue& value) {
    defs.Clear();
    for (const std::vector<gui::TPropDef>& item : gui::CollectionValue(value)) {
        std::string name, fields, expression, descFields, caseInsFields;
        db::TIndexOptions options;
        for (const gui::TPropDef& p : item) {
            if (rtl::SameText(p.name, "Name")) {
                name = gui::StringValue(p.value);
            } else if (rtl::SameText(p.name, "Fields")) {
                fields = gui::StringValue(p.value);
            } else if (rtl::SameText(p.name, "Options")) {
                options = IndexOptions(p.value);
            } else if (rtl::SameText(p.name, "Expression")) {
                expression = gui::StringValue(p.value);
            } else if (rtl::SameText(p.name, "DescFields")) {
                descFields = gui::StringValue(p.value);
            } else if (rtl::SameText(p.name, "CaseInsFields")) {
                caseInsFields = gui::StringValue(p.value);
            } else {
                NoSuchItemProperty(p.name);
            }
        }
        db::TIndexDef& def = defs.Add(name, fields, options);
        if (!expression.empty()) def.SetExpression(expression);
        if (!descFields.empty()) def.SetDescFields(descFields);
        if (!caseInsFields.empty()) def.SetCaseInsFields(caseInsFields);
    }
}

gui::TComponentClass TableClass() {
    using gui::TPropValue;
    using gui::TReader;
    using T = kds::TKdsDataSet;
    auto text = [](void (T::*set)(const std::string&)) {
        return [set](rtl::TComponent& c, const TPropValue& v, TReader&) {
            (Table(c).*set)(gui::StringValue(v));
        };
    };
    auto flag = [](auto set) {
        return [set](rtl::TComponent& c, const TPropValue& v, TReader&) {
            (Table(c).*set)(gui::BoolValue(v));
        };
    };
    auto option = [](auto set, auto read) {
        return [set, read](rtl::TComponent& c, const TPropValue& v, TReader&) {
            (Table(c).KdsTableOptions().*set)(read(v));
        };
    };
    return {
        "TKdsTable",
        "TComponent",
        [](rtl::TComponent* owner) -> rtl::TComponent* { return new kds::TKdsTable(owner); },
        {
            {"Active", flag(&T::SetActive)},
            {"Filter", text(&T::SetFilter)},
            {"Filtered", flag(&T::SetFiltered)},
            {"StoreActive", flag(&T::SetStoreActive)},
            {"DatabaseName", text(&T::SetDatabaseName)},
            {"KdsConnection",
             [](rtl::TComponent& c, const TPropValue& v, TReader& reader) {
                 // The connection may be stored after the table.
                 rtl::TComponent* table = &c;
                 reader.Fixup(ReferenceValue(v), [table](rtl::TComponent& target) {
                     Table(*table).SetKdsConnection(&Connection(target));
                 });
             }},
            {"StoreDefs", flag(&T::SetStoreDefs)},
            {"FieldDefs", [](rtl::TComponent& c, const TPropValue& v,
                             TReader&) { ReadFieldDefs(Table(c).FieldDefs(), v); }},
            {"IndexDefs", [](rtl::TComponent& c, const TPropValue& v,
                             TReader&) { ReadIndexDefs(Table(c).IndexDefs(), v); }},
            {"Exclusive", flag(&T::SetExclusive)},
            {"ReadOnly", flag(&T::SetReadOnly)},
            {"IndexName", text(&T::SetIndexName)},
            {"IndexFieldNames", text(&T::SetIndexFieldNames)},
            {"TableName", text(&T::SetTableName)},
            {"TableType",
             [](rtl::TComponent& c, const TPropValue& v, TReader&) {
                 Table(c).SetTableType(
                     Enumerated<kds::TKdsTableTypes>(v, {{"ttKdsCDX", kds::ttKdsCDX},
                                                         {"ttKdsNTX", kds::ttKdsNTX},
                                                         {"ttKdsKDT", kds::ttKdsKDT},
                                                         {"ttKdsDefault", kds::ttKdsDefault}}));
             }},
            {"Version", text(&T::SetVersion)},
            {"KdsTableOptions.KdsLockType", option(&kds::TKdsTableOptions::SetKdsLockType,
                                                   [](const TPropValue& v) {
                                                       return Enumerated<kds::TKdsLockTypes>(
                                                           v, {{"Proprietary", kds::Proprietary},
                                                               {"Compatible", kds::Compatible}});
                                                   })},
            {"KdsTableOptions.KdsCharType", option(&kds::TKdsTableOptions::SetKdsCharType,
                                                   [](const TPropValue& v) {
                                                       return Enumerated<kds::TKdsCharTypes>(
                                                           v, {{"ANSI", kds::ANSI},
                                                               {"OEM", kds::OEM}});
                                                   })},
            {"KdsTableOptions.KdsFilterOptions",
             option(&kds::TKdsTableOptions::SetKdsFilterOptions,
                    [](const TPropValue& v) {
                        return Enumerated<kds::TKdsRespectFilters>(
                            v, {{"IGNORE_WHEN_COUNTING", kds::IGNORE_WHEN_COUNTING},
                                {"RESPECT_WHEN_COUNTING", kds::RESPECT_WHEN_COUNTING}});
                    })},
            {"KdsTableOptions.KdsScopeOptions",
             option(&kds::TKdsTableOptions::SetKdsScopeOptions,
                    [](const TPropValue& v) {
                        return Enumerated<kds::TKdsRespectScopes>(
                            v,
                            {{"IGNORE_SCOPES_WHEN_COUNTING", kds::IGNORE_SCOPES_WHEN_COUNTING},
                             {"RESPECT_SCOPES_WHEN_COUNTING", kds::RESPECT_SCOPES_WHEN_COUNTING}});
                    })},
            {"KdsTableOptions.KdsRightsCheck",
             option(&kds::TKdsTableOptions::SetKdsRightsCheck, gui::BoolValue)},
            {"KdsTableOptions.KdsOptimizedFilters",
             option(&kds::TKdsTableOptions::SetKdsOptimizedFilters, gui::BoolValue)},
            {"KdsTableOptions.KdsFreshRecordCount",
             option(&kds::TKdsTableOptions::SetKdsFreshRecordCount, gui::BoolValue)},
            {"KdsTableOptions.KdsAOFResolveImmediate",
             option(&kds::TKdsTableOptions::SetKdsAOFResolveImmediate, gui::BoolValue)},
            {"KdsTableOptions.KdsIndexPageSize",
             option(&kds::TKdsTableOptions::SetKdsIndexPageSize,
                    [](const TPropValue& v) { return static_cast<int32_t>(gui::IntValue(v)); })},
        },
    };
}

gui::TComponentClass DataSourceClass() {
    using gui::TPropValue;
    using gui::TReader;
    auto source = [](rtl::TComponent& c) -> db::TDataSource& {
        return dynamic_cast<db::TDataSource&>(c);
    };
    return {
        "TDataSource",
        "TComponent",
        [](rtl::TComponent* owner) -> rtl::TComponent* { return new db::TDataSource(owner); },
        {
            {"DataSet",
             [source](rtl::TComponent& c, const TPropValue& v, TReader& reader) {
                 // The dataset may be stored after the data source.
                 rtl::TComponent* self = &c;
                 reader.Fixup(ReferenceValue(v), [self, source](rtl::TComponent& target) {
                     source(*self).SetDataSet(&dynamic_cast<db::TDataSet&>(target));
                 });
             }},
            {"Enabled", [source](rtl::TComponent& c, const TPropValue& v,
                                 TReader&) { source(c).SetEnabled(gui::BoolValue(v)); }},
            {"AutoEdit", [source](rtl::TComponent& c, const TPropValue& v,
                                  TReader&) { source(c).SetAutoEdit(gui::BoolValue(v)); }},
        },
    };
}

}  // namespace

void RegisterDataAccessClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        gui::RegisterComponentClass(SettingsClass());
        gui::RegisterComponentClass(ConnectionClass());
        gui::RegisterComponentClass(TableClass());
        gui::RegisterComponentClass(DataSourceClass());
    });
}

}  // namespace app
