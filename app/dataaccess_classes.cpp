// The data-access component classes as the form reader knows them: how each is created and how
// each stored property value reaches its setter.
#include <mutex>

#include "app/updatebank.h"
#include "kds/kdsset.h"
#include "rtl/exceptions.h"

namespace app {
namespace {

int8_t SmallInt(const gui::TPropValue& value) {
    int64_t number = gui::IntValue(value);
    if (number < -128 || number > 127) throw rtl::EReadError("Invalid property value");
    return static_cast<int8_t>(number);
}

kds::TKdsServerTypes ServerTypes(const gui::TPropValue& value) {
    kds::TKdsServerTypes types;
    for (const std::string& item : gui::SetValue(value)) {
        if (rtl::SameText(item, "stKDS_REMOTE")) {
            types.Include(kds::stKDS_REMOTE);
        } else if (rtl::SameText(item, "stKDS_LOCAL")) {
            types.Include(kds::stKDS_LOCAL);
        } else if (rtl::SameText(item, "stKDS_KIS")) {
            types.Include(kds::stKDS_KIS);
        } else {
            throw rtl::EReadError("Invalid property value");
        }
    }
    return types;
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

}  // namespace

void RegisterDataAccessClasses() {
    static std::once_flag once;
    std::call_once(once, [] { gui::RegisterComponentClass(SettingsClass()); });
}

}  // namespace app
