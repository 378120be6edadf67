// The database error class and the fixed texts of the dataset framework.
//
// A message raised for a dataset carries the dataset's component name as a prefix ("Name: text")
// when the dataset has a name; messages about field values and conversions carry none. Callers
// and tests compare these texts exactly, so they are kept here, once.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace rtl {
class TComponent;
}

namespace db {

// Every failure the dataset framework detects itself. Descendants (the engine binding's error)
// derive from it, so the error events of Edit, Post and Delete see them too.
class EDatabaseError : public rtl::Exception {
  public:
    using rtl::Exception::Exception;
};

namespace msg {
inline constexpr std::string_view kDataSetClosed =
    "Cannot perform this operation on a closed dataset";
inline constexpr std::string_view kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr std::string_view kDataSetEmpty =
    "Cannot perform this operation on an empty dataset";
inline constexpr std::string_view kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr std::string_view kNotEditing = "Dataset not in edit or insert mode";
inline constexpr std::string_view kRecordNotFound = "Record not found";
inline constexpr std::string_view kFieldNotFound = "Field '%s' not found";
inline constexpr std::string_view kFieldTypeMismatch =
    "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr std::string_view kFieldSizeMismatch =
    "Size mismatch for field '%s', expecting: %d actual: %d";
inline constexpr std::string_view kInvalidCalcType =
    "Field '%s' cannot be a calculated or lookup field";
inline constexpr std::string_view kUnknownFieldType = "Field '%s' is of an unknown type";
inline constexpr std::string_view kUnsupportedFieldType = "Field '%s' is of an unsupported type";
inline constexpr std::string_view kFieldNameMissing = "Field name missing";
inline constexpr std::string_view kDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr std::string_view kFieldOutOfRange = "Value of field '%s' is out of range";
inline constexpr std::string_view kFieldRequired = "Field '%s' must have a value";
inline constexpr std::string_view kDuplicateIndexName = "Duplicate index name '%s'";
inline constexpr std::string_view kIndexNotFound = "Index '%s' not found";
inline constexpr std::string_view kNoIndexForFields = "No index for fields '%s'";
inline constexpr std::string_view kFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr std::string_view kFieldNoDataSet = "Field '%s' has no dataset";
inline constexpr std::string_view kInvalidIntegerValue =
    "'%s' is not a valid integer value for field '%s'";
inline constexpr std::string_view kInvalidFloatValue =
    "'%s' is not a valid floating point value for field '%s'";
inline constexpr std::string_view kInvalidBoolValue =
    "'%s' is not a valid boolean value for field '%s'";
inline constexpr std::string_view kFieldRangeError =
    "%g is not a valid value for field '%s'. The allowed range is %g to %g";
inline constexpr std::string_view kFieldValueError = "Invalid value for field '%s'";
inline constexpr std::string_view kInvalidVarByteArray =
    "Invalid variant type or size for field '%s'";
inline constexpr std::string_view kInvalidFieldSize = "Invalid field size";
inline constexpr std::string_view kCircularDataLink = "Circular datalinks are not allowed";
inline constexpr std::string_view kDataSourceFixed = "DataSource cannot be changed";
inline constexpr std::string_view kParamNotFound = "Parameter '%s' not found";
}  // namespace msg

// Raises EDatabaseError with the message, prefixed "Name: " when the component has a name.
[[noreturn]] void DatabaseError(const std::string& message,
                                const rtl::TComponent* component = nullptr);

// The same with a formatted message.
[[noreturn]] void DatabaseErrorFmt(std::string_view pattern,
                                   std::initializer_list<rtl::FormatArg> args,
                                   const rtl::TComponent* component = nullptr);

}  // namespace db
