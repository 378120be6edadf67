// The JSON form of field values that export and sql print.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/kdstool/common.h"

namespace kdstool {

// A field value that could not be read as its type: the bytes found in the record image.
struct Unreadable {
    std::string bytes;
};

// The bytes as a reader of the report can see them: printable ASCII as it is, the rest as \xNN.
std::string Visible(std::string_view bytes);

// The JSON value of a field of the current record; image is the record's raw image. A value
// that is not of its type's form throws Unreadable.
std::string ValueJson(const Table& table, const Table::Field& f, UNSIGNED16 ordinal,
                      const std::vector<UNSIGNED8>& image);

}  // namespace kdstool
