// Field, index and component names compare without regard to letter case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace db {

bool SameName(std::string_view a, std::string_view b);
// The name as SameName compares it: equal folded names are the same name.
std::string FoldName(std::string_view name);

// Splits "A; B ;C" at ";" into trimmed names (blanks and control characters removed at both
// ends); a ";" at the very end adds no empty name.
std::vector<std::string> SplitNames(std::string_view names);

}  // namespace db
