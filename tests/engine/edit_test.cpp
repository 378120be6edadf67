#include "engine_test_util.h"

using namespace kcetest;

namespace {

class EditTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        KdsCloseTable(Create("EMP", "ID,autoinc;NAME,char,10;NOTE,memo;PHOTO,binary;PAY,money"));
        t_ = Open("EMP");
    }
    KDSHANDLE t_ = 0;
};

TEST_F(EditTest, AnAppendReachesTheTableOnlyWhenWritten) {
    KDSHANDLE other = Open("EMP");
    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    EXPECT_EQ(Recno(t_), 1u);  // known at once
    Set(t_, "NAME", "ALICE");
    EXPECT_EQ(Count(other), 0u);
    ASSERT_EQ(KdsCancelUpdate(t_), 0u);
    EXPECT_TRUE(Eof(t_));
    EXPECT_EQ(KdsCancelUpdate(t_), KCE_NO_UPDATE_PENDING);
    EXPECT_EQ(Count(other), 0u);

    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    Set(t_, "NAME", "BOB");
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    EXPECT_EQ(Count(other), 1u);
    EXPECT_EQ(Field(t_, "NAME"), "BOB");
    EXPECT_EQ(Field(t_, "ID"), "1");
    // An append that is never written is dropped when the handle closes.
    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    ASSERT_EQ(KdsCloseTable(t_), 0u);
    EXPECT_EQ(Count(other), 1u);
}

TEST_F(EditTest, AutoincrementIsKeptByTheEngine) {
    for (const char* name : {"A", "B", "C"}) {
        ASSERT_EQ(KdsAppendRecord(t_), 0u);
        Set(t_, "NAME", name);
        ASSERT_EQ(KdsWriteRecord(t_), 0u);
    }
    UNSIGNED32 last = 0;
    ASSERT_EQ(KdsGetLastAutoinc(t_, &last), 0u);
    EXPECT_EQ(last, 3u);
    // An edit leaves the value alone even if the image carries another.
    ASSERT_EQ(KdsGotoRecord(t_, 2), 0u);
    uint8_t raw[4] = {99, 0, 0, 0};
    ASSERT_EQ(KdsSetFieldRaw(t_, U("ID"), raw, 4), 0u);
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    ASSERT_EQ(KdsRefreshRecord(t_), 0u);
    EXPECT_EQ(Field(t_, "ID"), "2");
    KdsCloseTable(t_);
    t_ = Open("EMP", KCE_OPEN_EXCLUSIVE);
    ASSERT_EQ(KdsZapTable(t_), 0u);
    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    EXPECT_EQ(Field(t_, "ID"), "1");
}

TEST_F(EditTest, BlobsAreWrittenWithTheRecordAndReadBack) {
    std::string photo("\x89PNG\0\x01\x02", 7);
    std::string note(100000, 'n');
    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    Set(t_, "NOTE", note);
    Set(t_, "PHOTO", photo);
    // The pending values are readable before the write.
    EXPECT_EQ(Field(t_, "PHOTO"), photo);
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    KDSHANDLE other = Open("EMP");
    ASSERT_EQ(KdsGotoTop(other), 0u);
    EXPECT_TRUE(Field(other, "NOTE") == note);
    EXPECT_EQ(Field(other, "PHOTO"), photo);
    UNSIGNED32 len = 0;
    ASSERT_EQ(KdsGetMemoLength(other, U("NOTE"), &len), 0u);
    EXPECT_EQ(len, note.size());
    ASSERT_EQ(KdsGetBinaryLength(other, U("PHOTO"), &len), 0u);
    EXPECT_EQ(len, 7u);
    UNSIGNED16 type = 0, empty = 1;
    ASSERT_EQ(KdsGetMemoDataType(other, U("NOTE"), &type), 0u);
    EXPECT_EQ(type, KCE_MEMO);
    ASSERT_EQ(KdsGetMemoDataType(other, U("PHOTO"), &type), 0u);
    EXPECT_EQ(type, KCE_BINARY);
    EXPECT_EQ(KdsGetMemoDataType(other, U("NAME"), &type), KCE_NOT_A_BLOB);
    ASSERT_EQ(KdsIsEmpty(other, U("PHOTO"), &empty), 0u);
    EXPECT_EQ(empty, 0);
    // The marker in the image says whether the field holds a value.
    UNSIGNED32 offset = 0;
    KdsGetFieldOffset(other, U("PHOTO"), &offset);
    EXPECT_EQ(Record(other)[offset], 0xFF);
    // A zero-length value empties the field; an edit that leaves the blob alone keeps it.
    ASSERT_EQ(KdsSetField(t_, U("PHOTO"), nullptr, 0), 0u);
    Set(t_, "NAME", "X");
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    ASSERT_EQ(KdsRefreshRecord(other), 0u);
    ASSERT_EQ(KdsIsEmpty(other, U("PHOTO"), &empty), 0u);
    EXPECT_EQ(empty, 1);
    EXPECT_EQ(Record(other)[offset], 0x00);
    EXPECT_TRUE(Field(other, "NOTE") == note);
    // A too-small buffer reports the length needed.
    UNSIGNED8 small[10];
    len = sizeof small;
    EXPECT_EQ(KdsGetField(other, U("NOTE"), small, &len, 0), KCE_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len, note.size());
}

TEST_F(EditTest, RecordLocksHoldAgainstOtherHandles) {
    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    Set(t_, "NAME", "A");
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    KDSHANDLE other = Open("EMP");
    ASSERT_EQ(KdsGotoTop(other), 0u);
    ASSERT_EQ(KdsLockRecord(t_, 1), 0u);
    ASSERT_EQ(KdsLockRecord(t_, 1), 0u);  // again: still ours
    EXPECT_EQ(KdsLockRecord(other, 1), KCE_RECORD_LOCKED);
    Set(other, "NAME", "B");
    EXPECT_EQ(KdsWriteRecord(other), KCE_RECORD_LOCKED);
    EXPECT_EQ(KdsDeleteRecord(other), KCE_RECORD_LOCKED);
    EXPECT_EQ(KdsUnlockRecord(other, 1), KCE_RECORD_NOT_LOCKED);
    ASSERT_EQ(KdsUnlockRecord(t_, 1), 0u);
    // The refused write is still pending and goes through now.
    ASSERT_EQ(KdsWriteRecord(other), 0u);
    ASSERT_EQ(KdsLockRecord(other, 1), 0u);
    // Closing a handle releases its locks.
    ASSERT_EQ(KdsCloseTable(other), 0u);
    EXPECT_EQ(KdsLockRecord(t_, 1), 0u);
    ASSERT_EQ(KdsGotoTop(t_), 0u);
    EXPECT_EQ(Field(t_, "NAME"), "B");
}

TEST_F(EditTest, AnEditCanBeCancelledAndNeedsARecord) {
    EXPECT_EQ(KdsSetField(t_, U("NAME"), U("X"), 1), KCE_NO_CURRENT_RECORD);
    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    Set(t_, "NAME", "KEEP");
    Set(t_, "PAY", "1500.25");
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    Set(t_, "NAME", "CHANGED");
    EXPECT_EQ(Field(t_, "NAME"), "CHANGED");
    ASSERT_EQ(KdsCancelUpdate(t_), 0u);
    EXPECT_EQ(Field(t_, "NAME"), "KEEP");
    // A move discards a pending edit too.
    Set(t_, "NAME", "CHANGED");
    ASSERT_EQ(KdsGotoTop(t_), 0u);
    EXPECT_EQ(Field(t_, "NAME"), "KEEP");
    ASSERT_EQ(KdsSetEmpty(t_, U("PAY")), 0u);
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    EXPECT_EQ(Field(t_, "PAY"), "");
}

}  // namespace
