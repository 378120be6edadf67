// Text at the edges of the process.
//
// Inside the process text is what the tables hold: bytes of the ANSI code page (Windows-1252),
// one byte a character, so that fixed-width fields keep their sizes. That holds for field
// values, messages, captions, folder boxes and file names alike. Outside it, where the operator
// reads and types (the command line, the environment, the terminal, the window system) and on
// disk (file and folder names), text is UTF-8. Every crossing goes through here:
//
//  - out of the process: ToOperatorText, and OsPath for a name handed to the file system. Every
//    byte of the page has one character (the five bytes Windows-1252 leaves undefined are the C1
//    controls of the same number), so this never fails and never loses a byte.
//  - into the process: FromOperatorText, and PathFromOs for a name read from the file system. A
//    character the page cannot hold is refused, never replaced: the caller says so, naming the
//    text (RefusalText).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "rtl/codepages.h"

namespace rtl {

// The page of text inside the process: Windows-1252.
const CodePage& AnsiCodePage();

// Process text as the operator's UTF-8.
std::string ToOperatorText(std::string_view ansi);

// The operator's UTF-8 as process text; nullopt when it is not UTF-8 or holds a character the
// page cannot hold (*bad, when given, receives the byte offset of the first such character).
std::optional<std::string> FromOperatorText(std::string_view utf8, size_t* bad = nullptr);

// Why FromOperatorText refused `utf8`, as UTF-8 (it names the text, which the page cannot hold):
// "WHAT 'folder-Ω' holds 'Ω', which the ANSI code page (Windows-1252) cannot hold". Bytes that
// are not UTF-8 are shown as \xNN. `what` is operator text too ("the source folder").
std::string RefusalText(std::string_view what, std::string_view utf8);

// A file name of the process as the file system's name.
inline std::string OsPath(std::string_view path) { return ToOperatorText(path); }

// A file name read from the file system (a folder entry, the working folder, an environment
// variable) as a name of the process; nullopt when the page cannot hold it.
inline std::optional<std::string> PathFromOs(std::string_view name) {
    return FromOperatorText(name);
}

}  // namespace rtl
