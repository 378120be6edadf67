// Variant access of every field class: VariantValue, its writer, and assignment between fields.
#include "dataset/db_errors.h"
#include "dataset/fields.h"
#include "rtl/variant.h"

namespace db {

rtl::Variant TField::VariantValue() const { AccessError("Variant"); }
void TField::SetVariantValue(const rtl::Variant&) { AccessError("Variant"); }

void TField::AssignField(const TField* source) {
    if (source == nullptr) {
        Clear();
        return;
    }
    SetVariantValue(source->VariantValue());
}

}  // namespace db
