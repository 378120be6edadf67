// Index definitions: lookups by name, the two-pass search for a field list, selection by kind.
#include "dataset/indexdefs.h"

#include <gtest/gtest.h>

#include "support/dataset_support.h"

namespace dstest {
namespace {

using db::TIndexOptions;

// A dataset that reports its indexes when asked, counting the requests.
class Indexed : public TMemoryDataSet {
  public:
    Indexed()
        : TMemoryDataSet(
              {{"ID", db::ftInteger}, {"LAST", db::ftString, 20}, {"FIRST", db::ftString, 20}}) {
        SetName("Staff");
    }
    db::TIndexDefs defs{this};
    int refreshes = 0;
    void RefreshIndexDefs() override {
        ++refreshes;
        defs.BeginUpdate();
        defs.Clear();
        defs.Add("ByLastFirst", "LAST;FIRST", {});
        defs.Add("ByLastDesc", "LAST", {db::ixDescending});
        defs.Add("ByFirstCI", "FIRST", {db::ixCaseInsensitive});
        defs.Add("ById", "ID", {db::ixPrimary, db::ixUnique});
        defs.Add("ByUpperLast", "LAST", {db::ixExpression}).SetExpression("UPPER(LAST)");
        defs.Add("ByGhost", "GHOST", {db::ixUnique});
        defs.EndUpdate();
    }
};

TEST(IndexDefs, FieldListSearchTakesEqualFieldsThenALeadingPart) {
    Indexed ds;
    ds.Open();
    struct Case {
        const char* fields;
        bool caseInsensitive;
        const char* expected;  // none: nullptr
    };
    const std::vector<Case> cases = {
        {"last", false, "ByLastFirst"},  // leading part; descending and expression skipped
        {"LAST;FIRST", false, "ByLastFirst"},
        {"FIRST", true, "ByFirstCI"},
        {"FIRST", false, "ByFirstCI"},
        {"LAST", true, nullptr},  // no case-insensitive index on LAST
        {"LA", false, nullptr},   // a leading part ends at ";" or at the end
        {"LAST;FI", false, nullptr},
        {"ID", false, "ById"},
    };
    for (const Case& c : cases) {
        db::TIndexDef* def = ds.defs.GetIndexForFields(c.fields, c.caseInsensitive);
        if (c.expected == nullptr) {
            EXPECT_EQ(def, nullptr) << c.fields;
        } else {
            ASSERT_NE(def, nullptr) << c.fields;
            EXPECT_EQ(def->Name(), c.expected) << c.fields;
        }
    }
    EXPECT_EQ(ds.refreshes, 1);
    EXPECT_EQ(ds.defs.Find("bylastfirst").Fields(), "LAST;FIRST");
    // A change outside the refresh brings the collection up to date again at the next search.
    ds.defs.Item(0).SetFields("FIRST;LAST");
    EXPECT_EQ(ds.defs.GetIndexForFields("LAST;FIRST")->Name(), "ByLastFirst");
    EXPECT_EQ(ds.refreshes, 2);
}

TEST(IndexDefs, SelectionByKindKeepsMatchingIndexesOfKnownFields) {
    Indexed ds;
    ds.Open();
    std::unique_ptr<db::TIndexDefs> unique = ds.defs.SelectByOptions({db::ixUnique});
    ASSERT_NE(unique, nullptr);
    ASSERT_EQ(unique->Count(), 1);  // ByGhost names no field of the dataset
    EXPECT_EQ(unique->Item(0).Name(), "ById");
    EXPECT_EQ(unique->DataSet(), nullptr);
    EXPECT_EQ(unique->Item(0).Options(), (TIndexOptions{db::ixPrimary, db::ixUnique}));

    std::unique_ptr<db::TIndexDefs> two =
        ds.defs.SelectByOptions({db::ixDescending, db::ixCaseInsensitive});
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->Count(), 2);
    EXPECT_EQ(ds.defs.SelectByOptions({db::ixNonMaintained}), nullptr);
    EXPECT_EQ(ds.defs.Count(), 6);  // the dataset's own definitions stay
}

}  // namespace
}  // namespace dstest
