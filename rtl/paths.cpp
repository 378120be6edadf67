#include "rtl/paths.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rtl/edge.h"

namespace rtl {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool HasDrive(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

bool Exists(const std::string& path, struct stat* st = nullptr) {
    struct stat local;
    return ::stat(OsPath(path).c_str(), st ? st : &local) == 0;
}

// A name from the system (the environment, the working folder, the password file) as a name of
// the process. One the ANSI page cannot hold keeps a '?' for each character it lacks and sets
// *unnamed: nothing in it can be reached, and nothing is created there.
std::string FromSystem(const char* name, bool* unnamed = nullptr) {
    std::optional<std::string> ansi = PathFromOs(name);
    if (ansi) return *ansi;
    if (unnamed) *unnamed = true;
    return FromUtf8Replacing(AnsiCodePage(), name, '?');
}

std::string Env(const char* name, bool* unnamed = nullptr) {
    const char* v = std::getenv(name);
    return v ? FromSystem(v, unnamed) : "";
}

std::string HomeFolder(bool* unnamed) {
    std::string home = Env("HOME", unnamed);
    if (!home.empty()) return home;
    if (struct passwd* pw = ::getpwuid(::getuid())) return FromSystem(pw->pw_dir, unnamed);
    return "/";
}

bool EqualNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
        if (!b[i] || std::tolower(static_cast<unsigned char>(a[i])) !=
                         std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return b[i] == 0;
}

// The entry of `folder` that is `name` without regard to case; empty when none is.
std::string ListNoCase(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(OsPath(folder).c_str());
    if (!dir) return "";
    std::string best;
    while (struct dirent* e = ::readdir(dir)) {
        // An entry the ANSI page cannot hold cannot be named from inside the process.
        std::optional<std::string> entry = PathFromOs(e->d_name);
        if (entry && EqualNoCase(name, entry->c_str()) && (best.empty() || best > *entry))
            best = *entry;
    }
    ::closedir(dir);
    return best;
}

// A folder as a stat saw it: while its identity and modification time stay the same, so do
// its entries.
struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};

    explicit Stamp(const struct stat& st)
        : device(st.st_dev), inode(st.st_ino), modified(st.st_mtim) {}
    bool Matches(const struct stat& st) const {
        return device == st.st_dev && inode == st.st_ino && modified.tv_sec == st.st_mtim.tv_sec &&
               modified.tv_nsec == st.st_mtim.tv_nsec;
    }
};

// The folders a resolution listed to match names without case, each as it was then. Not
// `settled` when one of them had changed within two seconds of its listing, or could not be
// looked at: the file system stamps changes with a coarse clock, and a change made in the same
// tick would leave the stamp as it was, so nothing resting on such a listing is kept.
struct Listed {
    std::vector<std::pair<std::string, Stamp>> folders;
    bool settled = true;
};

bool Settled(const struct stat& st) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return st.st_mtim.tv_sec + 2 <= now.tv_sec;
}

// The answers of ListNoCase, kept while their folder is unchanged, so that one stat replaces a
// listing (CONVERT resolves "C:\temp\photo.JPG" and "...\photo.jpg" for every photo).
class NoCaseCache {
  public:
    // `known`: the folder's stat when the caller has just made it, else null. The folder is
    // added to `listed` when that is given.
    std::string Find(const std::string& folder, const std::string& name, const struct stat* known,
                     Listed* listed) {
        struct stat st;
        if (known) {
            st = *known;
        } else if (::stat(OsPath(folder).c_str(), &st) != 0) {
            if (listed) listed->settled = false;
            return "";
        }
        if (listed) listed->folders.emplace_back(folder, Stamp(st));
        const std::string key = folder + '\0' + name;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = entries_.find(key);
            if (it != entries_.end() && it->second.stamp.Matches(st)) return it->second.found;
        }
        std::string found = ListNoCase(folder, name);
        if (Settled(st)) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (entries_.size() >= kLimit) entries_.clear();
            entries_.insert_or_assign(key, Entry{Stamp(st), found});
        } else if (listed) {
            listed->settled = false;
        }
        return found;
    }

  private:
    struct Entry {
        Stamp stamp;
        std::string found;
    };
    static constexpr size_t kLimit = 256;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

std::string FindNoCase(const std::string& folder, const std::string& name,
                       const struct stat* known = nullptr, Listed* listed = nullptr) {
    static NoCaseCache cache;
    return cache.Find(folder, name, known, listed);
}

std::string Child(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string Parent(const std::string& folder) {
    std::string::size_type slash = folder.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return folder.substr(0, slash);
}

// Appends the names of `rest` to the absolute folder `current`, matching existing names without
// case. With `floor` set, ".." stops there: a drive has nothing above its root. When `listed` is
// given, it gets the folders listed on the way, and *exists whether the result exists.
std::string Walk(std::string current, const std::string& rest, bool floor = false,
                 Listed* listed = nullptr, bool* exists = nullptr) {
    bool ignored = false;
    if (!exists) exists = &ignored;
    *exists = true;
    // The usual case first: every name exists as written, so one stat of the whole path decides
    // (names "." and ".." still go the long way, which resolves them by the text).
    // Next, the whole folder exists as written and only the last name differs in case.
    std::string whole = current, folder = current, last;
    bool plain = true;
    for (size_t i = 0; plain && i <= rest.size();) {
        size_t j = i;
        while (j < rest.size() && !IsSeparator(rest[j])) ++j;
        std::string_view name(rest.data() + i, j - i);
        i = j + 1;
        if (name.empty()) continue;
        plain = name != "." && name != "..";
        folder = whole;
        last = name;
        whole = Child(whole, last);
    }
    if (plain && Exists(whole)) return whole;
    struct stat st;
    std::string missing;  // a folder the stat just found missing, not to be asked again
    if (plain && !last.empty()) {
        if (Exists(folder, &st)) {
            std::string found = FindNoCase(folder, last, &st, listed);
            *exists = !found.empty();
            return found.empty() ? whole : Child(folder, found);
        }
        missing = folder;
    }

    const std::string base = current;
    bool matching = true;
    bool statted = false;  // st holds the stat of `current`
    size_t i = 0;
    while (i <= rest.size()) {
        size_t j = i;
        while (j < rest.size() && !IsSeparator(rest[j])) ++j;
        std::string name = rest.substr(i, j - i);
        i = j + 1;
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!floor || current != base) current = Parent(current);
            statted = false;
            continue;
        }
        std::string exact = Child(current, name);
        bool foundExactly = false;
        if (matching) {
            struct stat childStat;
            foundExactly = exact != missing && Exists(exact, &childStat);
            if (!foundExactly) {
                std::string found = FindNoCase(current, name, statted ? &st : nullptr, listed);
                if (found.empty()) {
                    matching = false;  // nothing below a missing name can exist
                } else {
                    exact = Child(current, found);
                }
            } else {
                st = childStat;
            }
        }
        statted = foundExactly;
        current = exact;
    }
    *exists = matching;
    return current;
}

// Resolutions of drive paths, kept while everything they rested on is as it was: each folder
// listed on the way unchanged, and a result that existed still there (a name that matched
// exactly and is gone could now match another entry). A result that did not exist needs no
// look: a file created under its very name is the exact match.
class Resolutions {
  public:
    // *exists: whether the kept result exists (it was looked at just now).
    std::optional<std::string> Find(const std::string& key, bool* exists = nullptr) {
        Entry entry;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = entries_.find(key);
            if (it == entries_.end()) return std::nullopt;
            entry = it->second;
        }
        struct stat st;
        for (const auto& [folder, stamp] : entry.listed) {
            if (::stat(OsPath(folder).c_str(), &st) != 0 || !stamp.Matches(st)) return std::nullopt;
        }
        if (entry.exists && !Exists(entry.resolved)) return std::nullopt;
        if (exists) *exists = entry.exists;
        return entry.resolved;
    }
    void Keep(const std::string& key, const std::string& resolved, bool exists, Listed listed) {
        if (!listed.settled) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.size() >= kLimit) entries_.clear();
        entries_.insert_or_assign(key, Entry{resolved, exists, std::move(listed.folders)});
    }

  private:
    struct Entry {
        std::string resolved;
        bool exists = false;
        std::vector<std::pair<std::string, Stamp>> listed;
    };
    static constexpr size_t kLimit = 256;
    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

bool MakeFolder(const std::string& path) {
    return ::mkdir(OsPath(path).c_str(), 0777) == 0 || errno == EEXIST;
}

bool MakeFolders(const std::string& path) {
    if (path == "/" || path.empty()) return true;
    struct stat st;
    if (Exists(path, &st)) return S_ISDIR(st.st_mode);
    if (!MakeFolders(Parent(path))) return false;
    return MakeFolder(path);
}

}  // namespace

std::string CurrentDir() {
    std::vector<char> buf(4096);
    while (!::getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return "/";
        buf.resize(buf.size() * 2);
    }
    return FromSystem(buf.data());
}

std::string UnreachableBecause(const std::string& path) {
    // The first system folder the path starts from, as the system names it, and what it is.
    auto refused = [](const std::string& what, const char* name) {
        return name && !PathFromOs(name) ? RefusalText(what, name) : std::string();
    };
    auto workingFolder = []() {
        std::vector<char> buf(4096);
        while (!::getcwd(buf.data(), buf.size())) {
            if (errno != ERANGE) return std::string("/");
            buf.resize(buf.size() * 2);
        }
        return std::string(buf.data());
    };
    if (!HasDrive(path)) {
        if (!path.empty() && IsSeparator(path[0])) return "";
        return refused("the working folder", workingFolder().c_str());
    }
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    const std::string variable = std::string("UPDATEBANK_DRIVE_") + upper;
    if (const char* drive = std::getenv(variable.c_str()); drive && *drive) {
        std::string why = refused(
            "the folder of drive " + std::string(1, upper) + ": ($" + variable + ")", drive);
        if (why.empty() && drive[0] != '/')
            why = refused("the working folder", workingFolder().c_str());
        return why;
    }
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return refused("$XDG_DATA_HOME", data);
    const char* home = std::getenv("HOME");
    if (home && *home) return refused("$HOME", home);
    const struct passwd* pw = ::getpwuid(::getuid());
    return pw ? refused("the home folder", pw->pw_dir) : std::string();
}

std::string ProgramFileName() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return "";
        if (static_cast<size_t>(n) < buf.size())
            return FromSystem(std::string(buf.data(), static_cast<size_t>(n)).c_str());
        buf.resize(buf.size() * 2);
    }
}

namespace {

// What the settings name as drive `upper`'s folder, before it is looked at.
std::string DriveSetting(char upper, bool* set, bool* unnamed) {
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(upper)));
    std::string folder = Env((std::string("UPDATEBANK_DRIVE_") + upper).c_str(), unnamed);
    *set = !folder.empty();
    if (!*set) {
        std::string data = Env("XDG_DATA_HOME", unnamed);
        if (data.empty() || data[0] != '/') data = HomeFolder(unnamed) + "/.local/share";
        folder = data + "/updatebank/drive_" + lower;
    }
    return folder;
}

// The last setting of drive C found to name an existing folder exactly as written. (Statics
// of functions, so that a path resolved while the program starts finds them made.)
struct ExactDriveC {
    std::mutex mutex;
    std::string folder;
};
ExactDriveC& ExactDrive() {
    static ExactDriveC exact;
    return exact;
}
bool IsExactDriveC(const std::string& folder) {
    std::lock_guard<std::mutex> lock(ExactDrive().mutex);
    return folder == ExactDrive().folder;
}

Resolutions& KeptResolutions() {
    static Resolutions kept;
    return kept;
}

}  // namespace

std::string DriveFolder(char letter) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    bool set = false, unnamed = false;
    std::string folder = DriveSetting(upper, &set, &unnamed);
    if (upper != 'C' || unnamed) return Walk(set && folder[0] != '/' ? CurrentDir() : "/", folder);
    // Drive C: its folder and TEMP must be there. The usual case costs one stat: the setting
    // names an existing folder exactly as written (kept), and its TEMP is there.
    if (IsExactDriveC(folder) && Exists(folder + "/TEMP")) return folder;
    const std::string configured = folder;
    folder = Walk(set && folder[0] != '/' ? CurrentDir() : "/", folder);
    if (!Exists(folder + "/TEMP")) {
        MakeFolders(folder);
        if (FindNoCase(folder, "TEMP").empty()) MakeFolder(folder + "/TEMP");
    }
    if (folder == configured && Exists(folder + "/TEMP")) {
        std::lock_guard<std::mutex> lock(ExactDrive().mutex);
        ExactDrive().folder = folder;
    }
    return folder;
}

std::string ResolvePath(const std::string& path) {
    if (HasDrive(path)) {
        // A kept resolution needs drive C's folder and TEMP checked (and made) only when it is
        // not an existing file under TEMP, which shows by itself that both are there (the
        // photo's file, twice a photo).
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
        bool set = false, unnamed = false;
        if (upper == 'C') {
            const std::string folder = DriveSetting(upper, &set, &unnamed);
            if (!unnamed && IsExactDriveC(folder)) {
                bool exists = false;
                if (std::optional<std::string> resolved =
                        KeptResolutions().Find(folder + '\0' + path, &exists)) {
                    const std::string temp = folder + "/TEMP/";
                    if (!exists || resolved->compare(0, temp.size(), temp) != 0) DriveFolder(upper);
                    return *resolved;
                }
            }
        }
        const std::string drive = DriveFolder(path[0]);
        const std::string key = drive + '\0' + path;
        if (std::optional<std::string> resolved = KeptResolutions().Find(key)) return *resolved;
        Listed listed;
        bool exists = false;
        std::string resolved = Walk(drive, path.substr(2), true, &listed, &exists);
        KeptResolutions().Keep(key, resolved, exists, std::move(listed));
        return resolved;
    }
    if (!path.empty() && IsSeparator(path[0])) return Walk("/", path);
    return Walk(CurrentDir(), path);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return Exists(ResolvePath(path), &st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return Exists(ResolvePath(path), &st) && S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) {
    return ::unlink(OsPath(ResolvePath(path)).c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return std::rename(OsPath(ResolvePath(from)).c_str(), OsPath(ResolvePath(to)).c_str()) == 0;
}

bool CreateDir(const std::string& path) {
    return ::mkdir(OsPath(ResolvePath(path)).c_str(), 0777) == 0;
}

bool ForceDirectories(const std::string& path) { return MakeFolders(ResolvePath(path)); }

bool IsPathDelimiter(char c) { return IsSeparator(c); }

namespace {

// Index just past the last separator or drive colon; 0 when there is none.
size_t NameStart(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i) {
        char c = path[i - 1];
        if (IsSeparator(c) || (c == ':' && i == 2 && HasDrive(path))) return i;
    }
    return 0;
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || HasDrive(name) || (!name.empty() && IsSeparator(name[0]))) return name;
    if (IsSeparator(folder.back()) || (folder.size() == 2 && HasDrive(folder)))
        return folder + name;
    const char sep = folder.find('\\') != std::string::npos ? '\\' : '/';
    return folder + sep + name;
}

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }

std::string ExtractFileExt(const std::string& path) {
    const size_t start = NameStart(path);
    const std::string::size_type dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start) return "";
    return path.substr(dot);
}

std::string ExtractFilePath(const std::string& path) { return path.substr(0, NameStart(path)); }

std::string ExtractFileDir(const std::string& path) {
    size_t end = NameStart(path);
    // Keep the separator of a root ("/", "C:\") so the result still names that root.
    if (end > 0 && IsSeparator(path[end - 1]) && end - 1 > 0 && !(end == 3 && HasDrive(path)))
        --end;
    return path.substr(0, end);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const size_t start = NameStart(path);
    std::string::size_type dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < start) dot = path.size();
    return path.substr(0, dot) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && IsSeparator(path.back())) return path;
    return path + (path.find('\\') != std::string::npos ? '\\' : '/');
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
    std::string out = path;
    while (out.size() > 1 && IsSeparator(out.back())) out.pop_back();
    return out;
}

}  // namespace rtl
