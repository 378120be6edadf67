// The stored definition of the main window: the form's own properties, then each component it
// owns in creation order, with its property values in the order they are applied.
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "app/employee_layout.h"
#include "app/updatebank.h"
#include "rtl/textutils.h"

namespace app {
namespace {

using gui::TCollectionValue;
using gui::TComponentDef;
using gui::TComponentRef;
using gui::TIdent;
using gui::TPropDef;
using gui::TSetValue;
using gui::TStringsValue;

// The two installation folders: the development data folder KdsConnection1 starts from, and the
// folder of the career history table under the all-users documents folder.
constexpr const char* kStartingDataFolder = "D:\\UPDATEBANK\\DATA\\QX8";
constexpr const char* kCareerFolder = "C:\\Users\\Public\\Documents\\UPDATEBANK\\CAREER";

TComponentDef Label(const char* name, int left, int top, int width, int height,
                    const char* caption) {
    return {
        "TLabel",
        name,
        {{"Left", left}, {"Top", top}, {"Width", width}, {"Height", height}, {"Caption", caption}}};
}

TComponentDef HiddenButton(const char* name, int left, int top, int width, int height,
                           const char* caption, int tabOrder) {
    return {"TButton",
            name,
            {{"Left", left},
             {"Top", top},
             {"Width", width},
             {"Height", height},
             {"Caption", caption},
             {"TabOrder", tabOrder},
             {"Visible", false},
             {"OnClick", TIdent{std::string(name) + "Click"}}}};
}

TComponentDef Edit(const char* name, int left, int top, int width, int height, int tabOrder,
                   const char* text) {
    return {"TEdit",
            name,
            {{"Left", left},
             {"Top", top},
             {"Width", width},
             {"Height", height},
             {"TabOrder", tabOrder},
             {"Text", text}}};
}

TComponentDef Connection(const char* name, const char* connectPath) {
    return {"TKdsConnection",
            name,
            {{"ConnectPath", connectPath},
             {"KdsServerTypes", TSetValue{{"stKDS_REMOTE", "stKDS_LOCAL"}}},
             {"LoginPrompt", false},
             {"Username", "QUORIXAN8"},
             {"Password", "BRAMQUELTOV"},
             {"MiddleTierConnection", false},
             {"StoreConnected", false},
             {"StoredProcedureConnection", false},
             {"ReadOnly", false}}};
}

struct FieldLayout {
    const char* name;
    const char* type;  // a field type identifier, ftString ...
    int size;          // characters of a string field, else 0
};

std::vector<TPropDef> FieldDef(const std::string& name, const std::string& type, int size) {
    std::vector<TPropDef> item{{"Name", name}, {"DataType", TIdent{type}}};
    if (size != 0) item.push_back({"Size", size});
    return item;
}

TCollectionValue FieldDefs(std::initializer_list<FieldLayout> fields) {
    TCollectionValue defs;
    for (const FieldLayout& f : fields) defs.items.push_back(FieldDef(f.name, f.type, f.size));
    return defs;
}

// The field type a field of the table tool's layout lines becomes when the table opens.
std::string FieldTypeOfLayout(const std::string& type) {
    static const std::pair<const char*, const char*> kTypes[] = {
        {"logical", "ftBoolean"}, {"numeric", "ftFloat"},      {"date", "ftDate"},
        {"char", "ftString"},     {"memo", "ftMemo"},          {"binary", "ftBlob"},
        {"image", "ftBlob"},      {"varchar", "ftMemo"},       {"compactdate", "ftDate"},
        {"double", "ftFloat"},    {"integer", "ftInteger"},    {"shortint", "ftSmallint"},
        {"time", "ftTime"},       {"timestamp", "ftDateTime"}, {"autoinc", "ftAutoInc"},
        {"raw", "ftBytes"},       {"money", "ftCurrency"},
    };
    for (const auto& [layout, fieldType] : kTypes)
        if (rtl::SameText(type, layout)) return fieldType;
    throw std::logic_error("employee layout: unknown field type " + type);
}

// The employee master layout, one NAME:TYPE[:LENGTH] a line; only strings and raw fields keep
// their length as the definition's size.
TCollectionValue EmployeeFieldDefs() {
    TCollectionValue defs;
    std::istringstream lines(EmployeeLayoutText());
    std::string line;
    while (std::getline(lines, line)) {
        line = rtl::Trim(line);
        if (line.empty()) continue;
        std::string parts[3];
        std::istringstream fields(line);
        for (std::string& part : parts) std::getline(fields, part, ':');
        std::string type = FieldTypeOfLayout(parts[1]);
        int size = 0;
        if (type == "ftString" || type == "ftBytes") size = std::stoi(parts[2]);
        defs.items.push_back(FieldDef(parts[0], type, size));
    }
    return defs;
}

TCollectionValue IndexDefs(
    std::initializer_list<std::tuple<const char*, const char*, bool>> indexes) {
    TCollectionValue defs;
    for (const auto& [name, fields, unique] : indexes) {
        std::vector<TPropDef> item{{"Name", name}, {"Fields", fields}};
        if (unique) item.push_back({"Options", TSetValue{{"ixUnique"}}});
        defs.items.push_back(std::move(item));
    }
    return defs;
}

// The output-definition code table layout of KdsTable1, KdsTable2 and KdsTableMisc.
TCollectionValue CodeTableFieldDefs() {
    return FieldDefs({{"CODE", "ftString", 8},
                      {"FIELDTYPE", "ftString", 3},
                      {"FORMULA_CODE", "ftString", 5},
                      {"COL_FROM", "ftInteger", 0},
                      {"COL_TO", "ftInteger", 0},
                      {"DESC", "ftString", 40},
                      {"VALUE", "ftString", 40},
                      {"FORMAT", "ftString", 20},
                      {"TRIMFUNCTION", "ftString", 3},
                      {"DELIMITER", "ftString", 4}});
}

// A table's stored values: those every table of the window stores, then its own ones.
TComponentDef Table(const char* name, const char* connection, const char* databaseName,
                    const char* tableName, TCollectionValue fieldDefs, TCollectionValue indexDefs,
                    std::vector<TPropDef> own) {
    TComponentDef table{"TKdsTable",
                        name,
                        {{"StoreActive", true},
                         {"DatabaseName", databaseName},
                         {"KdsConnection", TComponentRef{connection}},
                         {"StoreDefs", true},
                         {"FieldDefs", std::move(fieldDefs)},
                         {"IndexDefs", std::move(indexDefs)},
                         {"TableName", tableName}}};
    for (TPropDef& def : own) table.properties.push_back(std::move(def));
    table.properties.push_back({"Version", "6.11 (KCE 10.00)"});
    return table;
}

gui::TFormDef MakeDefinition() {
    gui::TFormDef form;
    form.className = "TForm1";
    form.name = "Form1";
    form.properties = {
        {"Left", 328},        {"Top", 200},
        {"Width", 696},       {"Height", 480},
        {"Caption", "Form1"}, {"Color", TIdent{"clBtnFace"}},
        {"Font.Height", -11}, {"Font.Name", "MS Sans Serif"},
    };
    form.components = {
        Label("Label1", 93, 156, 91, 13, "SOURCE FOLDER"),
        Label("Label2", 97, 188, 87, 13, "TARGETFOLDER"),
        HiddenButton("Button1", 280, 8, 75, 25, "QX5 TO QX8", 0),
        HiddenButton("Button2", 456, 48, 75, 25, "Button1", 1),
        HiddenButton("Button3", 552, 40, 75, 25, "Button3", 2),
        HiddenButton("Button4", 184, 8, 75, 25, "Button4", 3),
        HiddenButton("Button5", 552, 8, 75, 25, "Button5", 4),
        HiddenButton("Button6", 280, 40, 75, 25, "QX8 TO QX8", 5),
        HiddenButton("Button7", 384, 8, 75, 25, "QX8 TO QX5", 6),
        HiddenButton("Button8", 176, 48, 75, 25, "Button8", 7),
        HiddenButton("Button9", 328, 80, 75, 25, "CAREER", 8),
        HiddenButton("Button10", 368, 40, 75, 25, "QX5 TO QX5", 9),
        HiddenButton("Button11", 512, 80, 113, 25, "COPY OUTGL_D", 10),
        {"TButton",
         "Button12",
         {{"Left", 216},
          {"Top", 216},
          {"Width", 75},
          {"Height", 25},
          {"Caption", "CONVERT"},
          {"TabOrder", 11},
          {"OnClick", TIdent{"Button12Click"}}}},
        Edit("Edit1", 209, 152, 409, 21, 12, "C:\\TEMP"),
        Edit("Edit2", 208, 184, 409, 21, 13, "C:\\TEMP"),
        {"TMemo",
         "Memo1",
         {{"Left", 56},
          {"Top", 248},
          {"Width", 617},
          {"Height", 169},
          {"Lines.Strings", TStringsValue{{"Memo1"}}},
          {"TabOrder", 14}}},
        HiddenButton("Button13", 304, 216, 75, 25, "Button13", 15),
        {"TDataSource", "DataSource1", {{"DataSet", TComponentRef{"KdsTable1"}}}},
        Connection("KdsConnection1", kStartingDataFolder),
        Table("KdsTable1", "KdsConnection1", "KdsConnection1", "OUTDSK_D.KDT", CodeTableFieldDefs(),
              IndexDefs({{"PRIMARY", "CODE;FIELDTYPE", true}}), {{"Filtered", true}}),
        Table("KdsTable2", "KdsConnection2", "KdsConnection2", "OUTDSK_D.KDT", CodeTableFieldDefs(),
              IndexDefs({{"PRIMARY", "CODE;FIELDTYPE", true}}), {{"Exclusive", true}}),
        Connection("KdsConnection2", "C:\\TEMP"),
        Table("KdsTableEmp", "KdsConnection1", "KdsConnection1", "EMP_PROS.KDT",
              EmployeeFieldDefs(),
              IndexDefs({{"PRIMARY", "EMP_CODE;PAY_EFFECTIVE_DATE;ID", true},
                         {"PROINDE2", "EMP_CODE;CODE", false},
                         {"PROINDE3", "EMP_CODE;ID", false},
                         {"PROSINDEX", "EMP_CODE;PROGRESSION_DATE", false},
                         {"EMPLOYEE", "EMP_CODE", false}}),
              {{"IndexFieldNames", "EMP_CODE;PAY_EFFECTIVE_DATE;ID"}}),
        Table("KdsTableMisc", "KdsConnection1", "KdsConnection1", "EMPMISC.KDT",
              CodeTableFieldDefs(),
              IndexDefs({{"EMPLOYEE", "EMP_NO", true},
                         {"EMPNAME", "EMP_NAME", false},
                         {"FUNDNO", "FUND_AC_NO", false}}),
              {{"IndexFieldNames", "EMP_NO"}}),
        // Its DatabaseName names a folder, not a connection: the table is opened from that folder
        // through KdsConnection2's engine connection.
        Table("KdsTableDBF", "KdsConnection2", kCareerFolder, "TBLCAREE",
              FieldDefs({{"EMPLOYEECO", "ftString", 13},
                         {"EFFECTIVED", "ftDate", 0},
                         {"COMPANYCOD", "ftString", 13},
                         {"DIVISIONCO", "ftString", 13},
                         {"DEPARTMENT", "ftString", 13},
                         {"COSTCENTRE", "ftString", 13},
                         {"DESIGNATIO", "ftString", 13},
                         {"LEAVEGRADE", "ftString", 13},
                         {"FIXEDBASIC", "ftFloat", 0},
                         {"VARIABLEBA", "ftFloat", 0},
                         {"CHANGEREAS", "ftString", 13},
                         {"UPDATETO", "ftString", 13},
                         {"LASTUPDATE", "ftDate", 0},
                         {"LASTUSER", "ftString", 13}}),
              IndexDefs({{"EMPLOYEECO", "EMPLOYEECO;EFFECTIVED", false}}),
              {{"TableType", TIdent{"ttKdsCDX"}}, {"IndexFieldNames", "EMPLOYEECO;EFFECTIVED"}}),
        {"TKdsSettings",
         "KdsSettings1",
         {{"DateFormat", "MM/dd/ccyy"},
          {"NumDecimals", 2},
          {"SetAppDate", true},
          {"ShowDeleted", true},
          {"KdsServerTypes", TSetValue{{"stKDS_REMOTE", "stKDS_LOCAL", "stKDS_KIS"}}},
          {"NumCachedTables", 0},
          {"NumCachedCursors", 25}}},
    };
    return form;
}

}  // namespace

const gui::TFormDef& Form1Definition() {
    static const gui::TFormDef definition = MakeDefinition();
    return definition;
}

}  // namespace app
