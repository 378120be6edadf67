// The editing protocol: Append, Insert, Edit, Post, Cancel, Delete, and the error loop.
#include <gtest/gtest.h>

#include "dataset/dataset.h"
#include "dataset/db_errors.h"
#include "rtl/exceptions.h"
#include "support/dataset_support.h"

namespace dstest {
namespace {

using db::DataSetState;

std::vector<int> StoredIds(TMemoryDataSet& ds) {
    std::vector<int> ids;
    for (const auto& row : ds.Rows()) {
        int32_t v = 0;
        if (row.values[0]) std::memcpy(&v, row.values[0]->data(), 4);
        ids.push_back(v);
    }
    return ids;
}

TEST(DataSetEditing, AppendPostWritesOneRecordAtTheEndAndMakesItActive) {
    auto ds = People(2);
    ds->Open();
    ds->Append();
    EXPECT_EQ(ds->State(), DataSetState::Insert);
    EXPECT_FALSE(ds->Modified());
    EXPECT_TRUE(ds->FieldNamed("ID").IsBlank());
    ds->FieldNamed("ID").SetIntegerValue(9);
    EXPECT_TRUE(ds->Modified());
    ds->Post();
    EXPECT_EQ(ds->State(), DataSetState::Browse);
    EXPECT_FALSE(ds->Modified());
    EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1, 2, 9}));
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 9);
}

TEST(DataSetEditing, AppendThenMoveWithoutChangeWritesNothing) {
    auto ds = People(2);
    ds->Open();
    ds->Append();
    ds->Next();
    EXPECT_EQ(ds->State(), DataSetState::Browse);
    EXPECT_EQ(ds->PostCount(), 0);
    EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1, 2}));
}

TEST(DataSetEditing, ModifiedAppendIsPostedByTheNextMove) {
    auto ds = People(1);
    ds->Open();
    ds->Append();
    ds->FieldNamed("ID").SetIntegerValue(5);
    ds->First();
    EXPECT_EQ(ds->PostCount(), 1);
    EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1, 5}));
}

TEST(DataSetEditing, FailingPostKeepsTheStateAndTheValuesSetSoFar) {
    auto ds = People(1);
    ds->Open();
    ds->Append();
    ds->FieldNamed("ID").SetIntegerValue(7);
    ds->FieldNamed("NAME").SetStringValue("kept");
    ds->FailPosts(1, "disk full");
    EXPECT_THROW(ds->Post(), db::EDatabaseError);
    EXPECT_EQ(ds->State(), DataSetState::Insert);
    EXPECT_TRUE(ds->Modified());
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 7);
    EXPECT_EQ(ds->FieldNamed("NAME").StringValue(), "kept");
    EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1}));
    // The next move posts the pending record again.
    ds->Next();
    EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1, 7}));
}

TEST(DataSetEditing, InsertPlacesTheRecordBeforeTheActiveOne) {
    for (int window : {1, 3}) {
        auto ds = People(3);
        db::TDataSource source;
        source.SetDataSet(ds.get());
        WideLink link(window);
        link.SetDataSource(&source);
        ds->Open();
        ds->Next();
        ds->Insert();
        ds->FieldNamed("ID").SetIntegerValue(42);
        ds->Post();
        EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1, 42, 2, 3})) << window;
        EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 42);
        ds->First();
        EXPECT_EQ(Walk(*ds), (std::vector<int>{1, 42, 2, 3}));
    }
}

TEST(DataSetEditing, InsertIntoAnEmptyTable) {
    auto ds = People(0);
    ds->Open();
    ds->Insert();
    ds->FieldNamed("ID").SetIntegerValue(1);
    ds->Post();
    EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1}));
    EXPECT_FALSE(ds->AtEOF());
}

TEST(DataSetEditing, EditPostUpdatesAndCancelRestores) {
    auto ds = People(2);
    ds->Open();
    ds->Next();
    ds->Edit();
    EXPECT_EQ(ds->State(), DataSetState::Edit);
    ds->FieldNamed("NAME").SetStringValue("changed");
    ds->Cancel();
    EXPECT_EQ(ds->FieldNamed("NAME").StringValue(), "n2");
    ds->Edit();
    ds->FieldNamed("NAME").SetStringValue("changed");
    ds->Post();
    EXPECT_EQ(ds->FieldNamed("NAME").StringValue(), "changed");
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 2);
    EXPECT_EQ(ds->Rows().size(), 2u);
}

TEST(DataSetEditing, EditOnAnEmptyWindowInserts) {
    auto ds = People(0);
    ds->Open();
    ds->Edit();
    EXPECT_EQ(ds->State(), DataSetState::Insert);
}

TEST(DataSetEditing, DeleteMakesTheNextOrPreviousRecordActive) {
    auto ds = People(3);
    ds->Open();
    ds->Next();
    ds->Delete();
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 3);
    ds->Delete();
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 1);
    ds->Delete();
    EXPECT_TRUE(ds->IsEmpty());
    EXPECT_TRUE(ds->AtBOF());
    EXPECT_TRUE(ds->AtEOF());
}

TEST(DataSetEditing, DeleteWhileInsertingCancelsTheInsert) {
    auto ds = People(2);
    ds->Open();
    ds->Append();
    ds->FieldNamed("ID").SetIntegerValue(3);
    ds->Delete();
    EXPECT_EQ(ds->State(), DataSetState::Browse);
    EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1, 2}));
}

TEST(DataSetEditing, PostErrorEventDecidesBetweenFailAbortAndRetry) {
    auto ds = People(1);
    ds->Open();
    db::TDataAction answer = db::TDataAction::daRetry;
    int calls = 0;
    ds->SetOnPostError([&](db::TDataSet&, db::EDatabaseError& e, db::TDataAction& action) {
        ++calls;
        EXPECT_STREQ(e.what(), "locked");
        EXPECT_EQ(action, db::TDataAction::daFail);
        action = answer;
    });

    ds->Append();
    ds->FieldNamed("ID").SetIntegerValue(2);
    ds->FailPosts(2, "locked");
    ds->Post();  // retried twice, then written
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(StoredIds(*ds), (std::vector<int>{1, 2}));

    answer = db::TDataAction::daAbort;
    ds->Edit();
    ds->FieldNamed("ID").SetIntegerValue(3);
    ds->FailPosts(1, "locked");
    EXPECT_THROW(ds->Post(), rtl::EAbort);
    EXPECT_EQ(ds->State(), DataSetState::Edit);

    answer = db::TDataAction::daFail;
    ds->FailPosts(1, "locked");
    EXPECT_THROW(ds->Post(), db::EDatabaseError);
    EXPECT_EQ(ds->State(), DataSetState::Edit);
}

TEST(DataSetEditing, FailingOnNewRecordReturnsToBrowse) {
    auto ds = People(2);
    ds->Open();
    ds->Next();
    ds->SetOnNewRecord([](db::TDataSet&) { throw db::EDatabaseError("no defaults"); });
    EXPECT_THROW(ds->Append(), db::EDatabaseError);
    EXPECT_EQ(ds->State(), DataSetState::Browse);
    EXPECT_EQ(ds->FieldNamed("ID").IntegerValue(), 2);
}

TEST(DataSetEditing, OnNewRecordValuesDoNotCountAsChanges) {
    auto ds = People(0);
    ds->Open();
    ds->SetOnNewRecord([](db::TDataSet& d) { d.FieldNamed("NAME").SetStringValue("new"); });
    ds->Append();
    EXPECT_FALSE(ds->Modified());
    EXPECT_EQ(ds->FieldNamed("NAME").StringValue(), "new");
    ds->Cancel();
    EXPECT_TRUE(ds->Rows().empty());
}

TEST(DataSetEditing, EventsOfAnAppendAndPostFireInOrder) {
    auto ds = People(1);
    std::vector<std::string> log;
    auto note = [&](const char* name) {
        return [&log, name](db::TDataSet&) { log.push_back(name); };
    };
    ds->SetBeforeInsert(note("BeforeInsert"));
    ds->SetBeforeScroll(note("BeforeScroll"));
    ds->SetOnNewRecord(note("OnNewRecord"));
    ds->SetAfterInsert(note("AfterInsert"));
    ds->SetAfterScroll(note("AfterScroll"));
    ds->SetBeforePost(note("BeforePost"));
    ds->SetAfterPost(note("AfterPost"));
    ds->Open();
    ds->Append();
    ds->FieldNamed("ID").SetIntegerValue(2);
    ds->Post();
    EXPECT_EQ(
        log, (std::vector<std::string>{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert",
                                       "AfterScroll", "BeforePost", "AfterPost"}));
}

TEST(DataSetEditing, FieldChangeRunsValidateThenOnChange) {
    auto ds = People(1);
    ds->Open();
    db::TField& id = ds->FieldNamed("ID");
    std::vector<std::string> log;
    id.SetOnValidate([&](db::TField& f) {
        log.push_back("validate " + f.StringValue());
        if (f.IntegerValue() < 0) throw db::EDatabaseError("negative");
    });
    id.SetOnChange([&](db::TField& f) { log.push_back("change " + f.StringValue()); });
    ds->Edit();
    id.SetIntegerValue(5);
    EXPECT_THROW(id.SetIntegerValue(-1), db::EDatabaseError);
    EXPECT_EQ(id.IntegerValue(), 5);
    EXPECT_EQ(log, (std::vector<std::string>{"validate 5", "change 5", "validate -1"}));
}

TEST(DataSetEditing, RefreshRereadsTheActiveRecord) {
    auto ds = People(2);
    ds->Open();
    ds->Next();
    ds->Rows()[1].values[1] = NativeText("outside", 10);
    EXPECT_EQ(ds->FieldNamed("NAME").StringValue(), "n2");
    ds->Refresh();
    EXPECT_EQ(ds->FieldNamed("NAME").StringValue(), "outside");
}

}  // namespace
}  // namespace dstest
