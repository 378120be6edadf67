// Raw index keys: byte strings whose memcmp order is the index order.
//
// A key is the concatenation of its segments' encodings, each of a fixed width:
//
//   value type   width          encoding
//   character    field length   the bytes, cut or padded with blanks to the width
//   numeric      8              IEEE double, big-endian, sign bit flipped for positives and every
//                               bit flipped for negatives (-0 is written as 0)
//   date         4              Julian day, big-endian unsigned (the empty date, 0, sorts first)
//   logical      1              'F' or 'T'
//   datetime     8              Julian day then milliseconds of the day, each 4 bytes big-endian
//
// An empty field encodes as the empty value of its type (blanks, 0, the empty date, false), the
// same value expressions read. A descending index stores the complement of every byte, which
// reverses memcmp order and keeps prefixes prefixes: a key built from the first segments only,
// or with a shortened last character segment, matches as a prefix in both directions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/expr/value.h"

namespace kce {

// Longest key an index may have, in bytes.
constexpr size_t kMaxKeyLength = 256;

// Encoded width of a value of this type; `charWidth` for character values.
size_t KeyWidth(ValueType type, size_t charWidth);

// Appends the encoding of v (of the width KeyWidth gives) to key.
void AppendKeyValue(const Value& v, size_t width, std::string* key);

// The value a whole raw key of one segment of this type encodes; false when the length is wrong.
bool DecodeKeyValue(std::string_view key, ValueType type, Value* out);

// Complements every byte (descending order).
void ComplementKey(std::string* key);

// Converts the text of a string key (as a user types it: "SMITH", "12.5", a date in the engine's
// date format or YYYYMMDD, "T") into the encoding of a value of the given type. A character text
// is used as it is, not padded, so it matches as a prefix. False when the text does not convert.
bool EncodeTextKey(std::string_view text, ValueType type, std::string* key);

}  // namespace kce
