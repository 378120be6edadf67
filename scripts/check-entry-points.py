#!/usr/bin/env python3
"""Checks the engine's C boundary: every entry point declared in engine/kce.h is defined once, in
engine/api/, and its whole body is one call of the firewall (Guard) or of a runner of
engine/api/helpers.h, each of which runs its body inside Guard. Exits 1 and names each offender.

Usage: scripts/check-entry-points.py [repository root]
"""
import pathlib
import re
import sys

RUNNERS = (
    "Guard", "OnCursor", "OnHandleCursor", "OnField", "OnFieldOrKey", "OnTable", "OnIndex", "OnTableOf"
)


def strip_code(text):
    """The text with comments, strings and character literals blanked (offsets kept)."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            out.append(c + " " * (j - i - 2) + c)
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def matching(code, open_at):
    """Offset of the bracket that closes the one at open_at."""
    pairs = {"(": ")", "{": "}", "[": "]"}
    opener, closer = code[open_at], pairs[code[open_at]]
    depth = 0
    for i in range(open_at, len(code)):
        if code[i] == opener:
            depth += 1
        elif code[i] == closer:
            depth -= 1
            if depth == 0:
                return i
    return -1


def body_problem(body):
    """Why a function body (without its braces) is not one firewall call, or None."""
    rest = re.sub(r"^\s*(\(void\)\s*\w+\s*;\s*)*", "", body)
    m = re.match(r"return\s+(\w+)\s*\(", rest)
    if not m:
        return "does not begin with return <firewall>(...)"
    if m.group(1) not in RUNNERS:
        return "returns %s(...), which is not the firewall or one of its runners" % m.group(1)
    close = matching(rest, m.end() - 1)
    if close < 0 or not re.fullmatch(r"\s*;\s*", rest[close + 1:]):
        return "does more than return the firewall's status"
    return None


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    header = strip_code((root / "engine/kce.h").read_text())
    declared = set(re.findall(r"\bKCESTATUS\s+(Kds\w+)\s*\(", header))
    problems = []
    defined = {}
    for path in sorted((root / "engine").rglob("*.cpp")):
        code = strip_code(path.read_text())
        rel = path.relative_to(root)
        for m in re.finditer(r'extern\s+"\s*"\s+KCESTATUS\s+(Kds\w+)\s*\(', code):
            name = m.group(1)
            if not str(rel).startswith("engine/api/"):
                problems.append("%s: %s is defined outside engine/api/" % (rel, name))
            defined.setdefault(name, []).append(rel)
            params_end = matching(code, m.end() - 1)
            brace = code.find("{", params_end)
            if brace < 0 or code[params_end + 1:brace].strip() not in ("", "noexcept"):
                problems.append("%s: %s has no body here" % (rel, name))
                continue
            why = body_problem(code[brace + 1:matching(code, brace)])
            if why:
                problems.append("%s: %s %s" % (rel, name, why))
    for name in sorted(declared):
        places = defined.get(name, [])
        if len(places) != 1:
            problems.append("%s is defined %d times (declared in engine/kce.h)" % (name, len(places)))
    for name in sorted(set(defined) - declared):
        problems.append("%s is defined but not declared in engine/kce.h" % name)
    for p in problems:
        print("entry points: " + p)
    if problems:
        return 1
    print("entry points: %d, each behind the firewall" % len(declared))
    return 0


if __name__ == "__main__":
    sys.exit(main())
