// Hostile alias files: the input is KDS.INI in the working folder. Looking aliases up and reading
// its sections must answer, never crash. The target moves into its scratch folder for each input
// and back out afterwards: the fuzzer reads its corpus and writes what it finds by relative
// paths, which must keep meaning the folder it was started in.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_files.h"
#include "kds/kdscnnct.h"
#include "rtl/inifiles.h"
#include "rtl/stringlist.h"

namespace {

void Run(const uint8_t* data, size_t size) {
    fuzzfiles::Put("KDS.INI", data, size);
    kds::TKdsAlias alias;
    for (const char* name : {"DATA", "data", "EMPLOYEE", "=", ";", " "})
        kds::FindAlias(name, alias);
    rtl::TIniFile file("KDS.INI");
    rtl::TStringList sections;
    file.ReadSections(sections);
    for (int i = 0; i < sections.Count() && i < 16; ++i) {
        rtl::TStringList values;
        file.ReadSectionValues(sections[i], values);
        for (int j = 0; j < values.Count() && j < 16; ++j) kds::FindAlias(values.Names(j), alias);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = fuzzfiles::Folder("alias_fuzz");
    const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || ::chdir(folder.c_str()) != 0) std::abort();
    Run(data, size);
    if (::fchdir(home) != 0) std::abort();
    ::close(home);
    return 0;
}
