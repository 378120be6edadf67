// The file I/O that engine code uses for the files it reads and writes itself (xBase tables, memo
// and index files). Tests install a wrapping FileSystem to inject short writes, full disks and
// crash points. (Native tables are SQLite files; SQLite does its own I/O.)
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/kce.h"

namespace kce {

class File {
  public:
    virtual ~File() = default;
    // Reads up to n bytes at offset; *got answers how many (fewer at the end of the file).
    virtual KCESTATUS Read(uint64_t offset, void* buf, size_t n, size_t* got) = 0;
    // Writes all n bytes at offset or fails (KCE_FILE_WRITE_FAILED, KCE_DISK_FULL).
    virtual KCESTATUS Write(uint64_t offset, const void* buf, size_t n) = 0;
    virtual KCESTATUS Size(uint64_t* size) = 0;
    virtual KCESTATUS Truncate(uint64_t size) = 0;
    virtual KCESTATUS Sync() = 0;
    virtual const std::string& Path() const = 0;
};

enum class FileMode { kReadOnly, kReadWrite, kCreateNew };

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual KCESTATUS Open(const std::string& path, FileMode mode, std::unique_ptr<File>* out) = 0;
    virtual KCESTATUS Remove(const std::string& path) = 0;
};

// Told before a file of the engine's own I/O changes, so that a rollback journal can keep what
// the change overwrites. A non-zero status refuses the change.
class WriteGuard {
  public:
    virtual ~WriteGuard() = default;
    // n bytes at offset are about to be overwritten, or (n = UINT64_MAX) the file is about to be
    // cut to offset bytes. file is the one being changed; it can be read.
    virtual KCESTATUS BeforeChange(File& file, uint64_t offset, uint64_t n) = 0;
};
// Puts a guard on the file at path (by its identity, whatever name it is opened by) or, with
// null, takes it off. Every File of the real file system on it then asks the guard first.
KCESTATUS SetWriteGuard(const std::string& path, WriteGuard* guard);

// The file system in use: the real one unless a test installed another (null restores it).
FileSystem& Files();
void SetFileSystemForTesting(FileSystem* fs);

// open(2) that refuses at once whatever is not a regular file (a FIFO, a device, a folder),
// setting *notRegular, instead of waiting on it. Answers the descriptor or -1 (errno set).
int OpenRegularFile(const std::string& path, int flags, bool* notRegular);

}  // namespace kce
