// The keys of one native index, kept as a table of the table's own SQLite file.
//
// In a .kdt file (besides the tables of docs/formats/kdt.md):
//
//   kdt_indexes(name TEXT PRIMARY KEY COLLATE NOCASE, key TEXT, is_unique INTEGER,
//               descending INTEGER, condition TEXT, ordinal INTEGER)
//                          one row per structural index, ordinal giving the order of creation
//   "kdt_index_<NAME>"(key BLOB, recno INTEGER, PRIMARY KEY (key, recno)) WITHOUT ROWID
//                          one row per record in the index: its raw key (raw_key.h) and number
//
// SQLite compares blobs with memcmp, so the primary key's order is the index order, records of
// equal keys following in record-number order. Every call runs on the connection of the table's
// storage, so that key changes share the storage's write transaction.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/kce.h"

namespace kce {

struct IndexDefinition {
    std::string name;
    std::string key;
    bool unique = false;
    bool descending = false;
    std::string condition;
};

// A position in key order.
struct KeyPos {
    std::string key;
    UNSIGNED32 recno = 0;
};

// Keys a walk may reach: lo <= key (when hasLo) and key < hi (when hasHi).
struct KeyRange {
    bool hasLo = false;
    std::string lo;
    bool hasHi = false;
    std::string hi;
    bool Contains(const std::string& key) const {
        return (!hasLo || key >= lo) && (!hasHi || key < hi);
    }
};

// The least key greater than every key that begins with prefix ("" when there is none: the
// prefix is all 0xFF bytes or empty).
std::string PrefixSuccessor(const std::string& prefix);

// The catalog of a file's indexes.
KCESTATUS LoadIndexDefinitions(sqlite3* db, const std::string& file,
                               std::vector<IndexDefinition>* out);
KCESTATUS SaveIndexDefinition(sqlite3* db, const std::string& file, const IndexDefinition& def);
KCESTATUS DeleteIndexDefinition(sqlite3* db, const std::string& file, const std::string& name);

// The keys of one index in key order, wherever they are kept: a table of a SQLite file
// (SqlKeyStore) or a tree of an xBase index file (xbase_store.h).
class KeyStore {
  public:
    virtual ~KeyStore() = default;
    virtual KCESTATUS Create() = 0;
    virtual KCESTATUS Drop() = 0;
    virtual KCESTATUS Clear() = 0;
    virtual KCESTATUS Insert(const std::string& key, UNSIGNED32 recno) = 0;
    virtual KCESTATUS Remove(const std::string& key, UNSIGNED32 recno) = 0;
    // Whether a record other than recno has exactly this key.
    virtual KCESTATUS HasOther(const std::string& key, UNSIGNED32 recno, bool* found,
                               UNSIGNED32* other) = 0;
    // Walks inside a range; *found false at its end.
    virtual KCESTATUS First(const KeyRange& range, KeyPos* pos, bool* found) = 0;
    virtual KCESTATUS Last(const KeyRange& range, KeyPos* pos, bool* found) = 0;
    virtual KCESTATUS After(const KeyPos& from, const KeyRange& range, KeyPos* pos,
                            bool* found) = 0;
    virtual KCESTATUS Before(const KeyPos& from, const KeyRange& range, KeyPos* pos,
                             bool* found) = 0;
    // The key stored for recno (a record is in an index at most once).
    virtual KCESTATUS KeyOf(UNSIGNED32 recno, std::string* key, bool* found) = 0;
    virtual KCESTATUS Count(const KeyRange& range, UNSIGNED32* count) = 0;
    // Entries of the range that come before pos.
    virtual KCESTATUS CountBefore(const KeyPos& pos, const KeyRange& range, UNSIGNED32* count) = 0;
    // The entry at a 0-based offset in the range.
    virtual KCESTATUS AtOffset(const KeyRange& range, UNSIGNED32 offset, KeyPos* pos,
                               bool* found) = 0;
    // Every record number in the range, in key order.
    virtual KCESTATUS Recnos(const KeyRange& range, std::vector<UNSIGNED32>* out) = 0;
    // Problems of the structure that holds the keys (empty when there are none).
    virtual void Audit(std::vector<std::string>* problems) { (void)problems; }
};

class SqlKeyStore : public KeyStore {
  public:
    // inMemory: the table lives in the connection's temporary database (the keys of an
    // encrypted table, which never reach its file).
    SqlKeyStore(sqlite3* db, std::string file, const std::string& indexName, bool inMemory = false);
    ~SqlKeyStore() override;
    SqlKeyStore(const SqlKeyStore&) = delete;
    SqlKeyStore& operator=(const SqlKeyStore&) = delete;

    KCESTATUS Create() override;
    KCESTATUS Drop() override;
    KCESTATUS Clear() override;
    KCESTATUS Insert(const std::string& key, UNSIGNED32 recno) override;
    KCESTATUS Remove(const std::string& key, UNSIGNED32 recno) override;
    // Whether a record other than recno has exactly this key.
    KCESTATUS HasOther(const std::string& key, UNSIGNED32 recno, bool* found,
                       UNSIGNED32* other) override;

    // Walks inside a range; *found false at its end.
    KCESTATUS First(const KeyRange& range, KeyPos* pos, bool* found) override;
    KCESTATUS Last(const KeyRange& range, KeyPos* pos, bool* found) override;
    // After keeps one open statement walking forward, so that a pass through the index costs one
    // step per key. The walk is dropped when the keys change, when it is asked for anything but
    // the position it answered last, and after 50 ms (an open statement holds a read snapshot
    // that would hide other processes' changes).
    KCESTATUS After(const KeyPos& from, const KeyRange& range, KeyPos* pos, bool* found) override;
    KCESTATUS Before(const KeyPos& from, const KeyRange& range, KeyPos* pos, bool* found) override;
    // The key stored for recno (a record is in an index at most once). Reads the whole index:
    // for the rare case that the record itself is gone.
    KCESTATUS KeyOf(UNSIGNED32 recno, std::string* key, bool* found) override;
    KCESTATUS Count(const KeyRange& range, UNSIGNED32* count) override;
    // Entries of the range that come before pos.
    KCESTATUS CountBefore(const KeyPos& pos, const KeyRange& range, UNSIGNED32* count) override;
    // The entry at a 0-based offset in the range.
    KCESTATUS AtOffset(const KeyRange& range, UNSIGNED32 offset, KeyPos* pos, bool* found) override;
    // Every record number in the range, in key order.
    KCESTATUS Recnos(const KeyRange& range, std::vector<UNSIGNED32>* out) override;

    // Called before every read of the keys: keys kept in memory are built again there when
    // another process has changed the records since they were built.
    void SetBeforeRead(std::function<KCESTATUS()> fn) { beforeRead_ = std::move(fn); }

  private:
    struct Statement;
    KCESTATUS BeforeRead() { return beforeRead_ ? beforeRead_() : KCESTATUS(KCE_SUCCESS); }
    KCESTATUS Prepare(const std::string& sql, sqlite3_stmt** out);
    KCESTATUS Exec(const std::string& sql);
    KCESTATUS StepRow(sqlite3_stmt* stmt, KeyPos* pos, bool* found);
    KCESTATUS Fail(int rc, const std::string& what);
    // " AND key >= ?n AND key < ?m" for the range, binding from parameter `first`.
    static std::string RangeSql(const KeyRange& range);
    static void BindRange(sqlite3_stmt* stmt, const KeyRange& range, int first);

    void EndWalk();

    sqlite3* db_;
    std::string file_;
    sqlite3_stmt* walk_ = nullptr;  // the forward walk, when active
    std::string walkSql_;
    KeyRange walkRange_;
    KeyPos walkPos_;
    std::chrono::steady_clock::time_point walkStart_;
    std::string table_;  // quoted table name
    std::map<std::string, sqlite3_stmt*> cache_;
    std::function<KCESTATUS()> beforeRead_;
};

}  // namespace kce
