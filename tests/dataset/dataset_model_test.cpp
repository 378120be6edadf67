// Random sequences of moves and edits, run on the dataset and on a plain list that states what
// they must do: the active record, the end flags and the distance moved must agree after every
// step, for a one-record window and for wider ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "support/dataset_support.h"

namespace dstest {
namespace {

// What the operations mean on a list of record ids with an active position.
struct Reference {
    std::vector<int> ids;
    int cur = 0;
    bool bof = true, eof = true;

    bool Empty() const { return ids.empty(); }
    void Settle() {  // after a refill around the cursor's record
        bof = eof = Empty();
        cur = std::clamp(cur, 0, std::max(0, static_cast<int>(ids.size()) - 1));
    }
    void First() {
        cur = 0;
        bof = true;
        eof = Empty();
    }
    void Last() {
        cur = std::max(0, static_cast<int>(ids.size()) - 1);
        eof = true;
        bof = Empty();
    }
    int Skip(int k) {
        if (k == 0 || (k > 0 && eof) || (k < 0 && bof)) return 0;
        bof = eof = false;
        int target = cur + k;
        int last = static_cast<int>(ids.size()) - 1;
        if (target > last) eof = true;
        if (target < 0) bof = true;
        target = std::clamp(target, 0, last);
        int moved = target - cur;
        cur = target;
        return moved;
    }
};

void Check(TMemoryDataSet& ds, const Reference& ref, const std::string& step) {
    ASSERT_EQ(ds.AtBOF(), ref.bof) << step;
    ASSERT_EQ(ds.AtEOF(), ref.eof) << step;
    if (ref.Empty()) {
        ASSERT_TRUE(ds.IsEmpty()) << step;
        return;
    }
    ASSERT_EQ(ds.FieldNamed("ID").IntegerValue(), ref.ids[ref.cur]) << step;
}

TEST(DataSetAgainstReference, RandomMovesAndEditsAgree) {
    for (int window : {1, 2, 4}) {
        for (unsigned seed = 1; seed <= 20; ++seed) {
            auto ds = People(static_cast<int>(seed % 5));
            db::TDataSource source;
            source.SetDataSet(ds.get());
            WideLink link(window);
            link.SetDataSource(&source);
            Reference ref;
            for (size_t i = 1; i <= ds->Rows().size(); ++i) ref.ids.push_back(static_cast<int>(i));
            ds->Open();
            ref.First();
            std::mt19937 rng(seed);
            int nextId = 100;
            for (int step = 0; step < 300; ++step) {
                std::string what;
                switch (rng() % 10) {
                    case 0:
                        what = "First";
                        ds->First();
                        ref.First();
                        break;
                    case 1:
                        what = "Last";
                        ds->Last();
                        ref.Last();
                        break;
                    case 2:
                    case 3: {
                        int k = static_cast<int>(rng() % 7) - 3;
                        what = "Skip " + std::to_string(k);
                        int moved = ds->Skip(k);
                        ASSERT_EQ(moved, ref.Skip(k)) << what;
                        break;
                    }
                    case 4: {
                        what = "Append";
                        ds->Append();
                        ds->FieldNamed("ID").SetIntegerValue(nextId);
                        ds->Post();
                        ref.ids.push_back(nextId++);
                        ref.cur = static_cast<int>(ref.ids.size()) - 1;
                        ref.Settle();
                        break;
                    }
                    case 5: {
                        what = "Insert";
                        ds->Insert();
                        ds->FieldNamed("ID").SetIntegerValue(nextId);
                        ds->Post();
                        ref.ids.insert(ref.ids.begin() + (ref.Empty() ? 0 : ref.cur), nextId++);
                        ref.Settle();
                        break;
                    }
                    case 6:
                        what = "Delete";
                        if (ref.Empty()) continue;
                        ds->Delete();
                        ref.ids.erase(ref.ids.begin() + ref.cur);
                        ref.Settle();
                        break;
                    case 7:
                        what = "Edit";
                        if (ref.Empty()) continue;
                        ds->Edit();
                        ds->FieldNamed("NAME").SetStringValue("e");
                        ds->Post();
                        ref.Settle();
                        break;
                    case 9: {
                        // Back to a bookmark taken a moment ago, when its record still exists.
                        what = "Bookmark";
                        if (ref.Empty()) continue;
                        int id = ref.ids[ref.cur];
                        db::TBookmark mark = ds->TakeBookmark();
                        ds->Skip(static_cast<int>(rng() % 5) - 2);
                        ds->MoveToBookmark(mark);
                        ref.cur = static_cast<int>(std::find(ref.ids.begin(), ref.ids.end(), id) -
                                                   ref.ids.begin());
                        ref.Settle();
                        break;
                    }
                    case 8:
                        what = "Append and leave";
                        ds->Append();
                        ds->Cancel();
                        ref.cur = static_cast<int>(ref.ids.size()) - 1;
                        ref.Settle();
                        break;
                }
                Check(*ds, ref,
                      "window " + std::to_string(window) + " seed " + std::to_string(seed) +
                          " step " + std::to_string(step) + " " + what);
                if (::testing::Test::HasFatalFailure()) return;
            }
            ds->First();
            EXPECT_EQ(Walk(*ds), ref.ids);
        }
    }
}

}  // namespace
}  // namespace dstest
