// Tables with index files that other xBase programs wrote: the shared sample folder beside the
// repository when it is there, and the few copied into tests/data/xbase, so that a clone without
// the shared folder still reads real files.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace xbasesamples {

inline std::vector<std::filesystem::path> Folders(const std::string& kind) {
    std::vector<std::filesystem::path> out;
    std::filesystem::path root = UPDATEBANK_SOURCE_DIR;
    if (const char* env = std::getenv("XBASE_SAMPLES")) {
        out.push_back(std::filesystem::path(env) / kind);
    } else {
        // Beside the checkout, or beside the folder of worktrees.
        out.push_back(root.parent_path() / "shared" / "xbase-samples" / kind);
        out.push_back(root.parent_path().parent_path() / "shared" / "xbase-samples" / kind);
    }
    out.push_back(root / "tests" / "data" / "xbase" / kind);
    std::vector<std::filesystem::path> existing;
    for (size_t i = 0; i < out.size(); ++i) {
        // The shared folder, when found, already holds every copied file.
        if (std::filesystem::is_directory(out[i])) {
            existing.push_back(out[i]);
            if (i + 1 < out.size()) break;
        }
    }
    return existing;
}

inline std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Index files of a kind ("cdx" or "ntx") with the table beside them, sorted by name.
struct Sample {
    std::filesystem::path index;
    std::filesystem::path table;
};
inline std::vector<Sample> Samples(const std::string& kind) {
    std::vector<Sample> out;
    for (const auto& folder : Folders(kind)) {
        for (const auto& e : std::filesystem::directory_iterator(folder)) {
            if (Lower(e.path().extension().string()) != "." + kind) continue;
            for (const char* ext : {".dbf", ".DBF"}) {
                auto table = e.path();
                table.replace_extension(ext);
                if (std::filesystem::exists(table)) {
                    out.push_back({e.path(), table});
                    break;
                }
            }
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Sample& a, const Sample& b) { return a.index < b.index; });
    return out;
}

// Copies a sample table and its index file into folder (the samples are read-only, and their
// memo files were not kept: an empty memo file stands in, as no key reads a memo).
inline Sample CopySample(const Sample& sample, const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    Sample out{folder / sample.index.filename(), folder / sample.table.filename()};
    fs::copy_file(sample.index, out.index, fs::copy_options::overwrite_existing);
    fs::copy_file(sample.table, out.table, fs::copy_options::overwrite_existing);
    fs::permissions(out.index, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::add);
    fs::permissions(out.table, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::add);
    bool cdx = Lower(sample.index.extension().string()) == ".cdx";
    fs::path memo = out.table;
    memo.replace_extension(cdx ? ".fpt" : ".dbt");
    fs::path upperMemo = out.table;
    upperMemo.replace_extension(cdx ? ".FPT" : ".DBT");
    if (!fs::exists(memo) && !fs::exists(upperMemo)) {
        std::string header(512, '\0');
        if (cdx) {
            header[3] = 8;  // next free block (BE), block size 64 (BE)
            header[7] = 64;
        } else {
            header[0] = 1;  // next free block (LE)
        }
        std::ofstream(memo, std::ios::binary).write(header.data(), std::streamsize(header.size()));
    }
    return out;
}

}  // namespace xbasesamples
