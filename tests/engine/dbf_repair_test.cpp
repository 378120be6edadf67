// The DBF repair module: a plan leaves the files alone, and an install of staged files is all or
// nothing, whichever of its steps fails.
#include "engine/dbf/dbf_repair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "dbf_fixture.h"
#include "engine/kce.h"

namespace {

using dbftest::Column;
using dbftest::DbfBytes;

class DbfRepair : public dbftest::TempDir {
  protected:
    // A table of three records whose header counts five, and whose second record holds a
    // number that cannot be read.
    std::string Damaged() {
        return DbfBytes(0x03, {{"NAME", 'C', 4}, {"PAY", 'N', 6, 2}},
                        {" ann   1.50", " bob  1x.00", "*cid   3.25"}, {.headerCount = 5});
    }
    std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
};

TEST_F(DbfRepair, APlanSaysWhatIsWrongAndChangesNothing) {
    const std::string bytes = Damaged();
    const std::string path = Write("t.dbf", bytes);
    kce::dbf::DbfRepairPlan plan;
    ASSERT_EQ(kce::dbf::PlanDbfRepair(path, &plan), KCE_SUCCESS);
    ASSERT_EQ(plan.findings.size(), 2u);
    EXPECT_EQ(plan.findings[0].text, "the header counts 5 records, the file holds 3");
    EXPECT_EQ(plan.findings[1].text, "record 2, field PAY: the number ' 1x.00' cannot be read");
    EXPECT_EQ(plan.findings[1].fix, "set empty");
    EXPECT_TRUE(plan.Damaged());
    EXPECT_TRUE(plan.dbfChanged);
    EXPECT_EQ(Read("t.dbf"), bytes);
    std::string repaired(plan.dbf.begin(), plan.dbf.end());
    EXPECT_EQ(repaired, DbfBytes(0x03, {{"NAME", 'C', 4}, {"PAY", 'N', 6, 2}},
                                 {" ann   1.50", " bob " + std::string(6, ' '), "*cid   3.25"}));

    Write("r.dbf", repaired);
    ASSERT_EQ(kce::dbf::PlanDbfRepair(PathOf("r.dbf"), &plan), KCE_SUCCESS);
    EXPECT_TRUE(plan.findings.empty());
}

// Every step of an install is made to fail in turn: the originals stay byte for byte as they
// were and no backup is left behind, until the run where no step fails. A file with no original
// (a memo file made anew) takes no backup, and a failing install removes it again.
TEST_F(DbfRepair, AnInstallThatFailsAtAnyStepLeavesTheOriginals) {
    const std::string table = Damaged(), memo(512, 'm'), index(1024, 'i');
    for (bool memoMissing : {false, true}) {
        SCOPED_TRACE(memoMissing ? "memo file made anew" : "every original there");
        int failAt = 1;
        for (;; ++failAt) {
            ASSERT_LT(failAt, 20);
            Write("t.dbf", table);
            std::filesystem::remove(PathOf("t.dbt"));
            if (!memoMissing) Write("t.dbt", memo);
            Write("t.ntx", index);
            std::filesystem::create_directories(PathOf("stage"));
            std::vector<kce::dbf::StagedFile> files;
            for (const char* name : {"t.dbf", "t.dbt", "t.ntx"}) {
                const std::string staged =
                    Write(std::string("stage/") + name, "new " + std::string(name));
                files.push_back({PathOf(name), staged});
            }
            int step = 0;
            std::vector<std::string> backups;
            KCESTATUS s = kce::dbf::InstallStaged(
                files,
                [&](const std::string&) { return ++step == failAt ? KCE_FILE_WRITE_FAILED : 0; },
                &backups);
            if (s == KCE_SUCCESS) break;
            EXPECT_EQ(s, KCE_FILE_WRITE_FAILED);
            EXPECT_EQ(Read("t.dbf"), table) << "failing step " << failAt;
            EXPECT_EQ(std::filesystem::exists(PathOf("t.dbt")), !memoMissing)
                << "failing step " << failAt;
            if (!memoMissing) {
                EXPECT_EQ(Read("t.dbt"), memo) << "failing step " << failAt;
            }
            EXPECT_EQ(Read("t.ntx"), index) << "failing step " << failAt;
            for (const char* name : {"t.dbf.bak", "t.dbt.bak", "t.ntx.bak"}) {
                EXPECT_FALSE(std::filesystem::exists(PathOf(name))) << name << ", step " << failAt;
            }
            std::filesystem::remove_all(PathOf("stage"));
        }
        // The backups, three renames, then none fails.
        EXPECT_EQ(failAt, memoMissing ? 6 : 7);
        EXPECT_EQ(Read("t.dbf"), "new t.dbf");
        EXPECT_EQ(Read("t.dbt"), "new t.dbt");
        EXPECT_EQ(Read("t.dbf.bak"), table);
        EXPECT_EQ(std::filesystem::exists(PathOf("t.dbt.bak")), !memoMissing);
        EXPECT_EQ(Read("t.ntx.bak"), index);
        for (const char* name : {"t.dbf.bak", "t.dbt.bak", "t.ntx.bak"}) {
            std::filesystem::remove(PathOf(name));
        }
        std::filesystem::remove_all(PathOf("stage"));
    }
}

TEST_F(DbfRepair, AnExistingBackupIsNeverReplaced) {
    Write("t.dbf", "original");
    Write("t.dbf.bak", "an earlier original");
    const std::string staged = Write("t.new", "repaired");
    std::vector<std::string> backups;
    EXPECT_NE(kce::dbf::InstallStaged({{PathOf("t.dbf"), staged}}, {}, &backups), KCE_SUCCESS);
    EXPECT_EQ(Read("t.dbf"), "original");
    EXPECT_EQ(Read("t.dbf.bak"), "an earlier original");
}

}  // namespace
