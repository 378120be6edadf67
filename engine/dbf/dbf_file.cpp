#include "engine/dbf/dbf_file.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/byte_order.h"
#include "engine/invariant.h"
#include "engine/journal.h"
#include "engine/status.h"
#include "rtl/edge.h"

namespace kce::dbf {

namespace {

bool IsKnownVersion(uint8_t v) {
    switch (v) {
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x30:
        case 0x31:
        case 0x32:
        case 0x43:
        case 0x63:
        case 0x83:
        case 0x8B:
        case 0x8E:
        case 0xCB:
        case 0xE5:
        case 0xF5:
        case 0xFB:
            return true;
        default:
            return false;
    }
}

Dialect DialectOf(uint8_t v) {
    if (v == 0x30 || v == 0x31 || v == 0x32) return Dialect::kVisualFoxPro;
    if (v == 0xF5 || v == 0xFB) return Dialect::kFoxPro;
    return Dialect::kDBase;
}

bool IsMemoType(char type, Dialect dialect) {
    switch (type) {
        case 'M':
        case 'G':
        case 'P':
        case 'W':
            return true;
        case 'B':
            return dialect != Dialect::kVisualFoxPro;  // a double there, a binary memo elsewhere
        default:
            return false;
    }
}

void Today(int* year, int* month, int* day) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    *year = tm.tm_year + 1900;
    *month = tm.tm_mon + 1;
    *day = tm.tm_mday;
}

}  // namespace

bool IsKnownFieldType(char type, Dialect dialect) {
    switch (type) {
        case 'C':
        case 'N':
        case 'F':
        case 'D':
        case 'L':
        case 'M':
        case 'G':
        case 'P':
        case 'B':
            return true;
        case 'I':
        case 'Y':
        case 'T':
        case 'W':
        case '0':
            return dialect == Dialect::kVisualFoxPro;
        default:
            return false;
    }
}

bool IsMemoFieldType(char type, Dialect dialect) { return IsMemoType(type, dialect); }

KCESTATUS DbfFile::Open(const std::string& path, bool readOnly, std::unique_ptr<DbfFile>* out) {
    auto file = std::make_unique<DbfFile>();
    if (KCESTATUS s = file->file_.Open(path, readOnly)) return s;
    if (KCESTATUS s = file->Load()) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::Load() {
    const std::string& path = file_.Path();
    uint64_t size = 0;
    if (KCESTATUS s = file_.Size(&size)) return s;
    if (size < 32) {
        return Fail(KCE_DBF_TRUNCATED, "file " + path + " is " + std::to_string(size) +
                                           " bytes long, shorter than a DBF header (32 bytes)");
    }
    uint8_t head[32];
    if (KCESTATUS s = file_.ReadExact(0, head, sizeof head, "DBF header")) return s;
    const uint32_t headerLength = LoadU16(head + 8);
    std::vector<uint8_t> area(head, head + sizeof head);
    if (headerLength >= 64 && size >= headerLength) {
        area.resize(headerLength);
        if (KCESTATUS s = file_.ReadExact(0, area.data(), area.size(), "DBF header")) return s;
    }
    DbfLayout layout;
    if (KCESTATUS s = ParseLayout(path, area.data(), area.size(), size, &layout)) return s;
    header_ = layout.header;
    fields_ = std::move(layout.fields);
    dialect_ = layout.dialect;
    memo_ = layout.memo;
    if (layout.fieldsLength != header_.recordLength) {
        return Fail(KCE_DBF_RECORD_LENGTH_MISMATCH,
                    "file " + path + ": the header gives records of " +
                        std::to_string(header_.recordLength) + " bytes, the fields need " +
                        std::to_string(layout.fieldsLength) + " (with the deletion flag)");
    }
    return CountRecords(size);
}

KCESTATUS DbfFile::ParseLayout(const std::string& path, const uint8_t* bytes, size_t n,
                               uint64_t size, DbfLayout* out) {
    DbfLayout layout;
    DbfHeader& header = layout.header;
    if (n < 32) {
        return Fail(KCE_DBF_TRUNCATED, "file " + path + " is " + std::to_string(size) +
                                           " bytes long, shorter than a DBF header (32 bytes)");
    }
    const uint8_t* head = bytes;
    if (!IsKnownVersion(head[0])) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", head[0]);
        return Fail(KCE_WRONG_FILE_FORMAT,
                    "file " + path + " is not a DBF table (version byte " + hex + ")");
    }
    header.version = head[0];
    header.year = 1900 + head[1];
    header.month = head[2];
    header.day = head[3];
    header.recordCount = LoadU32(head + 4);
    header.headerLength = LoadU16(head + 8);
    header.recordLength = LoadU16(head + 10);
    header.tableFlags = head[28];
    header.codePage = head[29];
    layout.dialect = DialectOf(header.version);

    const uint32_t headerLength = header.headerLength;
    if (headerLength < 64) {
        return Fail(KCE_DBF_DESCRIPTORS_OVERRUN, "file " + path + ": header length " +
                                                     std::to_string(headerLength) +
                                                     " leaves no room for a field descriptor");
    }
    if (size < headerLength || n < headerLength) {
        return Fail(KCE_DBF_TRUNCATED, "file " + path + " is " + std::to_string(size) +
                                           " bytes long but its header says " +
                                           std::to_string(headerLength));
    }
    const uint8_t* area = bytes;

    uint32_t offset = 1;
    for (uint32_t pos = 32; pos < headerLength; pos += 32) {
        const uint8_t* d = area + pos;
        // The terminator ends the list; a zero byte is where a writer that left the terminator
        // out of a Visual FoxPro header put the database-container path.
        if (d[0] == kDescriptorEnd || d[0] == 0) break;
        if (pos + 32 > headerLength) {
            if (headerLength - pos == 1) break;  // the terminator's place, holding something else
            return Fail(KCE_DBF_DESCRIPTORS_OVERRUN, "file " + path + ": field descriptor " +
                                                         std::to_string(layout.fields.size() + 1) +
                                                         " at offset " + std::to_string(pos) +
                                                         " runs past the header end at " +
                                                         std::to_string(headerLength));
        }
        FieldDescriptor f;
        size_t nameLength = 0;
        while (nameLength < 11 && d[nameLength] != 0) ++nameLength;
        f.name.assign(reinterpret_cast<const char*>(d), nameLength);
        while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
        f.type = static_cast<char>(d[11]);
        f.length = d[16];
        f.decimals = d[17];
        if (f.type == 'C') {  // lengths above 255 keep their high byte in the decimals
            f.length |= static_cast<uint32_t>(d[17]) << 8;
            f.decimals = 0;
        }
        f.flags = layout.dialect == Dialect::kVisualFoxPro ? d[18] : 0;
        f.autoincNext = LoadU32(d + 19);
        f.autoincStep = d[23];
        std::string where = "file " + path + ", field " + std::to_string(layout.fields.size() + 1);
        if (f.name.empty()) return Fail(KCE_DBF_BAD_FIELD, where + " has no name");
        where += " '" + f.name + "'";
        if (!IsKnownFieldType(f.type, layout.dialect)) {
            char type[8];
            std::snprintf(type, sizeof type,
                          std::isprint(static_cast<unsigned char>(f.type)) ? "'%c'" : "0x%02X",
                          static_cast<unsigned char>(f.type));
            return Fail(KCE_DBF_UNKNOWN_FIELD_TYPE, where + " has type " + type);
        }
        if (f.length == 0) return Fail(KCE_DBF_BAD_FIELD, where + " has length 0");
        f.offset = offset;
        offset += f.length;
        if (IsMemoType(f.type, layout.dialect) && layout.memo == MemoKind::kNone) {
            layout.memo = (layout.dialect == Dialect::kDBase) ? MemoKind::kDbt : MemoKind::kFpt;
        }
        layout.fields.push_back(std::move(f));
    }
    if (layout.fields.empty()) {
        return Fail(KCE_NO_FIELDS, "file " + path + " has no field descriptors");
    }
    layout.fieldsLength = offset;
    *out = std::move(layout);
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::CountFrom(uint64_t size, uint32_t headerCount, uint32_t hidden,
                             uint32_t* count) const {
    const uint64_t bySize =
        size < header_.headerLength
            ? 0
            : std::min<uint64_t>((size - header_.headerLength) / header_.recordLength, 0xFFFFFFFFu);
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(bySize, headerCount));
    // Past the header's count a record begins with its deletion flag: what begins otherwise is
    // padding another writer left after the end marker (0x1A, zeros), and the records end there.
    // Record `hidden` carries the end marker in its flag's place (DeferCount).
    while (n < bySize) {
        if (n + 1 != hidden) {
            uint8_t flag = 0;
            uint64_t at = header_.headerLength + uint64_t{n} * header_.recordLength;
            if (KCESTATUS s = file_.ReadExact(at, &flag, 1, "record " + std::to_string(n + 1))) {
                return s;
            }
            if (flag != kKept && flag != kDeleted) break;
        }
        ++n;
    }
    *count = n;
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::CountRecords(uint64_t size) {
    const uint64_t bySize =
        size < header_.headerLength
            ? 0
            : std::min<uint64_t>((size - header_.headerLength) / header_.recordLength, 0xFFFFFFFFu);
    if (countDeferred_) {
        // This process's own transaction, which alone appends: its appends counted themselves.
        count_ = static_cast<uint32_t>(std::min<uint64_t>(count_, bySize));
        return KCE_SUCCESS;
    }
    uint8_t stored[4];
    if (KCESTATUS s = file_.ReadExact(4, stored, 4, "DBF header")) return s;
    header_.recordCount = LoadU32(stored);
    // The size is read before the journal is looked for: a transaction that begins after the
    // size was read added nothing to it, and one that commits meanwhile has published its count.
    if (::access(rtl::OsPath(RollbackJournal::PathFor(Path())).c_str(), F_OK) != 0) {
        return CountFrom(size, header_.recordCount, 0, &count_);
    }
    count_ = static_cast<uint32_t>(std::min<uint64_t>(header_.recordCount, bySize));
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::Create(const std::string& path, uint8_t version, uint8_t tableFlags,
                          uint8_t codePage, std::vector<FieldDescriptor> fields,
                          std::unique_ptr<DbfFile>* out) {
    if (fields.empty()) return Fail(KCE_NO_FIELDS, "table " + path);
    const Dialect dialect = DialectOf(version);
    uint32_t offset = 1;
    for (FieldDescriptor& f : fields) {
        f.offset = offset;
        offset += f.length;
    }
    if (offset > 0xFFFF) {
        return Fail(KCE_INVALID_FIELD_LENGTH, "table " + path + ": records of " +
                                                  std::to_string(offset) +
                                                  " bytes are longer than a DBF allows (65535)");
    }
    const size_t headerLength =
        32 + 32 * fields.size() + 1 + (dialect == Dialect::kVisualFoxPro ? kBacklinkSize : 0);
    if (headerLength > 0xFFFF) {
        return Fail(KCE_INVALID_ARGUMENT, "table " + path + ": too many fields for a DBF header");
    }
    std::vector<uint8_t> area(headerLength + 1, 0);
    area[0] = version;
    int y, m, d;
    Today(&y, &m, &d);
    area[1] = static_cast<uint8_t>(y - 1900);
    area[2] = static_cast<uint8_t>(m);
    area[3] = static_cast<uint8_t>(d);
    StoreU16(&area[8], static_cast<uint16_t>(headerLength));
    StoreU16(&area[10], static_cast<uint16_t>(offset));
    area[28] = tableFlags;
    area[29] = codePage;
    for (size_t i = 0; i < fields.size(); ++i) {
        const FieldDescriptor& f = fields[i];
        uint8_t* p = &area[32 + 32 * i];
        std::memcpy(p, f.name.data(), std::min<size_t>(f.name.size(), 10));
        p[11] = static_cast<uint8_t>(f.type);
        if (dialect == Dialect::kVisualFoxPro) StoreU32(p + 12, f.offset);
        p[16] = static_cast<uint8_t>(f.length);
        p[17] = f.type == 'C' ? static_cast<uint8_t>(f.length >> 8) : f.decimals;
        p[18] = f.flags;
        StoreU32(p + 19, f.autoincNext);
        p[23] = f.autoincStep;
    }
    area[32 + 32 * fields.size()] = kDescriptorEnd;
    area[headerLength] = kEndOfFile;

    auto file = std::make_unique<DbfFile>();
    if (KCESTATUS s = file->file_.Create(path, false)) return s;
    if (KCESTATUS s = file->file_.WriteAt(0, area.data(), area.size())) return s;
    if (KCESTATUS s = file->Load()) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::Refresh() {
    uint64_t size = 0;
    if (KCESTATUS s = file_.Size(&size)) return s;
    for (size_t i = 0; i < fields_.size(); ++i) {
        if ((fields_[i].flags & kFieldAutoinc) != kFieldAutoinc) continue;
        uint8_t next[4];
        if (KCESTATUS s = file_.ReadExact(32 + 32 * i + 19, next, 4, "autoincrement counter")) {
            return s;
        }
        fields_[i].autoincNext = LoadU32(next);
    }
    return CountRecords(size);
}

KCESTATUS DbfFile::DeferCount() {
    if (header_.recordCount != count_) {
        if (KCESTATUS s = StampHeader(true)) return s;
    }
    countDeferred_ = true;
    KCE_INVARIANT(header_.recordCount == count_);
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::PublishCount() {
    if (!countDeferred_) return KCE_SUCCESS;
    if (count_ > header_.recordCount) {
        // The first record of the transaction gets its deletion flag back in place of the marker.
        const uint64_t at = RecordOffset(header_.recordCount + 1);
        if (KCESTATUS s = file_.WriteAt(at, &hiddenFlag_, 1)) return s;
    }
    countDeferred_ = false;
    if (header_.recordCount != count_) {
        if (KCESTATUS s = StampHeader(true)) return s;
    }
    KCE_INVARIANT(header_.recordCount == count_);
    return KCE_SUCCESS;
}

bool DbfFile::HoldsMarker(uint32_t recno) const {
    return countDeferred_ && recno == header_.recordCount + 1;
}

uint64_t DbfFile::RecordOffset(uint32_t recno) const {
    // Records 1..count lie one after the other between the header and the end marker.
    KCE_INVARIANT(recno >= 1 && recno <= count_);
    KCE_INVARIANT(header_.headerLength >= 64 && header_.recordLength >= 2);
    return header_.headerLength + uint64_t{recno - 1} * header_.recordLength;
}

KCESTATUS DbfFile::ReadRecord(uint32_t recno, uint8_t* record) const {
    if (recno < 1 || recno > count_) {
        return Fail(KCE_INVALID_RECORD, "record " + std::to_string(recno) + " of " + Path() +
                                            " (the table has " + std::to_string(count_) + ")");
    }
    uint64_t at = RecordOffset(recno);
    if (KCESTATUS s =
            file_.ReadExact(at, record, header_.recordLength, "record " + std::to_string(recno))) {
        return s;
    }
    if (HoldsMarker(recno)) record[0] = hiddenFlag_;
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::StampHeader(bool withCount) {
    int y, m, d;
    Today(&y, &m, &d);
    uint8_t stamp[7] = {static_cast<uint8_t>(y - 1900), static_cast<uint8_t>(m),
                        static_cast<uint8_t>(d)};
    StoreU32(stamp + 3, count_);
    withCount = withCount && !countDeferred_;
    if (KCESTATUS s = file_.WriteAt(1, stamp, withCount ? 7 : 3)) return s;
    header_.year = y;
    header_.month = m;
    header_.day = d;
    if (withCount) header_.recordCount = count_;
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::WriteRecord(uint32_t recno, const uint8_t* record) {
    if (recno < 1 || recno > count_) {
        return Fail(KCE_INVALID_RECORD, "record " + std::to_string(recno) + " of " + Path() +
                                            " (the table has " + std::to_string(count_) + ")");
    }
    uint64_t at = RecordOffset(recno);
    if (HoldsMarker(recno)) {
        std::vector<uint8_t> marked(record, record + header_.recordLength);
        marked[0] = kEndOfFile;
        if (KCESTATUS s = file_.WriteAt(at, marked.data(), marked.size())) return s;
        hiddenFlag_ = record[0];
    } else if (KCESTATUS s = file_.WriteAt(at, record, header_.recordLength)) {
        return s;
    }
    return StampHeader(header_.recordCount != count_);
}

KCESTATUS DbfFile::AppendRecord(const uint8_t* record, uint32_t* recno) {
    uint64_t at = header_.headerLength + uint64_t{count_} * header_.recordLength;
    if (count_ == 0xFFFFFFFFu || at + header_.recordLength + 1 > (uint64_t{1} << 32)) {
        return Fail(KCE_DBF_TOO_LARGE, "file " + Path() + " would pass 4 GiB or 2^32 records");
    }
    std::vector<uint8_t> buf(header_.recordLength + 1);
    std::memcpy(buf.data(), record, header_.recordLength);
    buf.back() = kEndOfFile;
    const bool first = HoldsMarker(count_ + 1);
    if (first) buf[0] = kEndOfFile;
    // Record and end marker first, the count after: a kill in between leaves the record in the
    // file, found by its size.
    if (KCESTATUS s = file_.WriteAt(at, buf.data(), buf.size())) return Undo(at, s);
    if (first) hiddenFlag_ = record[0];
    ++count_;
    if (KCESTATUS s = StampHeader(true)) {
        --count_;
        return Undo(at, s);
    }
    *recno = count_;
    // The record just written is the last one; the header counts it unless a transaction defers
    // the count.
    KCE_INVARIANT(RecordOffset(count_) == at);
    KCE_INVARIANT(countDeferred_ || header_.recordCount == count_);
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::Undo(uint64_t end, KCESTATUS failure) {
    // A failed append takes back what it wrote, so the caller's failure leaves the file as it
    // was; the caller sees the text of the first failure.
    const std::string text = LastText();
    const uint8_t marker = kEndOfFile;
    if (file_.Truncate(end + 1) == KCE_SUCCESS) (void)file_.WriteAt(end, &marker, 1);
    const std::string prefix = std::string(StatusText(failure) ? StatusText(failure) : "") + ": ";
    return Fail(failure, text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text);
}

KCESTATUS DbfFile::Truncate(uint32_t count) {
    if (count > count_) return Fail(KCE_INVALID_ARGUMENT, "cannot grow " + Path() + " by cutting");
    uint64_t end = header_.headerLength + uint64_t{count} * header_.recordLength;
    const uint8_t marker = kEndOfFile;
    if (KCESTATUS s = file_.WriteAt(end, &marker, 1)) return s;
    if (KCESTATUS s = file_.Truncate(end + 1)) return s;
    count_ = count;
    if (KCESTATUS s = StampHeader(true)) return s;
    KCE_INVARIANT(countDeferred_ || header_.recordCount == count_);
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::Zap() { return Truncate(0); }

KCESTATUS DbfFile::CopyLayoutTo(const std::string& path, std::unique_ptr<DbfFile>* out) const {
    std::vector<uint8_t> area(header_.headerLength + 1);
    if (KCESTATUS s = file_.ReadExact(0, area.data(), header_.headerLength, "DBF header")) return s;
    StoreU32(&area[4], 0);
    area.back() = kEndOfFile;
    auto file = std::make_unique<DbfFile>();
    if (KCESTATUS s = file->file_.Create(path, true)) return s;
    if (KCESTATUS s = file->file_.WriteAt(0, area.data(), area.size())) return s;
    if (KCESTATUS s = file->Load()) return s;
    *out = std::move(file);
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::ReplaceWith(const std::string& path) {
    if (KCESTATUS s = file_.CopyFrom(path)) return s;
    return Load();
}

KCESTATUS DbfFile::WriteAutoincNext(size_t field, uint32_t next) {
    uint8_t bytes[4];
    StoreU32(bytes, next);
    if (KCESTATUS s = file_.WriteAt(32 + 32 * field + 19, bytes, 4)) return s;
    fields_[field].autoincNext = next;
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::Check(DbfCheck* out) const {
    uint64_t size = 0;
    if (KCESTATUS s = file_.Size(&size)) return s;
    uint8_t head[8];
    if (KCESTATUS s = file_.ReadExact(0, head, sizeof head, "DBF header")) return s;
    DbfCheck c;
    c.headerCount = LoadU32(head + 4);
    c.fileSize = size;
    if (size < header_.headerLength) {
        c.headerCut = true;
        *out = c;
        return KCE_SUCCESS;
    }
    const uint64_t body = size - header_.headerLength;
    c.recordsBySize =
        static_cast<uint32_t>(std::min<uint64_t>(body / header_.recordLength, 0xFFFFFFFFu));
    const uint32_t hidden =
        countDeferred_ && count_ > header_.recordCount ? header_.recordCount + 1 : 0;
    if (KCESTATUS s = CountFrom(size, c.headerCount, hidden, &c.records)) return s;
    const uint64_t end = header_.headerLength + uint64_t{c.records} * header_.recordLength;
    const uint64_t rest = size - end;
    if (rest == 0) {
        c.endMarkerMissing = true;
        *out = c;
        return KCE_SUCCESS;
    }
    uint8_t first = 0;
    if (KCESTATUS s = file_.ReadExact(end, &first, 1, "end marker")) return s;
    c.endMarkerMissing = first != kEndOfFile;
    if (rest > 1 && (first == kKept || first == kDeleted)) {
        c.partialRecord = true;  // a record's flag, then fewer bytes than a record
    } else if (rest > 1) {
        c.paddingBytes = rest - (c.endMarkerMissing ? 0 : 1);
        c.paddingByte = first == kEndOfFile ? 0 : first;
        uint8_t next = 0;
        if (!c.endMarkerMissing && file_.ReadExact(end + 1, &next, 1, "padding") == KCE_SUCCESS) {
            c.paddingByte = next;
        }
    }
    *out = c;
    return KCE_SUCCESS;
}

KCESTATUS DbfFile::Repair() {
    uint64_t size = 0;
    if (KCESTATUS s = file_.Size(&size)) return s;
    if (size < header_.headerLength) {
        // Cutting to the records would write the end marker into the header's place.
        return Fail(KCE_DBF_TRUNCATED, "file " + Path() + " is " + std::to_string(size) +
                                           " bytes long and ends inside its header of " +
                                           std::to_string(header_.headerLength) +
                                           " bytes: it is not repaired");
    }
    if (KCESTATUS s = Refresh()) return s;
    return Truncate(count_);
}

}  // namespace kce::dbf
