// Small file helpers shared by the tests.
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

}  // namespace testsupport
