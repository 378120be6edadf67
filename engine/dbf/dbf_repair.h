// Repair of the DBF tables users receive from other programs: what is wrong with a table file and
// its memo file, and the bytes that set it right. Nothing here changes a file in place: the plan
// is made from the files as they are, the repaired bytes are written to staged copies, and
// InstallStaged puts them in place all together, keeping a backup of each file it replaces.
//
// What the plan finds, and what the repaired bytes do about it:
//
//   record count     the header's count against the whole records the file holds (a count too
//                    high is lowered to the records there; records past a count too low, found
//                    by their deletion flag, are counted)
//   end marker       missing, or another byte in its place: 0x1A written after the last record;
//                    padding after the marker (0x1A or zero bytes, as some writers leave) is a
//                    warning, and is dropped when the file is rewritten
//   header length    one that disagrees with the field list: the records are looked for where the
//                    stated length puts them and where the field list ends, and the place whose
//                    records begin with deletion flags wins; a record length other than the
//                    fields' sum is set to the sum
//   cut short        a last record the file ends inside: kept, its missing bytes (and the field
//                    they cut through) made empty
//   deletion flag    a byte other than blank or '*': set blank (the record stays visible)
//   numbers, dates   N, F and D fields whose bytes cannot be read: set empty (the line printed
//                    keeps the old bytes, and the backup the whole file)
//   memo pointers    unreadable, before the first block, past the end of the memo file, not at
//                    the start of a value, or inside another record's value: set empty; two
//                    records sharing one value is a warning and left alone
//   memo file        missing beside a table with memo fields: an empty one of the table's kind
//                    made, and every memo pointer set empty
//   memo header      a block size that does not fit where the values lie (the block size under
//                    which the most pointers find a value wins), a next-free block behind the
//                    values or past the end of the file: set right
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/kce.h"

namespace kce::dbf {

struct RepairFinding {
    std::string text;      // what is wrong, in a few words ("record 3, field PAY: ...")
    std::string fix;       // what the repaired bytes do about it ("set empty")
    bool warning = false;  // readers cope with it as it is
};

struct DbfRepairPlan {
    std::vector<RepairFinding> findings;
    bool Damaged() const;  // any finding that is not a warning

    std::string memoPath;  // the memo file, or empty when the table has no memo fields
    bool dbfChanged = false;
    bool memoChanged = false;
    bool recordsChanged = false;  // records, or their memo pointers (indexes made from them age)
    std::vector<uint8_t> dbf;     // the repaired table file, when dbfChanged
    std::vector<uint8_t> memo;    // the repaired memo file, when memoChanged
};

// Reads the table file at path and its memo file, never changing either, and says what is wrong
// and how the repaired bytes differ. A file that cannot be taken for a DBF table at all (no known
// version byte, no field descriptors) fails, naming the fault.
KCESTATUS PlanDbfRepair(const std::string& path, DbfRepairPlan* out);

// Writes bytes to a new file at path (an existing one is replaced).
KCESTATUS WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
KCESTATUS ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes);

// Puts staged files in place of the originals. First a copy of each original is written beside
// it as ORIGINAL.bak; an existing .bak is never replaced: the install refuses before it changes
// anything, naming it. An original that does not exist takes no backup (an undo removes the
// file put in its place). Then each staged file is renamed over its original. All or nothing: when
// a step fails, the originals that were replaced are put back, the backups made are removed, and
// the status of the failure is answered. beforeStep (may be empty) is asked before every step
// with its description; a non-zero answer fails the step (tests use it to stop a repair midway).
struct StagedFile {
    std::string original;
    std::string staged;
};
KCESTATUS InstallStaged(const std::vector<StagedFile>& files,
                        const std::function<KCESTATUS(const std::string&)>& beforeStep,
                        std::vector<std::string>* backups);

// The backup name of a file: path + ".bak".
std::string BackupPath(const std::string& path);

}  // namespace kce::dbf
