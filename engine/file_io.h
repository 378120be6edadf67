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

// The file system in use: the real one unless a test installed another (null restores it).
FileSystem& Files();
void SetFileSystemForTesting(FileSystem* fs);

// open(2) that refuses at once whatever is not a regular file (a FIFO, a device, a folder),
// setting *notRegular, instead of waiting on it. Answers the descriptor or -1 (errno set).
int OpenRegularFile(const std::string& path, int flags, bool* notRegular);

}  // namespace kce
