#include "engine/dbf/raw_file.h"

#include <vector>

#include "engine/status.h"

namespace kce::dbf {

RawFile::~RawFile() { Close(); }

void RawFile::Close() { file_.reset(); }

KCESTATUS RawFile::Open(const std::string& path, bool readOnly) {
    Close();
    path_ = path;
    readOnly_ = readOnly;
    KCESTATUS s = Files().Open(path, readOnly ? FileMode::kReadOnly : FileMode::kReadWrite, &file_);
    if (s == KCE_FILE_NOT_FOUND) return Fail(s, "file " + path + " does not exist");
    return s;
}

KCESTATUS RawFile::Create(const std::string& path, bool overwrite) {
    Close();
    path_ = path;
    readOnly_ = false;
    if (overwrite) {
        if (KCESTATUS s = Files().Remove(path)) return s;
    }
    KCESTATUS s = Files().Open(path, FileMode::kCreateNew, &file_);
    if (s == KCE_TABLE_EXISTS) return Fail(s, "file " + path + " already exists");
    return s;
}

KCESTATUS RawFile::ReadAt(uint64_t offset, void* data, size_t size, size_t* got) const {
    return file_->Read(offset, data, size, got);
}

KCESTATUS RawFile::ReadExact(uint64_t offset, void* data, size_t size,
                             std::string_view what) const {
    size_t got = 0;
    if (KCESTATUS s = ReadAt(offset, data, size, &got)) return s;
    if (got != size) {
        return Fail(KCE_FILE_READ_FAILED, "file " + path_ + ": " + std::string(what) +
                                              " at offset " + std::to_string(offset) +
                                              " ends early (" + std::to_string(got) + " of " +
                                              std::to_string(size) + " bytes)");
    }
    return KCE_SUCCESS;
}

KCESTATUS RawFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "file " + path_ + " is open read-only");
    return file_->Write(offset, data, size);
}

KCESTATUS RawFile::Size(uint64_t* size) const { return file_->Size(size); }

KCESTATUS RawFile::Truncate(uint64_t size) {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "file " + path_ + " is open read-only");
    return file_->Truncate(size);
}

KCESTATUS RawFile::Sync() { return file_->Sync(); }

KCESTATUS RawFile::CopyFrom(const std::string& path) {
    RawFile source;
    if (KCESTATUS s = source.Open(path, true)) return s;
    uint64_t size = 0;
    if (KCESTATUS s = source.Size(&size)) return s;
    std::vector<uint8_t> chunk(1 << 20);
    for (uint64_t at = 0; at < size; at += chunk.size()) {
        size_t got = 0;
        if (KCESTATUS s = source.ReadAt(at, chunk.data(), chunk.size(), &got)) return s;
        if (KCESTATUS s = WriteAt(at, chunk.data(), got)) return s;
    }
    if (KCESTATUS s = Truncate(size)) return s;
    return Sync();
}

}  // namespace kce::dbf
