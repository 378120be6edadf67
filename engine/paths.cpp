#include "engine/paths.h"

#include <cctype>

#include "rtl/paths.h"

namespace kce {
namespace {

bool IsAbsolute(std::string_view path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return true;
    return path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
}

}  // namespace

std::string ResolvePath(std::string_view path, std::string_view base) {
    std::string given(path);
    if (!base.empty() && !IsAbsolute(given)) given = std::string(base) + "/" + given;
    return rtl::ResolvePath(given);
}

std::string Extension(std::string_view path) { return rtl::ExtractFileExt(std::string(path)); }

}  // namespace kce
