// Small helpers for files and their bytes, shared by the tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// The whole of `file` as bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Bytes as upper-case hexadecimal, two digits a byte, for messages that show what a file holds.
inline std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace testsupport
