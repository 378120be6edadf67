// Scratch files for the fuzz targets that read what they are given from a file: one folder per
// process, and the input written to a file in it.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzfiles {

// A folder under $TMPDIR (or /tmp) made on first use, named after the target.
inline const std::string& Folder(const char* target) {
    static const std::string dir = [target] {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base && *base ? base : "/tmp") + "/" + target + "-XXXXXX";
        return std::string(mkdtemp(templ.data()));
    }();
    return dir;
}

// Writes the bytes to path, replacing what was there.
inline void Put(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

}  // namespace fuzzfiles
