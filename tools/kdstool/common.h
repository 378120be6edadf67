// What kdstool's commands share: failures, the engine's text, the open table, the command-line
// options and the password of a table. Everything goes through the engine's C interface.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/kce.h"
#include "rtl/codepages.h"

namespace kdstool {

inline const UNSIGNED8* U(const std::string& s) {
    return reinterpret_cast<const UNSIGNED8*>(s.c_str());
}

// A failure that ends the command: one line on standard error, exit status 1. The message is
// UTF-8, as everything kdstool prints.
struct Failure {
    std::string message;
};

// The engine speaks the ANSI code page; kdstool, like the terminal and the files it reads, UTF-8.
// Text of the command line goes to the engine in that page (text the page cannot hold is refused,
// naming `what`); what the engine says comes back as UTF-8.
std::string ToEngine(const std::string& utf8, const char* what);
// A file name of the command line, as ToEngine, also refused when no file could be reached by it.
std::string EnginePath(const std::string& utf8);
std::string Shown(const std::string& engineText);

// The engine's last error: its text as UTF-8, then its code in parentheses.
std::string LastError();
// Throws a Failure for a status other than success, prefixed by what failed.
void Check(KCESTATUS status, const std::string& what = {});

// The engine handles of a command, given back when they go: a table or a statement, then the
// connection they stand on. 0 is none.
struct Handles {
    KDSHANDLE connection = 0;
    KDSHANDLE table = 0;
    KDSHANDLE statement = 0;
    Handles() = default;
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;
    ~Handles();
};

struct Args;

// An open table and the connection to its folder. The path is found as the user typed it,
// from the working directory and without regard to letter case.
class Table {
  public:
    // indexFiles: index files the user named (--index-file), from the working directory; an NTX
    // table also opens the .ntx files that create made for it (see RememberedIndexFiles).
    Table(const std::string& path, UNSIGNED32 options,
          const std::vector<std::string>& indexFiles = {});
    // The table that the arguments of OneTableArgs name, with its --index-file files.
    Table(const Args& args, UNSIGNED32 options);
    // Creates the table (type KCE_KDT, KCE_CDX or KCE_NTX) with the engine's field list.
    Table(const std::string& path, UNSIGNED16 type, const std::string& fields);
    // Adopts a table handle the engine gave out (an SQL result set), closing it when done.
    explicit Table(KDSHANDLE adopted);
    KDSHANDLE Handle() const { return handles_.table; }
    KDSHANDLE Connection() const { return handles_.connection; }
    const rtl::CodePage& Page() const { return *page_; }
    // The table file, resolved: absolute, in the letter case found on disk.
    const std::string& Path() const { return path_; }

    // An NTX table keeps no list of its indexes, and a folder often holds the .ntx files of many
    // tables. kdstool never guesses which belong to a table: create writes the names of the .ntx
    // files it made into TABLE.ntxlist beside the table (one file name a line, from the table's
    // folder), and every command opens those and the files named with --index-file, no others.
    static std::string IndexListPath(const std::string& table);
    static std::vector<std::string> RememberedIndexFiles(const std::string& table);

    struct Field {
        std::string name;
        UNSIGNED16 type;
        UNSIGNED32 length;
        UNSIGNED16 decimals;
        UNSIGNED32 offset;  // in the raw record image
    };
    const std::vector<Field>& Fields() const { return fields_; }
    const Field* Find(const std::string& name) const;

    static std::string Folder(const std::string& path);
    static std::string FileName(const std::string& path);
    // The extension of the file name, lower case with its dot ("" when there is none).
    static std::string Ext(const std::string& path);
    // The table type of a file: .kdt native; a .dbf as the engine takes its layout (a dBase
    // layout NTX, any other .dbf, or a file yet to be created, CDX).
    static UNSIGNED16 TypeOf(const std::string& path);

  private:
    void Load();

    std::string path_;
    Handles handles_;
    std::vector<Field> fields_;
    const rtl::CodePage* page_ = nullptr;
};

bool IsText(UNSIGNED16 t);
bool IsBytes(UNSIGNED16 t);
bool IsNumber(UNSIGNED16 t);

// Options after the positional arguments.
struct Args {
    std::vector<std::string> positional;
    std::multimap<std::string, std::string> options;
    std::optional<std::string> Option(const std::string& name) const;
};

// The arguments from argv[from] on. known: options that take a value; flags: options that stand
// alone (their value is "1").
Args ParseArgs(int argc, char** argv, int from, std::initializer_list<const char*> known,
               std::initializer_list<const char*> flags = {});

// A table's password: --password, else the first line of --password-file, else asked on the
// terminal without echo (twice when `confirm`), else one line of standard input.
std::string Password(const Args& args, const std::string& table, bool confirm);
bool WantsPassword(const Args& args);

// The arguments of a command on one table whose only option is --index-file (info, pack,
// reindex, check): refused unless they name exactly one table.
Args OneTableArgs(int argc, char** argv, const char* command);

// The index files named with --index-file, in the order given.
std::vector<std::string> IndexFiles(const Args& args);
// The table path with ".kdt" added when it has no extension.
std::string WithExtension(std::string path);

// The commands; each answers its exit status. argv[1] is the command's name.
int Create(int argc, char** argv);
int Import(int argc, char** argv);
int Export(int argc, char** argv);
int Info(int argc, char** argv);
int Pack(int argc, char** argv);
int Reindex(int argc, char** argv);
int CheckTable(int argc, char** argv);
int ChangeEncryption(int argc, char** argv, bool encrypt);
int Sql(int argc, char** argv);
// kdstool dict SUBCOMMAND ...; argv[2] is the subcommand.
int Dict(int argc, char** argv);

}  // namespace kdstool
