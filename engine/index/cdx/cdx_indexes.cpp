// The CDX side of a table's indexes (TableIndexes, table_indexes.h): the structural .cdx of a
// CDX table and its mark in the table header, the tags of a .cdx opened as indexes, and a new
// tag built from the records.
#include <filesystem>

#include "engine/dbf/dbf_storage.h"
#include "engine/dbf/dbf_table.h"
#include "engine/index/table_indexes.h"
#include "engine/index/xbase_store.h"
#include "engine/status.h"
#include "engine/text.h"
#include "rtl/edge.h"

namespace kce {

// Other programs open a table's structural .cdx when its header says there is one (byte 28,
// bit 0x01, in the FoxPro layouts; other layouts keep no such mark).
namespace {
bool HasStructuralMark(uint8_t version) {
    return version == 0x30 || version == 0x31 || version == 0x32 || version == 0xF5;
}

// Whether a tag's keys are in a collation other than the machine's: weights, not the text.
bool OtherCollation(const cdx::TagInfo& tag) {
    return !tag.header.collation.empty() && !SameText(tag.header.collation, "MACHINE");
}

IndexDefinition DefinitionOfTag(const cdx::TagInfo& tag) {
    IndexDefinition def;
    def.name = tag.name;
    def.key = tag.header.keyExpr;
    def.condition = tag.header.forExpr;
    def.unique = tag.header.options & cdx::kOptUnique;
    def.descending = tag.header.descending;
    return def;
}
}  // namespace

std::string TableIndexes::StructuralPath() const {
    const std::string& table = storage_.Path();
    size_t slash = table.find_last_of('/');
    size_t dot = table.find_last_of('.');
    std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                           ? table.substr(0, dot)
                           : table;
    // Another writer may have spelt the extension in capitals.
    for (const char* ext : {".cdx", ".CDX", ".Cdx"}) {
        if (std::filesystem::exists(rtl::OsPath(stem + ext))) return stem + ext;
    }
    return stem + ".cdx";
}

KCESTATUS TableIndexes::MarkStructural(bool on) {
    dbf::RawFile table;
    if (KCESTATUS s = table.Open(storage_.Path(), false)) return s;
    uint8_t version = 0, flags = 0;
    if (KCESTATUS s = table.ReadExact(0, &version, 1, "table version")) return s;
    if (!HasStructuralMark(version)) return KCE_SUCCESS;
    if (KCESTATUS s = table.ReadExact(28, &flags, 1, "table flags")) return s;
    if (bool(flags & 0x01) == on) return KCE_SUCCESS;
    flags = uint8_t(on ? flags | 0x01 : flags & ~0x01);
    return table.WriteAt(28, &flags, 1);
}

KCESTATUS TableIndexes::StructuralMark(bool* marked) {
    *marked = false;
    dbf::RawFile table;
    if (KCESTATUS s = table.Open(storage_.Path(), true)) return s;
    uint8_t head[29] = {};
    if (KCESTATUS s = table.ReadExact(0, head, sizeof head, "table header")) return s;
    *marked = HasStructuralMark(head[0]) && (head[28] & 0x01);
    return KCE_SUCCESS;
}

// The structural .cdx of a table opened in spite of it (For): the tags its directory names are
// built again from the records into a new file, which then replaces it. A missing file, or one
// whose directory names no tag, leaves the table without one (and its header says so). A file
// whose directory cannot be read gives nothing to build from and stays as it is.
KCESTATUS TableIndexes::RebuildStructural() {
    const std::string path = StructuralPath();
    std::vector<IndexDefinition> defs;
    if (std::filesystem::exists(rtl::OsPath(path))) {
        std::unique_ptr<cdx::CdxFile> old;
        if (KCESTATUS s = cdx::CdxFile::Open(path, true, &old)) {
            return Fail(s, "index file " + path +
                               " cannot be built again, as its tag directory cannot be read (" +
                               LastFailureDetail() +
                               "); remove it and create the table's indexes again");
        }
        for (const cdx::TagInfo& tag : old->Tags()) {
            if (OtherCollation(tag)) {
                // Built here it would come out in another order under the same name.
                return Fail(KCE_NOT_SUPPORTED,
                            "index file " + path + " is not built again, and is left as it is: " +
                                "its tag " + tag.name + " is in collation " + tag.header.collation +
                                ", which is not implemented");
            }
            defs.push_back(DefinitionOfTag(tag));
        }
    }
    const std::string fresh = path + ".new";
    std::error_code ec;
    std::filesystem::remove(rtl::OsPath(fresh), ec);
    if (!defs.empty()) {
        std::unique_ptr<cdx::CdxFile> created;
        if (KCESTATUS s = cdx::CdxFile::Create(fresh, true, &created)) return s;
        std::shared_ptr<cdx::CdxFile> file = std::move(created);
        for (const IndexDefinition& def : defs) {
            std::shared_ptr<NativeIndex> index;
            if (KCESTATUS s = AddTag(file, def, &index)) {
                std::string text = LastFailureDetail();
                file.reset();
                std::filesystem::remove(rtl::OsPath(fresh), ec);
                return Fail(s, "index file " + path + " not built again: " + text);
            }
        }
        if (KCESTATUS s = file->Sync()) return s;
    }
    // The new file goes in place of the old one in one step.
    if (defs.empty()) {
        std::filesystem::remove(rtl::OsPath(path), ec);
    } else {
        std::filesystem::rename(rtl::OsPath(fresh), rtl::OsPath(path), ec);
    }
    if (ec) return Fail(KCE_FILE_WRITE_FAILED, path + ": " + ec.message());
    if (KCESTATUS s = MarkStructural(!defs.empty())) return s;
    broken_ = KCE_SUCCESS;
    brokenText_.clear();
    structural_.reset();
    indexes_.clear();
    unusable_.clear();
    return LoadXbase();
}

KCESTATUS TableIndexes::OpenTags(const std::shared_ptr<cdx::CdxFile>& file,
                                 std::vector<std::shared_ptr<NativeIndex>>* out,
                                 std::vector<std::pair<std::string, std::string>>* unusable) {
    out->clear();
    unusable->clear();
    for (const cdx::TagInfo& tag : file->Tags()) {
        if (tag.header.descending) {
            // Where such a tag keeps its keys is not known: neither read nor kept up to date.
            return Fail(KCE_NOT_SUPPORTED, "index file " + file->Path() + ": tag " + tag.name +
                                               " is descending, and descending tags are not "
                                               "read");
        }
        if (OtherCollation(tag)) {
            // Keys in another collation are weights, not the text: read as plain bytes they
            // would be wrong, so the tag is named and left alone.
            unusable->emplace_back(tag.name, "tag " + tag.name + " of " + file->Path() +
                                                 " cannot be used: its collation " +
                                                 tag.header.collation + " is not implemented");
            continue;
        }
        IndexDefinition def = DefinitionOfTag(tag);
        KeyFileOptions options{KeyDialect::kCdx, tag.header.keyLength,
                               (tag.header.options & 0x02) != 0, 0};
        std::shared_ptr<NativeIndex> index;
        if (KCESTATUS s = CompileXbase(def, options, file->Path(), &index)) {
            if (s == KCE_EXPR_UNKNOWN_FUNCTION) {
                // The table stays readable; the tag can be neither used nor kept up to date,
                // so writes are refused while it is there.
                unusable->emplace_back(tag.name, "tag " + tag.name + " of " + file->Path() +
                                                     " cannot be used: " + LastFailureDetail());
                continue;
            }
            return Fail(KCE_INDEX_MISMATCH, "index file " + file->Path() + ": tag " + tag.name +
                                                " does not fit table " + storage_.Path() + ": " +
                                                LastFailureDetail());
        }
        cdx::Tree* tree = nullptr;
        uint8_t filler =
            cdx::FillerFor(index->key_->FirstType() == ValueType::kCharacter, tag.header.signature);
        if (KCESTATUS s = file->OpenTag(tag.name, filler, &tree)) return s;
        index->store_ = std::make_unique<CdxTagStore>(file, tag.name, tree);
        out->push_back(std::move(index));
    }
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::LoadXbase() {
    if (storage_.TableType() != KCE_CDX) return KCE_SUCCESS;
    if (structural_) {
        if (!structural_->ChangedOnDisk()) return KCE_SUCCESS;
        std::vector<std::string> before;
        for (const auto& index : indexes_) before.push_back(index->def_.name);
        if (KCESTATUS s = structural_->Reload()) return s;
        std::vector<std::string> after;
        for (const auto& tag : structural_->Tags()) after.push_back(tag.name);
        if (before == after) return KCE_SUCCESS;
        // Another process added or removed tags: take the list again.
        std::vector<std::shared_ptr<NativeIndex>> next;
        std::vector<std::pair<std::string, std::string>> unusable;
        if (KCESTATUS s = OpenTags(structural_, &next, &unusable)) return s;
        indexes_ = std::move(next);
        unusable_ = std::move(unusable);
        return KCE_SUCCESS;
    }
    std::string path = StructuralPath();
    if (!std::filesystem::exists(rtl::OsPath(path))) {
        bool marked = false;
        if (KCESTATUS s = StructuralMark(&marked)) return s;
        if (!marked) return KCE_SUCCESS;
        // Other programs refuse such a table too: its indexes would fall out of date unseen.
        return Fail(KCE_FILE_NOT_FOUND,
                    "the header of table " + storage_.Path() + " marks a structural index file " +
                        path +
                        ", which is missing (an exclusive reindex lets the table do without it)");
    }
    std::unique_ptr<cdx::CdxFile> file;
    if (KCESTATUS s = cdx::CdxFile::Open(path, !storage_.Writable(), &file)) return s;
    std::shared_ptr<cdx::CdxFile> shared = std::move(file);
    std::vector<std::shared_ptr<NativeIndex>> next;
    std::vector<std::pair<std::string, std::string>> unusable;
    if (KCESTATUS s = OpenTags(shared, &next, &unusable)) return s;
    structural_ = std::move(shared);
    indexes_ = std::move(next);
    unusable_ = std::move(unusable);
    return KCE_SUCCESS;
}

KCESTATUS TableIndexes::AddTag(const std::shared_ptr<cdx::CdxFile>& file,
                               const IndexDefinition& given, std::shared_ptr<NativeIndex>* out) {
    IndexDefinition def = given;
    def.key = XbaseKeyText(def.key, schema_);
    std::shared_ptr<NativeIndex> index;
    if (KCESTATUS s = CompileXbase(def, {KeyDialect::kCdx, 0, false, 0}, file->Path(), &index))
        return s;
    // A key that reads a NULL-able field carries the marker byte, as other writers make it.
    bool nullable = false;
    if (const dbf::DbfTable* table = dbf::DbfTableOf(storage_)) {
        for (int f : index->key_->SegmentFields()) {
            nullable = nullable || table->Fields()[size_t(f)].nullBit >= 0;
        }
    }
    if (nullable) {
        if (KCESTATUS s = CompileXbase(def, {KeyDialect::kCdx, 0, true, 0}, file->Path(), &index))
            return s;
    }
    std::vector<KeyPos> keys;
    if (KCESTATUS s = CollectNewKeys(*index, cdx::kMaxKeyLength, "a .cdx tag", &keys)) return s;
    const std::vector<cdx::Entry> entries = AsEntries<cdx::Entry>(std::move(keys));
    cdx::Header proto;
    proto.keyLength = uint16_t(index->key_->Length());
    proto.options =
        uint8_t(cdx::kOptCompact | cdx::kOptCompound | (def.unique ? cdx::kOptUnique : 0));
    proto.keyExpr = def.key;
    proto.forExpr = def.condition;
    uint8_t filler = cdx::FillerFor(index->key_->FirstType() == ValueType::kCharacter, 1);
    cdx::Tree* tree = nullptr;
    if (KCESTATUS s = file->AddTag(def.name, proto, filler, entries, &tree)) return s;
    index->def_.name = cdx::TagName(def.name);
    index->store_ = std::make_unique<CdxTagStore>(file, index->def_.name, tree);
    *out = std::move(index);
    return KCE_SUCCESS;
}

}  // namespace kce
