#include "engine/index/file_watch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rtl/edge.h"

namespace kce {

namespace {

int64_t ModifiedNs(const struct stat& st) {
    return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

}  // namespace

FileWatch::~FileWatch() {
    if (lockFd_ >= 0) ::close(lockFd_);
}

void FileWatch::Remember(const std::string& path) {
    struct stat st {};
    if (::stat(rtl::OsPath(path).c_str(), &st) != 0) return;
    size_ = st.st_size;
    mtimeNs_ = ModifiedNs(st);
    inode_ = st.st_ino;
}

bool FileWatch::ChangedOnDisk(const std::string& path) const {
    struct stat st {};
    if (::stat(rtl::OsPath(path).c_str(), &st) != 0) return false;
    return st.st_size != size_ || st.st_ino != inode_ || ModifiedNs(st) != mtimeNs_;
}

void FileWatch::Lock(const std::string& path) {
    if (lockFd_ < 0) lockFd_ = ::open(rtl::OsPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (lockFd_ >= 0) ::flock(lockFd_, LOCK_EX);
}

void FileWatch::Unlock() {
    if (lockFd_ >= 0) ::flock(lockFd_, LOCK_UN);
}

}  // namespace kce
