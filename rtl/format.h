// Format: message texts with placeholders, in the class library's notation.
//
//   %[index:][-][width][.precision]type
//
// types: d (integer; precision = minimum digits), u (integer, as unsigned), x (integer, upper-case
// hexadecimal), s (text; precision = maximum length), g (number in the general format with
// `precision` significant digits, default 15: "1E15", "0.5"), f (fixed, `precision` decimals,
// default 2), e (scientific, `precision` significant digits, default 15), n (as f with thousand
// separators). "%%" is a percent sign. The decimal separator is the process-wide one.
// A placeholder that does not match its argument, or is missing one, raises EConvertError
// "Format '%s' invalid or incompatible with argument".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace rtl {

class FormatArg {
  public:
    enum class Kind { Integer, Float, Text };

    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                               !std::is_same_v<T, char>,
                                           int> = 0>
    FormatArg(T value) : kind_(Kind::Integer), integer_(static_cast<int64_t>(value)) {}
    FormatArg(double value) : kind_(Kind::Float), float_(value) {}
    FormatArg(const char* value) : kind_(Kind::Text), text_(value ? value : "") {}
    FormatArg(std::string_view value) : kind_(Kind::Text), text_(value) {}
    FormatArg(const std::string& value) : kind_(Kind::Text), text_(value) {}
    FormatArg(char value) : kind_(Kind::Text), char_(value), text_(&char_, 1) {}
    FormatArg(const FormatArg& other)
        : kind_(other.kind_),
          integer_(other.integer_),
          float_(other.float_),
          char_(other.char_),
          text_(other.text_.data() == &other.char_ ? std::string_view(&char_, 1) : other.text_) {}
    FormatArg& operator=(const FormatArg&) = delete;

    Kind GetKind() const { return kind_; }
    int64_t Integer() const { return integer_; }
    double Float() const { return float_; }
    std::string_view Text() const { return text_; }

  private:
    Kind kind_;
    int64_t integer_ = 0;
    double float_ = 0;
    char char_ = 0;
    std::string_view text_;
};

std::string Format(std::string_view format, std::initializer_list<FormatArg> args);

}  // namespace rtl
