// Master-detail links of TKdsTable on real tables of every kind: a career table follows the
// current record of an employee table through a key range on its leading index segments.
#include <gtest/gtest.h>

#include "dataset/datalink.h"
#include "kds/kdsengine.h"
#include "tests/kds/edit_tables.h"
#include "tests/kds/engine_calls.h"
#include "tests/kds/error_message.h"

namespace kdstest {
namespace {

// DBF field names are at most ten characters: the career table's fields are named by kind.
struct DetailLayout {
    StorageKind kind;
    const char* code;   // the employee code of a career row
    const char* order;  // the detail's index fields
    const char* fields;
};

const DetailLayout kLayouts[] = {
    {kNative, "EMP_CODE", "EMP_CODE;PAY_EFFECTIVE_DATE;ID",
     "EMP_CODE,char,6;PAY_EFFECTIVE_DATE,date;ID,integer"},
    {kCdx, "EMPLOYEECO", "EMPLOYEECO;EFFECTIVED", "EMPLOYEECO,char,6;EFFECTIVED,date;ID,numeric,4"},
    {kNtx, "EMPLOYEECO", "EMPLOYEECO;EFFECTIVED", "EMPLOYEECO,char,6;EFFECTIVED,date;ID,numeric,4"},
};

class MasterDetailTest : public testing::TestWithParam<DetailLayout> {
  protected:
    void SetUp() override {
        const DetailLayout& l = GetParam();
        const std::string date =
            l.kind.tableType == kds::ttKdsKDT ? "PAY_EFFECTIVE_DATE" : "EFFECTIVED";
        MakeTable(folder.Path(), "EMP", l.kind, "EMP_NO,char,6;NAME,char,10",
                  {{{"EMP_NO", "E1"}, {"NAME", "one"}},
                   {{"EMP_NO", "E2"}, {"NAME", "two"}},
                   {{"EMP_NO", "E2"}, {"NAME", "two again"}},
                   {{"EMP_NO", "E9"}, {"NAME", "none"}}});
        std::vector<Row> rows;
        for (auto [emp, day, id] : {std::tuple{"E2", "20200101", "3"},
                                    {"E1", "20190101", "1"},
                                    {"E3", "20180101", "6"},
                                    {"E2", "20190601", "4"},
                                    {"E1", "20200101", "2"},
                                    {"E2", "20210101", "5"}}) {
            rows.push_back({{l.code, emp}, {date, day}, {"ID", id}});
        }
        MakeTable(folder.Path(), "CAREER", l.kind, l.fields, rows, {{"BY_EMP", l.order}});
        master = TableOn(folder.Path(), "EMP", l.kind, "Master");
        detail = TableOn(folder.Path(), "CAREER", l.kind, "Detail");
        if (l.kind.tableType == kds::ttKdsNTX) detail->IndexFiles().Add("BY_EMP.ntx");
        source.SetDataSet(master.get());
        detail->SetIndexFieldNames(l.order);
        detail->SetMasterSource(&source);
        detail->SetMasterFields("EMP_NO");
    }
    std::vector<std::string> Ids() { return Column(*detail, "ID"); }
    std::string Code() { return detail->FieldNamed(GetParam().code).StringValue(); }

    TempFolder folder;
    std::unique_ptr<kds::TKdsTable> master;
    db::TDataSource source;
    std::unique_ptr<kds::TKdsTable> detail;
};

// The detail shows the rows of the master's employee from the moment it opens and follows each
// move of the master to another value; a move to the same value leaves the range and the
// detail's record alone; an employee without rows shows none.
TEST_P(MasterDetailTest, DetailFollowsTheMastersRecord) {
    master->Open();
    detail->Open();
    EXPECT_EQ(Ids(), (std::vector<std::string>{"1", "2"}));

    ResetEngineCalls();
    master->Next();  // E2
    EXPECT_EQ(EngineCalls("KdsSetScope"), 2);
    EXPECT_EQ(Code(), "E2");
    EXPECT_EQ(detail->FieldNamed("ID").StringValue(), "4");
    detail->Next();
    ResetEngineCalls();
    master->Next();  // E2 again
    EXPECT_EQ(EngineCalls("KdsSetScope"), 0);
    EXPECT_EQ(detail->FieldNamed("ID").StringValue(), "3");
    EXPECT_EQ(Ids(), (std::vector<std::string>{"4", "3", "5"}));

    master->Next();  // E9
    EXPECT_TRUE(detail->IsEmpty());
    master->First();
    EXPECT_EQ(Ids(), (std::vector<std::string>{"1", "2"}));

    // Closing the master lets the detail show every row; opening it again restricts again.
    master->Close();
    EXPECT_EQ(Ids().size(), 6u);
    master->Open();
    EXPECT_EQ(Ids(), (std::vector<std::string>{"1", "2"}));
}

// A new detail record starts with the master's employee code, and once posted belongs to the
// master's rows.
TEST_P(MasterDetailTest, NewDetailRecordTakesTheMastersValues) {
    master->Open();
    master->Next();  // E2
    detail->Open();
    detail->Append();
    EXPECT_EQ(Code(), "E2");
    detail->FieldNamed("ID").SetStringValue("7");
    detail->Post();
    EXPECT_EQ(Ids(), (std::vector<std::string>{"7", "4", "3", "5"}));
    master->First();
    EXPECT_EQ(Ids(), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(EngineRecordCount(folder.Path(), "CAREER", GetParam().kind), 7);
}

// Changing the index of an active detail by name keeps following the master on the new order.
TEST_P(MasterDetailTest, IndexNameChangeKeepsTheRange) {
    master->Open();
    master->Next();
    detail->Open();
    detail->SetIndexName("BY_EMP");
    EXPECT_EQ(Ids(), (std::vector<std::string>{"4", "3", "5"}));
    // A provider learns the link: the master's EMP_NO drives the fields of the detail's index.
    std::vector<db::TField*> masters, details;
    detail->DetailLinkFields(masters, details);
    ASSERT_EQ(masters.size(), 1u);
    EXPECT_EQ(masters[0]->FieldName(), "EMP_NO");
    ASSERT_FALSE(details.empty());
    EXPECT_EQ(details[0]->FieldName(), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Kinds, MasterDetailTest, testing::ValuesIn(kLayouts),
                         [](const testing::TestParamInfo<DetailLayout>& info) {
                             return std::string(info.param.kind.name);
                         });

// Links that would close a cycle are refused and leave the link as it was; removing the master
// source clears the master fields; an empty field list never restricts the detail.
TEST(MasterLinks, CyclesRefusedAndNoneClearsFields) {
    TempFolder folder;
    MakeTable(folder.Path(), "A", kNative, "EMP_NO,char,6",
              {{{"EMP_NO", "E1"}}, {{"EMP_NO", "E2"}}}, {{"BY_NO", "EMP_NO"}});
    auto a = TableOn(folder.Path(), "A", kNative, "A");
    auto b = TableOn(folder.Path(), "A", kNative, "B");
    db::TDataSource sa, sb;
    sa.SetDataSet(a.get());
    sb.SetDataSet(b.get());
    b->SetMasterSource(&sa);
    EXPECT_EQ(Message([&] { a->SetMasterSource(&sb); }), "A: Circular Data Link");
    EXPECT_EQ(a->MasterSource(), nullptr);
    EXPECT_EQ(Message([&] { b->SetMasterSource(&sb); }), "B: Circular Data Link");
    EXPECT_EQ(b->MasterSource(), &sa);

    b->SetIndexFieldNames("EMP_NO");
    a->Open();
    b->Open();
    EXPECT_EQ(Column(*b, "EMP_NO").size(), 2u);
    b->SetMasterFields("EMP_NO");
    EXPECT_EQ(Column(*b, "EMP_NO"), (std::vector<std::string>{"E1"}));
    b->SetMasterSource(nullptr);
    EXPECT_EQ(b->MasterFields(), "");
    EXPECT_EQ(Column(*b, "EMP_NO").size(), 2u);
}

}  // namespace
}  // namespace kdstest
