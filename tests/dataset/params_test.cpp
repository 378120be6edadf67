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

// The stored form gives back every parameter as it was: name, data type, parameter type, null and
// bound flags and the value with its variant kind (dates and times keep their fractions); a form
// cut anywhere, or of another kind, raises and leaves the collection alone.
TEST(Params, StoredFormRestoresEveryKindOfValue) {
    db::TParams params;
    params.Add("S").SetAsString("text");
    params.Add("M").SetAsMemo(std::string("memo\0with nul", 13));
    params.Add("BL").SetAsBlob(std::string("\x00\xff\x10", 3));
    params.Add("SI").SetAsSmallInt(-32768);
    params.Add("W").SetAsWord(65535);
    params.Add("I").SetAsInteger(-2147483647 - 1);
    params.Add("B").SetAsBoolean(true);
    params.Add("F").SetAsFloat(-1.0 / 3);
    params.Add("C").SetAsCurrency(1234.5678);
    params.Add("BCD").SetAsBCD(rtl::Currency{-922337203685477});
    params.Add("D").SetAsDate(2.0);  // 1900-01-01
    params.Add("T", db::ftUnknown, db::ptInput).SetAsTime(0.5 + 1.0 / 86400000);
    params.Add("DT").SetAsDateTime(-36522.25);
    params.Add("BY").SetValue(rtl::Variant(std::vector<uint8_t>{1, 0, 2}));
    params.Add("I64").SetValue(rtl::Variant(int64_t(1) << 40));
    params.Add("NUL", db::ftDate, db::ptOutput);  // typed, null, unbound
    params.Add("NV").SetValue(rtl::Variant::Null());
    params.Add("UNKNOWN");
    params.Add("s");  // shares the first one's value
    params[1].SetBound(false);

    rtl::TMemoryStream stream;
    params.WriteData(stream);
    stream.SetPosition(0);
    db::TParams back;
    back.Add("GONE");
    back.ReadData(stream);
    ASSERT_EQ(back.Count(), params.Count());
    EXPECT_TRUE(back.IsEqual(params));
    for (int i = 0; i < params.Count(); ++i) {
        SCOPED_TRACE(params[i].Name());
        EXPECT_EQ(back[i].Value().VarType(), params[i].Value().VarType());
        EXPECT_EQ(back[i].AsString(), params[i].AsString());
    }
    EXPECT_EQ(back.ParamByName("T").ParamType(), db::ptInput);
    EXPECT_EQ(back.ParamByName("T").AsDateTime(), 0.5 + 1.0 / 86400000);
    EXPECT_EQ(back.ParamByName("NUL").DataType(), db::ftDate);
    EXPECT_TRUE(back.ParamByName("NUL").IsNull());
    EXPECT_FALSE(back.ParamByName("M").Bound());
    back[0].SetAsString("both");
    EXPECT_EQ(back[params.Count() - 1].AsString(), "both");

    // Every cut of the form, and a form of another kind, raise; the collection stays as it was.
    const std::string whole = stream.Data();
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        rtl::TStringStream part(whole.substr(0, cut));
        db::TParams kept;
        kept.Add("KEPT");
        EXPECT_THROW(kept.ReadData(part), rtl::EReadError) << cut;
        ASSERT_EQ(kept.Count(), 1);
        EXPECT_EQ(kept[0].Name(), "KEPT");
    }
    std::string other = whole;
    other[0] = 'X';
    rtl::TStringStream wrong(other);
    EXPECT_THROW(back.ReadData(wrong), rtl::EReadError);
    // A name whose length runs past the end is refused before anything is allocated for it.
    std::string huge = whole.substr(0, 9) + std::string("\xff\xff\xff\x7f", 4);
    rtl::TStringStream longName(huge);
    EXPECT_THROW(back.ReadData(longName), rtl::EReadError);
    EXPECT_EQ(back.Count(), params.Count());
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
