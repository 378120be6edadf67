// kdstool on DBF tables as they sit in real folders: many tables and their index files side by
// side, tables in other folders, names typed in any letter case.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "run_command.h"
#include "tests/engine/xbase_samples.h"

namespace {

namespace fs = std::filesystem;

using tools_test::Outcome;

class KdstoolFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstool-folders-XXXXXX";
        dir_ = ::mkdtemp(templ);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs kdstool with args in folder (dir_ when empty).
    Outcome Kdstool(const std::string& args, const std::string& folder = "") {
        std::string errFile = dir_ + "/stderr.txt";
        std::string command =
            "cd '" + (folder.empty() ? dir_ : folder) + "' && " + std::string(KDSTOOL) + " " + args;
        return tools_test::RunCommand(command, errFile);
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string dir_;
};

// Two NTX tables with the same field in one folder: each keeps to its own index files.
TEST_F(KdstoolFolders, AnNtxTableWritesOnlyTheIndexFilesThatAreItsOwn) {
    ASSERT_EQ(Kdstool("create A.dbf X:char:6 --type ntx --index IA=X").status, 0);
    ASSERT_EQ(Kdstool("create B.dbf X:char:6 --type ntx").status, 0);
    ASSERT_EQ(Kdstool("create C.dbf X:char:6 --type ntx --index IC=X").status, 0);
    Write("one.jsonl", "{\"X\": \"b\"}\n");
    const std::string ia = Read(dir_ + "/IA.ntx");
    for (const char* table : {"B.dbf", "C.dbf"}) {
        Outcome import = Kdstool(std::string("import ") + table + " one.jsonl");
        ASSERT_EQ(import.status, 0) << table << import.err;
    }
    EXPECT_EQ(Read(dir_ + "/IA.ntx"), ia) << "a table wrote into another table's index file";
    Write("two.jsonl", "{\"X\": \"z\"}\n{\"X\": \"a\"}\n");
    ASSERT_EQ(Kdstool("import A.dbf two.jsonl").status, 0);
    for (const char* table : {"A.dbf", "B.dbf", "C.dbf"}) {
        Outcome check = Kdstool(std::string("check ") + table);
        EXPECT_EQ(check.status, 0) << table << ": " << check.out << check.err;
    }
    EXPECT_EQ(Kdstool("export A.dbf --index IA").out,
              "{\"_recno\": 2, \"X\": \"a\"}\n{\"_recno\": 1, \"X\": \"z\"}\n");
    Outcome info = Kdstool("info B.dbf");
    EXPECT_NE(info.out.find("\"indexes\": []"), std::string::npos) << info.out;
    // A file named with --index-file is opened (and kept) as one of the table's for that run.
    Outcome named = Kdstool("info B.dbf --index-file IC.ntx");
    EXPECT_NE(named.out.find("\"name\": \"IC\""), std::string::npos) << named.out;
    EXPECT_NE(Kdstool("export B.dbf --index IA").status, 0);
    // An index file that create made and that went missing stops every command, by name.
    fs::remove(dir_ + "/IC.ntx");
    Outcome missing = Kdstool("export C.dbf");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("IC.ntx"), std::string::npos) << missing.err;
}

// The NTX tables of a real point-of-sale folder, read in place: none adopts another table's
// .NTX file, and each opens its own when it is named.
TEST_F(KdstoolFolders, RealClipperTablesOpenOnlyTheIndexFilesNamedForThem) {
    auto samples = xbasesamples::Samples("ntx");
    if (samples.empty()) GTEST_SKIP() << xbasesamples::kMissing;
    const std::string folder = samples.front().table.parent_path().string();
    int read = 0;
    for (const auto& sample : samples) {
        SCOPED_TRACE(sample.table.filename().string());
        const std::string table = sample.table.filename().string();
        Outcome bare = Kdstool("info " + table, folder);
        // A few of the tables need a memo file the folder does not hold.
        if (bare.status != 0 && bare.err.find("memo file") != std::string::npos) continue;
        ASSERT_EQ(bare.status, 0) << bare.err;
        EXPECT_NE(bare.out.find("\"indexes\": []"), std::string::npos) << bare.out;
        Outcome own =
            Kdstool("info " + table + " --index-file " + sample.index.filename().string(), folder);
        ASSERT_EQ(own.status, 0) << own.err;
        size_t first = own.out.find("{\"name\"", own.out.find("\"indexes\""));
        ASSERT_NE(first, std::string::npos) << own.out;
        EXPECT_EQ(own.out.find("{\"name\"", first + 1), std::string::npos) << own.out;
        EXPECT_NE(own.out.find("\"file\": \"" + sample.index.filename().string() + "\""),
                  std::string::npos)
            << own.out;
        ++read;
    }
    EXPECT_GT(read, 20);

    // A copy of the whole folder, written: one table gets a record through its own index file,
    // and every other file of the folder keeps its bytes.
    fs::path copy = fs::path(dir_) / "pos";
    fs::create_directory(copy);
    std::map<std::string, std::string> before;
    for (const auto& e : fs::directory_iterator(folder)) {
        fs::copy_file(e.path(), copy / e.path().filename());
        fs::permissions(copy / e.path().filename(), fs::perms::owner_write, fs::perm_options::add);
        before[e.path().filename().string()] = Read(e.path());
    }
    const auto& target = samples.back();
    Write("empty.jsonl", "{}\n");
    const std::string own = " --index-file " + target.index.filename().string();
    Outcome import = Kdstool("import " + target.table.filename().string() + " ../empty.jsonl" + own,
                             copy.string());
    ASSERT_EQ(import.status, 0) << import.err;
    Outcome check = Kdstool("check " + target.table.filename().string() + own, copy.string());
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    for (const auto& [name, bytes] : before) {
        if (name == target.table.filename() || name == target.index.filename()) continue;
        EXPECT_EQ(Read(copy / name), bytes) << name << " was written";
    }
    EXPECT_NE(Read(copy / target.index.filename()), before[target.index.filename().string()]);
}

// Every command finds a table in another folder, by a relative path in either separator and in
// any letter case, and with it the index files create made.
TEST_F(KdstoolFolders, EveryCommandFindsATableByARelativePathInAnyLetterCase) {
    fs::create_directories(dir_ + "/data/sub");
    fs::create_directories(dir_ + "/work");
    const std::string work = dir_ + "/work";
    for (const char* kind : {"ntx", "cdx"}) {
        SCOPED_TRACE(kind);
        const std::string table = std::string("../data/sub/EMP_") + kind + ".DBF";
        ASSERT_EQ(
            Kdstool("create " + table + " CODE:char:5 --type " + kind + " --index BYCODE=CODE",
                    work)
                .status,
            0);
        Write("work/in.jsonl", "{\"CODE\": \"b\"}\n{\"CODE\": \"a\"}\n");
        std::string lower = std::string("../DATA/Sub/emp_") + kind + ".dbf";
        std::string backslash = std::string("..\\\\data\\\\SUB\\\\Emp_") + kind + ".Dbf";
        Outcome import = Kdstool("import " + lower + " in.jsonl", work);
        ASSERT_EQ(import.status, 0) << import.err;
        for (const std::string& spelling : {table, lower, backslash}) {
            SCOPED_TRACE(spelling);
            Outcome info = Kdstool("info " + spelling, work);
            EXPECT_NE(info.out.find("\"kind\": \"" + std::string(kind) + "\""), std::string::npos)
                << info.out << info.err;
            EXPECT_NE(info.out.find("\"name\": \"BYCODE\""), std::string::npos) << info.out;
            EXPECT_EQ(Kdstool("export " + spelling + " --index bycode", work).out,
                      "{\"_recno\": 2, \"CODE\": \"a\"}\n{\"_recno\": 1, \"CODE\": \"b\"}\n");
            for (const char* command : {"check", "reindex", "pack"}) {
                Outcome run = Kdstool(std::string(command) + " " + spelling, work);
                EXPECT_EQ(run.status, 0) << command << ": " << run.out << run.err;
            }
        }
        // No file was made in the working folder or under another spelling of the names.
        EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 1);
        EXPECT_FALSE(fs::exists(dir_ + "/data/sub/sub"));
    }
}

// A table without the end marker, as many programs leave it: check warns and exits 0, --repair
// adds the marker; the real tables of the sample folder that lack it read the same, in place.
TEST_F(KdstoolFolders, AMissingEndMarkerIsAWarningThatRepairMends) {
    ASSERT_EQ(Kdstool("create t.dbf --type ntx A:char:3").status, 0);
    Write("in.jsonl", "{\"A\": \"one\"}\n");
    ASSERT_EQ(Kdstool("import t.dbf in.jsonl").status, 0);
    const auto size = fs::file_size(dir_ + "/t.dbf");
    fs::resize_file(dir_ + "/t.dbf", size - 1);
    Outcome check = Kdstool("check t.dbf");
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, "warning: the end-of-file marker 0x1A is missing\n");
    EXPECT_EQ(Kdstool("export t.dbf").out, "{\"_recno\": 1, \"A\": \"one\"}\n");
    Outcome repair = Kdstool("check t.dbf --repair");
    EXPECT_EQ(repair.status, 0) << repair.err;
    EXPECT_EQ(fs::file_size(dir_ + "/t.dbf"), size);
    EXPECT_EQ(Read(dir_ + "/t.dbf").back(), '\x1a');
    EXPECT_EQ(Kdstool("check t.dbf").out, "");

    auto samples = xbasesamples::Samples("ntx");
    if (samples.empty()) GTEST_SKIP() << xbasesamples::kMissing;
    int warned = 0;
    for (const auto& sample : samples) {
        Outcome run = Kdstool("check " + sample.table.filename().string() + " --index-file " +
                                  sample.index.filename().string(),
                              sample.table.parent_path().string());
        // Samples shipped without their memo file: check names it, and the test is not about it.
        if (run.out.find(", the memo file of the table, is missing") != std::string::npos) continue;
        EXPECT_EQ(run.status, 0) << sample.table << run.out << run.err;
        if (run.out.find("warning: the end-of-file marker") != std::string::npos) ++warned;
    }
    EXPECT_GT(warned, 0);
}

// Tags other programs write that this engine cannot use (a function it lacks, a collation it does
// not implement; made here by changing our own file's bytes): check names them as not checked and
// still finds the real faults, and neither check --repair nor reindex changes the index file.
TEST_F(KdstoolFolders, CheckAndReindexNameUnusableTagsAndLeaveThemAlone) {
    ASSERT_EQ(Kdstool("create u.dbf --type cdx NAME:char:10 NO:numeric:10 --index BYNAME=NAME "
                      "--index 'BYBIN=STR(NO,10)' --index 'BYGEN=UPPER(NAME)'")
                  .status,
              0);
    Write("in.jsonl", "{\"NAME\": \"SMITH\", \"NO\": 7}\n{\"NAME\": \"JONES\", \"NO\": 3}\n");
    ASSERT_EQ(Kdstool("import u.dbf in.jsonl").status, 0);
    std::string cdx = Read(dir_ + "/u.cdx");
    size_t bin = cdx.find(std::string("STR(NO,10)\0", 11));
    size_t gen = cdx.find(std::string("UPPER(NAME)\0", 12));
    ASSERT_NE(bin, std::string::npos);
    ASSERT_NE(gen, std::string::npos);
    cdx.replace(bin, 10, "BINTOC(NO)");
    cdx.replace(gen - 512 + 494, 7, "GENERAL");  // the collation name in the tag's header
    Write("u.cdx", cdx);

    Outcome check = Kdstool("check u.dbf");
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("warning: tag BYBIN of "), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("BINTOC"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("warning: tag BYGEN of "), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("collation GENERAL is not implemented; it is not checked"),
              std::string::npos)
        << check.out;
    EXPECT_EQ(Kdstool("check u.dbf --repair").status, 0);
    EXPECT_EQ(Read(dir_ + "/u.cdx"), cdx);

    Outcome reindex = Kdstool("reindex u.dbf");
    EXPECT_EQ(reindex.status, 1);
    EXPECT_NE(reindex.err.find("are not built again, and their files are left as they are"),
              std::string::npos)
        << reindex.err;
    EXPECT_NE(reindex.err.find("tag BYBIN"), std::string::npos) << reindex.err;
    EXPECT_EQ(Read(dir_ + "/u.cdx"), cdx);

    // A real fault beside them is still reported, and a repair that would build the tags again
    // is refused, the file left as it is.
    std::string stale = cdx;
    size_t smith = stale.find("SMITH");
    ASSERT_NE(smith, std::string::npos);
    for (; smith != std::string::npos; smith = stale.find("SMITH", smith)) stale[smith] = 'X';
    Write("u.cdx", stale);
    Outcome faulty = Kdstool("check u.dbf");
    EXPECT_EQ(faulty.status, 1);
    EXPECT_NE(faulty.out.find("index BYNAME: record 1 is missing"), std::string::npos)
        << faulty.out;
    EXPECT_EQ(Kdstool("check u.dbf --repair").status, 1);
    EXPECT_EQ(Read(dir_ + "/u.cdx"), stale);
    EXPECT_EQ(Kdstool("export u.dbf --index BYNAME").status, 0);
}

// Check prints every problem whole, however many there are.
TEST_F(KdstoolFolders, CheckPrintsEveryProblemWhole) {
    ASSERT_EQ(Kdstool("create e N:integer --index BYN=N").status, 0);
    std::string lines;
    for (int i = 0; i < 200; ++i) lines += "{\"N\": " + std::to_string(i) + "}\n";
    Write("in.jsonl", lines);
    ASSERT_EQ(Kdstool("import e in.jsonl").status, 0);
    ASSERT_EQ(std::system(("sqlite3 " + dir_ + "/e.kdt 'DELETE FROM kdt_index_BYN'").c_str()), 0);
    Outcome check = Kdstool("check e");
    EXPECT_EQ(check.status, 1);
    std::string expected;
    for (int i = 1; i <= 200; ++i)
        expected += "index BYN: record " + std::to_string(i) + " is missing\n";
    expected += "index BYN: holds 0 keys for 200 records\n";
    EXPECT_EQ(check.out, expected);
    EXPECT_EQ(Kdstool("check e --repair").status, 0);
    EXPECT_EQ(Kdstool("check e").out, "");
}

}  // namespace
