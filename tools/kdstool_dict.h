// kdstool's dictionary commands (kdstool dict ...), and the few things they share with the table
// commands.
#pragma once

#include <string>
#include <vector>

#include "engine/kce.h"

namespace kdstool {

// A failure of a dictionary command: one line on standard error, exit status 1.
struct DictFailure {
    std::string message;
};

// The table type of a table file: .kdt native, a dBase-layout .dbf NTX, any other .dbf CDX.
UNSIGNED16 TableTypeOf(const std::string& path);
// The .ntx files that create made for an NTX table (resolved paths).
std::vector<std::string> RememberedNtxFiles(const std::string& table);

// kdstool dict SUBCOMMAND ...; argv[2] is the subcommand. Answers the exit status.
int Dict(int argc, char** argv);

}  // namespace kdstool
