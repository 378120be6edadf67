// A file read and written at offsets, through the engine's file system (file_io.h, which tests
// may wrap to inject failures). The xBase modules use it for DBF, FPT and DBT files so that every
// short read, failed write and full disk becomes a status that names the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/file_io.h"
#include "engine/kce.h"

namespace kce::dbf {

class RawFile {
  public:
    RawFile() = default;
    ~RawFile();
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    // Opens an existing file. A missing file gives KCE_FILE_NOT_FOUND.
    KCESTATUS Open(const std::string& path, bool readOnly);
    // Creates a new file; an existing one gives KCE_TABLE_EXISTS unless overwrite is set.
    KCESTATUS Create(const std::string& path, bool overwrite);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    bool ReadOnly() const { return readOnly_; }
    const std::string& Path() const { return path_; }

    // Reads up to size bytes at offset; *got receives the count (short only at the end of file).
    KCESTATUS ReadAt(uint64_t offset, void* data, size_t size, size_t* got) const;
    // Reads exactly size bytes or fails with KCE_FILE_READ_FAILED naming what was wanted.
    KCESTATUS ReadExact(uint64_t offset, void* data, size_t size, std::string_view what) const;
    KCESTATUS WriteAt(uint64_t offset, const void* data, size_t size);
    KCESTATUS Size(uint64_t* size) const;
    KCESTATUS Truncate(uint64_t size);
    KCESTATUS Sync();
    // Makes this file a byte copy of the file at path, written in place (the file keeps its
    // identity, and so the locks held on it).
    KCESTATUS CopyFrom(const std::string& path);

  private:
    std::unique_ptr<File> file_;
    bool readOnly_ = false;
    std::string path_;
};

}  // namespace kce::dbf
