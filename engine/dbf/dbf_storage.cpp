#include "engine/dbf/dbf_storage.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>

#include "engine/dates.h"
#include "engine/decimal.h"
#include "engine/field_text.h"
#include "engine/file_io.h"
#include "engine/journal.h"
#include "engine/status.h"
#include "rtl/codepages.h"
#include "rtl/edge.h"

namespace kce::dbf {

namespace {

bool AllBlank(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != ' ' && p[i] != 0) return false;
    }
    return true;
}

// The native layout of a field alone at offset 0: the text forms of KdsSetField and KdsGetField
// are the native ones, so a DBF field's value passes through that form.
FieldDesc NativeField(const FieldDesc& f) {
    FieldDesc n = f;
    n.offset = 0;
    switch (f.type) {
        case KCE_DATE:
            n.length = 4;
            break;
        default:
            break;
    }
    return n;
}

// Record 0 names no record: its lock byte serves as the append lock across processes. Appends are
// short, so a busy lock is waited for a while before giving up.
class AppendLock {
  public:
    explicit AppendLock(FileLock& locks) : locks_(locks) {
        for (int i = 0; i < 5000 && !held_; ++i) {
            held_ = locks_.LockRecord(0);
            if (!held_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~AppendLock() {
        if (held_) locks_.UnlockRecord(0);
    }
    bool Held() const { return held_; }

  private:
    FileLock& locks_;
    bool held_ = false;
};

class DbfStorage : public Storage {
  public:
    DbfStorage(std::unique_ptr<DbfTable> table, UNSIGNED16 tableType, bool readOnly,
               UNSIGNED16 charType)
        : table_(std::move(table)), tableType_(tableType), readOnly_(readOnly) {
        // An OEM open: the file holds an OEM page (the one its mark names, or 437), the engine's
        // calls speak that page's ANSI partner.
        if (charType == 2) {
            const rtl::CodePage& marked = rtl::CodePageOfDbfMark(table_->CodePage());
            oem_ = marked.IsOem() ? &marked : rtl::FindCodePage(437);
            ansi_ = rtl::FindCodePage(oem_->AnsiPartner());
        }
        path_ = table_->Path();
        for (const DbfField& f : table_->Fields()) {
            layout_.fields.push_back({f.name, f.type, f.length, f.decimals, f.offset});
        }
        layout_.recordLength = table_->ImageLength();
    }

    KCESTATUS OpenLocks() { return FileLock::Open(path_, &locks_); }
    DbfTable& Table() { return *table_; }

    UNSIGNED16 TableType() const override { return tableType_; }
    bool Writable() const { return !readOnly_; }

    KCESTATUS RecordCount(UNSIGNED32* count) override {
        if (KCESTATUS s = table_->Refresh()) return s;
        *count = table_->RecordCount();
        return KCE_SUCCESS;
    }

    KCESTATUS NextRecno(UNSIGNED32 after, UNSIGNED32* recno) override {
        if (after >= table_->RecordCount()) {
            if (KCESTATUS s = table_->Refresh()) return s;
        }
        *recno = after < table_->RecordCount() ? after + 1 : 0;
        return KCE_SUCCESS;
    }

    KCESTATUS PrevRecno(UNSIGNED32 before, UNSIGNED32* recno) override {
        if (before == 0) {
            if (KCESTATUS s = table_->Refresh()) return s;
            *recno = table_->RecordCount();
        } else {
            *recno = std::min(before - 1, table_->RecordCount());
        }
        return KCE_SUCCESS;
    }

    KCESTATUS ReadRecord(UNSIGNED32 recno, uint8_t* image, bool* exists, bool* deleted) override {
        if (recno > table_->RecordCount()) {
            if (KCESTATUS s = table_->Refresh()) return s;
        }
        *exists = recno >= 1 && recno <= table_->RecordCount();
        if (!*exists) return KCE_SUCCESS;
        if (KCESTATUS s = table_->ReadImage(recno, image, deleted)) return s;
        if (oem_) {
            for (const FieldDesc& f : layout_.fields) {
                if (f.type != KCE_STRING) continue;
                std::string text(reinterpret_cast<char*>(image + f.offset), f.length);
                if (KCESTATUS s = ToAnsi(recno, f, &text)) return s;
                std::memcpy(image + f.offset, text.data(), f.length);
            }
        }
        return KCE_SUCCESS;
    }

    KCESTATUS ReadBlob(UNSIGNED32 recno, int field, BlobValue* out) override {
        if (KCESTATUS s = table_->ReadBlob(recno, static_cast<size_t>(field), &out->bytes))
            return s;
        if (oem_ && layout_.fields[size_t(field)].type == KCE_MEMO) {
            if (KCESTATUS s = ToAnsi(recno, layout_.fields[size_t(field)], &out->bytes)) return s;
        }
        out->isNull = out->bytes.empty();
        return KCE_SUCCESS;
    }

    KCESTATUS ReserveRecno(UNSIGNED32* recno) override {
        if (KCESTATUS s = table_->Refresh()) return s;
        reserved_ = std::max(reserved_, table_->RecordCount()) + 1;
        *recno = reserved_;
        return KCE_SUCCESS;
    }

    KCESTATUS WriteRecord(UNSIGNED32* recno, bool isNew, uint8_t* image,
                          const PendingBlobs& blobs) override {
        if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + path_);
        std::vector<BlobChange> changes;
        for (const auto& [field, value] : blobs) {
            BlobChange change;
            change.field = static_cast<size_t>(field);
            if (!value.isNull) change.value = value.bytes;
            if (change.value && oem_ && layout_.fields[size_t(field)].type == KCE_MEMO) {
                if (KCESTATUS s = ToOem(field, &*change.value)) return s;
            }
            changes.push_back(std::move(change));
        }
        std::vector<uint8_t> translated;
        if (oem_) {
            translated.assign(image, image + layout_.recordLength);
            for (size_t i = 0; i < layout_.fields.size(); ++i) {
                const FieldDesc& f = layout_.fields[i];
                if (f.type != KCE_STRING) continue;
                std::string text(reinterpret_cast<char*>(image + f.offset), f.length);
                if (KCESTATUS s = ToOem(int(i), &text)) return s;
                std::memcpy(translated.data() + f.offset, text.data(), f.length);
            }
        }
        return Store(recno, isNew, image, oem_ ? translated.data() : image, changes);
    }

    // Writes the record: image is the caller's (autoincrement values go back into it), stored
    // the bytes for the file.
    KCESTATUS Store(UNSIGNED32* recno, bool isNew, uint8_t* image, uint8_t* stored,
                    const std::vector<BlobChange>& changes) {
        if (isNew) {
            // xBase records are numbered without gaps: the record lands after the last one,
            // whatever number was reserved (another handle or process may have appended since).
            // The append lock keeps two processes from writing the same place; a transaction
            // holds it from its beginning to its end.
            std::optional<AppendLock> lock;
            if (!journal_) lock.emplace(*locks_);
            if (lock && !lock->Held()) {
                return Fail(KCE_TABLE_IN_USE,
                            "table " + path_ + ": another process keeps appending");
            }
            if (KCESTATUS s = table_->Refresh()) return s;
            UNSIGNED32 target = table_->RecordCount() + 1;
            if (KCESTATUS s = table_->AssignAutoinc(image)) return s;
            if (stored != image) {
                for (const FieldDesc& f : layout_.fields) {
                    if (f.type == KCE_AUTOINC)
                        std::memcpy(stored + f.offset, image + f.offset, f.length);
                }
            }
            if (KCESTATUS s = NotifyWrite(target, nullptr, image)) return s;
            return table_->WriteImage(0, stored, false, changes, recno);
        }
        std::vector<uint8_t> old(layout_.recordLength);
        bool exists = false, deleted = false;
        if (KCESTATUS s = ReadRecord(*recno, old.data(), &exists, &deleted)) return s;
        if (KCESTATUS s = NotifyWrite(*recno, old.data(), image)) return s;
        UNSIGNED32 written = 0;
        return table_->WriteImage(*recno, stored, std::nullopt, changes, &written);
    }

    // A DBF transaction: a rollback journal beside the table (journal.h) covers the table, its
    // memo file and its index files. The append lock is held throughout, so that no other
    // process appends meanwhile (a rollback cuts the files back to their sizes at the beginning).
    // The records it appends stay out of the header count until it commits, so other readers
    // (this engine's and other programs') see none of them before; changes to records that were
    // there before are seen at once: a DBF file has no room for versions.
    KCESTATUS BeginTransaction() override {
        if (inTransaction_) return Fail(KCE_TRANSACTION_ACTIVE, "table " + path_);
        if (readOnly_) {
            // Nothing to keep: the handle cannot write.
            inTransaction_ = true;
            return KCE_SUCCESS;
        }
        bool held = false;
        for (int i = 0; i < 5000 && !held; ++i) {
            held = locks_->LockRecord(0);
            if (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!held)
            return Fail(KCE_TABLE_IN_USE, "table " + path_ + ": another process is appending");
        std::vector<std::string> files = {path_};
        if (table_->Memo()) files.push_back(table_->Memo()->Path());
        for (const std::string& file : IndexFiles()) files.push_back(file);
        KCESTATUS s = table_->Refresh();
        if (!s) s = RollbackJournal::Begin(path_, files, &journal_);
        if (!s) s = table_->DeferCount();
        // The observers cover the other index files they keep open.
        if (!s) s = NotifyTransaction(TransactionPhase::kBegin);
        if (s) {
            (void)table_->PublishCount();  // nothing was appended: this only ends the deferral
            if (journal_) {
                journal_->Rollback();  // nothing changed yet: this removes the journal
                journal_.reset();
            }
            locks_->UnlockRecord(0);
            return s;
        }
        inTransaction_ = true;
        return KCE_SUCCESS;
    }

    KCESTATUS CoverFile(const std::string& path) override {
        return journal_ ? journal_->Cover(path) : KCESTATUS(KCE_SUCCESS);
    }

    KCESTATUS CommitTransaction() override {
        if (!inTransaction_) return Fail(KCE_NO_TRANSACTION, "table " + path_);
        // The count goes into the header under the journal: a crash before the journal is gone
        // takes it back with the records.
        KCESTATUS s = journal_ ? table_->PublishCount() : KCESTATUS(KCE_SUCCESS);
        if (!s && journal_) s = journal_->Commit();
        if (s) return s;
        EndTransaction();
        return NotifyTransaction(TransactionPhase::kCommit);
    }

    KCESTATUS RollbackTransaction() override {
        if (!inTransaction_) return Fail(KCE_NO_TRANSACTION, "table " + path_);
        if (!journal_) {
            EndTransaction();
            return KCE_SUCCESS;
        }
        // The files go back first, then the table is read again from them: its record count,
        // autoincrement counters and memo bookkeeping are those of before the transaction.
        KCESTATUS s = journal_->Rollback();
        journal_.reset();
        std::unique_ptr<DbfTable> reopened;
        if (!s) s = DbfTable::Open(path_, readOnly_, &reopened);
        if (!s) table_ = std::move(reopened);
        reserved_ = 0;
        EndTransaction();
        // The index files went back with the table (the journal covered them): their observers
        // read them again.
        KCESTATUS told = NotifyTransaction(TransactionPhase::kRollback);
        return s ? s : told;
    }

    // Packs the table, then the observers build their indexes again from the new record set (the
    // records renumber).
    KCESTATUS Pack() {
        if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + path_);
        if (inTransaction_) {
            return Fail(KCE_TRANSACTION_ACTIVE,
                        "table " + path_ + " cannot be packed in a transaction");
        }
        if (KCESTATUS s = table_->Pack()) return s;
        reserved_ = 0;
        return NotifyRebuild();
    }

    KCESTATUS DeleteRecord(UNSIGNED32 recno) override {
        if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + path_);
        return table_->SetDeleted(recno, true);
    }

    KCESTATUS Zap() override {
        if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "table " + path_);
        if (KCESTATUS s = table_->Zap()) return s;
        reserved_ = 0;
        return NotifyZap();
    }

    KCESTATUS LastAutoinc(UNSIGNED32* value) override {
        *value = table_->LastAutoinc();
        return KCE_SUCCESS;
    }

    void NullRecord(uint8_t* image) const override {
        for (size_t i = 0; i < layout_.fields.size(); ++i) WriteNull(static_cast<int>(i), image);
    }

    // The empty image of a DBF field: blanks for the text-like fields, the timestamp and the
    // autoincrement; zeros for blob markers and binary numbers.
    void WriteNull(int field, uint8_t* image) const override {
        const FieldDesc& f = layout_.fields[field];
        if (Nullable(field)) {
            WriteNullImage(table_->Fields()[size_t(field)], image);
            return;
        }
        switch (f.type) {
            case KCE_MEMO:
            case KCE_BINARY:
            case KCE_IMAGE:
            case KCE_DOUBLE:
            case KCE_INTEGER:
            case KCE_CURDOUBLE:
                std::memset(image + f.offset, 0, f.length);
                break;
            default:
                std::memset(image + f.offset, ' ', f.length);
        }
    }

    // Binary numbers of a DBF image have no empty spelling: they are empty only in a field that
    // can be null (Nullable), as the native empty image.
    bool IsNull(int field, const uint8_t* image) const override {
        const FieldDesc& f = layout_.fields[field];
        const uint8_t* p = image + f.offset;
        switch (f.type) {
            case KCE_MEMO:
            case KCE_BINARY:
            case KCE_IMAGE:
                return LoadU32(p) == 0;
            case KCE_DOUBLE:
            case KCE_INTEGER:
            case KCE_CURDOUBLE:
                return Nullable(field) && IsNullImage(table_->Fields()[size_t(field)], image);
            case KCE_TIMESTAMP:
                return AllBlank(p, 8) || LoadU32(p) == 0;
            case KCE_LOGICAL:
                return AllBlank(p, 1) || p[0] == '?';
            default:
                return AllBlank(p, f.length);
        }
    }

    KCESTATUS FieldFromText(int field, std::string_view text, uint8_t* image) const override {
        const FieldDesc& f = layout_.fields[field];
        const FieldDesc n = NativeField(f);
        std::vector<uint8_t> value(n.length);
        if (KCESTATUS s = ValueFromText(n, text, value.data())) return s;
        if (IsNativeNull(n, value.data())) {
            WriteNull(field, image);
            return KCE_SUCCESS;
        }
        uint8_t* p = image + f.offset;
        if (f.type == KCE_DATE) {
            // Eight digits name years 1 to 9999 only; a day of year 0 would be stored as digits
            // that nothing reads back as a date.
            int64_t julian = LoadU32(value.data());
            if (julian < kJulianOfDayOne || julian > kJulianOfLastDay) {
                return InvalidValue(f, "'" + std::string(TrimBlanks(text)) +
                                           "' is not a day of years 1 to 9999, which a DBF "
                                           "date holds");
            }
            CivilDate d = CivilFromJulian(julian);
            char digits[16];
            std::snprintf(digits, sizeof digits, "%04d%02d%02d", d.year, d.month, d.day);
            std::memcpy(p, digits, 8);
            return KCE_SUCCESS;
        }
        std::memcpy(p, value.data(), f.length);
        return KCE_SUCCESS;
    }

    KCESTATUS FieldToText(int field, const uint8_t* image, std::string* text) const override {
        const FieldDesc& f = layout_.fields[field];
        text->clear();
        if (IsNull(field, image)) return KCE_SUCCESS;
        const FieldDesc n = NativeField(f);
        std::vector<uint8_t> value(n.length);
        const uint8_t* p = image + f.offset;
        if (f.type == KCE_DATE) {
            std::optional<int64_t> julian = JulianFromEightDigits(p);
            if (!julian) {
                // A date another writer spelled wrongly is shown as its bytes.
                text->assign(reinterpret_cast<const char*>(p), 8);
                return KCE_SUCCESS;
            }
            StoreU32(value.data(), static_cast<uint32_t>(*julian));
        } else if (f.type == KCE_LOGICAL) {
            // Y and N are as common in DBF files as T and F.
            value[0] = std::strchr("TtYy", p[0]) ? 'T' : 'F';
        } else {
            std::memcpy(value.data(), p, f.length);
        }
        // A binary number that happens to spell the native empty value still has a value here.
        if (IsNativeNull(n, value.data())) {
            if (f.type == KCE_INTEGER) *text = std::to_string(int32_t(LoadU32(p)));
            if (f.type == KCE_CURDOUBLE) *text = ScaledToText(LoadI64(p), 4);
            if (f.type == KCE_DOUBLE) {
                char buf[64];
                auto [end, ec] = std::to_chars(buf, buf + sizeof buf, LoadDouble(p));
                text->assign(buf, end);
            }
            return KCE_SUCCESS;
        }
        return ValueToText(n, value.data(), text);
    }

    KCESTATUS CheckRaw(int field, const uint8_t* bytes) const override {
        const FieldDesc& f = layout_.fields[field];
        auto invalid = [&](const std::string& why) {
            return Fail(KCE_INVALID_FIELD_VALUE, "field '" + f.name + "' of " + path_ + ": " + why);
        };
        // The empty image of a field that can be null is what WriteNull and a cleared record
        // give it (zeros for a numeric, day 0 for a timestamp): it writes back as null.
        if (Nullable(field) && IsNativeNullAt(f, bytes)) return KCE_SUCCESS;
        switch (f.type) {
            case KCE_LOGICAL:
                if (!std::strchr("TFYNtfyn ?", bytes[0]) || bytes[0] == 0) {
                    return invalid("a logical byte is T, F, Y, N or a blank");
                }
                break;
            case KCE_NUMERIC:
                for (uint32_t i = 0; i < f.length; ++i) {
                    if (!std::strchr(" 0123456789.-+", bytes[i]) || bytes[i] == 0) {
                        return invalid("a numeric holds digits, a sign, a point and blanks");
                    }
                }
                break;
            case KCE_DATE:
                if (!AllBlank(bytes, 8) && !JulianFromEightDigits(bytes)) {
                    return invalid("a date is eight digits YYYYMMDD or blanks");
                }
                break;
            case KCE_TIMESTAMP:
                if (!AllBlank(bytes, 8) && LoadU32(bytes + 4) >= 86400000u) {
                    return invalid("the milliseconds of a timestamp stay within the day");
                }
                break;
            case KCE_DOUBLE:
                if (!std::isfinite(LoadDouble(bytes))) return invalid("not a finite number");
                break;
            default:
                break;
        }
        return KCE_SUCCESS;
    }

    bool HasDeletedMarks() const override { return true; }

  private:
    // The OEM bytes of a stored value as the ANSI bytes the caller reads; a character the ANSI
    // page lacks is refused, never changed.
    KCESTATUS ToAnsi(UNSIGNED32 recno, const FieldDesc& f, std::string* text) const {
        size_t bad = 0;
        std::optional<std::string> ansi = rtl::Translate(*oem_, *ansi_, *text, &bad);
        if (!ansi) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>((*text)[bad]));
            return Fail(KCE_INVALID_FIELD_VALUE,
                        path_ + ", record " + std::to_string(recno) + ", field '" + f.name +
                            "': byte " + byte + " of code page " + std::to_string(oem_->Number()) +
                            " has no character in code page " + std::to_string(ansi_->Number()));
        }
        *text = std::move(*ansi);
        return KCE_SUCCESS;
    }

    // ANSI bytes of a field as the OEM bytes the file holds; a character the OEM page lacks is
    // refused.
    KCESTATUS ToOem(int field, std::string* text) const {
        size_t bad = 0;
        std::optional<std::string> oem = rtl::Translate(*ansi_, *oem_, *text, &bad);
        if (!oem) {
            return Fail(KCE_INVALID_FIELD_VALUE,
                        "field '" + layout_.fields[size_t(field)].name + "' of " + path_ +
                            ": code page " + std::to_string(oem_->Number()) +
                            " cannot hold the character at byte " + std::to_string(bad + 1));
        }
        *text = std::move(*oem);
        return KCE_SUCCESS;
    }

    void EndTransaction() {
        journal_.reset();
        if (inTransaction_ && !readOnly_) locks_->UnlockRecord(0);
        inTransaction_ = false;
    }

    // The index files of the table that exist: its structural CDX file.
    std::vector<std::string> IndexFiles() const {
        std::vector<std::string> files;
        std::string cdx = path_.substr(0, path_.size() - 4);
        for (const char* ext : {".cdx", ".CDX"}) {
            if (::access(rtl::OsPath(cdx + ext).c_str(), F_OK) == 0) files.push_back(cdx + ext);
        }
        return files;
    }

    std::unique_ptr<RollbackJournal> journal_;
    const rtl::CodePage* oem_ = nullptr;   // the file's page, on an OEM open
    const rtl::CodePage* ansi_ = nullptr;  // the page the engine's calls speak then

    // Whether a field can be null through a Visual FoxPro _NullFlags bit.
    bool Nullable(int field) const { return table_->Fields()[size_t(field)].nullBit >= 0; }

    std::unique_ptr<DbfTable> table_;
    UNSIGNED16 tableType_;
    bool readOnly_;
    UNSIGNED32 reserved_ = 0;
};

KCESTATUS OpenAs(UNSIGNED16 tableType, const OpenRequest& request, std::unique_ptr<Storage>* out) {
    // The storage is shared by every handle of the process: it opens the file for writing when
    // the file allows it, and each handle keeps its own read-only option.
    const bool writable = ::access(rtl::OsPath(request.path).c_str(), W_OK) == 0;
    {
        // Only a process that holds the table alone may finish or clear a pack: another one
        // may be packing right now.
        std::unique_ptr<FileLock> probe;
        if (FileLock::Open(request.path, &probe) == KCE_SUCCESS) {
            // A journal whose owner is gone (no process holds the append lock, which a
            // transaction keeps to its end) is rolled back before anything reads the table.
            if (::access(rtl::OsPath(RollbackJournal::PathFor(request.path)).c_str(), F_OK) == 0 &&
                writable && probe->LockRecord(0)) {
                KCESTATUS s = RollbackJournal::Recover(request.path);
                probe->UnlockRecord(0);
                if (s) return s;
            }
            // The table lock is tried only when there is something to finish: even a brief
            // exclusive hold would turn away another process opening the table meanwhile.
            if (HasPackLeftovers(request.path) && probe->LockTable(true)) {
                if (KCESTATUS s = FinishInterruptedPack(request.path, writable)) return s;
            }
        }
    }
    std::unique_ptr<DbfTable> table;
    KCESTATUS s = DbfTable::Open(request.path, !writable, &table);
    if (s == KCE_FILE_OPEN_FAILED && writable) s = DbfTable::Open(request.path, true, &table);
    if (s) return s;
    const bool readOnly = table->ReadOnly();
    auto storage =
        std::make_unique<DbfStorage>(std::move(table), tableType, readOnly, request.charType);
    if (KCESTATUS s = storage->OpenLocks()) return s;
    *out = std::move(storage);
    return KCE_SUCCESS;
}

KCESTATUS CreateAs(UNSIGNED16 tableType, const std::string& path,
                   const std::vector<FieldSpec>& fields, std::unique_ptr<Storage>* out) {
    std::vector<DbfFieldSpec> wanted;
    for (const FieldSpec& f : fields) wanted.push_back({f.name, f.type, f.length, f.decimals});
    XBaseKind kind = tableType == KCE_CDX ? XBaseKind::kCdx : XBaseKind::kNtx;
    if (KCESTATUS s = DbfTable::Create(path, kind, wanted, {})) return s;
    OpenRequest request;
    request.path = path;
    return OpenAs(tableType, request, out);
}

}  // namespace

KCESTATUS OpenCdx(const OpenRequest& request, std::unique_ptr<Storage>* out) {
    return OpenAs(2, request, out);
}
KCESTATUS OpenNtx(const OpenRequest& request, std::unique_ptr<Storage>* out) {
    return OpenAs(1, request, out);
}
KCESTATUS CreateCdx(const std::string& path, const std::vector<FieldSpec>& fields,
                    std::unique_ptr<Storage>* out) {
    return CreateAs(2, path, fields, out);
}
KCESTATUS CreateNtx(const std::string& path, const std::vector<FieldSpec>& fields,
                    std::unique_ptr<Storage>* out) {
    return CreateAs(1, path, fields, out);
}

DbfTable* DbfTableOf(Storage& storage) {
    auto* dbf = dynamic_cast<DbfStorage*>(&storage);
    return dbf ? &dbf->Table() : nullptr;
}

KCESTATUS PackDbf(Storage& storage) {
    auto* dbf = dynamic_cast<DbfStorage*>(&storage);
    if (!dbf) return Fail(KCE_NOT_APPLICABLE, "table " + storage.Path() + " is not a DBF table");
    return dbf->Pack();
}

UNSIGNED16 TableTypeOfFile(const std::string& path) {
    std::unique_ptr<File> file;
    uint8_t version = 0;
    size_t got = 0;
    if (Files().Open(path, FileMode::kReadOnly, &file) != KCE_SUCCESS ||
        file->Read(0, &version, 1, &got) != KCE_SUCCESS || got != 1) {
        return KCE_CDX;
    }
    switch (version) {
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x83:
        case 0x8B:
        case 0x8E:
        case 0xCB:
            return KCE_NTX;
        default:
            return KCE_CDX;
    }
}

}  // namespace kce::dbf
