// Hostile alias files: the input is KDS.INI in the working folder. Looking aliases up and reading
// its sections must answer, never crash.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_files.h"
#include "kds/kdscnnct.h"
#include "rtl/inifiles.h"
#include "rtl/stringlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool moved = ::chdir(fuzzfiles::Folder("alias_fuzz").c_str()) == 0;
    if (!moved) return 0;
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
    return 0;
}
