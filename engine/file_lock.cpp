#include "engine/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/file_io.h"
#include "engine/status.h"

namespace kce {

KCESTATUS FileLock::Open(const std::string& path, std::unique_ptr<FileLock>* out) {
    bool notRegular = false;
    int fd = OpenRegularFile(path, O_RDWR | O_CLOEXEC, &notRegular);
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = OpenRegularFile(path, O_RDONLY | O_CLOEXEC, &notRegular);
    if (notRegular) return Fail(KCE_NOT_A_FILE, path + " is not a regular file");
    if (fd < 0) {
        return Fail(errno == ENOENT ? KCE_FILE_NOT_FOUND : KCE_FILE_OPEN_FAILED,
                    path + ": " + std::strerror(errno));
    }
    out->reset(new FileLock(fd));
    return KCE_SUCCESS;
}

FileLock::~FileLock() { ::close(fd_); }

bool FileLock::SetLock(int64_t start, short type) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = 1;
    return ::fcntl(fd_, F_OFD_SETLK, &fl) == 0;
}

bool FileLock::LockTable(bool exclusive) {
    // A descriptor opened read-only cannot take a write lock; such a file is never written, so
    // its exclusive open is refused like a busy one.
    return SetLock(kTableLockByte, exclusive ? F_WRLCK : F_RDLCK);
}

bool FileLock::LockRecord(uint32_t recno) { return SetLock(kRecordLockBase + recno, F_WRLCK); }

void FileLock::UnlockRecord(uint32_t recno) { SetLock(kRecordLockBase + recno, F_UNLCK); }

bool FileLock::RecordLockedElsewhere(uint32_t recno) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kRecordLockBase + recno;
    fl.l_len = 1;
    if (::fcntl(fd_, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

}  // namespace kce
