// The commands of the hidden buttons, run on the window built over the headless backend, on real
// tables in the folders the stored definition names (drives C: and D: mapped into a folder of the
// test's own). Results are read back through table components of their own after the window is
// gone.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/updatebank.h"
#include "gui/application.h"
#include "gui/headless.h"
#include "rtl/formatsettings.h"
#include "tests/kds/edit_tables.h"
#include "tests/support/processes.h"
#include "tests/support/scoped.h"

namespace {

namespace fs = std::filesystem;
using kdstest::IndexSpec;
using kdstest::kCdx;
using kdstest::kNative;
using kdstest::MakeTable;
using kdstest::Row;
using Lines = std::vector<std::string>;

const char* const kCodeFields =
    "CODE,char,8;FIELDTYPE,char,3;FORMULA_CODE,char,5;COL_FROM,integer;COL_TO,integer;"
    "DESC,char,40;VALUE,char,40;FORMAT,char,20;TRIMFUNCTION,char,3;DELIMITER,char,4";

Row CodeRow(const char* code, const char* fieldType, const char* desc) {
    return {{"CODE", code},    {"FIELDTYPE", fieldType}, {"FORMULA_CODE", "F"},
            {"COL_FROM", "1"}, {"COL_TO", "9"},          {"DESC", desc},
            {"VALUE", "V"},    {"FORMAT", "FMT"},        {"TRIMFUNCTION", "TR"},
            {"DELIMITER", ";"}};
}

class HiddenCommands : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.Set("UPDATEBANK_DRIVE_C", (root_ / "c").string());
        env_.Set("UPDATEBANK_DRIVE_D", (root_ / "d").string());
        for (const fs::path& folder : {data_, temp_, career_}) fs::create_directories(folder);
        auto backend = std::make_unique<gui::HeadlessBackend>();
        backend_ = backend.get();
        gui::Application().Initialize(std::move(backend));
        form_ = std::make_unique<app::TForm1>(nullptr);
    }
    void TearDown() override {
        form_.reset();
        gui::Application().Reset();
        rtl::SetFormatSettings(saved_);
    }

    // Runs a handler as the message loop does; an error it raises is shown in an error box.
    template <typename Handler>
    void Click(Handler handler) {
        gui::Application().Dispatch([&] { (form_.get()->*handler)(nullptr); });
    }
    std::vector<std::string> Errors() const {
        std::vector<std::string> errors;
        for (const gui::HeadlessEvent& e : backend_->Events())
            if (e.kind == gui::HeadlessEvent::kError) errors.push_back(e.text);
        return errors;
    }

    // Closes the window (every table and connection), then reads the table: one line per
    // record, the fields joined with "|", in the order given (natural order when empty).
    Lines Records(const fs::path& folder, const std::string& table,
                  const std::vector<std::string>& fields, const std::string& order = "",
                  const kdstest::StorageKind& kind = kNative) {
        form_.reset();
        auto t = kdstest::TableOn(folder.string(), table, kind, "Reader");
        t->SetIndexFieldNames(order);
        t->Open();
        Lines lines;
        for (t->First(); !t->AtEOF(); t->Next()) {
            std::string line;
            for (const std::string& f : fields) {
                line += (line.empty() ? "" : "|") + t->FieldNamed(f).StringValue();
            }
            lines.push_back(line);
        }
        return lines;
    }

    testsupport::ScopedEnvironment env_;
    testsupport::ScopedTempDir root_{"updatebank-hidden"};
    // The stored folders of KdsConnection1, KdsConnection2 and KdsTableDBF.
    fs::path data_ = root_ / "d/UPDATEBANK/DATA/QX8";
    fs::path temp_ = root_ / "c/TEMP";
    fs::path career_ = root_ / "c/Users/Public/Documents/UPDATEBANK/CAREER";
    gui::HeadlessBackend* backend_ = nullptr;
    std::unique_ptr<app::TForm1> form_;
    rtl::TFormatSettings saved_ = rtl::FormatSettings();
};

// ---- Code tables ---------------------------------------------------------------------------

// Button5Click copies every source row under JPM unless the target has the key; the second run
// adds nothing. Two source rows of one FIELDTYPE give one row, from the first.
TEST_F(HiddenCommands, Button5CopiesNewKeysOnce) {
    MakeTable(data_.string(), "OUTDSK_D", kNative, kCodeFields,
              {CodeRow("PAY", "A", "first A"), CodeRow("LOGIS", "B", "B"),
               CodeRow("OTHER", "A", "second A")});
    MakeTable(temp_.string(), "OUTDSK_D", kNative, kCodeFields, {CodeRow("JPM", "B", "kept")},
              {IndexSpec("PRIMARY", "CODE;FIELDTYPE", KCE_INDEX_UNIQUE)});
    form_->KdsTable2->SetIndexName("PRIMARY");
    Click(&app::TForm1::Button5Click);
    Click(&app::TForm1::Button5Click);
    EXPECT_EQ(Errors(), Lines{});
    EXPECT_EQ(Records(temp_, "OUTDSK_D.KDT",
                      {"CODE", "FIELDTYPE", "FORMULA_CODE", "COL_FROM", "COL_TO", "DESC", "VALUE",
                       "FORMAT", "TRIMFUNCTION", "DELIMITER"}),
              (Lines{"JPM|B|F|1|9|kept|V|FMT|TR|;", "JPM|A|F|1|9|first A|V|||"}));
}

TEST_F(HiddenCommands, Button6CopiesTheWiderFieldList) {
    MakeTable(data_.string(), "OUTDSK_D", kNative, kCodeFields,
              {CodeRow("PAY", "A", "first A"), CodeRow("OTHER", "A", "second A"),
               CodeRow("LOGIS", "B", "B")});
    MakeTable(temp_.string(), "OUTDSK_D", kNative, kCodeFields, {},
              {IndexSpec("PRIMARY", "CODE;FIELDTYPE", KCE_INDEX_UNIQUE)});
    form_->KdsTable2->SetIndexName("PRIMARY");
    Click(&app::TForm1::Button6Click);
    EXPECT_EQ(Errors(), Lines{});
    EXPECT_EQ(Records(temp_, "OUTDSK_D", {"CODE", "FIELDTYPE", "DESC", "FORMAT", "DELIMITER"},
                      "CODE;FIELDTYPE"),
              (Lines{"BNP3|A|first A|FMT|;", "BNP3|B|B|FMT|;"}));
}

// Without an order on the target the key search is refused: the command ends with that error
// and appends nothing.
TEST_F(HiddenCommands, Button5WithoutATargetOrderEndsWithTheError) {
    MakeTable(data_.string(), "OUTDSK_D", kNative, kCodeFields, {CodeRow("PAY", "A", "A")});
    MakeTable(temp_.string(), "OUTDSK_D", kNative, kCodeFields);
    Click(&app::TForm1::Button5Click);
    EXPECT_EQ(Errors().size(), 1u);
    EXPECT_EQ(Records(temp_, "OUTDSK_D", {"CODE"}), Lines{});
}

// Button11Click copies only the LOGIS rows of OUTGL_D: the source component is Filtered from
// the window's definition, and the filter it sets really restricts the walk.
TEST_F(HiddenCommands, Button11CopiesOnlyTheLogisRows) {
    const std::string fields = std::string(kCodeFields) + ";DATATYPE,char,2;CELL,char,6";
    auto row = [](const char* code, const char* type, const char* cell) {
        Row r = CodeRow(code, type, code);
        r["DATATYPE"] = "N";
        r["CELL"] = cell;
        return r;
    };
    MakeTable(data_.string(), "OUTGL_D", kNative, fields,
              {row("PAY", "A", "A1"), row("LOGIS", "B", "B2"), row("logis", "C", "C3"),
               row("LOGIS", "D", "D4")},
              {IndexSpec("PRIMARY", "CODE;FIELDTYPE", KCE_INDEX_UNIQUE)});
    MakeTable(temp_.string(), "OUTGL_D", kNative, fields, {},
              {IndexSpec("PRIMARY", "CODE;FIELDTYPE", KCE_INDEX_UNIQUE)});
    Click(&app::TForm1::Button11Click);
    EXPECT_EQ(Errors(), Lines{});
    EXPECT_EQ(form_->KdsTable1->Filter(), "CODE='LOGIS'");
    EXPECT_EQ(Records(temp_, "OUTGL_D", {"CODE", "FIELDTYPE", "DESC", "DATATYPE", "CELL"}),
              (Lines{"TEST|B|LOGIS|N|B2", "TEST|D|LOGIS|N|D4"}));
}

// Button2Click searches nothing: every run appends every source row again.
TEST_F(HiddenCommands, Button2AppendsEveryRowEachRun) {
    const char* fields =
        "FIELDNAME,char,20;FIELDTYPE,char,3;TABLENAME,char,20;DESCR,char,20;RECTYPE,char,2;"
        "FORMULACODE,char,5;SEQ,integer";
    MakeTable(data_.string(), "OUTDSK_D", kNative, fields,
              {{{"FIELDNAME", "EMP_NO"}, {"TABLENAME", "EMPLOYEE"}, {"SEQ", "1"}},
               {{"FIELDNAME", "EMP_NAME"}, {"DESCR", "Name"}, {"SEQ", "2"}}});
    MakeTable(temp_.string(), "OUTDSK_D", kNative, std::string(fields) + ";ID,char,4");
    Click(&app::TForm1::Button2Click);
    Click(&app::TForm1::Button2Click);
    EXPECT_EQ(Errors(), Lines{});
    EXPECT_EQ(Records(temp_, "OUTDSK_D", {"FIELDNAME", "TABLENAME", "DESCR", "ID", "SEQ"}),
              (Lines{"EMP_NO|EMPLOYEE||TLS|1", "EMP_NAME||Name|TLS|2", "EMP_NO|EMPLOYEE||TLS|1",
                     "EMP_NAME||Name|TLS|2"}));
}

// The four handlers without a command change nothing, open nothing and show nothing.
TEST_F(HiddenCommands, FourHandlersDoNothing) {
    MakeTable(data_.string(), "OUTDSK_D", kNative, kCodeFields, {CodeRow("PAY", "A", "A")});
    MakeTable(temp_.string(), "OUTDSK_D", kNative, kCodeFields);
    for (auto handler : {&app::TForm1::Button1Click, &app::TForm1::Button3Click,
                         &app::TForm1::Button7Click, &app::TForm1::Button10Click}) {
        Click(handler);
    }
    EXPECT_TRUE(backend_->Events().empty());
    EXPECT_FALSE(form_->KdsTable1->Active());
    EXPECT_FALSE(form_->KdsConnection1->IsConnected());
    EXPECT_EQ(Records(temp_, "OUTDSK_D", {"CODE"}), Lines{});
}

// ---- Employee data -------------------------------------------------------------------------

// Button4Click empties EMPLOYEE1 and copies every EMPLOYEE field but the photo.
TEST_F(HiddenCommands, Button4CopiesEmployeesWithoutPhotos) {
    const char* fields = "EMP_NO,char,12;EMP_NAME,char,40;SALARY,money;PHOTO_ID,binary";
    MakeTable(data_.string(), "EMPLOYEE", kNative, fields,
              {{{"EMP_NO", "E1"}, {"EMP_NAME", "Ann"}, {"SALARY", "12.5"}, {"PHOTO_ID", "jpg"}},
               {{"EMP_NO", "E2"}, {"EMP_NAME", "Bob"}}});
    MakeTable(temp_.string(), "EMPLOYEE1", kNative, fields, {{{"EMP_NO", "OLD"}}});
    Click(&app::TForm1::Button4Click);
    EXPECT_EQ(Errors(), Lines{});
    EXPECT_EQ(Records(temp_, "EMPLOYEE1", {"EMP_NO", "EMP_NAME", "SALARY", "PHOTO_ID"}),
              (Lines{"E1|Ann|12.5|", "E2|Bob||"}));
}

// Button8Click from the current record on: spare fields, the pay-type rule, the misc record.
TEST_F(HiddenCommands, Button8FixesPayTypes) {
    struct Case {
        const char* payType;
        const char* remark2;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"SE", "NBAR", "SN"}, {"SE", "X", "SE"},    {"SN", "X", "SE"}, {"SN", "NBAR", "SN"},
        {"SN", "nbar", "SE"}, {"HR", "NBAR", "HR"}, {"", "NBAR", ""}};
    std::vector<Row> employees;
    Lines expected;
    for (size_t i = 0; i < cases.size(); ++i) {
        const std::string no = "E" + std::to_string(i);
        employees.push_back({{"EMP_NO", no},
                             {"BATCH_NO", "B" + no},
                             {"MESSAGE1", "M" + no},
                             {"PAY_TYPE", cases[i].payType},
                             {"REMARK1", "R" + no},
                             {"REMARK2", cases[i].remark2}});
        expected.push_back(no + "|B" + no + "|M" + no + "|" + cases[i].expected);
    }
    MakeTable(data_.string(), "EMPLOYEE", kNative,
              "EMP_NO,char,12;BATCH_NO,char,12;MESSAGE1,char,50;PAY_TYPE,char,8;REMARK1,char,30;"
              "REMARK2,char,30;LEAVE_SCHEME,char,8;DOBCTRY,char,8",
              employees, {IndexSpec("BYNO", "EMP_NO", KCE_INDEX_UNIQUE)});
    MakeTable(data_.string(), "EMPMISC", kNative, "EMP_NO,char,12;CHAR1,char,30",
              {{{"EMP_NO", "E1"}}, {{"EMP_NO", "E9"}, {"CHAR1", "kept"}}},
              {IndexSpec("EMPLOYEE", "EMP_NO", KCE_INDEX_UNIQUE)});
    form_->KdsTableEmp->SetTableName("EMPLOYEE");
    form_->KdsTableEmp->SetIndexFieldNames("EMP_NO");
    Click(&app::TForm1::Button8Click);
    EXPECT_EQ(Errors(), Lines{});
    EXPECT_EQ(Records(data_, "EMPMISC", {"EMP_NO", "CHAR1"}), (Lines{"E1|RE1", "E9|kept"}));
    EXPECT_EQ(Records(data_, "EMPLOYEE", {"EMP_NO", "LEAVE_SCHEME", "DOBCTRY", "PAY_TYPE"}),
              expected);
}

// Button13Click numbers IMPORT2's fields into the emptied IMPORT of the folders in the edits.
TEST_F(HiddenCommands, Button13MapsTheFieldsOfImport2) {
    const fs::path one = root_ / "one", two = root_ / "two";
    fs::create_directories(one);
    fs::create_directories(two);
    MakeTable(one.string(), "IMPORT2", kNative, "A,char,1;B,integer;C,date", {{{"A", "x"}}});
    MakeTable(two.string(), "IMPORT", kNative,
              "SECTION,char,10;NO,char,4;MAPFIELD3,char,20;FIELD NAME,char,10",
              {{{"SECTION", "OLD"}}});
    form_->Edit1->SetText(one.string());
    form_->Edit2->SetText(two.string());
    Click(&app::TForm1::Button13Click);
    EXPECT_EQ(Errors(), Lines{});
    EXPECT_EQ(Records(two, "IMPORT", {"SECTION", "NO", "MAPFIELD3", "FIELD NAME"}),
              (Lines{"EMPLOYEE|0|A|DUMMY", "EMPLOYEE|1|B|DUMMY", "EMPLOYEE|2|C|DUMMY"}));
}

// ---- The career import ---------------------------------------------------------------------

struct CareerRow {
    const char* employee;
    const char* effective;  // YYYYMMDD
    const char* tag;        // the position codes of the row end in it
    const char* basic;
};

// TBLCAREE as a CDX table in `folder`, its tag EMPLOYEECO on "EMPLOYEECO;EFFECTIVED": made by
// the engine, or written by python3-dbf and then indexed by the engine.
void MakeCareerTable(const fs::path& folder, const std::vector<CareerRow>& rows, bool byPython) {
    const char* const positions[] = {"COMPANYCOD", "DIVISIONCO", "DEPARTMENT",
                                     "COSTCENTRE", "DESIGNATIO", "LEAVEGRADE"};
    if (!byPython) {
        std::vector<Row> records;
        for (const CareerRow& r : rows) {
            Row record{
                {"EMPLOYEECO", r.employee}, {"EFFECTIVED", r.effective}, {"FIXEDBASIC", r.basic}};
            for (const char* f : positions) record[f] = std::string(f).substr(0, 3) + r.tag;
            records.push_back(record);
        }
        std::string fields = "EMPLOYEECO,char,13;EFFECTIVED,date";
        for (const char* f : positions) fields += std::string(";") + f + ",char,13";
        fields += ";FIXEDBASIC,numeric,14,5";
        MakeTable(folder.string(), "TBLCAREE", kCdx, fields, records,
                  {IndexSpec("EMPLOYEECO", "EMPLOYEECO;EFFECTIVED")});
        return;
    }
    std::string script =
        "import dbf, datetime, sys\n"
        "t = dbf.Table(sys.argv[1], 'EMPLOYEECO C(13); EFFECTIVED D; COMPANYCOD C(13); "
        "DIVISIONCO C(13); DEPARTMENT C(13); COSTCENTRE C(13); DESIGNATIO C(13); "
        "LEAVEGRADE C(13); FIXEDBASIC N(14,5)', dbf_type='db3')\n"
        "t.open(dbf.READ_WRITE)\n";
    for (const CareerRow& r : rows) {
        std::string e = r.effective;
        script += std::string("t.append(('") + r.employee + "', datetime.date(" + e.substr(0, 4) +
                  ", " + std::to_string(std::stoi(e.substr(4, 2))) + ", " +
                  std::to_string(std::stoi(e.substr(6, 2))) + ")";
        for (const char* f : positions) script += ", '" + std::string(f).substr(0, 3) + r.tag + "'";
        script += std::string(", ") + r.basic + "))\n";
    }
    script += "t.close()\n";
    testsupport::Result made = testsupport::RunProgram(
        {"/usr/bin/python3", "-c", script, (folder / "TBLCAREE.dbf").string()});
    ASSERT_EQ(made.status, 0) << made.err;
    KDSHANDLE connection = 0, table = 0, index = 0;
    ASSERT_EQ(KdsConnect(kdstest::U(folder.string()), &connection), 0u);
    ASSERT_EQ(KdsOpenTable(connection, kdstest::U("TBLCAREE"), nullptr, kCdx.engineType, 1, 1, 1, 0,
                           &table),
              0u);
    EXPECT_EQ(KdsCreateIndex(table, nullptr, kdstest::U("EMPLOYEECO"),
                             kdstest::U("EMPLOYEECO;EFFECTIVED"), nullptr, 0, &index),
              0u);
    KdsCloseTable(table);
    KdsDisconnect(connection);
}

const char* const kMasterFields =
    "EMP_NO,char,12;CATEGORY_CODE,char,8;JOB_GRADE_CODE,char,8;COMPANY_CODE,char,8;"
    "OCCUPATION_CODE,char,8;SECTION_CODE,char,8;COST_CENTRE_CODE,char,8;DEPARTMENT_CODE,char,8;"
    "LEAVE_SCHEME,char,8";
const char* const kProgressionFields =
    "CODE,char,8;EMP_CODE,char,12;PROGRESSION_DATE,date;PAY_EFFECTIVE_DATE,date;SECTION,char,8;"
    "COMPANY,char,8;DEPARTMENT,char,8;COST_CENTRE,char,8;OCCUPATION,char,8;LEAVE_TYPE,char,8;"
    "GRADE,char,8;JOBGRADE,char,8;SALTYPE,char,1;PERCENT,numeric,6,2;NEW_SALARY,money;"
    "OLD_SALARY,money;INCREMENT_AMT,money;CATEGORY,char,8;ID,autoinc";

class CareerImport : public HiddenCommands, public ::testing::WithParamInterface<bool> {
  protected:
    void MakeTables(const std::vector<CareerRow>& career) {
        MakeCareerTable(career_, career, GetParam());
        MakeTable(data_.string(), "EMPLOYEE", kNative, kMasterFields,
                  {{{"EMP_NO", "E1"}, {"CATEGORY_CODE", "CAT1"}, {"JOB_GRADE_CODE", "JG1"}},
                   {{"EMP_NO", "E2"}, {"CATEGORY_CODE", "CAT2"}, {"JOB_GRADE_CODE", "JG2"}},
                   {{"EMP_NO", "E3"}, {"COMPANY_CODE", "KEEP"}, {"LEAVE_SCHEME", "KEEP"}}},
                  {IndexSpec("BYNO", "EMP_NO", KCE_INDEX_UNIQUE)});
        MakeTable(data_.string(), "EMP_PROS", kNative, kProgressionFields,
                  {{{"CODE", "OLD"}, {"EMP_CODE", "E1"}}},
                  {IndexSpec("PRIMARY", "EMP_CODE;PAY_EFFECTIVE_DATE;ID", KCE_INDEX_UNIQUE)});
    }
    Lines Progression() {
        return Records(data_, "EMP_PROS",
                       {"EMP_CODE", "CODE", "PROGRESSION_DATE", "PAY_EFFECTIVE_DATE", "COMPANY",
                        "LEAVE_TYPE", "GRADE", "JOBGRADE", "CATEGORY", "SALTYPE", "PERCENT",
                        "NEW_SALARY", "OLD_SALARY", "INCREMENT_AMT"},
                       "");
    }
};

INSTANTIATE_TEST_SUITE_P(MadeBy, CareerImport, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Python" : "Engine");
                         });

// The salary chain per employee, rounding halves to even, and the master updated from each
// employee's latest row; an employee without career rows keeps its values.
TEST_P(CareerImport, ChainsSalariesAndUpdatesTheMaster) {
    MakeTables({{"E1", "20200101", "2", "1100"},
                {"E4", "20200301", "4", "0.09375"},
                {"E1", "20190101", "1", "1000"},
                {"E2", "20200201", "5", "0.03125"},
                {"E1", "20210101", "3", "1050"}});
    Click(&app::TForm1::Button9Click);
    EXPECT_EQ(Errors(), Lines{});
    EXPECT_EQ(Progression(),
              (Lines{"E1|INCT|01/01/2019|01/01/2019|COM1|LEA1|NONE|JG1|CAT1|M|100|1000|1000|0",
                     "E1|INCT|01/01/2020|01/01/2020|COM2|LEA2|NONE|JG1|CAT1|M|100|1100|1000|100",
                     "E1|INCT|01/01/2021|01/01/2021|COM3|LEA3|NONE|JG1|CAT1|M|100|1050|1100|-50",
                     "E2|INCT|02/01/2020|02/01/2020|COM5|LEA5|NONE|JG2|CAT2|M|100|0.0312|0.0312|0",
                     "E4|INCT|03/01/2020|03/01/2020|COM4|LEA4|NONE|NONE||M|100|0.0938|0.0938|0"}));
    EXPECT_EQ(Records(data_, "EMPLOYEE",
                      {"EMP_NO", "COMPANY_CODE", "OCCUPATION_CODE", "SECTION_CODE",
                       "COST_CENTRE_CODE", "DEPARTMENT_CODE", "LEAVE_SCHEME"}),
              (Lines{"E1|COM3|DES3|DIV3|COS3|DEP3|LEA3", "E2|COM5|DES5|DIV5|COS5|DEP5|LEA5",
                     "E3|KEEP|||||KEEP"}));
}

// In record order an employee code that comes back after another employee's rows starts a new
// chain.
TEST_P(CareerImport, AReturningEmployeeStartsANewChain) {
    MakeTables({{"E1", "20190101", "1", "1000"},
                {"E2", "20190101", "2", "500"},
                {"E1", "20200101", "3", "1100"}});
    form_->KdsTableDBF->SetIndexFieldNames("");
    Click(&app::TForm1::Button9Click);
    EXPECT_EQ(Errors(), Lines{});
    Lines rows = Progression();
    for (std::string& row : rows) row = row.substr(0, 2) + row.substr(row.rfind("|M|100|") + 6);
    EXPECT_EQ(rows, (Lines{"E1|1000|1000|0", "E2|500|500|0", "E1|1100|1100|0"}));
}

}  // namespace
