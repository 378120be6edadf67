// Answers from Debian's Python (/usr/bin/python3, not the first python3 on PATH), for tests that
// check our tables and conversions against a reference written by others.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/scoped.h"

namespace testsupport {

inline bool HavePython() {
    return std::system("/usr/bin/python3 -c 'import json, codecs, datetime' 2>/dev/null") == 0;
}

// What `script` prints on standard output; `ok` tells whether it exited with status 0.
inline std::string RunPython(const std::string& script, bool* ok = nullptr) {
    ScopedTempDir dir("python-reference");
    const auto file = dir / "script.py";
    std::ofstream(file) << script;
    std::string out;
    FILE* p = ::popen(("/usr/bin/python3 " + file.string() + " 2>&1").c_str(), "r");
    if (!p) {
        if (ok) *ok = false;
        return out;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = ::pclose(p);
    if (ok) *ok = status == 0;
    return out;
}

}  // namespace testsupport
