// kdstool: creates tables, moves their records in and out as JSON lines, shows their layout.
// Everything goes through the engine's C interface.
#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/field_types.h"
#include "engine/kce.h"
#include "rtl/codepages.h"
#include "rtl/edge.h"
#include "rtl/paths.h"
#include "tools/base64.h"
#include "tools/json.h"
#include "tools/kdstool_dict.h"

namespace {

using tools::JsonValue;

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

const UNSIGNED8* U(const std::string& s) { return reinterpret_cast<const UNSIGNED8*>(s.c_str()); }

// A failure that ends the command: one line on standard error, exit status 1. The message is
// UTF-8, as everything kdstool prints.
struct Failure {
    std::string message;
};

// The engine speaks the ANSI code page; kdstool, like the terminal and the files it reads, UTF-8.
// A file name given on the command line goes to the engine in that page (one the page cannot
// hold is refused, naming it); what the engine says comes back as UTF-8.
std::string EnginePath(const std::string& utf8) {
    std::optional<std::string> ansi = rtl::FromOperatorText(utf8);
    if (!ansi) throw Failure{rtl::RefusalText("the file name", utf8)};
    std::string unreachable = rtl::UnreachableBecause(*ansi);
    if (!unreachable.empty()) throw Failure{unreachable};
    return *ansi;
}
std::string Shown(const std::string& enginePath) { return rtl::ToOperatorText(enginePath); }

std::string EngineText() {
    UNSIGNED32 code = 0;
    UNSIGNED8 buf[KCE_MAX_ERROR_LEN + 1];
    UNSIGNED16 len = sizeof buf;
    KdsGetLastError(&code, buf, &len);
    return rtl::ToOperatorText(std::string(reinterpret_cast<char*>(buf), len)) + " (" +
           std::to_string(code) + ")";
}

void Check(KCESTATUS status, const std::string& what = {}) {
    if (status != 0) throw Failure{(what.empty() ? "" : what + ": ") + EngineText()};
}

// An open table and the connection to its folder. The path is found as the user typed it,
// from the working directory and without regard to letter case.
class Table {
  public:
    // indexFiles: index files the user named (--index-file), from the working directory; an NTX
    // table also opens the .ntx files that create made for it (see RememberedIndexFiles).
    Table(const std::string& path, UNSIGNED32 options,
          const std::vector<std::string>& indexFiles = {})
        : path_(rtl::ResolvePath(EnginePath(path))) {
        Check(KdsConnect(U(Folder(path_)), &conn_));
        Check(KdsOpenTable(conn_, U(FileName(path_)), nullptr, TypeOf(path_), KCE_ANSI,
                           KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, options, &handle_));
        Load();
        std::vector<std::string> files;
        if (TypeOf(path_) == KCE_NTX) files = RememberedIndexFiles(path_);
        for (const std::string& file : indexFiles)
            files.push_back(rtl::ResolvePath(EnginePath(file)));
        for (const std::string& file : files) {
            UNSIGNED16 count = 0;
            Check(KdsOpenIndex(handle_, U(file), nullptr, &count), "index file " + Shown(file));
        }
    }
    Table(const std::string& path, UNSIGNED16 type, const std::string& fields)
        : path_(rtl::ResolvePath(EnginePath(path))) {
        Check(KdsConnect(U(Folder(path_)), &conn_));
        Check(KdsCreateTable(conn_, U(FileName(path_)), type, KCE_ANSI, U(fields), 0, &handle_));
        Load();
    }
    // Adopts a table handle the engine gave out (an SQL result set), closing it when done.
    explicit Table(KDSHANDLE adopted) : path_("SQL result"), handle_(adopted) { Load(); }
    ~Table() {
        if (handle_) KdsCloseTable(handle_);
        if (conn_) KdsDisconnect(conn_);
    }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    KDSHANDLE Handle() const { return handle_; }
    KDSHANDLE Connection() const { return conn_; }
    const rtl::CodePage& Page() const { return *page_; }
    // The table file, resolved: absolute, in the letter case found on disk.
    const std::string& Path() const { return path_; }

    // An NTX table keeps no list of its indexes, and a folder often holds the .ntx files of many
    // tables. kdstool never guesses which belong to a table: create writes the names of the .ntx
    // files it made into TABLE.ntxlist beside the table (one file name a line, from the table's
    // folder), and every command opens those and the files named with --index-file, no others.
    static std::string IndexListPath(const std::string& table) {
        size_t dot = table.rfind('.');
        size_t slash = table.find_last_of("/\\");
        std::string stem = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                               ? table
                               : table.substr(0, dot);
        return rtl::ResolvePath(stem + ".ntxlist");
    }
    static std::vector<std::string> RememberedIndexFiles(const std::string& table) {
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

    struct Field {
        std::string name;
        UNSIGNED16 type;
        UNSIGNED32 length;
        UNSIGNED16 decimals;
        UNSIGNED32 offset;  // in the raw record image
    };
    const std::vector<Field>& Fields() const { return fields_; }
    const Field* Find(const std::string& name) const {
        for (const Field& f : fields_) {
            if (strcasecmp(f.name.c_str(), name.c_str()) == 0) return &f;
        }
        return nullptr;
    }

    static std::string Folder(const std::string& path) {
        size_t slash = path.find_last_of("/\\");
        if (slash == std::string::npos) return ".";
        return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
    }
    static std::string FileName(const std::string& path) {
        size_t slash = path.find_last_of("/\\");
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    static std::string Ext(const std::string& path) {
        std::string name = FileName(path);
        size_t dot = name.rfind('.');
        std::string ext = dot == std::string::npos ? "" : name.substr(dot);
        for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
        return ext;
    }
    // The table type of a file: .kdt native; a .dbf in the dBase layout (its first byte) is an
    // NTX table, any other .dbf (FoxPro layouts, or a file yet to be created) a CDX table.
    static UNSIGNED16 TypeOf(const std::string& path) {
        if (Ext(path) != ".dbf") return KCE_KDT;
        // Only a regular file is read: the engine refuses anything else at once, with its own
        // status, where a FIFO would make this read wait for ever.
        std::error_code error;
        if (!std::filesystem::is_regular_file(rtl::OsPath(path), error)) return KCE_CDX;
        std::ifstream file(rtl::OsPath(path), std::ios::binary);
        int version = file.get();
        switch (version) {
            case 0x03:
            case 0x04:
            case 0x05:
            case 0x83:
            case 0x8B:
            case 0x8E:
            case 0xCB:
                return KCE_NTX;
            default:
                return KCE_CDX;
        }
    }

  private:
    void Load() {
        // The engine speaks the table's code page: a native table's is Windows-1252, a DBF
        // table's the one its header names.
        UNSIGNED16 type = 0, mark = 0;
        Check(KdsGetTableType(handle_, &type));
        if (type != 3) Check(KdsGetCodePage(handle_, &mark));
        page_ = type == 3 ? &rtl::DefaultCodePage() : &rtl::CodePageOfDbfMark(uint8_t(mark));
        UNSIGNED16 n = 0;
        Check(KdsGetNumFields(handle_, &n));
        for (UNSIGNED16 i = 1; i <= n; ++i) {
            Field f;
            UNSIGNED8 name[260];
            UNSIGNED16 len = sizeof name;
            Check(KdsGetFieldName(handle_, i, name, &len));
            // Names are bytes of the table's code page, like its text.
            f.name = rtl::ToUtf8(*page_, std::string_view(reinterpret_cast<char*>(name), len));
            Check(KdsGetFieldType(handle_, KCE_FIELD_ORDINAL(i), &f.type));
            Check(KdsGetFieldLength(handle_, KCE_FIELD_ORDINAL(i), &f.length));
            Check(KdsGetFieldDecimals(handle_, KCE_FIELD_ORDINAL(i), &f.decimals));
            Check(KdsGetFieldOffset(handle_, KCE_FIELD_ORDINAL(i), &f.offset));
            fields_.push_back(f);
        }
    }

    std::string path_;
    KDSHANDLE conn_ = 0;
    KDSHANDLE handle_ = 0;
    std::vector<Field> fields_;
    const rtl::CodePage* page_ = nullptr;
};

bool IsText(UNSIGNED16 t) { return t == KCE_STRING || t == KCE_MEMO || t == KCE_VARCHAR; }
bool IsBytes(UNSIGNED16 t) { return t == KCE_BINARY || t == KCE_IMAGE || t == KCE_RAW; }
bool IsNumber(UNSIGNED16 t) {
    return t == KCE_NUMERIC || t == KCE_DOUBLE || t == KCE_CURDOUBLE || t == KCE_INTEGER ||
           t == KCE_SHORTINT || t == KCE_AUTOINC;
}

// Options after the positional arguments.
struct Args {
    std::vector<std::string> positional;
    std::multimap<std::string, std::string> options;
    std::optional<std::string> Option(const std::string& name) const {
        auto it = options.find(name);
        if (it == options.end()) return std::nullopt;
        return it->second;
    }
};

// A table's password: --password, else the first line of --password-file, else asked on the
// terminal without echo (twice when `confirm`), else one line of standard input.
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

// known: options that take a value; flags: options that stand alone (their value is "1").
Args ParseArgs(int argc, char** argv, int from, std::initializer_list<const char*> known,
               std::initializer_list<const char*> flags = {}) {
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

// The index files named with --index-file, in the order given.
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

// --index NAME=KEY[:unique][:descending]; the key itself may hold ':' (CTOT('10:30')).
struct IndexSpec {
    std::string name;
    std::string key;
    UNSIGNED32 options = 0;
};

IndexSpec ParseIndexSpec(const std::string& text) {
    IndexSpec spec;
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
        throw Failure{"--index '" + text + "': expected NAME=KEY[:unique][:descending]"};
    }
    spec.name = text.substr(0, eq);
    spec.key = text.substr(eq + 1);
    for (;;) {
        if (spec.key.size() > 7 && spec.key.compare(spec.key.size() - 7, 7, ":unique") == 0) {
            spec.options |= KCE_INDEX_UNIQUE;
            spec.key.resize(spec.key.size() - 7);
        } else if (spec.key.size() > 11 &&
                   spec.key.compare(spec.key.size() - 11, 11, ":descending") == 0) {
            spec.options |= KCE_INDEX_DESCENDING;
            spec.key.resize(spec.key.size() - 11);
        } else {
            break;
        }
    }
    return spec;
}

int Create(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {"--type", "--index"});
    if (args.positional.size() < 2) throw Failure{"create needs a table and at least one field"};
    std::string path = WithExtension(args.positional[0]);
    UNSIGNED16 type = Table::TypeOf(rtl::ResolvePath(EnginePath(path)));
    if (auto t = args.Option("--type")) {
        if (*t == "cdx")
            type = KCE_CDX;
        else if (*t == "ntx")
            type = KCE_NTX;
        else
            throw Failure{"--type takes cdx or ntx, not '" + *t + "'"};
        if (type != KCE_KDT && Table::Ext(path) != ".dbf") {
            throw Failure{"--type " + *t + " needs a .dbf table"};
        }
    }
    std::vector<IndexSpec> indexes;
    for (auto [it, end] = args.options.equal_range("--index"); it != end; ++it) {
        indexes.push_back(ParseIndexSpec(it->second));
    }
    std::string fields;
    for (size_t i = 1; i < args.positional.size(); ++i) {
        std::string spec = args.positional[i];
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            size_t colon = spec.find(':', start);
            parts.push_back(spec.substr(start, colon == std::string::npos ? colon : colon - start));
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
        if (parts.size() < 2 || parts.size() > 4 || parts[0].empty()) {
            throw Failure{"field '" + spec + "': expected NAME:TYPE[:LENGTH[:DECIMALS]]"};
        }
        for (const std::string& p : parts) {
            if (p.find_first_of(",;") != std::string::npos) {
                throw Failure{"field '" + spec + "': ',' and ';' are not allowed"};
            }
        }
        const kce::FieldType* known = kce::FindFieldTypeByName(parts[1]);
        if (!known || parts[1] != known->name)
            throw Failure{"field '" + parts[0] + "': unknown type '" + parts[1] + "'"};
        if ((parts[1] == "char" || parts[1] == "numeric" || parts[1] == "raw") &&
            parts.size() < 3) {
            throw Failure{"field '" + parts[0] + "': type " + parts[1] + " needs a length"};
        }
        if (!fields.empty()) fields += ';';
        fields += parts[0] + ',' + parts[1];
        for (size_t k = 2; k < parts.size(); ++k) fields += ',' + parts[k];
    }
    // A table whose indexes cannot all be made is not left behind.
    bool made = false;
    std::string resolved = rtl::ResolvePath(EnginePath(path));
    try {
        Table table(path, type, fields);
        made = true;
        std::string list;
        for (const IndexSpec& index : indexes) {
            KDSHANDLE handle = 0;
            Check(KdsCreateIndex(table.Handle(), nullptr, U(index.name), U(index.key), nullptr,
                                 index.options, &handle),
                  "index " + index.name);
            if (type == KCE_NTX) {
                UNSIGNED8 file[600];
                UNSIGNED16 len = sizeof file;
                Check(KdsGetIndexFilename(handle, 2, file, &len), "index " + index.name);
                list += Table::FileName(std::string(reinterpret_cast<char*>(file), len)) + "\n";
            }
        }
        // The list of an NTX table's .ntx files; one left by an earlier table of that name goes.
        std::string listPath = Table::IndexListPath(resolved);
        std::remove(rtl::OsPath(listPath).c_str());
        if (!list.empty()) {
            std::ofstream out(rtl::OsPath(listPath), std::ios::binary | std::ios::trunc);
            out << rtl::ToOperatorText(list);
            out.close();
            if (!out) throw Failure{"cannot write " + Shown(listPath)};
        }
    } catch (const Failure&) {
        if (made) {
            for (const char* suffix : {"", "-wal", "-shm"})
                std::remove(rtl::OsPath(resolved + suffix).c_str());
            if (type != KCE_KDT) {
                // The index files made beside the table go with it.
                std::string stem = resolved.substr(0, resolved.size() - 4);
                std::remove(rtl::OsPath(stem + ".cdx").c_str());
                std::remove(rtl::OsPath(stem + (type == KCE_CDX ? ".fpt" : ".dbt")).c_str());
                std::remove(rtl::OsPath(Table::IndexListPath(resolved)).c_str());
                for (const IndexSpec& index : indexes) {
                    std::string folder = resolved.substr(0, resolved.find_last_of('/') + 1);
                    std::remove(rtl::OsPath(folder + index.name + ".ntx").c_str());
                }
            }
        }
        throw;
    }
    return 0;
}

// The JSON number of a decimal text as a table file may spell it (".50", "5.", "+5", "007"):
// every digit kept, never through a double. nullopt when the text is not a number.
std::optional<std::string> JsonNumber(std::string_view t) {
    size_t i = 0;
    std::string out;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) {
        if (t[i] == '-') out += '-';
        ++i;
    }
    size_t intStart = i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    std::string_view whole = t.substr(intStart, i - intStart);
    std::string_view fraction;
    if (i < t.size() && t[i] == '.') {
        size_t fracStart = ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
        fraction = t.substr(fracStart, i - fracStart);
    }
    if (whole.empty() && fraction.empty()) return std::nullopt;
    std::string_view exponent;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t expStart = i++;
        if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
        size_t digits = i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
        if (i == digits) return std::nullopt;
        exponent = t.substr(expStart, i - expStart);
    }
    if (i != t.size()) return std::nullopt;
    while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
    out += whole.empty() ? std::string_view("0") : whole;
    if (!fraction.empty()) out += "." + std::string(fraction);
    out += exponent;
    return out;
}

// Whether text is "YYYY-MM-DD" naming a day.
bool IsIsoDate(std::string_view t) {
    if (t.size() != 10 || t[4] != '-' || t[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    }
    int year = std::stoi(std::string(t.substr(0, 4)));
    int month = std::stoi(std::string(t.substr(5, 2)));
    int day = std::stoi(std::string(t.substr(8, 2)));
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return !(month == 2 && day == 29 && !leap);
}

// Whether text is "HH:MM:SS.mmm" within the day.
bool IsTimeOfDay(std::string_view t) {
    if (t.size() != 12 || t[2] != ':' || t[5] != ':' || t[8] != '.') return false;
    for (size_t i : {0, 1, 3, 4, 6, 7, 9, 10, 11}) {
        if (!std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    }
    return (t[0] - '0') * 10 + (t[1] - '0') < 24 && t[3] < '6' && t[6] < '6';
}

uint32_t LoadU32(const UNSIGNED8* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A field value export could not read as its type: the bytes found in the record image.
struct Unreadable {
    std::string bytes;
};

// The bytes as a reader of the report can see them: printable ASCII as it is, the rest as \xNN.
std::string Visible(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// The JSON value of a field of the current record; image is the record's raw image. A value
// that is not of its type's form throws Unreadable.
std::string ValueJson(const Table& table, const Table::Field& f, UNSIGNED16 ordinal,
                      const std::vector<UNSIGNED8>& image) {
    KDSHANDLE t = table.Handle();
    UNSIGNED16 empty = 0;
    Check(KdsIsEmpty(t, KCE_FIELD_ORDINAL(ordinal), &empty), "field '" + f.name + "'");
    if (empty) return "null";
    std::vector<UNSIGNED8> buf(f.length + 64);
    UNSIGNED32 len = UNSIGNED32(buf.size());
    KCESTATUS s = KdsGetField(t, KCE_FIELD_ORDINAL(ordinal), buf.data(), &len, 0);
    if (s == KCE_INSUFFICIENT_BUFFER) {
        buf.resize(len + 1);
        len = UNSIGNED32(buf.size());
        s = KdsGetField(t, KCE_FIELD_ORDINAL(ordinal), buf.data(), &len, 0);
    }
    Check(s, "field '" + f.name + "'");
    std::string text(reinterpret_cast<char*>(buf.data()), len);
    const UNSIGNED8* raw = f.offset + f.length <= image.size() ? image.data() + f.offset : nullptr;
    auto unreadable = [&]() {
        return Unreadable{raw ? std::string(reinterpret_cast<const char*>(raw), f.length) : text};
    };
    std::string out;
    if (IsText(f.type)) {
        tools::AppendJsonString(out, rtl::ToUtf8(table.Page(), text));
    } else if (IsBytes(f.type)) {
        out = "{\"base64\": \"" + tools::Base64Encode(text) + "\"}";
    } else if (f.type == KCE_LOGICAL) {
        // The engine reads any byte it does not know as false; export says what it found.
        if (raw && !std::strchr("TtYyFfNn", raw[0])) throw unreadable();
        out = text == "T" ? "true" : "false";
    } else if (IsNumber(f.type)) {
        if (text == "inf") text = "1e999";
        if (text == "-inf") text = "-1e999";
        std::optional<std::string> number = JsonNumber(text);
        if (!number) throw unreadable();
        out = *number;
    } else if (f.type == KCE_TIME || f.type == KCE_TIMESTAMP) {
        // The milliseconds of the day lie in the last four bytes of both images.
        if (raw && LoadU32(raw + f.length - 4) >= 86400000u) throw unreadable();
        if (f.type == KCE_TIMESTAMP) {
            if (text.size() != 23 || !IsIsoDate(std::string_view(text).substr(0, 10)) ||
                text[10] != ' ' || !IsTimeOfDay(std::string_view(text).substr(11))) {
                throw unreadable();
            }
            text[10] = 'T';
        } else if (!IsTimeOfDay(text)) {
            throw unreadable();
        }
        tools::AppendJsonString(out, text);
    } else {
        if (!IsIsoDate(text)) throw unreadable();
        tools::AppendJsonString(out, text);
    }
    return out;
}

// Writes every record as a JSON line. A value that cannot be read as its field's type is
// written as {"invalid": BYTES} (a string, or {"base64": ...} for bytes that are not UTF-8) and
// reported on standard error with its record and field; the export then ends after that record
// with status 1, unless --keep-going asks it to write every record (status 0).
int Export(int argc, char** argv) {
    Args args =
        ParseArgs(argc, argv, 2, {"--index", "--password", "--password-file", "--index-file"},
                  {"--keep-going"});
    if (args.positional.size() != 1) throw Failure{"export needs one table"};
    const bool keepGoing = args.Option("--keep-going").has_value();
    Check(KdsSetDateFormat(U("ccyy-MM-dd")));
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_READ_ONLY, IndexFiles(args));
    KDSHANDLE t = table.Handle();
    if (WantsPassword(args)) {
        Check(KdsEnableEncryption(t, U(Password(args, path, false))), "password");
    }
    // With an index, the table handle's cursor moves in that index's order.
    KDSHANDLE order = t;
    if (auto index = args.Option("--index")) Check(KdsGetIndexHandle(t, U(*index), &order));
    UNSIGNED32 recordLength = 0;
    Check(KdsGetRecordLength(t, &recordLength));
    std::vector<UNSIGNED8> image(recordLength);
    Check(KdsGotoTop(order));
    std::string line;
    size_t unreadable = 0;
    for (;;) {
        UNSIGNED16 eof = 0;
        Check(KdsAtEOF(t, &eof));
        if (eof) break;
        UNSIGNED32 recno = 0;
        UNSIGNED16 deleted = 0;
        Check(KdsGetRecordNum(t, KCE_IGNORE_FILTERS, &recno));
        Check(KdsIsRecordDeleted(t, &deleted));
        UNSIGNED32 got = recordLength;
        Check(KdsGetRecord(t, image.data(), &got));
        line = "{\"_recno\": " + std::to_string(recno);
        size_t before = unreadable;
        for (size_t i = 0; i < table.Fields().size(); ++i) {
            const Table::Field& f = table.Fields()[i];
            line += ", ";
            tools::AppendJsonString(line, f.name);
            line += ": ";
            try {
                line += ValueJson(table, f, UNSIGNED16(i + 1), image);
            } catch (const Unreadable& u) {
                ++unreadable;
                line += "{\"invalid\": ";
                if (tools::IsValidUtf8(u.bytes)) {
                    tools::AppendJsonString(line, u.bytes);
                } else {
                    line += "{\"base64\": \"" + tools::Base64Encode(u.bytes) + "\"}";
                }
                line += "}";
                std::fprintf(stderr,
                             "kdstool: %s, record %u, field '%s': cannot read the bytes "
                             "'%s' as a %s value\n",
                             path.c_str(), unsigned(recno), f.name.c_str(),
                             Visible(u.bytes).c_str(), kce::FieldTypeName(f.type));
            }
        }
        if (deleted) line += ", \"_deleted\": true";
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        if (unreadable > before && !keepGoing) break;
        Check(KdsSkip(order, 1));
    }
    std::fflush(stdout);
    if (unreadable && !keepGoing) {
        throw Failure{
            "export stopped at a value it cannot read (--keep-going writes every record)"};
    }
    return 0;
}

// The text KdsSetField takes for a JSON value; nullopt for null. Throws on a value of the wrong
// kind for the field.
std::optional<std::string> FieldText(const Table& table, const Table::Field& f,
                                     const JsonValue& v) {
    auto wrong = [&](const char* expected) {
        return Failure{std::string("expected ") + expected + " for a " +
                       kce::FieldTypeName(f.type) + " field"};
    };
    if (v.kind == JsonValue::kNull) return std::nullopt;
    if (v.kind == JsonValue::kObject) {
        const JsonValue* b = v.Member("base64");
        if (!b || v.members.size() != 1 || b->kind != JsonValue::kString) {
            throw wrong("a value or {\"base64\": ...}");
        }
        if (!IsText(f.type) && !IsBytes(f.type)) throw wrong("no base64 value");
        auto bytes = tools::Base64Decode(b->text);
        if (!bytes) throw Failure{"the base64 text is not valid"};
        return *bytes;
    }
    if (IsBytes(f.type)) throw wrong("{\"base64\": ...}");
    if (IsText(f.type)) {
        if (v.kind != JsonValue::kString) throw wrong("a string");
        size_t bad = 0;
        std::optional<std::string> bytes = rtl::FromUtf8(table.Page(), v.text, &bad);
        if (!bytes) {
            size_t end = bad + 1;
            while (end < v.text.size() && (static_cast<unsigned char>(v.text[end]) & 0xC0) == 0x80)
                ++end;
            throw Failure{"code page " + std::to_string(table.Page().Number()) +
                          " cannot hold the character '" + v.text.substr(bad, end - bad) +
                          "' at byte " + std::to_string(bad + 1) + " of the text"};
        }
        return bytes;
    }
    if (IsNumber(f.type)) {
        if (v.kind != JsonValue::kNumber) throw wrong("a number");
        return v.text;
    }
    if (f.type == KCE_LOGICAL) {
        if (v.kind != JsonValue::kBool) throw wrong("true or false");
        return std::string(v.boolean ? "T" : "F");
    }
    if (v.kind != JsonValue::kString) throw wrong("a string");
    return v.text;
}

// A char or raw value longer than its field is refused, unless truncate asks to cut it; trailing
// blanks of a char value are cut either way (the field pads with them).
void FitToField(const Table::Field& f, bool truncate, std::string* text) {
    if ((f.type != KCE_STRING && f.type != KCE_RAW) || text->size() <= f.length) return;
    bool blanks =
        f.type == KCE_STRING && text->find_first_not_of(' ', f.length) == std::string::npos;
    if (!blanks && !truncate) {
        throw Failure{"the value is " + std::to_string(text->size()) +
                      " bytes long, the field holds " + std::to_string(f.length) +
                      " (--truncate cuts it)"};
    }
    text->resize(f.length);
}

int Import(int argc, char** argv) {
    Args args =
        ParseArgs(argc, argv, 2, {"--password", "--password-file", "--index-file"}, {"--truncate"});
    if (args.positional.size() != 2) throw Failure{"import needs a table and a file"};
    const bool truncate = args.Option("--truncate").has_value();
    std::string source = args.positional[1];
    std::ifstream file;
    std::istream* in = &std::cin;
    if (source != "-") {
        file.open(source, std::ios::binary);
        if (!file) throw Failure{"cannot read " + source};
        in = &file;
    }
    Check(KdsSetDateFormat(U("ccyy-MM-dd")));
    Table table(WithExtension(args.positional[0]), 0, IndexFiles(args));
    KDSHANDLE t = table.Handle();
    if (WantsPassword(args)) {
        Check(KdsEnableEncryption(t, U(Password(args, table.Path(), false))), "password");
    }

    // One transaction: the table holds every record of the file or, after an error or a crash,
    // none of them.
    Check(KdsBeginTransaction(table.Connection()));
    try {
        std::string line;
        size_t number = 0;
        while (std::getline(*in, line)) {
            ++number;
            std::string where = source + " line " + std::to_string(number);
            if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
            std::string error;
            auto value = tools::ParseJson(line, &error);
            if (!value) throw Failure{where + ": " + error};
            if (value->kind != JsonValue::kObject) throw Failure{where + ": not a JSON object"};
            bool deleted = false;
            Check(KdsAppendRecord(t), where);
            for (const auto& [key, v] : value->members) {
                if (key == "_recno") continue;
                if (key == "_deleted") {
                    if (v.kind != JsonValue::kBool)
                        throw Failure{where + ": _deleted takes true or false"};
                    deleted = v.boolean;
                    continue;
                }
                const Table::Field* f = table.Find(key);
                if (!f) throw Failure{where + ": the table has no field '" + key + "'"};
                UNSIGNED16 ordinal = UNSIGNED16(f - table.Fields().data() + 1);
                std::optional<std::string> text;
                try {
                    text = FieldText(table, *f, v);
                    if (text) FitToField(*f, truncate, &*text);
                } catch (const Failure& e) {
                    throw Failure{where + ", field '" + f->name + "': " + e.message};
                }
                KCESTATUS s = text ? KdsSetField(t, KCE_FIELD_ORDINAL(ordinal), U(*text),
                                                 UNSIGNED32(text->size()))
                                   : KdsSetEmpty(t, KCE_FIELD_ORDINAL(ordinal));
                Check(s, where + ", field '" + f->name + "'");
            }
            Check(KdsWriteRecord(t), where);
            if (deleted) Check(KdsDeleteRecord(t), where);
        }
        if (in->bad()) throw Failure{"cannot read " + source};
        Check(KdsCommitTransaction(table.Connection()));
    } catch (const Failure&) {
        KdsRollbackTransaction(table.Connection());
        throw;
    }
    return 0;
}

int Info(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {"--index-file"});
    if (args.positional.size() != 1) throw Failure{"info needs one table"};
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_READ_ONLY, IndexFiles(args));
    UNSIGNED16 type = 0;
    UNSIGNED32 count = 0;
    Check(KdsGetTableType(table.Handle(), &type));
    Check(KdsGetRecordCount(table.Handle(), KCE_IGNORE_FILTERS, &count));
    UNSIGNED16 encrypted = 0;
    Check(KdsIsTableEncrypted(table.Handle(), &encrypted));
    std::string out = std::string("{\"kind\": \"") +
                      (type == 3   ? "kdt"
                       : type == 2 ? "cdx"
                                   : "ntx") +
                      "\", \"records\": " + std::to_string(count) +
                      ", \"encrypted\": " + (encrypted ? "true" : "false") + ", \"fields\": [";
    for (size_t i = 0; i < table.Fields().size(); ++i) {
        const Table::Field& f = table.Fields()[i];
        out += i ? ", {\"name\": " : "{\"name\": ";
        tools::AppendJsonString(out, f.name);
        out += std::string(", \"type\": \"") + kce::FieldTypeName(f.type) +
               "\", \"length\": " + std::to_string(f.length) +
               ", \"decimals\": " + std::to_string(f.decimals) + "}";
    }
    out += "], \"indexes\": [";
    KDSHANDLE handles[50];
    UNSIGNED16 count16 = 50;
    Check(KdsGetAllIndexes(table.Handle(), handles, &count16));
    for (UNSIGNED16 i = 0; i < count16; ++i) {
        auto text = [&](auto call) {
            UNSIGNED8 buf[600];
            UNSIGNED16 len = sizeof buf;
            Check(call(buf, &len));
            return std::string(reinterpret_cast<char*>(buf), len);
        };
        KDSHANDLE h = handles[i];
        UNSIGNED16 unique = 0, descending = 0;
        Check(KdsIsIndexUnique(h, &unique));
        Check(KdsIsIndexDescending(h, &descending));
        out += i ? ", {\"name\": " : "{\"name\": ";
        // Index names and keys are text of the table's page, the file name one of the process.
        tools::AppendJsonString(out,
                                rtl::ToUtf8(table.Page(), text([&](UNSIGNED8* b, UNSIGNED16* l) {
                                                return KdsGetIndexName(h, b, l);
                                            })));
        out += ", \"key\": ";
        tools::AppendJsonString(out,
                                rtl::ToUtf8(table.Page(), text([&](UNSIGNED8* b, UNSIGNED16* l) {
                                                return KdsGetIndexExpr(h, b, l);
                                            })));
        out += std::string(", \"unique\": ") + (unique ? "true" : "false") +
               ", \"descending\": " + (descending ? "true" : "false") + ", \"file\": ";
        tools::AppendJsonString(out, Shown(text([&](UNSIGNED8* b, UNSIGNED16* l) {
                                    return KdsGetIndexFilename(h, 2, b, l);
                                })));
        out += "}";
    }
    out += "]";
    UNSIGNED16 codePage = 0;
    if (type != 3) {
        Check(KdsGetCodePage(table.Handle(), &codePage));
        out += ", \"code_page\": " + std::to_string(codePage);
    }
    out += "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

// Removes the records marked deleted (xBase tables) and the unused space of the memo file; the
// indexes of a native table are built again.
int Pack(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {"--index-file"});
    if (args.positional.size() != 1) throw Failure{"pack needs one table"};
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_EXCLUSIVE, IndexFiles(args));
    Check(KdsPackTable(table.Handle()));
    if (Table::TypeOf(table.Path()) == KCE_KDT) Check(KdsReindex(table.Handle()));
    return 0;
}

// Encrypts or decrypts a native table in place (the engine refuses a DBF table).
int ChangeEncryption(int argc, char** argv, bool encrypt) {
    Args args = ParseArgs(argc, argv, 2, {"--password", "--password-file"});
    const char* name = encrypt ? "encrypt" : "decrypt";
    if (args.positional.size() != 1) throw Failure{std::string(name) + " needs one table"};
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_EXCLUSIVE);
    std::string password = Password(args, path, encrypt);
    if (encrypt && password.empty()) throw Failure{"an empty password encrypts nothing"};
    Check(encrypt ? KdsEncryptTable(table.Handle(), U(password))
                  : KdsDecryptTable(table.Handle(), U(password)),
          std::string(name) + " " + path);
    return 0;
}

// Builds the indexes of a table again from its records (a .dbf table: those of its structural
// .cdx).
int Reindex(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {"--index-file"});
    if (args.positional.size() != 1) throw Failure{"reindex needs one table"};
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_EXCLUSIVE, IndexFiles(args));
    Check(KdsReindex(table.Handle()));
    return 0;
}

// The whole text of a report call (KdsCheckTableFile, KdsCheckIndexReport): asked again with
// room enough when it does not fit.
template <class Call>
std::string Report(Call call) {
    std::vector<UNSIGNED8> buf(65536);
    for (;;) {
        UNSIGNED32 len = UNSIGNED32(buf.size());
        KCESTATUS s = call(buf.data(), &len);
        if (s == KCE_INSUFFICIENT_BUFFER && len >= buf.size()) {
            buf.resize(size_t(len) + 1);
            continue;
        }
        Check(s);
        return std::string(reinterpret_cast<char*>(buf.data()), len);
    }
}

// Prints the problems found in the table file and its indexes, whole, one per line; exit status
// 1 while any fault remains. A warning (a line "warning: ...", such as a missing end marker,
// which every reader copes with) is printed and leaves the status 0. --repair sets right what
// can be (an xBase header count, the end-of-file marker, indexes that disagree with the records).
int CheckTable(int argc, char** argv) {
    bool repair = false;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (i >= 2 && std::strcmp(argv[i], "--repair") == 0) {
            repair = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    Args args = ParseArgs(int(rest.size()), rest.data(), 2, {"--index-file"});
    if (args.positional.size() != 1) throw Failure{"check needs one table"};
    Table table(WithExtension(args.positional[0]), repair ? KCE_OPEN_EXCLUSIVE : KCE_OPEN_READ_ONLY,
                IndexFiles(args));
    KDSHANDLE h = table.Handle();
    std::string text =
        Report([&](UNSIGNED8* buf, UNSIGNED32* len) { return KdsCheckTableFile(h, 0, buf, len); });
    std::string indexes =
        Report([&](UNSIGNED8* buf, UNSIGNED32* len) { return KdsCheckIndexReport(h, buf, len); });
    // The reports are the engine's text, as its messages are: shown as UTF-8 (a damaged field
    // name's stray bytes each as the character the page gives it).
    const std::string shown = Shown(text) + Shown(indexes);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    auto faults = [](const std::string& lines) {
        for (size_t at = 0; at < lines.size(); at = lines.find('\n', at) + 1) {
            if (lines.compare(at, 9, "warning: ") != 0) return true;
        }
        return false;
    };
    const bool tableFault = faults(text), indexFault = faults(indexes);
    const bool fault = tableFault || indexFault;
    if (!repair || (text.empty() && !indexFault)) return fault ? 1 : 0;
    if (!text.empty()) {
        UNSIGNED32 len = 0;
        Check(KdsCheckTableFile(h, 1, nullptr, &len));
    }
    if (indexFault) Check(KdsReindex(h));
    std::puts("repaired");
    return 0;
}

// Runs one SQL statement on the tables of a folder or of a dictionary. A query prints its rows as
// JSON lines, as export does (without record numbers); any other statement prints
// {"rows_affected": N}. A dictionary is logged into as --user, whose password comes as a table's
// does (--password, --password-file, the terminal, or a line of standard input).
// --param NAME=VALUE sets a parameter (":NAME" in the statement) to a text, which SQL compares
// and converts as it does any text. Statement and values are UTF-8 here and Windows-1252 in the
// engine; a character that page cannot hold is refused.
int Sql(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {"--param", "--user", "--password", "--password-file"});
    if (args.positional.size() != 2) throw Failure{"sql needs a folder and a statement"};
    std::optional<std::string> user = args.Option("--user");
    if (!user && WantsPassword(args)) throw Failure{"a password is given without --user"};
    Check(KdsSetDateFormat(U("ccyy-MM-dd")));
    const rtl::CodePage& page = rtl::DefaultCodePage();
    auto ansi = [&](const std::string& utf8, const std::string& what) {
        std::optional<std::string> bytes = rtl::FromUtf8(page, utf8);
        if (!bytes) throw Failure{what + " holds a character Windows-1252 cannot hold"};
        return *bytes;
    };
    std::string folder = rtl::ResolvePath(EnginePath(args.positional[0]));
    KDSHANDLE conn = 0, stmt = 0, cursor = 0;
    if (user) {
        std::string password = Password(args, "user " + *user, false);
        Check(KdsConnect60(U(folder), KCE_LOCAL_SERVER, U(ansi(*user, "the user name")),
                           U(ansi(password, "the password")), 0, &conn));
    } else {
        Check(KdsConnect(U(folder), &conn));
    }
    struct Closer {
        KDSHANDLE& conn;
        KDSHANDLE& stmt;
        ~Closer() {
            if (stmt) KdsCloseSQLStatement(stmt);
            if (conn) KdsDisconnect(conn);
        }
    } closer{conn, stmt};
    Check(KdsCreateSQLStatement(conn, &stmt));
    Check(KdsPrepareSQL(stmt, U(ansi(args.positional[1], "the statement"))));
    for (auto [it, end] = args.options.equal_range("--param"); it != end; ++it) {
        size_t eq = it->second.find('=');
        if (eq == std::string::npos || eq == 0) {
            throw Failure{"--param takes NAME=VALUE, not '" + it->second + "'"};
        }
        std::string name = it->second.substr(0, eq);
        std::string value = ansi(it->second.substr(eq + 1), "the value of " + name);
        Check(KdsSetString(stmt, U(ansi(name, "parameter " + name)), U(value),
                           UNSIGNED32(value.size())),
              "parameter " + name);
    }
    Check(KdsExecuteSQL(stmt, &cursor));
    if (!cursor) {
        UNSIGNED32 affected = 0;
        Check(KdsGetRecordCount(stmt, 2, &affected));
        std::printf("{\"rows_affected\": %u}\n", unsigned(affected));
        return 0;
    }
    Table table(cursor);
    UNSIGNED32 recordLength = 0;
    Check(KdsGetRecordLength(cursor, &recordLength));
    std::vector<UNSIGNED8> image(recordLength);
    std::string line;
    for (Check(KdsGotoTop(cursor));;) {
        UNSIGNED16 eof = 0;
        Check(KdsAtEOF(cursor, &eof));
        if (eof) break;
        UNSIGNED32 got = recordLength;
        Check(KdsGetRecord(cursor, image.data(), &got));
        line = "{";
        for (size_t i = 0; i < table.Fields().size(); ++i) {
            const Table::Field& f = table.Fields()[i];
            if (i) line += ", ";
            tools::AppendJsonString(line, f.name);
            line += ": ";
            try {
                line += ValueJson(table, f, UNSIGNED16(i + 1), image);
            } catch (const Unreadable& u) {
                throw Failure{"column '" + f.name + "': cannot read '" + Visible(u.bytes) + "'"};
            }
        }
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        Check(KdsSkip(cursor, 1));
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace

// One line on standard error; the exit status of a failed command.
int Report(std::string message) {
    for (char& c : message) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "kdstool: %s\n", message.c_str());
    return 1;
}

UNSIGNED16 kdstool::TableTypeOf(const std::string& path) { return Table::TypeOf(path); }
std::vector<std::string> kdstool::RememberedNtxFiles(const std::string& table) {
    return Table::RememberedIndexFiles(table);
}

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
        if (command == "dict") return kdstool::Dict(argc, argv);
        throw Failure{"unknown command '" + command + "' (kdstool --help lists the commands)"};
    } catch (const kdstool::DictFailure& f) {
        return Report(f.message);
    } catch (const Failure& f) {
        return Report(f.message);
    }
}
