// The commands of TForm1's hidden buttons. The operator never sees these buttons; the handlers
// are part of the window all the same and run on the same components as CONVERT, through
// whatever folders the connections hold when they run (Button13Click sets them from the edits).
//
// Code tables (output definitions, keyed on CODE + FIELDTYPE): Button5Click and Button6Click copy
// every source row under a new code unless the target already has that key, Button11Click does
// the same for the LOGIS rows of OUTGL_D, Button2Click appends every source row as it is.
// Employee data: Button4Click copies EMPLOYEE into EMPLOYEE1, Button8Click fixes pay types and
// spare fields, Button9Click imports the career history of the DBF table TBLCAREE into EMP_PROS
// and updates the employee master from each employee's latest row, Button13Click builds an
// import map from a table's field list.
//
// None of them catches anything: the first error ends the command and reaches the default error
// display; what was posted before it stays.
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/updatebank.h"
#include "dataset/fields.h"
#include "kds/kdstable.h"

namespace app {
namespace {

// The password of the encrypted employee tables.
constexpr const char* kEncryptionPassword = "KRALD4729";

std::string Text(const kds::TKdsTable& table, const char* field) {
    return table.FieldNamed(field).StringValue();
}

void SetText(kds::TKdsTable& table, const char* field, const std::string& value) {
    table.FieldNamed(field).SetStringValue(value);
}

// Copies every row of `source` into `target` under `code`, the listed fields as text, unless
// the target's order already holds the key code + FIELDTYPE; the first source row of a
// FIELDTYPE wins.
void CopyCodeRows(kds::TKdsTable& source, kds::TKdsTable& target, const std::string& code,
                  const std::vector<const char*>& fields) {
    source.First();
    while (!source.AtEOF()) {
        if (!target.SeekKey({code, Text(source, "FIELDTYPE")})) {
            target.Append();
            SetText(target, "code", code);
            for (const char* field : fields) SetText(target, field, Text(source, field));
            target.Post();
        }
        source.Next();
    }
}

// Money of the career import: signed ten-thousandths of a currency unit.
using TenThousandths = int64_t;

// x rounded to the nearest integer, halves to the even neighbour, x computed in extended
// precision by the caller.
TenThousandths Nearest(long double x) {
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const TenThousandths result = std::llrintl(x);
    std::fesetround(saved);
    return result;
}

TenThousandths Units(double basic) { return Nearest(static_cast<long double>(basic) * 10000.0L); }

double Currency(TenThousandths amount) { return static_cast<double>(amount) / 10000.0; }

}  // namespace

void TForm1::Button1Click(rtl::TComponent*) {}
void TForm1::Button3Click(rtl::TComponent*) {}
void TForm1::Button7Click(rtl::TComponent*) {}
void TForm1::Button10Click(rtl::TComponent*) {}

// Appends every source row to the target: the field-map columns as text, ID "TLS".
void TForm1::Button2Click(rtl::TComponent*) {
    KdsTable1->Open();
    KdsTable2->Open();
    KdsTable1->First();
    while (!KdsTable1->AtEOF()) {
        KdsTable2->Append();
        for (const char* field :
             {"FIELDNAME", "FIELDTYPE", "TABLENAME", "DESCR", "RECTYPE", "FORMULACODE"}) {
            SetText(*KdsTable2, field, Text(*KdsTable1, field));
        }
        SetText(*KdsTable2, "ID", "TLS");
        SetText(*KdsTable2, "SEQ", Text(*KdsTable1, "SEQ"));
        KdsTable2->Post();
        KdsTable1->Next();
    }
}

void TForm1::Button5Click(rtl::TComponent*) {
    KdsTable1->Open();
    KdsTable2->Open();
    CopyCodeRows(*KdsTable1, *KdsTable2, "JPM",
                 {"FIELDTYPE", "FORMULA_CODE", "COL_FROM", "COL_TO", "DESC", "VALUE"});
}

void TForm1::Button6Click(rtl::TComponent*) {
    KdsTable1->Open();
    KdsTable2->Open();
    CopyCodeRows(*KdsTable1, *KdsTable2, "BNP3",
                 {"FIELDTYPE", "FORMULA_CODE", "COL_FROM", "COL_TO", "DESC", "VALUE", "DELIMITER",
                  "TRIMFUNCTION", "FORMAT"});
}

// Copies the LOGIS rows of OUTGL_D under the code TEST. KdsTable1 is Filtered from its stored
// definition, so the filter text set here restricts what it walks.
void TForm1::Button11Click(rtl::TComponent*) {
    KdsTable1->SetFilter("CODE='LOGIS'");
    for (kds::TKdsTable* table : {KdsTable1, KdsTable2}) {
        table->Close();
        table->SetTableName("OUTGL_D");
        table->SetIndexFieldNames("CODE;FIELDTYPE");
        table->Open();
    }
    CopyCodeRows(*KdsTable1, *KdsTable2, "TEST",
                 {"FIELDTYPE", "FORMULA_CODE", "COL_FROM", "COL_TO", "DESC", "VALUE", "DELIMITER",
                  "DATATYPE", "FORMAT", "CELL"});
}

// Copies EMPLOYEE into the emptied EMPLOYEE1, every field but the photo, as text. A source field
// that EMPLOYEE1 lacks ends the command.
void TForm1::Button4Click(rtl::TComponent*) {
    KdsTable2->SetTableName("EMPLOYEE1");
    KdsTable1->SetTableName("EMPLOYEE");
    KdsTable2->Close();
    KdsTable2->SetExclusive(true);
    KdsTable2->Open();
    KdsTable1->Open();
    KdsTable1->EnableEncryption(kEncryptionPassword);
    KdsTable2->EnableEncryption(kEncryptionPassword);
    KdsTable2->EmptyTable();
    KdsTable1->First();
    while (!KdsTable1->AtEOF()) {
        KdsTable2->Append();
        for (int i = 0; i < KdsTable1->NumFields(); ++i) {
            const std::string name = KdsTable1->FieldAt(i).FieldName();
            if (name == "PHOTO_ID") continue;
            KdsTable2->FieldNamed(name).SetStringValue(KdsTable1->FieldNamed(name).StringValue());
        }
        KdsTable2->Post();
        KdsTable1->Next();
    }
}

// From the current record of KdsTableEmp on: the spare fields take the batch number and the
// first message, the pay types SE and SN become SN for remark NBAR and SE otherwise, and the
// misc record of the employee takes the first remark.
void TForm1::Button8Click(rtl::TComponent*) {
    KdsTableEmp->Open();
    KdsTableEmp->EnableEncryption(kEncryptionPassword);
    KdsTableMisc->Open();
    KdsTableMisc->EnableEncryption(kEncryptionPassword);
    while (!KdsTableEmp->AtEOF()) {
        KdsTableEmp->Edit();
        SetText(*KdsTableEmp, "LEAVE_SCHEME", Text(*KdsTableEmp, "batch_no"));
        SetText(*KdsTableEmp, "DOBCTRY", Text(*KdsTableEmp, "message1"));
        const std::string payType = Text(*KdsTableEmp, "pay_type");
        if (payType == "SE" || payType == "SN") {
            SetText(*KdsTableEmp, "pay_type",
                    Text(*KdsTableEmp, "remark2") == "NBAR" ? "SN" : "SE");
        }
        KdsTableEmp->Post();
        if (KdsTableMisc->SeekKey({Text(*KdsTableEmp, "emp_no")})) {
            KdsTableMisc->Edit();
            SetText(*KdsTableMisc, "char1", Text(*KdsTableEmp, "remark1"));
            KdsTableMisc->Post();
        }
        KdsTableEmp->Next();
    }
}

// Imports the career history: one INCT progression record per career row, with new salary,
// old salary and increment chained per employee, then updates each employee of the master from
// the latest progression record of that employee.
void TForm1::Button9Click(rtl::TComponent*) {
    kds::TKdsTable& master = *KdsTableMisc;
    kds::TKdsTable& progression = *KdsTableEmp;
    kds::TKdsTable& career = *KdsTableDBF;

    master.Close();
    master.SetTableName("EMPLOYEE");
    master.SetIndexFieldNames("EMP_NO");
    master.Open();
    master.EnableEncryption(kEncryptionPassword);

    progression.Close();
    progression.SetTableName("EMP_PROS");
    progression.SetExclusive(true);
    progression.Open();
    progression.EnableEncryption(kEncryptionPassword);
    progression.EmptyTable();

    career.Close();
    career.Open();

    auto basic = [&] { return career.FieldNamed("FIXEDBASIC").FloatValue(); };
    TenThousandths increment = 0;
    TenThousandths newSalary = Units(basic());
    TenThousandths oldSalary = newSalary;
    std::string employee = Text(career, "EMPLOYEECO");

    while (!career.AtEOF()) {
        progression.Append();
        SetText(progression, "CODE", "INCT");
        SetText(progression, "EMP_CODE", Text(career, "EMPLOYEECO"));
        const double effective = career.FieldNamed("EFFECTIVED").DateTimeValue();
        progression.FieldNamed("PROGRESSION_DATE").SetDateTimeValue(effective);
        progression.FieldNamed("PAY_EFFECTIVE_DATE").SetDateTimeValue(effective);
        SetText(progression, "SECTION", Text(career, "DIVISIONCO"));
        SetText(progression, "COMPANY", Text(career, "COMPANYCOD"));
        SetText(progression, "DEPARTMENT", Text(career, "DEPARTMENT"));
        SetText(progression, "COST_CENTRE", Text(career, "COSTCENTRE"));
        SetText(progression, "OCCUPATION", Text(career, "DESIGNATIO"));
        SetText(progression, "LEAVE_TYPE", Text(career, "LEAVEGRADE"));
        SetText(progression, "GRADE", "NONE");
        SetText(progression, "JOBGRADE", "NONE");
        SetText(progression, "saltype", "M");
        SetText(progression, "percent", "100");
        progression.FieldNamed("NEW_SALARY").SetFloatValue(Currency(newSalary));
        progression.FieldNamed("OLD_SALARY").SetFloatValue(Currency(oldSalary));
        progression.FieldNamed("INCREMENT_AMT").SetFloatValue(Currency(increment));
        if (master.SeekKey({employee})) {
            SetText(progression, "category", Text(master, "category_code"));
            SetText(progression, "JOBGRADE", Text(master, "JOB_GRADE_code"));
        }
        progression.Post();

        career.Next();
        // After the last row the last row stays active; the values computed from it are not
        // used.
        const std::string next = Text(career, "EMPLOYEECO");
        if (next != employee) {
            employee = next;
            increment = 0;
            newSalary = Units(basic());
            oldSalary = newSalary;
        } else {
            increment = Nearest(static_cast<long double>(basic()) * 10000.0L -
                                static_cast<long double>(newSalary));
            newSalary = Units(basic());
            oldSalary = newSalary - increment;
        }
    }

    master.First();
    while (!master.AtEOF()) {
        const std::string key = Text(master, "emp_no");
        progression.SetKeyRange({key}, {key});
        progression.Last();
        if (key == Text(progression, "emp_code")) {
            master.Edit();
            SetText(master, "company_code", Text(progression, "company"));
            SetText(master, "occupation_code", Text(progression, "occupation"));
            SetText(master, "section_code", Text(progression, "section"));
            SetText(master, "cost_Centre_code", Text(progression, "cost_centre"));
            SetText(master, "DEPARTMENT_code", Text(progression, "DEPARTMENT"));
            SetText(master, "leave_scheme", Text(progression, "LEAVE_TYPE"));
            master.Post();
        }
        master.Next();
    }
}

// Builds the import map: one IMPORT row per field of IMPORT2, numbered from 0.
void TForm1::Button13Click(rtl::TComponent*) {
    KdsConnection2->SetIsConnected(false);
    KdsConnection1->SetIsConnected(false);
    KdsConnection1->SetConnectPath(Edit1->Text());
    KdsConnection2->SetConnectPath(Edit2->Text());

    KdsTable1->Close();
    KdsTable1->SetTableName("IMPORT2");
    KdsTable1->Open();

    KdsTable2->Close();
    KdsTable2->SetExclusive(true);
    KdsTable2->SetTableName("IMPORT");
    KdsTable2->Open();
    KdsTable2->EmptyTable();

    for (int i = 0; i < KdsTable1->NumFields(); ++i) {
        KdsTable2->Append();
        SetText(*KdsTable2, "SECTION", "EMPLOYEE");
        SetText(*KdsTable2, "NO", std::to_string(i));
        SetText(*KdsTable2, "MAPFIELD3", KdsTable1->FieldAt(i).FieldName());
        SetText(*KdsTable2, "FIELD NAME", "DUMMY");
        KdsTable2->Post();
    }
}

}  // namespace app
