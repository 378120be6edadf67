#include "dataset/statement_text.h"

#include <cctype>

#include "dataset/names.h"

namespace db {
namespace {

struct Token {
    enum Kind { kWord, kQuoted, kNumber, kString, kPunct } kind;
    std::string text;  // a quoted name without its quotes
    int depth;         // parentheses open before the token
};

bool WordStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool WordPart(unsigned char c) { return WordStart(c) || std::isdigit(c) || c == '$' || c == '#'; }

// The statement's tokens; comments and blanks dropped.
std::vector<Token> Tokens(std::string_view s) {
    std::vector<Token> out;
    int depth = 0;
    size_t i = 0;
    // A quoted run closed by `close`, a doubled closing character standing for itself.
    auto quoted = [&](char close) {
        std::string text;
        for (++i; i < s.size(); ++i) {
            if (s[i] == close) {
                if (i + 1 < s.size() && s[i + 1] == close && close != ']') {
                    text += close;
                    ++i;
                    continue;
                }
                ++i;
                break;
            }
            text += s[i];
        }
        return text;
    };
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isspace(c)) {
            ++i;
        } else if (s.compare(i, 2, "--") == 0) {
            while (i < s.size() && s[i] != '\n') ++i;
        } else if (s.compare(i, 2, "/*") == 0) {
            size_t end = s.find("*/", i + 2);
            i = end == std::string_view::npos ? s.size() : end + 2;
        } else if (c == '\'') {
            out.push_back({Token::kString, quoted('\''), depth});
        } else if (c == '"' || c == '`' || c == '[') {
            out.push_back({Token::kQuoted, quoted(c == '[' ? ']' : char(c)), depth});
        } else if (WordStart(c)) {
            size_t start = i;
            while (i < s.size() && WordPart(static_cast<unsigned char>(s[i]))) ++i;
            out.push_back({Token::kWord, std::string(s.substr(start, i - start)), depth});
        } else if (std::isdigit(c)) {
            size_t start = i;
            while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '.'))
                ++i;
            out.push_back({Token::kNumber, std::string(s.substr(start, i - start)), depth});
        } else {
            if (c == ')') --depth;
            out.push_back({Token::kPunct, std::string(1, char(c)), depth});
            if (c == '(') ++depth;
            ++i;
        }
    }
    return out;
}

bool Is(const std::vector<Token>& t, size_t i, const char* word) {
    return i < t.size() && t[i].kind == Token::kWord && SameName(t[i].text, word);
}

bool IsPunct(const std::vector<Token>& t, size_t i, char c) {
    return i < t.size() && t[i].kind == Token::kPunct && t[i].text[0] == c;
}

bool IsName(const std::vector<Token>& t, size_t i) {
    return i < t.size() && (t[i].kind == Token::kWord || t[i].kind == Token::kQuoted);
}

// A name and its qualifiers ("main.EMP"): the whole, and in *last the part after the last dot.
// Answers the index after it, or 0 when there is no name at i.
size_t Name(const std::vector<Token>& t, size_t i, std::string* whole, std::string* last) {
    if (!IsName(t, i)) return 0;
    *whole = *last = t[i].text;
    ++i;
    while (IsPunct(t, i, '.') && IsName(t, i + 1)) {
        *last = t[i + 1].text;
        *whole += "." + *last;
        i += 2;
    }
    return i;
}

bool ClauseWord(const std::vector<Token>& t, size_t i) {
    for (const char* w :
         {"WHERE", "GROUP", "ORDER", "HAVING", "LIMIT", "UNION", "EXCEPT", "INTERSECT", "WINDOW"}) {
        if (Is(t, i, w)) return true;
    }
    return false;
}

bool Ends(const std::vector<Token>& t, size_t i) { return i >= t.size() || IsPunct(t, i, ';'); }

}  // namespace

std::string StatementTableName(std::string_view text) {
    std::vector<Token> t = Tokens(text);
    std::string whole, last;
    size_t i = 0;
    if (Is(t, 0, "SELECT")) {
        while (i < t.size() && !(t[i].depth == 0 && Is(t, i, "FROM"))) ++i;
        size_t next = Name(t, i + 1, &whole, &last);
        if (i >= t.size() || next == 0) return {};
        // An alias, with or without AS.
        if (Is(t, next, "AS")) {
            std::string alias, aliasLast;
            next = Name(t, next + 1, &alias, &aliasLast);
            if (next == 0) return {};
        } else if (IsName(t, next) && !ClauseWord(t, next) && !Is(t, next, "JOIN") &&
                   !Is(t, next, "NATURAL") && !Is(t, next, "LEFT") && !Is(t, next, "RIGHT") &&
                   !Is(t, next, "FULL") && !Is(t, next, "INNER") && !Is(t, next, "CROSS")) {
            ++next;
        }
        return Ends(t, next) || ClauseWord(t, next) ? whole : std::string();
    }
    if (Is(t, 0, "INSERT") || Is(t, 0, "REPLACE") || Is(t, 0, "UPDATE")) {
        i = 1;
        if (Is(t, i, "OR")) i += 2;
        if (!Is(t, 0, "UPDATE")) {
            if (!Is(t, i, "INTO")) return {};
            ++i;
        }
    } else if (Is(t, 0, "DELETE") && Is(t, 1, "FROM")) {
        i = 2;
    } else {
        return {};
    }
    return Name(t, i, &whole, &last) ? whole : std::string();
}

std::optional<std::vector<StatementOrderTerm>> StatementOrder(std::string_view text) {
    std::vector<Token> t = Tokens(text);
    size_t start = 0;
    for (size_t i = 0; i + 1 < t.size(); ++i) {
        if (t[i].depth == 0 && Is(t, i, "ORDER") && Is(t, i + 1, "BY")) start = i + 2;
    }
    if (start == 0) return std::nullopt;
    std::vector<StatementOrderTerm> terms;
    size_t i = start;
    for (;;) {
        StatementOrderTerm term;
        if (i < t.size() && t[i].kind == Token::kNumber) {
            for (char c : t[i].text) {
                if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
            }
            term.column = t[i].text;
            term.position = true;
            ++i;
        } else {
            std::string whole;
            size_t next = Name(t, i, &whole, &term.column);
            if (next == 0) return std::nullopt;
            i = next;
        }
        if (Is(t, i, "COLLATE")) {
            if (Is(t, i + 1, "NOCASE")) {
                term.caseInsensitive = true;
            } else if (!Is(t, i + 1, "BINARY")) {
                return std::nullopt;
            }
            i += 2;
        }
        if (Is(t, i, "ASC") || Is(t, i, "DESC")) {
            term.descending = Is(t, i, "DESC");
            ++i;
        }
        if (Is(t, i, "NULLS") && (Is(t, i + 1, "FIRST") || Is(t, i + 1, "LAST"))) i += 2;
        terms.push_back(std::move(term));
        if (IsPunct(t, i, ',')) {
            ++i;
            continue;
        }
        if (Ends(t, i) || Is(t, i, "LIMIT") || Is(t, i, "OFFSET")) return terms;
        return std::nullopt;
    }
}

}  // namespace db
