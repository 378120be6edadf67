#include "engine/field_types.h"

#include <iterator>

#include "engine/text.h"

namespace kce {
namespace {

const FieldType kTypes[] = {
    {KCE_LOGICAL, "logical", 1, FieldKind::kLogical},
    {KCE_NUMERIC, "numeric", 0, FieldKind::kNumber},
    {KCE_DATE, "date", 4, FieldKind::kDate},
    {KCE_STRING, "char", 0, FieldKind::kText},
    {KCE_MEMO, "memo", 4, FieldKind::kBlob},
    {KCE_BINARY, "binary", 4, FieldKind::kBlob},
    {KCE_IMAGE, "image", 4, FieldKind::kBlob},
    {KCE_VARCHAR, "varchar", 4, FieldKind::kBlob},
    {KCE_COMPACTDATE, "compactdate", 3, FieldKind::kDate},
    {KCE_DOUBLE, "double", 8, FieldKind::kNumber},
    {KCE_INTEGER, "integer", 4, FieldKind::kNumber},
    {KCE_SHORTINT, "shortint", 2, FieldKind::kNumber},
    {KCE_TIME, "time", 4, FieldKind::kTime},
    {KCE_TIMESTAMP, "timestamp", 8, FieldKind::kTimestamp},
    {KCE_AUTOINC, "autoinc", 4, FieldKind::kNumber},
    {KCE_RAW, "raw", 0, FieldKind::kRaw},
    {KCE_CURDOUBLE, "money", 8, FieldKind::kNumber},
};

}  // namespace

const FieldType* FieldTypeList::begin() const { return std::begin(kTypes); }
const FieldType* FieldTypeList::end() const { return std::end(kTypes); }
FieldTypeList FieldTypes() { return {}; }

const FieldType* FindFieldType(UNSIGNED16 code) {
    // The list is in code order from 1, so a code finds its entry at once; the loop only runs
    // for a code the list lacks.
    if (code >= 1 && code <= std::size(kTypes) && kTypes[code - 1].code == code) {
        return &kTypes[code - 1];
    }
    for (const FieldType& t : kTypes) {
        if (t.code == code) return &t;
    }
    return nullptr;
}

const FieldType* FindFieldTypeByName(std::string_view name) {
    for (const FieldType& t : kTypes) {
        if (SameText(name, t.name)) return &t;
    }
    return nullptr;
}

const char* FieldTypeName(UNSIGNED16 code) {
    const FieldType* t = FindFieldType(code);
    return t ? t->name : "unknown";
}

UNSIGNED16 FieldTypeFromName(std::string_view name) {
    const FieldType* t = FindFieldTypeByName(name);
    return t ? t->code : 0;
}

}  // namespace kce
