// kdstool: creates tables, moves their records in and out as JSON lines, shows their layout.
// Everything goes through the engine's C interface.
#include <strings.h>

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

#include "engine/kce.h"
#include "tools/base64.h"
#include "tools/json.h"

namespace {

using tools::JsonValue;

const char kVersion[] = "kdstool 0.1.0";
const char kUsage[] =
    "usage:\n"
    "  kdstool create TABLE FIELD... [--type cdx|ntx] [--index NAME=KEY[:unique][:descending]]...\n"
    "  kdstool import TABLE FILE [--password P]     (FILE '-' reads standard input)\n"
    "  kdstool export TABLE [--index NAME] [--password P]\n"
    "  kdstool info TABLE\n"
    "  kdstool pack TABLE | reindex TABLE\n"
    "  kdstool check TABLE [--repair]\n"
    "  kdstool --help | --version\n"
    "FIELD is NAME:TYPE[:LENGTH[:DECIMALS]]; TYPE is one of logical, numeric, date, char, memo,\n"
    "binary, image, varchar, compactdate, double, integer, shortint, time, timestamp, autoinc,\n"
    "raw, money. TABLE without an extension means .kdt.\n";

const UNSIGNED8* U(const std::string& s) { return reinterpret_cast<const UNSIGNED8*>(s.c_str()); }

// A failure that ends the command: one line on standard error, exit status 1.
struct Failure {
    std::string message;
};

std::string EngineText() {
    UNSIGNED32 code = 0;
    UNSIGNED8 buf[KCE_MAX_ERROR_LEN + 1];
    UNSIGNED16 len = sizeof buf;
    KdsGetLastError(&code, buf, &len);
    return std::string(reinterpret_cast<char*>(buf), len) + " (" + std::to_string(code) + ")";
}

void Check(KCESTATUS status, const std::string& what = {}) {
    if (status != 0) throw Failure{(what.empty() ? "" : what + ": ") + EngineText()};
}

// An open table and the connection to its folder.
class Table {
  public:
    Table(const std::string& path, UNSIGNED32 options) {
        Check(KdsConnect(U(Folder(path)), &conn_));
        Check(KdsOpenTable(conn_, U(FileName(path)), nullptr, TypeOf(path), 1, 1, 1, options,
                           &handle_));
        Load();
        if (TypeOf(path) == 1) OpenNtxFiles(path);
    }
    Table(const std::string& path, UNSIGNED16 type, const std::string& fields) {
        Check(KdsConnect(U(Folder(path)), &conn_));
        Check(KdsCreateTable(conn_, U(FileName(path)), type, 1, U(fields), 0, &handle_));
        Load();
    }
    ~Table() {
        if (handle_) KdsCloseTable(handle_);
        if (conn_) KdsDisconnect(conn_);
    }
    KDSHANDLE Handle() const { return handle_; }

    // An NTX table keeps no list of its indexes: every .ntx file beside it whose key fits its
    // fields is one of them, and is kept up to date while the command runs. A file whose key
    // names fields the table lacks belongs to another table; a damaged one stops the command.
    void OpenNtxFiles(const std::string& path) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(Folder(path), ec)) {
            std::string name = e.path().filename().string();
            if (Ext(name) != ".ntx") continue;
            UNSIGNED16 count = 0;
            KCESTATUS s = KdsOpenIndex(handle_, U(e.path().string()), nullptr, &count);
            if (s == KCE_INDEX_MISMATCH) continue;
            Check(s, "index file " + name);
        }
    }

    struct Field {
        std::string name;
        UNSIGNED16 type;
        UNSIGNED32 length;
        UNSIGNED16 decimals;
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
        if (Ext(path) != ".dbf") return 3;
        std::ifstream file(path, std::ios::binary);
        int version = file.get();
        switch (version) {
            case 0x03:
            case 0x04:
            case 0x05:
            case 0x83:
            case 0x8B:
            case 0x8E:
            case 0xCB:
                return 1;
            default:
                return 2;
        }
    }

  private:
    void Load() {
        UNSIGNED16 n = 0;
        Check(KdsGetNumFields(handle_, &n));
        for (UNSIGNED16 i = 1; i <= n; ++i) {
            Field f;
            UNSIGNED8 name[260];
            UNSIGNED16 len = sizeof name;
            Check(KdsGetFieldName(handle_, i, name, &len));
            f.name.assign(reinterpret_cast<char*>(name), len);
            Check(KdsGetFieldType(handle_, KCE_FIELD_ORDINAL(i), &f.type));
            Check(KdsGetFieldLength(handle_, KCE_FIELD_ORDINAL(i), &f.length));
            Check(KdsGetFieldDecimals(handle_, KCE_FIELD_ORDINAL(i), &f.decimals));
            fields_.push_back(f);
        }
    }

    KDSHANDLE conn_ = 0;
    KDSHANDLE handle_ = 0;
    std::vector<Field> fields_;
};

const char* const kTypeNames[] = {"",        "logical", "numeric",  "date",    "char",
                                  "memo",    "binary",  "image",    "varchar", "compactdate",
                                  "double",  "integer", "shortint", "time",    "timestamp",
                                  "autoinc", "raw",     "money"};

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

Args ParseArgs(int argc, char** argv, int from, std::initializer_list<const char*> known) {
    Args args;
    for (int i = from; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) == 0) {
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
    UNSIGNED16 type = Table::TypeOf(path);
    if (auto t = args.Option("--type")) {
        if (*t == "cdx")
            type = 2;
        else if (*t == "ntx")
            type = 1;
        else
            throw Failure{"--type takes cdx or ntx, not '" + *t + "'"};
        if (type != 3 && Table::Ext(path) != ".dbf") {
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
        bool known = false;
        for (const char* name : kTypeNames) known = known || (*name && parts[1] == name);
        if (!known) throw Failure{"field '" + parts[0] + "': unknown type '" + parts[1] + "'"};
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
    try {
        Table table(path, type, fields);
        made = true;
        for (const IndexSpec& index : indexes) {
            KDSHANDLE handle = 0;
            Check(KdsCreateIndex(table.Handle(), nullptr, U(index.name), U(index.key), nullptr,
                                 index.options, &handle),
                  "index " + index.name);
        }
    } catch (const Failure&) {
        if (made) {
            for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
            if (type != 3) {
                // The index files made beside the table go with it.
                std::string stem = path.substr(0, path.size() - 4);
                std::remove((stem + ".cdx").c_str());
                std::remove((stem + (type == 2 ? ".fpt" : ".dbt")).c_str());
                for (const IndexSpec& index : indexes) {
                    std::string folder = path.substr(0, path.find_last_of('/') + 1);
                    std::remove((folder + index.name + ".ntx").c_str());
                }
            }
        }
        throw;
    }
    return 0;
}

std::string ValueJson(const Table& table, const Table::Field& f, UNSIGNED16 ordinal) {
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
    std::string out;
    if (IsText(f.type)) {
        if (tools::IsValidUtf8(text)) {
            tools::AppendJsonString(out, text);
        } else {
            out = "{\"base64\": \"" + tools::Base64Encode(text) + "\"}";
        }
    } else if (IsBytes(f.type)) {
        out = "{\"base64\": \"" + tools::Base64Encode(text) + "\"}";
    } else if (f.type == KCE_LOGICAL) {
        out = text == "T" ? "true" : "false";
    } else if (IsNumber(f.type)) {
        if (text == "inf") text = "1e999";
        if (text == "-inf") text = "-1e999";
        out = text;
    } else {
        if (f.type == KCE_TIMESTAMP && text.size() > 10) text[10] = 'T';
        tools::AppendJsonString(out, text);
    }
    return out;
}

int Export(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {"--index", "--password"});
    if (args.positional.size() != 1) throw Failure{"export needs one table"};
    Check(KdsSetDateFormat(U("ccyy-MM-dd")));
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_READ_ONLY);
    KDSHANDLE t = table.Handle();
    if (auto password = args.Option("--password")) Check(KdsEnableEncryption(t, U(*password)));
    // With an index, the table handle's cursor moves in that index's order.
    KDSHANDLE order = t;
    if (auto index = args.Option("--index")) Check(KdsGetIndexHandle(t, U(*index), &order));
    Check(KdsGotoTop(order));
    std::string line;
    for (;;) {
        UNSIGNED16 eof = 0;
        Check(KdsAtEOF(t, &eof));
        if (eof) break;
        UNSIGNED32 recno = 0;
        UNSIGNED16 deleted = 0;
        Check(KdsGetRecordNum(t, KCE_IGNORE_FILTERS, &recno));
        Check(KdsIsRecordDeleted(t, &deleted));
        line = "{\"_recno\": " + std::to_string(recno);
        for (size_t i = 0; i < table.Fields().size(); ++i) {
            const Table::Field& f = table.Fields()[i];
            line += ", ";
            tools::AppendJsonString(line, f.name);
            line += ": " + ValueJson(table, f, UNSIGNED16(i + 1));
        }
        if (deleted) line += ", \"_deleted\": true";
        line += "}\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        Check(KdsSkip(order, 1));
    }
    std::fflush(stdout);
    return 0;
}

// The text KdsSetField takes for a JSON value; nullopt for null. Throws on a value of the wrong
// kind for the field.
std::optional<std::string> FieldText(const Table::Field& f, const JsonValue& v) {
    auto wrong = [&](const char* expected) {
        return Failure{std::string("expected ") + expected + " for a " + kTypeNames[f.type] +
                       " field"};
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
        return v.text;
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

int Import(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {"--password"});
    if (args.positional.size() != 2) throw Failure{"import needs a table and a file"};
    std::string source = args.positional[1];
    std::ifstream file;
    std::istream* in = &std::cin;
    if (source != "-") {
        file.open(source, std::ios::binary);
        if (!file) throw Failure{"cannot read " + source};
        in = &file;
    }
    Check(KdsSetDateFormat(U("ccyy-MM-dd")));
    Table table(WithExtension(args.positional[0]), 0);
    KDSHANDLE t = table.Handle();
    if (auto password = args.Option("--password")) Check(KdsEnableEncryption(t, U(*password)));

    // First pass: read every line and try its values on a pending record that is never written,
    // so that a bad line stops the import before the table changes.
    struct Row {
        std::vector<std::pair<UNSIGNED16, std::optional<std::string>>> values;
        bool deleted = false;
        std::string where;  // FILE line N
    };
    std::vector<Row> rows;
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
        Row row;
        row.where = where;
        Check(KdsAppendRecord(t), where);
        for (const auto& [key, v] : value->members) {
            if (key == "_recno") continue;
            if (key == "_deleted") {
                if (v.kind != JsonValue::kBool)
                    throw Failure{where + ": _deleted takes true or false"};
                row.deleted = v.boolean;
                continue;
            }
            const Table::Field* f = table.Find(key);
            if (!f) throw Failure{where + ": the table has no field '" + key + "'"};
            UNSIGNED16 ordinal = UNSIGNED16(f - table.Fields().data() + 1);
            std::optional<std::string> text;
            try {
                text = FieldText(*f, v);
            } catch (const Failure& e) {
                throw Failure{where + ", field '" + f->name + "': " + e.message};
            }
            KCESTATUS s = text ? KdsSetField(t, KCE_FIELD_ORDINAL(ordinal), U(*text),
                                             UNSIGNED32(text->size()))
                               : KdsSetEmpty(t, KCE_FIELD_ORDINAL(ordinal));
            Check(s, where + ", field '" + f->name + "'");
            row.values.emplace_back(ordinal, std::move(text));
        }
        Check(KdsCancelUpdate(t), where);
        rows.push_back(std::move(row));
    }
    // Second pass: write. Should a write still fail, the records written so far are removed.
    std::vector<UNSIGNED32> written;
    try {
        for (size_t i = 0; i < rows.size(); ++i) {
            Check(KdsAppendRecord(t));
            for (const auto& [ordinal, text] : rows[i].values) {
                Check(text ? KdsSetField(t, KCE_FIELD_ORDINAL(ordinal), U(*text),
                                         UNSIGNED32(text->size()))
                           : KdsSetEmpty(t, KCE_FIELD_ORDINAL(ordinal)));
            }
            Check(KdsWriteRecord(t), rows[i].where);
            UNSIGNED32 recno = 0;
            Check(KdsGetRecordNum(t, KCE_IGNORE_FILTERS, &recno));
            written.push_back(recno);
            if (rows[i].deleted) Check(KdsDeleteRecord(t));
        }
    } catch (const Failure&) {
        KdsCancelUpdate(t);
        for (UNSIGNED32 recno : written) {
            if (KdsGotoRecord(t, recno) == 0) KdsDeleteRecord(t);
        }
        throw;
    }
    return 0;
}

int Info(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {});
    if (args.positional.size() != 1) throw Failure{"info needs one table"};
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_READ_ONLY);
    UNSIGNED16 type = 0;
    UNSIGNED32 count = 0;
    Check(KdsGetTableType(table.Handle(), &type));
    Check(KdsGetRecordCount(table.Handle(), KCE_IGNORE_FILTERS, &count));
    std::string out = std::string("{\"kind\": \"") +
                      (type == 3   ? "kdt"
                       : type == 2 ? "cdx"
                                   : "ntx") +
                      "\", \"records\": " + std::to_string(count) +
                      ", \"encrypted\": false, \"fields\": [";
    for (size_t i = 0; i < table.Fields().size(); ++i) {
        const Table::Field& f = table.Fields()[i];
        out += i ? ", {\"name\": " : "{\"name\": ";
        tools::AppendJsonString(out, f.name);
        out += std::string(", \"type\": \"") + kTypeNames[f.type] +
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
        tools::AppendJsonString(
            out, text([&](UNSIGNED8* b, UNSIGNED16* l) { return KdsGetIndexName(h, b, l); }));
        out += ", \"key\": ";
        tools::AppendJsonString(
            out, text([&](UNSIGNED8* b, UNSIGNED16* l) { return KdsGetIndexExpr(h, b, l); }));
        out += std::string(", \"unique\": ") + (unique ? "true" : "false") +
               ", \"descending\": " + (descending ? "true" : "false") + ", \"file\": ";
        tools::AppendJsonString(out, text([&](UNSIGNED8* b, UNSIGNED16* l) {
                                    return KdsGetIndexFilename(h, 2, b, l);
                                }));
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
    Args args = ParseArgs(argc, argv, 2, {});
    if (args.positional.size() != 1) throw Failure{"pack needs one table"};
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_EXCLUSIVE);
    Check(KdsPackTable(table.Handle()));
    if (Table::TypeOf(path) == 3) Check(KdsReindex(table.Handle()));
    return 0;
}

// Builds the indexes of a table again from its records (a .dbf table: those of its structural
// .cdx).
int Reindex(int argc, char** argv) {
    Args args = ParseArgs(argc, argv, 2, {});
    if (args.positional.size() != 1) throw Failure{"reindex needs one table"};
    std::string path = WithExtension(args.positional[0]);
    Table table(path, KCE_OPEN_EXCLUSIVE);
    Check(KdsReindex(table.Handle()));
    return 0;
}

// Prints the problems found in the table file and its indexes, one per line; exit status 1 while
// any remain. --repair sets right what can be (an xBase header count, the end-of-file marker,
// native indexes that disagree with the records).
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
    Args args = ParseArgs(int(rest.size()), rest.data(), 2, {});
    if (args.positional.size() != 1) throw Failure{"check needs one table"};
    Table table(WithExtension(args.positional[0]),
                repair ? KCE_OPEN_EXCLUSIVE : KCE_OPEN_READ_ONLY);
    std::vector<UNSIGNED8> report(65536);
    UNSIGNED32 len = UNSIGNED32(report.size());
    Check(KdsCheckTableFile(table.Handle(), repair ? 1 : 0, report.data(), &len));
    std::string text(reinterpret_cast<char*>(report.data()), len);
    KCESTATUS s = KdsCheckIndexes(table.Handle());
    if (s == KCE_INDEX_MISMATCH) {
        // The engine's text names the table on its first line, then one problem a line.
        std::string problems = EngineText();
        size_t first = problems.find('\n');
        problems = first == std::string::npos ? problems : problems.substr(first + 1);
        size_t code = problems.rfind(" (");
        if (code != std::string::npos) problems.resize(code);
        text += problems + "\n";
        if (repair) Check(KdsReindex(table.Handle()));
    } else {
        Check(s);
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (text.empty()) return 0;
    if (!repair) return 1;
    std::puts("repaired");
    return 0;
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
        if (command == "create") return Create(argc, argv);
        if (command == "import") return Import(argc, argv);
        if (command == "export") return Export(argc, argv);
        if (command == "info") return Info(argc, argv);
        if (command == "pack") return Pack(argc, argv);
        if (command == "reindex") return Reindex(argc, argv);
        if (command == "check") return CheckTable(argc, argv);
        if (command == "encrypt" || command == "decrypt" || command == "dict" || command == "sql") {
            throw Failure{"the command '" + command + "' is not available yet"};
        }
        throw Failure{"unknown command '" + command + "' (kdstool --help lists the commands)"};
    } catch (const Failure& f) {
        std::string message = f.message;
        for (char& c : message) {
            if (c == '\n' || c == '\r') c = ' ';
        }
        std::fprintf(stderr, "kdstool: %s\n", message.c_str());
        return 1;
    }
}
