#include "engine/sql/result_set.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "engine/byte_order.h"
#include "engine/cursor.h"
#include "engine/field_text.h"
#include "engine/native/kdt_values.h"
#include "engine/settings.h"
#include "engine/sql/sql_table.h"
#include "engine/status.h"
#include "engine/text.h"

namespace kce::sql {
namespace {

constexpr UNSIGNED32 kLongestChar = 254;

class ResultStorage : public Storage {
  public:
    ResultStorage(RecordLayout layout) {
        layout_ = std::move(layout);
        path_ = "SQL result";
        for (const FieldDesc& f : layout_.fields) hasBlobs_ = hasBlobs_ || IsBlobType(f.type);
    }
    UNSIGNED16 TableType() const override { return KCE_KDT; }
    bool StaticResult() const override { return true; }

    bool HasBlobs() const { return hasBlobs_; }
    void Reserve(size_t rows) { images_.reserve(rows * layout_.recordLength); }
    // Adds a row (its image, and its blobs by field when the layout has any).
    void Add(const std::vector<uint8_t>& image, std::vector<BlobValue> blobs) {
        images_.insert(images_.end(), image.begin(), image.end());
        if (hasBlobs_) blobs_.push_back(std::move(blobs));
        ++count_;
    }

    KCESTATUS RecordCount(UNSIGNED32* count) override {
        *count = count_;
        return KCE_SUCCESS;
    }
    KCESTATUS NextRecno(UNSIGNED32 after, UNSIGNED32* recno) override {
        *recno = after < count_ ? after + 1 : 0;
        return KCE_SUCCESS;
    }
    KCESTATUS PrevRecno(UNSIGNED32 before, UNSIGNED32* recno) override {
        *recno = before == 0 ? count_ : before - 1;
        if (*recno > count_) *recno = count_;
        return KCE_SUCCESS;
    }
    KCESTATUS ReadRecord(UNSIGNED32 recno, uint8_t* image, bool* exists, bool* deleted) override {
        *deleted = false;
        *exists = recno >= 1 && recno <= count_;
        if (*exists) {
            std::memcpy(image, images_.data() + size_t(recno - 1) * layout_.recordLength,
                        layout_.recordLength);
        }
        return KCE_SUCCESS;
    }
    KCESTATUS ReadBlob(UNSIGNED32 recno, int field, BlobValue* out) override {
        if (recno < 1 || recno > count_ || !hasBlobs_) {
            *out = BlobValue();
            return KCE_SUCCESS;
        }
        *out = blobs_[recno - 1][size_t(field)];
        return KCE_SUCCESS;
    }
    KCESTATUS ReserveRecno(UNSIGNED32*) override { return Refused(); }
    KCESTATUS WriteRecord(UNSIGNED32*, bool, uint8_t*, const PendingBlobs&) override {
        return Refused();
    }
    KCESTATUS DeleteRecord(UNSIGNED32) override { return Refused(); }
    KCESTATUS Zap() override { return Refused(); }
    KCESTATUS LastAutoinc(UNSIGNED32* value) override {
        *value = 0;
        return KCE_SUCCESS;
    }
    void NullRecord(uint8_t* image) const override { NativeNullRecord(layout_, image); }
    void WriteNull(int field, uint8_t* image) const override {
        WriteNativeNull(layout_.fields[size_t(field)], image);
    }
    bool IsNull(int field, const uint8_t* image) const override {
        return IsNativeNull(layout_.fields[size_t(field)], image);
    }
    KCESTATUS FieldFromText(int field, std::string_view text, uint8_t* image) const override {
        return ValueFromText(layout_.fields[size_t(field)], text, image);
    }
    KCESTATUS FieldToText(int field, const uint8_t* image, std::string* text) const override {
        return ValueToText(layout_.fields[size_t(field)], image, text);
    }
    KCESTATUS CheckRaw(int, const uint8_t*) const override { return KCE_SUCCESS; }
    bool HasDeletedMarks() const override { return false; }
    bool Writable() const override { return false; }

  private:
    static KCESTATUS Refused() {
        return Fail(KCE_STATIC_CURSOR, "an SQL result set cannot be changed");
    }
    bool hasBlobs_ = false;
    UNSIGNED32 count_ = 0;
    std::vector<uint8_t> images_;
    std::vector<std::vector<BlobValue>> blobs_;
};

// One value of a row as the statement gave it.
struct Cell {
    int type = SQLITE_NULL;
    sqlite3_int64 integer = 0;
    double real = 0;
    std::string_view bytes;  // text (UTF-8) or blob
};

// The values of every row, kept compact: a row's cells one after the other, the bytes of texts
// and blobs in one arena.
class Rows {
  public:
    explicit Rows(size_t columns) : columns_(columns) {}
    size_t Columns() const { return columns_; }
    size_t Count() const { return columns_ ? slots_.size() / columns_ : 0; }
    // Appends the current row of a statement.
    void Add(sqlite3_stmt* stmt) {
        for (size_t i = 0; i < columns_; ++i) {
            Slot slot{};
            slot.type = sqlite3_column_type(stmt, int(i));
            switch (slot.type) {
                case SQLITE_INTEGER:
                    slot.integer = sqlite3_column_int64(stmt, int(i));
                    break;
                case SQLITE_FLOAT:
                    slot.real = sqlite3_column_double(stmt, int(i));
                    break;
                case SQLITE_TEXT:
                case SQLITE_BLOB: {
                    const void* p =
                        slot.type == SQLITE_TEXT
                            ? static_cast<const void*>(sqlite3_column_text(stmt, int(i)))
                            : sqlite3_column_blob(stmt, int(i));
                    slot.size = uint32_t(sqlite3_column_bytes(stmt, int(i)));
                    slot.offset = arena_.size();
                    arena_.append(static_cast<const char*>(p ? p : ""), slot.size);
                    break;
                }
                default:
                    break;
            }
            slots_.push_back(slot);
        }
    }
    Cell At(size_t row, size_t column) const {
        const Slot& slot = slots_[row * columns_ + column];
        Cell c;
        c.type = slot.type;
        if (slot.type == SQLITE_INTEGER) {
            c.integer = slot.integer;
        } else if (slot.type == SQLITE_FLOAT) {
            c.real = slot.real;
        } else if (slot.type != SQLITE_NULL) {
            c.bytes = std::string_view(arena_.data() + slot.offset, slot.size);
        }
        return c;
    }

  private:
    // (Trivial, so that the vector moves its slots as bytes when it grows.)
    struct Slot {
        int type;
        uint32_t size;  // of the bytes
        union {
            sqlite3_int64 integer;
            double real;
            uint64_t offset;  // of the bytes in the arena
        };
    };
    size_t columns_;
    std::vector<Slot> slots_;
    std::string arena_;
};

bool Digits(std::string_view s, size_t from, size_t count) {
    if (from + count > s.size()) return false;
    for (size_t i = from; i < from + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

bool LooksLikeDate(std::string_view s) {
    int64_t day = 0;
    return s.size() == 10 && s[4] == '-' && s[7] == '-' && ParseIsoDate(s, &day);
}

bool LooksLikeTimestamp(std::string_view s) {
    return s.size() >= 19 && LooksLikeDate(s.substr(0, 10)) && (s[10] == 'T' || s[10] == ' ') &&
           Digits(s, 11, 2) && s[13] == ':' && Digits(s, 14, 2) && s[16] == ':' && Digits(s, 17, 2);
}

// The field a column without a table field of its own needs for its values.
FieldSpec InferField(const Rows& rows, size_t col) {
    bool any = false, allInt = true, allNumber = true, allDate = true, allStamp = true,
         anyBlob = false;
    bool int32 = true;
    size_t longest = 1;
    for (size_t r = 0; r < rows.Count(); ++r) {
        const Cell c = rows.At(r, col);
        if (c.type == SQLITE_NULL) continue;
        any = true;
        if (c.type != SQLITE_INTEGER) allInt = false;
        if (c.type != SQLITE_INTEGER && c.type != SQLITE_FLOAT) allNumber = false;
        if (c.type == SQLITE_INTEGER && (c.integer < -2147483647 || c.integer > 2147483647))
            int32 = false;
        if (c.type == SQLITE_BLOB) anyBlob = true;
        if (c.type != SQLITE_TEXT || !LooksLikeDate(c.bytes)) allDate = false;
        if (c.type != SQLITE_TEXT || !LooksLikeTimestamp(c.bytes)) allStamp = false;
        size_t len =
            c.type == SQLITE_TEXT || c.type == SQLITE_BLOB ? native::AnsiText(c.bytes).size() : 24;
        if (c.type == SQLITE_BLOB) len = c.bytes.size();
        if (len > longest) longest = len;
    }
    FieldSpec spec;
    if (!any) {
        spec.type = KCE_STRING;
        spec.length = 1;
    } else if (allInt) {
        spec.type = int32 ? KCE_INTEGER : KCE_DOUBLE;
        if (!int32) {
            spec.type = KCE_NUMERIC;
            spec.length = 20;
        }
    } else if (allNumber) {
        spec.type = KCE_DOUBLE;
    } else if (allDate) {
        spec.type = KCE_DATE;
    } else if (allStamp) {
        spec.type = KCE_TIMESTAMP;
    } else if (anyBlob) {
        spec.type = KCE_BINARY;
    } else if (longest > kLongestChar) {
        spec.type = KCE_MEMO;
    } else {
        spec.type = KCE_STRING;
        spec.length = UNSIGNED32(longest);
    }
    return spec;
}

// A declared field as a result field: the kinds a result keeps.
FieldSpec ResultField(FieldSpec spec) {
    switch (spec.type) {
        case KCE_COMPACTDATE:
            spec.type = KCE_DATE;
            break;
        case KCE_VARCHAR:
            spec.type = KCE_MEMO;
            break;
        case KCE_AUTOINC:
            spec.type = KCE_INTEGER;
            break;
        default:
            break;
    }
    if (spec.type != KCE_STRING && spec.type != KCE_NUMERIC && spec.type != KCE_RAW)
        spec.length = 0;
    if (spec.type != KCE_NUMERIC) spec.decimals = 0;
    return spec;
}

// A column name as a field name.
std::string FieldName(const char* column, size_t index, std::set<std::string>* used) {
    std::string name;
    for (const char* p = column ? column : ""; *p; ++p) {
        unsigned char ch = static_cast<unsigned char>(*p);
        name += std::isalnum(ch) || ch == '_' ? char(ch) : '_';
    }
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])))
        name = "COLUMN" + std::to_string(index + 1);
    if (name.size() > kMaxFieldNameLength) name.resize(kMaxFieldNameLength);
    std::string unique = name;
    for (int n = 2; used->count(Upper(unique)); ++n) unique = name + "_" + std::to_string(n);
    used->insert(Upper(unique));
    return unique;
}

std::string NumberText(double d) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

bool Ascii(std::string_view s) {
    for (char ch : s) {
        if (static_cast<unsigned char>(ch) > 0x7F) return false;
    }
    return true;
}

// The common cells that go into their field without the text form, as that form would put them:
// numbers into number fields, plain text into char fields, ISO dates into date fields. False
// for any other cell (the caller takes the text route).
bool StoreDirect(const FieldDesc& f, const Cell& c, uint8_t* image) {
    uint8_t* p = image + f.offset;
    switch (c.type) {
        case SQLITE_INTEGER:
            switch (f.type) {
                case KCE_INTEGER:
                    if (c.integer <= INT32_MIN || c.integer > INT32_MAX) return false;
                    StoreU32(p, uint32_t(c.integer));
                    return true;
                case KCE_DOUBLE:
                    StoreDouble(p, double(c.integer));
                    return true;
                default:
                    return false;
            }
        case SQLITE_FLOAT:
            if (f.type != KCE_DOUBLE || !std::isfinite(c.real)) return false;
            StoreDouble(p, c.real);
            return true;
        case SQLITE_TEXT:
            if (f.type == KCE_STRING && !c.bytes.empty() && Ascii(c.bytes)) {
                std::memset(p, ' ', f.length);
                std::memcpy(p, c.bytes.data(), std::min<size_t>(c.bytes.size(), f.length));
                return true;
            }
            if (f.type == KCE_DATE) {
                int64_t day = 0;
                if (!ParseIsoDate(c.bytes, &day)) return false;
                StoreU32(p, uint32_t(day));
                return true;
            }
            return false;
        default:
            return false;
    }
}

// A cell into its field of an image (blobs into `blob`).
KCESTATUS Store(const FieldDesc& f, const Cell& c, uint8_t* image, BlobValue* blob) {
    if (c.type == SQLITE_NULL) {
        WriteNativeNull(f, image);
        return KCE_SUCCESS;
    }
    if (StoreDirect(f, c, image)) return KCE_SUCCESS;
    std::string text;
    switch (c.type) {
        case SQLITE_INTEGER:
            text = f.type == KCE_LOGICAL ? (c.integer ? "T" : "F") : std::to_string(c.integer);
            break;
        case SQLITE_FLOAT:
            text = f.type == KCE_LOGICAL ? (c.real != 0 ? "T" : "F") : NumberText(c.real);
            break;
        case SQLITE_TEXT: {
            std::string missing;
            std::optional<std::string> ansi = native::ColumnValueText(c.bytes, &missing);
            if (!ansi) {
                return Fail(KCE_INVALID_FIELD_VALUE, "column '" + f.name +
                                                         "': the value holds the "
                                                         "character " +
                                                         missing + ", which code page 1252 lacks");
            }
            text = std::move(*ansi);
            break;
        }
        default:
            text = std::string(c.bytes);
    }
    if (IsBlobType(f.type)) {
        blob->isNull = false;
        blob->bytes = std::move(text);
        std::memset(image + f.offset, 0xFF, 4);
        return KCE_SUCCESS;
    }
    if (f.type == KCE_RAW) {
        std::memset(image + f.offset, 0, f.length);
        std::memcpy(image + f.offset, text.data(), std::min<size_t>(text.size(), f.length));
        return KCE_SUCCESS;
    }
    return ValueFromText(f, text, image);
}

}  // namespace

KCESTATUS RunQuery(sqlite3_stmt* stmt, KDSHANDLE* cursor, int* failure) {
    *failure = SQLITE_OK;
    const int columns = sqlite3_column_count(stmt);
    Rows rows{size_t(columns)};
    for (;;) {
        int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) {
            *failure = rc;  // the caller reads SQLite's error
            return KCE_SQL_FAILED;
        }
        rows.Add(stmt);
    }
    // The layout: a column straight from a field keeps it, unless a value does not fit it.
    std::vector<FieldSpec> specs;
    std::set<std::string> used;
    for (int i = 0; i < columns; ++i) {
        FieldSpec spec;
        bool declared = FieldOfDeclaredType(sqlite3_column_decltype(stmt, i), &spec);
        if (declared) {
            spec = ResultField(spec);
            RecordLayout probe;
            FieldSpec named = spec;
            named.name = "F";
            std::vector<uint8_t> image;
            bool fits = BuildNativeLayout({named}, &probe) == KCE_SUCCESS;
            if (fits) image.assign(probe.recordLength, 0);
            BlobValue blob;
            for (size_t r = 0; fits && r < rows.Count(); ++r) {
                fits = Store(probe.fields[0], rows.At(r, size_t(i)), image.data(), &blob) ==
                       KCE_SUCCESS;
            }
            if (!fits) declared = false;
        }
        if (!declared) spec = InferField(rows, size_t(i));
        spec.name = FieldName(sqlite3_column_name(stmt, i), size_t(i), &used);
        specs.push_back(spec);
    }
    RecordLayout layout;
    if (KCESTATUS s = BuildNativeLayout(specs, &layout)) return s;
    auto storage = std::make_shared<ResultStorage>(layout);
    storage->Reserve(rows.Count());
    std::vector<uint8_t> image(layout.recordLength, 0);
    BlobValue unused;
    for (size_t r = 0; r < rows.Count(); ++r) {
        NativeNullRecord(layout, image.data());
        std::vector<BlobValue> blobs(storage->HasBlobs() ? layout.fields.size() : 0);
        for (size_t i = 0; i < layout.fields.size(); ++i) {
            BlobValue* blob = blobs.empty() ? &unused : &blobs[i];
            if (KCESTATUS s = Store(layout.fields[i], rows.At(r, i), image.data(), blob)) return s;
        }
        storage->Add(image, std::move(blobs));
    }
    auto handle = std::make_shared<TableCursor>(storage, KCE_OPEN_READ_ONLY, KCE_ANSI, 0);
    ++storage->Share().handles;
    if (handle->GotoTop(handle->Natural()) != KCE_SUCCESS) handle->Land(0);
    *cursor = Handles::Add(handle);
    NoteTableOpened();
    return KCE_SUCCESS;
}

}  // namespace kce::sql
