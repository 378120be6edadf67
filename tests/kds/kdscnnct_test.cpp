// The connection component: paths, connecting on demand, disconnecting closes the datasets,
// name resolution of DatabaseName, the alias file and the per-folder connections.
#include "kds/kdscnnct.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "kds_fixture.h"
#include "rtl/paths.h"
#include "rtl/stringlist.h"
#include "tests/support/scoped.h"

namespace {

using kds::KdsConnectionError;
using kds::TKdsConnection;
using kds::TKdsTable;
using kdstest::kCdx;
using kdstest::KdsTest;
using kdstest::kKdt;

class KdsConnectionTest : public KdsTest {
  protected:
    TKdsConnection* NewConnection(const std::string& name, rtl::TComponent* owner = nullptr) {
        auto* connection = new TKdsConnection(owner != nullptr ? owner : &Owner());
        connection->SetName(name);
        connection->SetKdsServerTypes({kds::stKDS_LOCAL});
        return connection;
    }
    TKdsTable* NewAttachedTable(const std::string& name, const std::string& tableName) {
        auto* table = new TKdsTable(&Owner());
        table->SetName(name);
        table->SetTableName(tableName);
        return table;
    }
};

TEST_F(KdsConnectionTest, TablePathAndDatabasePathOfConnectPaths) {
    struct Case {
        std::string connectPath;
        bool dictionary;
        std::string tablePath;
        std::string databasePath;
    };
    const Case cases[] = {
        {"d:\\data\\sales.kdd", true, "d:\\data", "d:\\data"},
        {"sales.kdd", true, ".\\", "."},
        {"d:\\data\\", false, "d:\\data\\", "d:\\data"},
        {"d:\\data", false, "d:\\data", "d:\\data"},
        {"D:\\DATA\\SALES.KDD", true, "D:\\DATA", "D:\\DATA"},
        // "/" separates folders as "\\" does.
        {"/data/hr/sales.kdd", true, "/data/hr", "/data/hr"},
        {"C:/data/sales.kdd", true, "C:/data", "C:/data"},
        {"/data/hr/", false, "/data/hr/", "/data/hr"},
        {"/", false, "/", "/"},
        // A folder with a dot four characters from its end stays the folder: one that exists,
        // and one that is neither a dictionary nor an existing file.
        {Dir() + "/hr.old", false, Dir() + "/hr.old", Dir() + "/hr.old"},
        {Dir() + "\\HR.OLD\\", false, Dir() + "\\HR.OLD\\", Dir() + "\\HR.OLD"},
        {"/nowhere/hr.old", false, "/nowhere/hr.old", "/nowhere/hr.old"},
    };
    // Drive C is made on first use: here, inside the test's folder.
    testsupport::ScopedEnvironment env;
    std::filesystem::create_directory(Dir() + "/drive_c");
    env.Set("UPDATEBANK_DRIVE_C", Dir() + "/drive_c");
    std::filesystem::create_directory(Dir() + "/hr.old");
    TKdsConnection* connection = NewConnection("KdsConnection1");
    TKdsTable* table = NewAttachedTable("KdsTable1", "EMPLOYEE");
    table->SetKdsConnection(connection);
    for (const Case& c : cases) {
        connection->SetConnectPath(c.connectPath);
        EXPECT_EQ(connection->IsDictionaryConnection(), c.dictionary) << c.connectPath;
        EXPECT_EQ(connection->TablePath(), c.tablePath) << c.connectPath;
        EXPECT_EQ(table->DatabasePath(), c.databasePath) << c.connectPath;
    }
}

// Tables of a folder named like a file open from that folder, not from its parent or the working
// folder, whichever separator the path uses; each place holds an EMPLOYEE table of its own.
TEST_F(KdsConnectionTest, AFolderNamedLikeAFileHoldsTheTables) {
    std::filesystem::create_directory(Dir() + "/hr.old");
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"1"}});
    MakeTable("hr.old/EMPLOYEE", kKdt, "EMP_NO,integer", {{"7"}, {"8"}});
    TKdsConnection* connection = NewConnection("KdsConnection1");
    TKdsTable* table = NewAttachedTable("KdsTable1", "EMPLOYEE");
    table->SetKdsConnection(connection);
    for (const std::string& path : {Dir() + "/hr.old", Dir() + "\\hr.old\\"}) {
        SCOPED_TRACE(path);
        connection->SetConnectPath(path);
        table->Open();
        EXPECT_EQ(table->CountRecords(), 2);
        EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "7");
        table->Close();
        connection->SetIsConnected(false);
    }
}

TEST_F(KdsConnectionTest, ConnectsOnDemandAndDisconnectClosesAttachedTables) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"1"}, {"2"}});
    MakeTable("OTHER", kKdt, "ID,integer", {{"7"}});
    TKdsConnection* connection = NewConnection("KdsConnection1");
    connection->SetConnectPath(Dir());
    std::vector<std::string> events;
    connection->SetBeforeConnect([&](rtl::TComponent*) { events.push_back("BeforeConnect"); });
    connection->SetAfterConnect([&](rtl::TComponent*) { events.push_back("AfterConnect"); });
    connection->SetOnConnect([&](rtl::TComponent*) { events.push_back("OnConnect"); });
    connection->SetBeforeDisconnect(
        [&](rtl::TComponent*) { events.push_back("BeforeDisconnect"); });
    connection->SetAfterDisconnect([&](rtl::TComponent*) { events.push_back("AfterDisconnect"); });
    connection->SetOnDisconnect([&](rtl::TComponent*) { events.push_back("OnDisconnect"); });

    TKdsTable* employee = NewAttachedTable("KdsTable1", "EMPLOYEE");
    employee->SetDatabaseName("KdsConnection1");
    TKdsTable* other = NewAttachedTable("KdsTable2", "OTHER");
    other->SetKdsConnection(connection);
    ASSERT_EQ(employee->KdsConnection(), connection);
    EXPECT_EQ(connection->DataSetCount(), 2);
    EXPECT_FALSE(connection->IsConnected());
    EXPECT_EQ(connection->ConnectionHandle(), 0u);

    employee->Open();
    other->Open();
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_NE(connection->ConnectionHandle(), 0u);
    EXPECT_EQ(connection->ConnectionType(), "Local");
    EXPECT_EQ(connection->ServerName(), Dir());
    EXPECT_EQ(employee->FieldNamed("emp_no").IntegerValue(), 1);

    connection->SetIsConnected(false);
    EXPECT_FALSE(employee->Active());
    EXPECT_FALSE(other->Active());
    EXPECT_FALSE(connection->IsConnected());
    EXPECT_EQ(connection->ConnectionHandle(), 0u);
    EXPECT_EQ(connection->ConnectionType(), "");
    EXPECT_EQ(events,
              (std::vector<std::string>{"BeforeConnect", "AfterConnect", "OnConnect",
                                        "BeforeDisconnect", "AfterDisconnect", "OnDisconnect"}));

    employee->Open();
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_EQ(employee->FieldNamed("EMP_NO").IntegerValue(), 1);
    connection->SetIsConnected(false);
    EXPECT_FALSE(employee->Active());
}

TEST_F(KdsConnectionTest, TransactionsKeepOrUndoWhatTheTablesPosted) {
    for (const kdstest::Storage* storage : {&kKdt, &kCdx}) {
        SCOPED_TRACE(storage->Name);
        std::string name = std::string("T") + storage->Name;
        MakeTable(name, *storage, "EMP_NO,integer", {{"1"}});
        TKdsConnection* connection = NewConnection("Conn" + name);
        connection->SetConnectPath(Dir());
        std::vector<std::string> events;
        connection->SetBeforeCommit([&](rtl::TComponent*) { events.push_back("BeforeCommit"); });
        connection->SetAfterCommit([&](rtl::TComponent*) { events.push_back("AfterCommit"); });
        connection->SetBeforeRollback(
            [&](rtl::TComponent*) { events.push_back("BeforeRollback"); });
        connection->SetAfterRollback([&](rtl::TComponent*) { events.push_back("AfterRollback"); });
        TKdsTable* table = NewAttachedTable("Table" + name, name);
        table->SetTableType(storage->TableType);
        table->SetKdsConnection(connection);
        table->Open();
        auto values = [&] {
            std::vector<int> seen;
            for (table->First(); !table->AtEOF(); table->Next())
                seen.push_back(table->FieldNamed("EMP_NO").IntegerValue());
            return seen;
        };
        auto append = [&](int value) {
            table->Append();
            table->FieldNamed("EMP_NO").SetIntegerValue(value);
            table->Post();
        };

        connection->BeginTransaction();
        EXPECT_TRUE(connection->TransactionActive());
        // A second begin is the engine's refusal, and the first transaction stays.
        EXPECT_THROW(connection->BeginTransaction(), kds::kdscnnct::KdsError);
        append(2);
        connection->Rollback();
        EXPECT_FALSE(connection->TransactionActive());
        table->Refresh();
        EXPECT_EQ(values(), std::vector<int>{1});

        connection->BeginTransaction();
        append(3);
        connection->Commit();
        table->Refresh();
        EXPECT_EQ(values(), (std::vector<int>{1, 3}));
        EXPECT_EQ(events, (std::vector<std::string>{"BeforeRollback", "AfterRollback",
                                                    "BeforeCommit", "AfterCommit"}));
        table->Close();
    }
}

TEST_F(KdsConnectionTest, AConnectPathRelativeToTheWorkingDirectoryOpensItsTables) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"7"}});
    testsupport::ScopedEnvironment env;
    size_t slash = Dir().find_last_of('/');
    env.ChangeDir(Dir().substr(0, slash));
    TKdsConnection* connection = NewConnection("KdsConnection1");
    connection->SetConnectPath(Dir().substr(slash + 1));
    TKdsTable* table = NewAttachedTable("KdsTable1", "EMPLOYEE");
    table->SetKdsConnection(connection);
    table->Open();
    EXPECT_EQ(table->FieldNamed("EMP_NO").IntegerValue(), 7);
    table->Close();
}

TEST_F(KdsConnectionTest, MisuseRaisesFixedMessagesAndChangesNothing) {
    TKdsConnection* connection = NewConnection("KdsConnection1");
    try {
        connection->Connect();
        FAIL();
    } catch (const KdsConnectionError& e) {
        EXPECT_STREQ(e.what(),
                     "Must specify connection string before getting a server connection.");
    }
    EXPECT_FALSE(connection->IsConnected());
    EXPECT_THROW(
        {
            try {
                connection->ServerName();
            } catch (const KdsConnectionError& e) {
                EXPECT_STREQ(e.what(), "Must be connected to get Keel server name.");
                throw;
            }
        },
        KdsConnectionError);
    for (auto operation :
         {&TKdsConnection::BeginTransaction, &TKdsConnection::Commit, &TKdsConnection::Rollback}) {
        try {
            (connection->*operation)();
            FAIL();
        } catch (const KdsConnectionError& e) {
            EXPECT_STREQ(e.what(), "No connection to Keel server.");
        }
    }

    connection->SetConnectPath(Dir());
    connection->Connect();
    try {
        connection->SetConnectPath("/elsewhere");
        FAIL();
    } catch (const KdsConnectionError& e) {
        EXPECT_STREQ(e.what(),
                     "The TKdsConnection.ConnectPath may not be changed when IsConnected is TRUE");
    }
    EXPECT_EQ(connection->ConnectPath(), Dir());
    EXPECT_THROW(connection->SetAliasName("X"), KdsConnectionError);
    connection->SetIsConnected(false);
    connection->SetConnectPath("/elsewhere");
    EXPECT_EQ(connection->ConnectPath(), "/elsewhere");
}

TEST_F(KdsConnectionTest, EngineRefusalOfTheConnectionHasNoDataSetFields) {
    TKdsConnection* connection = NewConnection("KdsConnection1");
    connection->SetConnectPath(Dir());
    // The engine knows the local server only: remote alone is refused.
    connection->SetKdsServerTypes({kds::stKDS_REMOTE});
    try {
        connection->Connect();
        FAIL();
    } catch (const kds::EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), KCE_INVALID_SERVER_TYPE);
        EXPECT_EQ(e.DataSetName(), "");
        EXPECT_EQ(e.Message(), kdstest::LastErrorText());
    }
    EXPECT_FALSE(connection->IsConnected());
    connection->SetKdsServerTypes({kds::stKDS_REMOTE, kds::stKDS_LOCAL});
    connection->Connect();
    EXPECT_TRUE(connection->IsConnected());
}

TEST_F(KdsConnectionTest, AFolderConnectionNeverPromptsForALogin) {
    int prompts = 0;
    kds::SetKdsLoginDialog([&](const std::string&, std::string&, std::string&) {
        ++prompts;
        return true;
    });
    TKdsConnection* connection = NewConnection("KdsConnection1");
    connection->SetConnectPath(Dir());
    connection->SetUsername("ADMIN");
    connection->SetPassword("secret");
    ASSERT_TRUE(connection->LoginPrompt());
    connection->Connect();
    EXPECT_EQ(prompts, 0);
    kds::SetKdsLoginDialog(nullptr);
}

TEST_F(KdsConnectionTest, DatabaseNameFindsConnectionsByNameAndByOwnerQualifiedName) {
    TKdsConnection* mine = NewConnection("KdsConnection1");
    rtl::TComponent otherForm(nullptr);
    otherForm.SetName("Form2");
    TKdsConnection* theirs = NewConnection("KdsConnection1", &otherForm);
    TKdsConnection* only = NewConnection("KdsConnection3", &otherForm);

    TKdsTable* table = NewAttachedTable("KdsTable1", "EMPLOYEE");
    // The same owner wins over an earlier connection of the same name elsewhere.
    table->SetDatabaseName("kdsconnection1");
    EXPECT_EQ(table->KdsConnection(), mine);
    table->SetDatabaseName("Form2.KdsConnection1");
    EXPECT_EQ(table->KdsConnection(), theirs);
    EXPECT_EQ(mine->DataSetCount(), 0);
    EXPECT_EQ(theirs->DataSetCount(), 1);
    table->SetDatabaseName("KdsConnection3");
    EXPECT_EQ(table->KdsConnection(), only);
    // A folder keeps the connection it has.
    table->SetDatabaseName(Dir());
    EXPECT_EQ(table->KdsConnection(), only);
    EXPECT_EQ(table->DatabasePath(), Dir());
    delete table;
    EXPECT_EQ(only->DataSetCount(), 0);
}

TEST_F(KdsConnectionTest, ATableNamingAConnectionNotYetNamedIsBoundWhenItGetsTheName) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"5"}});
    TKdsTable* table = NewAttachedTable("KdsTable1", "EMPLOYEE");
    table->SetDatabaseName("KdsConnection1");
    EXPECT_EQ(table->KdsConnection(), nullptr);
    auto* connection = new TKdsConnection(&Owner());
    connection->SetConnectPath(Dir());
    connection->SetKdsServerTypes({kds::stKDS_LOCAL});
    connection->SetName("KdsConnection1");
    EXPECT_EQ(table->KdsConnection(), connection);
    table->Open();
    EXPECT_TRUE(connection->IsConnected());
    EXPECT_EQ(table->FieldNamed("EMP_NO").IntegerValue(), 5);
    // Destroying the connection closes the table and lets go of it.
    delete connection;
    EXPECT_FALSE(table->Active());
    EXPECT_EQ(table->KdsConnection(), nullptr);
}

TEST_F(KdsConnectionTest, FoldersThatDifferInCaseShareOneEngineConnection) {
    std::string driveD = Dir() + "/drive_d";
    std::filesystem::create_directories(driveD + "/data");
    testsupport::ScopedEnvironment env;
    env.Set("UPDATEBANK_DRIVE_D", driveD);
    KDSHANDLE connection = 0;
    ASSERT_EQ(KdsConnect(kdstest::U(driveD + "/data"), &connection), 0u);
    KDSHANDLE created = 0;
    ASSERT_EQ(
        KdsCreateTable(connection, kdstest::U("T1"), 3, 1, kdstest::U("A,integer"), 0, &created),
        0u);
    KdsCloseTable(created);
    KdsDisconnect(connection);

    int before = kds::DynamicConnList().Count();
    TKdsTable* lower = NewAttachedTable("KdsTable1", "T1");
    lower->SetDatabaseName("d:\\data");
    TKdsTable* upper = NewAttachedTable("KdsTable2", "T1");
    upper->SetDatabaseName("D:\\DATA");
    lower->Open();
    upper->Open();
    EXPECT_EQ(kds::DynamicConnList().Count(), before + 1);
    EXPECT_EQ(kds::DynamicConnList().HandleFor("d:\\data"),
              kds::DynamicConnList().HandleFor("D:\\DATA"));
    lower->Close();
    upper->Close();
}

TEST_F(KdsConnectionTest, AliasFileNamesFoldersAndTableTypes) {
    // The alias file is read from the working folder when the program's folder has none.
    testsupport::ScopedEnvironment env;
    env.ChangeDir(Dir());
    {
        std::ofstream ini(Dir() + "/KDS.INI");
        ini << "[Databases]\r\nSALES=" << Dir() << ";c\r\nPLAIN=" << Dir() << "\r\nEMPTY=\r\n";
    }
    MakeTable("EMPLOYEE", kCdx, "EMP_NO,numeric,5,0", {{"3"}});

    TKdsConnection* connection = NewConnection("KdsConnection1");
    TKdsTable* attached = NewAttachedTable("KdsTable1", "EMPLOYEE");
    attached->SetKdsConnection(connection);
    connection->SetAliasName("SALES");
    EXPECT_EQ(connection->ConnectPath(), "");
    EXPECT_EQ(connection->ConnectionString(), Dir());
    EXPECT_EQ(connection->AliasTableType(), kds::atCDX);
    // The attached table of the same owner follows the alias's type.
    EXPECT_EQ(attached->TableType(), kds::ttKdsCDX);
    attached->Open();
    EXPECT_EQ(attached->FieldNamed("EMP_NO").IntegerValue(), 3);
    attached->Close();
    connection->Disconnect();

    // An alias as a table's DatabaseName.
    TKdsTable* byAlias = NewAttachedTable("KdsTable2", "EMPLOYEE");
    byAlias->SetDatabaseName("SALES");
    EXPECT_EQ(byAlias->DatabasePath(), Dir());
    EXPECT_EQ(byAlias->ResolvedAliasPath(), Dir());
    EXPECT_EQ(byAlias->TableType(), kds::ttKdsCDX);
    try {
        byAlias->SetTableType(kds::ttKdsKDT);
        FAIL();
    } catch (const kds::EKDSDatabaseError& e) {
        EXPECT_EQ(e.Message(),
                  "KdsTable2: The table type must remain identical to the table "
                  "type associated with the alias.");
        EXPECT_EQ(e.ErrorCode(), 5121);
    }
    byAlias->SetDatabaseName("PLAIN");
    EXPECT_EQ(byAlias->TableType(), kds::ttKdsKDT);

    // Unknown and empty aliases are reported when connecting.
    TKdsConnection* unknown = NewConnection("KdsConnection2");
    unknown->SetAliasName("EMPTY");
    try {
        unknown->Connect();
        FAIL();
    } catch (const KdsConnectionError& e) {
        EXPECT_STREQ(e.what(), "TKdsConnection.AliasName is not valid");
    }
}

TEST_F(KdsConnectionTest, GetTableNamesListsTheFolderByMask) {
    MakeTable("B_TABLE", kKdt, "A,integer");
    MakeTable("A_TABLE", kKdt, "A,integer");
    MakeTable("C_TABLE", kCdx, "A,numeric,4,0");
    TKdsConnection* connection = NewConnection("KdsConnection1");
    connection->SetConnectPath(Dir());
    rtl::TStringList names;
    EXPECT_THROW(connection->GetTableNames(&names, "*.kdt"), KdsConnectionError);
    connection->Connect();
    connection->GetTableNames(&names, "*.kdt");
    ASSERT_EQ(names.Count(), 2);
    EXPECT_TRUE(rtl::SameText(names.Strings(0), "A_TABLE.kdt")) << names.Strings(0);
    EXPECT_TRUE(rtl::SameText(names.Strings(1), "B_TABLE.kdt")) << names.Strings(1);
    names.Clear();
    connection->GetTableNames(&names, "*.nothing");
    EXPECT_EQ(names.Count(), 0);
}

}  // namespace
