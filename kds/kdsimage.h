// The record-image codec of the data-access components: the one place that knows how each engine
// field type lies in a raw record image (docs/formats/kce-record-image.md) and how its bytes
// become the dataset's native values and back.
//
// Every rule is a row of one table, by field type: the empty image and emptiness test of each
// table kind, the reader and the writer. The dataset's field access, its posting and its key
// buffers ask this codec; nothing else in kds spells an image.
#pragma once

#include <cstdint>

#include "dataset/db_types.h"
#include "kds/kdsengine.h"

namespace kds {

class TKdsDataSet;

namespace image {

// The two layouts of a record image: native tables, and DBF tables (CDX and NTX alike).
enum class TableKind : uint8_t { Native, XBase };

// The kind of an engine table-type code (KdsGetTableType).
inline TableKind KindOfTableType(UNSIGNED16 engineTableType) {
    return engineTableType == KCE_KDT ? TableKind::Native : TableKind::XBase;
}

// One field of an image: its engine type, its bytes and its decimals.
struct ImageField {
    uint16_t type = 0;
    int length = 0;
    int decimals = 0;
};

// Whether the field's bytes at p hold no value.
bool IsEmpty(TableKind kind, const ImageField& field, const char* p);

// Writes the field's empty image at p. While a record is edited, a binary number (double, money,
// integer, shortint) takes the native empty image on both kinds; posting stores it with
// KdsSetEmpty (IsPendingEmptyNumber).
void WriteEmpty(TableKind kind, const ImageField& field, char* p);

// Whether the bytes at p are a binary number's pending empty image (see WriteEmpty).
bool IsPendingEmptyNumber(const ImageField& field, const char* p);

// What a value is read into or written from: the field object's data type and data size, and the
// dataset an error names (none: no dataset).
struct NativeSlot {
    db::TFieldType dataType = db::ftUnknown;
    int dataSize = 0;
    const TKdsDataSet* owner = nullptr;
};

// Reads the value at p (not empty) into destination in the native form of the field's data
// type. Blob fields and unknown types write nothing. A numeric text that is not a number leaves
// the destination as it was; a date text that is not a date raises the engine's error.
void Read(const ImageField& field, const char* p, const NativeSlot& slot, void* destination);

// Writes the native value at source into the field's bytes at p. emptyTextIsZeros: an empty text
// fills a char field with zeros (the native empty image) instead of blanks. Raises
// "Numeric out of range." for a number its field cannot hold and the engine's error for a date
// outside years 1 to 9999.
void Write(const ImageField& field, char* p, const NativeSlot& slot, const void* source,
           bool emptyTextIsZeros);

// Blob fields (memo, binary, image, varchar): only a 4-byte marker lies in the image.
inline bool IsBlobType(int type) { return type >= KCE_MEMO && type <= KCE_VARCHAR; }

}  // namespace image
}  // namespace kds
