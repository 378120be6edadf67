// kdstool: creates tables, moves their records in and out as JSON lines, shows their layout,
// checks and maintains them, runs SQL and keeps data dictionaries. This file reads the command
// and hands it to its file (one a command, in this folder); common.h has what they share.
#include <cstdio>
#include <string>

#include "tools/kdstool/common.h"

namespace {

const char kVersion[] = "kdstool 0.1.0";
const char kUsage[] =
    "usage:\n"
    "  kdstool create TABLE FIELD... [--type cdx|ntx] [--index NAME=KEY[:unique][:descending]]...\n"
    "  kdstool import TABLE FILE [--password-file F] [--truncate]   (FILE '-' reads standard "
    "input)\n"
    "  kdstool export TABLE [--index NAME] [--password-file F] [--keep-going]\n"
    "  kdstool info TABLE\n"
    "  kdstool encrypt TABLE [--password-file F] | decrypt TABLE [--password-file F]\n"
    "  the password of an encrypted native table: the first line of --password-file F, else\n"
    "  asked on the terminal (or read as one line of standard input when there is none);\n"
    "  --password P also gives it, where the command line is private\n"
    "  kdstool pack TABLE | reindex TABLE\n"
    "  kdstool check TABLE [--repair]\n"
    "  kdstool sql FOLDER|DICT.kdd STATEMENT [--param NAME=VALUE]... [--user USER]\n"
    "      (a query prints JSON lines; a dictionary is logged into as USER, whose password is\n"
    "      given as a table's)\n"
    "  kdstool dict create DICT.kdd\n"
    "  kdstool dict add-user DICT.kdd USER [--password P]   (without it: a line of standard "
    "input)\n"
    "  kdstool dict drop-user DICT.kdd USER\n"
    "  kdstool dict add-table DICT.kdd TABLE [--name NAME] [--default-index INDEX]\n"
    "                                        [--index-file FILE]...\n"
    "  kdstool dict list DICT.kdd   (tables and users as JSON lines)\n"
    "  every command but create also takes [--index-file FILE]...: more index files of the\n"
    "  table (.ntx, or a .cdx other than its own); an NTX table opens those create made for it\n"
    "  (listed in TABLE.ntxlist beside it) and no other\n"
    "  kdstool --help | --version\n"
    "FIELD is NAME:TYPE[:LENGTH[:DECIMALS]]; TYPE is one of logical, numeric, date, char, memo,\n"
    "binary, image, varchar, compactdate, double, integer, shortint, time, timestamp, autoinc,\n"
    "raw, money. TABLE without an extension means .kdt.\n";

// One line on standard error; the exit status of a failed command.
int Report(std::string message) {
    for (char& c : message) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "kdstool: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("%s\n", kVersion);
        return 0;
    }
    try {
        using namespace kdstool;
        if (command == "create") return Create(argc, argv);
        if (command == "import") return Import(argc, argv);
        if (command == "export") return Export(argc, argv);
        if (command == "info") return Info(argc, argv);
        if (command == "pack") return Pack(argc, argv);
        if (command == "reindex") return Reindex(argc, argv);
        if (command == "check") return CheckTable(argc, argv);
        if (command == "sql") return Sql(argc, argv);
        if (command == "encrypt") return ChangeEncryption(argc, argv, true);
        if (command == "decrypt") return ChangeEncryption(argc, argv, false);
        if (command == "dict") return Dict(argc, argv);
        throw Failure{"unknown command '" + command + "' (kdstool --help lists the commands)"};
    } catch (const kdstool::Failure& f) {
        return Report(f.message);
    }
}
