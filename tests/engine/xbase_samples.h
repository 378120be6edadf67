// Tables with index files that other xBase programs wrote: the shared sample folder beside the
// repository (../shared/xbase-samples from the project's root, or XBASE_SAMPLES). The files are
// used in place and never copied into the repository; a test that writes works on a copy in a
// temporary folder. Without the folder (a clone of the repository alone) there are no samples
// and the tests that need them skip.
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
    std::vector<std::filesystem::path> candidates;
    std::filesystem::path root = UPDATEBANK_SOURCE_DIR;
    if (const char* env = std::getenv("XBASE_SAMPLES")) {
        candidates.push_back(std::filesystem::path(env) / kind);
    } else {
        // Beside the checkout, or beside the folder of worktrees.
        candidates.push_back(root.parent_path() / "shared" / "xbase-samples" / kind);
        candidates.push_back(root.parent_path().parent_path() / "shared" / "xbase-samples" / kind);
    }
    for (const auto& folder : candidates) {
        if (std::filesystem::is_directory(folder)) return {folder};
    }
    return {};
}

// Why a test that needs the samples skips.
inline constexpr const char* kMissing =
    "the shared xBase sample folder (../shared/xbase-samples, or XBASE_SAMPLES) is absent";

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

// Copies a sample table and its index file into folder, where a test may open and change them
// (the samples are read-only, and hold no memo files: an empty memo file stands in, as no key
// reads a memo).
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
