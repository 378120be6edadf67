// kdstool create: a new table with its fields and indexes.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "engine/field_types.h"
#include "rtl/edge.h"
#include "rtl/paths.h"
#include "tools/kdstool/common.h"

namespace kdstool {

namespace {

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

}  // namespace

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

}  // namespace kdstool
