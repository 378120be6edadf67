// The DBF file: header, field descriptors and fixed-length records, as dBase III, FoxPro and
// Visual FoxPro write them. This module knows bytes only; engine field types and memo values are
// the business of DbfTable.
//
// Header (all numbers little-endian):
//
//   OFFSET  SIZE  DESCRIPTION
//   0       1     version: 0x03 plain, 0x83 dBase III with DBT memo, 0x8B/0x8E dBase IV with DBT,
//                 0xF5 FoxPro 2 with FPT memo, 0x30 Visual FoxPro, 0x31 Visual FoxPro with
//                 autoincrement, 0x32 Visual FoxPro with varchar/varbinary/blob fields
//   1       3     date of the last update: year - 1900, month, day
//   4       4     record count
//   8       2     header length: the offset of the first record
//   10      2     record length, the deletion flag included
//   12      16    reserved (zero)
//   28      1     table flags (Visual FoxPro): 0x01 structural .cdx, 0x02 memo file, 0x04 database
//   29      1     code-page mark (0x01 DOS 437, 0x02 DOS 850, 0x03 Windows 1252, 0x64 DOS 852,
//                 0x65 DOS 866, 0x57 ANSI, ...); kept as found
//   30      2     reserved (zero)
//   32      32*n  field descriptors, below
//   32+32n  1     0x0D, end of the descriptors (some writers leave it out)
//   33+32n  263   Visual FoxPro only: path of the owning database container, zeros when free
//
// Field descriptor:
//
//   OFFSET  SIZE  DESCRIPTION
//   0       11    field name, ASCII, zero padded
//   11      1     type letter: C N F D L M (all dialects); G P B I Y T W V Q 0 (Visual FoxPro)
//   12      4     Visual FoxPro: offset of the field in the record; otherwise reserved
//   16      1     length; for C fields the low byte of the length
//   17      1     decimals; for C fields the high byte of the length (lengths above 255)
//   18      1     Visual FoxPro flags: 0x01 system (hidden), 0x02 nullable, 0x04 binary,
//                 0x0C autoincrement
//   19      4     Visual FoxPro autoincrement: next value
//   23      1     Visual FoxPro autoincrement: step
//   24      8     reserved
//
// Records start at the header length, one after the other, record length bytes each: a deletion
// flag (0x20 kept, 0x2A deleted) then the fields in descriptor order. A 0x1A byte follows the last
// record.
//
// The record count that counts: the header's, and past it every whole record the file size
// holds that begins with a deletion flag (0x20 or 0x2A). An append writes its record and the end
// marker first and the header count after, so a process killed in between leaves a file whose
// header count is one short; it still holds the record, and Check() reports the difference.
// Other writers leave padding after the end marker (0x1A or zero bytes): it begins with neither
// flag, so it is never taken for records, and Check() reports it.
//
// Except in a transaction: its appends leave the header count alone until it commits
// (DeferCount, PublishCount), so a reader that goes by the header count sees none of its records
// before the commit; and the end marker stays where the committed records end (in the deletion
// flag of the first new record, whose real flag is kept aside and written at the commit), so a
// reader that goes by the marker sees none either. Readers of this engine see no more: while a
// transaction's journal lies beside the table (journal.h), the records past the header count
// belong to it, or to one a crash cut short that the next writer rolls back, and are not
// counted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/dbf/raw_file.h"
#include "engine/kce.h"

namespace kce::dbf {

enum class Dialect { kDBase, kFoxPro, kVisualFoxPro };
enum class MemoKind { kNone, kFpt, kDbt };

// Bytes of the table file: the end marker after the records, a record's deletion flag, the end
// of the field descriptors, and the backlink area that follows them in Visual FoxPro tables.
constexpr uint8_t kEndOfFile = 0x1A;
constexpr uint8_t kKept = ' ';
constexpr uint8_t kDeleted = '*';
constexpr uint8_t kDescriptorEnd = 0x0D;
constexpr uint32_t kBacklinkSize = 263;

constexpr uint8_t kFieldSystem = 0x01;
constexpr uint8_t kFieldNullable = 0x02;
constexpr uint8_t kFieldBinary = 0x04;
constexpr uint8_t kFieldAutoinc = 0x0C;

struct FieldDescriptor {
    std::string name;
    char type = 'C';
    uint32_t offset = 0;  // in the record, after the deletion flag (so the first field is at 1)
    uint32_t length = 0;
    uint8_t decimals = 0;
    uint8_t flags = 0;
    uint32_t autoincNext = 0;
    uint8_t autoincStep = 0;
};

struct DbfHeader {
    uint8_t version = 0x03;
    int year = 0;  // of the last update, full year
    int month = 0;
    int day = 0;
    uint32_t recordCount = 0;  // as the header says
    uint16_t headerLength = 0;
    uint16_t recordLength = 0;
    uint8_t tableFlags = 0;
    uint8_t codePage = 0;
};

// What Check() finds about the file's own bookkeeping.
struct DbfCheck {
    uint32_t headerCount = 0;
    uint32_t recordsBySize = 0;  // whole records' lengths the size holds
    uint32_t records = 0;        // the records counted (see the top of this file)
    uint64_t paddingBytes = 0;   // after the records and their end marker, not records
    uint8_t paddingByte = 0;     // the first of them
    bool partialRecord = false;  // bytes of a record cut short after the last whole one
    bool endMarkerMissing = false;
    // The file is shorter than its header (cut since it was opened): no record is left, and
    // nothing else is looked at.
    bool headerCut = false;
    uint64_t fileSize = 0;
};

// The header and field descriptors as a file's first bytes give them.
struct DbfLayout {
    DbfHeader header;
    std::vector<FieldDescriptor> fields;
    Dialect dialect = Dialect::kDBase;
    MemoKind memo = MemoKind::kNone;
    uint32_t fieldsLength = 0;  // the record length the fields need, the deletion flag included
};

class DbfFile {
  public:
    // Reads the header and the field descriptors from the first n bytes of a file of `size`
    // bytes (n at least the header length the bytes give). Checks what the descriptors need and
    // leaves the record length and the records to the caller.
    static KCESTATUS ParseLayout(const std::string& path, const uint8_t* bytes, size_t n,
                                 uint64_t size, DbfLayout* out);
    // Opens and validates a DBF file. Never changes the file.
    static KCESTATUS Open(const std::string& path, bool readOnly, std::unique_ptr<DbfFile>* out);
    // Creates a DBF file with the given version, code page and fields (offsets are computed here).
    static KCESTATUS Create(const std::string& path, uint8_t version, uint8_t tableFlags,
                            uint8_t codePage, std::vector<FieldDescriptor> fields,
                            std::unique_ptr<DbfFile>* out);

    const std::string& Path() const { return file_.Path(); }
    const DbfHeader& Header() const { return header_; }
    const std::vector<FieldDescriptor>& Fields() const { return fields_; }
    Dialect FileDialect() const { return dialect_; }
    MemoKind Memo() const { return memo_; }
    bool ReadOnly() const { return file_.ReadOnly(); }
    uint32_t RecordLength() const { return header_.recordLength; }
    // The record count (see the top of this file).
    uint32_t RecordCount() const { return count_; }
    // Reads the size, the header count and the autoincrement counters again: another process may
    // have appended.
    KCESTATUS Refresh();
    // From DeferCount on, appends leave the header count and the end marker where they are (the
    // records this file gives its own reader still grow); PublishCount writes both for every
    // record appended since, and ends the deferral. DeferCount first sets a header count that
    // lags the records right.
    KCESTATUS DeferCount();
    KCESTATUS PublishCount();

    // Reads a whole record (deletion flag first). recno counts from 1.
    KCESTATUS ReadRecord(uint32_t recno, uint8_t* record) const;
    // Rewrites a whole record and stamps the header.
    KCESTATUS WriteRecord(uint32_t recno, const uint8_t* record);
    // Appends a record, then the end marker, then the header count; *recno gets its number.
    KCESTATUS AppendRecord(const uint8_t* record, uint32_t* recno);
    // Drops every record.
    KCESTATUS Zap();
    // Keeps the first count records and drops the rest (pack rewrites records, then cuts).
    KCESTATUS Truncate(uint32_t count);
    // Creates an empty file at path with this file's header and descriptors.
    KCESTATUS CopyLayoutTo(const std::string& path, std::unique_ptr<DbfFile>* out) const;
    // Replaces this file's bytes with those of another DBF file (pack), in place: the file keeps
    // its identity, and with it the locks other processes see on it.
    KCESTATUS ReplaceWith(const std::string& path);
    // Stores the next autoincrement value of a field in its descriptor.
    KCESTATUS WriteAutoincNext(size_t field, uint32_t next);

    KCESTATUS Check(DbfCheck* out) const;
    // Makes the header count and end marker agree with the records the size holds. A file
    // shorter than its header is refused (KCE_DBF_TRUNCATED): what it lacks cannot be told.
    KCESTATUS Repair();

  private:
    KCESTATUS Load();
    // Sets count_ (see the top of this file), leaving out what an open transaction of another
    // process appended.
    KCESTATUS CountRecords(uint64_t size);
    // The records of a file of `size` bytes whose header counts headerCount; record `hidden`
    // (0: none) holds the end marker in its flag's place.
    KCESTATUS CountFrom(uint64_t size, uint32_t headerCount, uint32_t hidden,
                        uint32_t* count) const;
    // Whether the deletion flag of recno holds the end marker (see DeferCount).
    bool HoldsMarker(uint32_t recno) const;
    // Where record recno (1..count) starts in the file.
    uint64_t RecordOffset(uint32_t recno) const;
    KCESTATUS StampHeader(bool withCount);
    KCESTATUS Undo(uint64_t end, KCESTATUS failure);

    RawFile file_;
    DbfHeader header_;
    std::vector<FieldDescriptor> fields_;
    Dialect dialect_ = Dialect::kDBase;
    MemoKind memo_ = MemoKind::kNone;
    uint32_t count_ = 0;
    bool countDeferred_ = false;
    // While deferred: the deletion flag of the first record past the header count, whose place
    // in the file holds the end marker.
    uint8_t hiddenFlag_ = ' ';
};

// Whether the letter names a field type this module reads.
bool IsKnownFieldType(char type, Dialect dialect);
// Whether a field of this type keeps its value in the memo file (the record holds its block).
bool IsMemoFieldType(char type, Dialect dialect);

}  // namespace kce::dbf
