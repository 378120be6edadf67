// Hostile index files: opening a .cdx or .ntx, walking and searching every tree, and changing
// what opened, must give statuses, never a crash. The first input byte chooses the kind (even:
// .cdx, odd: .ntx); the rest is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/index/cdx/cdx_file.h"
#include "engine/index/ntx/ntx_file.h"
#include "fuzz/fuzz_files.h"

namespace {

std::string Folder() { return fuzzfiles::Folder("xbase_index_fuzz"); }

using fuzzfiles::Put;

void Cdx(const std::string& path) {
    std::unique_ptr<kce::cdx::CdxFile> file;
    if (kce::cdx::CdxFile::Open(path, false, &file) != 0) return;
    for (const auto& tag : file->Tags()) {
        kce::cdx::Tree* tree = nullptr;
        if (file->OpenTag(tag.name, tag.header.signature == 2 ? 0 : ' ', &tree) != 0) continue;
        size_t n = 0;
        std::string last;
        for (auto p = tree->First(); p.Valid() && n < 10000; p = tree->Next(p), ++n) {
            last = tree->At(p).key;
        }
        for (auto p = tree->Last(); p.Valid() && n < 20000; p = tree->Prev(p), ++n) {
        }
        tree->Seek(last, 0, false);
        std::vector<std::string> problems;
        tree->Audit(&problems);
        const std::string key(tree->KeyLength(), 'K');
        bool found = false;
        for (uint32_t r = 1; r <= 40; ++r) {
            if (tree->Insert(key, r) != 0) return;
        }
        for (uint32_t r = 1; r <= 40; ++r) {
            if (tree->Remove(key, r, &found) != 0) return;
        }
    }
    file->Reload();
}

void Ntx(const std::string& path) {
    std::unique_ptr<kce::ntx::NtxFile> file;
    if (kce::ntx::NtxFile::Open(path, false, &file) != 0) return;
    std::string last;
    file->ForEach([&](const kce::ntx::Item& e) {
        last = e.key;
        return true;
    });
    kce::ntx::Item item;
    file->Ceiling(last, 0, false, &item);
    file->Floor(last, 0, true, &item);
    std::vector<std::string> problems;
    file->Audit(&problems);
    const std::string key(file->Head().keyLength, 'K');
    bool found = false;
    for (uint32_t r = 1; r <= 60; ++r) {
        if (file->Insert(key, r) != 0) return;
    }
    for (uint32_t r = 1; r <= 60; ++r) {
        if (file->Remove(key, r, &found) != 0) return;
    }
    file->Reload();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool cdx = (data[0] & 1) == 0;
    const std::string path = Folder() + (cdx ? "/t.cdx" : "/t.ntx");
    Put(path, data + 1, size - 1);
    if (cdx) {
        Cdx(path);
    } else {
        Ntx(path);
    }
    return 0;
}
