#include "engine/dbf/dbf_table.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "engine/byte_order.h"
#include "engine/field_types.h"
#include "engine/file_io.h"
#include "engine/invariant.h"
#include "engine/paths.h"
#include "engine/record_image.h"
#include "engine/status.h"
#include "engine/text.h"
#include "rtl/edge.h"

namespace kce::dbf {

namespace {

// True when every byte is a blank, a zero byte or one of the extra characters.
bool AllOf(const uint8_t* p, size_t n, const char* extra = "") {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != ' ' && p[i] != 0 && !(p[i] && std::strchr(extra, p[i]))) return false;
    }
    return true;
}

// The engine type of a DBF column, or 0 for a column the engine does not show.
uint16_t EngineType(const FieldDescriptor& f, Dialect dialect) {
    const bool vfp = dialect == Dialect::kVisualFoxPro;
    switch (f.type) {
        case 'L':
            return KCE_LOGICAL;
        case 'N':
        case 'F':
            return KCE_NUMERIC;
        case 'D':
            return KCE_DATE;
        case 'C':
            return KCE_STRING;
        case 'M':
            return (f.flags & kFieldBinary) ? KCE_BINARY : KCE_MEMO;
        case 'W':
            return KCE_BINARY;
        case 'G':
        case 'P':
            return KCE_IMAGE;
        case 'B':
            return vfp ? KCE_DOUBLE : KCE_BINARY;
        case 'I':
            return (f.flags & kFieldAutoinc) == kFieldAutoinc ? KCE_AUTOINC : KCE_INTEGER;
        case 'T':
            return KCE_TIMESTAMP;
        case 'Y':
            return KCE_CURDOUBLE;
        default:
            return 0;  // '0': _NullFlags
    }
}

uint32_t ImageLengthOf(uint16_t type, uint32_t fileLength) {
    switch (type) {
        case KCE_MEMO:
        case KCE_BINARY:
        case KCE_IMAGE:
        case KCE_INTEGER:
        case KCE_AUTOINC:
            return 4;
        case KCE_DOUBLE:
        case KCE_TIMESTAMP:
        case KCE_CURDOUBLE:
            return 8;
        default:
            return fileLength;
    }
}

// The files of a pack: the new table and memo file beside the old ones, and the marker whose
// existence says that both are complete and are to replace the old ones.
std::string PackedTablePath(const std::string& path) { return path + ".pack"; }
std::string PackMarkerPath(const std::string& path) { return path + ".packed"; }
std::string PackedMemoPath(const std::string& memoPath) { return memoPath + ".pack"; }

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(rtl::OsPath(path), ec);
}

// Flushes a finished file, so that the marker never reaches the disk before the file does.
KCESTATUS SyncFile(const std::string& path) {
    std::unique_ptr<File> f;
    if (KCESTATUS s = Files().Open(path, FileMode::kReadWrite, &f)) return s;
    return f->Sync();
}

KCESTATUS WriteMarker(const std::string& path) {
    std::unique_ptr<File> f;
    if (KCESTATUS s = Files().Open(path, FileMode::kCreateNew, &f)) return s;
    static const char kText[] = "pack committed\n";
    if (KCESTATUS s = f->Write(0, kText, sizeof kText - 1)) return s;
    return f->Sync();
}

}  // namespace

bool DbfCanHold(XBaseKind kind, uint16_t type) {
    switch (type) {
        case KCE_LOGICAL:
        case KCE_NUMERIC:
        case KCE_DATE:
        case KCE_STRING:
        case KCE_MEMO:
            return true;
        case KCE_BINARY:
        case KCE_IMAGE:
        case KCE_DOUBLE:
        case KCE_INTEGER:
        case KCE_TIMESTAMP:
        case KCE_AUTOINC:
        case KCE_CURDOUBLE:
            return kind == XBaseKind::kCdx;
        default:
            return false;
    }
}

namespace {

// A DBF field name: 1 to 10 letters, digits and '_', not the name of an earlier field.
KCESTATUS CheckFieldName(const std::string& path, const std::vector<DbfFieldSpec>& wanted,
                         size_t i) {
    const DbfFieldSpec& s = wanted[i];
    std::string where = "table " + path + ", field '" + s.name + "'";
    if (s.name.empty())
        return Fail(KCE_INVALID_ARGUMENT, "table " + path + ": a field has no name");
    if (s.name.size() > 10) {
        return Fail(KCE_FIELD_NAME_TOO_LONG,
                    where + ": DBF field names have at most 10 characters");
    }
    for (char c : s.name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
            return Fail(KCE_INVALID_ARGUMENT,
                        where + ": a DBF field name holds letters, digits and '_'");
        }
    }
    for (size_t j = 0; j < i; ++j) {
        if (SameText(wanted[j].name, s.name)) return Fail(KCE_DUPLICATE_FIELD_NAME, where);
    }
    return KCE_SUCCESS;
}

// The descriptor of field `s` in a new table of `kind`; `where` names the field for faults.
KCESTATUS MakeDescriptor(XBaseKind kind, const DbfFieldSpec& s, const std::string& where,
                         FieldDescriptor* f) {
    if (!FindFieldType(s.type)) {
        return Fail(KCE_UNKNOWN_FIELD_TYPE, where + ": type " + std::to_string(s.type));
    }
    if (!DbfCanHold(kind, s.type)) {
        return Fail(KCE_FIELD_TYPE_NOT_ALLOWED,
                    where + ": a" + std::string(kind == XBaseKind::kCdx ? " CDX" : "n NTX") +
                        " table cannot hold type " + FieldTypeName(s.type));
    }
    f->name = Upper(s.name);
    const bool cdx = kind == XBaseKind::kCdx;
    switch (s.type) {
        case KCE_LOGICAL:
            f->type = 'L';
            f->length = 1;
            break;
        case KCE_NUMERIC:
            if (s.length < 1 || s.length > 20 || (s.decimals > 0 && s.decimals + 2u > s.length)) {
                return Fail(KCE_INVALID_FIELD_LENGTH,
                            where + ": numeric " + std::to_string(s.length) + "," +
                                std::to_string(s.decimals) +
                                " (length 1 to 20, decimals at most length - 2)");
            }
            f->type = 'N';
            f->length = s.length;
            f->decimals = static_cast<uint8_t>(s.decimals);
            break;
        case KCE_DATE:
            f->type = 'D';
            f->length = 8;
            break;
        case KCE_STRING: {
            uint32_t max = cdx ? 254 : 65535;
            if (s.length < 1 || s.length > max) {
                return Fail(KCE_INVALID_FIELD_LENGTH, where + ": char length " +
                                                          std::to_string(s.length) + " (1 to " +
                                                          std::to_string(max) + ")");
            }
            f->type = 'C';
            f->length = s.length;
            break;
        }
        case KCE_MEMO:
            f->type = 'M';
            f->length = cdx ? 4 : 10;
            break;
        case KCE_BINARY:
            f->type = 'M';
            f->length = 4;
            f->flags = kFieldBinary;
            break;
        case KCE_IMAGE:
            f->type = 'P';
            f->length = 4;
            break;
        case KCE_DOUBLE:
            f->type = 'B';
            f->length = 8;
            break;
        case KCE_INTEGER:
            f->type = 'I';
            f->length = 4;
            break;
        case KCE_TIMESTAMP:
            f->type = 'T';
            f->length = 8;
            break;
        case KCE_AUTOINC:
            f->type = 'I';
            f->length = 4;
            f->flags = kFieldAutoinc;
            f->autoincNext = 1;
            f->autoincStep = 1;
            break;
        case KCE_CURDOUBLE:
            f->type = 'Y';
            f->length = 8;
            break;
    }
    return KCE_SUCCESS;
}

}  // namespace

KCESTATUS DbfTable::Create(const std::string& path, XBaseKind kind,
                           const std::vector<DbfFieldSpec>& wanted,
                           const DbfCreateOptions& options) {
    if (wanted.empty()) return Fail(KCE_NO_FIELDS, "table " + path);
    std::vector<FieldDescriptor> fields;
    bool memo = false, autoinc = false;
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (KCESTATUS s = CheckFieldName(path, wanted, i)) return s;
        FieldDescriptor f;
        std::string where = "table " + path + ", field '" + wanted[i].name + "'";
        if (KCESTATUS s = MakeDescriptor(kind, wanted[i], where, &f)) return s;
        memo = memo || f.type == 'M' || f.type == 'P';
        autoinc = autoinc || (f.flags & kFieldAutoinc);
        fields.push_back(std::move(f));
    }
    uint8_t version, flags = 0;
    if (kind == XBaseKind::kCdx) {
        version = autoinc ? 0x31 : 0x30;
        if (memo) flags |= 0x02;
    } else {
        version = memo ? 0x83 : 0x03;
    }
    std::unique_ptr<DbfFile> file;
    if (KCESTATUS s = DbfFile::Create(path, version, flags, options.codePage, fields, &file))
        return s;
    if (memo) {
        std::unique_ptr<MemoFile> memoFile;
        KCESTATUS s = kind == XBaseKind::kCdx
                          ? CreateFpt(Sibling(path, ".fpt"), options.memoBlockSize, &memoFile)
                          : CreateDbt(Sibling(path, ".dbt"), false, &memoFile);
        if (s) {
            std::remove(rtl::OsPath(path).c_str());
            return s;
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS DbfTable::Open(const std::string& path, bool readOnly, std::unique_ptr<DbfTable>* out) {
    auto table = std::make_unique<DbfTable>();
    table->readOnly_ = readOnly;
    if (KCESTATUS s = DbfFile::Open(path, readOnly, &table->file_)) return s;
    if (KCESTATUS s = table->Load()) return s;
    if (KCESTATUS s = table->OpenMemo(readOnly)) return s;
    *out = std::move(table);
    return KCE_SUCCESS;
}

KCESTATUS DbfTable::Load() {
    const Dialect dialect = file_->FileDialect();
    kind_ = dialect == Dialect::kDBase ? XBaseKind::kNtx : XBaseKind::kCdx;
    fields_.clear();
    nullFlagsColumn_ = -1;
    int nextBit = 0;
    uint32_t offset = 0;
    const auto& columns = file_->Fields();
    for (size_t i = 0; i < columns.size(); ++i) {
        const FieldDescriptor& c = columns[i];
        if (c.type == '0') {
            nullFlagsColumn_ = static_cast<int>(i);
            continue;
        }
        if (c.flags & kFieldSystem) continue;
        DbfField f;
        f.name = c.name;
        f.type = EngineType(c, dialect);
        f.length = ImageLengthOf(f.type, c.length);
        f.decimals = f.type == KCE_NUMERIC ? c.decimals : 0;
        f.offset = offset;
        f.column = i;
        if (c.flags & kFieldNullable) f.nullBit = nextBit++;
        if ((f.type == KCE_MEMO && c.length != 4 && c.length != 10) ||
            (IsBlobType(f.type) && c.length != 4 && c.length != 10) ||
            ((f.type == KCE_DOUBLE || f.type == KCE_TIMESTAMP || f.type == KCE_CURDOUBLE) &&
             c.length != 8) ||
            ((f.type == KCE_INTEGER || f.type == KCE_AUTOINC) && c.length != 4) ||
            (f.type == KCE_DATE && c.length != 8) || (f.type == KCE_LOGICAL && c.length != 1)) {
            return Fail(KCE_DBF_BAD_FIELD, "file " + Path() + ", field '" + c.name + "' of type '" +
                                               std::string(1, c.type) + "' has length " +
                                               std::to_string(c.length));
        }
        offset += f.length;
        fields_.push_back(std::move(f));
    }
    if (fields_.empty()) return Fail(KCE_NO_FIELDS, "file " + Path() + " shows no fields");
    if (nullFlagsColumn_ >= 0 && uint32_t(nextBit) > columns[nullFlagsColumn_].length * 8u) {
        return Fail(KCE_DBF_BAD_FIELD,
                    "file " + Path() + ": _NullFlags is too short for its fields");
    }
    if (nullFlagsColumn_ < 0) {
        for (DbfField& f : fields_) f.nullBit = -1;
    }
    imageLength_ = offset;
    // Each field's window in the image lies inside the image, its column inside the file's
    // record (after the deletion flag) and is at least as long as what the image takes of it,
    // and its null bit inside the _NullFlags column: ReadImage and WriteImage copy on that.
    for (const DbfField& f : fields_) {
        if constexpr (!kInvariants) break;
        const FieldDescriptor& c = columns[f.column];
        KCE_INVARIANT(f.offset + f.length <= imageLength_);
        KCE_INVARIANT(c.offset >= 1 && c.offset + c.length <= file_->RecordLength());
        KCE_INVARIANT(f.length <= c.length);
        KCE_INVARIANT(f.nullBit < 0 ||
                      uint32_t(f.nullBit) < columns[size_t(nullFlagsColumn_)].length * 8u);
    }
    return KCE_SUCCESS;
}

KCESTATUS DbfTable::OpenMemo(bool readOnly) {
    memo_.reset();
    if (file_->Memo() == MemoKind::kNone) return KCE_SUCCESS;
    const uint8_t v = file_->Header().version;
    if (file_->Memo() == MemoKind::kFpt) return OpenFpt(Sibling(Path(), ".fpt"), readOnly, &memo_);
    // dBase files: the version byte names the memo flavour; a plain 0x03 file with memo fields
    // was written by a FoxPro-minded tool when only an .fpt is there.
    const bool dbase4 = v == 0x8B || v == 0x8E || v == 0xCB;
    KCESTATUS s = OpenDbt(Sibling(Path(), ".dbt"), readOnly, dbase4, &memo_);
    if (s == KCE_MEMO_FILE_MISSING && v == 0x03) {
        if (OpenFpt(Sibling(Path(), ".fpt"), readOnly, &memo_) == KCE_SUCCESS) return KCE_SUCCESS;
        return Fail(KCE_MEMO_FILE_MISSING,
                    "table " + Path() + " has memo fields but no .dbt or .fpt file");
    }
    return s;
}

KCESTATUS DbfTable::Refresh() {
    if (KCESTATUS s = file_->Refresh()) return s;
    return KCE_SUCCESS;
}

int DbfTable::FieldIndex(std::string_view name) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].name.size() == name.size() &&
            ::strncasecmp(fields_[i].name.data(), name.data(), name.size()) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

uint32_t DbfTable::MemoPointer(const uint8_t* record, const DbfField& f) const {
    const FieldDescriptor& c = file_->Fields()[f.column];
    const uint8_t* p = record + c.offset;
    if (c.length == 4) return LoadU32(p);
    uint64_t v = 0;
    for (uint32_t i = 0; i < c.length; ++i) {
        if (p[i] >= '0' && p[i] <= '9')
            v = v * 10 + (p[i] - '0');
        else if (p[i] != ' ' && p[i] != 0)
            return 0;
        if (v > 0xFFFFFFFFu) return 0;
    }
    return static_cast<uint32_t>(v);
}

void DbfTable::PutMemoPointer(uint8_t* record, const DbfField& f, uint32_t block) const {
    const FieldDescriptor& c = file_->Fields()[f.column];
    uint8_t* p = record + c.offset;
    if (c.length == 4) {
        StoreU32(p, block);
        return;
    }
    std::memset(p, ' ', c.length);
    if (block == 0) return;
    char digits[16];
    int n = std::snprintf(digits, sizeof digits, "%u", block);
    std::memcpy(p + c.length - n, digits, n);
}

void DbfTable::BlankRecord(uint8_t* record) const {
    std::memset(record, ' ', file_->RecordLength());
    for (const FieldDescriptor& c : file_->Fields()) {
        if (c.type == '0' || c.type == 'I' || c.type == 'Y' || c.type == 'T' ||
            (c.type == 'B' && file_->FileDialect() == Dialect::kVisualFoxPro) ||
            (c.length == 4 && (c.type == 'M' || c.type == 'G' || c.type == 'P' || c.type == 'W'))) {
            std::memset(record + c.offset, 0, c.length);
        }
    }
}

namespace {
FieldDesc DescOf(const DbfField& f) { return {f.name, f.type, f.length, f.decimals, f.offset}; }
}  // namespace

void WriteNullImage(const DbfField& f, uint8_t* image) { WriteNativeNull(DescOf(f), image); }

bool IsNullImage(const DbfField& f, const uint8_t* image) { return IsNativeNull(DescOf(f), image); }

KCESTATUS DbfTable::ReadImage(uint32_t recno, uint8_t* image, bool* deleted,
                              std::vector<bool>* nulls) const {
    std::vector<uint8_t> record(file_->RecordLength());
    if (KCESTATUS s = file_->ReadRecord(recno, record.data())) return s;
    *deleted = record[0] == kDeleted;
    const uint8_t* flags =
        nullFlagsColumn_ >= 0 ? record.data() + file_->Fields()[nullFlagsColumn_].offset : nullptr;
    if (nulls) nulls->assign(fields_.size(), false);
    for (size_t i = 0; i < fields_.size(); ++i) {
        const DbfField& f = fields_[i];
        const FieldDescriptor& c = file_->Fields()[f.column];
        const uint8_t* p = record.data() + c.offset;
        uint8_t* out = image + f.offset;
        bool null = flags && f.nullBit >= 0 && (flags[f.nullBit / 8] >> (f.nullBit % 8)) & 1;
        switch (f.type) {
            case KCE_LOGICAL:
                null = null || AllOf(p, 1, "?");
                out[0] = null ? ' ' : p[0];
                break;
            case KCE_NUMERIC:
                null = null || AllOf(p, f.length, "*");
                if (null)
                    std::memset(out, ' ', f.length);
                else
                    for (uint32_t k = 0; k < f.length; ++k) out[k] = p[k] ? p[k] : ' ';
                break;
            case KCE_DATE:
                null = null || AllOf(p, 8, "0");
                if (null)
                    std::memset(out, ' ', 8);
                else
                    std::memcpy(out, p, 8);
                break;
            case KCE_STRING:
                if (null)
                    std::memset(out, ' ', f.length);
                else
                    std::memcpy(out, p, f.length);
                null = null || AllOf(out, f.length);
                break;
            case KCE_MEMO:
            case KCE_BINARY:
            case KCE_IMAGE:
                null = null || MemoPointer(record.data(), f) == 0;
                StoreU32(out, null ? 0 : 0xFFFFFFFFu);
                break;
            case KCE_DOUBLE:
            case KCE_INTEGER:
            case KCE_CURDOUBLE:
                // A Visual FoxPro null has no spelling in the field's own bytes: the image gets
                // the engine's empty value of the type (IsNullImage).
                if (null)
                    WriteNullImage(f, image);
                else
                    std::memcpy(out, p, f.length);
                break;
            case KCE_AUTOINC:
                if (null)
                    std::memset(out, 0, f.length);
                else
                    std::memcpy(out, p, f.length);
                break;
            case KCE_TIMESTAMP:
                null = null || LoadU32(p) == 0 || AllOf(p, 8);
                if (null)
                    std::memset(out, ' ', 8);
                else
                    std::memcpy(out, p, 8);
                break;
        }
        if (nulls) (*nulls)[i] = null;
    }
    return KCE_SUCCESS;
}

KCESTATUS DbfTable::ReadBlob(uint32_t recno, size_t field, std::string* value) const {
    const DbfField& f = fields_.at(field);
    if (!IsBlobType(f.type)) {
        return Fail(KCE_INVALID_ARGUMENT, "field '" + f.name + "' of " + Path() + " is not a blob");
    }
    std::vector<uint8_t> record(file_->RecordLength());
    if (KCESTATUS s = file_->ReadRecord(recno, record.data())) return s;
    value->clear();
    uint32_t block = MemoPointer(record.data(), f);
    if (block == 0) return KCE_SUCCESS;
    if (!memo_) return Fail(KCE_MEMO_FILE_MISSING, "table " + Path());
    bool text = false;
    KCESTATUS s = memo_->Read(block, value, &text);
    if (s == KCE_MEMO_POINTER_PAST_END) {
        return Fail(s, "record " + std::to_string(recno) + ", field '" + f.name + "' of " + Path() +
                           ": " + LastText());
    }
    return s;
}

KCESTATUS DbfTable::AssignAutoinc(uint8_t* image) {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + Path());
    bool first = true;
    for (const DbfField& f : fields_) {
        if (f.type != KCE_AUTOINC) continue;
        const FieldDescriptor& c = file_->Fields()[f.column];
        uint32_t next = c.autoincNext;
        uint32_t step = c.autoincStep ? c.autoincStep : 1;
        if (KCESTATUS s = file_->WriteAutoincNext(f.column, next + step)) return s;
        StoreU32(image + f.offset, next);
        if (first) lastAutoinc_ = next;
        first = false;
    }
    return KCE_SUCCESS;
}

KCESTATUS DbfTable::WriteImage(uint32_t recno, const uint8_t* image, std::optional<bool> deleted,
                               const std::vector<BlobChange>& changes, uint32_t* written) {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + Path());
    std::vector<uint8_t> record(file_->RecordLength());
    if (recno == 0) {
        BlankRecord(record.data());
    } else if (KCESTATUS s = file_->ReadRecord(recno, record.data())) {
        return s;
    }
    if (deleted) record[0] = *deleted ? kDeleted : kKept;
    uint8_t* flags =
        nullFlagsColumn_ >= 0 ? record.data() + file_->Fields()[nullFlagsColumn_].offset : nullptr;
    for (size_t i = 0; i < fields_.size(); ++i) {
        const DbfField& f = fields_[i];
        const FieldDescriptor& c = file_->Fields()[f.column];
        uint8_t* p = record.data() + c.offset;
        const uint8_t* in = image + f.offset;
        bool null = false;
        switch (f.type) {
            case KCE_LOGICAL:
                null = AllOf(in, 1);
                p[0] = null ? ' ' : in[0];
                break;
            case KCE_NUMERIC:
            case KCE_DATE:
            case KCE_STRING:
                null = AllOf(in, f.length);
                for (uint32_t k = 0; k < f.length; ++k) p[k] = in[k] ? in[k] : ' ';
                // An empty text is a value, except in a field that can be null: the engine
                // reads blanks as empty, and null is what such a field spells empty with.
                if (f.type == KCE_STRING) null = null && f.nullBit >= 0;
                break;
            case KCE_MEMO:
            case KCE_BINARY:
            case KCE_IMAGE:
                continue;  // blobs change through changes only
            case KCE_DOUBLE:
            case KCE_INTEGER:
            case KCE_CURDOUBLE:
                null = f.nullBit >= 0 && IsNullImage(f, image);
                if (null)
                    std::memset(p, 0, f.length);
                else
                    std::memcpy(p, in, f.length);
                break;
            case KCE_AUTOINC:
                std::memcpy(p, in, f.length);
                break;
            case KCE_TIMESTAMP:
                null = AllOf(in, 8) || LoadU32(in) == 0;
                if (null)
                    std::memset(p, 0, 8);
                else
                    std::memcpy(p, in, 8);
                break;
        }
        if (flags && f.nullBit >= 0) {
            uint8_t bit = static_cast<uint8_t>(1u << (f.nullBit % 8));
            if (null)
                flags[f.nullBit / 8] |= bit;
            else
                flags[f.nullBit / 8] &= static_cast<uint8_t>(~bit);
        }
    }
    // Memo values go first, so a record never points at blocks that were not written.
    for (const BlobChange& change : changes) {
        const DbfField& f = fields_.at(change.field);
        if (!IsBlobType(f.type)) continue;
        uint32_t old = recno == 0 ? 0 : MemoPointer(record.data(), f);
        uint32_t block = 0;
        if (change.value && !change.value->empty()) {
            if (!memo_) return Fail(KCE_MEMO_FILE_MISSING, "table " + Path());
            if (KCESTATUS s = memo_->Write(old, *change.value, f.type == KCE_MEMO, &block))
                return s;
        }
        PutMemoPointer(record.data(), f, block);
        if (flags && f.nullBit >= 0) {
            uint8_t bit = static_cast<uint8_t>(1u << (f.nullBit % 8));
            if (block == 0)
                flags[f.nullBit / 8] |= bit;
            else
                flags[f.nullBit / 8] &= static_cast<uint8_t>(~bit);
        }
    }
    if (recno == 0) return file_->AppendRecord(record.data(), written);
    if (KCESTATUS s = file_->WriteRecord(recno, record.data())) return s;
    *written = recno;
    return KCE_SUCCESS;
}

KCESTATUS DbfTable::SetDeleted(uint32_t recno, bool deleted) {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + Path());
    std::vector<uint8_t> record(file_->RecordLength());
    if (KCESTATUS s = file_->ReadRecord(recno, record.data())) return s;
    record[0] = deleted ? kDeleted : kKept;
    return file_->WriteRecord(recno, record.data());
}

KCESTATUS DbfTable::Zap() {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + Path());
    if (KCESTATUS s = file_->Zap()) return s;
    return memo_ ? memo_->Reset() : KCESTATUS{KCE_SUCCESS};
}

KCESTATUS DbfTable::Pack() {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + Path());
    const std::string path = Path();
    const std::string packPath = PackedTablePath(path);
    const std::string memoPath = memo_ ? memo_->Path() : std::string();
    const std::string memoPackPath = PackedMemoPath(memoPath);
    std::unique_ptr<DbfFile> packed;
    if (KCESTATUS s = file_->CopyLayoutTo(packPath, &packed)) return s;
    std::unique_ptr<MemoFile> packedMemo;
    auto cleanUp = [&](KCESTATUS s) {
        packed.reset();
        packedMemo.reset();
        std::remove(rtl::OsPath(packPath).c_str());
        if (!memoPath.empty()) std::remove(rtl::OsPath(memoPackPath).c_str());
        return s;
    };
    if (memo_) {
        const uint8_t v = file_->Header().version;
        KCESTATUS s =
            file_->Memo() == MemoKind::kFpt || v == 0x03
                ? CreateFpt(memoPackPath, memo_->BlockSize(), &packedMemo)
                : CreateDbt(memoPackPath, v == 0x8B || v == 0x8E || v == 0xCB, &packedMemo);
        if (s) return cleanUp(s);
    }
    std::vector<uint8_t> record(file_->RecordLength());
    std::string value;
    for (uint32_t r = 1; r <= file_->RecordCount(); ++r) {
        if (KCESTATUS s = file_->ReadRecord(r, record.data())) return cleanUp(s);
        if (record[0] == kDeleted) continue;
        for (const DbfField& f : fields_) {
            if (!IsBlobType(f.type)) continue;
            uint32_t block = MemoPointer(record.data(), f);
            if (block == 0) continue;
            bool text = false;
            if (KCESTATUS s = memo_->Read(block, &value, &text)) return cleanUp(s);
            if (KCESTATUS s = packedMemo->Write(0, value, text, &block)) return cleanUp(s);
            PutMemoPointer(record.data(), f, block);
        }
        uint32_t at = 0;
        if (KCESTATUS s = packed->AppendRecord(record.data(), &at)) return cleanUp(s);
    }
    packed.reset();
    packedMemo.reset();
    if (KCESTATUS s = SyncFile(packPath)) return cleanUp(s);
    if (!memoPath.empty()) {
        if (KCESTATUS s = SyncFile(memoPackPath)) return cleanUp(s);
    }
    // The commit point: from here on the pack is finished, now or by the next open.
    if (KCESTATUS s = WriteMarker(PackMarkerPath(path))) {
        std::remove(rtl::OsPath(PackMarkerPath(path)).c_str());
        return cleanUp(s);
    }
    // Should finishing fail, this object keeps the files it has open and the next open of the
    // table finishes the pack.
    if (KCESTATUS s = FinishInterruptedPack(path, true)) return s;
    std::unique_ptr<DbfFile> reopened;
    if (KCESTATUS s = DbfFile::Open(path, false, &reopened)) return s;
    file_ = std::move(reopened);
    if (KCESTATUS s = Load()) return s;
    return OpenMemo(false);
}

bool HasPackLeftovers(const std::string& path) {
    if (Exists(PackMarkerPath(path)) || Exists(PackedTablePath(path))) return true;
    for (const char* ext : {".fpt", ".dbt"}) {
        if (Exists(PackedMemoPath(Sibling(path, ext)))) return true;
    }
    return false;
}

KCESTATUS FinishInterruptedPack(const std::string& path, bool writable) {
    const std::string marker = PackMarkerPath(path);
    const std::string packPath = PackedTablePath(path);
    if (!Exists(marker)) {
        // The old files are whole; what an unfinished pack wrote beside them goes.
        if (writable) {
            std::remove(rtl::OsPath(packPath).c_str());
            for (const char* ext : {".fpt", ".dbt"})
                std::remove(rtl::OsPath(PackedMemoPath(Sibling(path, ext))).c_str());
        }
        return KCE_SUCCESS;
    }
    if (!writable) {
        return Fail(KCE_DAMAGED_FILE, "table " + path +
                                          ": an interrupted pack is to be finished, which needs "
                                          "write access to the table");
    }
    // Each step can run again after a crash in it: a rename that happened leaves no .pack file,
    // and the copy starts from the beginning.
    for (const char* ext : {".fpt", ".dbt"}) {
        const std::string memoPath = Sibling(path, ext);
        const std::string packedMemo = PackedMemoPath(memoPath);
        if (Exists(packedMemo) &&
            std::rename(rtl::OsPath(packedMemo).c_str(), rtl::OsPath(memoPath).c_str()) != 0)
            return Fail(KCE_FILE_WRITE_FAILED, "cannot replace " + memoPath);
    }
    if (Exists(packPath)) {
        // In place, so that the table file keeps its identity and the locks held on it.
        RawFile table;
        if (KCESTATUS s = table.Open(path, false)) return s;
        if (KCESTATUS s = table.CopyFrom(packPath)) return s;
        std::remove(rtl::OsPath(packPath).c_str());
    }
    std::remove(rtl::OsPath(marker).c_str());
    return KCE_SUCCESS;
}

KCESTATUS DbfTable::Check(std::vector<std::string>* problems) const {
    problems->clear();
    DbfCheck c;
    if (KCESTATUS s = file_->Check(&c)) return s;
    if (c.headerCut) {
        problems->push_back("the file is " + std::to_string(c.fileSize) +
                            " bytes long and ends inside its header of " +
                            std::to_string(file_->Header().headerLength) +
                            " bytes: no record is left");
        return KCE_SUCCESS;
    }
    if (c.headerCount != c.records) {
        problems->push_back("the header counts " + std::to_string(c.headerCount) +
                            " records, the file holds " + std::to_string(c.records));
    }
    if (c.paddingBytes > 0) {
        char first[8];
        std::snprintf(first, sizeof first, "0x%02X", c.paddingByte);
        problems->push_back(std::to_string(c.paddingBytes) + " bytes of padding (" + first +
                            "...) follow the records, and they are not records: the table holds " +
                            std::to_string(c.records) +
                            (c.headerCount == c.records ? ", as the header says" : ""));
    }
    if (c.partialRecord)
        problems->push_back("the file ends with part of a record");
    else if (c.endMarkerMissing)
        problems->push_back("warning: the end-of-file marker 0x1A is missing");
    std::string value;
    // The memos of the records the file holds now (it may have been cut since it was read).
    const uint32_t records = std::min(file_->RecordCount(), c.records);
    for (uint32_t r = 1; r <= records; ++r) {
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (!IsBlobType(fields_[i].type)) continue;
            if (ReadBlob(r, i, &value) != KCE_SUCCESS) {
                problems->push_back("record " + std::to_string(r) + ", field " + fields_[i].name +
                                    ": " + LastText());
            }
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS DbfTable::Repair() {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + Path());
    return file_->Repair();
}

}  // namespace kce::dbf
