// Hostile DBF and memo files: opening, reading every record and memo value, checking and
// writing must give statuses, never a crash. The input is a 16-bit length, that many bytes of
// DBF file, and the rest as the memo file (written both as .fpt and .dbt).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/dbf/dbf_table.h"
#include "fuzz/fuzz_files.h"

namespace {

std::string Folder() { return fuzzfiles::Folder("dbf_fuzz"); }

using fuzzfiles::Put;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t dbfSize = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
    const uint8_t* dbf = data + 2;
    const uint8_t* memo = dbf + dbfSize;
    size_t memoSize = size - 2 - dbfSize;
    const std::string base = Folder() + "/t";
    Put(base + ".dbf", dbf, dbfSize);
    Put(base + ".fpt", memo, memoSize);
    Put(base + ".dbt", memo, memoSize);

    std::unique_ptr<kce::dbf::DbfTable> table;
    if (kce::dbf::DbfTable::Open(base + ".dbf", false, &table) != 0) return 0;
    std::vector<uint8_t> image(table->ImageLength());
    std::string value;
    const uint32_t count = std::min<uint32_t>(table->RecordCount(), 64);
    for (uint32_t r = 1; r <= count; ++r) {
        bool deleted = false;
        std::vector<bool> nulls;
        if (table->ReadImage(r, image.data(), &deleted, &nulls) != 0) continue;
        for (size_t f = 0; f < table->Fields().size(); ++f) {
            if (table->ReadBlob(r, f, &value) == 0 && r == 1) {
                std::vector<kce::dbf::BlobChange> changes = {{f, value + "x"}};
                uint32_t written = 0;
                table->WriteImage(r, image.data(), std::nullopt, changes, &written);
            }
        }
    }
    std::vector<std::string> problems;
    table->Check(&problems);
    uint32_t recno = 0;
    table->WriteImage(0, image.data(), false, {}, &recno);
    return 0;
}
