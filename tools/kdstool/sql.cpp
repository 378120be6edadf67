// kdstool sql: one SQL statement on the tables of a folder or of a dictionary.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "rtl/codepages.h"
#include "rtl/paths.h"
#include "tools/json.h"
#include "tools/kdstool/common.h"
#include "tools/kdstool/values.h"

namespace kdstool {

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
    Handles open;
    KDSHANDLE& conn = open.connection;
    KDSHANDLE& stmt = open.statement;
    KDSHANDLE cursor = 0;
    if (user) {
        std::string password = Password(args, "user " + *user, false);
        Check(KdsConnect60(U(folder), KCE_LOCAL_SERVER, U(ansi(*user, "the user name")),
                           U(ansi(password, "the password")), 0, &conn));
    } else {
        Check(KdsConnect(U(folder), &conn));
    }
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

}  // namespace kdstool
