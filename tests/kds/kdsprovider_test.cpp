// The data-provider answers of the Keel datasets on real tables: statements and transactions
// through the table's connection, parameters as a key range, the default order and key fields,
// and the update hook.
#include <gtest/gtest.h>

#include "dataset/datalink.h"
#include "kds/kdscnnct.h"
#include "kds/kdsquery.h"
#include "kds_fixture.h"
#include "tests/kds/error_message.h"

namespace {

using kdstest::kCdx;
using kdstest::kKdt;
using kdstest::Message;

std::string Column(db::TDataSet& ds, const std::string& field) {
    std::string out;
    for (ds.First(); !ds.AtEOF(); ds.Next()) {
        out += (out.empty() ? "" : " ") + ds.FieldNamed(field).StringValue();
    }
    return out;
}

class ProviderTest : public kdstest::KdsTest, public testing::WithParamInterface<kdstest::Storage> {
  protected:
    void SetUp() override {
        kdstest::KdsTest::SetUp();
        MakeTable("EMP", GetParam(), "EMP_NO,char,6;NAME,char,10",
                  {{"E2", "two"}, {"E1", "one"}, {"E3", "three"}});
        KDSHANDLE connection = 0, table = 0, index = 0;
        ASSERT_EQ(KdsConnect(kdstest::U(Dir()), &connection), 0u);
        ASSERT_EQ(KdsOpenTable(connection, kdstest::U("EMP"), nullptr, GetParam().EngineType, 1, 1,
                               1, 1, &table),
                  0u);
        ASSERT_EQ(KdsCreateIndex(table, nullptr, kdstest::U("BY_NO"), kdstest::U("EMP_NO"), nullptr,
                                 KCE_INDEX_UNIQUE, &index),
                  0u)
            << kdstest::LastErrorText();
        KdsCloseTable(table);
        KdsDisconnect(connection);
    }
    kds::TKdsConnection* Connection() {
        auto* connection = new kds::TKdsConnection(&Owner());
        connection->SetName("Conn");
        connection->SetKdsServerTypes({kds::stKDS_LOCAL});
        connection->SetConnectPath(Dir());
        return connection;
    }
    kds::TKdsTable* Emp() {
        kds::TKdsTable* t = NewTable("Emp", "EMP", GetParam());
        return t;
    }
};

// Statements run on the table's connection inside its transactions: a rollback undoes one, a
// query comes back as an open dataset, a statement without a result as a closed one; without a
// connection the statement is refused.
TEST_P(ProviderTest, StatementsAndTransactionsGoThroughTheConnection) {
    kds::TKdsTable* bare = Emp();
    EXPECT_TRUE(bare->ProviderIsSQLBased());
    EXPECT_FALSE(bare->ProviderInTransaction());
    EXPECT_EQ(Message([&] { bare->ProviderExecuteStatement("DELETE FROM EMP", nullptr, nullptr); }),
              "Emp: A TKdsConnection component is required for TClientDataSet/IProvider support. "
              "Use either the KdsConnection  property or the Database property to specify a "
              "TKdsConnection instance.");

    kds::TKdsConnection* connection = Connection();
    auto* emp = new kds::TKdsTable(&Owner());
    emp->SetName("Emp2");
    emp->SetTableType(GetParam().TableType);
    emp->SetKdsConnection(connection);
    emp->SetTableName("EMP");
    connection->Connect();
    emp->ProviderStartTransaction();
    EXPECT_TRUE(emp->ProviderInTransaction());
    db::TParams params;
    params.Add("NO").SetAsString("E1");
    EXPECT_EQ(emp->ProviderExecuteStatement("UPDATE EMP SET NAME = 'uno' WHERE EMP_NO = :NO",
                                            &params, nullptr),
              1);
    emp->ProviderEndTransaction(false);
    EXPECT_FALSE(emp->ProviderInTransaction());

    std::unique_ptr<db::TDataSet> result;
    EXPECT_EQ(
        emp->ProviderExecuteStatement("SELECT NAME FROM EMP WHERE EMP_NO = :NO", &params, &result),
        0);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(result->Active());
    EXPECT_EQ(Column(*result, "NAME"), "one");
    result.reset();
    EXPECT_EQ(emp->ProviderExecuteStatement("UPDATE EMP SET NAME = 'x' WHERE EMP_NO = 'E9'",
                                            nullptr, &result),
              0);
    ASSERT_NE(result, nullptr);
    EXPECT_FALSE(result->Active());
    result.reset();
    connection->Disconnect();
}

// Parameters become a key range on the active index (by name, or by position for unnamed ones);
// none removes it.
TEST_P(ProviderTest, ParametersBecomeAKeyRange) {
    kds::TKdsTable* emp = Emp();
    emp->SetIndexName("BY_NO");
    db::TParams params;
    params.Add("EMP_NO").SetAsString("E2");
    emp->ProviderSetParams(params);
    EXPECT_TRUE(emp->Active());
    EXPECT_EQ(Column(*emp, "NAME"), "two");
    db::TParams unnamed;
    unnamed.Add("").SetAsString("E3");
    emp->ProviderSetParams(unnamed);
    EXPECT_EQ(Column(*emp, "NAME"), "three");
    db::TParams none;
    emp->ProviderSetParams(none);
    EXPECT_EQ(Column(*emp, "NAME"), "one two three");
    emp->Close();
}

// The default order is the active index when its fields exist, else the first unique one; key
// fields come from the first unique index; the table name loses its extension; the update hook
// reports success only when its handler says the update is applied.
TEST_P(ProviderTest, OrderKeysNamesAndUpdates) {
    kds::TKdsTable* emp = Emp();
    emp->Open();
    std::unique_ptr<db::TIndexDef> order = emp->ProviderDefaultOrder();
    ASSERT_NE(order, nullptr);
    EXPECT_EQ(order->Name(), "BY_NO");
    EXPECT_EQ(order->Fields(), "EMP_NO");
    EXPECT_EQ(emp->ProviderKeyFields(), "EMP_NO");
    emp->Close();
    emp->ProviderSetCommandText("emp.dbf");
    EXPECT_EQ(emp->TableName(), "emp.dbf");
    EXPECT_EQ(emp->ProviderTableName(), "emp");
    emp->ProviderSetCommandText("");
    EXPECT_EQ(emp->TableName(), "emp.dbf");

    EXPECT_FALSE(emp->ProviderUpdateRecord(db::TUpdateKind::ukModify, *emp));
    db::TUpdateKind seen = db::TUpdateKind::ukDelete;
    emp->SetOnUpdateRecord([&](db::TDataSet&, db::TUpdateKind kind, int& action) {
        seen = kind;
        action = kds::kUpdateApplied;
    });
    EXPECT_TRUE(emp->ProviderUpdateRecord(db::TUpdateKind::ukInsert, *emp));
    EXPECT_EQ(seen, db::TUpdateKind::ukInsert);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ProviderTest, testing::Values(kKdt, kCdx),
                         [](const testing::TestParamInfo<kdstest::Storage>& info) {
                             return std::string(info.param.Name);
                         });

}  // namespace
