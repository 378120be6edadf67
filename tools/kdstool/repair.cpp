// kdstool check on a DBF table: the faults of the table file and its memo file (found by the
// engine's DBF repair module, whether or not the engine opens the table as it is), those of its
// indexes, and with --repair their repair. A repair writes every file it changes to a staging
// folder beside the table, rebuilds the indexes there from the repaired records, and only then
// puts the changed files in place, keeping FILE.bak copies of the originals; a repair that
// cannot finish leaves the originals as they were.
#include "tools/kdstool/repair.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/dbf/dbf_repair.h"
#include "engine/paths.h"
#include "rtl/edge.h"
#include "rtl/paths.h"

namespace kdstool {

namespace {

namespace fs = std::filesystem;

// The staging folder: made beside the table (so that its files are renamed into place on the
// same file system) and removed, whatever happens, when the command ends.
class Staging {
  public:
    explicit Staging(const std::string& table) {
        std::string pattern =
            Table::Folder(table) + "/." + Table::FileName(table) + ".repair-XXXXXX";
        std::string os = rtl::OsPath(pattern);
        std::vector<char> buf(os.begin(), os.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr) {
            throw Failure{"cannot make a staging folder beside " + Shown(table) + ": " +
                          std::strerror(errno) + "; nothing was changed"};
        }
        os_ = buf.data();
        path_ = pattern.substr(0, pattern.size() - 6) + os_.substr(os_.size() - 6);
    }
    ~Staging() {
        std::error_code ignored;
        fs::remove_all(os_, ignored);
    }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;
    // The staged copy of a file: its name in the staging folder.
    std::string Of(const std::string& file) const { return path_ + "/" + Table::FileName(file); }

  private:
    std::string os_;
    std::string path_;
};

void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    Check(kce::dbf::WriteWholeFile(path, bytes), "staging " + Shown(path));
}
std::vector<uint8_t> Read(const std::string& path) {
    std::vector<uint8_t> bytes;
    Check(kce::dbf::ReadWholeFile(path, &bytes), Shown(path));
    return bytes;
}

// The index files of the table: its structural .cdx (CDX tables), the .ntx files create made for
// it, and those named with --index-file; all resolved.
std::vector<std::string> IndexFilesOf(const std::string& table, const Args& args) {
    std::vector<std::string> files;
    const UNSIGNED16 type = Table::TypeOf(table);
    if (type == KCE_CDX) {
        std::string cdx = kce::Sibling(table, ".cdx");
        std::error_code error;
        if (fs::is_regular_file(rtl::OsPath(cdx), error)) files.push_back(cdx);
    } else {
        files = Table::RememberedIndexFiles(table);
    }
    for (const std::string& file : IndexFiles(args)) {
        files.push_back(rtl::ResolvePath(EnginePath(file)));
    }
    return files;
}

std::string Line(const kce::dbf::RepairFinding& f, bool repair) {
    return repair && !f.fix.empty() ? f.text + "; " + f.fix : f.text;
}

}  // namespace

int CheckDbf(const Args& args, bool repair) {
    const std::string path = rtl::ResolvePath(EnginePath(WithExtension(args.positional.at(0))));
    // The table is opened through the engine first: that rolls back what a transaction killed
    // midway left, and a repair holds the table open exclusively from here to the end, so that no
    // one else has it meanwhile. The indexes are checked on the table as it is.
    std::optional<Table> table;
    std::optional<Failure> refused;
    std::string indexes;
    try {
        table.emplace(args, repair ? KCE_OPEN_EXCLUSIVE : KCE_OPEN_READ_ONLY);
        indexes = Shown(IndexReport(table->Handle()));
    } catch (const Failure& f) {
        refused = f;
    }
    kce::dbf::DbfRepairPlan plan;
    Check(kce::dbf::PlanDbfRepair(path, &plan));
    if (refused) {
        // A table damaged in the ways the plan found may not open; any other refusal (another
        // program has it open, an index file is not readable) ends the command.
        if (!plan.Damaged()) throw *refused;
        indexes = "warning: the indexes were not checked: the table does not open as it is (" +
                  refused->message + ")\n";
    }
    const bool indexFault = HoldsFault(indexes);
    const bool fault = plan.Damaged() || indexFault;

    if (!repair) {
        std::string out;
        for (const kce::dbf::RepairFinding& f : plan.findings) out += Shown(Line(f, false)) + "\n";
        out += indexes;
        std::fwrite(out.data(), 1, out.size(), stdout);
        return fault ? 1 : 0;
    }
    bool anything = indexFault;
    for (const kce::dbf::RepairFinding& f : plan.findings) anything = anything || !f.fix.empty();
    if (!anything) {
        std::string out;
        for (const kce::dbf::RepairFinding& f : plan.findings) out += Shown(Line(f, true)) + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
        return 0;
    }

    // Stage the repaired table, its memo file and (when they are to be rebuilt) its indexes.
    Staging staging(path);
    std::vector<kce::dbf::StagedFile> files;
    const std::string stagedTable = staging.Of(path);
    Write(stagedTable, plan.dbfChanged ? plan.dbf : Read(path));
    if (plan.dbfChanged) files.push_back({path, stagedTable});
    if (!plan.memoPath.empty()) {
        Write(staging.Of(plan.memoPath), plan.memoChanged ? plan.memo : Read(plan.memoPath));
        if (plan.memoChanged) files.push_back({plan.memoPath, staging.Of(plan.memoPath)});
    }
    std::vector<std::string> rebuilt;
    if (plan.recordsChanged || indexFault) {
        const std::vector<std::string> indexFiles = IndexFilesOf(path, args);
        std::set<std::string> names;
        std::vector<std::string> extra;  // opened by name; a .cdx of the table's own opens itself
        for (const std::string& file : indexFiles) {
            if (!names.insert(Table::FileName(file)).second) {
                throw Failure{"two index files are named " + Shown(Table::FileName(file)) +
                              "; nothing was changed"};
            }
            Write(staging.Of(file), Read(file));
            if (Table::Ext(file) != ".cdx" || kce::Sibling(path, ".cdx") != file) {
                extra.push_back(Shown(staging.Of(file)));
            }
        }
        if (!indexFiles.empty()) {
            // Opened as a table of the staging folder, whose .ntx list is not there: every index
            // file is named.
            Table staged(Shown(stagedTable), KCE_OPEN_EXCLUSIVE, extra);
            Check(KdsReindex(staged.Handle()), "rebuilding the indexes");
            if (HoldsFault(IndexReport(staged.Handle()))) {
                throw Failure{
                    "the rebuilt indexes do not agree with the records; nothing was "
                    "changed"};
            }
        }
        for (const std::string& file : indexFiles) {
            if (Read(file) != Read(staging.Of(file))) {
                files.push_back({file, staging.Of(file)});
                rebuilt.push_back(file);
            }
        }
    }
    // What the repair wrote must be clean by the same measure.
    kce::dbf::DbfRepairPlan again;
    Check(kce::dbf::PlanDbfRepair(stagedTable, &again));
    if (again.Damaged()) {
        throw Failure{"the repaired table still has faults (" + Shown(again.findings[0].text) +
                      "); nothing was changed"};
    }

    std::vector<std::string> backups;
    if (KCESTATUS s = kce::dbf::InstallStaged(files, {}, &backups)) {
        (void)s;
        throw Failure{LastError() + "; nothing was changed"};
    }
    std::string out;
    for (const kce::dbf::RepairFinding& f : plan.findings) out += Shown(Line(f, true)) + "\n";
    out += indexes;
    for (const std::string& file : rebuilt) {
        out += Shown(Table::FileName(file)) + ": rebuilt from the records\n";
    }
    for (const std::string& bak : backups) {
        const std::string original = bak.substr(0, bak.size() - 4);
        out += "kept a copy of " + Shown(Table::FileName(original)) + " as " +
               Shown(Table::FileName(bak)) + "\n";
    }
    out += "repaired\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}

}  // namespace kdstool
