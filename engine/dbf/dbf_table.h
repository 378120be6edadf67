// A DBF table as the engine sees it: a DBF file with its memo file, its fields as engine field
// types, and its records as the engine's raw record images.
//
// Engine types and DBF fields (CDX tables are written in the Visual FoxPro layout, NTX tables in
// the dBase III layout):
//
//   ENGINE TYPE          IMAGE                      CDX FIELD          NTX FIELD    ALSO READ
//   1  logical           1 byte, T/F, blank null     L 1                L 1
//   2  numeric           n digits as text            N n,d              N n,d        F
//   3  date              8 digits YYYYMMDD           D 8                D 8
//   4  char              n bytes, blank padded       C n (n <= 254)     C n (<= 65535, the high
//                                                                       byte of n in the decimals)
//   5  memo              4-byte marker 0 / -1        M 4 (block, binary) M 10 (block, digits)
//   6  binary            4-byte marker               M 4 flagged binary              B (dBase), W
//   7  image             4-byte marker               P 4                             G
//   10 double            8-byte double               B 8
//   11 integer           32-bit                      I 4
//   14 timestamp         32-bit Julian day, 32-bit   T 8
//                        milliseconds (blank null)
//   15 autoinc           32-bit                      I 4 flagged autoinc
//   17 money             64-bit count of 1/10000     Y 8 (64-bit, 4 decimals fixed)
//
// Empty values in every spelling read as the null image: a numeric of blanks or of '*', a date
// of blanks, zeros or "00000000", a logical '?', a datetime with day 0, and any field whose bit
// is set in a Visual FoxPro _NullFlags field (a double, integer or money so marked reads as the
// native empty image of its type; see WriteNullImage). Money images hold the field's own
// 64-bit count of ten-thousandths.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/dbf/dbf_file.h"
#include "engine/dbf/memo_file.h"
#include "engine/kce.h"

namespace kce::dbf {

enum class XBaseKind { kCdx, kNtx };

struct DbfFieldSpec {
    std::string name;
    uint16_t type = 4;  // engine field type
    uint32_t length = 0;
    uint16_t decimals = 0;
};

struct DbfCreateOptions {
    uint8_t codePage = 0x03;     // Windows ANSI
    uint32_t memoBlockSize = 0;  // FPT only; 0 for the default
};

struct DbfField {
    std::string name;
    uint16_t type = 0;    // engine field type
    uint32_t length = 0;  // in the image
    uint16_t decimals = 0;
    uint32_t offset = 0;  // in the image
    size_t column = 0;    // index in DbfFile::Fields()
    int nullBit = -1;     // bit in _NullFlags, -1 when the field cannot be null that way
};

// A blob value to store with a record: nullopt (or an empty value) clears the field.
struct BlobChange {
    size_t field = 0;  // index in Fields()
    std::optional<std::string> value;
};

class DbfTable {
  public:
    static KCESTATUS Create(const std::string& path, XBaseKind kind,
                            const std::vector<DbfFieldSpec>& fields,
                            const DbfCreateOptions& options);
    // Opens the table and its memo file. Never changes either file.
    static KCESTATUS Open(const std::string& path, bool readOnly, std::unique_ptr<DbfTable>* out);

    const std::string& Path() const { return file_->Path(); }
    XBaseKind Kind() const { return kind_; }
    bool ReadOnly() const { return readOnly_; }
    const DbfFile& File() const { return *file_; }
    const MemoFile* Memo() const { return memo_.get(); }
    const std::vector<DbfField>& Fields() const { return fields_; }
    // The field of that name (case-insensitive), or -1.
    int FieldIndex(std::string_view name) const;
    uint32_t ImageLength() const { return imageLength_; }
    uint32_t RecordCount() const { return file_->RecordCount(); }
    uint8_t CodePage() const { return file_->Header().codePage; }
    // Reads the file size (and autoincrement counters) again, for changes of another process.
    KCESTATUS Refresh();
    // A transaction's appends reach the header count only when it commits (DbfFile).
    KCESTATUS DeferCount() { return file_->DeferCount(); }
    KCESTATUS PublishCount() { return file_->PublishCount(); }

    // The engine image of a record, its deletion flag, and (when asked) which fields are null.
    KCESTATUS ReadImage(uint32_t recno, uint8_t* image, bool* deleted,
                        std::vector<bool>* nulls = nullptr) const;
    // The value of a memo, binary or image field; an empty field gives an empty value.
    KCESTATUS ReadBlob(uint32_t recno, size_t field, std::string* value) const;
    // Gives the autoincrement fields of a new record their next values, in image. The counters
    // move at once: a record that never lands loses its number, no number is handed out twice.
    KCESTATUS AssignAutoinc(uint8_t* image);
    // Writes a record from an image (recno 0 appends; *written gets the number). Blob fields
    // keep their value unless changes name them. deleted sets the deletion flag; nullopt keeps
    // it (a new record is then kept).
    KCESTATUS WriteImage(uint32_t recno, const uint8_t* image, std::optional<bool> deleted,
                         const std::vector<BlobChange>& changes, uint32_t* written);
    KCESTATUS SetDeleted(uint32_t recno, bool deleted);
    // The value AssignAutoinc last gave the first autoincrement field, 0 before any.
    uint32_t LastAutoinc() const { return lastAutoinc_; }

    KCESTATUS Zap();
    // Rewrites the table without its deleted records, and the memo file without the space of
    // replaced or deleted values. Needs exclusive use of the table. The new files are written
    // beside the old ones and committed by a marker file (see FinishInterruptedPack), so a crash
    // at any point leaves either the old table or the packed one, never a mix.
    KCESTATUS Pack();
    // Problems found in the file's bookkeeping and memo pointers, one line each.
    KCESTATUS Check(std::vector<std::string>* problems) const;
    // Makes the header count and end marker agree with the records the file holds.
    KCESTATUS Repair();

  private:
    KCESTATUS Load();
    KCESTATUS OpenMemo(bool readOnly);
    uint32_t MemoPointer(const uint8_t* record, const DbfField& f) const;
    void PutMemoPointer(uint8_t* record, const DbfField& f, uint32_t block) const;
    void BlankRecord(uint8_t* record) const;

    std::unique_ptr<DbfFile> file_;
    std::unique_ptr<MemoFile> memo_;
    XBaseKind kind_ = XBaseKind::kCdx;
    std::vector<DbfField> fields_;
    uint32_t imageLength_ = 0;
    int nullFlagsColumn_ = -1;
    uint32_t lastAutoinc_ = 0;
    bool readOnly_ = false;
};

// The image of a null double, integer or money of a field that can be null (a Visual FoxPro
// _NullFlags bit): the engine's empty value of its type, which the field's own bytes cannot
// spell. For other fields those bytes are a value like any other.
void WriteNullImage(const DbfField& f, uint8_t* image);
bool IsNullImage(const DbfField& f, const uint8_t* image);

// Which engine types a table kind can hold, for messages that name the field and the type.
bool DbfCanHold(XBaseKind kind, uint16_t type);

// Run before a table is opened by the first process that holds it alone: a pack that wrote its
// marker is finished (the packed memo file renamed into place, the packed table copied over the
// table); the leftovers of a pack that did not get that far are removed. A table whose pack must
// be finished but that cannot be written gives KCE_DAMAGED_FILE.
KCESTATUS FinishInterruptedPack(const std::string& path, bool writable);
// Whether a pack left anything beside the table (its marker or packed files) for
// FinishInterruptedPack to finish or clear.
bool HasPackLeftovers(const std::string& path);

}  // namespace kce::dbf
