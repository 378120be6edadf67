#include "engine/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "engine/status.h"
#include "rtl/edge.h"

namespace kce {
namespace {

// Guards by file identity (device, inode).
using FileId = std::pair<uint64_t, uint64_t>;
std::mutex guardsMutex;
std::map<FileId, WriteGuard*>& Guards() {
    static auto* guards = new std::map<FileId, WriteGuard*>();
    return *guards;
}

class PosixFile : public File {
  public:
    PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
        struct stat st;
        if (::fstat(fd_, &st) == 0) id_ = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    }
    ~PosixFile() override { ::close(fd_); }

    KCESTATUS Read(uint64_t offset, void* buf, size_t n, size_t* got) override {
        size_t done = 0;
        while (done < n) {
            ssize_t r =
                ::pread(fd_, static_cast<char*>(buf) + done, n - done, off_t(offset + done));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return Fail(KCE_FILE_READ_FAILED, path_ + ": " + std::strerror(errno));
            if (r == 0) break;
            done += size_t(r);
        }
        *got = done;
        return KCE_SUCCESS;
    }
    KCESTATUS Write(uint64_t offset, const void* buf, size_t n) override {
        if (WriteGuard* guard = Guard()) {
            if (KCESTATUS s = guard->BeforeChange(*this, offset, n)) return s;
        }
        size_t done = 0;
        while (done < n) {
            ssize_t r =
                ::pwrite(fd_, static_cast<const char*>(buf) + done, n - done, off_t(offset + done));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                return Fail(errno == ENOSPC ? KCE_DISK_FULL : KCE_FILE_WRITE_FAILED,
                            path_ + ": " + std::strerror(errno));
            }
            done += size_t(r);
        }
        return KCE_SUCCESS;
    }
    KCESTATUS Size(uint64_t* size) override {
        struct stat st;
        if (::fstat(fd_, &st) != 0)
            return Fail(KCE_FILE_READ_FAILED, path_ + ": " + std::strerror(errno));
        *size = uint64_t(st.st_size);
        return KCE_SUCCESS;
    }
    KCESTATUS Truncate(uint64_t size) override {
        if (WriteGuard* guard = Guard()) {
            if (KCESTATUS s = guard->BeforeChange(*this, size, UINT64_MAX)) return s;
        }
        if (::ftruncate(fd_, off_t(size)) != 0) {
            return Fail(KCE_FILE_WRITE_FAILED, path_ + ": " + std::strerror(errno));
        }
        return KCE_SUCCESS;
    }
    KCESTATUS Sync() override {
        if (::fdatasync(fd_) != 0)
            return Fail(KCE_FILE_WRITE_FAILED, path_ + ": " + std::strerror(errno));
        return KCE_SUCCESS;
    }
    const std::string& Path() const override { return path_; }

  private:
    WriteGuard* Guard() const {
        std::lock_guard<std::mutex> lock(guardsMutex);
        if (Guards().empty()) return nullptr;
        auto it = Guards().find(id_);
        return it == Guards().end() ? nullptr : it->second;
    }

    int fd_;
    std::string path_;
    FileId id_{0, 0};
};

class PosixFileSystem : public FileSystem {
  public:
    KCESTATUS Open(const std::string& path, FileMode mode, std::unique_ptr<File>* out) override {
        int flags = O_CLOEXEC | (mode == FileMode::kReadOnly ? O_RDONLY : O_RDWR);
        if (mode == FileMode::kCreateNew) flags |= O_CREAT | O_EXCL;
        bool notRegular = false;
        int fd = OpenRegularFile(path, flags, &notRegular);
        if (fd < 0) {
            if (notRegular) return Fail(KCE_NOT_A_FILE, path + " is not a regular file");
            KCESTATUS s = errno == ENOENT   ? KCE_FILE_NOT_FOUND
                          : errno == EEXIST ? KCE_TABLE_EXISTS
                                            : KCE_FILE_OPEN_FAILED;
            return Fail(s, path + ": " + std::strerror(errno));
        }
        out->reset(new PosixFile(fd, path));
        return KCE_SUCCESS;
    }
    KCESTATUS Remove(const std::string& path) override {
        if (::unlink(rtl::OsPath(path).c_str()) != 0 && errno != ENOENT) {
            return Fail(KCE_FILE_WRITE_FAILED, path + ": " + std::strerror(errno));
        }
        return KCE_SUCCESS;
    }
};

PosixFileSystem realFs;
FileSystem* current = &realFs;

}  // namespace

FileSystem& Files() { return *current; }

KCESTATUS SetWriteGuard(const std::string& path, WriteGuard* guard) {
    struct stat st;
    if (::stat(rtl::OsPath(path).c_str(), &st) != 0) {
        return Fail(KCE_FILE_NOT_FOUND, path + ": " + std::strerror(errno));
    }
    FileId id{uint64_t(st.st_dev), uint64_t(st.st_ino)};
    std::lock_guard<std::mutex> lock(guardsMutex);
    if (guard) {
        Guards()[id] = guard;
    } else {
        Guards().erase(id);
    }
    return KCE_SUCCESS;
}

int OpenRegularFile(const std::string& path, int flags, bool* notRegular) {
    *notRegular = false;
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it has no effect on the
    // regular files that are kept, and is cleared again for them.
    int fd = ::open(rtl::OsPath(path).c_str(), flags | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *notRegular = true;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}
void SetFileSystemForTesting(FileSystem* fs) { current = fs ? fs : &realFs; }

}  // namespace kce
