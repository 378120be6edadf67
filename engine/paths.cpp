#include "engine/paths.h"

#include <cctype>

#include "rtl/paths.h"
#include "rtl/textutils.h"

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

std::string FileName(std::string_view path, bool withExtension) {
    std::string name = rtl::ExtractFileName(std::string(path));
    return withExtension ? name : rtl::ChangeFileExt(name, "");
}

std::string Sibling(std::string_view path, std::string_view ext) {
    std::string own = Extension(path);
    bool upper = own.size() > 1 && std::isupper(static_cast<unsigned char>(own[1]));
    std::string wanted(ext);
    if (upper) wanted = rtl::UpperCase(wanted);
    // The path module finds the file whatever its letter case, and keeps the name as given when
    // there is none.
    return rtl::ResolvePath(rtl::ChangeFileExt(std::string(path), wanted));
}

}  // namespace kce
