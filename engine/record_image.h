// Record layouts and the raw record image.
//
// A record image is the fixed-length byte string KdsGetRecord hands out: every field at its
// offset with its length, multi-byte numbers little-endian (the 16-bit word of a compact date
// high byte first). Native (.kdt) images, by engine type:
//
//   TYPE              BYTES   VALUE                                        EMPTY (NULL) IMAGE
//   1 logical         1       'T' or 'F'                                   ' '
//   2 numeric         L       text, right-aligned, exactly D decimals      zeros
//   3 date            4       Julian day                                   zeros
//   4 char            L       text padded with blanks                      zeros
//   5-8 memo/blob     4       marker: 0 empty, FF FF FF FF holds a value   zeros
//   9 compactdate     3       (year<<1 | month>>3) high byte first, then   zeros
//                             (month<<5 | day) & 0xFF
//   10 double         8       IEEE double                                  20 00 00 00 00 00 00 80
//   17 money          8       signed count of ten-thousandths              20 00 00 00 00 00 00 80
//   11 integer        4       signed                                       00 00 00 80
//   12 shortint       2       signed                                       00 80
//   13 time           4       milliseconds of the day                      FF FF FF FF
//   14 timestamp      8       Julian day, then milliseconds of the day     00 00 00 00 FF FF FF FF
//   15 autoinc        4       unsigned                                     FF FF FF FF
//   16 raw            L       bytes                                        zeros
//
// Other storage kinds (xBase) lay their images out their own way; the Storage interface
// (storage.h) answers the layout, the empty image and the emptiness test of its kind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/byte_order.h"
#include "engine/field_types.h"
#include "engine/kce.h"

namespace kce {

constexpr size_t kMaxFieldNameLength = 128;
constexpr uint32_t kMaxRecordLength = 65535;

// A field as the creator asks for it.
struct FieldSpec {
    std::string name;
    UNSIGNED16 type = 0;
    UNSIGNED32 length = 0;  // 0: the type's own length
    UNSIGNED16 decimals = 0;
};

// A field of an open table.
struct FieldDesc {
    std::string name;
    UNSIGNED16 type = 0;
    UNSIGNED32 length = 0;  // bytes in the image
    UNSIGNED16 decimals = 0;
    UNSIGNED32 offset = 0;  // in the image
};

struct RecordLayout {
    std::vector<FieldDesc> fields;
    UNSIGNED32 recordLength = 0;

    // Index of the field named name (letter case ignored), or -1.
    int Find(std::string_view name) const;
};

// Parses the field list of KdsCreateTable: "NAME,TYPE[,LENGTH[,DECIMALS]];...". Reports
// KCE_FIELD_NAME_TOO_LONG, KCE_UNKNOWN_FIELD_TYPE, KCE_INVALID_FIELD_LENGTH,
// KCE_DUPLICATE_FIELD_NAME, KCE_NO_FIELDS, KCE_INVALID_ARGUMENT with the field named.
KCESTATUS ParseFieldList(std::string_view text, std::vector<FieldSpec>* out);

// Validates specs for a native table and lays them out in order from offset 0.
KCESTATUS BuildNativeLayout(const std::vector<FieldSpec>& specs, RecordLayout* out);

// Resolves the field argument of the C interface (a name, or KCE_FIELD_ORDINAL(n)) to an index
// into layout.fields; KCE_FIELD_NOT_FOUND names the table when the field is unknown.
KCESTATUS ResolveField(const RecordLayout& layout, const UNSIGNED8* field, std::string_view table,
                       int* index);

// Native images: the empty image of one field / of a whole record, and the emptiness test.
void WriteNativeNull(const FieldDesc& field, uint8_t* image);
void NativeNullRecord(const RecordLayout& layout, uint8_t* image);
bool IsNativeNull(const FieldDesc& field, const uint8_t* image);
// The same test on the field's own bytes.
bool IsNativeNullAt(const FieldDesc& field, const uint8_t* bytes);

// Money's empty image read as a count; no money value may have it.
constexpr int64_t kMoneyNullCount = INT64_MIN + 0x20;

}  // namespace kce
