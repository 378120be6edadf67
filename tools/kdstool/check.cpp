// kdstool check: the faults of a table file and its indexes, and their repair.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/kdstool/common.h"

namespace kdstool {

namespace {

// The whole text of a report call (KdsCheckTableFile, KdsCheckIndexReport): asked again with
// room enough when it does not fit.
template <class Call>
std::string Report(Call call) {
    std::vector<UNSIGNED8> buf(65536);
    for (;;) {
        UNSIGNED32 len = UNSIGNED32(buf.size());
        KCESTATUS s = call(buf.data(), &len);
        if (s == KCE_INSUFFICIENT_BUFFER && len >= buf.size()) {
            buf.resize(size_t(len) + 1);
            continue;
        }
        Check(s);
        return std::string(reinterpret_cast<char*>(buf.data()), len);
    }
}

// Whether a report holds a fault: a line other than a warning ("warning: ...").
bool HoldsFault(const std::string& lines) {
    for (size_t at = 0; at < lines.size(); at = lines.find('\n', at) + 1) {
        if (lines.compare(at, 9, "warning: ") != 0) return true;
    }
    return false;
}

// What the engine found, one problem a line: in the table file (header, records, memo file) and
// in the indexes open on the table.
struct Findings {
    std::string table;
    std::string indexes;
};

Findings Examine(KDSHANDLE h) {
    Findings found;
    found.table =
        Report([&](UNSIGNED8* buf, UNSIGNED32* len) { return KdsCheckTableFile(h, 0, buf, len); });
    found.indexes =
        Report([&](UNSIGNED8* buf, UNSIGNED32* len) { return KdsCheckIndexReport(h, buf, len); });
    return found;
}

// Sets right what was found: the table file through the engine's repair of it, indexes that
// disagree with the records by building them again. The table is open exclusively.
void Repair(KDSHANDLE h, const Findings& found) {
    if (!found.table.empty()) {
        UNSIGNED32 len = 0;
        Check(KdsCheckTableFile(h, 1, nullptr, &len));
    }
    if (HoldsFault(found.indexes)) Check(KdsReindex(h));
}

}  // namespace

// Prints the problems found in the table file and its indexes, whole, one per line; exit status
// 1 while any fault remains. A warning (a line "warning: ...", such as a missing end marker,
// which every reader copes with) is printed and leaves the status 0. --repair sets right what
// can be (an xBase header count, the end-of-file marker, indexes that disagree with the records).
int CheckTable(int argc, char** argv) {
    bool repair = false;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (i >= 2 && std::strcmp(argv[i], "--repair") == 0) {
            repair = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    Table table(OneTableArgs(int(rest.size()), rest.data(), "check"),
                repair ? KCE_OPEN_EXCLUSIVE : KCE_OPEN_READ_ONLY);
    const Findings found = Examine(table.Handle());
    // The reports are the engine's text, as its messages are: shown as UTF-8 (a damaged field
    // name's stray bytes each as the character the page gives it).
    const std::string shown = Shown(found.table) + Shown(found.indexes);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    const bool indexFault = HoldsFault(found.indexes);
    const bool fault = HoldsFault(found.table) || indexFault;
    if (!repair || (found.table.empty() && !indexFault)) return fault ? 1 : 0;
    Repair(table.Handle(), found);
    std::puts("repaired");
    return 0;
}

}  // namespace kdstool
