// The connection's ExecuteSQL: its statement cache, the parameter binding, the answers.
#include "kds/kdssql.h"

#include <gtest/gtest.h>

#include "kds/kdscnnct.h"
#include "kds_fixture.h"

namespace {

using kds::TKdsConnection;
using kdstest::kCdx;
using kdstest::kKdt;

class KdsSqlTest : public kdstest::KdsTest {
  protected:
    TKdsConnection* Connection() {
        auto* connection = new TKdsConnection(&Owner());
        connection->SetName("Conn");
        connection->SetKdsServerTypes({kds::stKDS_LOCAL});
        connection->SetConnectPath(Dir());
        return connection;
    }
    // The rows of a result cursor, fields by '|', records by ' '; closes the cursor.
    static std::string Rows(KDSHANDLE cursor) {
        std::string out;
        UNSIGNED16 fields = 0;
        KdsGetNumFields(cursor, &fields);
        UNSIGNED16 eof = 0;
        for (KdsGotoTop(cursor); KdsAtEOF(cursor, &eof) == 0 && !eof; KdsSkip(cursor, 1)) {
            if (!out.empty()) out += " ";
            for (UNSIGNED16 i = 1; i <= fields; ++i) {
                char buf[100];
                UNSIGNED32 len = sizeof buf;
                KdsGetField(cursor, KCE_FIELD_ORDINAL(i), reinterpret_cast<UNSIGNED8*>(buf), &len,
                            0);
                out += (i > 1 ? "|" : "") + std::string(buf, len);
            }
        }
        KdsCloseTable(cursor);
        return out;
    }
};

TEST(KdsSqlHash, PreselectsByTheDocumentedPositions) {
    // Short texts take every byte after the first and the terminating zero; long ones every
    // (length / 8)-th byte from the second.
    EXPECT_EQ(kds::StatementHash("AB"), 2442u);
    EXPECT_EQ(kds::StatementHash("SELECT 1"), 2815709538u);
    EXPECT_EQ(kds::StatementHash("UPDATE T SET X = 1 WHERE Y = 2"), 1769278207u);
}

TEST_F(KdsSqlTest, KeptStatementsAreReusedUntilCommitClosesThem) {
    MakeTable("EMP", kCdx, "ID,integer;NAME,char,10", {{"1", "a"}, {"2", "b"}, {"3", "c"}});
    TKdsConnection* connection = Connection();
    const std::string update = "UPDATE EMP SET NAME = NAME || 'x' WHERE ID >= 2";
    connection->Connect();
    connection->BeginTransaction();
    EXPECT_EQ(connection->ExecuteSQL(update, nullptr, nullptr, true), 2);
    ASSERT_EQ(connection->CachedStatements().size(), 1u);
    KDSHANDLE statement = connection->CachedStatements()[0].Statement;
    EXPECT_EQ(connection->ExecuteSQL(update, nullptr, nullptr, true), 2);
    ASSERT_EQ(connection->CachedStatements().size(), 1u);
    EXPECT_EQ(connection->CachedStatements()[0].Statement, statement);
    connection->Commit();
    EXPECT_TRUE(connection->CachedStatements().empty());
    UNSIGNED16 type = 0;
    EXPECT_NE(KdsGetHandleType(statement, &type), 0u);
    KDSHANDLE cursor = 0;
    EXPECT_EQ(connection->ExecuteSQL("SELECT NAME FROM EMP ORDER BY ID", nullptr, &cursor, false),
              0);
    EXPECT_EQ(Rows(cursor), "a bxx cxx");
    EXPECT_TRUE(connection->CachedStatements().empty());
    connection->Disconnect();
}

TEST_F(KdsSqlTest, ParametersBindByTypeAndRefuseUnknownTypes) {
    MakeTable("T", kKdt, "ID,integer;D,date;TM,time;TS,timestamp;OK,logical;AMOUNT,double",
              {{"1", "12/30/1899", "12:00:00", "12/31/1899 06:00:00", "T", "2.5"},
               {"2", "01/01/2000", "13:00:00", "", "F", "3"}});
    TKdsConnection* connection = Connection();
    db::TParams params;
    params.Add("D").SetAsDate(0.0);        // 1899-12-30: Julian day 2415019
    params.Add("TM").SetAsTime(0.5);       // 12:00: 43200000 ms
    params.Add("TS").SetAsDateTime(1.25);  // 1899-12-31 06:00
    params.Add("OK").SetAsBoolean(true);
    params.Add("AMOUNT").SetAsFloat(2.5);
    params.Add("ID").SetAsString("1");
    KDSHANDLE cursor = 0;
    connection->ExecuteSQL(
        "SELECT ID FROM T WHERE D = :D AND TM = :TM AND TS = :TS AND OK = :OK "
        "AND AMOUNT = :AMOUNT AND ID = :ID",
        &params, &cursor, false);
    EXPECT_EQ(Rows(cursor), "1");
    // Parameters go by number: the collection is the statement's own.
    db::TParams one;
    one.Add("ID").SetAsInteger(1);
    EXPECT_EQ(connection->ExecuteSQL("DELETE FROM T WHERE ID = :ID", &one, nullptr, false), 1);

    db::TParams unknown;
    unknown.Add("ID");
    unknown[0].SetValue(rtl::Variant());  // null: bound as NULL, whatever its type
    EXPECT_EQ(connection->ExecuteSQL("DELETE FROM T WHERE ID = :ID", &unknown, nullptr, false), 0);
    // A value whose variant names no field type leaves the parameter ftUnknown: refused.
    db::TParams bad;
    bad.Add("ID").SetValue(rtl::Variant(std::vector<uint8_t>{1, 2}));
    ASSERT_EQ(bad[0].DataType(), db::ftUnknown);
    ASSERT_FALSE(bad[0].IsNull());
    try {
        connection->ExecuteSQL("DELETE FROM T WHERE ID = :ID", &bad, nullptr, false);
        ADD_FAILURE() << "an ftUnknown parameter was bound";
    } catch (const kds::EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), 5121);
        EXPECT_NE(std::string(e.what()).find(
                      "The field named: 'ID' has the DataType of ftUnknown, which is invalid."),
                  std::string::npos)
            << e.what();
    }
    // An engine failure comes back with its status; the statement is closed all the same.
    try {
        connection->ExecuteSQL("SELEC 1", nullptr, nullptr, false);
        ADD_FAILURE() << "no error";
    } catch (const kds::EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), 7209);
    }
    connection->Disconnect();
}

}  // namespace
