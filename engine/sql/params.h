// Parameters of SQL statement texts.
//
// A parameter is a colon followed by its name (":EMP_CODE"), or a question mark. The name runs up
// to the first blank, line break, ")", "," or ";" outside a quoted literal, or the end of the
// text; a name may be quoted right after the colon (":"my name""), its quotes then not part of
// it. A doubled colon ("::") stands for one colon and starts no parameter. Nothing inside a
// quoted literal ('...', "..." or `...`, a doubled quote standing for itself) is a parameter.
//
// Parameters are numbered from 1 in order of appearance; a name that appears twice is two
// parameters (by number), both set at once when set by name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/kce.h"

namespace kce::sql {

struct ParsedStatement {
    // The text as SQLite takes it: parameter n written as "?n", doubled colons as one.
    std::string text;
    // The name of each parameter in order ("" for a question mark).
    std::vector<std::string> names;
};

// Parses a statement text. An unterminated quoted literal or a colon without a name gives
// KCE_SQL_PARAMETER with the position.
KCESTATUS ParseStatement(std::string_view text, ParsedStatement* out);

}  // namespace kce::sql
