// Index orders, key searches and ranges of TKdsTable on DBF tables, whose indexes live in real
// .cdx and .ntx files: the career table's order "EMPLOYEECO;EFFECTIVED" stored as the xBase key
// EMPLOYEECO+DTOS(EFFECTIVED).
#include <gtest/gtest.h>

#include "kds/kdsengine.h"
#include "tests/kds/edit_tables.h"

namespace kdstest {
namespace {

class XbaseCareerTest : public testing::TestWithParam<StorageKind> {
  protected:
    void SetUp() override {
        MakeTable(folder.Path(), "TBLCAREE", GetParam(),
                  "EMPLOYEECO,char,6;EFFECTIVED,date;ID,numeric,4",
                  CareerRows("EMPLOYEECO", "EFFECTIVED", "ID"),
                  {{"BY_EMP", "EMPLOYEECO;EFFECTIVED"}, {"BY_ID", "ID"}});
        table = TableOn(folder.Path(), "TBLCAREE", GetParam());
        if (GetParam().tableType == kds::ttKdsNTX) {
            // An NTX table's indexes are files of their own, opened with it by name.
            table->IndexFiles().Add("BY_EMP.ntx");
            table->IndexFiles().Add("BY_ID.ntx");
        }
    }

    TempFolder folder;
    std::unique_ptr<kds::TKdsTable> table;
};

// The field list picks the index, walks in its key order, and seeks and ranges work on its
// leading field and on both.
TEST_P(XbaseCareerTest, FieldListOrderSeeksAndRanges) {
    table->SetIndexFieldNames("EMPLOYEECO;EFFECTIVED");
    table->Open();
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"1", "2", "4", "3", "5", "6"}));

    table->First();
    EXPECT_TRUE(table->SeekKey({"E2", "06/01/2019"}));
    EXPECT_EQ(table->FieldNamed("ID").StringValue(), "4");
    EXPECT_TRUE(table->SeekKey({"E3"}));
    EXPECT_EQ(table->FieldNamed("ID").StringValue(), "6");
    // A failed seek leaves the record shown before.
    EXPECT_FALSE(table->SeekKey({"E9"}));
    EXPECT_EQ(table->FieldNamed("ID").StringValue(), "6");

    table->SetKeyRange({"E2"}, {"E2"});
    EXPECT_EQ(table->FieldNamed("ID").StringValue(), "4");
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"4", "3", "5"}));
    table->CancelKeyRange();
    EXPECT_EQ(Column(*table, "ID").size(), 6u);

    table->SetIndexName("BY_ID");
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

// Records posted through the dataset take their place in every index of the table.
TEST_P(XbaseCareerTest, PostedRecordsKeepEveryIndexRight) {
    table->SetIndexName("BY_EMP");
    table->Open();
    table->Append();
    table->FieldNamed("EMPLOYEECO").SetStringValue("E1");
    table->FieldNamed("EFFECTIVED").SetStringValue("01/01/2018");
    table->FieldNamed("ID").SetStringValue("7");
    table->Post();
    EXPECT_TRUE(table->SeekKey({"E2", "01/01/2021"}));
    table->Edit();
    table->FieldNamed("EMPLOYEECO").SetStringValue("E0");
    table->Post();
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"5", "7", "1", "2", "4", "3", "6"}));
    table->SetIndexName("BY_ID");
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7"}));
}

INSTANTIATE_TEST_SUITE_P(XbaseKinds, XbaseCareerTest, testing::Values(kCdx, kNtx), KindName);

// An NTX index is named by its file, whose name may be longer than any name the engine gives a
// native index or a CDX tag: the index definitions list it, and dropping the file by that name
// closes it.
TEST(XbaseIndexFiles, NtxIndexNamedByALongFileName) {
    TempFolder folder;
    const std::string stem = "BY_ID_" + std::string(194, 'N');
    MakeTable(folder.Path(), "TBLCAREE", kNtx, "ID,numeric,4", {{{"ID", "2"}}, {{"ID", "1"}}},
              {{"BY_ID", "ID", 0, stem + ".ntx"}});
    std::unique_ptr<kds::TKdsTable> table = TableOn(folder.Path(), "TBLCAREE", kNtx);
    table->IndexFiles().Add(stem + ".ntx");
    table->Open();
    table->IndexDefs().Update();
    ASSERT_EQ(table->IndexDefs().Count(), 1);
    EXPECT_EQ(table->IndexDefs()[0].Name(), stem);

    table->SetIndexName(stem);
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"1", "2"}));
    table->DropIndexFile(stem + ".ntx");
    EXPECT_EQ(table->IndexName(), "");
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"2", "1"}));
}

}  // namespace
}  // namespace kdstest
