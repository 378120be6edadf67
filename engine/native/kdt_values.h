// Native field values: the conversions between a field's bytes in the record image, its SQLite
// column value (the text forms are in engine/field_text.h).
//
// Column values, by engine type (NULL is the empty field for every type):
//   logical                   INTEGER 1 / 0
//   numeric                   INTEGER (no decimals) or REAL; a value with more significant digits
//                             than a double keeps: its decimal text as a BLOB (never converted)
//   date, compactdate         TEXT 'YYYY-MM-DD'
//   char                      TEXT (UTF-8), trailing blanks removed
//   memo, varchar             TEXT (UTF-8)
//   binary, image, raw        BLOB
//   double                    REAL
//   money                     INTEGER, the count of ten-thousandths
//   integer, shortint,autoinc INTEGER
//   time                      TEXT 'HH:MM:SS.mmm'
//   timestamp                 TEXT 'YYYY-MM-DDTHH:MM:SS.mmm'
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/record_image.h"

namespace kce::native {

// The value a field's image bytes stand for.
struct ColumnValue {
    enum Kind { kNull, kInteger, kReal, kText, kBlob } kind = kNull;
    int64_t integer = 0;
    double real = 0;
    std::string bytes;  // text or blob
    // A text of plain ASCII left where it lies (DecodeInPlace): bound instead of bytes.
    std::string_view inPlace;
};

// The declared SQLite type of a field's column.
const char* ColumnType(UNSIGNED16 type);

// Image bytes -> column value. A value the column cannot keep faithfully (a NaN, a time past
// midnight, a month 13, a numeric that is not a number) gives KCE_INVALID_FIELD_VALUE naming the
// field. Blob fields answer kNull (their values travel apart from the image).
KCESTATUS Decode(const FieldDesc& field, const uint8_t* image, ColumnValue* out);
// Decode, with a char value of plain ASCII taken in place (ColumnValue::inPlace points into the
// image, which must stay as it is until the value is bound and its statement stepped): no copy.
KCESTATUS DecodeInPlace(const FieldDesc& field, const uint8_t* image, ColumnValue* out);
// The same on the field's own bytes.
KCESTATUS DecodeAt(const FieldDesc& field, const uint8_t* bytes, ColumnValue* out);
// The checks of DecodeAt alone (the bytes of KdsSetFieldRaw): the value's text is not made.
// scratch is left in an unspecified state.
KCESTATUS CheckAt(const FieldDesc& field, const uint8_t* bytes, ColumnValue* scratch);
// stable: value outlives the statement's next step, so SQLite need not copy its bytes.
KCESTATUS Bind(sqlite3_stmt* stmt, int index, const ColumnValue& value, bool stable = false);

// Column `col` of the current row -> image bytes. A stored value that is not of the field's form
// gives KCE_DAMAGED_FILE naming the file, record and field. The statement's connection is one that
// a single thread uses at a time (opened without SQLite's mutex, used under the engine lock).
KCESTATUS ReadColumn(sqlite3_stmt* stmt, int col, const FieldDesc& field, uint8_t* image,
                     UNSIGNED32 recno, const std::string& file);
// Whether a stored column value is the field's value in the one form that writing it stores:
// NULL, and for a logical (0 or 1), char (text of bytes 1 to 127 that fits and ends in no blank),
// date, double, integer, shortint or autoinc field a value ReadColumn takes and that a record
// written back stores unchanged. A reader may then take the column as it is, without the image.
// False for every other value and type (the caller goes through ReadColumn).
bool IsCanonicalColumn(const FieldDesc& field, sqlite3_value* value);
// The image bytes a column holding the value would read back as (ReadColumn of it once bound
// and stored), without SQLite: the form a plain table gives a value written to it.
KCESTATUS ImageFromValue(const ColumnValue& value, const FieldDesc& field, uint8_t* image,
                         const std::string& file);

// Text columns hold UTF-8 (every SQLite tool reads them); the engine's bytes are Windows-1252.
// A column text that is not UTF-8 (written raw by another program) is taken as it is; a character
// Windows-1252 cannot hold reads as '?' (names and messages only: values go through
// ColumnValueText).
std::string ColumnText(std::string_view ansi);
// The same into *out, which keeps its room.
void AssignColumnText(std::string_view ansi, std::string* out);
std::string AnsiText(std::string_view column);
// A column value as the engine's bytes; nullopt when it holds a character Windows-1252 cannot
// hold, which *missing then names ("U+03A9"): a value is never changed on its way to the caller.
std::optional<std::string> ColumnValueText(std::string_view column, std::string* missing);
// The failure of reading such a value: KCE_INVALID_FIELD_VALUE naming file, record, field and
// character.
KCESTATUS Unconvertible(const std::string& file, UNSIGNED32 recno, const std::string& field,
                        const std::string& missing);

}  // namespace kce::native
