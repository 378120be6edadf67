// The text forms of field values (KdsSetField / KdsGetField), the same for every storage kind: a
// field's bytes in the engine's record image from text and back, and the pieces of text the
// storages' own conversions use too.
//
// Text forms by engine type (blank text sets the empty value of every type but char and raw):
//   logical                   T / F (reads T Y 1 TRUE .T. and F N 0 FALSE .F., any case)
//   numeric, money            decimal text, rounded to the field's decimals
//   date, compactdate         the engine's date format (reads YYYYMMDD and YYYY-MM-DD too)
//   char                      the text, trailing blanks removed; raw: the bytes
//   double                    the shortest text that reads back the same
//   integer, shortint,autoinc whole numbers
//   time                      HH:MM:SS.mmm
//   timestamp                 a date, a blank and a time
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/record_image.h"

namespace kce {

// Text -> the field's bytes in image. Text that is no value of the field gives
// KCE_INVALID_FIELD_VALUE naming the field.
KCESTATUS ValueFromText(const FieldDesc& field, std::string_view text, uint8_t* image);
// The field's bytes in image -> text; the empty value is empty text.
KCESTATUS ValueToText(const FieldDesc& field, const uint8_t* image, std::string* text);

// KCE_INVALID_FIELD_VALUE for `field`, saying why.
KCESTATUS InvalidValue(const FieldDesc& field, const std::string& why);

// Blanks and tabs off both ends, and NULs off the end.
std::string_view TrimBlanks(std::string_view s);
// Whole text as a finite double / a 64-bit integer (blanks around and a leading '+' allowed).
bool ParseDouble(std::string_view s, double* out);
bool ParseInt64(std::string_view s, int64_t* out);

// "HH:MM:SS.mmm" and back (seconds and milliseconds optional on input).
std::string FormatTimeOfDay(uint32_t ms);
bool ParseTimeOfDay(std::string_view text, uint32_t* ms);
// "YYYY-MM-DD" (years 0 to 9999) and back.
std::string FormatIsoDate(int64_t julian);
bool ParseIsoDate(std::string_view text, int64_t* julian);

}  // namespace kce
