// The dataset model through the in-memory descendant: opening and closing, the record window,
// navigation and bookmarks.
#include "dataset/dataset.h"

#include <gtest/gtest.h>

#include "dataset/datalink.h"
#include "dataset/db_errors.h"
#include "support/dataset_support.h"

namespace dstest {
namespace {

using db::DataSetState;

// Attaches a link asking for `window` buffers (none for a one-record window).
struct Windowed {
    std::unique_ptr<TMemoryDataSet> ds;
    db::TDataSource source;
    std::unique_ptr<WideLink> link;
    Windowed(int rows, int window) : ds(People(rows)) {
        source.SetDataSet(ds.get());
        if (window > 1) {
            link = std::make_unique<WideLink>(window);
            link->SetDataSource(&source);
        }
    }
};

struct WalkCase {
    int rows;
    int window;
};

class WalkTest : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WalkTest, VisitsEveryRecordOnceForwardAndBackward) {
    Windowed w(GetParam().rows, GetParam().window);
    TMemoryDataSet& ds = *w.ds;
    ds.Open();
    EXPECT_EQ(ds.WindowSize(), std::max(1, GetParam().window));
    std::vector<int> expected;
    for (int i = 1; i <= GetParam().rows; ++i) expected.push_back(i);
    EXPECT_EQ(Walk(ds), expected);

    std::vector<int> backward;
    ds.Last();
    while (!ds.AtBOF()) {
        backward.push_back(ds.FieldNamed("ID").IntegerValue());
        ds.Prior();
    }
    EXPECT_EQ(backward, std::vector<int>(expected.rbegin(), expected.rend()));

    ds.First();
    EXPECT_EQ(Walk(ds), expected);
}

INSTANTIATE_TEST_SUITE_P(Windows, WalkTest,
                         ::testing::Values(WalkCase{0, 1}, WalkCase{1, 1}, WalkCase{5, 1},
                                           WalkCase{0, 3}, WalkCase{2, 3}, WalkCase{7, 3},
                                           WalkCase{7, 4}));

TEST(DataSetModel, EmptyTableOpensWithBothEndsSet) {
    auto ds = People(0);
    ds->Open();
    EXPECT_EQ(ds->State(), DataSetState::Browse);
    EXPECT_TRUE(ds->AtBOF());
    EXPECT_TRUE(ds->AtEOF());
    EXPECT_TRUE(ds->IsEmpty());
    EXPECT_EQ(ds->Skip(1), 0);
    EXPECT_TRUE(ds->FieldNamed("ID").IsBlank());
}

TEST(DataSetModel, NextOnLastRecordKeepsItActiveAndReadable) {
    for (int window : {1, 3}) {
        Windowed w(3, window);
        w.ds->Open();
        w.ds->Last();
        EXPECT_EQ(w.ds->Skip(1), 0);
        w.ds->First();
        EXPECT_EQ(w.ds->Skip(2), 2);
        EXPECT_FALSE(w.ds->AtEOF());
        EXPECT_EQ(w.ds->Skip(1), 0) << window;
        EXPECT_TRUE(w.ds->AtEOF());
        EXPECT_EQ(w.ds->FieldNamed("ID").IntegerValue(), 3);
        EXPECT_EQ(w.ds->FieldNamed("NAME").StringValue(), "n3");
    }
}

TEST(DataSetModel, SkipAnswersTheDistanceActuallyMoved) {
    for (int window : {1, 2, 5}) {
        Windowed w(6, window);
        TMemoryDataSet& ds = *w.ds;
        ds.Open();
        EXPECT_EQ(ds.Skip(3), 3);
        EXPECT_EQ(ds.FieldNamed("ID").IntegerValue(), 4);
        EXPECT_EQ(ds.Skip(10), 2) << window;
        EXPECT_TRUE(ds.AtEOF());
        EXPECT_EQ(ds.FieldNamed("ID").IntegerValue(), 6);
        EXPECT_EQ(ds.Skip(-2), -2);
        EXPECT_EQ(ds.FieldNamed("ID").IntegerValue(), 4);
        EXPECT_EQ(ds.Skip(-100), -3);
        EXPECT_TRUE(ds.AtBOF());
        EXPECT_EQ(ds.FieldNamed("ID").IntegerValue(), 1);
    }
}

TEST(DataSetModel, OneRecordWindowFetchesOncePerNext) {
    auto ds = People(4);
    ds->Open();
    int before = ds->FetchCount();
    ds->Next();
    ds->Next();
    EXPECT_EQ(ds->FetchCount() - before, 2);
}

TEST(DataSetModel, FailingOpenLeavesItInactiveWithBuffersReleased) {
    auto ds = People(3);
    ds->SetFailOpen(true);
    bool afterOpen = false;
    ds->SetAfterOpen([&](db::TDataSet&) { afterOpen = true; });
    EXPECT_THROW(ds->Open(), db::EDatabaseError);
    EXPECT_EQ(ds->State(), DataSetState::Inactive);
    EXPECT_FALSE(ds->Active());
    EXPECT_EQ(ds->LiveBuffers(), 0);
    EXPECT_EQ(ds->NumFields(), 0);
    EXPECT_FALSE(afterOpen);
    ds->SetFailOpen(false);
    ds->Open();
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 1);
}

TEST(DataSetModel, CloseDestroysDefaultFieldsAndKeepsPersistentOnes) {
    auto ds = People(2);
    ds->Open();
    EXPECT_TRUE(ds->DefaultFields());
    EXPECT_EQ(ds->NumFields(), 2);
    ds->Close();
    EXPECT_EQ(ds->NumFields(), 0);
    EXPECT_EQ(ds->LiveBuffers(), 0);

    db::TIntegerField id;
    id.SetFieldName("ID");
    id.SetDataSet(ds.get());
    ds->Open();
    EXPECT_FALSE(ds->DefaultFields());
    EXPECT_EQ(ds->NumFields(), 1);
    EXPECT_EQ(id.FieldNo(), 1);
    EXPECT_EQ(id.IntegerValue(), 1);
    ds->Close();
    EXPECT_EQ(id.FieldNo(), 0);
    EXPECT_EQ(ds->NumFields(), 1);
}

TEST(DataSetModel, DefaultFieldsTakeTheirDefinitions) {
    TMemoryDataSet ds({{"CODE", db::ftFixedChar, 4},
                       {"NAME", db::ftString, 30, true, {db::faFixed}},
                       {"AGE", db::ftInteger, 4, false, {db::faReadonly}},
                       {"SECRET", db::ftString, 8, false, {db::faHiddenCol}},
                       {"NOTES", db::ftMemo, 0},
                       {"KEY", db::ftGuid, 38},
                       {"PRICE", db::ftBCD, 2}});
    ds.Open();
    ASSERT_EQ(ds.NumFields(), 6);  // the hidden column has no field
    EXPECT_EQ(ds.FieldNamedOrNull("SECRET"), nullptr);
    auto& code = dynamic_cast<db::TStringField&>(ds.FieldNamed("CODE"));
    EXPECT_EQ(code.DataType(), db::ftFixedChar);
    EXPECT_EQ(code.Size(), 4);
    EXPECT_TRUE(code.FixedChar());
    auto& name = dynamic_cast<db::TStringField&>(ds.FieldNamed("NAME"));
    EXPECT_TRUE(name.FixedChar());
    EXPECT_TRUE(name.Required());
    EXPECT_EQ(name.Size(), 30);
    EXPECT_TRUE(ds.FieldNamed("AGE").ReadOnly());
    EXPECT_EQ(ds.FieldNamed("AGE").Size(), 0);
    EXPECT_NE(dynamic_cast<db::TMemoField*>(&ds.FieldNamed("NOTES")), nullptr);
    EXPECT_NE(dynamic_cast<db::TGuidField*>(&ds.FieldNamed("KEY")), nullptr);
    EXPECT_EQ(ds.FieldNamed("PRICE").Size(), 2);
    std::vector<int> numbers;
    for (int i = 0; i < ds.NumFields(); ++i) numbers.push_back(ds.FieldAt(i).FieldNo());
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 5, 6, 7}));
}

TEST(DataSetModel, PersistentFieldOutlivingItsDataSetIsDetached) {
    db::TIntegerField id;
    id.SetFieldName("ID");
    {
        auto ds = People(1);
        id.SetDataSet(ds.get());
        ds->Open();
        EXPECT_EQ(id.IntegerValue(), 1);
    }
    EXPECT_EQ(id.DataSet(), nullptr);
    EXPECT_THROW(id.IntegerValue(), db::EDatabaseError);
}

TEST(DataSetModel, FieldLookupIgnoresLetterCase) {
    auto ds = People(1);
    ds->Open();
    EXPECT_EQ(&ds->FieldNamed("name"), &ds->FieldAt(1));
    EXPECT_EQ(ds->FieldNamedOrNull("Nope"), nullptr);
    std::vector<db::TField*> list;
    ds->FieldsNamed(&list, " name ;id;");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->FieldName(), "NAME");
    EXPECT_EQ(list[1]->FieldName(), "ID");

    // The lookup follows renames and removals made after it was first used.
    db::TField& name = ds->FieldNamed("NAME");
    name.SetFieldName("Full_Name");
    EXPECT_EQ(ds->FieldNamedOrNull("name"), nullptr);
    EXPECT_EQ(ds->FieldNamedOrNull("FULL_NAME"), &name);
    ds->Close();
    {
        db::TIntegerField extra;
        extra.SetFieldName("EXTRA");
        extra.SetDataSet(ds.get());
        EXPECT_EQ(ds->FieldNamedOrNull("extra"), &extra);
    }
    EXPECT_EQ(ds->FieldNamedOrNull("extra"), nullptr);
}

TEST(DataSetModel, BookmarksReturnToTheirRecord) {
    for (int window : {1, 3}) {
        Windowed w(5, window);
        TMemoryDataSet& ds = *w.ds;
        ds.Open();
        ds.Skip(2);
        db::TBookmark mark = ds.TakeBookmark();
        ASSERT_EQ(mark.size(), 4u);
        ds.Last();
        ds.MoveToBookmark(mark);
        EXPECT_EQ(ds.FieldNamed("ID").IntegerValue(), 3);
        EXPECT_EQ(Walk(ds), (std::vector<int>{3, 4, 5}));
        ds.DisposeBookmark(mark);
        EXPECT_TRUE(mark.empty());
        ds.MoveToBookmark(mark);  // none: nothing happens
    }
}

TEST(DataSetModel, StatesNotifyAttachedDataSources) {
    auto ds = People(1);
    db::TDataSource source;
    std::vector<DataSetState> seen;
    source.SetOnStateChange([&](db::TDataSource& s) { seen.push_back(s.State()); });
    source.SetDataSet(ds.get());
    ds->Open();
    ds->Edit();
    ds->Cancel();
    ds->Close();
    EXPECT_EQ(seen, (std::vector<DataSetState>{DataSetState::Browse, DataSetState::Edit,
                                               DataSetState::Browse, DataSetState::Inactive}));
    source.SetEnabled(false);
    ds->Open();
    EXPECT_EQ(source.State(), DataSetState::Inactive);
}

TEST(DataSetModel, LinkAttachedWhileOpenWidensTheWindowAroundTheActiveRecord) {
    auto ds = People(6);
    db::TDataSource source;
    source.SetDataSet(ds.get());
    ds->Open();
    ds->Skip(3);
    WideLink link(4);
    link.SetDataSource(&source);
    EXPECT_EQ(ds->WindowSize(), 4);
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 4);
    EXPECT_EQ(Walk(*ds), (std::vector<int>{4, 5, 6}));
    link.SetDataSource(nullptr);
    EXPECT_EQ(ds->WindowSize(), 1);
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 6);
}

TEST(DataSetModel, CircularDataSourceIsRefused) {
    // A dataset whose master source is the data source it would be served by.
    class Detail : public TMemoryDataSet {
      public:
        using TMemoryDataSet::TMemoryDataSet;
        db::TDataSource* master = nullptr;
        db::TDataSource* MasterDataSource() const override { return master; }
    };
    Detail detail({{"ID", db::ftInteger, 0}});
    db::TDataSource source;
    source.SetName("Source1");
    detail.master = &source;
    try {
        source.SetDataSet(&detail);
        FAIL() << "no error";
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Source1: Circular datalinks are not allowed");
    }
}

TEST(DataSetModel, EventsOfOpenScrollAndCloseFireInOrder) {
    auto ds = People(2);
    std::vector<std::string> log;
    auto note = [&](const char* name) {
        return [&log, name](db::TDataSet&) { log.push_back(name); };
    };
    ds->SetBeforeOpen(note("BeforeOpen"));
    ds->SetAfterOpen(note("AfterOpen"));
    ds->SetBeforeScroll(note("BeforeScroll"));
    ds->SetAfterScroll(note("AfterScroll"));
    ds->SetBeforeClose(note("BeforeClose"));
    ds->SetAfterClose(note("AfterClose"));
    ds->Open();
    ds->Next();
    ds->Next();  // finds the end
    ds->Next();  // already at the end: no move, BeforeScroll only
    ds->Close();
    EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "BeforeScroll",
                                             "AfterScroll", "BeforeScroll", "AfterScroll",
                                             "BeforeScroll", "BeforeClose", "AfterClose"}));
}

TEST(DataSetModel, CalculatedFieldsFollowTheirRecordAndItsChanges) {
    auto ds = People(3);
    db::TIntegerField id, doubled;
    id.SetFieldName("ID");
    id.SetDataSet(ds.get());
    doubled.SetFieldName("DOUBLED");
    doubled.SetFieldKind(db::fkCalculated);
    doubled.SetDataSet(ds.get());
    std::vector<DataSetState> states;
    ds->SetOnCalcFields([&](db::TDataSet& d) {
        states.push_back(d.State());
        doubled.SetIntegerValue(id.IntegerValue() * 2);
    });
    ds->Open();
    EXPECT_EQ(doubled.FieldNo(), -1);
    EXPECT_EQ(ds->CalcAreaSize(), doubled.DataSize() + 1);
    std::vector<int> seen;
    while (!ds->AtEOF()) {
        seen.push_back(doubled.IntegerValue());
        ds->Next();
    }
    EXPECT_EQ(seen, (std::vector<int>{2, 4, 6}));
    EXPECT_EQ(states.front(), DataSetState::CalcFields);

    ds->Edit();
    id.SetIntegerValue(10);
    EXPECT_EQ(doubled.IntegerValue(), 20);
    ds->Cancel();
    EXPECT_EQ(doubled.IntegerValue(), 6);
    EXPECT_TRUE(ds->FieldValueInState(DataSetState::Browse, doubled).IsNull());
    EXPECT_EQ(ds->FieldValueInState(DataSetState::Browse, id), rtl::Variant(3));
}

TEST(DataSetModel, ActiveStoredWhileLoadingTakesEffectWhenLoadingEnds) {
    auto ds = People(2);
    ds->BeginLoading();
    ds->SetActive(true);
    EXPECT_FALSE(ds->Active());
    ds->EndLoading();
    EXPECT_TRUE(ds->Active());
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 1);
}

TEST(DataSetModel, TempStateSwitchesWithoutNotifyingAndClearsModified) {
    auto ds = People(1);
    db::TDataSource source;
    int changes = 0;
    source.SetOnStateChange([&](db::TDataSource&) { ++changes; });
    source.SetDataSet(ds.get());
    ds->Open();
    ds->Edit();
    ds->FieldNamed("NAME").SetStringValue("x");
    int before = changes;
    DataSetState previous = ds->EnterTempState(DataSetState::Filter);
    EXPECT_EQ(previous, DataSetState::Edit);
    EXPECT_EQ(ds->State(), DataSetState::Filter);
    EXPECT_FALSE(ds->Modified());
    ds->LeaveTempState(previous);
    EXPECT_EQ(ds->State(), DataSetState::Edit);
    EXPECT_EQ(changes, before);
}

}  // namespace
}  // namespace dstest
