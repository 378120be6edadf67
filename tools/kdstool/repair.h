// kdstool check on DBF tables, and check --repair (see repair.cpp).
#pragma once

#include <string>

#include "tools/kdstool/common.h"

namespace kdstool {

// Prints what is wrong with a DBF table, its memo file and its indexes, one finding a line, and
// answers the exit status (1 while a fault that is not a warning remains). With repair, sets
// right what it found, printing each change, and keeps FILE.bak copies of the files it changed.
int CheckDbf(const Args& args, bool repair);

// The engine's report on the indexes open on a table (check.cpp).
std::string IndexReport(KDSHANDLE table);
// Whether a report holds a fault: a line other than a warning ("warning: ...").
bool HoldsFault(const std::string& lines);

}  // namespace kdstool
