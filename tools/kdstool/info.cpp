// kdstool info: a table's layout, indexes and kind as one JSON object.
#include <cstdio>
#include <string>

#include "engine/field_types.h"
#include "rtl/codepages.h"
#include "tools/json.h"
#include "tools/kdstool/common.h"

namespace kdstool {

int Info(int argc, char** argv) {
    Table table(OneTableArgs(argc, argv, "info"), KCE_OPEN_READ_ONLY);
    UNSIGNED16 type = 0;
    UNSIGNED32 count = 0;
    Check(KdsGetTableType(table.Handle(), &type));
    Check(KdsGetRecordCount(table.Handle(), KCE_IGNORE_FILTERS, &count));
    UNSIGNED16 encrypted = 0;
    Check(KdsIsTableEncrypted(table.Handle(), &encrypted));
    std::string out = std::string("{\"kind\": \"") +
                      (type == KCE_KDT   ? "kdt"
                       : type == KCE_CDX ? "cdx"
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
    if (type != KCE_KDT) {
        Check(KdsGetCodePage(table.Handle(), &codePage));
        out += ", \"code_page\": " + std::to_string(codePage);
    }
    out += "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

}  // namespace kdstool
