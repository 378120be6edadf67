// Native table storage on SQLite.
//
// File layout (a SQLite 3 database, WAL journal):
//
//   PRAGMA application_id   0x4B445431 ("KDT1"): marks the file as a native table
//   PRAGMA user_version     1: the layout version below
//   kdt_table(key, value)   table properties: last_autoinc (last autoincrement value assigned),
//                           recno_floor (highest record number ever deleted at the end, so that
//                           numbers are not given out twice)
//   kdt_fields(ordinal, name, type, type_name, length, decimals)
//                           one row per field, ordinal 1..n, engine type code and its name,
//                           bytes in the record image, decimals of numeric fields
//   records(kdt_recno INTEGER PRIMARY KEY, <one column per field, in field order>)
//                           one row per record; kdt_recno is the record number. Column values
//                           are described in kdt_values.h.
//
// Other tables (indexes) may live in the same file; this storage leaves them alone.
//
// An encrypted table (user_version 2) keeps the same kdt_table and kdt_fields, so its layout and
// record count stay readable, and these instead of the plain columns:
//
//   kdt_crypt(key, value)   salt (16 random bytes), ops_limit and mem_limit (the Argon2id cost),
//                           check (the key-check value: a seal that only the right key opens)
//   records(kdt_recno INTEGER PRIMARY KEY, kdt_image BLOB NOT NULL, <one BLOB per blob field>)
//                           kdt_image: the record image sealed with the record number as its
//                           associated data; each blob column: the value sealed with the record
//                           number and the field (NULL when empty)
//
// A seal that does not open (a byte changed, a value moved to another record) is KCE_TAMPERED,
// and nothing of it reaches the caller. Index keys of an encrypted table never reach the file:
// each process keeps them in its connection's temporary database (index layer). Without the
// password (GivePassword) records read as empty images and every write is refused.
//
// Each write is one SQLite transaction (BEGIN IMMEDIATE ... COMMIT) with synchronous=NORMAL:
// a committed record survives a crash of the process. The WAL is copied into the table file
// (a checkpoint, with a sync of both files) every 8,192 pages, some 32 MB, rather than SQLite's
// 1,000: a run that posts records one at a time would otherwise wait on two syncs every hundred
// or so records (kAutoCheckpoint). Reading walks records with one open
// statement (the scan) so that a forward pass costs one step per record; the scan is closed
// before any write and after 50 ms, so that it never hides other processes' changes for long.
// The scan's rows serve only the walk (and the blobs of the record it stands on): a record read
// by number (positioning, lock, refresh, the start of an edit) closes the scan first, and so
// sees every change committed before the call.
#include "engine/native/kdt_storage.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "engine/field_text.h"
#include "engine/invariant.h"
#include "engine/native/kdt_crypt.h"
#include "engine/native/kdt_values.h"
#include "engine/native/sqlite_status.h"
#include "engine/status.h"
#include "engine/text.h"
#include "rtl/edge.h"

namespace kce::native {
namespace {

constexpr int kApplicationId = 0x4B445431;
constexpr int kFormatVersion = 1;
constexpr int kEncryptedVersion = 2;
constexpr const char* kImageColumn = "kdt_image";
constexpr const char* kRecnoColumn = "kdt_recno";
constexpr int64_t kScanLifetimeMs = 50;
// Pages of WAL after which a commit copies it into the table file (see above).
constexpr const char* kAutoCheckpoint = "PRAGMA wal_autocheckpoint = 8192";

// Whether a blob column holds a value, 1 or 0, without reading the value: `col IS NOT NULL` would
// load the whole value (a photo's 20 KB, for every record read); typeof looks at the row header.
std::string HoldsValue(const std::string& quotedColumn) {
    return "typeof(" + quotedColumn + ") != 'null'";
}

// Milliseconds of a coarse monotonic clock (a few milliseconds' resolution): enough to tell a
// scan's age, and read on every step of a walk at a fraction of the precise clock's cost.
int64_t ScanClockMs() {
    timespec ts{};
#ifdef CLOCK_MONOTONIC_COARSE
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
#else
    clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

const char* testVfs = nullptr;

std::string Quote(const std::string& name) { return "\"" + name + "\""; }

// A prepared statement, finalized with its owner.
class Stmt {
  public:
    Stmt() = default;
    ~Stmt() { sqlite3_finalize(stmt_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    KCESTATUS Prepare(sqlite3* db, const std::string& sql, const std::string& file) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        int rc =
            sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
        if (rc != SQLITE_OK) {
            // A statement of our own layout that does not prepare means the schema is not ours.
            if ((rc & 0xFF) == SQLITE_ERROR) {
                return Fail(KCE_DAMAGED_FILE, file + ": " + sqlite3_errmsg(db));
            }
            return SqliteFail(db, rc, file);
        }
        return KCE_SUCCESS;
    }
    sqlite3_stmt* get() const { return stmt_; }
    operator sqlite3_stmt*() const { return stmt_; }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when the scope ends, so that no read transaction stays open by accident.
struct ResetOnExit {
    sqlite3_stmt* stmt;
    ~ResetOnExit() {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
};

class KdtStorage : public Storage {
  public:
    ~KdtStorage() override {
        // Observers (the index layer) hold statements on this connection too.
        observers_.clear();
        EndScan();
        // Statements first: sqlite3_close refuses while any is unfinalized.
        stmts_.clear();
        blobReads_.clear();
        blobWrites_.clear();
        whereScan_.reset();
        sqlite3_close(db_);
    }

    static KCESTATUS Open(const OpenRequest& request, std::unique_ptr<Storage>* out);
    static KCESTATUS Create(const std::string& path, const std::vector<FieldSpec>& fields,
                            std::unique_ptr<Storage>* out);

    UNSIGNED16 TableType() const override { return KCE_KDT; }
    bool Writable() const override { return writable_; }
    bool HasDeletedMarks() const override { return false; }
    sqlite3* Database() { return db_; }

    KCESTATUS RecordCount(UNSIGNED32* count) override;
    KCESTATUS RecordEstimate(UNSIGNED32* count) override {
        EndScan();
        if (KCESTATUS s = NoteOtherWriters()) return s;
        if (countKnown_) {
            *count = count_;
            return KCE_SUCCESS;
        }
        return MaxRecno(count);
    }
    KCESTATUS NextRecno(UNSIGNED32 after, UNSIGNED32* recno) override;
    KCESTATUS PrevRecno(UNSIGNED32 before, UNSIGNED32* recno) override;
    KCESTATUS NextRecnoWhere(const std::string& where, const std::vector<SqlParam>& params,
                             UNSIGNED32 after, UNSIGNED32* recno, bool* supported) override;
    KCESTATUS ReadRecord(UNSIGNED32 recno, uint8_t* image, bool* exists, bool* deleted) override;
    void ForgetSnapshot() override { EndScan(); }
    // See ScanColumn in kdt_storage.h.
    sqlite3_value* ScanColumn(UNSIGNED32 recno, int field) {
        if (encrypted_ || !scanActive_ || recno == 0 || scanRecno_ != recno) return nullptr;
        // Both scans (kScan, whereScan_) select selectList_: the record number, then the fields.
        sqlite3_value* value = sqlite3_column_value(scanStmt_, field + 1);
        return IsCanonicalColumn(layout_.fields[size_t(field)], value) ? value : nullptr;
    }
    KCESTATUS ScanField(int field, const FieldVisit& visit) override;
    KCESTATUS ReadBlob(UNSIGNED32 recno, int field, BlobValue* out) override;
    KCESTATUS ReserveRecno(UNSIGNED32* recno) override;
    void ReleaseRecno(UNSIGNED32 recno) override {
        if (recno != 0 && recno == lastReserved_) --lastReserved_;
    }
    KCESTATUS WriteRecord(UNSIGNED32* recno, bool isNew, uint8_t* image,
                          const PendingBlobs& blobs) override;
    KCESTATUS DeleteRecord(UNSIGNED32 recno) override;
    KCESTATUS Zap() override;
    KCESTATUS LastAutoinc(UNSIGNED32* value) override;
    KCESTATUS BeginTransaction() override;
    KCESTATUS CommitTransaction() override;
    KCESTATUS RollbackTransaction() override;

    bool Encrypted() const override { return encrypted_; }
    bool Unlocked() const override { return !encrypted_ || key_ != nullptr; }
    KCESTATUS GivePassword(std::string_view password) override;
    KCESTATUS Encrypt(std::string_view password) override;
    KCESTATUS Decrypt(std::string_view password) override;

    void NullRecord(uint8_t* image) const override { NativeNullRecord(layout_, image); }
    void WriteNull(int field, uint8_t* image) const override {
        WriteNativeNull(layout_.fields[field], image);
    }
    bool IsNull(int field, const uint8_t* image) const override {
        return IsNativeNull(layout_.fields[field], image);
    }
    KCESTATUS FieldFromText(int field, std::string_view text, uint8_t* image) const override {
        return ValueFromText(layout_.fields[field], text, image);
    }
    KCESTATUS FieldToText(int field, const uint8_t* image, std::string* text) const override {
        return ValueToText(layout_.fields[field], image, text);
    }
    KCESTATUS CheckRaw(int field, const uint8_t* bytes) const override {
        const FieldDesc& f = layout_.fields[field];
        switch (f.type) {
            case KCE_STRING:
            case KCE_RAW:
            case KCE_INTEGER:
            case KCE_SHORTINT:
            case KCE_AUTOINC:
                return KCE_SUCCESS;  // every byte pattern is a value (or the empty one)
            default:
                return CheckAt(f, bytes, &scratch_);
        }
    }

  private:
    enum StmtId {
        kSelectOne,
        kScan,
        kPrev,
        kCount,
        kMax,
        kInsert,
        kUpdate,
        kDelete,
        kDeleteAll,
        kGetMeta,
        kSetMeta,
        kDataVersion,
        kBegin,
        kCommit,
        kStmtCount
    };

    KCESTATUS Prepare();
    KCESTATUS Step(sqlite3_stmt* stmt, int* rc, const char* what);
    KCESTATUS Exec(StmtId id, const char* what);
    KCESTATUS DecodeRow(sqlite3_stmt* stmt, int firstCol, UNSIGNED32 recno, uint8_t* image);
    KCESTATUS GetMeta(const char* key, int64_t* value);
    KCESTATUS SetMeta(const char* key, int64_t value);
    KCESTATUS MaxRecno(UNSIGNED32* max);
    // The number after highest; a failure when highest is the last number there is.
    KCESTATUS NumberAfter(UNSIGNED32 highest, UNSIGNED32* next);
    KCESTATUS Begin();
    KCESTATUS Commit();
    void Rollback();
    class WriteScope;
    // The two halves of WriteRecord, inside its write scope; `values` are the record's columns.
    KCESTATUS Append(UNSIGNED32* number, uint8_t* work, std::vector<ColumnValue>& values,
                     const PendingBlobs& blobs);
    KCESTATUS Update(UNSIGNED32 number, uint8_t* work, const std::vector<ColumnValue>& values,
                     const PendingBlobs& blobs);
    // A blob field's column value from the pending blobs (null when it has none).
    ColumnValue BlobColumn(int field, const PendingBlobs& blobs) const;
    KCESTATUS CheckWritable();
    // Drops caches when another connection committed since the last look.
    KCESTATUS NoteOtherWriters();
    void EndScan() {
        if (scanActive_) {
            sqlite3_reset(scanStmt_);
            scanActive_ = false;
            scanRecno_ = 0;
        }
    }
    // One step of the running forward scan: *recno is its next record, 0 at its end.
    KCESTATUS StepScan(sqlite3_stmt* scan, UNSIGNED32* recno) {
        *recno = 0;
        int rc;
        if (KCESTATUS s = Step(scan, &rc, "read")) {
            EndScan();
            return s;
        }
        if (rc == SQLITE_DONE) {
            EndScan();
            return KCE_SUCCESS;
        }
        scanRecno_ = UNSIGNED32(sqlite3_column_int64(scan, 0));
        *recno = scanRecno_;
        return KCE_SUCCESS;
    }
    void ExpireScan() {
        // A running scan has its statement; a closed one stands on no record.
        KCE_INVARIANT(scanActive_ ? scanStmt_ != nullptr : scanRecno_ == 0);
        if (scanActive_ && ScanClockMs() - scanStartMs_ > kScanLifetimeMs) EndScan();
    }
    KCESTATUS BlobStmt(std::vector<std::unique_ptr<Stmt>>& cache, int field, bool write,
                       sqlite3_stmt** out);

    // Encrypted tables.
    KCESTATUS LoadKeyParams();
    // The image as the plain columns would give it back (char padding, numeric decimals), so
    // that an encrypted table reads exactly as a plain one.
    KCESTATUS Normalize(const std::vector<ColumnValue>& values, uint8_t* work);
    // Binds the sealed image and blobs of a record about to be inserted as `number`.
    KCESTATUS BindSealed(sqlite3_stmt* stmt, UNSIGNED32 number, const uint8_t* work,
                         const PendingBlobs& blobs);
    std::string SealBlob(UNSIGNED32 number, int field, const BlobValue& value) const;
    KCESTATUS Tampered(UNSIGNED32 recno, const std::string& what);
    // Rewrites every record into the other form (encrypt: with `key`; decrypt: key_ to plain).
    KCESTATUS Rewrite(bool encrypt, std::unique_ptr<TableKey> key);

    bool encrypted_ = false;
    KeyParams keyParams_;
    std::string checkValue_;
    std::unique_ptr<TableKey> key_;
    std::vector<int> blobFields_;  // the blob fields, in field order
    std::string opened_;           // reused by record reads

    sqlite3* db_ = nullptr;
    bool writable_ = false;
    std::vector<std::unique_ptr<Stmt>> stmts_;
    std::vector<std::unique_ptr<Stmt>> blobReads_;
    std::vector<std::unique_ptr<Stmt>> blobWrites_;
    std::vector<int> updateFields_;    // fields an update rewrites (not blobs, not autoinc)
    mutable ColumnValue scratch_;      // reused by CheckRaw
    std::vector<ColumnValue> values_;  // reused by WriteRecord
    std::vector<uint8_t> work_;        // reused by WriteRecord: the image being written

    bool scanActive_ = false;
    sqlite3_stmt* scanStmt_ = nullptr;  // the active scan: kScan or whereScan_
    UNSIGNED32 scanRecno_ = 0;
    std::string selectList_;  // the columns a record read selects
    // The scan of NextRecnoWhere, for the condition whereText_.
    std::unique_ptr<Stmt> whereScan_;
    std::string whereText_;
    int64_t scanStartMs_ = 0;

    int64_t dataVersion_ = -1;
    bool countKnown_ = false;
    UNSIGNED32 count_ = 0;
    bool maxKnown_ = false;
    UNSIGNED32 knownMax_ = 0;  // highest record number used (see MaxRecno)
    UNSIGNED32 lastReserved_ = 0;
};

KCESTATUS KdtStorage::Step(sqlite3_stmt* stmt, int* rc, const char* what) {
    *rc = sqlite3_step(stmt);
    if (*rc == SQLITE_ROW || *rc == SQLITE_DONE) return KCE_SUCCESS;
    KCESTATUS s = SqliteFail(db_, *rc, path_ + " (" + what + ")");
    sqlite3_reset(stmt);
    return s;
}

KCESTATUS KdtStorage::Exec(StmtId id, const char* what) {
    sqlite3_stmt* stmt = stmts_[id]->get();
    ResetOnExit reset{stmt};
    int rc;
    return Step(stmt, &rc, what);
}

KCESTATUS KdtStorage::Prepare() {
    std::string selectList = kRecnoColumn;
    std::string columns = kRecnoColumn, params = "?", sets;
    int param = 1;
    updateFields_.clear();
    blobFields_.clear();
    for (size_t i = 0; i < layout_.fields.size(); ++i) {
        if (IsBlobType(layout_.fields[i].type)) blobFields_.push_back(int(i));
    }
    if (encrypted_) {
        // The image, then the blob columns' markers.
        selectList += std::string(", ") + kImageColumn;
        columns += std::string(", ") + kImageColumn;
        params += ", ?";
        for (int i : blobFields_) {
            const std::string col = Quote(layout_.fields[size_t(i)].name);
            selectList += ", " + HoldsValue(col);
            columns += ", " + col;
            params += ", ?";
        }
        sets = std::string(kImageColumn) + " = ?2";
    }
    for (size_t i = 0; i < layout_.fields.size() && !encrypted_; ++i) {
        const FieldDesc& f = layout_.fields[i];
        selectList += IsBlobType(f.type) ? ", " + HoldsValue(Quote(f.name)) : ", " + Quote(f.name);
        columns += ", " + Quote(f.name);
        params += ", ?";
        if (!IsBlobType(f.type) && f.type != KCE_AUTOINC) {
            sets += (sets.empty() ? "" : ", ") + Quote(f.name) + " = ?" + std::to_string(++param);
            updateFields_.push_back(int(i));
        }
    }
    std::string from = " FROM records ";
    selectList_ = selectList;
    EndScan();  // the scan may be whereScan_'s, which goes now
    whereScan_.reset();
    whereText_.clear();
    std::string texts[kStmtCount];
    texts[kSelectOne] = "SELECT " + selectList + from + "WHERE kdt_recno = ?";
    texts[kScan] = "SELECT " + selectList + from + "WHERE kdt_recno > ? ORDER BY kdt_recno";
    texts[kPrev] =
        "SELECT kdt_recno" + from + "WHERE kdt_recno < ? ORDER BY kdt_recno DESC LIMIT 1";
    texts[kCount] = "SELECT count(*)" + from;
    texts[kMax] = "SELECT max(kdt_recno)" + from;
    texts[kInsert] = "INSERT INTO records(" + columns + ") VALUES (" + params + ")";
    texts[kUpdate] = sets.empty() ? "SELECT 1 FROM records WHERE kdt_recno = ?1"
                                  : "UPDATE records SET " + sets + " WHERE kdt_recno = ?1";
    texts[kDelete] = "DELETE" + from + "WHERE kdt_recno = ?";
    texts[kDeleteAll] = "DELETE FROM records";
    texts[kGetMeta] = "SELECT value FROM kdt_table WHERE key = ?";
    texts[kSetMeta] = "INSERT OR REPLACE INTO kdt_table(key, value) VALUES (?, ?)";
    texts[kDataVersion] = "PRAGMA data_version";
    texts[kBegin] = "BEGIN IMMEDIATE";
    texts[kCommit] = "COMMIT";
    stmts_.clear();
    for (int i = 0; i < kStmtCount; ++i) {
        stmts_.push_back(std::make_unique<Stmt>());
        if (KCESTATUS s = stmts_.back()->Prepare(db_, texts[i], path_)) return s;
    }
    blobReads_.resize(layout_.fields.size());
    blobWrites_.resize(layout_.fields.size());
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::Open(const OpenRequest& request, std::unique_ptr<Storage>* out) {
    // The path names an existing regular file (OpenTable looked).
    const std::string& path = request.path;
    if (::access(rtl::OsPath(path).c_str(), R_OK) != 0)
        return Fail(KCE_FILE_OPEN_FAILED, path + " cannot be read");
    // Look at the header ourselves first, so that SQLite never touches a file that is not one.
    {
        FILE* f = std::fopen(rtl::OsPath(path).c_str(), "rb");
        if (!f) return Fail(KCE_FILE_OPEN_FAILED, path);
        char head[16] = {};
        size_t got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
        if (got < sizeof head || std::memcmp(head, "SQLite format 3", 16) != 0) {
            return Fail(KCE_WRONG_FILE_FORMAT, path + " is not a native table (no SQLite header)");
        }
    }
    auto storage = std::unique_ptr<KdtStorage>(new KdtStorage());
    storage->path_ = path;
    storage->writable_ = ::access(rtl::OsPath(path).c_str(), W_OK) == 0;
    int flags =
        (storage->writable_ ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(rtl::OsPath(path).c_str(), &storage->db_, flags, testVfs);
    if (rc != SQLITE_OK) return SqliteFail(storage->db_, rc, path);
    sqlite3* db = storage->db_;
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 1);

    auto pragmaInt = [&](const char* sql, int64_t* value) -> KCESTATUS {
        Stmt st;
        if (KCESTATUS s = st.Prepare(db, sql, path)) return s;
        int step = sqlite3_step(st);
        if (step != SQLITE_ROW) return SqliteFail(db, step, path);
        *value = sqlite3_column_int64(st, 0);
        return KCE_SUCCESS;
    };
    int64_t appId = 0, version = 0;
    if (KCESTATUS s = pragmaInt("PRAGMA application_id", &appId)) return s;
    if (appId != kApplicationId) {
        return Fail(KCE_WRONG_FILE_FORMAT, path + " is a SQLite database but not a native table");
    }
    if (KCESTATUS s = pragmaInt("PRAGMA user_version", &version)) return s;
    if (version != kFormatVersion && version != kEncryptedVersion) {
        return Fail(KCE_WRONG_FILE_FORMAT, path + ": layout version " + std::to_string(version) +
                                               ", this engine reads " +
                                               std::to_string(kFormatVersion));
    }

    // The field descriptors.
    std::vector<FieldSpec> specs;
    {
        Stmt st;
        if (KCESTATUS s = st.Prepare(db,
                                     "SELECT ordinal, name, type, length, decimals FROM kdt_fields "
                                     "ORDER BY ordinal",
                                     path))
            return s;
        int step;
        while ((step = sqlite3_step(st)) == SQLITE_ROW) {
            int64_t ordinal = sqlite3_column_int64(st, 0);
            if (ordinal != int64_t(specs.size()) + 1) {
                return Fail(KCE_DAMAGED_FILE, path + ": field descriptor " +
                                                  std::to_string(ordinal) + " out of sequence");
            }
            FieldSpec spec;
            const unsigned char* name = sqlite3_column_text(st, 1);
            spec.name = name ? reinterpret_cast<const char*>(name) : "";
            int64_t type = sqlite3_column_int64(st, 2), length = sqlite3_column_int64(st, 3),
                    decimals = sqlite3_column_int64(st, 4);
            if (type < 0 || type > 0xFFFF || !FindFieldType(UNSIGNED16(type)) || length < 0 ||
                length > 65535 || decimals < 0 || decimals > 65535) {
                return Fail(KCE_DAMAGED_FILE, path + ": field descriptor " +
                                                  std::to_string(ordinal) + " ('" + spec.name +
                                                  "') has type " + std::to_string(type) +
                                                  ", length " + std::to_string(length));
            }
            spec.type = UNSIGNED16(type);
            spec.length = UNSIGNED32(length);
            spec.decimals = UNSIGNED16(decimals);
            specs.push_back(std::move(spec));
        }
        if (step != SQLITE_DONE) return SqliteFail(db, step, path);
    }
    if (BuildNativeLayout(specs, &storage->layout_) != KCE_SUCCESS) {
        std::string why = LastText();
        return Fail(KCE_DAMAGED_FILE, path + ": field descriptors: " + why);
    }
    for (const FieldSpec& spec : specs) {
        const FieldDesc& f = storage->layout_.fields[storage->layout_.Find(spec.name)];
        if (f.length != spec.length && spec.length != 0) {
            return Fail(KCE_DAMAGED_FILE, path + ": field '" + f.name + "' has length " +
                                              std::to_string(spec.length) + ", its type takes " +
                                              std::to_string(f.length));
        }
    }
    for (const char* pragma : {"PRAGMA synchronous = NORMAL", kAutoCheckpoint}) {
        Stmt st;
        if (KCESTATUS s = st.Prepare(db, pragma, path)) return s;
        sqlite3_step(st);
    }
    storage->encrypted_ = version == kEncryptedVersion;
    if (storage->encrypted_) {
        if (KCESTATUS s = storage->LoadKeyParams()) return s;
    }
    if (KCESTATUS s = storage->Prepare()) return s;
    if (KCESTATUS s = FileLock::Open(path, &storage->locks_)) return s;
    *out = std::move(storage);
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::Create(const std::string& path, const std::vector<FieldSpec>& fields,
                             std::unique_ptr<Storage>* out) {
    RecordLayout layout;
    if (KCESTATUS s = BuildNativeLayout(fields, &layout)) return s;
    for (const FieldDesc& f : layout.fields) {
        if (SameText(f.name, kRecnoColumn)) {
            return Fail(KCE_INVALID_ARGUMENT, "field name '" + f.name + "' is reserved");
        }
    }
    struct stat st;
    if (::stat(rtl::OsPath(path).c_str(), &st) == 0) return Fail(KCE_TABLE_EXISTS, path);

    // Build the file beside its final name, then link it into place: a failed create leaves
    // nothing, and a file that appeared meanwhile is not overwritten.
    std::string temp = path + ".creating-" + std::to_string(::getpid());
    ::unlink(rtl::OsPath(temp).c_str());
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(rtl::OsPath(temp).c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    auto cleanup = [&]() {
        sqlite3_close(db);
        ::unlink(rtl::OsPath(temp).c_str());
        ::unlink(rtl::OsPath(temp + "-wal").c_str());
        ::unlink(rtl::OsPath(temp + "-shm").c_str());
        ::unlink(rtl::OsPath(temp + "-journal").c_str());
    };
    if (rc != SQLITE_OK) {
        KCESTATUS s = Fail(KCE_FILE_OPEN_FAILED, path + ": " + sqlite3_errstr(rc));
        cleanup();
        return s;
    }
    std::string sql = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                      "; PRAGMA user_version = " + std::to_string(kFormatVersion) +
                      "; PRAGMA journal_mode = WAL; BEGIN;"
                      " CREATE TABLE kdt_table(key TEXT PRIMARY KEY, value);"
                      " INSERT INTO kdt_table VALUES ('last_autoinc', 0), ('recno_floor', 0);"
                      " CREATE TABLE kdt_fields(ordinal INTEGER PRIMARY KEY, name TEXT NOT NULL,"
                      " type INTEGER NOT NULL, type_name TEXT NOT NULL, length INTEGER NOT NULL,"
                      " decimals INTEGER NOT NULL);";
    std::string columns;
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        const FieldDesc& f = layout.fields[i];
        sql += " INSERT INTO kdt_fields VALUES (" + std::to_string(i + 1) + ", '" + f.name + "', " +
               std::to_string(f.type) + ", '" + FieldTypeName(f.type) + "', " +
               std::to_string(f.length) + ", " + std::to_string(f.decimals) + ");";
        columns += ", " + Quote(f.name) + " " + ColumnType(f.type);
    }
    sql += " CREATE TABLE records(kdt_recno INTEGER PRIMARY KEY" + columns + "); COMMIT;";
    char* err = nullptr;
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        KCESTATUS s = SqliteFail(nullptr, rc, path + ": " + (err ? err : ""));
        sqlite3_free(err);
        cleanup();
        return s;
    }
    rc = sqlite3_close(db);
    db = nullptr;
    if (rc != SQLITE_OK || ::link(rtl::OsPath(temp).c_str(), rtl::OsPath(path).c_str()) != 0) {
        KCESTATUS s = errno == EEXIST
                          ? Fail(KCE_TABLE_EXISTS, path)
                          : Fail(KCE_FILE_WRITE_FAILED, path + ": " + std::strerror(errno));
        cleanup();
        return s;
    }
    cleanup();
    OpenRequest request;
    request.path = path;
    return Open(request, out);
}

KCESTATUS KdtStorage::NoteOtherWriters() {
    if (scanActive_) return KCE_SUCCESS;  // the scan's snapshot is current enough (see above)
    sqlite3_stmt* stmt = stmts_[kDataVersion]->get();
    ResetOnExit reset{stmt};
    int rc;
    if (KCESTATUS s = Step(stmt, &rc, "data version")) return s;
    int64_t version = sqlite3_column_int64(stmt, 0);
    if (version != dataVersion_) {
        dataVersion_ = version;
        countKnown_ = false;
        maxKnown_ = false;
    }
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::RecordCount(UNSIGNED32* count) {
    EndScan();
    if (KCESTATUS s = NoteOtherWriters()) return s;
    if (!countKnown_) {
        sqlite3_stmt* stmt = stmts_[kCount]->get();
        ResetOnExit reset{stmt};
        int rc;
        if (KCESTATUS s = Step(stmt, &rc, "count")) return s;
        count_ = UNSIGNED32(sqlite3_column_int64(stmt, 0));
        countKnown_ = true;
    }
    *count = count_;
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::NextRecno(UNSIGNED32 after, UNSIGNED32* recno) {
    ExpireScan();
    sqlite3_stmt* scan = stmts_[kScan]->get();
    if (!scanActive_ || scanStmt_ != scan || scanRecno_ != after) {
        EndScan();
        sqlite3_bind_int64(scan, 1, after);
        scanStmt_ = scan;
        scanActive_ = true;
        scanStartMs_ = ScanClockMs();
    }
    return StepScan(scan, recno);
}

KCESTATUS KdtStorage::NextRecnoWhere(const std::string& where, const std::vector<SqlParam>& params,
                                     UNSIGNED32 after, UNSIGNED32* recno, bool* supported) {
    *recno = 0;
    // Sealed rows hold no columns to test.
    *supported = !encrypted_;
    if (!*supported) return KCE_SUCCESS;
    ExpireScan();
    if (!whereScan_ || whereText_ != where) {
        EndScan();
        auto stmt = std::make_unique<Stmt>();
        // The record number is the parameter after the condition's own.
        const std::string sql = "SELECT " + selectList_ + " FROM records WHERE (" + where +
                                ") AND kdt_recno > ? ORDER BY kdt_recno";
        if (KCESTATUS s = stmt->Prepare(db_, sql, path_)) return s;
        whereScan_ = std::move(stmt);
        whereText_ = where;
    }
    sqlite3_stmt* scan = whereScan_->get();
    if (!scanActive_ || scanStmt_ != scan || scanRecno_ != after) {
        EndScan();
        sqlite3_clear_bindings(scan);
        for (size_t i = 0; i < params.size(); ++i) {
            const SqlParam& p = params[i];
            if (p.isText) {
                sqlite3_bind_text(scan, int(i + 1), p.text.data(), int(p.text.size()),
                                  SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_double(scan, int(i + 1), p.number);
            }
        }
        sqlite3_bind_int64(scan, int(params.size() + 1), after);
        scanStmt_ = scan;
        scanActive_ = true;
        scanStartMs_ = ScanClockMs();
    }
    return StepScan(scan, recno);
}

KCESTATUS KdtStorage::PrevRecno(UNSIGNED32 before, UNSIGNED32* recno) {
    EndScan();
    sqlite3_stmt* stmt = stmts_[before ? kPrev : kMax]->get();
    ResetOnExit reset{stmt};
    if (before) sqlite3_bind_int64(stmt, 1, before);
    int rc;
    if (KCESTATUS s = Step(stmt, &rc, "read")) return s;
    *recno = rc == SQLITE_ROW ? UNSIGNED32(sqlite3_column_int64(stmt, 0)) : 0;
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::DecodeRow(sqlite3_stmt* stmt, int firstCol, UNSIGNED32 recno,
                                uint8_t* image) {
    if (encrypted_) {
        // Without the key a record is its empty image.
        NativeNullRecord(layout_, image);
        if (!key_) return KCE_SUCCESS;
        const void* data = sqlite3_column_blob(stmt, firstCol);
        std::string_view sealed(static_cast<const char*>(data ? data : ""),
                                size_t(sqlite3_column_bytes(stmt, firstCol)));
        if (sqlite3_column_type(stmt, firstCol) != SQLITE_BLOB ||
            !key_->Open(sealed, RecordAd(recno), &opened_) ||
            opened_.size() != layout_.recordLength) {
            NativeNullRecord(layout_, image);
            return Tampered(recno, "its record image");
        }
        std::memcpy(image, opened_.data(), opened_.size());
        int col = firstCol + 1;
        for (int i : blobFields_) {
            StoreU32(image + layout_.fields[size_t(i)].offset,
                     sqlite3_column_int(stmt, col++) ? 0xFFFFFFFFu : 0);
        }
        return KCE_SUCCESS;
    }
    for (size_t i = 0; i < layout_.fields.size(); ++i) {
        if (KCESTATUS s =
                ReadColumn(stmt, firstCol + int(i), layout_.fields[i], image, recno, path_))
            return s;
    }
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::ReadRecord(UNSIGNED32 recno, uint8_t* image, bool* exists, bool* deleted) {
    *deleted = false;
    ExpireScan();
    if (scanActive_ && scanRecno_ == recno && recno != 0) {
        *exists = true;
        return DecodeRow(scanStmt_, 1, recno, image);
    }
    EndScan();
    sqlite3_stmt* stmt = stmts_[kSelectOne]->get();
    ResetOnExit reset{stmt};
    sqlite3_bind_int64(stmt, 1, recno);
    int rc;
    if (KCESTATUS s = Step(stmt, &rc, "read")) return s;
    *exists = rc == SQLITE_ROW;
    if (!*exists) return KCE_SUCCESS;
    return DecodeRow(stmt, 1, recno, image);
}

KCESTATUS KdtStorage::ScanField(int field, const FieldVisit& visit) {
    const FieldDesc& f = layout_.fields[size_t(field)];
    // A sealed record opens whole; a blob field's column is its value, not its marker.
    if (encrypted_ || IsBlobType(f.type)) return Storage::ScanField(field, visit);
    EndScan();
    Stmt stmt;
    if (KCESTATUS s = stmt.Prepare(
            db_, "SELECT kdt_recno, " + Quote(f.name) + " FROM records ORDER BY kdt_recno", path_))
        return s;
    std::vector<uint8_t> image(layout_.recordLength);
    for (;;) {
        int rc;
        if (KCESTATUS s = Step(stmt, &rc, "read")) return s;
        if (rc == SQLITE_DONE) return KCE_SUCCESS;
        UNSIGNED32 recno = UNSIGNED32(sqlite3_column_int64(stmt, 0));
        if (KCESTATUS s = ReadColumn(stmt, 1, f, image.data(), recno, path_)) return s;
        if (KCESTATUS s = visit(recno, image.data(), false)) return s;
    }
}

KCESTATUS KdtStorage::BlobStmt(std::vector<std::unique_ptr<Stmt>>& cache, int field, bool write,
                               sqlite3_stmt** out) {
    if (!cache[field]) {
        auto stmt = std::make_unique<Stmt>();
        const std::string col = Quote(layout_.fields[field].name);
        std::string sql = write ? "UPDATE records SET " + col + " = ?1 WHERE kdt_recno = ?2"
                                : "SELECT " + col + " FROM records WHERE kdt_recno = ?";
        if (KCESTATUS s = stmt->Prepare(db_, sql, path_)) return s;
        cache[field] = std::move(stmt);
    }
    *out = cache[field]->get();
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::ReadBlob(UNSIGNED32 recno, int field, BlobValue* out) {
    // The blob of the record the walk stands on is read in the scan's snapshot, the one its
    // other fields came from, and the walk goes on from there; any other record is a read by
    // number, which closes the scan first.
    ExpireScan();
    if (!scanActive_ || scanRecno_ != recno) EndScan();
    sqlite3_stmt* stmt;
    if (KCESTATUS s = BlobStmt(blobReads_, field, false, &stmt)) return s;
    ResetOnExit reset{stmt};
    sqlite3_bind_int64(stmt, 1, recno);
    int rc;
    if (KCESTATUS s = Step(stmt, &rc, "read")) return s;
    if (rc != SQLITE_ROW) {
        return Fail(KCE_INVALID_RECORD, path_ + ": record " + std::to_string(recno));
    }
    out->isNull = sqlite3_column_type(stmt, 0) == SQLITE_NULL;
    const void* data = sqlite3_column_blob(stmt, 0);
    if (encrypted_) {
        out->bytes.clear();
        if (!key_ || out->isNull) {
            out->isNull = true;
            return KCE_SUCCESS;
        }
        std::string_view sealed(static_cast<const char*>(data ? data : ""),
                                size_t(sqlite3_column_bytes(stmt, 0)));
        if (!key_->Open(sealed, BlobAd(recno, field), &out->bytes)) {
            out->isNull = true;
            return Tampered(recno, "field '" + layout_.fields[size_t(field)].name + "'");
        }
        return KCE_SUCCESS;
    }
    out->bytes.assign(static_cast<const char*>(data ? data : ""),
                      size_t(sqlite3_column_bytes(stmt, 0)));
    const FieldDesc& f = layout_.fields[size_t(field)];
    if (f.type == KCE_MEMO || f.type == KCE_VARCHAR) {
        std::string missing;
        std::optional<std::string> text = ColumnValueText(out->bytes, &missing);
        if (!text) return Unconvertible(path_, recno, f.name, missing);
        out->bytes = std::move(*text);
    }
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::GetMeta(const char* key, int64_t* value) {
    sqlite3_stmt* stmt = stmts_[kGetMeta]->get();
    ResetOnExit reset{stmt};
    sqlite3_bind_text(stmt, 1, key, -1, SQLITE_STATIC);
    int rc;
    if (KCESTATUS s = Step(stmt, &rc, "table properties")) return s;
    *value = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::SetMeta(const char* key, int64_t value) {
    sqlite3_stmt* stmt = stmts_[kSetMeta]->get();
    ResetOnExit reset{stmt};
    sqlite3_bind_text(stmt, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_int64(stmt, 2, value);
    int rc;
    return Step(stmt, &rc, "table properties");
}

KCESTATUS KdtStorage::MaxRecno(UNSIGNED32* max) {
    sqlite3_stmt* stmt = stmts_[kMax]->get();
    ResetOnExit reset{stmt};
    int rc;
    if (KCESTATUS s = Step(stmt, &rc, "read")) return s;
    int64_t top = sqlite3_column_int64(stmt, 0);
    int64_t floor = 0;
    if (KCESTATUS s = GetMeta("recno_floor", &floor)) return s;
    const int64_t highest = std::max(top, floor);
    if (highest < 0 || highest > int64_t{0xFFFFFFFFu}) {
        return Fail(KCE_DAMAGED_FILE, path_ + ": record number " + std::to_string(highest) +
                                          " is outside the range of record numbers");
    }
    *max = UNSIGNED32(highest);
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::NumberAfter(UNSIGNED32 highest, UNSIGNED32* next) {
    if (highest == 0xFFFFFFFFu) {
        return Fail(KCE_INVALID_RECORD,
                    path_ + ": every record number is taken (the highest is 4294967295)");
    }
    *next = highest + 1;
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::ReserveRecno(UNSIGNED32* recno) {
    // No look for other writers here: a number another process takes meanwhile is noticed when
    // the record is written (WriteRecord moves it on).
    EndScan();
    if (!maxKnown_) {
        if (KCESTATUS s = MaxRecno(&knownMax_)) return s;
        maxKnown_ = true;
    }
    if (KCESTATUS s = NumberAfter(std::max(lastReserved_, knownMax_), &lastReserved_)) return s;
    KCE_INVARIANT(lastReserved_ > knownMax_);
    *recno = lastReserved_;
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::CheckWritable() {
    if (!writable_) return Fail(KCE_TABLE_READ_ONLY, path_ + " cannot be written");
    if (encrypted_ && !key_) {
        return Fail(KCE_PASSWORD_REQUIRED, path_ + " is encrypted: give its password first");
    }
    return KCE_SUCCESS;
}

// Inside a transaction each write is a savepoint of it, so that a refused write undoes only
// itself.
KCESTATUS KdtStorage::Begin() {
    EndScan();
    if (inTransaction_) return SqliteExec(db_, "SAVEPOINT kdt_write", path_);
    if (KCESTATUS s = Exec(kBegin, "begin")) return s;
    // Asked inside the write transaction, the data version counts every commit that other
    // connections made before it: the same answer as asking first, without a read transaction
    // of its own.
    if (KCESTATUS s = NoteOtherWriters()) {
        Rollback();
        return s;
    }
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::Commit() {
    if (inTransaction_) return SqliteExec(db_, "RELEASE kdt_write", path_);
    if (KCESTATUS s = Exec(kCommit, "commit")) {
        Rollback();
        return s;
    }
    // A write outside a transaction leaves no SQLite transaction open behind it.
    KCE_INVARIANT(sqlite3_get_autocommit(db_));
    return KCE_SUCCESS;
}

void KdtStorage::Rollback() {
    // Runs past any statement helper so that the failure already recorded stays the last error.
    if (inTransaction_) {
        sqlite3_exec(db_, "ROLLBACK TO kdt_write; RELEASE kdt_write", nullptr, nullptr, nullptr);
    } else if (!sqlite3_get_autocommit(db_)) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    countKnown_ = false;
    maxKnown_ = false;
}

// A transaction is one SQLite transaction around its writes: other connections read the table as
// it was until the commit, and a crash leaves it as it was (the WAL's uncommitted frames are
// never read). The commit is synced to disk (synchronous=FULL for it). Index files beside the
// table (.kdi) keep their own transactions, committed right after the table's; should the
// process end between the two, kdstool check reports the difference and reindex mends it.
KCESTATUS KdtStorage::BeginTransaction() {
    if (inTransaction_) return Fail(KCE_TRANSACTION_ACTIVE, "table " + path_);
    EndScan();
    if (KCESTATUS s = NoteOtherWriters()) return s;
    if (writable_) {
        if (KCESTATUS s = SqliteExec(db_, "PRAGMA synchronous = FULL; BEGIN IMMEDIATE", path_))
            return s;
        if (KCESTATUS s = NotifyTransaction(TransactionPhase::kBegin)) {
            sqlite3_exec(db_, "ROLLBACK; PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
            return s;
        }
    }
    inTransaction_ = true;
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::CommitTransaction() {
    if (!inTransaction_) return Fail(KCE_NO_TRANSACTION, "table " + path_);
    EndScan();
    if (writable_) {
        if (KCESTATUS s = SqliteExec(db_, "COMMIT", path_)) return s;
        sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    }
    inTransaction_ = false;
    if (!writable_) return KCE_SUCCESS;
    return NotifyTransaction(TransactionPhase::kCommit);
}

KCESTATUS KdtStorage::RollbackTransaction() {
    if (!inTransaction_) return Fail(KCE_NO_TRANSACTION, "table " + path_);
    EndScan();
    inTransaction_ = false;
    // Record numbers and autoincrement values go back with the rows that took them.
    countKnown_ = false;
    maxKnown_ = false;
    lastReserved_ = 0;
    if (!writable_) return KCE_SUCCESS;
    sqlite3_exec(db_, "ROLLBACK; PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
    return NotifyTransaction(TransactionPhase::kRollback);
}

// One write of the table between Begin and Commit: a scope left without a commit rolls the write
// back, after the statements of the scope have been reset.
class KdtStorage::WriteScope {
  public:
    explicit WriteScope(KdtStorage& storage) : storage_(storage) {}
    ~WriteScope() {
        if (begun_ && !ended_) storage_.Rollback();
    }
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;
    KCESTATUS Begin() {
        KCESTATUS s = storage_.Begin();
        begun_ = s == KCE_SUCCESS;
        return s;
    }
    // A commit that fails has rolled back already.
    KCESTATUS Commit() {
        ended_ = true;
        return storage_.Commit();
    }

  private:
    KdtStorage& storage_;
    bool begun_ = false;
    bool ended_ = false;
};

ColumnValue KdtStorage::BlobColumn(int field, const PendingBlobs& blobs) const {
    ColumnValue v;
    auto it = blobs.find(field);
    if (it != blobs.end() && !it->second.isNull && !it->second.bytes.empty()) {
        UNSIGNED16 type = layout_.fields[field].type;
        bool text = type == KCE_MEMO || type == KCE_VARCHAR;
        v.kind = text ? ColumnValue::kText : ColumnValue::kBlob;
        v.bytes = text ? ColumnText(it->second.bytes) : it->second.bytes;
    }
    return v;
}

KCESTATUS KdtStorage::WriteRecord(UNSIGNED32* recno, bool isNew, uint8_t* image,
                                  const PendingBlobs& blobs) {
    if (KCESTATUS s = CheckWritable()) return s;
    std::vector<uint8_t>& work = work_;
    work.assign(image, image + layout_.recordLength);
    // Validate every value before the file is touched.
    std::vector<ColumnValue>& values = values_;
    values.resize(layout_.fields.size());
    for (size_t i = 0; i < layout_.fields.size(); ++i) {
        const FieldDesc& f = layout_.fields[i];
        if (IsBlobType(f.type) || (f.type == KCE_AUTOINC && !isNew)) {
            values[i].kind = ColumnValue::kNull;
            continue;
        }
        // The work image stays as it is until the record's statement has run, so plain char
        // values are bound from it; an encrypted table makes its image again from the values.
        KCESTATUS s = encrypted_ ? Decode(f, work.data(), &values[i])
                                 : DecodeInPlace(f, work.data(), &values[i]);
        if (s) return s;
    }

    UNSIGNED32 number = *recno;
    {
        WriteScope scope(*this);
        if (KCESTATUS s = scope.Begin()) return s;
        if (KCESTATUS s = isNew ? Append(&number, work.data(), values, blobs)
                                : Update(number, work.data(), values, blobs))
            return s;
        if (KCESTATUS s = scope.Commit()) return s;
    }
    if (isNew && countKnown_) ++count_;
    if (isNew && maxKnown_) knownMax_ = std::max(knownMax_, number);
    // The blob markers follow the values now stored.
    for (const auto& [field, value] : blobs) {
        StoreU32(work.data() + layout_.fields[field].offset,
                 value.isNull || value.bytes.empty() ? 0 : 0xFFFFFFFFu);
    }
    std::memcpy(image, work.data(), work.size());
    // A stored record has a number, and a record that was there keeps its own.
    KCE_INVARIANT(number != 0 && (isNew || number == *recno));
    *recno = number;
    return KCE_SUCCESS;
}

// Gives the record its number (the reserved one, or the next free one) and its autoincrement
// values, then inserts it.
KCESTATUS KdtStorage::Append(UNSIGNED32* number, uint8_t* work, std::vector<ColumnValue>& values,
                             const PendingBlobs& blobs) {
    if (*number == 0) {
        UNSIGNED32 max = 0;
        if (KCESTATUS s = MaxRecno(&max)) return s;
        if (KCESTATUS s = NumberAfter(max, number)) return s;
    }
    int64_t last = -1;
    for (size_t i = 0; i < layout_.fields.size(); ++i) {
        const FieldDesc& f = layout_.fields[i];
        if (f.type != KCE_AUTOINC) continue;
        if (last < 0) {
            if (KCESTATUS s = GetMeta("last_autoinc", &last)) return s;
        }
        uint8_t* p = work + f.offset;
        if (LoadU32(p) == 0xFFFFFFFFu) {
            if (last + 1 >= 0xFFFFFFFFLL) {
                return Fail(KCE_INVALID_FIELD_VALUE,
                            path_ + ": autoincrement field '" + f.name + "' is exhausted");
            }
            StoreU32(p, UNSIGNED32(++last));
        } else {
            last = std::max<int64_t>(last, LoadU32(p));
        }
        values[i].kind = ColumnValue::kInteger;
        values[i].integer = LoadU32(p);
    }
    if (last >= 0) {
        if (KCESTATUS s = SetMeta("last_autoinc", last)) return s;
    }
    sqlite3_stmt* stmt = stmts_[kInsert]->get();
    ResetOnExit reset{stmt};
    if (encrypted_) {
        if (KCESTATUS s = Normalize(values, work)) return s;
    } else {
        for (size_t i = 0; i < layout_.fields.size(); ++i) {
            if (IsBlobType(layout_.fields[i].type)) values[i] = BlobColumn(int(i), blobs);
            if (KCESTATUS s = Bind(stmt, int(i) + 2, values[i], true)) return s;
        }
    }
    // Another process may have taken the reserved number: take the next free one then.
    int rc;
    for (int attempt = 0;; ++attempt) {
        sqlite3_bind_int64(stmt, 1, *number);
        // A seal names its record: sealed again for another number.
        if (encrypted_) {
            if (KCESTATUS s = BindSealed(stmt, *number, work, blobs)) return s;
        }
        rc = sqlite3_step(stmt);
        if (rc != SQLITE_CONSTRAINT_PRIMARYKEY || attempt > 0) break;
        sqlite3_reset(stmt);
        UNSIGNED32 max = 0;
        if (KCESTATUS s = MaxRecno(&max)) return s;
        if (KCESTATUS s = NumberAfter(max, number)) return s;
        lastReserved_ = std::max(lastReserved_, *number);
    }
    if (rc != SQLITE_DONE) return SqliteFail(db_, rc, path_ + " (append)");
    return NotifyWrite(*number, nullptr, work);
}

// Rewrites the record's columns (its autoincrement values stay), then its changed blobs.
KCESTATUS KdtStorage::Update(UNSIGNED32 number, uint8_t* work,
                             const std::vector<ColumnValue>& values, const PendingBlobs& blobs) {
    auto gone = [&] {
        return Fail(KCE_INVALID_RECORD,
                    path_ + ": record " + std::to_string(number) + " no longer exists");
    };
    // An encrypted image is stored whole: its autoincrement values come from the stored one.
    if (encrypted_) {
        if (KCESTATUS s = Normalize(values, work)) return s;
    }
    if (!observers_.empty() || encrypted_) {
        std::vector<uint8_t> old(layout_.recordLength);
        bool exists = false, deleted = false;
        if (KCESTATUS s = ReadRecord(number, old.data(), &exists, &deleted)) return s;
        if (!exists) return gone();
        for (const FieldDesc& f : layout_.fields) {
            if (f.type == KCE_AUTOINC) std::memcpy(work + f.offset, old.data() + f.offset, 4);
        }
        if (KCESTATUS s = NotifyWrite(number, old.data(), work)) return s;
    }
    int rc;
    {
        sqlite3_stmt* stmt = stmts_[kUpdate]->get();
        ResetOnExit reset{stmt};
        sqlite3_bind_int64(stmt, 1, number);
        int param = 1;
        for (int i : updateFields_) {
            if (KCESTATUS s = Bind(stmt, ++param, values[i], true)) return s;
        }
        std::string sealed;
        if (encrypted_) {
            sealed = key_->Seal(
                std::string_view(reinterpret_cast<const char*>(work), layout_.recordLength),
                RecordAd(number));
            sqlite3_bind_blob(stmt, 2, sealed.data(), int(sealed.size()), SQLITE_STATIC);
        }
        if (KCESTATUS s = Step(stmt, &rc, "write")) return s;
        const bool updates = encrypted_ || !updateFields_.empty();
        if (updates ? sqlite3_changes(db_) == 0 : rc != SQLITE_ROW) return gone();
    }
    for (const auto& [field, value] : blobs) {
        sqlite3_stmt* write;
        if (KCESTATUS s = BlobStmt(blobWrites_, field, true, &write)) return s;
        ResetOnExit reset{write};
        if (encrypted_) {
            std::string sealed = SealBlob(number, field, value);
            if (sealed.empty()) {
                sqlite3_bind_null(write, 1);
            } else {
                sqlite3_bind_blob(write, 1, sealed.data(), int(sealed.size()), SQLITE_TRANSIENT);
            }
        } else if (KCESTATUS s = Bind(write, 1, BlobColumn(field, blobs))) {
            return s;
        }
        sqlite3_bind_int64(write, 2, number);
        if (KCESTATUS s = Step(write, &rc, "write")) return s;
    }
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::DeleteRecord(UNSIGNED32 recno) {
    if (KCESTATUS s = CheckWritable()) return s;
    WriteScope scope(*this);
    if (KCESTATUS s = scope.Begin()) return s;
    if (!observers_.empty()) {
        std::vector<uint8_t> old(layout_.recordLength);
        bool exists = false, deleted = false;
        if (KCESTATUS s = ReadRecord(recno, old.data(), &exists, &deleted)) return s;
        if (exists) {
            if (KCESTATUS s = NotifyWrite(recno, old.data(), nullptr)) return s;
        }
    }
    UNSIGNED32 max = 0;
    if (KCESTATUS s = MaxRecno(&max)) return s;
    {
        sqlite3_stmt* stmt = stmts_[kDelete]->get();
        ResetOnExit reset{stmt};
        sqlite3_bind_int64(stmt, 1, recno);
        int rc;
        if (KCESTATUS s = Step(stmt, &rc, "delete")) return s;
        if (sqlite3_changes(db_) == 0) {
            return Fail(KCE_INVALID_RECORD,
                        path_ + ": record " + std::to_string(recno) + " no longer exists");
        }
    }
    if (recno == max) {
        if (KCESTATUS s = SetMeta("recno_floor", recno)) return s;
    }
    if (KCESTATUS s = scope.Commit()) return s;
    if (countKnown_ && count_) --count_;
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::Zap() {
    if (KCESTATUS s = CheckWritable()) return s;
    WriteScope scope(*this);
    if (KCESTATUS s = scope.Begin()) return s;
    if (KCESTATUS s = Exec(kDeleteAll, "zap")) return s;
    if (KCESTATUS s = SetMeta("last_autoinc", 0)) return s;
    if (KCESTATUS s = SetMeta("recno_floor", 0)) return s;
    if (KCESTATUS s = NotifyZap()) return s;
    if (KCESTATUS s = scope.Commit()) return s;
    count_ = 0;
    countKnown_ = true;
    knownMax_ = 0;
    maxKnown_ = true;
    lastReserved_ = 0;
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::LastAutoinc(UNSIGNED32* value) {
    EndScan();
    int64_t last = 0;
    if (KCESTATUS s = GetMeta("last_autoinc", &last)) return s;
    *value = UNSIGNED32(last);
    return KCE_SUCCESS;
}

// ---- Encrypted tables -----------------------------------------------------------------------

KCESTATUS KdtStorage::LoadKeyParams() {
    Stmt st;
    if (KCESTATUS s = st.Prepare(db_, "SELECT key, value FROM kdt_crypt", path_)) return s;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        const unsigned char* k = sqlite3_column_text(st, 0);
        std::string key = k ? reinterpret_cast<const char*>(k) : "";
        const void* data = sqlite3_column_blob(st, 1);
        std::string bytes(static_cast<const char*>(data ? data : ""),
                          size_t(sqlite3_column_bytes(st, 1)));
        int64_t number = sqlite3_column_int64(st, 1);
        if (key == "salt") {
            keyParams_.salt = bytes;
        } else if (key == "ops_limit") {
            keyParams_.opsLimit = number > 0 ? uint64_t(number) : 0;
        } else if (key == "mem_limit") {
            keyParams_.memLimit = number > 0 ? uint64_t(number) : 0;
        } else if (key == "check") {
            checkValue_ = bytes;
        }
    }
    if (rc != SQLITE_DONE) return SqliteFail(db_, rc, path_);
    if (KCESTATUS s = CheckKeyParams(keyParams_, path_)) return s;
    if (checkValue_.size() <= SealOverhead() || checkValue_.size() > 256) {
        return Fail(KCE_DAMAGED_FILE, path_ +
                                          ": the key-check value of the encrypted table is "
                                          "missing or not valid");
    }
    // Index keys of an encrypted table live in memory only.
    return SqliteExec(db_, "PRAGMA temp_store = MEMORY", path_);
}

KCESTATUS KdtStorage::Tampered(UNSIGNED32 recno, const std::string& what) {
    return Fail(KCE_TAMPERED, path_ + ", record " + std::to_string(recno) + ": " + what +
                                  " fails its authentication check");
}

KCESTATUS KdtStorage::Normalize(const std::vector<ColumnValue>& values, uint8_t* work) {
    for (size_t i = 0; i < layout_.fields.size(); ++i) {
        if (KCESTATUS s = ImageFromValue(values[i], layout_.fields[i], work, path_)) return s;
    }
    return KCE_SUCCESS;
}

std::string KdtStorage::SealBlob(UNSIGNED32 number, int field, const BlobValue& value) const {
    if (value.isNull || value.bytes.empty()) return std::string();
    UNSIGNED16 type = layout_.fields[size_t(field)].type;
    // The bytes a plain table would give back.
    std::string bytes =
        type == KCE_MEMO || type == KCE_VARCHAR ? AnsiText(ColumnText(value.bytes)) : value.bytes;
    return key_->Seal(bytes, BlobAd(number, field));
}

KCESTATUS KdtStorage::BindSealed(sqlite3_stmt* stmt, UNSIGNED32 number, const uint8_t* work,
                                 const PendingBlobs& blobs) {
    std::string image =
        key_->Seal(std::string_view(reinterpret_cast<const char*>(work), layout_.recordLength),
                   RecordAd(number));
    sqlite3_bind_blob(stmt, 2, image.data(), int(image.size()), SQLITE_TRANSIENT);
    int param = 2;
    for (int field : blobFields_) {
        auto it = blobs.find(field);
        std::string sealed =
            it == blobs.end() ? std::string() : SealBlob(number, field, it->second);
        if (sealed.empty()) {
            sqlite3_bind_null(stmt, ++param);
        } else {
            sqlite3_bind_blob(stmt, ++param, sealed.data(), int(sealed.size()), SQLITE_TRANSIENT);
        }
    }
    return KCE_SUCCESS;
}

KCESTATUS KdtStorage::GivePassword(std::string_view password) {
    if (!encrypted_) return KCE_SUCCESS;
    std::unique_ptr<TableKey> key;
    if (KCESTATUS s = TableKey::Derive(password, keyParams_, &key)) return s;
    if (!key->Matches(checkValue_)) {
        return Fail(KCE_WRONG_PASSWORD, "table " + path_);
    }
    bool first = !key_;
    key_ = std::move(key);
    EndScan();
    // The indexes are built from the records now readable.
    if (!first) return KCE_SUCCESS;
    return NotifyRebuild();
}

KCESTATUS KdtStorage::Encrypt(std::string_view password) {
    if (encrypted_) return Fail(KCE_ALREADY_ENCRYPTED, "table " + path_);
    if (!writable_) return Fail(KCE_TABLE_READ_ONLY, path_ + " cannot be written");
    if (inTransaction_) return Fail(KCE_TRANSACTION_ACTIVE, "table " + path_);
    if (layout_.Find(kImageColumn) >= 0) {
        return Fail(KCE_ENCRYPTION_NOT_SUPPORTED, path_ + ": a field named " + kImageColumn +
                                                      " leaves no room for the sealed image");
    }
    KeyParams params = NewKeyParams();
    std::unique_ptr<TableKey> key;
    if (KCESTATUS s = TableKey::Derive(password, params, &key)) return s;
    keyParams_ = params;
    checkValue_ = key->CheckValue();
    return Rewrite(true, std::move(key));
}

KCESTATUS KdtStorage::Decrypt(std::string_view password) {
    if (!encrypted_) return Fail(KCE_NOT_ENCRYPTED, "table " + path_);
    if (!writable_) return Fail(KCE_TABLE_READ_ONLY, path_ + " cannot be written");
    if (inTransaction_) return Fail(KCE_TRANSACTION_ACTIVE, "table " + path_);
    if (KCESTATUS s = GivePassword(password)) return s;
    return Rewrite(false, nullptr);
}

// Builds the records table of the other form beside the old one, row by row, then puts it in the
// old one's place, all in one transaction; the freed pages of the old form are wiped (secure
// delete, then VACUUM), so no plain value stays behind in the file or its journal.
KCESTATUS KdtStorage::Rewrite(bool encrypt, std::unique_ptr<TableKey> key) {
    EndScan();
    if (KCESTATUS s =
            SqliteExec(db_, "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA secure_delete = ON", path_))
        return s;
    std::string columns = std::string(kRecnoColumn) + " INTEGER PRIMARY KEY";
    std::string names = kRecnoColumn, params = "?1";
    int param = 1;
    if (encrypt) {
        columns += std::string(", ") + kImageColumn + " BLOB NOT NULL";
        names += std::string(", ") + kImageColumn;
        params += ", ?" + std::to_string(++param);
    }
    for (const FieldDesc& f : layout_.fields) {
        if (encrypt && !IsBlobType(f.type)) continue;
        columns += ", " + Quote(f.name) + " " + (encrypt ? "BLOB" : ColumnType(f.type));
        names += ", " + Quote(f.name);
        params += ", ?" + std::to_string(++param);
    }
    auto fail = [&](KCESTATUS s) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        if (encrypt) {
            keyParams_ = KeyParams();
            checkValue_.clear();
        }
        return s;
    };
    if (KCESTATUS s = SqliteExec(db_, "BEGIN IMMEDIATE", path_)) return s;
    std::string create =
        "DROP TABLE IF EXISTS kdt_rewrite; CREATE TABLE kdt_rewrite(" + columns + ")";
    if (KCESTATUS s = SqliteExec(db_, create.c_str(), path_)) return fail(s);
    std::vector<UNSIGNED32> recnos;
    {
        Stmt all;
        if (KCESTATUS s =
                all.Prepare(db_, "SELECT kdt_recno FROM records ORDER BY kdt_recno", path_))
            return fail(s);
        int rc;
        while ((rc = sqlite3_step(all)) == SQLITE_ROW) {
            recnos.push_back(UNSIGNED32(sqlite3_column_int64(all, 0)));
        }
        if (rc != SQLITE_DONE) return fail(SqliteFail(db_, rc, path_));
    }
    Stmt insert;
    if (KCESTATUS s = insert.Prepare(
            db_, "INSERT INTO kdt_rewrite(" + names + ") VALUES (" + params + ")", path_))
        return fail(s);
    std::vector<uint8_t> image(layout_.recordLength);
    std::vector<ColumnValue> values(layout_.fields.size());
    for (UNSIGNED32 recno : recnos) {
        bool exists = false, deleted = false;
        if (KCESTATUS s = ReadRecord(recno, image.data(), &exists, &deleted)) return fail(s);
        EndScan();
        ResetOnExit reset{insert};
        sqlite3_bind_int64(insert, 1, recno);
        int p = 1;
        if (encrypt) {
            for (int i : blobFields_) StoreU32(image.data() + layout_.fields[size_t(i)].offset, 0);
            std::string sealed = key->Seal(
                std::string_view(reinterpret_cast<const char*>(image.data()), image.size()),
                RecordAd(recno));
            sqlite3_bind_blob(insert, ++p, sealed.data(), int(sealed.size()), SQLITE_TRANSIENT);
        }
        for (size_t i = 0; i < layout_.fields.size(); ++i) {
            const FieldDesc& f = layout_.fields[i];
            if (!IsBlobType(f.type)) {
                if (encrypt) continue;
                if (KCESTATUS s = Decode(f, image.data(), &values[i])) return fail(s);
                if (KCESTATUS s = Bind(insert, ++p, values[i])) return fail(s);
                continue;
            }
            BlobValue blob;
            if (KCESTATUS s = ReadBlob(recno, int(i), &blob)) return fail(s);
            if (encrypt) {
                std::string sealed = blob.isNull || blob.bytes.empty()
                                         ? std::string()
                                         : key->Seal(blob.bytes, BlobAd(recno, int(i)));
                if (sealed.empty()) {
                    sqlite3_bind_null(insert, ++p);
                } else {
                    sqlite3_bind_blob(insert, ++p, sealed.data(), int(sealed.size()),
                                      SQLITE_TRANSIENT);
                }
            } else {
                PendingBlobs one{{int(i), blob}};
                if (KCESTATUS s = Bind(insert, ++p, BlobColumn(int(i), one))) return fail(s);
            }
        }
        int rc;
        if (KCESTATUS s = Step(insert, &rc, encrypt ? "encrypt" : "decrypt")) return fail(s);
    }
    insert.Prepare(db_, "SELECT 1", path_);  // finalizes the insert before the table goes
    std::string swap = "DROP TABLE records; ALTER TABLE kdt_rewrite RENAME TO records;";
    if (encrypt) {
        swap +=
            " CREATE TABLE kdt_crypt(key TEXT PRIMARY KEY, value);"
            " PRAGMA user_version = " +
            std::to_string(kEncryptedVersion) + ";";
    } else {
        swap +=
            " DROP TABLE kdt_crypt; PRAGMA user_version = " + std::to_string(kFormatVersion) + ";";
    }
    if (KCESTATUS s = SqliteExec(db_, swap.c_str(), path_)) return fail(s);
    if (encrypt) {
        Stmt put;
        if (KCESTATUS s = put.Prepare(db_, "INSERT INTO kdt_crypt VALUES (?1, ?2)", path_))
            return fail(s);
        auto store = [&](const char* name, const std::string* bytes, int64_t number) {
            sqlite3_reset(put);
            sqlite3_bind_text(put, 1, name, -1, SQLITE_STATIC);
            if (bytes) {
                sqlite3_bind_blob(put, 2, bytes->data(), int(bytes->size()), SQLITE_STATIC);
            } else {
                sqlite3_bind_int64(put, 2, number);
            }
            int rc;
            return Step(put, &rc, "encrypt");
        };
        for (KCESTATUS s : {store("salt", &keyParams_.salt, 0),
                            store("ops_limit", nullptr, int64_t(keyParams_.opsLimit)),
                            store("mem_limit", nullptr, int64_t(keyParams_.memLimit)),
                            store("check", &checkValue_, 0)}) {
            if (s) return fail(s);
        }
    }
    // The stored index keys of a plain table would stay readable: an encrypted table keeps none.
    // Each process builds them again in memory once it has the password (GivePassword).
    {
        Stmt tables;
        if (KCESTATUS s = tables.Prepare(db_,
                                         "SELECT name FROM sqlite_master WHERE type = 'table' AND "
                                         "name LIKE 'kdt\\_index\\_%' ESCAPE '\\'",
                                         path_))
            return fail(s);
        std::vector<std::string> drop;
        while (sqlite3_step(tables) == SQLITE_ROW) {
            drop.push_back(reinterpret_cast<const char*>(sqlite3_column_text(tables, 0)));
        }
        tables.Prepare(db_, "SELECT 1", path_);
        for (const std::string& name : drop) {
            if (!encrypt) break;
            std::string sql = "DROP TABLE " + Quote(name);
            if (KCESTATUS s = SqliteExec(db_, sql.c_str(), path_)) return fail(s);
        }
    }
    if (KCESTATUS s = SqliteExec(db_, "COMMIT", path_)) return fail(s);
    encrypted_ = encrypt;
    if (encrypt) {
        key_ = std::move(key);
    } else {
        key_.reset();
    }
    blobReads_.clear();
    blobWrites_.clear();
    blobReads_.resize(layout_.fields.size());
    blobWrites_.resize(layout_.fields.size());
    countKnown_ = false;
    maxKnown_ = false;
    if (KCESTATUS s = Prepare()) return s;
    const char* wipe = encrypt
                           ? "VACUUM; PRAGMA wal_checkpoint(TRUNCATE); PRAGMA temp_store = MEMORY"
                           : "VACUUM; PRAGMA wal_checkpoint(TRUNCATE); PRAGMA secure_delete = OFF";
    if (KCESTATUS s = SqliteExec(db_, wipe, path_)) return s;
    return NotifyRebuild();
}
}  // namespace

void SetSqliteVfsForTesting(const char* vfsName) { testVfs = vfsName; }

sqlite3* DatabaseOf(Storage& storage) {
    auto* kdt = dynamic_cast<KdtStorage*>(&storage);
    return kdt ? kdt->Database() : nullptr;
}

bool OffersScanColumns(Storage& storage) {
    auto* kdt = dynamic_cast<KdtStorage*>(&storage);
    return kdt && !kdt->Encrypted();
}

sqlite3_value* ScanColumn(Storage& storage, UNSIGNED32 recno, int field) {
    return static_cast<KdtStorage&>(storage).ScanColumn(recno, field);
}

KCESTATUS OpenKdt(const OpenRequest& request, std::unique_ptr<Storage>* out) {
    return KdtStorage::Open(request, out);
}

KCESTATUS CreateKdt(const std::string& path, const std::vector<FieldSpec>& fields,
                    std::unique_ptr<Storage>* out) {
    return KdtStorage::Create(path, fields, out);
}

}  // namespace kce::native
