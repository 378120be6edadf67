// The rollback journal of a transaction on a table whose files the engine writes itself (a DBF
// table, its memo file and its index files): TABLE-journal beside the table.
//
// Before the first change the journal holds, durably, the size of every covered file; before a
// byte a file held at that point is overwritten, the journal holds it (a before-image), synced
// before the write. Bytes past a file's original size need no before-image: cutting the file back
// removes them. So the journal plus the files always give back the files as they were when the
// transaction began. Commit syncs the files, then removes the journal; rollback writes the
// before-images back (newest first, so the oldest wins), cuts every file to its original size and
// removes the journal. A journal that outlives its process is rolled back by the next process
// that opens the table (Recover).
//
// The file, little-endian: "KDBJRNL1", then records of
//   type (1 byte: 'F' a covered file, 'B' a before-image), file number (4), offset (8; for 'F'
//   the original size, all ones when the file did not exist), length (4), that many bytes (for
//   'F' the file's path, relative to the table's folder when inside it), FNV-1a 64 of the record.
// A record cut short or with a wrong checksum ends the journal: its change was never made.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_io.h"
#include "engine/kce.h"

namespace kce {

class RollbackJournal {
  public:
    static std::string PathFor(const std::string& tablePath) { return tablePath + "-journal"; }

    // Starts the journal of tablePath's transaction, covering files (the table file among them).
    // A journal already there gives KCE_TABLE_IN_USE.
    static KCESTATUS Begin(const std::string& tablePath, const std::vector<std::string>& files,
                           std::unique_ptr<RollbackJournal>* out);
    // Rolls back the journal a process left behind, if any. The caller makes sure that its
    // owner is gone.
    static KCESTATUS Recover(const std::string& tablePath);

    ~RollbackJournal();
    // Covers one more file of the table from now on (a file not there yet is removed again by a
    // rollback).
    KCESTATUS Cover(const std::string& path);
    KCESTATUS Commit();
    KCESTATUS Rollback();

  private:
    // The guard of one covered file: hands its changes to the journal.
    class FileGuard : public WriteGuard {
      public:
        FileGuard(RollbackJournal& journal, size_t file) : journal_(journal), file_(file) {}
        KCESTATUS BeforeChange(File& file, uint64_t offset, uint64_t n) override {
            return journal_.BeforeChange(file_, file, offset, n);
        }

      private:
        RollbackJournal& journal_;
        size_t file_;
    };
    struct Covered {
        std::string path;
        uint64_t originalSize = 0;           // UINT64_MAX: the file did not exist
        std::map<uint64_t, uint64_t> saved;  // ranges [first, second) with a before-image
        std::unique_ptr<FileGuard> guard;
    };

    RollbackJournal(std::string tablePath, int fd) : tablePath_(std::move(tablePath)), fd_(fd) {}
    KCESTATUS Append(char type, uint32_t file, uint64_t offset, const std::string& bytes);
    KCESTATUS Sync();
    KCESTATUS BeforeChange(size_t file, File& handle, uint64_t offset, uint64_t n);
    void Release();

    std::string tablePath_;
    int fd_ = -1;
    uint64_t end_ = 0;  // bytes written to the journal
    std::vector<Covered> files_;
    bool done_ = false;
};

}  // namespace kce
