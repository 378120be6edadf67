#include <sqlite3.h>

#include <functional>

#include "engine/dbf/dbf_table.h"
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

// Record 2 of each table cannot be read: a native row whose date another program wrote as no
// date, a DBF record whose name holds a byte the OEM page's ANSI partner lacks. Every move onto it
// fails, and the cursor stays on the record it stood on, with that record's image and fields:
// never the unreadable record's bytes under the old record number.
TEST_F(CursorTest, AFailedMoveLeavesTheCursorOnItsRecord) {
    KDSHANDLE t = Create("NAV", "N,numeric,4,0;D,date");
    for (const char* n : {"1", "2", "3"}) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        Set(t, "N", n);
        Set(t, "D", "01/02/2003");
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    KdsCloseTable(t);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("NAV.kdt").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE records SET D = '2021-02-29' WHERE kdt_recno = 2", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    ASSERT_EQ(kce::dbf::DbfTable::Create(Path("dos.dbf"), kce::dbf::XBaseKind::kNtx,
                                         {{"N", KCE_NUMERIC, 4, 0}, {"NAME", KCE_STRING, 4, 0}},
                                         {.codePage = 0x02}),  // DOS 850
              0u);
    ASSERT_EQ(KdsOpenTable(conn_, U("dos.dbf"), nullptr, KCE_DEFAULT_TABLE, KCE_ANSI,
                           KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &t),
              0u)
        << LastErrorText();
    for (const char* name : {"a", "a\xC9", "c"}) {  // 0xC9: a box corner of page 850
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        Set(t, "N", std::to_string(Recno(t)));
        Set(t, "NAME", name);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    KdsCloseTable(t);

    struct Table {
        const char* name;
        UNSIGNED16 charType;
        KCESTATUS status;
    } tables[] = {{"NAV", KCE_ANSI, KCE_DAMAGED_FILE},
                  {"dos.dbf", KCE_OEM, KCE_INVALID_FIELD_VALUE}};
    struct Move {
        const char* what;
        UNSIGNED32 from;
        std::function<KCESTATUS(KDSHANDLE)> move;
    } moves[] = {
        {"skip forward", 1, [](KDSHANDLE h) { return KdsSkip(h, 1); }},
        {"skip two forward", 1, [](KDSHANDLE h) { return KdsSkip(h, 2); }},
        {"skip back", 3, [](KDSHANDLE h) { return KdsSkip(h, -1); }},
        {"go to the record", 3, [](KDSHANDLE h) { return KdsGotoRecord(h, 2); }},
    };
    for (const Table& table : tables) {
        ASSERT_EQ(KdsOpenTable(conn_, U(table.name), nullptr, KCE_DEFAULT_TABLE, table.charType,
                               KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &t),
                  0u)
            << LastErrorText();
        for (const Move& m : moves) {
            SCOPED_TRACE(std::string(table.name) + ": " + m.what);
            ASSERT_EQ(KdsGotoRecord(t, m.from), 0u) << LastErrorText();
            const std::vector<uint8_t> before = Record(t);
            EXPECT_EQ(m.move(t), table.status);
            EXPECT_EQ(Recno(t), m.from);
            EXPECT_FALSE(Eof(t) || Bof(t));
            EXPECT_EQ(Record(t), before);
            EXPECT_EQ(Field(t, "N"), std::to_string(m.from));
        }
        KdsCloseTable(t);
    }
}

}  // namespace
