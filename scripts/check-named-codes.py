#!/usr/bin/env python3
"""Fails when a C++ source of the program compares a type with a bare number or switches on one.

Table types, field types, server types and the other codes of the engine's C interface have names
in engine/kce.h (KCE_CDX, KCE_NUMERIC, KCE_LOCAL_SERVER, ...); the components' enumerations have
theirs in kds. A bare `case 2:` or `type == 3` hides which code is meant and breaks silently when
a code moves. Only the readers of on-disk formats, where byte values are the subject, may use
them: the allow-list below.

Usage: scripts/check-named-codes.py [ROOT]   (ROOT defaults to the repository)
"""
import pathlib
import re
import sys

# Folders whose C++ sources are checked.
CHECKED = ("engine", "kds", "tools", "app", "dataset", "rtl", "gui")

# Where byte values of a file format are the subject (relative paths, folder prefixes end in /).
ALLOWED = (
    "engine/dbf/",        # DBF headers, field descriptors and memo blocks
    "engine/index/cdx/",  # CDX pages
    "engine/index/ntx/",  # NTX pages
)

BARE_CASE = re.compile(r"\bcase\s+[0-9]+\s*:")
BARE_TYPE = re.compile(r"\w*[tT]ype\b(\(\))?\s*[!=]=\s*[0-9]+\b")


def code_of(line: str) -> str:
    """The line without its comments and string literals."""
    line = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    line = re.sub(r"/\*.*?\*/", " ", line)
    return line.split("//", 1)[0]


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    problems = []
    for folder in CHECKED:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".cpp", ".h", ".c", ".cc"):
                continue
            relative = path.relative_to(root).as_posix()
            if relative.startswith(ALLOWED):
                continue
            in_block_comment = False
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                if in_block_comment:
                    if "*/" not in line:
                        continue
                    line = line.split("*/", 1)[1]
                    in_block_comment = False
                if "/*" in line and "*/" not in line.split("/*", 1)[1]:
                    line = line.split("/*", 1)[0]
                    in_block_comment = True
                code = code_of(line)
                if BARE_CASE.search(code) or BARE_TYPE.search(code):
                    problems.append(f"{relative}:{number}: {line.strip()}")
    if problems:
        print("Bare codes (use the named constants of engine/kce.h or the components' enumerations):")
        print("\n".join(problems))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
