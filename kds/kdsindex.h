// The typed key values given to the key searches and ranges of the Keel datasets.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "rtl/variant.h"

namespace db {
class TField;
}

namespace kds {

// One element of a key-value list: a value that keeps the kind it was given as, so that it is
// assigned to its key field through the matching value operation (an integer as IntegerValue, a
// text as StringValue, ...). A field passes its own value; none clears the key field.
class TTypedValue {
  public:
    enum class Kind {
        Integer,
        Boolean,
        Char,
        Float,
        String,
        Currency,
        Variant,
        Object,
        Pointer,
        Int64
    };

    // Integers of up to 32 bits are Integer; wider ones are Int64, which no key field takes.
    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                               !std::is_same_v<T, char>,
                                           int> = 0>
    TTypedValue(T value)
        : kind_(sizeof(T) < 4 || (sizeof(T) == 4 && std::is_signed_v<T>) ? Kind::Integer
                                                                         : Kind::Int64),
          integer_(static_cast<int64_t>(value)) {}
    TTypedValue(bool value) : kind_(Kind::Boolean), integer_(value ? 1 : 0) {}
    TTypedValue(char value) : kind_(Kind::Char), text_(1, value) {}
    TTypedValue(double value) : kind_(Kind::Float), float_(value) {}
    TTypedValue(const char* value) : kind_(Kind::String), text_(value ? value : "") {}
    TTypedValue(std::string value) : kind_(Kind::String), text_(std::move(value)) {}
    TTypedValue(rtl::Currency value) : kind_(Kind::Currency), currency_(value) {}
    TTypedValue(rtl::Variant value) : kind_(Kind::Variant), variant_(std::move(value)) {}
    TTypedValue(const db::TField* field) : kind_(Kind::Object), field_(field) {}
    TTypedValue(std::nullptr_t) : kind_(Kind::Pointer) {}

    Kind GetKind() const { return kind_; }

    // Assigns the value to the field by its kind. An empty variant and a none pointer assign
    // nothing; a kind no field takes raises "Invalid value for field '%s'".
    void AssignTo(db::TField& field) const;

  private:
    Kind kind_;
    int64_t integer_ = 0;
    double float_ = 0;
    std::string text_;
    rtl::Currency currency_{};
    rtl::Variant variant_;
    const db::TField* field_ = nullptr;
};

}  // namespace kds
