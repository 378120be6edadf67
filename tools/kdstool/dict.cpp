// kdstool dict: creates data dictionaries, adds and drops their users, adds tables and lists what
// a dictionary holds. Users and tables go through the engine's C interface; the listing reads the
// dictionary file as the engine does, without a login, as every maintenance call does (they need
// write access to the file, not a user of it).
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/dictionary/dictionary.h"
#include "rtl/edge.h"
#include "rtl/paths.h"
#include "tools/json.h"
#include "tools/kdstool/common.h"

namespace kdstool {

namespace {

namespace fs = std::filesystem;

// Names and paths of the command line go to the engine in its code page (common.h).
std::string EngineFile(const std::string& utf8) {
    return rtl::ResolvePath(ToEngine(utf8, "the file name"));
}

void NeedPositional(const Args& args, size_t count, const char* usage) {
    if (args.positional.size() != count) throw Failure{std::string("usage: kdstool ") + usage};
}

// The password of add-user when --password is not given: one line of standard input, read with
// the terminal's echo off when it is a terminal, so that it lands in no shell history.
std::string ReadPassword(const std::string& user) {
    bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "password for %s: ", user.c_str());
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string password;
    bool got = static_cast<bool>(std::getline(std::cin, password));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!got) throw Failure{"no password given for user '" + user + "'"};
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

// The password as process text; its text is not shown when the page cannot hold it.
std::string PasswordText(const std::string& utf8) {
    std::optional<std::string> ansi = rtl::FromOperatorText(utf8);
    if (!ansi) {
        throw Failure{
            "the password holds a character that the ANSI code page (Windows-1252) cannot hold"};
    }
    return *ansi;
}

// path as stored in the dictionary: relative to base when it lies under base (so that the
// folder can move with its tables), else the full path.
std::string StoredPath(const std::string& resolved, const std::string& base) {
    fs::path relative = fs::path(resolved).lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..") return resolved;
    return relative.generic_string();
}

std::string FolderOf(const std::string& resolved) {
    return fs::path(resolved).parent_path().string();
}

const char* KindName(UNSIGNED16 type) {
    switch (type) {
        case KCE_NTX:
            return "ntx";
        case KCE_CDX:
            return "cdx";
        default:
            return "kdt";
    }
}

// Opens the table file the way the dictionary will (its type, its index files) and looks for
// the index, so that a default index that is not there is refused now, not at every open.
void CheckIndexExists(const std::string& table, UNSIGNED16 type,
                      const std::vector<std::string>& indexFiles, const std::string& index) {
    Handles open;
    Check(KdsConnect(U(FolderOf(table)), &open.connection), Shown(table));
    Check(KdsOpenTable(open.connection, U(fs::path(table).filename().string()), nullptr, type,
                       KCE_ANSI, KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, KCE_OPEN_READ_ONLY,
                       &open.table),
          Shown(table));
    for (const std::string& file : indexFiles) {
        UNSIGNED16 count = 0;
        Check(KdsOpenIndex(open.table, U(file), nullptr, &count), "index file " + Shown(file));
    }
    KDSHANDLE order = 0;
    Check(KdsGetIndexHandle(open.table, U(index), &order), "default index '" + Shown(index) + "'");
}

int CreateDictionary(const Args& args) {
    NeedPositional(args, 1, "dict create DICT.kdd");
    Check(KdsDDCreate(U(EngineFile(args.positional[0]))));
    return 0;
}

int AddUser(const Args& args) {
    NeedPositional(args, 2, "dict add-user DICT.kdd USER [--password P]");
    std::string dictionary = EngineFile(args.positional[0]);
    std::string user = ToEngine(args.positional[1], "the user name");
    std::optional<std::string> given = args.Option("--password");
    std::string password = PasswordText(given ? *given : ReadPassword(args.positional[1]));
    Check(KdsDDAddUser(U(dictionary), U(user), U(password)));
    return 0;
}

int DropUser(const Args& args) {
    NeedPositional(args, 2, "dict drop-user DICT.kdd USER");
    Check(KdsDDDropUser(U(EngineFile(args.positional[0])),
                        U(ToEngine(args.positional[1], "the user name"))));
    return 0;
}

int AddTable(const Args& args) {
    NeedPositional(args, 2,
                   "dict add-table DICT.kdd TABLE [--name NAME] [--default-index INDEX] "
                   "[--index-file FILE]...");
    std::string dictionary = EngineFile(args.positional[0]);
    std::string table = EngineFile(args.positional[1]);
    if (fs::path(table).extension().empty()) table += ".kdt";
    std::error_code error;
    if (!fs::is_regular_file(rtl::OsPath(table), error)) {
        throw Failure{"no table file " + Shown(table)};
    }
    UNSIGNED16 type = Table::TypeOf(table);

    std::vector<std::string> indexFiles;
    if (type == KCE_NTX) indexFiles = Table::RememberedIndexFiles(table);
    for (auto [it, end] = args.options.equal_range("--index-file"); it != end; ++it) {
        indexFiles.push_back(EngineFile(it->second));
    }
    std::string name = fs::path(table).stem().string();
    if (auto n = args.Option("--name")) name = ToEngine(*n, "the table name");
    std::string defaultIndex;
    if (auto d = args.Option("--default-index")) defaultIndex = ToEngine(*d, "the index name");
    if (!defaultIndex.empty()) CheckIndexExists(table, type, indexFiles, defaultIndex);

    std::string dictFolder = FolderOf(dictionary);
    std::string tableFolder = FolderOf(table);
    std::string indexList;
    for (const std::string& file : indexFiles) {
        if (!indexList.empty()) indexList += ';';
        indexList += StoredPath(file, tableFolder);
    }
    Check(KdsDDAddTable(U(dictionary), U(name), U(StoredPath(table, dictFolder)), type,
                        indexList.empty() ? nullptr : U(indexList)),
          "table '" + Shown(name) + "'");
    if (!defaultIndex.empty()) {
        Check(KdsDDSetTableProperty(U(dictionary), U(name), KCE_DD_TABLE_DEFAULT_INDEX,
                                    U(defaultIndex)),
              "table '" + Shown(name) + "'");
    }
    return 0;
}

// One JSON line per table ({"table", "file", "kind", "index_files", "default_index"}), then one
// per user ({"user"}); passwords are not in the file to be shown.
int List(const Args& args) {
    NeedPositional(args, 1, "dict list DICT.kdd");
    std::string dictionary = EngineFile(args.positional[0]);
    std::vector<std::string> names, users;
    Check(kce::DictionaryTableNames(dictionary, &names));
    std::string out;
    for (const std::string& name : names) {
        kce::DictionaryTable table;
        Check(kce::FindDictionaryTable(dictionary, name, &table));
        std::string defaultIndex;
        KCESTATUS s = kce::GetDictionaryTableProperty(dictionary, name, KCE_DD_TABLE_DEFAULT_INDEX,
                                                      &defaultIndex);
        if (s != KCE_SUCCESS && s != KCE_NO_PROPERTY) Check(s);
        out = "{\"table\": ";
        tools::AppendJsonString(out, Shown(table.name));
        out += ", \"file\": ";
        tools::AppendJsonString(out, Shown(table.file));
        out += std::string(", \"kind\": \"") + KindName(table.tableType) + "\", \"index_files\": [";
        for (size_t i = 0; i < table.indexFiles.size(); ++i) {
            if (i) out += ", ";
            tools::AppendJsonString(out, Shown(table.indexFiles[i]));
        }
        out += "], \"default_index\": ";
        if (s == KCE_SUCCESS) {
            tools::AppendJsonString(out, Shown(defaultIndex));
        } else {
            out += "null";
        }
        out += "}\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    Check(kce::DictionaryUsers(dictionary, &users));
    for (const std::string& user : users) {
        out = "{\"user\": ";
        tools::AppendJsonString(out, Shown(user));
        out += "}\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

int Dict(int argc, char** argv) {
    if (argc < 3)
        throw Failure{
            "dict needs a subcommand: create, add-user, drop-user, "
            "add-table or list"};
    std::string sub = argv[2];
    if (sub == "create") return CreateDictionary(ParseArgs(argc, argv, 3, {}));
    if (sub == "add-user") return AddUser(ParseArgs(argc, argv, 3, {"--password"}));
    if (sub == "drop-user") return DropUser(ParseArgs(argc, argv, 3, {}));
    if (sub == "add-table") {
        return AddTable(ParseArgs(argc, argv, 3, {"--name", "--default-index", "--index-file"}));
    }
    if (sub == "list") return List(ParseArgs(argc, argv, 3, {}));
    throw Failure{"unknown dict command '" + sub +
                  "' (create, add-user, drop-user, "
                  "add-table, list)"};
}

}  // namespace kdstool
