// What a storage kind provides: one open table file (native .kdt, xBase .dbf...), shared by every
// handle of this process that opens the same file.
//
// Record numbers are 1-based and stable: a record keeps its number until the table is zapped or
// packed. Native tables never reuse a number; xBase tables number records 1..N.
//
// Contract for implementers:
//  - Every call returns a status and records the failure text with Fail(), naming the file.
//  - A failed write leaves the file as it was (the native kind runs each write in a SQLite
//    transaction; the xBase kind writes the record bytes before the header count).
//  - Callers hold EngineLock(); a Storage needs no lock of its own.
//  - Images are Layout().recordLength bytes; the storage validates what it is given and refuses
//    values it cannot keep (KCE_INVALID_FIELD_VALUE, naming the field).
//  - Another process may change the file between calls: a storage re-reads what it caches when
//    the file tells it that it changed (native: PRAGMA data_version).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/file_lock.h"
#include "engine/kce.h"
#include "engine/record_image.h"

namespace kce {

class Storage;

// One parameter of an SQL condition: a real number or the bytes of a text.
struct SqlParam {
    bool isText = false;
    double number = 0;
    std::string text;
};

enum class TransactionPhase { kBegin, kCommit, kRollback };

struct BlobValue {
    bool isNull = true;
    std::string bytes;
};

// Blob values set on a pending record, by field index; fields not listed keep their value.
using PendingBlobs = std::map<int, BlobValue>;

// Told of every record change, inside the storage's write (index maintenance). A non-zero status
// refuses the change: the storage rolls it back and returns that status.
class WriteObserver {
  public:
    virtual ~WriteObserver() = default;
    // oldImage is null for a new record; newImage is null for a deletion.
    virtual KCESTATUS OnWrite(Storage& storage, UNSIGNED32 recno, const uint8_t* oldImage,
                              const uint8_t* newImage) = 0;
    // After a zap (every record gone).
    virtual KCESTATUS OnZap(Storage& storage) = 0;
    // After a pack (records gone and the rest renumbered): what the observer keeps is built
    // again from the records, as a whole.
    virtual KCESTATUS OnRebuild(Storage& storage) = 0;
    // At the beginning and end of the storage's transaction (after its own commit or rollback).
    // At the beginning an observer that writes files of its own covers them (Storage::CoverFile);
    // after a rollback it reads them again, as the rollback gave them back.
    virtual KCESTATUS OnTransaction(Storage& storage, TransactionPhase phase) {
        (void)storage;
        (void)phase;
        return KCE_SUCCESS;
    }
};

class Storage {
  public:
    virtual ~Storage() = default;

    // 1 NTX, 2 CDX, 3 KDT.
    virtual UNSIGNED16 TableType() const = 0;
    // The file's full path, in the letter case found on disk.
    const std::string& Path() const { return path_; }
    const RecordLayout& Layout() const { return layout_; }

    // Records that exist (xBase: including those marked deleted).
    virtual KCESTATUS RecordCount(UNSIGNED32* count) = 0;
    // About as many records as exist, for planning a read, where the exact count costs a walk
    // (native: the highest record number); otherwise the count.
    virtual KCESTATUS RecordEstimate(UNSIGNED32* count) { return RecordCount(count); }
    // The next record after `after` in record-number order (after 0: the first); 0 when none.
    virtual KCESTATUS NextRecno(UNSIGNED32 after, UNSIGNED32* recno) = 0;
    // The record before `before` (before 0: the last); 0 when none.
    virtual KCESTATUS PrevRecno(UNSIGNED32 before, UNSIGNED32* recno) = 0;
    // The next record after `after`, in record-number order, that the SQL condition `where` (over
    // the columns of the records table, parameters ?1.. bound from `params`) selects; 0 when none.
    // Only storages that keep their records in SQL run it: elsewhere *supported is false. A
    // ReadRecord of the number answered right after it costs no further lookup.
    virtual KCESTATUS NextRecnoWhere(const std::string& where, const std::vector<SqlParam>& params,
                                     UNSIGNED32 after, UNSIGNED32* recno, bool* supported) {
        (void)where;
        (void)params;
        (void)after;
        *recno = 0;
        *supported = false;
        return KCE_SUCCESS;
    }
    // Reads a record's image; *exists false (and the image untouched) when there is no such
    // record. Blob markers are set from the stored values.
    virtual KCESTATUS ReadRecord(UNSIGNED32 recno, uint8_t* image, bool* exists, bool* deleted) = 0;
    // Drops whatever read state a walk keeps (a snapshot, a row read ahead), so that the next
    // ReadRecord answers what is stored now, with every change committed by any process so far.
    // Positioning on a record, locking it, refreshing it and starting an edit read that way.
    virtual void ForgetSnapshot() {}
    // Walks every record in record-number order, handing `visit` its number, deleted mark and an
    // image in which `field` (not a blob field) is read; the image's other fields hold whatever
    // an earlier record left there. A storage that can read one field alone does so; a failing
    // visit stops the walk with its status.
    using FieldVisit =
        std::function<KCESTATUS(UNSIGNED32 recno, const uint8_t* image, bool deleted)>;
    virtual KCESTATUS ScanField(int field, const FieldVisit& visit);
    virtual KCESTATUS ReadBlob(UNSIGNED32 recno, int field, BlobValue* out) = 0;

    // The number the next appended record will get. Successive calls answer successive numbers
    // (two handles appending at once get different ones).
    virtual KCESTATUS ReserveRecno(UNSIGNED32* recno) = 0;
    // Gives back a reserved number whose append was cancelled (a no-op unless it is the latest).
    virtual void ReleaseRecno(UNSIGNED32 recno) { (void)recno; }
    // Stores a record. isNew: append at *recno (a storage may move it to a later number when
    // another process took that one; *recno then answers the number used). Autoincrement fields
    // of a new record get their value in image. Blob fields change only where blobs lists them.
    virtual KCESTATUS WriteRecord(UNSIGNED32* recno, bool isNew, uint8_t* image,
                                  const PendingBlobs& blobs) = 0;
    // Native: removes the record. xBase: sets its deleted mark.
    virtual KCESTATUS DeleteRecord(UNSIGNED32 recno) = 0;
    // Removes every record (the caller has checked exclusive use).
    virtual KCESTATUS Zap() = 0;
    virtual KCESTATUS LastAutoinc(UNSIGNED32* value) = 0;

    // The empty record image of this kind and the emptiness test of one field.
    virtual void NullRecord(uint8_t* image) const = 0;
    virtual void WriteNull(int field, uint8_t* image) const = 0;
    virtual bool IsNull(int field, const uint8_t* image) const = 0;
    // Text forms of KdsSetField / KdsGetField for non-blob fields.
    virtual KCESTATUS FieldFromText(int field, std::string_view text, uint8_t* image) const = 0;
    virtual KCESTATUS FieldToText(int field, const uint8_t* image, std::string* text) const = 0;
    // Checks the raw bytes of KdsSetFieldRaw before they enter an image.
    virtual KCESTATUS CheckRaw(int field, const uint8_t* bytes) const = 0;
    // Whether records marked deleted can exist (xBase) and are subject to the show-deleted setting.
    virtual bool HasDeletedMarks() const = 0;

    // Encryption (native tables). Encrypted: the file's records are sealed. Unlocked: this
    // process holds the key (always true of a plain table). GivePassword checks a password
    // against the file's key-check value and keeps the key (KCE_WRONG_PASSWORD otherwise); a
    // plain table takes any password and changes nothing. Encrypt and Decrypt rewrite every
    // record in one transaction; the caller has checked exclusive use.
    virtual bool Encrypted() const { return false; }
    virtual bool Unlocked() const { return true; }
    virtual KCESTATUS GivePassword(std::string_view password) {
        (void)password;
        return KCE_SUCCESS;
    }
    virtual KCESTATUS Encrypt(std::string_view password);
    virtual KCESTATUS Decrypt(std::string_view password);

    // Cross-process table and record locks on the file.
    FileLock& Locks() { return *locks_; }
    void AddObserver(std::shared_ptr<WriteObserver> observer) {
        observers_.push_back(std::move(observer));
    }
    void RemoveObserver(const WriteObserver* observer);

    // In-process sharing, kept by the table layer (table.cpp): how many handles have the table
    // open, whether one of them holds it exclusively, and which handle holds each record lock.
    struct Sharing {
        int handles = 0;
        bool exclusive = false;
        std::map<UNSIGNED32, const void*> recordLocks;
    };
    Sharing& Share() { return sharing_; }
    // Whether the file could be opened for writing.
    virtual bool Writable() const = 0;
    // Whether this is the static result set of a query (no locks, no writes: KCE_STATIC_CURSOR).
    virtual bool StaticResult() const { return false; }

    // Transactions (KdsBeginTransaction): the changes made between BeginTransaction and
    // CommitTransaction are kept whole, or after RollbackTransaction (or a crash) not at all;
    // record numbers and autoincrement values they took are given back. A kind without them
    // answers KCE_NOT_SUPPORTED.
    virtual KCESTATUS BeginTransaction();
    virtual KCESTATUS CommitTransaction();
    virtual KCESTATUS RollbackTransaction();
    bool InTransaction() const { return inTransaction_; }
    // Inside a transaction of a kind whose files the engine writes itself (DBF): one more file
    // that a rollback gives back as it was at the beginning (an index file an observer writes;
    // one not there yet is removed again). Outside a transaction, and for other kinds, nothing.
    virtual KCESTATUS CoverFile(const std::string& path) {
        (void)path;
        return KCE_SUCCESS;
    }

  protected:
    // Runs every observer; the first failure wins.
    KCESTATUS NotifyWrite(UNSIGNED32 recno, const uint8_t* oldImage, const uint8_t* newImage);
    KCESTATUS NotifyZap();
    KCESTATUS NotifyRebuild();
    // Every observer is told, even after one fails; the first failure is answered.
    KCESTATUS NotifyTransaction(TransactionPhase phase);

    std::string path_;
    RecordLayout layout_;
    std::unique_ptr<FileLock> locks_;
    std::vector<std::shared_ptr<WriteObserver>> observers_;
    Sharing sharing_;
    bool inTransaction_ = false;
};

// What an opener is asked for.
struct OpenRequest {
    std::string path;  // resolved, existing file
    bool readOnly = false;
    UNSIGNED16 charType = KCE_ANSI;
};

// The storage kinds: each table type has an opener and a creator (storage_kinds.cpp lists them).
// Creating makes the file and answers it opened.
struct StorageKind {
    UNSIGNED16 tableType;
    const char* extension;  // ".kdt", ".dbf"
    KCESTATUS (*open)(const OpenRequest& request, std::unique_ptr<Storage>* out);
    KCESTATUS(*create)
    (const std::string& path, const std::vector<FieldSpec>& fields, std::unique_ptr<Storage>* out);
};
// The kind of a table type, or null when there is none (yet).
const StorageKind* FindStorageKind(UNSIGNED16 tableType);
// The kind a file of that extension (".dbf", letter case ignored) opens as when no table type is
// given; null for an extension no kind claims.
const StorageKind* FindStorageKindByExtension(std::string_view extension);

}  // namespace kce
