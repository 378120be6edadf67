// The data-access components of the main window: what start-up leaves them holding, and that
// closing the window leaves no engine handle open. The tables are real engine tables in a drive
// folder of their own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/updatebank.h"
#include "gui/application.h"
#include "gui/headless.h"
#include "kds/kdsengine.h"
#include "rtl/exceptions.h"
#include "rtl/formatsettings.h"
#include "rtl/paths.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kStartingFolder = "D:\\UPDATEBANK\\DATA\\QX8";
constexpr const char* kCareerFolder = "C:\\Users\\Public\\Documents\\UPDATEBANK\\CAREER";
constexpr const char* kCodeTableLayout =
    "CODE:String:8 FIELDTYPE:String:3 FORMULA_CODE:String:5 COL_FROM:Integer COL_TO:Integer "
    "DESC:String:40 VALUE:String:40 FORMAT:String:20 TRIMFUNCTION:String:3 DELIMITER:String:4";

std::string FieldLayout(const db::TFieldDefs& defs) {
    std::string text;
    for (int i = 0; i < defs.Count(); ++i) {
        const db::TFieldDef& d = defs[i];
        if (!text.empty()) text += ' ';
        text += d.Name() + ":" + db::FieldTypeName(d.DataType());
        if (d.Size() != 0) text += ":" + std::to_string(d.Size());
    }
    return text;
}

std::string IndexLayout(const db::TIndexDefs& defs) {
    std::string text;
    for (int i = 0; i < defs.Count(); ++i) {
        const db::TIndexDef& d = defs[i];
        if (!text.empty()) text += ' ';
        text += d.Name() + "(" + d.Fields() + ")";
        if (d.Options() == db::TIndexOptions{db::ixUnique}) {
            text += "!";
        } else if (!d.Options().empty()) {
            text += "?";
        }
    }
    return text;
}

// Drives C and D in a temporary folder, and the program's date settings put back afterwards.
class WindowComponents : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "form1-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        for (const char* drive : {"C", "D"}) {
            fs::create_directories(root_ / drive);
            std::string variable = std::string("UPDATEBANK_DRIVE_") + drive;
            const char* old = std::getenv(variable.c_str());
            saved_env_.emplace_back(variable, old ? std::optional<std::string>(old) : std::nullopt);
            ::setenv(variable.c_str(), (root_ / drive).c_str(), 1);
        }
        auto backend = std::make_unique<gui::HeadlessBackend>();
        gui::Application().Initialize(std::move(backend));
    }
    void TearDown() override {
        gui::Application().Reset();
        rtl::SetFormatSettings(saved_format_);
        for (const auto& [variable, value] : saved_env_) {
            if (value) {
                ::setenv(variable.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(variable.c_str());
            }
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Makes an empty table with the engine's own calls, the way the table tool does.
    static void MakeTable(const std::string& folder, const std::string& name, UNSIGNED16 type,
                          const std::string& fields) {
        ASSERT_TRUE(rtl::ForceDirectories(folder));
        KDSHANDLE connection = 0;
        ASSERT_EQ(KdsConnect(kds::KceText(folder), &connection), 0u);
        KDSHANDLE table = 0;
        KCESTATUS created = KdsCreateTable(connection, kds::KceText(folder + "\\" + name), type, 1,
                                           kds::KceText(fields), 0, &table);
        if (created == 0) {
            EXPECT_EQ(KdsCloseTable(table), 0u);
        }
        EXPECT_EQ(KdsDisconnect(connection), 0u);
        ASSERT_EQ(created, 0u) << name;
    }

    fs::path root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_env_;
    rtl::TFormatSettings saved_format_ = rtl::FormatSettings();
};

TEST_F(WindowComponents, StartUpConnectsNothingAndOpensNothing) {
    app::TForm1 form(nullptr);
    for (kds::TKdsConnection* connection : {form.KdsConnection1, form.KdsConnection2}) {
        SCOPED_TRACE(connection->Name());
        EXPECT_FALSE(connection->IsConnected());
        EXPECT_EQ(connection->ConnectionHandle(), 0u);
        EXPECT_EQ(connection->Owner(), &form);
        EXPECT_FALSE(connection->IsLoading());
    }
    for (kds::TKdsTable* table :
         {form.KdsTable1, form.KdsTable2, form.KdsTableEmp, form.KdsTableMisc, form.KdsTableDBF}) {
        SCOPED_TRACE(table->Name());
        EXPECT_FALSE(table->Active());
        EXPECT_EQ(table->TableHandle(), kds::kNoKdsHandle);
        EXPECT_EQ(table->Owner(), &form);
        EXPECT_FALSE(table->IsLoading());
    }
    EXPECT_EQ(kds::EngineOpenTableCount(), 0);
}

TEST_F(WindowComponents, ComponentsAreCreatedInTheirStoredOrder) {
    app::TForm1 form(nullptr);
    std::vector<std::string> names;
    for (int i = 18; i < form.ComponentCount(); ++i) names.push_back(form.Components(i)->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"DataSource1", "KdsConnection1", "KdsTable1",
                                               "KdsTable2", "KdsConnection2", "KdsTableEmp",
                                               "KdsTableMisc", "KdsTableDBF", "KdsSettings1"}));
    EXPECT_EQ(form.DataSource1->DataSet(), form.KdsTable1);
}

TEST_F(WindowComponents, ConnectionsHoldTheirStoredValues) {
    app::TForm1 form(nullptr);
    struct Expected {
        kds::TKdsConnection* connection;
        const char* connectPath;
    };
    for (const Expected& e : {Expected{form.KdsConnection1, kStartingFolder},
                              Expected{form.KdsConnection2, "C:\\TEMP"}}) {
        const kds::TKdsConnection& c = *e.connection;
        SCOPED_TRACE(c.Name());
        EXPECT_EQ(c.ConnectPath(), e.connectPath);
        EXPECT_EQ(c.AliasName(), "");
        EXPECT_FALSE(c.IsDictionaryConnection());
        EXPECT_EQ(c.KdsServerTypes(), (kds::TKdsServerTypes{kds::stKDS_REMOTE, kds::stKDS_LOCAL}));
        EXPECT_FALSE(c.LoginPrompt());
        EXPECT_EQ(c.Username(), "QUORIXAN8");
        EXPECT_EQ(c.Password(), "BRAMQUELTOV");
        EXPECT_FALSE(c.MiddleTierConnection());
        EXPECT_FALSE(c.StoredProcedureConnection());
        EXPECT_FALSE(c.ReadOnly());
        EXPECT_FALSE(c.StoreConnected());
    }
}

TEST_F(WindowComponents, TablesHoldTheirStoredValues) {
    app::TForm1 form(nullptr);
    const std::string careerLayout =
        "EMPLOYEECO:String:13 EFFECTIVED:Date COMPANYCOD:String:13 DIVISIONCO:String:13 "
        "DEPARTMENT:String:13 COSTCENTRE:String:13 DESIGNATIO:String:13 LEAVEGRADE:String:13 "
        "FIXEDBASIC:Float VARIABLEBA:Float CHANGEREAS:String:13 UPDATETO:String:13 "
        "LASTUPDATE:Date LASTUSER:String:13";
    struct Expected {
        kds::TKdsTable* table;
        kds::TKdsConnection* connection;
        std::string databaseName, databasePath, tableName;
        kds::TKdsTableTypes tableType;
        bool exclusive, filtered;
        std::string indexFieldNames, fields, indexes;
    };
    const Expected cases[] = {
        {form.KdsTable1, form.KdsConnection1, "KdsConnection1", kStartingFolder, "OUTDSK_D.KDT",
         kds::ttKdsKDT, false, true, "", kCodeTableLayout, "PRIMARY(CODE;FIELDTYPE)!"},
        {form.KdsTable2, form.KdsConnection2, "KdsConnection2", "C:\\TEMP", "OUTDSK_D.KDT",
         kds::ttKdsKDT, true, false, "", kCodeTableLayout, "PRIMARY(CODE;FIELDTYPE)!"},
        {form.KdsTableEmp, form.KdsConnection1, "KdsConnection1", kStartingFolder, "EMP_PROS.KDT",
         kds::ttKdsKDT, false, false, "EMP_CODE;PAY_EFFECTIVE_DATE;ID", "(employee layout, below)",
         "PRIMARY(EMP_CODE;PAY_EFFECTIVE_DATE;ID)! PROINDE2(EMP_CODE;CODE) PROINDE3(EMP_CODE;ID) "
         "PROSINDEX(EMP_CODE;PROGRESSION_DATE) EMPLOYEE(EMP_CODE)"},
        {form.KdsTableMisc, form.KdsConnection1, "KdsConnection1", kStartingFolder, "EMPMISC.KDT",
         kds::ttKdsKDT, false, false, "EMP_NO", kCodeTableLayout,
         "EMPLOYEE(EMP_NO)! EMPNAME(EMP_NAME) FUNDNO(FUND_AC_NO)"},
        {form.KdsTableDBF, form.KdsConnection2, kCareerFolder, kCareerFolder, "TBLCAREE",
         kds::ttKdsCDX, false, false, "EMPLOYEECO;EFFECTIVED", careerLayout,
         "EMPLOYEECO(EMPLOYEECO;EFFECTIVED)"},
    };
    for (const Expected& e : cases) {
        kds::TKdsTable& t = *e.table;
        SCOPED_TRACE(t.Name());
        EXPECT_EQ(t.KdsConnection(), e.connection);
        EXPECT_EQ(t.DatabaseName(), e.databaseName);
        EXPECT_EQ(t.DatabasePath(), e.databasePath);
        EXPECT_EQ(t.TableName(), e.tableName);
        EXPECT_EQ(t.TableType(), e.tableType);
        EXPECT_EQ(t.Exclusive(), e.exclusive);
        EXPECT_FALSE(t.ReadOnly());
        EXPECT_EQ(t.Filtered(), e.filtered);
        EXPECT_EQ(t.Filter(), "");
        EXPECT_EQ(t.IndexName(), "");
        EXPECT_EQ(t.IndexFieldNames(), e.indexFieldNames);
        EXPECT_TRUE(t.StoreActive());
        EXPECT_TRUE(t.StoreDefs());
        if (&t != form.KdsTableEmp) {
            EXPECT_EQ(FieldLayout(t.FieldDefs()), e.fields);
        }
        EXPECT_EQ(IndexLayout(t.IndexDefs()), e.indexes);
    }
    // Connections keep their tables in the order the tables were stored.
    ASSERT_EQ(form.KdsConnection1->DataSetCount(), 3);
    EXPECT_EQ(form.KdsConnection1->DataSets(0), form.KdsTable1);
    EXPECT_EQ(form.KdsConnection1->DataSets(2), form.KdsTableMisc);
    ASSERT_EQ(form.KdsConnection2->DataSetCount(), 2);
    EXPECT_EQ(form.KdsConnection2->DataSets(0), form.KdsTable2);
    EXPECT_EQ(form.KdsConnection2->DataSets(1), form.KdsTableDBF);
}

TEST_F(WindowComponents, EmployeeTableHoldsTheEmployeeMasterLayout) {
    app::TForm1 form(nullptr);
    const db::TFieldDefs& defs = form.KdsTableEmp->FieldDefs();
    ASSERT_EQ(defs.Count(), 205);
    struct Field {
        int position;
        const char* name;
        db::TFieldType type;
        int size;
    };
    // The first and last fields, one of every type, and the name spelled with a digit zero.
    const Field spots[] = {
        {0, "EMP_NO", db::ftString, 12},           {5, "CHANGE_DATE", db::ftDate, 0},
        {6, "BASE_WAGE", db::ftCurrency, 0},       {10, "NTL_VAR_PERCENT", db::ftFloat, 0},
        {42, "DEPENDENT_CHILD", db::ftInteger, 0}, {58, "EDUCATION_C0DE", db::ftString, 8},
        {124, "PHOTO_ID", db::ftBlob, 0},          {204, "CVP_SCHEME", db::ftString, 1},
    };
    for (const Field& f : spots) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(defs[f.position].Name(), f.name);
        EXPECT_EQ(defs[f.position].DataType(), f.type);
        EXPECT_EQ(defs[f.position].Size(), f.size);
    }
}

TEST_F(WindowComponents, StoredValuesOfTheWrongKindAreRefusedByName) {
    app::RegisterDataAccessClasses();
    struct Case {
        gui::TComponentDef component;
        std::string message;
    };
    const Case cases[] = {
        {{"TKdsTable", "T", {{"TableType", gui::TIdent{"ttKdsDBF"}}}},
         "Error reading T.TableType: Invalid property value"},
        {{"TKdsTable",
          "T",
          {{"FieldDefs",
            gui::TCollectionValue{{{{"Name", "A"}, {"DataType", gui::TIdent{"ftText"}}}}}}}},
         "Error reading T.FieldDefs: Invalid property value"},
        {{"TKdsTable",
          "T",
          {{"IndexDefs", gui::TCollectionValue{{{{"Name", "I"}, {"Unique", true}}}}}}},
         "Error reading T.IndexDefs: Property Unique does not exist"},
        {{"TKdsConnection",
          "C",
          {{"KdsServerTypes", gui::TSetValue{{"stKDS_LOCAL", "stKDS_LAN"}}}}},
         "Error reading C.KdsServerTypes: Invalid property value"},
        {{"TKdsTable", "T", {{"KdsConnection", "C"}}},
         "Error reading T.KdsConnection: Invalid property value"},
        {{"TDataSource", "S", {{"DataSet", gui::TComponentRef{"Missing"}}}},
         "Invalid property value: no component Missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        gui::TForm form(nullptr);
        gui::TFormDef definition{"TForm", "F", {}, {c.component}};
        try {
            gui::ReadForm(form, definition);
            ADD_FAILURE() << "read without an error";
        } catch (const rtl::EReadError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST_F(WindowComponents, TablesOpenFromTheStoredFoldersAndClosingTheWindowReleasesEverything) {
    const std::string codeFields =
        "CODE,char,8;FIELDTYPE,char,3;FORMULA_CODE,char,5;COL_FROM,integer;COL_TO,integer;"
        "DESC,char,40;VALUE,char,40;FORMAT,char,20;TRIMFUNCTION,char,3;DELIMITER,char,4";
    MakeTable(kStartingFolder, "OUTDSK_D.KDT", 3, codeFields);
    MakeTable("C:\\TEMP", "OUTDSK_D.KDT", 3, codeFields);
    MakeTable(kCareerFolder, "TBLCAREE", 2, "EMPLOYEECO,char,13;EFFECTIVED,date;FIXEDBASIC,double");

    auto form = std::make_unique<app::TForm1>(nullptr);
    // No command has set a folder yet: each table opens from where the window's definition
    // leaves it.
    form->KdsTable1->Open();
    form->KdsTable2->Open();
    // The career table made here has no index for the stored order.
    form->KdsTableDBF->SetIndexFieldNames("");
    form->KdsTableDBF->Open();
    EXPECT_TRUE(form->KdsConnection1->IsConnected());
    EXPECT_TRUE(form->KdsConnection2->IsConnected());
    EXPECT_EQ(form->KdsTableDBF->FieldDefs().Count(), 3);
    EXPECT_EQ(kds::EngineOpenTableCount(), 3);

    std::vector<KDSHANDLE> connections{form->KdsConnection1->ConnectionHandle(),
                                       form->KdsConnection2->ConnectionHandle()};
    form.reset();
    EXPECT_EQ(kds::EngineOpenTableCount(), 0);
    for (KDSHANDLE handle : connections) {
        UNSIGNED16 type = 0;
        EXPECT_NE(KdsGetConnectionType(handle, &type), 0u) << "connection " << handle << " open";
    }
}

}  // namespace
