// Index orders, key searches, key ranges, string scopes and index files of TKdsTable on real
// native tables; DBF tables with their .cdx and .ntx files are in kdsdata_xbase_index_test.cpp.
#include <gtest/gtest.h>

#include "kds/kdsengine.h"
#include "tests/kds/edit_tables.h"
#include "tests/kds/engine_calls.h"
#include "tests/kds/error_message.h"

namespace kdstest {
namespace {

// The name of the index the dataset moves on, or "" in natural order.
std::string ActiveIndexName(const kds::TKdsDataSet& ds) {
    if (ds.OrderHandle() == ds.TableHandle()) return "";
    UNSIGNED8 name[261] = {};
    UNSIGNED16 length = 260;
    EXPECT_EQ(KdsGetIndexName(ds.OrderHandle(), name, &length), 0u);
    return reinterpret_cast<const char*>(name);
}

class CodesTest : public testing::Test {
  protected:
    void SetUp() override {
        MakeTable(folder.Path(), "CODES", kNative, "CODE,char,8;FIELDTYPE,char,4;NAME,char,10",
                  {{{"CODE", "B"}, {"FIELDTYPE", "X"}, {"NAME", "BX"}},
                   {{"CODE", "A"}, {"FIELDTYPE", "Y"}, {"NAME", "AY"}},
                   {{"CODE", "A"}, {"FIELDTYPE", "X"}, {"NAME", "AX"}},
                   {{"CODE", "B"}, {"FIELDTYPE", "Y"}, {"NAME", "BY"}}},
                  {{"BY_CODE_TYPE", "CODE;FIELDTYPE"},
                   {"BY_NAME_DESC", "NAME", KCE_INDEX_DESCENDING},
                   {"BY_NAME_CODE", "NAME;CODE"},
                   {"BY_CODE", "CODE"}});
        table = TableOn(folder.Path(), "CODES", kNative);
        table->Open();
    }

    TempFolder folder;
    std::unique_ptr<kds::TKdsTable> table;
};

// IndexFieldNames takes the index whose fields are exactly the list, else the first
// non-descending one that begins with it; the text is trimmed; a list no index serves is refused
// and the order before stays.
TEST_F(CodesTest, IndexFieldNamesChoosesTheServingIndex) {
    struct Case {
        const char* value;
        const char* stored;
        const char* index;
    };
    for (Case c : {Case{"  CODE;FIELDTYPE ", "CODE;FIELDTYPE", "BY_CODE_TYPE"},
                   Case{"code", "code", "BY_CODE"}, Case{"NAME", "NAME", "BY_NAME_CODE"},
                   Case{"   ", "", ""}}) {
        SCOPED_TRACE(c.value);
        table->SetIndexFieldNames(c.value);
        EXPECT_EQ(table->IndexFieldNames(), c.stored);
        EXPECT_EQ(ActiveIndexName(*table), c.index);
    }
    table->SetIndexFieldNames("CODE;FIELDTYPE");
    table->First();
    table->Next();
    EXPECT_EQ(Message([&] { table->SetIndexFieldNames("FIELDTYPE"); }),
              "KdsTable1: Not a valid index field name:FIELDTYPE");
    EXPECT_EQ(table->IndexFieldNames(), "CODE;FIELDTYPE");
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "AY");
    EXPECT_EQ(Column(*table, "NAME"), (std::vector<std::string>{"AX", "AY", "BX", "BY"}));
}

// Changing the order keeps the active record and shows it in the new order.
TEST_F(CodesTest, ChangingTheOrderKeepsTheActiveRecord) {
    table->Next();
    table->Next();  // AX in natural order
    table->SetIndexFieldNames("NAME");
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "AX");
    table->Next();
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "AY");
    table->SetIndexName("BY_NAME_DESC");
    EXPECT_EQ(table->IndexFieldNames(), "");
    table->Next();
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "AX");
}

// SeekKey assigns its values to the fields of the order in turn; a failed search keeps the
// record shown before (and the engine cursor with it); too many values or no field list are
// refused.
TEST_F(CodesTest, SeekKeyFindsByLeadingFieldsOrStays) {
    table->SetIndexFieldNames("CODE;FIELDTYPE");
    EXPECT_TRUE(table->SeekKey({"B", "X"}));
    EXPECT_TRUE(table->Found());
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "BX");
    EXPECT_TRUE(table->SeekKey({"A"}));
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "AX");
    table->Next();  // AY
    EXPECT_FALSE(table->SeekKey({"A", "Z"}));
    EXPECT_FALSE(table->Found());
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "AY");
    table->Next();
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "BX");
    EXPECT_EQ(Message([&] {
                  table->SeekKey({"A", "X", "AX"});
              }),
              "KdsTable1: Too many values given for current index");
    table->SetIndexFieldNames("");
    EXPECT_EQ(Message([&] { table->SeekKey({"A"}); }),
              "KdsTable1: No parseable expressions in setting key fields");
}

class CareerTest : public testing::Test {
  protected:
    void SetUp() override {
        MakeTable(folder.Path(), "CAREER", kNative,
                  "EMP_CODE,char,6;PAY_EFFECTIVE_DATE,date;ID,integer",
                  CareerRows("EMP_CODE", "PAY_EFFECTIVE_DATE", "ID"),
                  {{"BY_EMP", "EMP_CODE;PAY_EFFECTIVE_DATE;ID"},
                   {"BY_ID", "ID"},
                   {"BY_ID_FILE", "ID", 0, "EXTRA"}});
        table = TableOn(folder.Path(), "CAREER", kNative);
    }

    TempFolder folder;
    std::unique_ptr<kds::TKdsTable> table;
};

// A range with one start and one end value on a three-field order restricts to one employee and
// moves to the first of them; the same range again makes no engine scope call and does not
// move; cancelling shows every record again.
TEST_F(CareerTest, RangeOnTheFirstSegment) {
    table->SetIndexFieldNames("EMP_CODE;PAY_EFFECTIVE_DATE;ID");
    table->Open();
    table->Last();
    ResetEngineCalls();
    table->SetKeyRange({"E2"}, {"E2"});
    EXPECT_EQ(EngineCalls("KdsSetScope"), 2);
    EXPECT_EQ(table->FieldNamed("ID").StringValue(), "4");
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"4", "3", "5"}));
    table->First();
    table->Next();
    ResetEngineCalls();
    table->SetKeyRange({"E2"}, {"E2"});
    EXPECT_EQ(EngineCalls("KdsSetScope"), 0);
    EXPECT_EQ(table->FieldNamed("ID").StringValue(), "3");
    table->CancelKeyRange();
    EXPECT_EQ(table->FieldNamed("ID").StringValue(), "3");
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"1", "2", "4", "3", "5", "6"}));
    // Switching the index by name removes a range.
    table->SetKeyRange({"E1"}, {"E1"});
    EXPECT_EQ(Column(*table, "ID").size(), 2u);
    table->SetIndexName("BY_ID");
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

// Key values keep the kind they are given in: each reaches its field through the matching value
// operation; a kind no field takes is refused with the field's name.
TEST_F(CareerTest, KeyValuesAreAssignedByTheirKind) {
    table->SetIndexName("BY_ID");
    table->Open();
    struct Case {
        kds::TTypedValue value;
        const char* found;
    };
    for (const Case& c : {Case{4, "4"}, Case{2.0, "2"}, Case{"5", "5"}, Case{'6', "6"},
                          Case{rtl::Variant(3), "3"}}) {
        SCOPED_TRACE(c.found);
        EXPECT_TRUE(table->SeekKey({c.value}));
        EXPECT_EQ(table->FieldNamed("ID").StringValue(), c.found);
    }
    EXPECT_EQ(Message([&] { table->SeekKey({int64_t{1}}); }), "Invalid value for field 'ID'");
}

// Range keys entered field by field in the SetKey state; Cancel of a key entry puts back the key
// before it; key entry needs an index.
TEST_F(CareerTest, RangeKeysEnteredInTheSetKeyState) {
    table->Open();
    EXPECT_EQ(Message([&] { table->BeginRangeStart(); }), "KdsTable1: Index is not set.");
    table->SetIndexFieldNames("EMP_CODE");
    table->BeginRangeStart();
    EXPECT_EQ(table->State(), db::DataSetState::SetKey);
    table->FieldNamed("EMP_CODE").SetStringValue("E1");
    table->Post();
    table->BeginRangeEnd();
    table->FieldNamed("EMP_CODE").SetStringValue("E2");
    table->Post();
    table->BeginRangeEnd();
    table->FieldNamed("EMP_CODE").SetStringValue("E3");
    table->Cancel();
    EXPECT_EQ(table->State(), db::DataSetState::Browse);
    table->ApplyKeyRange();
    EXPECT_EQ(Column(*table, "EMP_CODE"), (std::vector<std::string>{"E1", "E1", "E2", "E2", "E2"}));
}

// A string scope and a key range exclude each other; scope texts are limited to 257
// characters.
TEST_F(CareerTest, ScopesAndRangesExcludeEachOther) {
    table->SetIndexFieldNames("EMP_CODE;PAY_EFFECTIVE_DATE;ID");
    table->Open();
    table->SetScopeBegin("E2");
    table->SetScopeEnd("E2");
    table->SetScoped(true);
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"4", "3", "5"}));
    EXPECT_EQ(Message([&] { table->SetKeyRange({"E1"}, {"E1"}); }),
              "KdsTable1: Cannot set range on table when there is an active scope.");
    table->SetScoped(false);
    EXPECT_EQ(Column(*table, "ID").size(), 6u);
    table->SetKeyRange({"E1"}, {"E1"});
    EXPECT_EQ(Message([&] { table->SetScoped(true); }),
              "KdsTable1: Cannot activate scope when there is an active range.");
    table->SetScopeBegin(std::string(257, 'E'));
    EXPECT_EQ(Message([&] { table->SetScopeBegin(std::string(258, 'E')); }),
              "KdsTable1: Scope text length exceeded 256");
    EXPECT_EQ(table->ScopeBegin().size(), 257u);
}

// Index files: opened with the table from IndexFiles, opened and closed while it is open; closing
// the file that holds the active index returns to the natural order.
TEST_F(CareerTest, IndexFilesOpenAndCloseWithTheTable) {
    EXPECT_EQ(Message([&] { table->AddIndexFile("EXTRA.kdi"); }),
              "KdsTable1: Table must be Active.");
    table->IndexFiles().Add("EXTRA.kdi");
    table->Open();
    table->SetIndexName("BY_ID_FILE");
    table->Last();
    EXPECT_EQ(table->FieldNamed("ID").StringValue(), "6");
    table->IndexFiles().Delete(0);
    EXPECT_EQ(table->IndexName(), "");
    EXPECT_EQ(ActiveIndexName(*table), "");
    EXPECT_EQ(Message([&] { table->SetIndexName("BY_ID_FILE"); }).find("KdsTable1: "), 0u);
    table->IndexFiles().Add("EXTRA.kdi");
    table->SetIndexName("BY_ID_FILE");
    EXPECT_EQ(Column(*table, "ID"), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
}

}  // namespace
}  // namespace kdstest
