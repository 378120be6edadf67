// Hostile rollback journals: the input is the journal left beside a DBF table (after its 8-byte
// mark, which the target writes). Recovery must give a status, never a crash, and never touch a
// file outside the table's folder; the table, its memo and a file beside the folder are written
// afresh before every input.
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/journal.h"
#include "fuzz/fuzz_files.h"

namespace {

const uint8_t kTable[] = "a table's bytes, long enough for a before-image or two";
const uint8_t kOutside[] = "outside";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = fuzzfiles::Folder("journal_fuzz") + "/t";
    ::mkdir(folder.c_str(), 0700);
    const std::string table = folder + "/T.DBF";
    const std::string outside = folder + "-outside";
    fuzzfiles::Put(table, kTable, sizeof kTable);
    fuzzfiles::Put(folder + "/T.FPT", kTable, 16);
    fuzzfiles::Put(outside, kOutside, sizeof kOutside);
    std::string journal = "KDBJRNL1";
    journal.append(reinterpret_cast<const char*>(data), size);
    fuzzfiles::Put(kce::RollbackJournal::PathFor(table),
                   reinterpret_cast<const uint8_t*>(journal.data()), journal.size());
    kce::RollbackJournal::Recover(table);
    // Nothing outside the folder changed.
    struct stat st;
    if (::stat(outside.c_str(), &st) != 0 || size_t(st.st_size) != sizeof kOutside) std::abort();
    return 0;
}
