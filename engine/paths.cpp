#include "engine/paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <vector>

namespace kce {
namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The entry of folder whose name equals name ignoring case (the exact name first), or name.
std::string FindEntry(const std::string& folder, const std::string& name) {
    std::string exact = folder == "/" ? "/" + name : folder + "/" + name;
    if (Exists(exact)) return name;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return name;
    std::string found = name;
    while (dirent* e = ::readdir(dir)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string DriveFolder(char letter) {
    letter = char(std::toupper(static_cast<unsigned char>(letter)));
    std::string var = std::string("UPDATEBANK_DRIVE_") + letter;
    if (const char* v = std::getenv(var.c_str()); v && *v) return v;
    std::string base;
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) {
        base = x;
    } else if (const char* h = std::getenv("HOME"); h && *h) {
        base = std::string(h) + "/.local/share";
    } else {
        base = "/tmp";
    }
    return base + "/updatebank/drive_" + char(std::tolower(static_cast<unsigned char>(letter)));
}

}  // namespace

std::string ResolvePath(std::string_view given, std::string_view base) {
    std::string p(given);
    for (char& c : p)
        if (c == '\\') c = '/';
    std::string root;
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
        root = DriveFolder(p[0]);
        p = p.substr(2);
    } else if (!p.empty() && p[0] == '/') {
        root = "/";
    } else if (!base.empty()) {
        root = std::string(base);
    } else {
        char cwd[4096];
        root = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= p.size()) {
        size_t slash = p.find('/', pos);
        if (slash == std::string::npos) slash = p.size();
        std::string part = p.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".") continue;
        parts.push_back(part);
    }
    std::string out = root;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    for (const std::string& part : parts) {
        if (part == "..") {
            size_t slash = out.rfind('/');
            out = slash == 0 || slash == std::string::npos ? "/" : out.substr(0, slash);
            continue;
        }
        std::string name = FindEntry(out, part);
        out = out == "/" ? "/" + name : out + "/" + name;
    }
    return out;
}

std::string Extension(std::string_view path) {
    size_t slash = path.find_last_of("/\\");
    size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return std::string(path.substr(dot));
}

}  // namespace kce
