#include "engine/dbf/dbf_repair.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/byte_order.h"
#include "engine/dbf/dbf_file.h"
#include "engine/dbf/raw_file.h"
#include "engine/journal.h"
#include "engine/paths.h"
#include "engine/status.h"
#include "rtl/edge.h"

namespace kce::dbf {

namespace {

constexpr uint32_t kFptHeaderSize = 512;
constexpr uint32_t kFptDefaultBlockSize = 64;
constexpr uint32_t kDbtBlockSize = 512;
constexpr uint8_t kDbtBlockMark[4] = {0xFF, 0xFF, 0x08, 0x00};

std::string Hex(uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

// Bytes as they can be shown on one line: printable ASCII as it is, the rest as \xHH.
std::string Quoted(const uint8_t* p, size_t n) {
    std::string out = "'";
    for (size_t i = 0; i < n; ++i) {
        if (p[i] >= 0x20 && p[i] < 0x7F && p[i] != '\\') {
            out += static_cast<char>(p[i]);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", p[i]);
            out += esc;
        }
    }
    return out + "'";
}

bool IsFlag(uint8_t b) { return b == kKept || b == kDeleted; }
bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }

// What other writers leave after the records: end markers and zeros.
bool IsPadding(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != 0 && p[i] != kEndOfFile) return false;
    }
    return true;
}
bool IsUniform(const uint8_t* p, size_t n) {
    for (size_t i = 1; i < n; ++i) {
        if (p[i] != p[0]) return false;
    }
    return true;
}

// Blanks (or zeros) around an optional sign, digits with an optional point, and an optional
// exponent; all blank is the empty value.
bool ReadableNumber(const uint8_t* p, size_t n) {
    size_t i = 0;
    auto blanks = [&] {
        while (i < n && (p[i] == ' ' || p[i] == 0)) ++i;
    };
    blanks();
    if (i == n) return true;
    if (p[i] == '+' || p[i] == '-') ++i;
    size_t digits = 0;
    while (i < n && IsDigit(p[i])) ++i, ++digits;
    if (i < n && p[i] == '.') {
        ++i;
        while (i < n && IsDigit(p[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (p[i] == 'e' || p[i] == 'E')) {
        ++i;
        if (i < n && (p[i] == '+' || p[i] == '-')) ++i;
        size_t exponent = 0;
        while (i < n && IsDigit(p[i])) ++i, ++exponent;
        if (exponent == 0) return false;
    }
    blanks();
    return i == n;
}

// YYYYMMDD of a real day; all blanks, zeros or zero digits is the empty date.
bool ReadableDate(const uint8_t* p, size_t n) {
    bool empty = true;
    for (size_t i = 0; i < n; ++i) empty = empty && (p[i] == ' ' || p[i] == 0 || p[i] == '0');
    if (empty) return true;
    if (n != 8) return false;
    for (size_t i = 0; i < 8; ++i) {
        if (!IsDigit(p[i])) return false;
    }
    auto number = [&](size_t at, size_t len) {
        int v = 0;
        for (size_t i = at; i < at + len; ++i) v = v * 10 + (p[i] - '0');
        return v;
    };
    const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return !(month == 2 && day == 29 && !leap);
}

// Fields whose empty value is zero bytes rather than blanks.
bool IsBinaryField(const FieldDescriptor& f, Dialect dialect) {
    if (dialect != Dialect::kVisualFoxPro) return false;
    switch (f.type) {
        case 'I':
        case 'Y':
        case 'T':
        case 'B':
        case '0':
            return true;
        default:
            return IsMemoFieldType(f.type, dialect) && f.length == 4;
    }
}

void MakeEmpty(uint8_t* p, const FieldDescriptor& f, Dialect dialect) {
    std::memset(p, IsBinaryField(f, dialect) ? 0 : ' ', f.length);
}

// The block number a memo field holds: four bytes little-endian, or digits (blanks and zeros
// around them). *readable is false for anything else.
uint64_t MemoPointer(const uint8_t* p, uint32_t length, bool* readable) {
    *readable = true;
    if (length == 4) return LoadU32(p);
    uint64_t v = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (IsDigit(p[i])) {
            v = v * 10 + (p[i] - '0');
            if (v > 0xFFFFFFFFu) {
                *readable = false;
                return 0;
            }
        } else if (p[i] != ' ' && p[i] != 0) {
            *readable = false;
            return 0;
        }
    }
    return v;
}

// The memo file as the plan sees it: its bytes and the block size they are read with.
struct Memo {
    MemoKind kind = MemoKind::kNone;
    bool blockHeaders = false;  // dBase IV .dbt
    std::string name;           // file name, for the findings
    std::vector<uint8_t> bytes;
    uint32_t blockSize = 0;
};

enum class At { kValue, kHeader, kPastEnd, kNoValue };

// Whether a value starts at block under the given block size; *blocks gets the blocks it takes.
At ValueAt(const Memo& m, uint32_t blockSize, uint64_t block, uint64_t* blocks) {
    const uint64_t size = m.bytes.size();
    const uint64_t at = block * blockSize;
    const uint8_t* b = m.bytes.data();
    if (m.kind == MemoKind::kFpt) {
        if (at < kFptHeaderSize) return At::kHeader;
        if (at + 8 > size) return At::kPastEnd;
        const uint32_t type = LoadBigU32(b + at);
        const uint64_t length = LoadBigU32(b + at + 4);
        if (type > 2) return At::kNoValue;
        if (at + 8 + length > size) return At::kPastEnd;
        *blocks = (8 + length + blockSize - 1) / blockSize;
        return At::kValue;
    }
    if (block == 0) return At::kHeader;
    if (at >= size) return At::kPastEnd;
    if (m.blockHeaders && at + 8 <= size && std::memcmp(b + at, kDbtBlockMark, 4) == 0) {
        const uint64_t length = LoadU32(b + at + 4);
        if (length < 8 || at + length > size) return At::kPastEnd;
        *blocks = (length + blockSize - 1) / blockSize;
        return At::kValue;
    }
    // Text up to the end mark, or to the end of the file when a writer left it out.
    const uint8_t* end = std::find(b + at, b + size, kEndOfFile);
    *blocks = (static_cast<uint64_t>(end - (b + at)) + 2 + blockSize - 1) / blockSize;
    return At::kValue;
}

// Whether a value at block carries its own header (so that finding one is evidence for the
// block size): every FoxPro value, dBase IV values with their mark.
bool HeaderedValueAt(const Memo& m, uint32_t blockSize, uint64_t block) {
    uint64_t blocks = 0;
    if (ValueAt(m, blockSize, block, &blocks) != At::kValue) return false;
    if (m.kind == MemoKind::kFpt) return true;
    const uint64_t at = block * blockSize;
    return at + 8 <= m.bytes.size() && std::memcmp(&m.bytes[at], kDbtBlockMark, 4) == 0;
}

class Planner {
  public:
    Planner(const std::string& path, DbfRepairPlan* plan) : path_(path), plan_(plan) {}

    KCESTATUS Run() {
        if (::access(rtl::OsPath(RollbackJournal::PathFor(path_)).c_str(), F_OK) == 0) {
            return Fail(KCE_NOT_EXCLUSIVE,
                        "a transaction's journal lies beside " + path_ +
                            ": open the table once with the engine, which rolls it back, first");
        }
        if (KCESTATUS s = ReadWholeFile(path_, &b_)) return s;
        if (KCESTATUS s = Layout()) return s;
        if (KCESTATUS s = Records()) return s;
        if (KCESTATUS s = LoadMemo()) return s;
        Fields();
        MemoHeader();
        Emit();
        return KCE_SUCCESS;
    }

  private:
    void Add(std::string text, std::string fix, bool warning = false) {
        plan_->findings.push_back({std::move(text), std::move(fix), warning});
    }
    std::string Rec(size_t i) const { return "record " + std::to_string(i + 1); }

    // The field list, the record length it needs, and where the records start.
    KCESTATUS Layout() {
        const uint64_t size = b_.size();
        if (size < 32) {
            return Fail(KCE_DBF_TRUNCATED, "file " + path_ + " is " + std::to_string(size) +
                                               " bytes long, shorter than a DBF header");
        }
        // The descriptors run from byte 32 to the terminator (or, in a Visual FoxPro file that
        // left it out, to the zeros of the container path).
        uint64_t end = 32;
        while (end + 32 <= size && end < 0xFFFF && b_[end] != kDescriptorEnd && b_[end] != 0) {
            end += 32;
        }
        const bool terminated = end < size && b_[end] == kDescriptorEnd;
        const uint64_t stated = LoadU16(&b_[8]);
        // The list ran into the end of a file shorter than the header it states: the file was
        // cut inside its field list, and which fields followed is lost. A table made of the
        // descriptors left (and of whatever bytes follow them) would drop the rest for good:
        // refused, nothing changed.
        if (!terminated && (end == size || (end + 32 > size && b_[end] != 0)) && size < stated) {
            return Fail(KCE_DBF_TRUNCATED,
                        "file " + path_ + " is " + std::to_string(size) +
                            " bytes long and ends inside its field list (the header gives " +
                            std::to_string(stated) +
                            " bytes): the fields it lacks cannot be told, so it is not repaired");
        }
        const uint64_t listEnd = end + (terminated ? 1 : 0);
        std::vector<uint8_t> head(b_.begin(), b_.begin() + std::min<uint64_t>(size, listEnd));
        if (head.size() < listEnd) head.resize(listEnd, kDescriptorEnd);
        if (listEnd > 0xFFFF) {
            return Fail(KCE_DBF_DESCRIPTORS_OVERRUN,
                        "file " + path_ + ": no end of the field list");
        }
        StoreU16(&head[8], static_cast<uint16_t>(listEnd));
        if (KCESTATUS s = DbfFile::ParseLayout(path_, head.data(), head.size(),
                                               std::max<uint64_t>(size, listEnd), &layout_)) {
            return s;
        }
        rl_ = layout_.fieldsLength;
        if (rl_ > 0xFFFF) {
            return Fail(KCE_DBF_RECORD_LENGTH_MISMATCH,
                        "file " + path_ + ": its fields need records of " + std::to_string(rl_) +
                            " bytes, more than a DBF holds");
        }
        const uint32_t statedRl = LoadU16(&b_[10]);
        if (statedRl != rl_) {
            Add("the header gives records of " + std::to_string(statedRl) +
                    " bytes, the fields need " + std::to_string(rl_),
                "record length set to " + std::to_string(rl_));
            recordsChanged_ = true;
        }
        // Where the records start: the stated header length unless the records are plainly
        // elsewhere (their deletion flags say where).
        auto score = [&](uint64_t h) -> int64_t {
            if (h > size || h < listEnd) return -1;
            const uint64_t slots = (size - h) / rl_;
            int64_t s = 0;
            for (uint64_t i = 0; i < std::min<uint64_t>(slots, 64); ++i) {
                if (IsFlag(b_[h + i * rl_])) s += 2;
            }
            const uint64_t rest = (size - h) % rl_;
            if (rest == 0 || (rest == 1 && b_[size - 1] == kEndOfFile)) s += 1;
            return s;
        };
        std::vector<uint64_t> candidates = {stated, listEnd};
        if (layout_.dialect == Dialect::kVisualFoxPro)
            candidates.push_back(listEnd + kBacklinkSize);
        h_ = stated;
        int64_t best = score(stated);
        for (uint64_t c : candidates) {
            if (score(c) > best) best = score(c), h_ = c;
        }
        if (best < 0) {
            // Not even the field list fits: the file is cut inside its header.
            return Fail(KCE_DBF_TRUNCATED, "file " + path_ + " is " + std::to_string(size) +
                                               " bytes long and ends inside its header");
        }
        if (h_ != stated) {
            Add("the header length is " + std::to_string(stated) + ", the field list ends at " +
                    std::to_string(listEnd) + " and the records start at " + std::to_string(h_),
                "header length set to " + std::to_string(h_));
            recordsChanged_ = true;
        }
        return KCE_SUCCESS;
    }

    const uint8_t* Slot(uint64_t i) const { return &b_[h_ + i * rl_]; }

    // The records the file holds, and what follows them.
    KCESTATUS Records() {
        const uint64_t size = b_.size();
        const uint64_t bySize = (size - h_) / rl_;
        const uint64_t counted = LoadU32(&b_[4]);
        uint64_t n = std::min(counted, bySize);
        while (n > 0 && IsPadding(Slot(n - 1), rl_)) --n;
        while (n < bySize && !IsPadding(Slot(n), rl_) &&
               (IsFlag(Slot(n)[0]) || !IsUniform(Slot(n), rl_))) {
            ++n;
        }
        records_ = n;
        const uint64_t e = h_ + n * rl_;
        const uint64_t tail = size - e;
        if (tail == 0) {
            Add("warning: the end-of-file marker 0x1A is missing", "0x1A written after the records",
                true);
        } else if (tail > 1 && tail < rl_ && IsFlag(b_[e])) {
            partial_ = tail;
            Add(Rec(n) + " is cut short: the file ends " + std::to_string(tail) + " of its " +
                    std::to_string(rl_) + " bytes into it",
                "kept, the fields it lacks (or holds in part) set empty");
            recordsChanged_ = true;
        } else if (b_[e] == kEndOfFile) {
            if (tail > 1) {
                Add("warning: " + std::to_string(tail - 1) + " bytes of padding (" +
                        Hex(b_[e + 1]) + "...) follow the end marker",
                    "dropped", true);
            }
        } else if (tail == 1) {
            Add("the byte after the records is " + Hex(b_[e]) + ", not the end marker 0x1A",
                "replaced by 0x1A");
        } else if (IsPadding(&b_[e], tail)) {
            Add("warning: " + std::to_string(tail) + " bytes of padding (" + Hex(b_[e]) +
                    "...) follow the records, with no end marker before them",
                "dropped, 0x1A written after the records", true);
        } else {
            Add(std::to_string(tail) + " bytes after the last record are neither records nor " +
                    "padding (they begin with " + Hex(b_[e]) + ")",
                "dropped, 0x1A written after the records");
        }
        const uint64_t holds = records_ + (partial_ ? 1 : 0);
        if (counted != holds) {
            Add("the header counts " + std::to_string(counted) + " records, the file holds " +
                    std::to_string(holds),
                "count set to " + std::to_string(holds));
            recordsChanged_ = true;
        }
        out_.assign(b_.begin(), b_.begin() + h_);
        out_.insert(out_.end(), b_.begin() + h_, b_.begin() + e);
        if (partial_) {
            out_.insert(out_.end(), b_.begin() + e, b_.end());
            // The bytes the file lacks, and the field they cut through, are made empty.
            const uint64_t start = out_.size() - partial_;
            out_.resize(start + rl_, ' ');
            for (const FieldDescriptor& f : layout_.fields) {
                if (f.offset + f.length > partial_)
                    MakeEmpty(&out_[start + f.offset], f, layout_.dialect);
            }
        }
        StoreU32(&out_[4], static_cast<uint32_t>(holds));
        StoreU16(&out_[8], static_cast<uint16_t>(h_));
        StoreU16(&out_[10], static_cast<uint16_t>(rl_));
        out_.push_back(kEndOfFile);
        return KCE_SUCCESS;
    }

    size_t Count() const { return records_ + (partial_ ? 1 : 0); }
    uint8_t* Record(size_t i) { return &out_[h_ + i * rl_]; }

    KCESTATUS LoadMemo() {
        if (layout_.memo == MemoKind::kNone) return KCE_SUCCESS;
        const uint8_t v = layout_.header.version;
        memo_.kind = layout_.memo;
        memo_.blockHeaders = v == 0x8B || v == 0x8E || v == 0xCB;
        std::string path = Sibling(path_, memo_.kind == MemoKind::kFpt ? ".fpt" : ".dbt");
        if (memo_.kind == MemoKind::kDbt && v == 0x03 &&
            ::access(rtl::OsPath(path).c_str(), F_OK) != 0) {
            // A plain dBase file with memo fields, written by a FoxPro-minded tool.
            memo_.kind = MemoKind::kFpt;
            memo_.blockHeaders = false;
            path = Sibling(path_, ".fpt");
        }
        if (KCESTATUS s = ReadWholeFile(path, &memo_.bytes)) {
            if (s != KCE_FILE_NOT_FOUND) return s;
            MissingMemo();
            return KCE_SUCCESS;
        }
        plan_->memoPath = path;
        memo_.name = FileName(path);
        const uint64_t min = memo_.kind == MemoKind::kFpt ? 8 : 4;
        if (memo_.bytes.size() < min) {
            return Fail(KCE_MEMO_FILE_DAMAGED,
                        "file " + path + " is too short for a memo header; it cannot be repaired");
        }
        memoOut_ = memo_.bytes;
        ChooseBlockSize();
        return KCE_SUCCESS;
    }

    // No memo file beside a table whose fields want one: the repair makes an empty one of the
    // table's kind (as the engine would create it), and every pointer into it is emptied.
    void MissingMemo() {
        const uint8_t v = layout_.header.version;
        memo_.kind = layout_.memo;
        memo_.blockHeaders = v == 0x8B || v == 0x8E || v == 0xCB;
        const bool fpt = memo_.kind == MemoKind::kFpt;
        const std::string path = Sibling(path_, fpt ? ".fpt" : ".dbt");
        plan_->memoPath = path;
        memo_.name = FileName(path);
        memo_.blockSize = fpt ? kFptDefaultBlockSize : kDbtBlockSize;
        memo_.bytes.assign(fpt ? kFptHeaderSize : kDbtBlockSize, 0);
        if (fpt) {
            StoreBigU32(memo_.bytes.data(), kFptHeaderSize / kFptDefaultBlockSize);
            memo_.bytes[6] = static_cast<uint8_t>(kFptDefaultBlockSize >> 8);
            memo_.bytes[7] = static_cast<uint8_t>(kFptDefaultBlockSize);
        } else {
            StoreU32(memo_.bytes.data(), 1);
            if (memo_.blockHeaders) StoreU16(&memo_.bytes[20], kDbtBlockSize);
        }
        memoMissing_ = true;
        memoOut_ = memo_.bytes;
        memoChanged_ = true;
        Add(memo_.name + ", the memo file of the table, is missing",
            "an empty " + memo_.name + " made");
    }

    // Every non-empty memo pointer of the records.
    std::vector<uint64_t> Pointers() {
        std::vector<uint64_t> out;
        for (size_t r = 0; r < Count(); ++r) {
            for (const FieldDescriptor& f : layout_.fields) {
                if (!IsMemoFieldType(f.type, layout_.dialect)) continue;
                bool readable = false;
                uint64_t p = MemoPointer(Record(r) + f.offset, f.length, &readable);
                if (readable && p != 0) out.push_back(p);
            }
        }
        return out;
    }

    // The block size under which the most pointers find a value; the stated one when it does
    // as well as any.
    void ChooseBlockSize() {
        const uint8_t* h = memo_.bytes.data();
        uint32_t stated = 512;
        if (memo_.kind == MemoKind::kFpt) {
            stated = static_cast<uint32_t>((h[6] << 8) | h[7]);
        } else if (memo_.blockHeaders) {
            const uint32_t given = memo_.bytes.size() >= 22 ? (h[20] | (h[21] << 8)) : 0;
            stated = given >= 64 ? given : 512;
        } else {
            memo_.blockSize = 512;  // dBase III: always
            return;
        }
        const std::vector<uint64_t> pointers = Pointers();
        auto score = [&](uint32_t size) {
            int n = 0;
            for (uint64_t p : pointers) n += HeaderedValueAt(memo_, size, p) ? 1 : 0;
            return n;
        };
        memo_.blockSize = stated;
        int best = stated == 0 ? -1 : score(stated);
        for (uint32_t size : {64u, 512u, 32u, 16u, 128u, 256u, 1024u, 8u, 1u, 2048u, 4096u}) {
            if (size == stated) continue;
            int s = score(size);
            if (s > best) best = s, memo_.blockSize = size;
        }
        if (memo_.blockSize == stated) return;
        Add(memo_.name + ": the header gives blocks of " + std::to_string(stated) +
                " bytes, the values lie where blocks of " + std::to_string(memo_.blockSize) +
                " put them",
            "block size set to " + std::to_string(memo_.blockSize));
        if (memo_.kind == MemoKind::kFpt) {
            memoOut_[6] = static_cast<uint8_t>(memo_.blockSize >> 8);
            memoOut_[7] = static_cast<uint8_t>(memo_.blockSize);
        } else {
            if (memoOut_.size() < 22) memoOut_.resize(22, 0);
            StoreU16(&memoOut_[20], static_cast<uint16_t>(memo_.blockSize));
        }
        memoChanged_ = true;
    }

    // Deletion flags, numbers, dates and memo pointers, record by record.
    void Fields() {
        struct Value {
            uint64_t first, end;  // blocks
            size_t record;
            const FieldDescriptor* field;
        };
        std::vector<Value> values;
        for (size_t r = 0; r < Count(); ++r) {
            uint8_t* rec = Record(r);
            if (!IsFlag(rec[0])) {
                Add(Rec(r) + ": the deletion flag is " + Hex(rec[0]) + ", neither blank nor '*'",
                    "set blank (the record is kept)");
                rec[0] = kKept;
                recordsChanged_ = true;
            }
            for (const FieldDescriptor& f : layout_.fields) {
                uint8_t* p = rec + f.offset;
                const std::string where = Rec(r) + ", field " + f.name + ": ";
                // Numbers and dates are text in every dialect (Visual FoxPro keeps its binary
                // numbers in I, Y, B and T fields, which any bytes fill).
                const bool number = f.type == 'N' || f.type == 'F';
                const bool date = f.type == 'D';
                if ((number && !ReadableNumber(p, f.length)) ||
                    (date && !ReadableDate(p, f.length))) {
                    Add(where + "the " + (number ? "number " : "date ") + Quoted(p, f.length) +
                            " cannot be read",
                        "set empty");
                    MakeEmpty(p, f, layout_.dialect);
                    recordsChanged_ = true;
                    continue;
                }
                if (!IsMemoFieldType(f.type, layout_.dialect) || memo_.kind == MemoKind::kNone) {
                    continue;
                }
                bool readable = false;
                const uint64_t block = MemoPointer(p, f.length, &readable);
                std::string fault;
                uint64_t blocks = 0;
                if (!readable) {
                    fault = "the memo pointer " + Quoted(p, f.length) + " cannot be read";
                } else if (block != 0 && memoMissing_) {
                    fault = "memo block " + std::to_string(block) + " lies in the missing " +
                            memo_.name;
                } else if (block != 0) {
                    switch (ValueAt(memo_, memo_.blockSize, block, &blocks)) {
                        case At::kValue:
                            values.push_back({block, block + blocks, r, &f});
                            break;
                        case At::kHeader:
                            fault = "memo block " + std::to_string(block) +
                                    " lies in the header of " + memo_.name;
                            break;
                        case At::kPastEnd:
                            fault = "memo block " + std::to_string(block) +
                                    " starts or runs past the end of " + memo_.name + " (" +
                                    std::to_string(memo_.bytes.size()) + " bytes)";
                            break;
                        case At::kNoValue:
                            fault = "memo block " + std::to_string(block) + " of " + memo_.name +
                                    " does not start a value";
                            break;
                    }
                }
                if (!fault.empty()) {
                    Add(where + fault, "set empty");
                    MakeEmpty(p, f, layout_.dialect);
                    recordsChanged_ = true;
                }
            }
        }
        // A pointer into the blocks of another record's value: the value there is the other's.
        std::stable_sort(values.begin(), values.end(),
                         [](const Value& a, const Value& b) { return a.first < b.first; });
        const Value* owner = nullptr;
        for (const Value& v : values) {
            if (owner && v.first == owner->first) {
                Add("warning: " + Rec(v.record) + ", field " + v.field->name + " and " +
                        Rec(owner->record) + ", field " + owner->field->name +
                        " share memo block " + std::to_string(v.first),
                    "", true);
                continue;
            }
            if (owner && v.first < owner->end) {
                Add(Rec(v.record) + ", field " + v.field->name + ": memo block " +
                        std::to_string(v.first) + " lies inside the value of " +
                        Rec(owner->record) + ", field " + owner->field->name + " (blocks " +
                        std::to_string(owner->first) + " to " + std::to_string(owner->end - 1) +
                        ")",
                    "set empty");
                MakeEmpty(Record(v.record) + v.field->offset, *v.field, layout_.dialect);
                recordsChanged_ = true;
                continue;
            }
            owner = &v;
            valuesEnd_ = std::max(valuesEnd_, v.end);
        }
    }

    // The next free block: behind the values would let a new value overwrite them, past the end
    // of the file sends the next value into a hole.
    void MemoHeader() {
        if (memo_.kind == MemoKind::kNone) return;
        const uint32_t bs = memo_.blockSize;
        const bool fpt = memo_.kind == MemoKind::kFpt;
        const uint64_t first = fpt ? (kFptHeaderSize + bs - 1) / bs : 1;
        const uint64_t end =
            std::max<uint64_t>({first, (memo_.bytes.size() + bs - 1) / bs, valuesEnd_});
        const uint64_t stated = fpt ? LoadBigU32(memo_.bytes.data()) : LoadU32(memo_.bytes.data());
        if (stated >= valuesEnd_ && stated >= first && stated <= end) return;
        if (end > 0xFFFFFFFFu) return;
        Add(memo_.name + ": the header gives " + std::to_string(stated) +
                " as the next free block, the values end at block " + std::to_string(end),
            "next free block set to " + std::to_string(end));
        if (fpt) {
            StoreBigU32(memoOut_.data(), static_cast<uint32_t>(end));
        } else {
            StoreU32(memoOut_.data(), static_cast<uint32_t>(end));
        }
        memoChanged_ = true;
    }

    void Emit() {
        plan_->recordsChanged = recordsChanged_;
        bool changes = false;
        for (const RepairFinding& f : plan_->findings) changes = changes || !f.fix.empty();
        plan_->memoChanged = memoChanged_;
        plan_->dbfChanged = changes && (out_ != b_);
        if (plan_->dbfChanged) plan_->dbf = std::move(out_);
        if (memoChanged_) plan_->memo = std::move(memoOut_);
    }

    const std::string path_;
    DbfRepairPlan* plan_;
    std::vector<uint8_t> b_;    // the table file as it is
    std::vector<uint8_t> out_;  // as repaired
    DbfLayout layout_;
    uint64_t h_ = 0;   // where the records start
    uint64_t rl_ = 0;  // record length
    uint64_t records_ = 0;
    uint64_t partial_ = 0;  // bytes of a record cut short after the whole ones
    bool recordsChanged_ = false;
    Memo memo_;
    std::vector<uint8_t> memoOut_;
    bool memoChanged_ = false;
    bool memoMissing_ = false;  // memoOut_ is a new, empty memo file
    uint64_t valuesEnd_ = 0;
};

KCESTATUS Step(const std::function<KCESTATUS(const std::string&)>& beforeStep,
               const std::string& what) {
    if (!beforeStep) return KCE_SUCCESS;
    if (KCESTATUS s = beforeStep(what)) return Fail(s, what);
    return KCE_SUCCESS;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(rtl::OsPath(path).c_str(), &st) == 0;
}

}  // namespace

bool DbfRepairPlan::Damaged() const {
    for (const RepairFinding& f : findings) {
        if (!f.warning) return true;
    }
    return false;
}

KCESTATUS PlanDbfRepair(const std::string& path, DbfRepairPlan* out) {
    *out = DbfRepairPlan{};
    return Planner(path, out).Run();
}

KCESTATUS ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
    RawFile file;
    if (KCESTATUS s = file.Open(path, true)) return s;
    uint64_t size = 0;
    if (KCESTATUS s = file.Size(&size)) return s;
    bytes->resize(size);
    return file.ReadExact(0, bytes->data(), bytes->size(), "the whole file");
}

KCESTATUS WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    RawFile file;
    if (KCESTATUS s = file.Create(path, true)) return s;
    if (KCESTATUS s = file.Truncate(0)) return s;
    if (!bytes.empty()) {
        if (KCESTATUS s = file.WriteAt(0, bytes.data(), bytes.size())) return s;
    }
    return file.Sync();
}

std::string BackupPath(const std::string& path) { return path + ".bak"; }

KCESTATUS InstallStaged(const std::vector<StagedFile>& files,
                        const std::function<KCESTATUS(const std::string&)>& beforeStep,
                        std::vector<std::string>* backups) {
    backups->clear();
    // An original that is not there (a memo file the repair makes anew) has nothing to back up;
    // its staged file is renamed into place, and removed again on undo.
    std::vector<bool> fresh;
    for (const StagedFile& f : files) fresh.push_back(!Exists(f.original));
    for (size_t i = 0; i < files.size(); ++i) {
        const StagedFile& f = files[i];
        if (fresh[i]) continue;
        if (Exists(BackupPath(f.original))) {
            return Fail(KCE_FILE_WRITE_FAILED,
                        "the backup " + BackupPath(f.original) +
                            " already exists; move it away (it may be the only copy of an "
                            "earlier original) and repair again");
        }
    }
    std::vector<std::string> made;      // backups written
    std::vector<std::string> replaced;  // originals a staged file took the place of
    std::vector<std::string> created;   // files put where there was none
    auto undo = [&](KCESTATUS failure) {
        const std::string text = LastText();
        for (auto it = replaced.rbegin(); it != replaced.rend(); ++it) {
            (void)std::rename(rtl::OsPath(BackupPath(*it)).c_str(), rtl::OsPath(*it).c_str());
        }
        for (const std::string& file : created) (void)std::remove(rtl::OsPath(file).c_str());
        for (const std::string& bak : made) {
            if (std::find(replaced.begin(), replaced.end(), bak.substr(0, bak.size() - 4)) ==
                replaced.end()) {
                (void)std::remove(rtl::OsPath(bak).c_str());
            }
        }
        const std::string prefix =
            std::string(StatusText(failure) ? StatusText(failure) : "") + ": ";
        return Fail(failure, text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text);
    };
    for (size_t i = 0; i < files.size(); ++i) {
        const StagedFile& f = files[i];
        if (fresh[i]) continue;
        const std::string bak = BackupPath(f.original);
        if (KCESTATUS s = Step(beforeStep, "copy " + f.original + " to " + bak)) return undo(s);
        std::vector<uint8_t> bytes;
        KCESTATUS s = ReadWholeFile(f.original, &bytes);
        if (s == KCE_SUCCESS) {
            made.push_back(bak);
            s = WriteWholeFile(bak, bytes);
        }
        if (s) return undo(s);
        struct stat st;
        if (::stat(rtl::OsPath(f.original).c_str(), &st) == 0) {
            (void)::chmod(rtl::OsPath(f.staged).c_str(), st.st_mode & 07777);
        }
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const StagedFile& f = files[i];
        if (KCESTATUS s = Step(beforeStep, "rename " + f.staged + " to " + f.original)) {
            return undo(s);
        }
        if (std::rename(rtl::OsPath(f.staged).c_str(), rtl::OsPath(f.original).c_str()) != 0) {
            return undo(Fail(KCE_FILE_WRITE_FAILED, "cannot rename " + f.staged + " to " +
                                                        f.original + ": " + std::strerror(errno)));
        }
        (fresh[i] ? created : replaced).push_back(f.original);
    }
    *backups = std::move(made);
    return KCE_SUCCESS;
}

}  // namespace kce::dbf
