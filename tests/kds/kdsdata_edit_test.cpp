// Editing and posting through TKdsTable on real tables of every storage kind: record locks, the
// append-once rule of a retried Post, Cancel and Delete positioning, old values, and an edit that
// starts from what another process has just stored.
#include <gtest/gtest.h>

#include "dataset/db_errors.h"
#include "kds/kdsengine.h"
#include "tests/kds/edit_tables.h"
#include "tests/kds/engine_calls.h"
#include "tests/support/processes.h"

namespace kdstest {
namespace {

const char* kFields = "EMP_NO,char,6;NAME,char,20;SALARY,numeric,10,2";

std::vector<Row> ThreeEmployees() {
    return {{{"EMP_NO", "E1"}, {"NAME", "ADAMS"}, {"SALARY", "100.5"}},
            {{"EMP_NO", "E2"}, {"NAME", "BAKER"}, {"SALARY", "200"}},
            {{"EMP_NO", "E3"}, {"NAME", "CLARK"}, {"SALARY", "300"}}};
}

class EditTest : public testing::TestWithParam<StorageKind> {
  protected:
    void SetUp() override {
        MakeTable(folder.Path(), "EMP", GetParam(), kFields, ThreeEmployees());
        table = TableOn(folder.Path(), "EMP", GetParam());
    }

    // Whether a second engine handle on the table can lock the record now (and leaves it
    // unlocked again).
    bool OtherHandleCanLock(UNSIGNED32 record) {
        KDSHANDLE connection = 0, other = 0;
        EXPECT_EQ(KdsConnect(U(folder.Path()), &connection), 0u);
        EXPECT_EQ(
            KdsOpenTable(connection, U("EMP"), nullptr, GetParam().engineType, 1, 1, 1, 0, &other),
            0u);
        bool locked = KdsLockRecord(other, record) == KCE_SUCCESS;
        KdsCloseTable(other);
        KdsDisconnect(connection);
        return locked;
    }

    TempFolder folder;
    std::unique_ptr<kds::TKdsTable> table;
};

// Edit takes exactly one lock on a shared table and Post or Cancel releases it; an exclusive
// table takes none. The lock is seen by another handle while the edit lasts.
TEST_P(EditTest, LocksOnlySharedTablesAndReleasesAtPostOrCancel) {
    struct Case {
        bool exclusive;
        bool post;
        int locks, unlocks;
    };
    for (Case c : {Case{false, true, 1, 1}, Case{false, false, 1, 1}, Case{true, true, 0, 0},
                   Case{true, false, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << "exclusive " << c.exclusive << " post " << c.post);
        table->SetExclusive(c.exclusive);
        table->Open();
        table->Next();  // record 2
        std::string stored = table->FieldNamed("NAME").StringValue();
        ResetEngineCalls();
        table->Edit();
        EXPECT_EQ(EngineCalls("KdsLockRecord"), c.locks);
        table->FieldNamed("NAME").SetStringValue(stored + "X");
        if (!c.exclusive) {
            int before = EngineCalls("KdsLockRecord");
            EXPECT_FALSE(OtherHandleCanLock(2));
            ResetEngineCalls();
            EXPECT_EQ(before, 1);
        }
        if (c.post) {
            table->Post();
        } else {
            table->Cancel();
        }
        EXPECT_EQ(EngineCalls("KdsLockRecord"), 0);
        EXPECT_EQ(EngineCalls("KdsUnlockRecord"), c.unlocks);
        EXPECT_EQ(table->FieldNamed("NAME").StringValue(), c.post ? stored + "X" : stored);
        table->Close();
        if (!c.exclusive) {
            EXPECT_TRUE(OtherHandleCanLock(2));
        }
    }
}

// Post rewrites every field from the image read at Edit time plus the changes; the old values
// are those of the record when Edit began.
TEST_P(EditTest, PostWritesTheEditedImageAndOldValuesAreThoseAtEdit) {
    table->Open();
    table->Edit();
    table->FieldNamed("SALARY").SetFloatValue(150.25);
    EXPECT_EQ(table->FieldValueInState(db::DataSetState::OldValue, table->FieldNamed("SALARY"))
                  .AsDouble(),
              100.5);
    table->Post();
    table->Edit();
    table->FieldNamed("NAME").SetStringValue("ALLEN");
    // The old value is that of the stored record now, not of the edit before.
    EXPECT_EQ(table->FieldValueInState(db::DataSetState::OldValue, table->FieldNamed("SALARY"))
                  .AsDouble(),
              150.25);
    table->Post();
    table->Close();
    table->Open();
    EXPECT_EQ(Column(*table, "NAME"), (std::vector<std::string>{"ALLEN", "BAKER", "CLARK"}));
    EXPECT_EQ(Column(*table, "SALARY"), (std::vector<std::string>{"150.25", "200", "300"}));
}

// Cancel after Append stands at the end; Cancel after Insert in the middle returns to the
// record that was active before; neither leaves anything in the table.
TEST_P(EditTest, CancelOfANewRecordReturnsWhereItStarted) {
    table->Open();
    table->Next();
    table->Insert();
    table->FieldNamed("EMP_NO").SetStringValue("NEW");
    table->Cancel();
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E2");
    table->Append();
    table->FieldNamed("EMP_NO").SetStringValue("NEW");
    table->Cancel();
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E3");
    EXPECT_EQ(Column(*table, "EMP_NO"), (std::vector<std::string>{"E1", "E2", "E3"}));
}

// Deleting the last record (deleted records hidden) shows the one before; deleting the rest
// leaves an empty dataset.
TEST_P(EditTest, DeleteMovesPastTheDeletedRecord) {
    UNSIGNED16 shown = 0;
    ASSERT_EQ(KdsGetDeleted(&shown), 0u);
    ASSERT_EQ(KdsShowDeleted(0), 0u);
    table->Open();
    table->Last();
    table->Delete();
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E2");
    table->First();
    table->Delete();
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E2");
    table->Delete();
    EXPECT_TRUE(table->AtEOF() && table->AtBOF());
    KdsShowDeleted(shown);
}

// Another process changes a record this table has read; Edit locks and reads it again, so the
// Post of another field keeps the other process's change (no lost update).
TEST_P(EditTest, EditStartsFromWhatAnotherProcessJustStored) {
    table->Open();
    EXPECT_EQ(table->FieldNamed("SALARY").StringValue(), "100.5");
    testsupport::Result other =
        testsupport::RunProgram({KCE_HELPER, "set", folder.Path(), "EMP",
                                 std::to_string(GetParam().engineType), "1", "SALARY", "777"});
    ASSERT_EQ(other.out, "0\n") << other.err;
    table->Edit();
    EXPECT_EQ(table->FieldNamed("SALARY").StringValue(), "777");
    table->FieldNamed("NAME").SetStringValue("ADAMSON");
    table->Post();
    table->Close();
    table->Open();
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "ADAMSON");
    EXPECT_EQ(table->FieldNamed("SALARY").StringValue(), "777");
}

INSTANTIATE_TEST_SUITE_P(Kinds, EditTest, testing::Values(kNative, kCdx, kNtx), KindName);

// A Post refused by the engine after the record was appended (a duplicate key of a unique index)
// keeps the dataset in Insert with the values set. A retried Post writes into the record
// appended before (one append in all); a Cancel instead leaves the table as it was. Unique
// indexes of DBF tables come with their CDX and NTX index files; this runs on native tables.
TEST(EditDuplicateKey, RefusedPostStaysInInsertAndRetryOrCancelKeepTheTableRight) {
    TempFolder folder;
    MakeTable(folder.Path(), "EMP", kNative, kFields, ThreeEmployees(),
              {{"BY_NO", "EMP_NO", KCE_INDEX_UNIQUE}});
    for (bool retry : {true, false}) {
        SCOPED_TRACE(retry ? "retry" : "cancel");
        auto table = TableOn(folder.Path(), "EMP", kNative);
        table->Open();
        ResetEngineCalls();
        table->Append();
        table->FieldNamed("EMP_NO").SetStringValue("E2");
        table->FieldNamed("NAME").SetStringValue("DUPLICATE");
        try {
            table->Post();
            FAIL() << "a duplicate key was posted";
        } catch (const kds::EKDSDatabaseError& e) {
            EXPECT_EQ(e.ErrorCode(), KCE_DUPLICATE_KEY);
            EXPECT_EQ(std::string(e.what()).rfind("KdsTable1: ", 0), 0u) << e.what();
        }
        EXPECT_EQ(table->State(), db::DataSetState::Insert);
        EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E2");
        EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "DUPLICATE");
        if (retry) {
            table->FieldNamed("EMP_NO").SetStringValue("E4");
            table->Post();
            EXPECT_EQ(table->State(), db::DataSetState::Browse);
            EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "DUPLICATE");
            EXPECT_EQ(EngineCalls("KdsAppendRecord"), 1);
            EXPECT_EQ(Column(*table, "EMP_NO"), (std::vector<std::string>{"E1", "E2", "E3", "E4"}));
        } else {
            table->Cancel();
            EXPECT_EQ(table->State(), db::DataSetState::Browse);
            EXPECT_EQ(Column(*table, "EMP_NO"), (std::vector<std::string>{"E1", "E2", "E3", "E4"}));
        }
        table->Close();
    }
    EXPECT_EQ(EngineRecordCount(folder.Path(), "EMP", kNative), 4);
}

// An autoincrement field belongs to the engine: a value assigned to it in a new record is not
// sent, and LastAutoIncValue answers what the engine gave. (NTX tables have no such field.)
TEST(EditAutoInc, TheEngineNumbersNewRecords) {
    for (const StorageKind& kind : {kNative, kCdx}) {
        SCOPED_TRACE(kind.name);
        TempFolder folder;
        MakeTable(folder.Path(), "SEQ", kind, "ID,autoinc;NAME,char,10", {{{"NAME", "FIRST"}}});
        auto table = TableOn(folder.Path(), "SEQ", kind);
        table->Open();
        table->Append();
        table->FieldNamed("ID").SetIntegerValue(99);
        table->FieldNamed("NAME").SetStringValue("SECOND");
        table->Post();
        EXPECT_EQ(table->LastAutoIncValue(), 2);
        // DBF tables read their autoincrement fields as empty; native ones show the number.
        if (kind.tableType == kds::ttKdsKDT) {
            EXPECT_EQ(table->FieldNamed("ID").IntegerValue(), 2);
        }
    }
}

}  // namespace
}  // namespace kdstest
