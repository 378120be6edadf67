#include "rtl/stringlist.h"

#include <gtest/gtest.h>

#include "rtl/exceptions.h"
#include "rtl/streams.h"

namespace rtl {
namespace {

TEST(StringList, EditingAndIndexErrors) {
    TStringList list;
    EXPECT_EQ(list.Add("one"), 0);
    list.Add("two");
    list.Insert(0, "zero");
    list.Insert(3, "three");
    list.SetStrings(1, "ONE");
    list.Delete(2);
    EXPECT_EQ(list.Text(), "zero\r\nONE\r\nthree\r\n");
    EXPECT_EQ(list.IndexOf("one"), 1);  // case does not matter
    EXPECT_EQ(list.IndexOf("four"), -1);
    list.Move(0, 2);
    list.Exchange(0, 1);
    EXPECT_EQ(list.Text(), "three\r\nONE\r\nzero\r\n");
    for (int bad : {-1, 3}) {
        try {
            list.Strings(bad);
            ADD_FAILURE();
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_THROW(list.Insert(4, "x"), EListError);
    EXPECT_THROW(list.Delete(3), EListError);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, TextSplitsAtEveryLineBreak) {
    TStringList list;
    list.SetText("a\r\nb\nc\rd\r\n\r\ne");
    EXPECT_EQ(list.Count(), 6);
    EXPECT_EQ(list.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
    list.SetText(std::string("x\0y", 3));
    EXPECT_EQ(list.Strings(0), std::string("x\0y", 3));
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, SortedListsKeepOrderAndHandleDuplicates) {
    TStringList list;
    list.SetSorted(true);
    for (const char* s : {"pear", "Apple", "fig", "apple"}) list.Add(s);
    EXPECT_EQ(list.Text(), "Apple\r\nfig\r\npear\r\n");  // "apple" ignored as a duplicate
    int index;
    EXPECT_TRUE(list.Find("FIG", index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(list.Find("grape", index));
    EXPECT_EQ(index, 2);
    EXPECT_THROW(list.Insert(0, "x"), EListError);
    list.SetDuplicates(dupError);
    try {
        list.Add("PEAR");
        ADD_FAILURE();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "String list does not allow duplicates");
    }
    list.SetDuplicates(dupAccept);
    list.Add("PEAR");
    EXPECT_EQ(list.Count(), 4);
    list.SetCaseSensitive(true);
    EXPECT_EQ(list.IndexOf("pear"), 3);
}

TEST(StringList, NameValuePairsAndChangeEvents) {
    TStringList list;
    int changes = 0;
    list.SetOnChange([&] { ++changes; });
    list.SetText("Path=C:\\DATA\nType=KDT");
    EXPECT_EQ(changes, 1);  // one announcement for the whole text
    EXPECT_EQ(list.Values("path"), "C:\\DATA");
    list.SetValues("Type", "CDX");
    list.SetValues("Path", "");
    EXPECT_EQ(list.Text(), "Type=CDX\r\n");
    EXPECT_EQ(list.Names(0), "Type");
    EXPECT_EQ(changes, 3);
    TStringList copy;
    copy.Assign(list);
    copy.AddStrings(copy);
    EXPECT_EQ(copy.Count(), 2);
}

TEST(StringList, SavesAndLoadsThroughStreams) {
    TStringList list;
    list.SetText("first\nsecond");
    TMemoryStream stream;
    list.SaveToStream(stream);
    EXPECT_EQ(stream.Data(), "first\r\nsecond\r\n");
    stream.SetPosition(0);
    TStringList back;
    back.LoadFromStream(stream);
    EXPECT_EQ(back.Text(), list.Text());
}

}  // namespace
}  // namespace rtl
