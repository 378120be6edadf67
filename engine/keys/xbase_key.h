// Keys as the xBase index files store them, where they differ from the engine's own raw keys
// (raw_key.h). Character keys are the same in every kind (the bytes, blank padded).
//
//   kind  value type          width  encoding
//   .cdx  numeric             8      IEEE double, big-endian, sign bit flipped for positives and
//                                    every bit flipped for negatives (as raw keys)
//   .cdx  integer field       4      32-bit two's complement, big-endian, sign bit flipped
//   .cdx  date                8      the Julian day as a numeric key (the empty date is day 0)
//   .cdx  datetime            8      Julian day plus the fraction of the day, as a numeric key
//   .cdx  logical             1      'T' or 'F'
//   .cdx  NULL-able           +1     a leading 0x80, then the key; a NULL value is all 0x00
//   .ntx  numeric N(w,d)      w      the absolute value as digits with leading zeros and d
//                                    decimals; for a negative value every character but '.'
//                                    becomes 0x5C - c, so negatives sort first
//   .ntx  date                8      YYYYMMDD (the empty date is 8 blanks)
//   .ntx  datetime            8      as raw keys
//   .ntx  logical             1      'T' or 'F'
//
// Key expressions in files other programs wrote may carry an alias ("CUSTOMER->NAME"), a field
// name longer than the table's 10-character names, or STR() of a field without a width (the
// field's width in .ntx files, 10 in .cdx files); XbaseExpression rewrites such a text into the
// engine's expression language.
#pragma once

#include <string>
#include <string_view>

#include "engine/expr/value.h"

namespace kce {

enum class KeyDialect : uint8_t { kNative, kCdx, kNtx };

// How one segment is encoded in an xBase dialect.
struct XbaseEncoding {
    ValueType type = ValueType::kCharacter;
    size_t width = 0;
    bool integer = false;  // .cdx: a bare integer field
    int decimals = 0;      // .ntx numeric
};

// The expression text the engine compiles for a key expression stored in an xBase file.
std::string XbaseExpression(std::string_view text, const ExprSchema& schema, KeyDialect dialect);

// Appends the encoding of v.
void AppendXbaseKey(const Value& v, const XbaseEncoding& enc, KeyDialect dialect, std::string* key);

}  // namespace kce
