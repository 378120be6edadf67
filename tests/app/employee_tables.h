// The employee tables of the conversion tests, made and read back with kdstool as an operator
// would, in a folder of the running test's own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/processes.h"

namespace apptest {

// A fresh folder for the running test, <temp>/updatebank-<what>-<pid>-<test name>, holding the
// drive_c/TEMP folder the program takes for its C: drive; UPDATEBANK_DRIVE_C names it (the
// caller unsets it when the test ends).
inline std::filesystem::path ConversionFolder(const std::string& what) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() /
                         ("updatebank-" + what + "-" + std::to_string(getpid()) + "-" +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir / "drive_c" / "TEMP");
    setenv("UPDATEBANK_DRIVE_C", (dir / "drive_c").c_str(), 1);
    return dir;
}

// Makes <dir>/<side>/EMPLOYEE.kdt with `fields` (kdstool create's field words and --index
// options) holding `records` (JSON lines, as kdstool import reads them).
inline void MakeEmployeeTable(const std::filesystem::path& dir, const std::string& side,
                              std::vector<std::string> fields, const std::string& records) {
    const std::filesystem::path table = dir / side / "EMPLOYEE.kdt";
    std::filesystem::create_directories(dir / side);
    fields.insert(fields.begin(), {KDSTOOL_PROGRAM, "create", table.string()});
    testsupport::Result created = testsupport::RunProgram(fields);
    ASSERT_EQ(created.status, 0) << created.err;
    std::ofstream(dir / "records.jsonl") << records;
    testsupport::Result imported =
        testsupport::RunProgram({KDSTOOL_PROGRAM, "import", table.string(), dir / "records.jsonl"});
    ASSERT_EQ(imported.status, 0) << imported.err;
}

// The records of a table as kdstool exports them, one JSON line each, without the record number.
inline std::vector<std::string> ExportedRecords(const std::filesystem::path& table,
                                                const std::string& passwordFile = "") {
    std::vector<std::string> call = {KDSTOOL_PROGRAM, "export", table.string()};
    if (!passwordFile.empty()) call.insert(call.end(), {"--password-file", passwordFile});
    testsupport::Result exported = testsupport::RunProgram(call);
    EXPECT_EQ(exported.status, 0) << exported.err;
    std::vector<std::string> records;
    std::stringstream in(exported.out);
    for (std::string line; std::getline(in, line);)
        records.push_back(std::regex_replace(line, std::regex("\"_recno\": [0-9]+, "), ""));
    return records;
}

}  // namespace apptest
