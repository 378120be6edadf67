// Opening and closing a table component: the checks made before the engine is asked, the field
// definitions built from the engine's descriptions, the options that refuse to change while open,
// and the operations the components refuse.
#include "kds/kdsdata.h"

#include <gtest/gtest.h>

#include "kds/kdstable.h"
#include "kds_fixture.h"

namespace {

using kds::EKDSDatabaseError;
using kds::TKdsTable;
using kdstest::kCdx;
using kdstest::KdsTest;
using kdstest::kKdt;
using kdstest::kNtx;

// Runs `action` and answers the message of the EKDSDatabaseError it raises (code checked).
template <typename Action>
std::string KdsErrorOf(Action action, int32_t code = 5121) {
    try {
        action();
    } catch (const EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), code) << e.what();
        return e.Message();
    }
    ADD_FAILURE() << "nothing raised";
    return {};
}

using KdsDataSetTest = KdsTest;

TEST_F(KdsDataSetTest, OpeningChecksItsPropertiesBeforeTheEngine) {
    auto* table = new TKdsTable(&Owner());
    table->SetName("KdsTable1");
    // No table name: refused before any engine call (there is no folder either).
    EXPECT_EQ(KdsErrorOf([&] { table->Open(); }), "KdsTable1: Missing TableName property");
    table->SetTableName("EMPLOYEE");
    EXPECT_EQ(KdsErrorOf([&] { table->Open(); }),
              "KdsTable1: One of the DatabaseName property or the KdsConnection property must "
              "have a value.");
    EXPECT_FALSE(table->Active());
    EXPECT_EQ(table->TableHandle(), kds::kNoKdsHandle);
}

TEST_F(KdsDataSetTest, NewTableStartsWithTheDocumentedOptions) {
    TKdsTable table;
    EXPECT_TRUE(table.KdsTableOptions().KdsRightsCheck());
    EXPECT_TRUE(table.KdsTableOptions().KdsOptimizedFilters());
    EXPECT_EQ(table.KdsTableOptions().KdsIndexPageSize(), 512);
    EXPECT_EQ(table.TableType(), kds::ttKdsKDT);
    EXPECT_EQ(table.EngineTableType(), 3);
    EXPECT_TRUE(table.StoreActive());
    EXPECT_EQ(table.TableHandle(), kds::kNoKdsHandle);
    EXPECT_EQ(table.OrderHandle(), kds::kNoKdsHandle);
    table.SetTableType(kds::ttKdsDefault);
    EXPECT_EQ(table.EngineTableType(), 3);
    table.SetTableType(kds::ttKdsCDX);
    EXPECT_EQ(table.EngineTableType(), 2);
    table.SetTableType(kds::ttKdsNTX);
    EXPECT_EQ(table.EngineTableType(), 1);
}

TEST_F(KdsDataSetTest, EngineFieldTypesBecomeFieldDefinitions) {
    MakeTable("ALLTYPES", kKdt,
              "L,logical;N4,numeric,4,0;N5,numeric,5,0;N42,numeric,4,2;D,date;C,char,12;"
              "M,memo;B,binary;I,image;V,varchar,20;CD,compactdate;DBL,double;INT,integer;"
              "SI,shortint;T,time;TS,timestamp;AI,autoinc;R,raw,6;Y,money");
    TKdsTable* table = NewTable("KdsTable1", "ALLTYPES", kKdt);
    table->Open();
    struct Expected {
        const char* name;
        db::TFieldType type;
        int size;
        UNSIGNED16 engineType;
    };
    const Expected expected[] = {
        {"L", db::ftBoolean, 0, 1},    {"N4", db::ftSmallint, 0, 2},  {"N5", db::ftFloat, 0, 2},
        {"N42", db::ftFloat, 0, 2},    {"D", db::ftDate, 0, 3},       {"C", db::ftString, 12, 4},
        {"M", db::ftMemo, 1, 5},       {"B", db::ftBlob, 1, 6},       {"I", db::ftBlob, 1, 7},
        {"V", db::ftMemo, 1, 8},       {"CD", db::ftDate, 0, 9},      {"DBL", db::ftFloat, 0, 10},
        {"INT", db::ftInteger, 0, 11}, {"SI", db::ftSmallint, 0, 12}, {"T", db::ftTime, 0, 13},
        {"TS", db::ftDateTime, 0, 14}, {"AI", db::ftAutoInc, 0, 15},  {"R", db::ftBytes, 6, 16},
        {"Y", db::ftCurrency, 0, 17},
    };
    ASSERT_EQ(table->FieldDefs().Count(), static_cast<int>(std::size(expected)));
    ASSERT_EQ(table->FieldDescriptions().Count(), table->FieldDefs().Count());
    for (int i = 0; i < table->FieldDefs().Count(); ++i) {
        const db::TFieldDef& def = table->FieldDefs()[i];
        const kds::TKCEFieldDef& d = table->FieldDescriptions().Item(i);
        EXPECT_EQ(def.Name(), expected[i].name);
        EXPECT_EQ(def.DataType(), expected[i].type) << def.Name();
        EXPECT_EQ(def.Size(), expected[i].size) << def.Name();
        EXPECT_EQ(d.FieldType, expected[i].engineType) << def.Name();
        EXPECT_EQ(d.FieldNum, i + 1);
        EXPECT_EQ(d.Decimals, def.Name() == std::string("N42") ? 2 : 0);
        EXPECT_EQ(table->FieldDescriptions().PositionOfName(rtl::LowerCase(def.Name())), i);
    }
    // Default fields live from open to close.
    EXPECT_EQ(table->NumFields(), table->FieldDefs().Count());
    EXPECT_TRUE(table->CursorReady());
    table->Close();
    EXPECT_EQ(table->NumFields(), 0);
    EXPECT_FALSE(table->CursorReady());
}

TEST_F(KdsDataSetTest, FieldsOfTheTableReplaceTheDefinitionsItWasGiven) {
    MakeTable("EMPLOYEE", kCdx, "EMP_NO,char,6;SALARY,numeric,9,2", {{"A1", "100.5"}});
    TKdsTable* table = NewTable("KdsTable1", "EMPLOYEE", kCdx);
    table->FieldDefs().Add("STALE", db::ftInteger);
    table->Open();
    ASSERT_EQ(table->FieldDefs().Count(), 2);
    EXPECT_EQ(table->FieldDefs()[0].Name(), "EMP_NO");
    EXPECT_EQ(table->FieldNamed("salary").FloatValue(), 100.5);
    EXPECT_EQ(table->FieldNamed("emp_no").StringValue(), "A1");
}

TEST_F(KdsDataSetTest, PropertiesThatDecideTheOpenRefuseToChangeWhileOpen) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"1"}});
    TKdsTable* table = NewTable("KdsTable1", "EMPLOYEE", kKdt);
    table->Open();
    const std::string openDataSet = "KdsTable1: Cannot perform this operation on an open dataset";
    const std::string mustNotBeActive = "KdsTable1: Table must not be Active.";
    EXPECT_EQ(KdsErrorOf([&] { table->SetTableName("OTHER"); }), openDataSet);
    EXPECT_EQ(KdsErrorOf([&] { table->SetTableType(kds::ttKdsCDX); }), openDataSet);
    EXPECT_EQ(KdsErrorOf([&] { table->SetDatabaseName("/elsewhere"); }), openDataSet);
    EXPECT_EQ(KdsErrorOf([&] { table->SetKdsConnection(nullptr); }), mustNotBeActive);
    EXPECT_EQ(KdsErrorOf([&] { table->KdsTableOptions().SetKdsCharType(kds::OEM); }),
              mustNotBeActive);
    EXPECT_EQ(KdsErrorOf([&] { table->KdsTableOptions().SetKdsLockType(kds::Compatible); }),
              mustNotBeActive);
    EXPECT_EQ(KdsErrorOf([&] { table->KdsTableOptions().SetKdsRightsCheck(false); }),
              mustNotBeActive);
    EXPECT_EQ(table->KdsTableOptions().KdsCharType(), kds::ANSI);
    // The dataset model's own check: a plain database error with the same text.
    try {
        table->SetExclusive(true);
        FAIL();
    } catch (const db::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), openDataSet);
    }
    EXPECT_FALSE(table->Exclusive());
    // Options read at each use change freely.
    table->KdsTableOptions().SetKdsFreshRecordCount(true);
    table->Close();
    table->KdsTableOptions().SetKdsCharType(kds::OEM);
    EXPECT_EQ(table->KdsTableOptions().KdsCharType(), kds::OEM);
}

TEST_F(KdsDataSetTest, DefinitionsBecomeStoredWhenChangedButNotWhenReadFromTheTable) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"1"}});
    TKdsTable* table = NewTable("KdsTable1", "EMPLOYEE", kKdt);
    table->Open();
    table->Close();
    EXPECT_FALSE(table->StoreDefs());
    table->FieldDefs().Add("EXTRA", db::ftInteger);
    EXPECT_TRUE(table->StoreDefs());
}

TEST_F(KdsDataSetTest, ClosingWhileDesignedEmptiesTheEngineCaches) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"1"}});
    ASSERT_EQ(KdsCacheOpenTables(4), 0u);
    ASSERT_EQ(KdsCacheOpenCursors(25), 0u);
    TKdsTable* table = NewTable("KdsTable1", "EMPLOYEE", kKdt);
    table->Open();
    table->Close();
    UNSIGNED16 tables = 0, cursors = 0;
    KdsGetCacheOpenTables(&tables);
    KdsGetCacheOpenCursors(&cursors);
    EXPECT_EQ(tables, 4);
    EXPECT_EQ(cursors, 25);
    table->SetDesigning(true);
    table->Open();
    table->Close();
    KdsGetCacheOpenTables(&tables);
    KdsGetCacheOpenCursors(&cursors);
    EXPECT_EQ(tables, 0);
    EXPECT_EQ(cursors, 0);
    KdsCacheOpenCursors(25);
}

TEST_F(KdsDataSetTest, TableNameChangeClearsTheIndexFilesOnlyWhenTheNameChanges) {
    TKdsTable table;
    table.SetTableName("EMPLOYEE");
    table.IndexFiles().Add("EMPLOYEE.CDX");
    table.SetTableName("EMPLOYEE");
    EXPECT_EQ(table.IndexFiles().Count(), 1);
    table.SetTableName("employee");
    EXPECT_EQ(table.IndexFiles().Count(), 0);
}

TEST_F(KdsDataSetTest, AReadOnlyConnectionOpensItsTablesReadOnly) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"1"}});
    auto* connection = new kds::TKdsConnection(&Owner());
    connection->SetName("KdsConnection1");
    connection->SetKdsServerTypes({kds::stKDS_LOCAL});
    connection->SetConnectPath(Dir());
    connection->SetReadOnly(true);
    auto* table = new TKdsTable(&Owner());
    table->SetName("KdsTable1");
    table->SetKdsConnection(connection);
    table->SetTableName("EMPLOYEE");
    table->Open();
    EXPECT_TRUE(table->ReadOnly());
    EXPECT_FALSE(table->IsModifiable());
    UNSIGNED32 options = 0;
    ASSERT_EQ(KdsGetTableOpenOptions(table->TableHandle(), &options), 0u);
    EXPECT_EQ(options & KCE_OPEN_READ_ONLY, static_cast<UNSIGNED32>(KCE_OPEN_READ_ONLY));
    table->Close();
    connection->Disconnect();
}

TEST_F(KdsDataSetTest, OpenOptionsFollowExclusiveAndReadOnly) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer");
    TKdsTable* table = NewTable("KdsTable1", "EMPLOYEE", kKdt);
    const std::pair<bool, bool> settings[] = {
        {false, false}, {true, false}, {false, true}, {true, true}};
    for (auto [exclusive, readOnly] : settings) {
        table->SetExclusive(exclusive);
        table->SetReadOnly(readOnly);
        table->Open();
        UNSIGNED32 options = 0;
        ASSERT_EQ(KdsGetTableOpenOptions(table->TableHandle(), &options), 0u);
        EXPECT_EQ(options, (exclusive ? 1u : 0u) + (readOnly ? 2u : 0u));
        EXPECT_EQ(table->IsModifiable(), !readOnly);
        table->Close();
    }
}

TEST_F(KdsDataSetTest, TableExistsLooksForTheFileOfTheTableType) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer");
    MakeTable("CAREER", kNtx, "EMP_NO,numeric,6,0");
    TKdsTable* table = NewTable("KdsTable1", "", kKdt);
    EXPECT_FALSE(table->TableExists());
    table->SetTableName("EMPLOYEE");
    EXPECT_TRUE(table->TableExists());
    table->SetTableName("CAREER");
    EXPECT_FALSE(table->TableExists());
    table->SetTableType(kds::ttKdsNTX);
    EXPECT_TRUE(table->TableExists());
    table->SetTableName("CAREER.DBF");
    EXPECT_TRUE(table->TableExists());
}

TEST_F(KdsDataSetTest, RefusedOperationsAndVersion) {
    TKdsTable* table = NewTable("KdsTable1", "EMPLOYEE", kKdt);
    EXPECT_EQ(KdsErrorOf([&] { table->BatchMove(); }),
              "KdsTable1: The method BatchMove in TKdsDataSet is not supported.");
    EXPECT_EQ(KdsErrorOf([&] { table->RenameTable(); }),
              "KdsTable1: The method RenameTable in TKdsDataSet is not supported.");
    EXPECT_EQ(KdsErrorOf([&] { table->UpdateStatus(); }),
              "KdsTable1: The method UpdateStatus in TKdsDataSet is not supported.");
    std::string version = table->Version();
    EXPECT_EQ(version, "6.11 (" + kds::EngineVersionText() + ")");
    table->SetVersion("anything");
    EXPECT_EQ(table->Version(), version);
}

TEST_F(KdsDataSetTest, OpeningAnOpenCursorAgainIsRefused) {
    MakeTable("EMPLOYEE", kKdt, "EMP_NO,integer", {{"1"}});
    TKdsTable* table = NewTable("KdsTable1", "EMPLOYEE", kKdt);
    table->Open();
    // The dataset model opens the cursor once; a second open of the cursor itself is refused.
    struct Opener : TKdsTable {
        static void OpenAgain(TKdsTable& t) { (t.*(&Opener::CursorOpen))(); }
    };
    EXPECT_EQ(KdsErrorOf([&] { Opener::OpenAgain(*table); }), "KdsTable1: Table is already open.");
    EXPECT_TRUE(table->Active());
}

}  // namespace
