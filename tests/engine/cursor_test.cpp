#include "engine_test_util.h"

using namespace kcetest;

namespace {

class CursorTest : public EngineTest {
  protected:
    // A table with records A=1..n, left open shared.
    KDSHANDLE Filled(int n) {
        KDSHANDLE t = Create("NAV", "A,integer;NAME,char,8");
        for (int i = 1; i <= n; ++i) {
            EXPECT_EQ(KdsAppendRecord(t), 0u);
            Set(t, "A", std::to_string(i));
            EXPECT_EQ(KdsWriteRecord(t), 0u);
        }
        KdsCloseTable(t);
        return Open("NAV");
    }
    static std::vector<std::string> Walk(KDSHANDLE t, int step) {
        std::vector<std::string> seen;
        if (step > 0) {
            KdsGotoTop(t);
        } else {
            KdsGotoBottom(t);
        }
        while (!(step > 0 ? Eof(t) : Bof(t))) {
            seen.push_back(Field(t, "A"));
            EXPECT_EQ(KdsSkip(t, step), 0u);
        }
        return seen;
    }
};

TEST_F(CursorTest, EmptyTableIsAtBothEnds) {
    KDSHANDLE t = Filled(0);
    for (auto move : {KdsGotoTop, KdsGotoBottom}) {
        ASSERT_EQ(move(t), 0u);
        EXPECT_TRUE(Eof(t));
        EXPECT_TRUE(Bof(t));
    }
    EXPECT_EQ(KdsSkip(t, 1), 0u);
    EXPECT_TRUE(Eof(t));
    UNSIGNED8 buf[64];
    UNSIGNED32 len = sizeof buf;
    EXPECT_EQ(KdsGetRecord(t, buf, &len), KCE_NO_CURRENT_RECORD);
    UNSIGNED16 visible = 0;
    EXPECT_EQ(KdsIsRecordVisible(t, &visible), KCE_NO_CURRENT_RECORD);
    EXPECT_EQ(Count(t), 0u);
}

TEST_F(CursorTest, SkipsWalkBothWaysAndStopAtTheEnds) {
    KDSHANDLE t = Filled(3);
    EXPECT_EQ(Walk(t, 1), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Walk(t, -1), (std::vector<std::string>{"3", "2", "1"}));
    // Before the first record, Skip(1) lands on it; after the last, Skip(-1) on the last.
    ASSERT_EQ(KdsGotoTop(t), 0u);
    ASSERT_EQ(KdsSkip(t, -1), 0u);
    EXPECT_TRUE(Bof(t));
    EXPECT_FALSE(Eof(t));
    ASSERT_EQ(KdsSkip(t, 1), 0u);
    EXPECT_EQ(Field(t, "A"), "1");
    ASSERT_EQ(KdsSkip(t, 5), 0u);
    EXPECT_TRUE(Eof(t));
    EXPECT_EQ(Recno(t), 0u);
    ASSERT_EQ(KdsSkip(t, -1), 0u);
    EXPECT_EQ(Field(t, "A"), "3");
    ASSERT_EQ(KdsSkip(t, -2), 0u);
    EXPECT_EQ(Field(t, "A"), "1");
    EXPECT_EQ(Count(t), 3u);
}

TEST_F(CursorTest, RecordNumbersAndBookmarks) {
    KDSHANDLE t = Filled(3);
    ASSERT_EQ(KdsGotoRecord(t, 2), 0u);
    EXPECT_EQ(Field(t, "A"), "2");
    KDSHANDLE mark = 0;
    ASSERT_EQ(KdsGetBookmark(t, &mark), 0u);
    UNSIGNED8 b2[4], b3[4];
    UNSIGNED32 len = 4;
    ASSERT_EQ(KdsGetBookmark60(t, b2, &len), 0u);
    ASSERT_EQ(KdsSkip(t, 1), 0u);
    len = 4;
    ASSERT_EQ(KdsGetBookmark60(t, b3, &len), 0u);
    SIGNED32 order = 0;
    ASSERT_EQ(KdsCompareBookmarks(b2, b3, &order), 0u);
    EXPECT_EQ(order, -1);
    ASSERT_EQ(KdsCompareBookmarks(b3, b2, &order), 0u);
    EXPECT_EQ(order, 1);
    ASSERT_EQ(KdsGotoBookmark(t, mark), 0u);
    EXPECT_EQ(Field(t, "A"), "2");
    EXPECT_EQ(KdsGotoRecord(t, 99), KCE_INVALID_RECORD);
    EXPECT_TRUE(Eof(t));
    len = 2;
    ASSERT_EQ(KdsGotoTop(t), 0u);
    EXPECT_EQ(KdsGetBookmark60(t, b2, &len), KCE_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len, 4u);
}

TEST_F(CursorTest, DeletedRecordsAreGoneForEveryHandle) {
    KDSHANDLE t = Filled(3);
    KDSHANDLE other = Open("NAV");
    ASSERT_EQ(KdsGotoRecord(t, 2), 0u);
    ASSERT_EQ(KdsDeleteRecord(t), 0u);
    ASSERT_EQ(KdsWriteRecord(t), 0u);
    UNSIGNED16 flag = 0;
    ASSERT_EQ(KdsIsRecordDeleted(t, &flag), 0u);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(KdsIsRecordVisible(t, &flag), 0u);
    EXPECT_EQ(flag, 0);
    // From the deleted record the cursor still moves on.
    ASSERT_EQ(KdsSkip(t, 1), 0u);
    EXPECT_EQ(Field(t, "A"), "3");
    EXPECT_EQ(Walk(other, 1), (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(Count(other), 2u);
    EXPECT_EQ(KdsGotoRecord(other, 2), KCE_INVALID_RECORD);
    // A deleted last record's number is not given out again.
    ASSERT_EQ(KdsGotoRecord(t, 3), 0u);
    ASSERT_EQ(KdsDeleteRecord(t), 0u);
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    EXPECT_EQ(Recno(t), 4u);
}

TEST_F(CursorTest, IndexAndTableHandlesAreTold) {
    KDSHANDLE t = Filled(1);
    UNSIGNED16 type = 0;
    ASSERT_EQ(KdsGetHandleType(t, &type), 0u);
    EXPECT_EQ(type, KCE_HANDLE_TABLE);
    ASSERT_EQ(KdsGetHandleType(conn_, &type), 0u);
    EXPECT_EQ(type, KCE_HANDLE_CONNECTION);
    EXPECT_EQ(KdsGetHandleType(123456, &type), KCE_INVALID_HANDLE);
    EXPECT_EQ(KdsGotoTop(conn_), KCE_WRONG_HANDLE_TYPE);
}

}  // namespace
