// Paths: every file and folder name the system handles passes through ResolvePath, so that the
// Windows forms the program's users type ("C:\TEMP\photo.JPG") work on this file system.
//
//  - "\" and "/" both separate folders.
//  - "X:" at the start names a drive: the folder in $UPDATEBANK_DRIVE_X (the letter upper case),
//    else $XDG_DATA_HOME/updatebank/drive_x (~/.local/share/... when XDG_DATA_HOME is unset).
//    Drive C's folder and its TEMP folder are created when a path on drive C is resolved.
//  - A POSIX absolute path is taken as it is; anything else starts at the working directory.
//  - "." and ".." are applied to the names, not to the file system.
//  - Each name is matched to an existing file or folder without regard to letter case (an exact
//    match wins, else the first in byte order); a name that matches nothing keeps its case, and
//    so does everything after it.
//
// Nothing here raises: the engine calls this module too. A folder that cannot be created shows
// up later, when the file in it cannot be opened.
#pragma once

#include <string>

namespace rtl {

// The absolute POSIX path for `path`, without a trailing separator (except for "/").
std::string ResolvePath(const std::string& path);
// The folder that drive `letter` stands for (drive C: created, with its TEMP folder).
std::string DriveFolder(char letter);
std::string CurrentDir();
// Why `path` cannot be resolved as the operator meant it: it starts at a folder the system
// names (the working folder for a relative path; for a drive, $UPDATEBANK_DRIVE_X, or
// $XDG_DATA_HOME or $HOME) whose name the ANSI code page cannot hold. The refusal as UTF-8,
// naming that folder; empty when there is none.
std::string UnreachableBecause(const std::string& path);
// The full file name of the running program (empty when the system does not tell).
std::string ProgramFileName();

// These resolve their argument first.
bool FileExists(const std::string& path);       // a file (not a folder) exists
bool DirectoryExists(const std::string& path);  // a folder exists
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
bool CreateDir(const std::string& path);
// Creates the folder and any missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// Text helpers; both separators count, and so does the colon of a drive.
bool IsPathDelimiter(char c);
// `name` when it is absolute (or `folder` is empty); else folder + separator + name, with the
// kind of separator `folder` already uses.
std::string JoinPath(const std::string& folder, const std::string& name);
std::string ExtractFileName(const std::string& path);  // "photo.JPG"
std::string ExtractFileExt(const std::string& path);   // ".JPG", "" when none
std::string ExtractFilePath(const std::string& path);  // "C:\TEMP\", with the separator
std::string ExtractFileDir(const std::string& path);   // "C:\TEMP"; a root keeps its separator
std::string ChangeFileExt(const std::string& path, const std::string& ext);
std::string IncludeTrailingPathDelimiter(const std::string& path);
std::string ExcludeTrailingPathDelimiter(const std::string& path);

}  // namespace rtl
