// What a data provider learns from a statement's text alone: the one table it reads or changes,
// and the order its ORDER BY clause gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace db {

// The table of a statement that names exactly one: "SELECT ... FROM T [alias] ..." without joins
// or further tables, "INSERT INTO T", "UPDATE T", "DELETE FROM T". Quotes around the name ("",
// [], ``) are removed. Empty for anything else (joins, subqueries in FROM, WITH, no table).
std::string StatementTableName(std::string_view text);

// One term of an ORDER BY clause: a column name (a qualifier such as "e." dropped) or a column
// position ("2"), with its direction and whether it compares without letter case.
struct StatementOrderTerm {
    std::string column;
    bool position = false;
    bool descending = false;
    bool caseInsensitive = false;
};

// The terms of the statement's last ORDER BY outside parentheses. nullopt when there is none, or
// when a term is anything but a column name or position followed by COLLATE NOCASE / BINARY,
// ASC / DESC and NULLS FIRST / LAST (an expression orders by no fields).
std::optional<std::vector<StatementOrderTerm>> StatementOrder(std::string_view text);

}  // namespace db
