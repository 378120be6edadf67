// Letter case in the engine: names (fields, indexes, files, types) and the words of texts
// compare and upper-case in ASCII, on the runtime's text helpers.
#pragma once

#include <string>
#include <string_view>

#include "rtl/textutils.h"

namespace kce {

using rtl::CompareText;
using rtl::SameText;

// The text with its ASCII letters upper-cased.
inline std::string Upper(std::string_view text) { return rtl::UpperCase(std::string(text)); }

}  // namespace kce
