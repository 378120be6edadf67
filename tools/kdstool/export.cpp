// kdstool export: every record of a table as a JSON line.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/field_types.h"
#include "tools/base64.h"
#include "tools/json.h"
#include "tools/kdstool/common.h"
#include "tools/kdstool/values.h"

namespace kdstool {

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

}  // namespace kdstool
