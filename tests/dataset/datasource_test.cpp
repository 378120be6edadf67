// Data sources: which events reach their links and handlers, and links whose source is fixed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dataset/datalink.h"
#include "dataset/dataset.h"
#include "dataset/fields.h"
#include "support/dataset_support.h"

namespace {

// A link that records its reactions.
class RecordingLink : public db::TDataLink {
  public:
    std::vector<std::string> calls;
    void FixSource() { SetDataSourceFixed(true); }

  protected:
    void ActiveChanged() override { calls.push_back(Active() ? "active" : "inactive"); }
    void EditingChanged() override { calls.push_back(Editing() ? "editing" : "browsing"); }
    void RecordChanged(db::TField* field) override {
        calls.push_back("record " + (field ? field->FieldName() : std::string("-")));
    }
    void DataSetScrolled(int distance) override {
        calls.push_back("scrolled " + std::to_string(distance));
    }
    void UpdateData() override { calls.push_back("update"); }
};

TEST(DataSource, EventsReachLinksAndHandlersWhileEnabled) {
    auto ds = dstest::People(3);
    db::TDataSource source;
    std::vector<std::string> handler;
    source.SetOnDataChange([&](db::TDataSource&, db::TField* field) {
        handler.push_back("data " + (field ? field->FieldName() : std::string("-")));
    });
    source.SetOnUpdateData([&](db::TDataSource&) { handler.push_back("update"); });
    source.SetDataSet(ds.get());
    RecordingLink link;
    link.SetDataSource(&source);
    ds->Open();
    ds->Next();
    ds->Edit();
    ds->FieldNamed("NAME").SetStringValue("x");
    ds->Post();
    // Opening tells the handler once with no field; a field change names the field; the post
    // asks the links and the handler to update.
    EXPECT_EQ(handler.front(), "data -");
    EXPECT_NE(std::find(handler.begin(), handler.end(), "data NAME"), handler.end());
    EXPECT_NE(std::find(handler.begin(), handler.end(), "update"), handler.end());
    EXPECT_EQ(link.calls.front(), "active");
    EXPECT_NE(std::find_if(link.calls.begin(), link.calls.end(),
                           [](const std::string& c) { return c.rfind("scrolled", 0) == 0; }),
              link.calls.end());
    EXPECT_NE(std::find(link.calls.begin(), link.calls.end(), "editing"), link.calls.end());
    EXPECT_NE(std::find(link.calls.begin(), link.calls.end(), "record NAME"), link.calls.end());
    EXPECT_NE(std::find(link.calls.begin(), link.calls.end(), "update"), link.calls.end());

    // Disabled: the source reports Inactive and its links hear nothing but that.
    link.calls.clear();
    handler.clear();
    source.SetEnabled(false);
    EXPECT_EQ(source.State(), db::DataSetState::Inactive);
    ds->Next();
    ds->Edit();
    ds->Cancel();
    EXPECT_EQ(link.calls, std::vector<std::string>{"inactive"});
    EXPECT_TRUE(handler.empty());
    EXPECT_TRUE(source.AutoEdit());
    source.SetAutoEdit(false);
    EXPECT_FALSE(source.AutoEdit());
    link.SetDataSource(nullptr);
}

TEST(DataSource, AFixedLinkKeepsItsSource) {
    db::TDataSource first, second;
    RecordingLink link;
    link.SetDataSource(&first);
    link.FixSource();
    try {
        link.SetDataSource(&second);
        ADD_FAILURE() << "the source changed";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("DataSource cannot be changed"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(link.DataSource(), &first);
    EXPECT_EQ(first.Links().size(), 1u);
    EXPECT_TRUE(second.Links().empty());
}

}  // namespace
