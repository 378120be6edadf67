// Small text helpers on byte strings. Letter case is ASCII only: names in this system (fields,
// indexes, components, files) are ASCII, and other bytes compare as they are.
#pragma once

#include <string>
#include <string_view>

namespace rtl {

bool SameText(std::string_view a, std::string_view b);
// <0, 0, >0 as a sorts before, with or after b, ignoring letter case.
int CompareText(std::string_view a, std::string_view b);
std::string UpperCase(std::string text);
std::string LowerCase(std::string text);
// Trim removes control characters and blanks (bytes up to 32) at both ends, as the class
// library does; TrimLeft and TrimRight at one end.
std::string Trim(const std::string& text);
std::string TrimLeft(const std::string& text);
std::string TrimRight(const std::string& text);

}  // namespace rtl
