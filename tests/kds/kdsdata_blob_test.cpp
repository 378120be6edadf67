// Blob fields of TKdsTable on real tables with memo files: values that round-trip byte for byte,
// lazy reading, the stream's refusals, Cancel discarding unposted content, and records as wide as
// a table kind allows.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "dataset/datalink.h"
#include "dataset/fields.h"
#include "kds/kdsblob.h"
#include "kds/kdsengine.h"
#include "tests/kds/edit_tables.h"
#include "tests/kds/engine_calls.h"
#include "tests/support/files.h"

namespace kdstest {
namespace {

// NTX tables (dBase III memo files) hold only text memos; a photo goes into one there too.
std::string FieldsFor(const StorageKind& kind) {
    return std::string("EMP_NO,char,6;NOTES,memo;PHOTO,") +
           (kind.tableType == kds::ttKdsNTX ? "memo" : "binary");
}

using testsupport::ReadFile;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A photo-like value: zero bytes inside and at both ends, every other byte value but 0x1A,
// which a dBase III memo file cannot hold.
std::string Photo() {
    std::string bytes("\0\xFF\xD8\xFF\0\0JFIF\0", 11);
    for (int i = 0; i < 256; ++i) {
        if (i != 0x1A) bytes += static_cast<char>(i);
    }
    bytes += std::string(3, '\0');
    return bytes;
}

class BlobTest : public testing::TestWithParam<StorageKind> {
  protected:
    void SetUp() override {
        MakeTable(folder.Path(), "EMP", GetParam(), FieldsFor(GetParam()),
                  {{{"EMP_NO", "E1"}, {"NOTES", "first note"}}, {{"EMP_NO", "E2"}}});
        table = TableOn(folder.Path(), "EMP", GetParam());
        table->Open();
    }

    db::TBlobField& Photo() { return dynamic_cast<db::TBlobField&>(table->FieldNamed("PHOTO")); }
    db::TBlobField& Notes() { return dynamic_cast<db::TBlobField&>(table->FieldNamed("NOTES")); }

    TempFolder folder;
    std::unique_ptr<kds::TKdsTable> table;
};

// A file with zero bytes inside goes into a new record's blob and comes back out exactly, after
// reopening; a file of 0 bytes stores an empty value and saves as a file of 0 bytes.
TEST_P(BlobTest, FileContentRoundTripsExactly) {
    struct Case {
        const char* empNo;
        std::string bytes;
    };
    for (const Case& c : {Case{"E3", kdstest::Photo()}, Case{"E4", std::string()}}) {
        SCOPED_TRACE(c.empNo);
        WriteFile(folder.File("in.jpg"), c.bytes);
        table->Append();
        table->FieldNamed("EMP_NO").SetStringValue(c.empNo);
        Photo().ReadFromFile(folder.File("in.jpg"));
        table->Post();
    }
    table->Close();
    table->Open();
    table->Last();
    EXPECT_TRUE(Photo().IsBlank());
    Photo().WriteToFile(folder.File("out-empty.jpg"));
    EXPECT_TRUE(std::filesystem::exists(folder.File("out-empty.jpg")));
    EXPECT_EQ(std::filesystem::file_size(folder.File("out-empty.jpg")), 0u);
    table->Prior();
    EXPECT_FALSE(Photo().IsBlank());
    Photo().WriteToFile(folder.File("out.jpg"));
    EXPECT_EQ(ReadFile(folder.File("out.jpg")), kdstest::Photo());
    EXPECT_EQ(Notes().StringValue(), "");
}

// A value is read from the engine once per record visit: twice on the same record costs one
// read; after moving away and back it is read again.
TEST_P(BlobTest, ValueIsReadOncePerVisit) {
    ResetEngineCalls();
    EXPECT_EQ(Notes().StringValue(), "first note");
    EXPECT_EQ(Notes().StringValue(), "first note");
    EXPECT_EQ(EngineCalls("KdsGetField"), 1);
    table->Next();
    table->Prior();
    EXPECT_EQ(Notes().StringValue(), "first note");
    EXPECT_EQ(EngineCalls("KdsGetField"), 2);
}

// Reading each record's memo while walking a window of three records, forward and back: every
// record shows its own value and the walk visits every record once, whether or not reading the
// value had to move the engine cursor off the record the walk stood on.
TEST_P(BlobTest, WalkingWhileReadingEachMemoVisitsEveryRecordWithItsOwnValue) {
    for (int i = 3; i <= 7; ++i) {
        table->Append();
        table->FieldNamed("EMP_NO").SetStringValue("E" + std::to_string(i));
        Notes().SetStringValue("note " + std::to_string(i));
        table->Post();
    }
    db::TDataSource source;
    db::TDataLink link;
    source.SetDataSet(table.get());
    link.SetDataSource(&source);
    link.SetBufferCount(3);
    auto expected = [](const std::string& empNo) {
        return empNo == "E1"   ? std::string("first note")
               : empNo == "E2" ? std::string()
                               : "note " + empNo.substr(1);
    };
    std::string forward, back;
    for (table->First(); !table->AtEOF(); table->Next()) {
        const std::string empNo = table->FieldNamed("EMP_NO").StringValue();
        EXPECT_EQ(Notes().StringValue(), expected(empNo)) << empNo;
        forward += empNo + " ";
    }
    for (table->Last(); !table->AtBOF(); table->Prior()) {
        const std::string empNo = table->FieldNamed("EMP_NO").StringValue();
        EXPECT_EQ(Notes().StringValue(), expected(empNo)) << empNo;
        back += empNo + " ";
    }
    EXPECT_EQ(forward, "E1 E2 E3 E4 E5 E6 E7 ");
    EXPECT_EQ(back, "E7 E6 E5 E4 E3 E2 E1 ");
    // Inside the window the active record is not the one the engine read last: reading its
    // value moves the engine, and the next fetch must still start after the window's end.
    table->First();
    for (int i = 0; i < 3; ++i) table->Next();
    table->Prior();
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E3");
    EXPECT_EQ(Notes().StringValue(), "note 3");
    table->Next();
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E4");
    table->Next();
    EXPECT_EQ(table->FieldNamed("EMP_NO").StringValue(), "E5");
    link.SetDataSource(nullptr);
}

// Text changes of a blob are kept until Post; Cancel of an edit throws them away and the stored
// value stays; Post stores them.
TEST_P(BlobTest, EditOfABlobReachesTheTableOnlyAtPost) {
    table->Edit();
    Notes().SetStringValue("changed, never posted");
    EXPECT_EQ(Notes().StringValue(), "changed, never posted");
    table->Cancel();
    EXPECT_EQ(Notes().StringValue(), "first note");
    table->Edit();
    Notes().SetStringValue("second note");
    table->Post();
    table->Close();
    table->Open();
    EXPECT_EQ(Notes().StringValue(), "second note");
    // Emptying through a write stream posts an empty value and clears the field's marker.
    table->Edit();
    { auto stream = table->OpenBlobStream(Notes(), db::TBlobStreamMode::bmWrite); }
    table->Post();
    EXPECT_TRUE(Notes().IsBlank());
}

// The stream's refusals, with their exact messages and codes; a read stream in an empty dataset
// reads nothing.
TEST_P(BlobTest, StreamsRefuseWritesOutsideAnEdit) {
    try {
        table->OpenBlobStream(Notes(), db::TBlobStreamMode::bmWrite);
        FAIL() << "a write stream was opened in Browse";
    } catch (const kds::EKDSDatabaseError& e) {
        EXPECT_STREQ(e.what(),
                     "KdsTable1: Table must be in Edit or Insert state to open blob stream in "
                     "Write Mode.");
        EXPECT_EQ(e.ErrorCode(), 5121);
    }
    auto stream = table->OpenBlobStream(Notes(), db::TBlobStreamMode::bmRead);
    try {
        stream->Write("x", 1);
        FAIL() << "a read stream was written";
    } catch (const kds::EKDSDatabaseError& e) {
        // Raised without a dataset: no name in front.
        EXPECT_STREQ(e.what(), "Error modifying read only blob.");
        EXPECT_EQ(e.ErrorCode(), 5121);
    }
    stream.reset();
    MakeTable(folder.Path(), "NONE", GetParam(), FieldsFor(GetParam()));
    auto none = TableOn(folder.Path(), "NONE", GetParam(), "KdsTable2");
    none->Open();
    auto empty = none->OpenBlobStream(none->FieldNamed("NOTES"), db::TBlobStreamMode::bmRead);
    char byte = 0;
    EXPECT_EQ(empty->Read(&byte, 1), 0);
}

class WideRecordTest : public testing::TestWithParam<StorageKind> {};

INSTANTIATE_TEST_SUITE_P(Kinds, BlobTest, testing::Values(kNative, kCdx, kNtx), KindName);

// A record as wide as the kind allows, with a memo beside it: the buffer around the image (blob
// slots, record information, bookmark) lies past 65,535 bytes. The table opens, takes a new record
// and gives back its last field and its memo after reopening. (The AddressSanitizer build of the
// tests is what shows a buffer that is too small.)
TEST_P(WideRecordTest, OpensAndRoundTripsNearTheWidestRecord) {
    TempFolder folder;
    std::string fields;
    int last = 0;
    if (GetParam().tableType == kds::ttKdsCDX) {
        // Character fields of this kind hold 254 bytes: 257 of them, one of 250 and the memo's
        // 4 bytes make records of 65,533 bytes with the deletion flag.
        for (last = 1; last <= 257; ++last) fields += "C" + std::to_string(last) + ",char,254;";
        fields += "C258,char,250;";
    } else {
        // 8 x 8000 + 1520 + the memo: 65,524 bytes of image.
        for (last = 1; last <= 8; ++last) fields += "C" + std::to_string(last) + ",char,8000;";
        fields += "C9,char,1520;";
        last = 9;
    }
    fields += "NOTES,memo";
    MakeTable(folder.Path(), "WIDE", GetParam(), fields);
    auto table = TableOn(folder.Path(), "WIDE", GetParam());
    table->Open();
    EXPECT_GT(table->RecordBufferSize(), 65535u);
    const std::string lastField = "C" + std::to_string(last);
    table->Append();
    table->FieldNamed("C1").SetStringValue("first");
    table->FieldNamed(lastField).SetStringValue("last field");
    table->FieldNamed("NOTES").SetStringValue("a note");
    table->Post();
    table->Close();
    table->Open();
    EXPECT_EQ(table->CountRecords(), 1);
    EXPECT_EQ(table->FieldNamed("C1").StringValue(), "first");
    EXPECT_EQ(table->FieldNamed(lastField).StringValue(), "last field");
    EXPECT_EQ(table->FieldNamed("NOTES").StringValue(), "a note");
}

INSTANTIATE_TEST_SUITE_P(Kinds, WideRecordTest, testing::Values(kNative, kCdx, kNtx), KindName);

}  // namespace
}  // namespace kdstest
