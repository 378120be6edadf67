#include "dataset/db_errors.h"

#include "rtl/component.h"

namespace db {

void DatabaseError(const std::string& message, const rtl::TComponent* component) {
    if (component != nullptr && !component->Name().empty()) {
        throw EDatabaseError(component->Name() + ": " + message);
    }
    throw EDatabaseError(message);
}

void DatabaseErrorFmt(std::string_view pattern, std::initializer_list<rtl::FormatArg> args,
                      const rtl::TComponent* component) {
    DatabaseError(rtl::Format(pattern, args), component);
}

}  // namespace db
