// kdstool import: JSON lines into a table, in one transaction.
#include <fstream>
#include <iostream>
#include <optional>
#include <string>

#include "engine/field_types.h"
#include "rtl/codepages.h"
#include "tools/base64.h"
#include "tools/json.h"
#include "tools/kdstool/common.h"

namespace kdstool {

namespace {

using tools::JsonValue;

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

}  // namespace

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

}  // namespace kdstool
