#include "engine/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/status.h"
#include "rtl/edge.h"

namespace kce {
namespace {

constexpr char kMagic[] = "KDBJRNL1";
constexpr uint64_t kAbsent = UINT64_MAX;

uint64_t Fnv1a(const std::string& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

void Put(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char(uint8_t(v >> (8 * i)));
}

uint64_t Get(const std::string& in, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(in[at + size_t(i)]);
    return v;
}

std::string Folder(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

KCESTATUS SyncFolder(const std::string& path) {
    int fd = ::open(rtl::OsPath(Folder(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail(KCE_FILE_WRITE_FAILED, Folder(path) + ": " + std::strerror(errno));
    int rc = ::fsync(fd);
    ::close(fd);
    if (rc != 0) return Fail(KCE_FILE_WRITE_FAILED, Folder(path) + ": " + std::strerror(errno));
    return KCE_SUCCESS;
}

KCESTATUS SyncPath(const std::string& path) {
    int fd = ::open(rtl::OsPath(path).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return KCE_SUCCESS;
        return Fail(KCE_FILE_WRITE_FAILED, path + ": " + std::strerror(errno));
    }
    int rc = ::fdatasync(fd);
    ::close(fd);
    if (rc != 0) return Fail(KCE_FILE_WRITE_FAILED, path + ": " + std::strerror(errno));
    return KCE_SUCCESS;
}

// The records of a journal file, up to the first one cut short or damaged.
struct Record {
    char type;
    uint32_t file;
    uint64_t offset;
    std::string bytes;
};

KCESTATUS ReadJournal(const std::string& path, std::vector<Record>* out) {
    int fd = ::open(rtl::OsPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(KCE_FILE_OPEN_FAILED, path + ": " + std::strerror(errno));
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return Fail(KCE_FILE_READ_FAILED, path + ": " + std::strerror(errno));
        }
        if (n == 0) break;
        data.append(buf, size_t(n));
    }
    ::close(fd);
    if (data.size() < 8 || data.compare(0, 8, kMagic) != 0) return KCE_SUCCESS;  // never begun
    for (size_t at = 8; at + 17 <= data.size();) {
        Record r;
        r.type = data[at];
        r.file = uint32_t(Get(data, at + 1, 4));
        r.offset = Get(data, at + 5, 8);
        uint64_t length = Get(data, at + 13, 4);
        if (at + 17 + length + 8 > data.size()) break;
        r.bytes = data.substr(at + 17, size_t(length));
        if (Get(data, at + 17 + size_t(length), 8) != Fnv1a(data.substr(at, 17 + size_t(length))))
            break;
        at += 17 + size_t(length) + 8;
        out->push_back(std::move(r));
    }
    return KCE_SUCCESS;
}

std::string Resolve(const std::string& tablePath, const std::string& name) {
    return !name.empty() && name[0] == '/' ? name : Folder(tablePath) + "/" + name;
}

// Whether a journal's file name stays inside the table's folder: relative, with no empty, "."
// or ".." part.
bool InsideFolder(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find('/', start);
        std::string part = name.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

// A journal is checked whole before anything is written back. It names the files of its table,
// in the table's folder; a file it names elsewhere (absolute, or through "..") is left alone, as
// anyone can write such a journal and compute its checksums: an index file kept in another folder
// is then not rolled back with its table (reindex mends it). A before-image past the size the
// journal gives its file, a size the before-images cannot have come from, or a record of unknown
// type mean the journal is not one this engine wrote: nothing of it is applied.
KCESTATUS CheckJournal(const std::string& tablePath, const std::vector<Record>& records) {
    const std::string path = RollbackJournal::PathFor(tablePath);
    auto damaged = [&](const std::string& why) {
        return Fail(KCE_DAMAGED_FILE, path + ": " + why + "; nothing was rolled back");
    };
    std::map<uint32_t, std::pair<std::string, uint64_t>> files;
    std::map<uint32_t, uint64_t> saved;
    std::map<uint32_t, bool> outside;
    for (const Record& r : records) {
        if (r.type == 'F') {
            outside[r.file] = !InsideFolder(r.bytes);
            if (!outside[r.file]) files[r.file] = {r.bytes, r.offset};
        } else if (r.type == 'B') {
            if (outside[r.file]) continue;
            auto it = files.find(r.file);
            if (it == files.end() || it->second.second == kAbsent || r.offset > it->second.second ||
                r.bytes.size() > it->second.second - r.offset) {
                return damaged("a before-image lies outside its file");
            }
            saved[r.file] += r.bytes.size();
        } else {
            return damaged("a record of unknown type");
        }
    }
    for (const auto& [number, file] : files) {
        struct stat st;
        if (file.second == kAbsent || ::stat(Resolve(tablePath, file.first).c_str(), &st) != 0)
            continue;
        if (file.second > uint64_t(st.st_size) &&
            file.second - uint64_t(st.st_size) > saved[number]) {
            return damaged("it gives '" + file.first + "' a size the file never had");
        }
    }
    return KCE_SUCCESS;
}

// Gives the files back as the journal found them, then removes it.
KCESTATUS Undo(const std::string& tablePath) {
    const std::string path = RollbackJournal::PathFor(tablePath);
    std::vector<Record> records;
    if (KCESTATUS s = ReadJournal(path, &records)) return s;
    if (KCESTATUS s = CheckJournal(tablePath, records)) return s;
    std::map<uint32_t, std::pair<std::string, uint64_t>> files;
    for (const Record& r : records) {
        if (r.type == 'F') {
            if (InsideFolder(r.bytes)) {
                files[r.file] = {Resolve(tablePath, r.bytes), r.offset};
            } else {
                files.erase(r.file);
            }
        }
    }
    for (auto it = records.rbegin(); it != records.rend(); ++it) {
        if (it->type != 'B' || !files.count(it->file)) continue;
        const std::string& file = files[it->file].first;
        int fd = ::open(rtl::OsPath(file).c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return Fail(KCE_FILE_WRITE_FAILED, file + ": " + std::strerror(errno));
        ssize_t n = ::pwrite(fd, it->bytes.data(), it->bytes.size(), off_t(it->offset));
        ::close(fd);
        if (n != ssize_t(it->bytes.size())) {
            return Fail(KCE_FILE_WRITE_FAILED, file + ": the before-image cannot be written back");
        }
    }
    for (const auto& [number, file] : files) {
        if (file.second == kAbsent) {
            if (::unlink(rtl::OsPath(file.first).c_str()) != 0 && errno != ENOENT)
                return Fail(KCE_FILE_WRITE_FAILED, file.first + ": " + std::strerror(errno));
            continue;
        }
        if (::truncate(rtl::OsPath(file.first).c_str(), off_t(file.second)) != 0 && errno != ENOENT)
            return Fail(KCE_FILE_WRITE_FAILED, file.first + ": " + std::strerror(errno));
        if (KCESTATUS s = SyncPath(file.first)) return s;
    }
    if (::unlink(rtl::OsPath(path).c_str()) != 0)
        return Fail(KCE_FILE_WRITE_FAILED, path + ": " + std::strerror(errno));
    return SyncFolder(path);
}

}  // namespace

KCESTATUS RollbackJournal::Begin(const std::string& tablePath,
                                 const std::vector<std::string>& files,
                                 std::unique_ptr<RollbackJournal>* out) {
    const std::string path = PathFor(tablePath);
    int fd = ::open(rtl::OsPath(path).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Fail(errno == EEXIST ? KCE_TABLE_IN_USE : KCE_FILE_WRITE_FAILED,
                    path + ": " + std::strerror(errno));
    }
    std::unique_ptr<RollbackJournal> journal(new RollbackJournal(tablePath, fd));
    if (::write(fd, kMagic, 8) != 8) {
        journal->Release();
        ::unlink(rtl::OsPath(path).c_str());
        return Fail(KCE_FILE_WRITE_FAILED, path + ": " + std::strerror(errno));
    }
    journal->end_ = 8;
    for (const std::string& file : files) {
        if (KCESTATUS s = journal->Cover(file)) {
            journal->Release();
            ::unlink(rtl::OsPath(path).c_str());
            return s;
        }
    }
    if (KCESTATUS s = SyncFolder(path)) {
        journal->Release();
        ::unlink(rtl::OsPath(path).c_str());
        return s;
    }
    *out = std::move(journal);
    return KCE_SUCCESS;
}

KCESTATUS RollbackJournal::Recover(const std::string& tablePath) {
    struct stat st;
    if (::stat(rtl::OsPath(PathFor(tablePath)).c_str(), &st) != 0) return KCE_SUCCESS;
    return Undo(tablePath);
}

RollbackJournal::~RollbackJournal() {
    // A journal dropped without commit or rollback stays on disk for the next opener.
    Release();
}

void RollbackJournal::Release() {
    for (Covered& c : files_) {
        if (c.guard && c.originalSize != kAbsent) SetWriteGuard(c.path, nullptr);
        c.guard.reset();
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

KCESTATUS RollbackJournal::Cover(const std::string& path) {
    for (const Covered& c : files_) {
        if (c.path == path) return KCE_SUCCESS;
    }
    Covered c;
    c.path = path;
    struct stat st;
    c.originalSize = ::stat(rtl::OsPath(path).c_str(), &st) == 0 ? uint64_t(st.st_size) : kAbsent;
    std::string folder = Folder(tablePath_) + "/";
    std::string name =
        path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path;
    if (KCESTATUS s = Append('F', uint32_t(files_.size()), c.originalSize, name)) return s;
    if (KCESTATUS s = Sync()) return s;
    c.guard = std::make_unique<FileGuard>(*this, files_.size());
    if (c.originalSize != kAbsent) {
        if (KCESTATUS s = SetWriteGuard(path, c.guard.get())) return s;
    }
    files_.push_back(std::move(c));
    return KCE_SUCCESS;
}

KCESTATUS RollbackJournal::Append(char type, uint32_t file, uint64_t offset,
                                  const std::string& bytes) {
    std::string record(1, type);
    Put(record, file, 4);
    Put(record, offset, 8);
    Put(record, bytes.size(), 4);
    record += bytes;
    Put(record, Fnv1a(record), 8);
    size_t done = 0;
    while (done < record.size()) {
        ssize_t n = ::pwrite(fd_, record.data() + done, record.size() - done, off_t(end_ + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            return Fail(errno == ENOSPC ? KCE_DISK_FULL : KCE_FILE_WRITE_FAILED,
                        PathFor(tablePath_) + ": " + std::strerror(errno));
        }
        done += size_t(n);
    }
    end_ += record.size();
    return KCE_SUCCESS;
}

KCESTATUS RollbackJournal::Sync() {
    if (::fdatasync(fd_) != 0) {
        return Fail(KCE_FILE_WRITE_FAILED, PathFor(tablePath_) + ": " + std::strerror(errno));
    }
    return KCE_SUCCESS;
}

KCESTATUS RollbackJournal::BeforeChange(size_t file, File& handle, uint64_t offset, uint64_t n) {
    if (done_) return KCE_SUCCESS;
    Covered& c = files_[file];
    if (c.originalSize == kAbsent) return KCE_SUCCESS;
    uint64_t first = offset;
    uint64_t last = n == UINT64_MAX ? c.originalSize : std::min(c.originalSize, offset + n);
    bool appended = false;
    // Save the parts of [first, last) that no before-image holds yet.
    while (first < last) {
        auto next = c.saved.upper_bound(first);
        if (next != c.saved.begin()) {
            auto prev = std::prev(next);
            if (prev->second > first) {
                first = prev->second;
                continue;
            }
        }
        uint64_t stop = next == c.saved.end() ? last : std::min(last, next->first);
        std::string old(size_t(stop - first), '\0');
        size_t got = 0;
        if (KCESTATUS s = handle.Read(first, old.data(), old.size(), &got)) return s;
        old.resize(got);
        if (KCESTATUS s = Append('B', uint32_t(file), first, old)) return s;
        appended = true;
        // Merge with the neighbours so that the map stays small.
        uint64_t from = first, to = stop;
        if (next != c.saved.begin()) {
            auto prev = std::prev(next);
            if (prev->second == from) {
                from = prev->first;
                c.saved.erase(prev);
            }
        }
        auto after = c.saved.find(to);
        if (after != c.saved.end()) {
            to = after->second;
            c.saved.erase(after);
        }
        c.saved[from] = to;
        first = stop;
    }
    if (!appended) return KCE_SUCCESS;
    return Sync();
}

KCESTATUS RollbackJournal::Commit() {
    for (const Covered& c : files_) {
        if (KCESTATUS s = SyncPath(c.path)) return s;
    }
    done_ = true;
    Release();
    const std::string path = PathFor(tablePath_);
    if (::unlink(rtl::OsPath(path).c_str()) != 0)
        return Fail(KCE_FILE_WRITE_FAILED, path + ": " + std::strerror(errno));
    return SyncFolder(path);
}

KCESTATUS RollbackJournal::Rollback() {
    done_ = true;
    Release();
    return Undo(tablePath_);
}

}  // namespace kce
