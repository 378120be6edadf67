// Statement parameters and the master link.
#include "dataset/params.h"

#include <gtest/gtest.h>

#include "dataset/datalink.h"
#include "dataset/db_errors.h"
#include "support/dataset_support.h"

namespace dstest {
namespace {

std::vector<std::string> Names(const db::TParams& params) {
    std::vector<std::string> names;
    for (int i = 0; i < params.Count(); ++i) names.push_back(params[i].Name());
    return names;
}

TEST(Params, StatementTextLosesItsParameterNames) {
    struct Case {
        std::string text;
        std::string rewritten;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"SELECT * FROM T WHERE A = :X and B = :Y",
         "SELECT * FROM T WHERE A = ? and B = ?",
         {"X", "Y"}},
        {"WHERE ID = :ID OR PARENT = :id", "WHERE ID = ? OR PARENT = ?", {"ID", "id"}},
        {"SELECT 'a:b', \"c:d\" FROM T", "SELECT 'a:b', \"c:d\" FROM T", {}},
        {"SELECT a::b FROM T", "SELECT a:b FROM T", {}},
        {"INSERT INTO T VALUES(:A,:B);", "INSERT INTO T VALUES(?,?);", {"A", "B"}},
        {"WHERE N = :\"long name\" AND M = :'x y'", "WHERE N = ? AND M = ?", {"long name", "x y"}},
        {"WHERE A = :A\nAND B=:B\r\n", "WHERE A = ?\nAND B=?\r\n", {"A", "B"}},
        {"SELECT `c:d`, :P FROM T", "SELECT `c:d`, ? FROM T", {"P"}},
    };
    for (const Case& c : cases) {
        db::TParams params;
        params.Add("OLD");
        EXPECT_EQ(params.ParseStatementText(c.text, true), c.rewritten) << c.text;
        EXPECT_EQ(Names(params), c.names) << c.text;
        // Without create the collection is left alone.
        db::TParams kept;
        kept.Add("OLD");
        EXPECT_EQ(kept.ParseStatementText(c.text, false), c.rewritten);
        EXPECT_EQ(Names(kept), std::vector<std::string>{"OLD"});
    }
}

TEST(Params, ARepeatedNameSharesOneValue) {
    db::TParams params;
    params.ParseStatementText("WHERE A = :ID OR B = :id", true);
    ASSERT_EQ(params.Count(), 2);
    params[1].SetAsInteger(7);
    EXPECT_EQ(params[0].AsInteger(), 7);
    EXPECT_EQ(params[0].DataType(), db::ftInteger);
    EXPECT_TRUE(params[0].Bound());
    params[0].Clear();
    EXPECT_TRUE(params[1].IsNull());
}

TEST(Params, ValuesReadByKindAndTypeFollowsTheFirstValue) {
    db::TParams params;
    db::TParam& p = params.Add("P");
    EXPECT_TRUE(p.IsNull());
    EXPECT_EQ(p.AsString(), "");
    EXPECT_EQ(p.AsInteger(), 0);
    p.SetValue(rtl::Variant(2.5));
    EXPECT_EQ(p.DataType(), db::ftFloat);
    EXPECT_EQ(p.AsString(), "2.5");
    p.SetValue(rtl::Variant("text"));  // the type stays once known
    EXPECT_EQ(p.DataType(), db::ftFloat);
    p.SetAsBoolean(true);
    EXPECT_EQ(p.AsString(), "True");
    p.SetDataType(db::ftString);
    EXPECT_TRUE(p.IsNull());
    p.SetValue(rtl::Variant());
    EXPECT_FALSE(p.Bound());
    try {
        params.ParamByName("Q");
        FAIL();
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Parameter 'Q' not found");
    }
}

TEST(Params, NativeDataByType) {
    auto ds = People(0);
    db::TParams params(ds.get());
    db::TParam& p = params.Add("P");
    try {
        p.NativeData();
        FAIL();
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "People: Field 'P' is of an unknown type");
    }
    p.SetAsString("ab");
    EXPECT_EQ(p.NativeData(), std::string("ab\0", 3));
    p.SetAsSmallInt(-2);
    EXPECT_EQ(p.NativeData(), std::string("\xfe\xff", 2));
    p.SetAsBoolean(true);
    EXPECT_EQ(p.NativeData(), std::string("\x01\x00", 2));
    p.SetAsDate(0);  // 30 December 1899 is day 693594 counted from 1 January of year 1
    EXPECT_EQ(p.NativeData(), NativeInt(693594));
    p.SetAsBlob(std::string("x\0y", 3));
    EXPECT_EQ(p.NativeData(), std::string("x\0y", 3));
    p.SetDataType(db::ftLargeint);
    try {
        p.NativeData();
        FAIL();
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "People: Field 'P' is of an unsupported type");
    }
}

TEST(Params, AssignmentAndEquality) {
    auto ds = People(1);
    ds->Open();
    db::TParams a, b;
    a.Add("ID").AssignField(ds->FieldNamed("ID"));
    EXPECT_EQ(a[0].DataType(), db::ftInteger);
    EXPECT_EQ(a[0].AsInteger(), 1);
    b.Add("id", db::ftUnknown, db::ptUnknown);
    b.Add("OTHER");
    a[0].SetParamType(db::ptInput);
    b.AssignValues(a);
    EXPECT_EQ(b[0].AsInteger(), 1);
    EXPECT_EQ(b[0].Name(), "ID");
    EXPECT_EQ(b[0].ParamType(), db::ptInput);
    EXPECT_FALSE(a.IsEqual(b));
    b.Clear();
    b.Add("ID").AssignParam(a[0]);
    EXPECT_TRUE(a.IsEqual(b));
}

// A detail that records what its master link asks of it.
struct MasterLinkFixture {
    std::unique_ptr<TMemoryDataSet> master = People(3, "Master");
    std::unique_ptr<TMemoryDataSet> detail = People(1, "Detail");
    db::TDataSource source;
    db::TMasterDataLink link{detail.get()};
    std::vector<std::string> calls;
    MasterLinkFixture() {
        link.SetOnMasterChange(
            [this] { calls.push_back("change " + master->FieldNamed("ID").StringValue()); });
        link.SetOnMasterDisable([this] { calls.push_back("disable"); });
        source.SetDataSet(master.get());
    }
};

TEST(MasterLink, FollowsTheMasterRecordThroughItsFields) {
    MasterLinkFixture f;
    f.detail->Open();
    f.link.SetFieldNames("id");  // not attached yet: disabled
    f.link.SetDataSource(&f.source);
    f.master->Open();
    f.master->Next();
    f.master->Edit();                                  // the record change of Edit
    f.master->FieldNamed("NAME").SetStringValue("x");  // not a link field
    f.master->FieldNamed("ID").SetIntegerValue(9);
    f.master->Cancel();
    f.master->Close();
    EXPECT_EQ(f.calls, (std::vector<std::string>{"disable", "change 1", "change 2", "change 2",
                                                 "change 9", "change 2", "disable"}));
}

TEST(MasterLink, EmptyFieldNamesOnlyDisable) {
    MasterLinkFixture f;
    f.detail->Open();
    f.link.SetDataSource(&f.source);
    f.master->Open();
    f.master->Next();
    EXPECT_EQ(f.calls, std::vector<std::string>{"disable"});
}

TEST(MasterLink, MissingMasterFieldRaisesWithTheMastersPrefix) {
    MasterLinkFixture f;
    f.detail->Open();
    f.link.SetDataSource(&f.source);
    f.master->Open();
    try {
        f.link.SetFieldNames("ID;NOPE");
        FAIL();
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Master: Field 'NOPE' not found");
    }
    EXPECT_TRUE(f.link.Fields().empty());
}

}  // namespace
}  // namespace dstest
