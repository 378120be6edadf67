// Filters, the find operations, Locate and Lookup of TKdsTable on real native, CDX and NTX tables,
// with the optimized and the plain engine filter.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "gui/application.h"
#include "gui/headless.h"
#include "kds/kdsengine.h"
#include "tests/kds/edit_tables.h"
#include "tests/kds/engine_calls.h"
#include "tests/kds/error_message.h"

namespace kdstest {
namespace {

using Names = std::vector<std::string>;

// QTY numbers the rows; the names exercise the trailing wildcard and quotes in values.
const std::vector<Row> kCodeRows = {
    {{"CODE", "LOGIS"}, {"FIELDTYPE", "X"}, {"NAME", "ABC"}, {"QTY", "1"}},
    {{"CODE", "PAYR"}, {"FIELDTYPE", "Y"}, {"NAME", "A*B"}, {"QTY", "2"}},
    {{"CODE", "LOGIS"}, {"FIELDTYPE", "Y"}, {"NAME", "**"}, {"QTY", "3"}},
    {{"CODE", "PAYR"}, {"FIELDTYPE", "X"}, {"NAME", "AB"}, {"QTY", "4"}},
    {{"CODE", "logis"}, {"FIELDTYPE", "Z"}, {"NAME", "XAB"}, {"QTY", "5"}},
    {{"CODE", "LOGIS"}, {"FIELDTYPE", "Z"}, {"NAME", "Ab\"c"}, {"QTY", "6"}},
};

// Every QTY the dataset walks backwards from its last record, in walking order.
Names Backwards(kds::TKdsDataSet& ds) {
    Names values;
    ds.Last();
    while (!ds.AtBOF()) {
        values.push_back(ds.FieldNamed("QTY").StringValue());
        ds.Prior();
    }
    return values;
}

std::string Qty(const kds::TKdsDataSet& ds) { return ds.FieldNamed("QTY").StringValue(); }

// The text of the engine filter installed on the table: the optimized one, or with optimized
// false the plain one.
std::string InstalledFilter(const kds::TKdsDataSet& ds, bool optimized = true) {
    UNSIGNED8 text[256] = {};
    UNSIGNED16 length = sizeof text - 1;
    KCESTATUS status = optimized ? KdsGetAOF(ds.TableHandle(), text, &length)
                                 : KdsGetFilter(ds.TableHandle(), text, &length);
    if (status != 0) return "(none)";
    return reinterpret_cast<const char*>(text);
}

// One storage kind, with the optimized (true) or the plain (false) engine filter.
using FilterParam = std::tuple<StorageKind, bool>;

class FilterTest : public testing::TestWithParam<FilterParam> {
  protected:
    void SetUp() override {
        const StorageKind& kind = std::get<0>(GetParam());
        MakeTable(folder.Path(), "CODES", kind,
                  "CODE,char,8;FIELDTYPE,char,4;NAME,char,10;QTY,numeric,5", kCodeRows,
                  {{"CODETYPE", "CODE;FIELDTYPE"}});
        table = TableOn(folder.Path(), "CODES", kind);
        if (kind.tableType == kds::ttKdsNTX) table->IndexFiles().Add("CODETYPE.ntx");
        table->KdsTableOptions().SetKdsOptimizedFilters(std::get<1>(GetParam()));
    }

    bool Optimized() const { return std::get<1>(GetParam()); }

    TempFolder folder;
    std::unique_ptr<kds::TKdsTable> table;
};

std::string FilterParamName(const testing::TestParamInfo<FilterParam>& info) {
    return std::string(std::get<0>(info.param).name) +
           (std::get<1>(info.param) ? "Optimized" : "Plain");
}

INSTANTIATE_TEST_SUITE_P(Kinds, FilterTest,
                         testing::Combine(testing::Values(kNative, kCdx, kNtx), testing::Bool()),
                         FilterParamName);

// A filter restricts the walk both ways, First and Last and the count that respects filters;
// a string literal ending in an asterisk compares the leading part only, any other asterisk is
// a character.
TEST_P(FilterTest, FilterRestrictsTheWalk) {
    struct Case {
        const char* filter;
        Names qty;
    };
    table->KdsTableOptions().SetKdsFilterOptions(kds::RESPECT_WHEN_COUNTING);
    table->Open();
    for (const Case& c : {Case{"CODE='LOGIS'", {"1", "3", "6"}}, Case{"NAME='AB*'", {"1", "4"}},
                          Case{"NAME='A*B'", {"2"}}, Case{"NAME='**'", {"3"}}, Case{"NAME='*'", {}},
                          Case{"QTY > 2 .AND. CODE = \"PAYR\"", {"4"}}, Case{"CODE='NONE'", {}}}) {
        SCOPED_TRACE(c.filter);
        table->SetFilter(c.filter);
        table->SetFiltered(true);
        EXPECT_EQ(Column(*table, "QTY"), c.qty);
        EXPECT_EQ(Backwards(*table), Names(c.qty.rbegin(), c.qty.rend()));
        EXPECT_EQ(table->CountRecords(), static_cast<int>(c.qty.size()));
        table->First();
        EXPECT_EQ(table->AtEOF(), c.qty.empty());
        if (!c.qty.empty()) {
            EXPECT_EQ(Qty(*table), c.qty.front());
            table->Last();
            EXPECT_EQ(Qty(*table), c.qty.back());
        }
        table->SetFiltered(false);
        EXPECT_EQ(Column(*table, "QTY").size(), 6u);
        EXPECT_EQ(table->CountRecords(), 6);
    }
}

// The trailing wildcard reaches the engine as a shorter literal with the exact setting off.
TEST_P(FilterTest, TrailingWildcardTurnsExactOff) {
    struct Case {
        const char* filter;
        const char* installed;
        UNSIGNED16 exact;
    };
    table->Open();
    for (const Case& c : {Case{"NAME='AB*'", "NAME='AB'", 0}, Case{"NAME='A*B'", "NAME='A*B'", 1},
                          Case{"NAME='**'", "NAME='**'", 1},
                          Case{"NAME=\"A*\" .OR. CODE='P*'", "NAME=\"A\" .OR. CODE='P'", 0}}) {
        SCOPED_TRACE(c.filter);
        table->SetFilter(c.filter);
        table->SetFiltered(true);
        EXPECT_EQ(InstalledFilter(*table, Optimized()), c.installed);
        UNSIGNED16 exact = 9;
        ASSERT_EQ(KdsGetExact22(table->TableHandle(), &exact), 0u);
        EXPECT_EQ(exact, c.exact);
    }
}

// Set while closed, the filter applies when the table opens; a new Filter text on a filtered
// table applies at once and shows its first record; an empty Filter filters nothing.
TEST_P(FilterTest, FilterSetWhileClosedAppliesAtOpen) {
    table->SetFilter("CODE='LOGIS'");
    table->SetFiltered(true);
    table->Open();
    EXPECT_EQ(Column(*table, "QTY"), (Names{"1", "3", "6"}));
    table->Next();
    table->SetFilter("CODE='PAYR'");
    EXPECT_EQ(Qty(*table), "2");
    EXPECT_EQ(Column(*table, "QTY"), (Names{"2", "4"}));
    table->SetFilter("");
    EXPECT_EQ(Column(*table, "QTY").size(), 6u);
    // Closing and opening again keeps the settings.
    table->SetFilter("FIELDTYPE='Z'");
    table->Close();
    table->Open();
    EXPECT_EQ(Column(*table, "QTY"), (Names{"5", "6"}));
}

// Switching KdsOptimizedFilters on a filtered table moves the filter to the other engine kind
// and keeps it in force.
TEST_P(FilterTest, SwitchingTheFilterKindKeepsTheFilter) {
    table->SetFilter("CODE='PAYR'");
    table->SetFiltered(true);
    table->Open();
    table->Next();
    ResetEngineCalls();
    table->KdsTableOptions().SetKdsOptimizedFilters(!Optimized());
    EXPECT_EQ(EngineCalls("KdsSetAOF"), Optimized() ? 0 : 1);
    EXPECT_EQ(EngineCalls("KdsSetFilter"), Optimized() ? 1 : 0);
    EXPECT_EQ(InstalledFilter(*table, !Optimized()), "CODE='PAYR'");
    EXPECT_EQ(InstalledFilter(*table, Optimized()), "(none)");
    EXPECT_EQ(Qty(*table), "2");
    EXPECT_EQ(Column(*table, "QTY"), (Names{"2", "4"}));
    table->SetFiltered(false);
    EXPECT_EQ(Column(*table, "QTY").size(), 6u);
}

// An expression the engine refuses is reported with the engine's text; Filtered keeps the new
// value.
TEST_P(FilterTest, RefusedExpressionRaises) {
    table->Open();
    for (const char* filter : {"NOSUCH='A'", "CODE='A", "QTY + 1"}) {
        SCOPED_TRACE(filter);
        table->SetFilter(filter);
        std::string error;
        try {
            table->SetFiltered(true);
        } catch (const kds::EKDSDatabaseError& e) {
            error = e.what();
            EXPECT_NE(e.ErrorCode(), 0);
        }
        EXPECT_EQ(error.rfind("KdsTable1: ", 0), 0u) << error;
        EXPECT_TRUE(table->Filtered());
        table->SetFiltered(false);
    }
}

// OnFilterRecord judges every record read while Filtered is on, with or without a Filter text;
// a handler that raises is reported and the record is judged as the handler left it.
TEST_P(FilterTest, OnFilterRecordJudgesRecords) {
    auto backend = std::make_unique<gui::HeadlessBackend>();
    gui::HeadlessBackend* shown = backend.get();
    gui::Application().Initialize(std::move(backend));
    struct ResetApplication {
        ~ResetApplication() { gui::Application().Reset(); }
    } reset;

    table->SetOnFilterRecord([](db::TDataSet& ds, bool& accept) {
        int qty = ds.FieldNamed("QTY").IntegerValue();
        accept = qty % 2 == 0;
        if (qty == 5) throw std::runtime_error("no fives");
    });
    table->Open();
    EXPECT_EQ(Column(*table, "QTY").size(), 6u);  // not filtered: the handler is not asked
    table->SetFiltered(true);
    EXPECT_EQ(Column(*table, "QTY"), (Names{"2", "4", "6"}));
    EXPECT_EQ(Backwards(*table), (Names{"6", "4", "2"}));
    ASSERT_FALSE(shown->Events().empty());
    EXPECT_EQ(shown->Events().front().kind, gui::HeadlessEvent::kError);
    EXPECT_EQ(shown->Events().front().text, "no fives");
    table->SetFilter("CODE='LOGIS'");
    EXPECT_EQ(Column(*table, "QTY"), (Names{"6"}));
}

// The find operations search the Filter also while Filtered is off, and leave no filter behind.
TEST_P(FilterTest, FindOperationsSearchTheFilter) {
    table->SetFilter("CODE='LOGIS'");
    table->Open();
    EXPECT_TRUE(table->FindFirst());
    EXPECT_EQ(Qty(*table), "1");
    EXPECT_TRUE(table->FindNext());
    EXPECT_EQ(Qty(*table), "3");
    EXPECT_TRUE(table->FindNext());
    EXPECT_EQ(Qty(*table), "6");
    EXPECT_FALSE(table->FindNext());
    EXPECT_FALSE(table->Found());
    EXPECT_TRUE(table->FindPrior());
    EXPECT_EQ(Qty(*table), "3");
    EXPECT_TRUE(table->FindLast());
    EXPECT_EQ(Qty(*table), "6");
    EXPECT_EQ(InstalledFilter(*table, Optimized()), "(none)");
    EXPECT_EQ(Column(*table, "QTY").size(), 6u);
}

// Locate seeks when an index begins with the key fields, else filters; the case-insensitive
// option always filters; partial keys compare the leading part. Natural order, so the filter
// path finds the first record in record order and the seek the first in key order.
TEST_P(FilterTest, LocateSeeksOrFilters) {
    struct Case {
        const char* fields;
        std::vector<rtl::Variant> values;
        db::TLocateOptions options;
        const char* qty;  // nullptr: not found
        bool seeks;
    };
    table->Open();
    for (const Case& c : {
             Case{"CODE", {"PAYR"}, {}, "4", true},
             Case{"code;FieldType", {"LOGIS", "Y"}, {}, "3", true},
             Case{"FIELDTYPE;CODE", {"Z", "LOGIS"}, {}, "6", true},
             Case{"CODE", {"LOG"}, {db::loPartialKey}, "1", true},
             Case{"CODE", {"LOG"}, {}, nullptr, true},
             Case{"FIELDTYPE", {"Z"}, {}, "5", false},
             Case{"FIELDTYPE;QTY", {"X", 4}, {}, "4", false},
             Case{"CODE", {"logis"}, {db::loCaseInsensitive}, "1", false},
             Case{"NAME", {"ab"}, {db::loCaseInsensitive, db::loPartialKey}, "1", false},
             Case{"NAME", {"ab\"C"}, {db::loCaseInsensitive}, "6", false},
             Case{"NAME", {"XA"}, {}, nullptr, false},
         }) {
        SCOPED_TRACE(c.fields + (" = " + c.values.front().AsString()));
        table->First();
        table->Next();
        ResetEngineCalls();
        bool found = table->Locate(c.fields, c.values, c.options);
        EXPECT_EQ(found, c.qty != nullptr);
        EXPECT_EQ(Qty(*table), c.qty != nullptr ? c.qty : "2");
        EXPECT_EQ(EngineCalls("KdsSeek"), c.seeks ? 1 : 0);
        EXPECT_EQ(EngineCalls("KdsSetAOF") > 0, !c.seeks);
    }
    EXPECT_EQ(Message([&] { table->Locate("NOSUCH", rtl::Variant("A"), {}); }),
              "KdsTable1: Field 'NOSUCH' not found");
}

// Under an installed filter, Locate finds only what the filter shows, and puts the filter back
// whether it finds a record or not.
TEST_P(FilterTest, LocateKeepsTheInstalledFilter) {
    table->SetFilter("CODE='LOGIS'");
    table->SetFiltered(true);
    table->Open();
    table->Next();
    EXPECT_TRUE(table->Locate("FIELDTYPE", rtl::Variant("Z"), {}));
    EXPECT_EQ(Qty(*table), "6");
    EXPECT_FALSE(table->Locate("FIELDTYPE", rtl::Variant("Q"), {}));
    EXPECT_EQ(Qty(*table), "6");
    EXPECT_EQ(InstalledFilter(*table, Optimized()), "CODE='LOGIS'");
    EXPECT_EQ(Column(*table, "QTY"), (Names{"1", "3", "6"}));
}

// Lookup answers the values of the record found without moving the dataset; null keys and a
// record not found answer null.
TEST_P(FilterTest, LookupAnswersValues) {
    table->Open();
    table->Next();
    std::vector<rtl::Variant> values = table->Lookup("CODE;FIELDTYPE", {"PAYR", "X"}, "NAME;QTY");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].AsString(), "AB");
    EXPECT_EQ(values[1].AsString(), "4");
    values = table->Lookup("FIELDTYPE", {"Z"}, "NAME");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].AsString(), "XAB");
    EXPECT_EQ(Qty(*table), "2");
    table->Next();
    EXPECT_EQ(Qty(*table), "3");

    ResetEngineCalls();
    values = table->Lookup("CODE", {rtl::Variant::Null()}, "NAME");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_TRUE(values[0].IsNull());
    EXPECT_EQ(EngineCalls("KdsSeek") + EngineCalls("KdsSetAOF"), 0);
    values = table->Lookup("CODE", {"NONE"}, "NAME;QTY");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_TRUE(values[0].IsNull());
    EXPECT_EQ(Qty(*table), "3");
}

// Locate on each field type goes through an expression of that type's literal; a null value
// looks for an empty field.
TEST(LocateTypes, EveryTypeFindsItsRecord) {
    for (const StorageKind& kind : {kNative, kCdx}) {
        SCOPED_TRACE(kind.name);
        TempFolder folder;
        MakeTable(
            folder.Path(), "TYPES", kind,
            "ID,numeric,3;NAME,char,8;PAID,logical;HIRED,date;RATE,double",
            {{{"ID", "1"}, {"NAME", "A"}, {"PAID", "T"}, {"HIRED", "20200102"}, {"RATE", "1.5"}},
             {{"ID", "2"}, {"PAID", "F"}, {"HIRED", "20210304"}, {"RATE", "2.25"}}});
        auto table = TableOn(folder.Path(), "TYPES", kind);
        table->Open();
        table->Last();
        const rtl::Variant secondHired = table->FieldNamed("HIRED").VariantValue();
        struct Case {
            const char* fields;
            std::vector<rtl::Variant> values;
            const char* id;
        };
        for (const Case& c : {Case{"PAID", {false}, "2"}, Case{"HIRED", {secondHired}, "2"},
                              Case{"RATE", {2.25}, "2"}, Case{"NAME", {rtl::Variant::Null()}, "2"},
                              Case{"PAID;RATE", {true, 1.5}, "1"}}) {
            SCOPED_TRACE(c.fields);
            table->First();
            if (std::string(c.id) == "1") table->Last();
            EXPECT_TRUE(table->Locate(c.fields, c.values, {}));
            EXPECT_EQ(table->FieldNamed("ID").StringValue(), c.id);
        }
    }
}

}  // namespace
}  // namespace kdstest
