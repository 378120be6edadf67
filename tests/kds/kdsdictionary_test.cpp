// Connections to data dictionaries: the login (stored pair, OnLogin, the login dialog hook), tables
// opened by bare name, the free table beside the dictionary, the dictionary's default index taken
// as "KDS_DEFAULT", and the dictionary's table list.
#include <gtest/gtest.h>

#include "dataset/db_errors.h"
#include "kds/kdscnnct.h"
#include "kds_fixture.h"
#include "rtl/stringlist.h"

namespace {

using kds::TKdsConnection;
using kds::TKdsTable;
using kdstest::KdsTest;
using kdstest::kKdt;
using kdstest::U;

constexpr char kUser[] = "clerk";
constexpr char kPassword[] = "Plum-Tree-81";

// SALES.kdd holds EMPLOYEE (native, default index BYNAME) and DEPT (native, no default index);
// FREE is a table beside it that the dictionary does not hold.
class KdsDictionaryTest : public KdsTest {
  protected:
    void SetUp() override {
        KdsTest::SetUp();
        MakeTable("EMPLOYEE", kKdt, "EMP_NO,char,4;NAME,char,10",
                  {{"E1", "Walsh"}, {"E2", "Adams"}, {"E3", "Moss"}});
        AddIndex("EMPLOYEE", "BYNAME", "NAME");
        MakeTable("DEPT", kKdt, "CODE,char,4", {{"D2"}, {"D1"}});
        AddIndex("DEPT", "BYCODE", "CODE");
        MakeTable("FREE", kKdt, "N,integer", {{"7"}});
        dict_ = Dir() + "/SALES.kdd";
        ASSERT_EQ(KdsDDCreate(U(dict_)), 0u);
        ASSERT_EQ(KdsDDAddUser(U(dict_), U(kUser), U(kPassword)), 0u);
        ASSERT_EQ(KdsDDAddTable(U(dict_), U("EMPLOYEE"), U("EMPLOYEE.kdt"), 0, nullptr), 0u);
        ASSERT_EQ(KdsDDAddTable(U(dict_), U("DEPT"), U("DEPT.kdt"), 0, nullptr), 0u);
        ASSERT_EQ(
            KdsDDSetTableProperty(U(dict_), U("EMPLOYEE"), KCE_DD_TABLE_DEFAULT_INDEX, U("BYNAME")),
            0u);
    }
    void TearDown() override {
        kds::SetKdsLoginDialog(nullptr);
        KdsTest::TearDown();
    }

    void AddIndex(const std::string& table, const std::string& name, const std::string& key) {
        KDSHANDLE c = 0, t = 0, i = 0;
        ASSERT_EQ(KdsConnect(U(Dir()), &c), 0u);
        ASSERT_EQ(KdsOpenTable(c, U(table), nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                               KCE_CHECK_RIGHTS, 0, &t),
                  0u);
        EXPECT_EQ(KdsCreateIndex(t, nullptr, U(name), U(key), nullptr, 0, &i), 0u)
            << kdstest::LastErrorText();
        KdsCloseTable(t);
        KdsDisconnect(c);
    }

    // A connection to the dictionary that sends the stored pair (no prompt).
    TKdsConnection* NewConnection(const std::string& user = kUser,
                                  const std::string& password = kPassword) {
        auto* connection = new TKdsConnection(&Owner());
        connection->SetName("KdsConnection1");
        connection->SetKdsServerTypes({kds::stKDS_LOCAL});
        connection->SetConnectPath(dict_);
        connection->SetLoginPrompt(false);
        connection->SetUsername(user);
        connection->SetPassword(password);
        return connection;
    }
    TKdsTable* NewTable(TKdsConnection* connection, const std::string& tableName,
                        const std::string& name = "KdsTable1") {
        auto* table = new TKdsTable(&Owner());
        table->SetName(name);
        table->SetKdsConnection(connection);
        table->SetTableName(tableName);
        return table;
    }
    static std::vector<std::string> Column(TKdsTable* table, const std::string& field) {
        std::vector<std::string> values;
        for (table->First(); !table->AtEOF(); table->Next())
            values.push_back(table->FieldNamed(field).StringValue());
        return values;
    }

    std::string dict_;
};

// The conversion tool's path: a table of the dictionary opened through a connection whose
// ConnectPath names the .kdd, walked in the dictionary's default order.
TEST_F(KdsDictionaryTest, ATableOpensByBareNameInTheDefaultIndexOrder) {
    TKdsConnection* connection = NewConnection();
    TKdsTable* table = NewTable(connection, "EMPLOYEE");
    table->SetTableType(kds::ttKdsCDX);  // the dictionary's own type counts
    EXPECT_EQ(table->IndexName(), "");   // not connected yet: nothing read
    table->Open();
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_EQ(table->IndexName(), "KDS_DEFAULT");
    EXPECT_EQ(table->IndexSelection(), 3);
    EXPECT_EQ(table->DefaultIndexName(), "BYNAME");
    EXPECT_EQ(table->TableType(), kds::ttKdsKDT);
    EXPECT_EQ(Column(table, "NAME"), (std::vector<std::string>{"Adams", "Moss", "Walsh"}));

    // Set while connected, the rule runs at once; an IndexName chosen by the caller stays.
    table->Close();
    TKdsTable* second = NewTable(connection, "EMPLOYEE", "KdsTable2");
    EXPECT_EQ(second->IndexName(), "KDS_DEFAULT");
    TKdsTable* chosen = new TKdsTable(&Owner());
    chosen->SetName("KdsTable3");
    chosen->SetKdsConnection(connection);
    chosen->SetIndexName("BYNAME");
    chosen->SetTableName("EMPLOYEE");
    EXPECT_EQ(chosen->IndexSelection(), 1);
    // A table without a default index: "KDS_DEFAULT" falls back to the natural order.
    TKdsTable* dept = new TKdsTable(&Owner());
    dept->SetName("KdsTable4");
    dept->SetKdsConnection(connection);
    dept->SetIndexName("KDS_DEFAULT");
    dept->SetTableName("DEPT");
    EXPECT_EQ(dept->IndexName(), "");
    dept->Open();
    EXPECT_EQ(Column(dept, "CODE"), (std::vector<std::string>{"D2", "D1"}));
}

TEST_F(KdsDictionaryTest, AFreeTableBesideTheDictionaryIsReachedByTheRetry) {
    TKdsConnection* connection = NewConnection();
    TKdsTable* table = NewTable(connection, "FREE");
    table->SetTableType(kds::ttKdsKDT);
    table->Open();
    EXPECT_EQ(table->FieldNamed("N").StringValue(), "7");
    EXPECT_EQ(table->IndexName(), "");
    table->Close();
    // A name that is neither: the engine's "not found", raised for the table.
    table->SetTableName("NOWHERE");
    try {
        table->Open();
        FAIL() << "opened a table that is not there";
    } catch (const kds::EKDSDatabaseError& e) {
        EXPECT_NE(e.ErrorCode(), 0);
        EXPECT_EQ(e.TableName(), "NOWHERE");
    }
}

TEST_F(KdsDictionaryTest, AWrongPasswordIsRefusedWithTheEnginesText) {
    TKdsConnection* connection = NewConnection(kUser, "plum-tree-81");
    TKdsTable* table = NewTable(connection, "EMPLOYEE");
    try {
        table->Open();
        FAIL() << "connected with a wrong password";
    } catch (const kds::EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), KCE_LOGIN_FAILED);
        EXPECT_EQ(e.Message(), kdstest::LastErrorText());
        EXPECT_EQ(std::string(e.what()).find("plum-tree-81"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(connection->IsConnected());
    EXPECT_FALSE(table->Active());
}

TEST_F(KdsDictionaryTest, TheLoginComesFromOnLoginOrTheDialog) {
    TKdsConnection* connection = NewConnection("", "");
    connection->SetLoginPrompt(true);

    // No dialog to show, and a dialog that is cancelled: the connection's own error.
    for (bool withDialog : {false, true}) {
        if (withDialog) {
            kds::SetKdsLoginDialog(
                [](const std::string&, std::string&, std::string&) { return false; });
        }
        try {
            connection->Connect();
            FAIL();
        } catch (const kds::EKDSDatabaseError&) {
            FAIL() << "the engine was asked";
        } catch (const db::EDatabaseError& e) {
            EXPECT_STREQ(e.what(), "Cannot connect to database 'KdsConnection1'");
        }
        EXPECT_FALSE(connection->IsConnected());
    }

    // The dialog gets the connection's name and the stored user name; what it answers is sent.
    std::string shownName, shownUser;
    kds::SetKdsLoginDialog([&](const std::string& name, std::string& user, std::string& password) {
        shownName = name;
        shownUser = user;
        user = "CLERK";
        password = kPassword;
        return true;
    });
    connection->SetUsername("someone");
    connection->SetPassword("stored and not used");
    connection->Connect();
    EXPECT_EQ(shownName, "KdsConnection1");
    EXPECT_EQ(shownUser, "someone");
    EXPECT_EQ(connection->Username(), "CLERK");
    connection->Disconnect();

    // OnLogin wins over the dialog: it starts from an empty pair.
    std::string givenUser = "?", givenPassword = "?";
    connection->SetOnLogin([&](TKdsConnection&, std::string& user, std::string& password) {
        givenUser = user;
        givenPassword = password;
        user = kUser;
        password = kPassword;
    });
    kds::SetKdsLoginDialog(nullptr);
    connection->Connect();
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_EQ(givenUser, "");
    EXPECT_EQ(givenPassword, "");
}

TEST_F(KdsDictionaryTest, DictionaryObjectNamesListTheTables) {
    TKdsConnection* connection = NewConnection();
    rtl::TStringList names;
    connection->GetDictionaryObjectNames(&names);  // connects first
    EXPECT_TRUE(connection->IsConnected());
    ASSERT_EQ(names.Count(), 2);
    EXPECT_EQ(names[0], "DEPT");
    EXPECT_EQ(names[1], "EMPLOYEE");

    // A folder connection has no dictionary objects.
    auto* folder = new TKdsConnection(&Owner());
    folder->SetName("KdsConnection2");
    folder->SetConnectPath(Dir());
    rtl::TStringList none;
    folder->GetDictionaryObjectNames(&none);
    EXPECT_EQ(none.Count(), 0);
}

}  // namespace
