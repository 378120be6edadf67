// Path resolution for the engine, on the runtime's path module (Windows and POSIX forms, drive
// letters, names found without regard to letter case).
#pragma once

#include <string>
#include <string_view>

namespace kce {

// The POSIX path of a path given in either form. A relative path is taken from base when base is
// not empty, else from the working directory.
std::string ResolvePath(std::string_view path, std::string_view base = {});

// The extension of a file name with its dot (".kdt"), or empty.
std::string Extension(std::string_view path);

// The file name of a path, with or without its extension ("emp.kdt" or "emp").
std::string FileName(std::string_view path, bool withExtension = true);

// The file beside path with extension ext (".fpt"), found without regard to letter case; when
// there is none, the name with ext in the letter case of path's own extension.
std::string Sibling(std::string_view path, std::string_view ext);

}  // namespace kce
