#include "tools/kdstool/common.h"

#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "engine/dbf/dbf_storage.h"
#include "rtl/edge.h"
#include "rtl/paths.h"

namespace kdstool {

std::string ToEngine(const std::string& utf8, const char* what) {
    std::optional<std::string> ansi = rtl::FromOperatorText(utf8);
    if (!ansi) throw Failure{rtl::RefusalText(what, utf8)};
    return *ansi;
}

std::string EnginePath(const std::string& utf8) {
    std::string ansi = ToEngine(utf8, "the file name");
    std::string unreachable = rtl::UnreachableBecause(ansi);
    if (!unreachable.empty()) throw Failure{unreachable};
    return ansi;
}

std::string Shown(const std::string& engineText) { return rtl::ToOperatorText(engineText); }

std::string LastError() {
    UNSIGNED32 code = 0;
    UNSIGNED8 buf[KCE_MAX_ERROR_LEN + 1];
    UNSIGNED16 len = sizeof buf;
    KdsGetLastError(&code, buf, &len);
    return Shown(std::string(reinterpret_cast<char*>(buf), len)) + " (" + std::to_string(code) +
           ")";
}

void Check(KCESTATUS status, const std::string& what) {
    if (status != 0) throw Failure{(what.empty() ? "" : what + ": ") + LastError()};
}

Handles::~Handles() {
    if (statement) KdsCloseSQLStatement(statement);
    if (table) KdsCloseTable(table);
    if (connection) KdsDisconnect(connection);
}

Table::Table(const std::string& path, UNSIGNED32 options,
             const std::vector<std::string>& indexFiles)
    : path_(rtl::ResolvePath(EnginePath(path))) {
    const UNSIGNED16 type = TypeOf(path_);
    Check(KdsConnect(U(Folder(path_)), &handles_.connection));
    Check(KdsOpenTable(handles_.connection, U(FileName(path_)), nullptr, type, KCE_ANSI,
                       KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, options, &handles_.table));
    Load();
    std::vector<std::string> files;
    if (type == KCE_NTX) files = RememberedIndexFiles(path_);
    for (const std::string& file : indexFiles) files.push_back(rtl::ResolvePath(EnginePath(file)));
    for (const std::string& file : files) {
        UNSIGNED16 count = 0;
        Check(KdsOpenIndex(handles_.table, U(file), nullptr, &count), "index file " + Shown(file));
    }
}

Table::Table(const Args& args, UNSIGNED32 options)
    : Table(WithExtension(args.positional.at(0)), options, IndexFiles(args)) {}

Table::Table(const std::string& path, UNSIGNED16 type, const std::string& fields)
    : path_(rtl::ResolvePath(EnginePath(path))) {
    Check(KdsConnect(U(Folder(path_)), &handles_.connection));
    Check(KdsCreateTable(handles_.connection, U(FileName(path_)), type, KCE_ANSI, U(fields), 0,
                         &handles_.table));
    Load();
}

Table::Table(KDSHANDLE adopted) : path_("SQL result") {
    handles_.table = adopted;
    Load();
}

std::string Table::IndexListPath(const std::string& table) {
    size_t dot = table.rfind('.');
    size_t slash = table.find_last_of("/\\");
    std::string stem = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                           ? table
                           : table.substr(0, dot);
    return rtl::ResolvePath(stem + ".ntxlist");
}

std::vector<std::string> Table::RememberedIndexFiles(const std::string& table) {
    std::vector<std::string> files;
    std::ifstream list(rtl::OsPath(IndexListPath(table)));
    std::string line;
    while (std::getline(list, line)) {
        size_t end = line.find_last_not_of(" \t\r");
        if (end == std::string::npos) continue;
        line.resize(end + 1);
        // The list is a file on disk: its names are UTF-8.
        files.push_back(rtl::ResolvePath(Folder(table) + "/" + EnginePath(line)));
    }
    return files;
}

const Table::Field* Table::Find(const std::string& name) const {
    for (const Field& f : fields_) {
        if (strcasecmp(f.name.c_str(), name.c_str()) == 0) return &f;
    }
    return nullptr;
}

std::string Table::Folder(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string Table::FileName(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Table::Ext(const std::string& path) {
    std::string name = FileName(path);
    size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

UNSIGNED16 Table::TypeOf(const std::string& path) {
    if (Ext(path) != ".dbf") return KCE_KDT;
    return kce::dbf::TableTypeOfFile(path);
}

void Table::Load() {
    // The engine speaks the table's code page: a native table's is Windows-1252, a DBF table's
    // the one its header names.
    UNSIGNED16 type = 0, mark = 0;
    Check(KdsGetTableType(handles_.table, &type));
    if (type != KCE_KDT) Check(KdsGetCodePage(handles_.table, &mark));
    page_ = type == KCE_KDT ? &rtl::DefaultCodePage() : &rtl::CodePageOfDbfMark(uint8_t(mark));
    UNSIGNED16 n = 0;
    Check(KdsGetNumFields(handles_.table, &n));
    for (UNSIGNED16 i = 1; i <= n; ++i) {
        Field f;
        UNSIGNED8 name[260];
        UNSIGNED16 len = sizeof name;
        Check(KdsGetFieldName(handles_.table, i, name, &len));
        // Names are bytes of the table's code page, like its text.
        f.name = rtl::ToUtf8(*page_, std::string_view(reinterpret_cast<char*>(name), len));
        Check(KdsGetFieldType(handles_.table, KCE_FIELD_ORDINAL(i), &f.type));
        Check(KdsGetFieldLength(handles_.table, KCE_FIELD_ORDINAL(i), &f.length));
        Check(KdsGetFieldDecimals(handles_.table, KCE_FIELD_ORDINAL(i), &f.decimals));
        Check(KdsGetFieldOffset(handles_.table, KCE_FIELD_ORDINAL(i), &f.offset));
        fields_.push_back(f);
    }
}

bool IsText(UNSIGNED16 t) { return t == KCE_STRING || t == KCE_MEMO || t == KCE_VARCHAR; }
bool IsBytes(UNSIGNED16 t) { return t == KCE_BINARY || t == KCE_IMAGE || t == KCE_RAW; }
bool IsNumber(UNSIGNED16 t) {
    return t == KCE_NUMERIC || t == KCE_DOUBLE || t == KCE_CURDOUBLE || t == KCE_INTEGER ||
           t == KCE_SHORTINT || t == KCE_AUTOINC;
}

std::optional<std::string> Args::Option(const std::string& name) const {
    auto it = options.find(name);
    if (it == options.end()) return std::nullopt;
    return it->second;
}

Args ParseArgs(int argc, char** argv, int from, std::initializer_list<const char*> known,
               std::initializer_list<const char*> flags) {
    Args args;
    for (int i = from; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) == 0) {
            bool flag = false;
            for (const char* k : flags) flag = flag || a == k;
            if (flag) {
                args.options.emplace(a, "1");
                continue;
            }
            bool ok = false;
            for (const char* k : known) ok = ok || a == k;
            if (!ok) throw Failure{"unknown option " + a};
            if (i + 1 >= argc) throw Failure{"option " + a + " needs a value"};
            args.options.emplace(a, argv[++i]);
        } else {
            args.positional.push_back(a);
        }
    }
    return args;
}

std::string Password(const Args& args, const std::string& table, bool confirm) {
    if (auto given = args.Option("--password")) return *given;
    std::string line;
    if (auto file = args.Option("--password-file")) {
        std::ifstream in(*file, std::ios::binary);
        if (!in) throw Failure{"password file " + *file + " cannot be read"};
        std::getline(in, line);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) {
        if (!std::getline(std::cin, line)) throw Failure{"no password given for " + table};
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }
    auto ask = [&](const char* prompt) {
        std::fprintf(tty, "%s", prompt);
        std::fflush(tty);
        termios old{};
        bool quiet = tcgetattr(fileno(tty), &old) == 0;
        if (quiet) {
            termios silent = old;
            silent.c_lflag &= tcflag_t(~ECHO);
            tcsetattr(fileno(tty), TCSAFLUSH, &silent);
        }
        std::string answer;
        for (int c; (c = std::fgetc(tty)) != EOF && c != '\n';) answer += char(c);
        if (quiet) tcsetattr(fileno(tty), TCSAFLUSH, &old);
        std::fprintf(tty, "\n");
        return answer;
    };
    std::string first = ask(("Password of " + table + ": ").c_str());
    std::string again = confirm ? ask("The same again: ") : first;
    std::fclose(tty);
    if (first != again) throw Failure{"the two passwords differ"};
    return first;
}

bool WantsPassword(const Args& args) {
    return args.Option("--password") || args.Option("--password-file");
}

Args OneTableArgs(int argc, char** argv, const char* command) {
    Args args = ParseArgs(argc, argv, 2, {"--index-file"});
    if (args.positional.size() != 1) throw Failure{std::string(command) + " needs one table"};
    return args;
}

std::vector<std::string> IndexFiles(const Args& args) {
    std::vector<std::string> files;
    for (auto [it, end] = args.options.equal_range("--index-file"); it != end; ++it) {
        files.push_back(it->second);
    }
    return files;
}

std::string WithExtension(std::string path) {
    if (Table::Ext(path).empty()) path += ".kdt";
    return path;
}

}  // namespace kdstool
