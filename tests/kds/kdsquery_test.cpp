// TKdsQuery on real tables: statements run by the engine over the native and DBF tables of a
// folder, their parameters (also from a master), the read-only result, and the engine's errors.
#include "kds/kdsquery.h"

#include <gtest/gtest.h>

#include "kds/kdscnnct.h"
#include "kds_fixture.h"
#include "tests/kds/error_message.h"

namespace {

using kdstest::kCdx;
using kdstest::kKdt;
using kdstest::Message;

template <typename Body>
kds::EKDSDatabaseError ErrorOf(Body body) {
    try {
        body();
    } catch (const kds::EKDSDatabaseError& e) {
        return e;
    }
    ADD_FAILURE() << "no error";
    return kds::EKDSDatabaseError(nullptr, "(no error)", 0);
}

class KdsQueryTest : public kdstest::KdsTest, public testing::WithParamInterface<kdstest::Storage> {
  protected:
    void SetUp() override {
        kdstest::KdsTest::SetUp();
        MakeTable("EMP", GetParam(), "EMP_NO,char,6;NAME,char,10;WAGE,numeric,8,2",
                  {{"E1", "one", "100"}, {"E2", "two", "250.5"}, {"E3", "three", "75"}});
        MakeTable("CAREER", GetParam(), "EMPLOYEECO,char,6;ID,integer",
                  {{"E2", "1"}, {"E1", "2"}, {"E2", "3"}});
    }
    kds::TKdsQuery* NewQuery(const std::string& text, const std::string& name = "Query1") {
        auto* query = new kds::TKdsQuery(&Owner());
        query->SetName(name);
        query->SetDatabaseName(Dir());
        query->SetSourceTableType(GetParam().TableType);
        query->SQL().SetText(text);
        return query;
    }
    static std::string Rows(kds::TKdsQuery& q) {
        std::string out;
        for (q.First(); !q.AtEOF(); q.Next()) {
            if (!out.empty()) out += " ";
            for (int i = 0; i < q.NumFields(); ++i) {
                out += (i ? "|" : "") + q.Fields().At(i).StringValue();
            }
        }
        return out;
    }
};

// A join with a parameter opens as a read-only dataset whose fields are the statement's columns;
// the result has no row count, and editing it is refused.
TEST_P(KdsQueryTest, SelectOpensAReadOnlyResult) {
    kds::TKdsQuery* q = NewQuery(
        "SELECT e.EMP_NO, c.ID, e.WAGE FROM EMP e JOIN CAREER c ON c.EMPLOYEECO = e.EMP_NO\r\n"
        "WHERE e.WAGE > :MIN ORDER BY c.ID");
    ASSERT_EQ(q->Params().Count(), 1);
    q->Params().ParamByName("MIN").SetAsFloat(80);
    q->Open();
    EXPECT_EQ(Rows(*q), "E2|1|250.5 E1|2|100 E2|3|250.5");
    EXPECT_EQ(q->FieldNamed("EMP_NO").DataType(), db::ftString);
    EXPECT_TRUE(q->ReadOnly());
    EXPECT_FALSE(q->IsModifiable());
    EXPECT_EQ(q->RowsAffected(), -1);
    EXPECT_TRUE(q->Prepared());
    EXPECT_THROW(q->Edit(), std::exception);

    // Closing keeps the statement; running again with a new value prepares it again.
    KDSHANDLE statement = q->StatementHandle();
    q->Close();
    EXPECT_FALSE(q->Prepared());
    q->Params().ParamByName("MIN").SetAsFloat(200);
    q->Open();
    EXPECT_EQ(q->StatementHandle(), statement);
    EXPECT_EQ(Rows(*q), "E2|1|250.5 E2|3|250.5");
    // A live result asked for on a read-only connection is read-only too; the engine gives
    // static results, so a live one is refused nowhere but reads read-only as well.
    q->Close();
    q->SetRequestLive(true);
    q->Open();
    EXPECT_TRUE(q->ReadOnly());
    q->Close();
}

// Open refuses a statement without a result; ExecSQL runs it and counts the rows; a new text
// makes the query list its parameters again, keeping the values of names that stay.
TEST_P(KdsQueryTest, ExecSqlChangesRowsAndCountsThem) {
    kds::TKdsQuery* q = NewQuery("UPDATE EMP SET WAGE = WAGE + :RISE WHERE EMP_NO <> :NO");
    q->Params().ParamByName("RISE").SetAsInteger(10);
    q->Params().ParamByName("NO").SetAsString("E2");
    {
        kds::EKDSDatabaseError e = ErrorOf([&] { q->Open(); });
        EXPECT_EQ(e.ErrorCode(), 5121);
        EXPECT_EQ(std::string(e.what()),
                  "Query1: The SQL statement did not generate a cursor handle.  Use "
                  "TKdsQuery.ExecSQL to execute SQL statements that are not SELECT statements");
    }
    EXPECT_FALSE(q->Active());
    q->ExecSQL();
    EXPECT_EQ(q->RowsAffected(), 2);

    rtl::TStringList same;
    same.SetText(q->SQL().Text());
    q->SetSQL(same);
    EXPECT_EQ(q->Params().ParamByName("RISE").AsInteger(), 10);
    q->SQL().SetText("SELECT EMP_NO, WAGE FROM EMP WHERE EMP_NO = :NO OR WAGE = :RISE");
    ASSERT_EQ(q->Params().Count(), 2);
    EXPECT_EQ(q->Params()[0].Name(), "NO");
    EXPECT_EQ(q->Params()[0].AsString(), "E2");
    EXPECT_EQ(q->Params()[1].AsInteger(), 10);
    q->Params()[1].SetAsInteger(95);
    q->Open();
    // The statement ran in the refused Open as well as in ExecSQL: E3 went from 75 to 95.
    EXPECT_EQ(Rows(*q), "E2|250.5 E3|95");
    // A new text closes the open query.
    q->SQL().SetText("SELECT COUNT(*) AS N FROM EMP");
    EXPECT_FALSE(q->Active());
    EXPECT_EQ(q->Params().Count(), 0);
}

// Errors come back with the engine's code and SQLite's text; a text that cannot be prepared lets
// the statement go; parameters of no type and options the engine refuses are reported.
TEST_P(KdsQueryTest, ErrorsCarryTheEnginesCodeAndText) {
    kds::TKdsQuery* q = NewQuery("SELECT NOPE FROM EMP");
    {
        kds::EKDSDatabaseError e = ErrorOf([&] { q->Open(); });
        EXPECT_EQ(e.ErrorCode(), 7209);
        EXPECT_NE(std::string(e.what()).find("no such column: NOPE"), std::string::npos)
            << e.what();
        EXPECT_EQ(q->StatementHandle(), kds::kNoKdsHandle);
    }

    q->SQL().SetText("DELETE FROM EMP WHERE EMP_NO = :ID");
    // An unassigned parameter is bound as NULL; one whose value has no field type is refused.
    q->ExecSQL();
    EXPECT_EQ(q->RowsAffected(), 0);
    q->Params()[0].SetValue(rtl::Variant(std::vector<uint8_t>{1}));
    EXPECT_EQ(Message([&] { q->ExecSQL(); }),
              "Query1: The field named: 'ID' has the DataType of ftUnknown, which is invalid.");

    q->Params()[0].SetAsString("E1");
    q->SetConstrained(true);
    EXPECT_NE(ErrorOf([&] { q->ExecSQL(); }).ErrorCode(), 0);
    q->SetConstrained(false);
    q->ExecSQL();
    EXPECT_EQ(q->RowsAffected(), 1);

    q->SQL().SetText("SELECT * FROM EMP");
    q->Open();
    EXPECT_EQ(Message([&] { q->ReleaseStatement(); }),
              "Query1: Cannot perform this operation on an open dataset");
    q->Close();
    q->ReleaseStatement();
    EXPECT_EQ(q->StatementHandle(), kds::kNoKdsHandle);
    q->Open();
    EXPECT_TRUE(q->Active());
    q->Close();

    auto* bare = new kds::TKdsQuery(&Owner());
    bare->SetName("Bare");
    bare->SQL().SetText("SELECT 1");
    EXPECT_EQ(Message([&] { bare->Open(); }),
              "Bare: The DatabaseName property has not been assigned a value.");
}

// Unbound parameters take the values of the master's fields of the same names, and each move of
// the master runs the query again.
TEST_P(KdsQueryTest, ParametersFollowAMaster) {
    kds::TKdsTable* master = NewTable("Master", "EMP", GetParam());
    db::TDataSource source;
    source.SetDataSet(master);
    kds::TKdsQuery* q = NewQuery("SELECT ID FROM CAREER WHERE EMPLOYEECO = :EMP_NO ORDER BY ID");
    q->SetDataSource(&source);
    EXPECT_EQ(Message([&] { master->SetMasterSource(q->DataSource()); }),
              "Master: Circular Data Link");
    master->Open();
    q->Open();
    EXPECT_EQ(Rows(*q), "2");
    master->Next();
    EXPECT_EQ(Rows(*q), "1 3");
    master->Next();
    EXPECT_TRUE(q->IsEmpty());
    // A bound parameter keeps its own value.
    q->Close();
    q->Params()[0].SetAsString("E2");
    q->Open();
    master->First();
    EXPECT_EQ(Rows(*q), "1 3");
    q->Close();
    master->Close();
}

// Parameters of every kind reach the engine with their values (dates, times and timestamps in the
// forms SQL compares), and a query given the first one's stored parameters ("ParamData") runs the
// same; the stored "Data" block comes back whole and goes with a new statement text.
TEST_P(KdsQueryTest, StoredParametersBindAsTheOriginals) {
    const std::string text =
        "SELECT :D AS D, :T AS T, :TS AS TS, :F AS F, :C AS C, :I AS I, :S AS S, :B AS B, "
        ":BL AS BL, :N AS N FROM EMP WHERE EMP_NO = 'E1' AND :D < '2000-01-01'";
    const double day = rtl::EncodeDate(1999, 12, 31);
    const double time = rtl::EncodeTime(12, 34, 56, 789);
    const double stamp = rtl::EncodeDate(1899, 12, 30) + rtl::EncodeTime(0, 0, 0, 1);
    kds::TKdsQuery* first = NewQuery(text, "First");
    first->Params().ParamByName("D").SetAsDate(day);
    first->Params().ParamByName("T").SetAsTime(time);
    first->Params().ParamByName("TS").SetAsDateTime(stamp);
    first->Params().ParamByName("F").SetAsFloat(-2.5);
    first->Params().ParamByName("C").SetAsCurrency(12.25);
    first->Params().ParamByName("I").SetAsInteger(-7);
    first->Params().ParamByName("S").SetAsString("x:y");
    first->Params().ParamByName("B").SetAsBoolean(true);
    first->Params().ParamByName("BL").SetAsBlob(std::string("\x01\x00\x02", 3));
    first->Params().ParamByName("N").SetDataType(db::ftInteger);
    ASSERT_EQ(first->Params().Count(), 11);  // D twice

    rtl::TMemoryStream stored;
    first->WriteParamData(stored);
    stored.SetPosition(0);
    kds::TKdsQuery* second = NewQuery(text, "Second");
    second->ReadParamData(stored);
    EXPECT_TRUE(second->Params().IsEqual(first->Params()));

    first->Open();
    second->Open();
    ASSERT_FALSE(second->IsEmpty());
    EXPECT_EQ(Rows(*second), Rows(*first));
    EXPECT_EQ(second->FieldNamed("D").DateTimeValue(), day);
    EXPECT_EQ(second->FieldNamed("T").StringValue(), "12:34:56.789");
    EXPECT_EQ(second->FieldNamed("TS").DateTimeValue(), stamp);
    EXPECT_EQ(second->FieldNamed("F").FloatValue(), -2.5);
    EXPECT_EQ(second->FieldNamed("C").FloatValue(), 12.25);
    EXPECT_EQ(second->FieldNamed("I").IntegerValue(), -7);
    EXPECT_EQ(second->FieldNamed("S").StringValue(), "x:y");
    EXPECT_EQ(second->FieldNamed("B").IntegerValue(), 1);
    EXPECT_EQ(second->FieldNamed("BL").StringValue(), std::string("\x01\x00\x02", 3));
    EXPECT_TRUE(second->FieldNamed("N").VariantValue().IsNull());
    second->Close();
    first->Close();

    rtl::TStringStream block(std::string("blo\0ck", 6));
    second->ReadData(block);
    rtl::TMemoryStream written;
    second->WriteData(written);
    EXPECT_EQ(written.Data(), std::string("blo\0ck", 6));
    second->SQL().SetText("SELECT 1 AS ONE FROM EMP");
    EXPECT_FALSE(second->HasStoredData());
}

// A provider learns the query's order from its ORDER BY (names, qualified names and positions
// of result columns; an expression or an unknown column gives none) and its table from the
// statement when it names one.
TEST_P(KdsQueryTest, ProviderOrderAndTableComeFromTheStatement) {
    kds::TKdsQuery* q = NewQuery("SELECT e.EMP_NO, e.NAME AS WHO, WAGE FROM EMP e");
    struct Order {
        const char* clause;
        const char* fields;  // "" for none
        const char* desc;
        const char* caseIns;
    } orders[] = {
        {"ORDER BY e.EMP_NO", "EMP_NO", "", ""},
        {"ORDER BY WHO DESC, 3 ASC", "WHO;WAGE", "WHO", ""},
        {"ORDER BY \"WAGE\" DESC NULLS LAST, WHO COLLATE NOCASE LIMIT 2", "WAGE;WHO", "WAGE",
         "WHO"},
        {"ORDER BY WAGE * 2", "", "", ""},
        {"ORDER BY UPPER(WHO)", "", "", ""},
        {"ORDER BY e.NAME", "", "", ""},  // a column the result names otherwise
        {"", "", "", ""},
    };
    for (const Order& o : orders) {
        SCOPED_TRACE(o.clause);
        q->SQL().SetText(std::string("SELECT e.EMP_NO, e.NAME AS WHO, WAGE FROM EMP e ") +
                         o.clause);
        q->Open();
        std::unique_ptr<db::TIndexDef> def = q->ProviderDefaultOrder();
        if (*o.fields == '\0') {
            EXPECT_EQ(def, nullptr);
        } else if (def != nullptr) {
            EXPECT_EQ(def->Fields(), o.fields);
            EXPECT_EQ(def->DescFields(), o.desc);
            EXPECT_EQ(def->CaseInsFields(), o.caseIns);
        } else {
            ADD_FAILURE() << "no order";
        }
        q->Close();
    }
    // An ORDER BY inside a subquery is not the result's order.
    q->SQL().SetText("SELECT EMP_NO FROM (SELECT EMP_NO FROM EMP ORDER BY EMP_NO)");
    q->Open();
    EXPECT_EQ(q->ProviderDefaultOrder(), nullptr);
    q->Close();

    struct Table {
        const char* sql;
        const char* table;
    } tables[] = {
        {"SELECT * FROM EMP", "EMP"},
        {"select e.NAME from \"EMP\" as e where e.WAGE > 1 order by 1", "EMP"},
        {"SELECT * FROM [emp.dbf] e ORDER BY NAME", "emp.dbf"},
        {"SELECT (SELECT COUNT(*) FROM CAREER) AS N FROM EMP", "EMP"},
        {"SELECT * FROM EMP e JOIN CAREER c ON c.EMPLOYEECO = e.EMP_NO", ""},
        {"SELECT * FROM EMP, CAREER", ""},
        {"SELECT * FROM (SELECT * FROM EMP)", ""},
        {"SELECT 1", ""},
        {"UPDATE EMP SET WAGE = 1", "EMP"},
        {"INSERT INTO CAREER VALUES ('E9', 9)", "CAREER"},
        {"DELETE FROM /* all */ CAREER", "CAREER"},
    };
    for (const Table& t : tables) {
        q->SQL().SetText(t.sql);
        EXPECT_EQ(q->ProviderTableName(), t.table) << t.sql;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, KdsQueryTest, testing::Values(kKdt, kCdx),
                         [](const testing::TestParamInfo<kdstest::Storage>& info) {
                             return std::string(info.param.Name);
                         });

}  // namespace
