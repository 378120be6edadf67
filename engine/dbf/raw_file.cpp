#include "engine/dbf/raw_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/status.h"

namespace kce::dbf {

namespace {
std::string Why(int err) { return std::strerror(err); }
}  // namespace

RawFile::~RawFile() { Close(); }

void RawFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

KCESTATUS RawFile::Open(const std::string& path, bool readOnly) {
    Close();
    path_ = path;
    readOnly_ = readOnly;
    fd_ = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd_ < 0) {
        int err = errno;
        if (err == ENOENT) return Fail(KCE_FILE_NOT_FOUND, "file " + path + " does not exist");
        return Fail(KCE_FILE_OPEN_FAILED, "file " + path + ": " + Why(err));
    }
    struct stat st;
    if (::fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) {
        Close();
        return Fail(KCE_FILE_OPEN_FAILED, "file " + path + " is not a regular file");
    }
    return KCE_SUCCESS;
}

KCESTATUS RawFile::Create(const std::string& path, bool overwrite) {
    Close();
    path_ = path;
    readOnly_ = false;
    int flags = O_RDWR | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
        int err = errno;
        if (err == EEXIST) return Fail(KCE_TABLE_EXISTS, "file " + path + " already exists");
        return Fail(KCE_FILE_OPEN_FAILED, "cannot create " + path + ": " + Why(err));
    }
    return KCE_SUCCESS;
}

KCESTATUS RawFile::ReadAt(uint64_t offset, void* data, size_t size, size_t* got) const {
    size_t done = 0;
    auto* out = static_cast<char*>(data);
    while (done < size) {
        ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(KCE_FILE_READ_FAILED, "file " + path_ + " at offset " +
                                                  std::to_string(offset + done) + ": " +
                                                  Why(errno));
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    *got = done;
    return KCE_SUCCESS;
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
    size_t done = 0;
    const auto* in = static_cast<const char*>(data);
    while (done < size) {
        ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            KCESTATUS status =
                (err == ENOSPC || err == EDQUOT) ? KCE_DISK_FULL : KCE_FILE_WRITE_FAILED;
            return Fail(status, "file " + path_ + " at offset " + std::to_string(offset + done) +
                                    ": " + Why(err));
        }
        done += static_cast<size_t>(n);
    }
    return KCE_SUCCESS;
}

KCESTATUS RawFile::Size(uint64_t* size) const {
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return Fail(KCE_FILE_READ_FAILED, "file " + path_ + ": " + Why(errno));
    *size = static_cast<uint64_t>(st.st_size);
    return KCE_SUCCESS;
}

KCESTATUS RawFile::Truncate(uint64_t size) {
    if (readOnly_) return Fail(KCE_TABLE_READ_ONLY, "file " + path_ + " is open read-only");
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        return Fail(KCE_FILE_WRITE_FAILED, "file " + path_ + ": " + Why(errno));
    }
    return KCE_SUCCESS;
}

}  // namespace kce::dbf
