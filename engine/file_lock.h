// Cross-process locks of one table file, as open-file-description byte-range locks (F_OFD_SETLK)
// on a descriptor of the file kept open while the table is open.
//
// Why OFD locks: classic POSIX locks belong to the process and vanish when the process closes any
// descriptor of the file (SQLite keeps its own on the same file); OFD locks belong to this
// descriptor only and are dropped by the kernel when the process dies, so a killed process never
// leaves a table locked.
//
// Byte ranges (far beyond any real file, and beyond SQLite's lock bytes at 1 GiB):
//   kTableLockByte                 shared (read) lock per process that opens the table; the
//                                  exclusive opener takes a write lock
//   kRecordLockBase + recno        write lock of a locked record
// Locks of handles of one process do not conflict with each other here; the table layer keeps
// that bookkeeping itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/kce.h"

namespace kce {

class FileLock {
  public:
    static constexpr int64_t kTableLockByte = int64_t(1) << 40;
    static constexpr int64_t kRecordLockBase = kTableLockByte + 16;

    // Opens a descriptor on path (read-write, or read-only when the file is not writable).
    static KCESTATUS Open(const std::string& path, std::unique_ptr<FileLock>* out);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the table lock shared or exclusive (switching from one to the other is allowed);
    // false when another process holds a conflicting one.
    bool LockTable(bool exclusive);
    bool LockRecord(uint32_t recno);
    void UnlockRecord(uint32_t recno);
    // Whether another process holds the record's lock.
    bool RecordLockedElsewhere(uint32_t recno);

  private:
    explicit FileLock(int fd) : fd_(fd) {}
    bool SetLock(int64_t start, short type);
    int fd_;
};

}  // namespace kce
