#include "engine/sql/params.h"

#include "engine/status.h"

namespace kce::sql {
namespace {

bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }

bool EndsName(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == ')' || c == ',' || c == ';';
}

}  // namespace

KCESTATUS ParseStatement(std::string_view text, ParsedStatement* out) {
    ParsedStatement parsed;
    size_t i = 0;
    const size_t n = text.size();
    auto addParameter = [&](std::string name) {
        parsed.names.push_back(std::move(name));
        parsed.text += "?" + std::to_string(parsed.names.size());
    };
    while (i < n) {
        char c = text[i];
        if (IsQuote(c)) {
            // A literal (or quoted identifier) is copied whole; a doubled quote stays inside.
            size_t j = i + 1;
            for (;;) {
                if (j >= n) {
                    return Fail(KCE_SQL_PARAMETER, "the quote at position " +
                                                       std::to_string(i + 1) + " is never closed");
                }
                if (text[j] == c) {
                    if (j + 1 < n && text[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            parsed.text.append(text.substr(i, j + 1 - i));
            i = j + 1;
        } else if (c == ':' && i + 1 < n && text[i + 1] == ':') {
            parsed.text += ':';
            i += 2;
        } else if (c == ':') {
            size_t start = i;
            std::string name;
            ++i;
            char quote = 0;
            while (i < n) {
                char d = text[i];
                if (quote) {
                    if (d == quote) {
                        quote = 0;
                    } else {
                        name += d;
                    }
                } else if (IsQuote(d)) {
                    quote = d;
                } else if (EndsName(d)) {
                    break;
                } else {
                    name += d;
                }
                ++i;
            }
            if (quote) {
                return Fail(KCE_SQL_PARAMETER, "the quoted parameter name at position " +
                                                   std::to_string(start + 1) + " is never closed");
            }
            if (name.empty()) {
                return Fail(KCE_SQL_PARAMETER, "the colon at position " +
                                                   std::to_string(start + 1) +
                                                   " names no parameter (write '::' for a colon)");
            }
            addParameter(std::move(name));
        } else if (c == '?') {
            ++i;
            // "?5" and the like are SQLite's own numbering, which would clash with ours.
            if (i < n && text[i] >= '0' && text[i] <= '9') {
                return Fail(KCE_SQL_PARAMETER, "numbered parameters ('?" + std::string(1, text[i]) +
                                                   "...') are not taken; use '?' or ':NAME'");
            }
            addParameter("");
        } else {
            parsed.text += c;
            ++i;
        }
    }
    *out = std::move(parsed);
    return KCE_SUCCESS;
}

}  // namespace kce::sql
