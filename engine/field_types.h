// The engine's field types: one table of code, name, native image length and kind, which record
// images, native columns, DBF descriptors, raw keys, the evaluator and kdstool all read. A new
// type adds its line to the table (field_types.cpp) and its code where a storage kind truly
// differs (its image, column and text forms).
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/kce.h"

namespace kce {

// What a field's value is, whatever its bytes.
enum class FieldKind { kLogical, kNumber, kDate, kText, kBlob, kTime, kTimestamp, kRaw };

struct FieldType {
    UNSIGNED16 code;       // KCE_LOGICAL ... KCE_CURDOUBLE
    const char* name;      // as KdsCreateTable takes it: "char", "money"...
    uint32_t imageLength;  // bytes in a native record image; 0 when the field's length decides
    FieldKind kind;
};

// Every type, in code order.
struct FieldTypeList {
    const FieldType* begin() const;
    const FieldType* end() const;
};
FieldTypeList FieldTypes();

// The type of a code or of a name (letter case ignored); null for an unknown one.
const FieldType* FindFieldType(UNSIGNED16 code);
const FieldType* FindFieldTypeByName(std::string_view name);

// The name of a code ("unknown" for an unknown one) and the code of a name (0 for an unknown one).
const char* FieldTypeName(UNSIGNED16 code);
UNSIGNED16 FieldTypeFromName(std::string_view name);
// Memo, binary, image and varchar: values kept apart from the record image. Inline: every field
// of every record written or read asks it.
inline bool IsBlobType(UNSIGNED16 code) { return code >= KCE_MEMO && code <= KCE_VARCHAR; }
static_assert(KCE_BINARY == KCE_MEMO + 1 && KCE_IMAGE == KCE_MEMO + 2 &&
                  KCE_VARCHAR == KCE_MEMO + 3,
              "the blob types are the codes from KCE_MEMO to KCE_VARCHAR");

}  // namespace kce
