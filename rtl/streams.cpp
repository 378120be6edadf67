#include "rtl/streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "rtl/edge.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/paths.h"

namespace rtl {

int64_t TStream::Size() {
    const int64_t here = Seek(0, soCurrent);
    const int64_t end = Seek(0, soEnd);
    Seek(here, soBeginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    char buffer[65536];
    int64_t left = count;
    while (left > 0) {
        const int64_t n = std::min<int64_t>(left, sizeof buffer);
        source.ReadBuffer(buffer, n);
        WriteBuffer(buffer, n);
        left -= n;
    }
    return count;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || position_ >= size) return 0;
    const int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (position_ + count > Size()) data_.resize(static_cast<size_t>(position_ + count));
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
    // Beyond the end is allowed (a later write fills the gap with zeros); before 0 is not.
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    position_ = std::min(position_, Size());
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    const int64_t size = stream.Size();
    data_.assign(static_cast<size_t>(size), '\0');
    stream.ReadBuffer(data_.data(), size);
    position_ = 0;
}

void TMemoryStream::SaveToStream(TStream& stream) { stream.WriteBuffer(data_.data(), Size()); }

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, fmCreate | fmOverwrite);
    SaveToStream(file);
    file.SetSize(Size());
}

TFileStream::TFileStream(const std::string& fileName, uint32_t mode) : fileName_(fileName) {
    const std::string path = ResolvePath(fileName);
    const bool create = (mode & 0xFF00) == fmCreate;
    int flags = O_CLOEXEC;
    if (create) {
        flags |= O_RDWR | O_CREAT;
    } else {
        switch (mode & 3) {
            case fmOpenWrite:
                flags |= O_WRONLY;
                break;
            case fmOpenReadWrite:
                flags |= O_RDWR;
                break;
            default:
                flags |= O_RDONLY;
        }
    }
    fd_ = ::open(OsPath(path).c_str(), flags, 0666);
    if (fd_ < 0) {
        const char* reason = std::strerror(errno);
        if (create)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", {fileName, reason}));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", {fileName, reason}));
    }
    struct stat st;
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        const char* reason = std::strerror(EISDIR);
        if (create)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", {fileName, reason}));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", {fileName, reason}));
    }
    // The lock comes before emptying the file, so a refused create leaves the holder's data.
    const int lock = (mode & 0xF0) == fmShareExclusive ? LOCK_EX : LOCK_SH;
    if (::flock(fd_, lock | LOCK_NB) != 0) {
        ::close(fd_);
        fd_ = -1;
        const char* reason =
            "The process cannot access the file because it is being used by another process.";
        if (create)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", {fileName, reason}));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", {fileName, reason}));
    }
    if (create && !(mode & fmOverwrite) && ::ftruncate(fd_, 0) != 0) {
        const std::string reason = std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        throw EFCreateError(Format("Cannot create file \"%s\". %s", {fileName, reason}));
    }
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    int64_t done = 0;
    char* p = static_cast<char*>(buffer);
    while (done < count) {
        const ssize_t n = ::read(fd_, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    int64_t done = 0;
    const char* p = static_cast<const char*>(buffer);
    while (done < count) {
        const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
    const off_t pos = ::lseek(fd_, static_cast<off_t>(offset), whence);
    if (pos < 0)
        throw EStreamError(
            Format("Cannot seek in file \"%s\". %s", {fileName_, std::strerror(errno)}));
    return pos;
}

int64_t TFileStream::Size() {
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        throw EStreamError(
            Format("Cannot read the size of file \"%s\". %s", {fileName_, std::strerror(errno)}));
    return st.st_size;
}

void TFileStream::SetSize(int64_t size) {
    // Cutting a file to the length it has still costs the file system a change of the file's
    // times (a journal write): CONVERT sets the length of the photo's file for every photo.
    struct stat st;
    if (::fstat(fd_, &st) == 0 && st.st_size == size) {
        if (Position() > size) SetPosition(size);
        return;
    }
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        throw EWriteError(
            Format("Cannot change the size of file \"%s\". %s", {fileName_, std::strerror(errno)}));
    if (Position() > size) SetPosition(size);
}

}  // namespace rtl
