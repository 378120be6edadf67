// The table component over every storage the engine has: the same cases run on a native table
// and on DBF tables of both kinds. Navigation, bookmarks, record numbers and counts, field values
// and their empty forms, writing into a new record, default values and table maintenance.
#include <gtest/gtest.h>

#include <cstring>

#include "kds/kdstable.h"
#include "kds_fixture.h"
#include "rtl/datetime.h"

namespace {

using kds::EKDSDatabaseError;
using kds::TKdsTable;
using kdstest::KdsTest;
using kdstest::Row;
using kdstest::Storage;

class KdsStorageTest : public KdsTest, public ::testing::WithParamInterface<Storage> {
  protected:
    const Storage& S() const { return GetParam(); }
    bool Native() const { return S().TableType == kds::ttKdsKDT; }

    // Five records numbered 1 to 5.
    TKdsTable* OpenFive(const std::string& componentName = "KdsTable1") {
        MakeNumberedTable("NUMBERS", S(), 5);
        TKdsTable* table = NewTable(componentName, "NUMBERS", S());
        table->Open();
        return table;
    }
    static int N(TKdsTable* table) { return table->FieldNamed("n").IntegerValue(); }

    // The raw bytes of a field in the active record buffer.
    static std::string RawBytes(TKdsTable* table, const std::string& field) {
        const kds::TKCEFieldDefs& d = table->FieldDescriptions();
        const kds::TKCEFieldDef& f = d.Item(d.PositionOfName(field));
        return std::string(table->ActiveBuffer() + f.Offset, f.Length);
    }

    // A second engine handle on a table of the test folder (shared, not exclusive).
    struct EngineHandle {
        KDSHANDLE connection = 0;
        KDSHANDLE table = 0;
        ~EngineHandle() {
            if (table != 0) KdsCloseTable(table);
            if (connection != 0) KdsDisconnect(connection);
        }
    };
    void OpenEngineHandle(EngineHandle& h, const std::string& name) {
        ASSERT_EQ(KdsConnect(kdstest::U(Dir()), &h.connection), 0u);
        ASSERT_EQ(KdsOpenTable(h.connection, kdstest::U(name), nullptr, S().EngineType, 1, 1, 1, 0,
                               &h.table),
                  0u)
            << kdstest::LastErrorText();
    }
};

TEST_P(KdsStorageTest, AnEmptyTableOpensAtBothEnds) {
    MakeTable("EMPTY", S(), "N,numeric,8,0");
    TKdsTable* table = NewTable("KdsTable1", "EMPTY", S());
    table->Open();
    EXPECT_TRUE(table->AtBOF());
    EXPECT_TRUE(table->AtEOF());
    EXPECT_TRUE(table->IsEmpty());
    EXPECT_EQ(table->CountRecords(), 0);
    table->Next();
    table->Last();
    EXPECT_TRUE(table->AtBOF() && table->AtEOF());
    EXPECT_TRUE(table->FieldNamed("N").IsBlank());
}

TEST_P(KdsStorageTest, TenThousandRecordsAreWalkedWithNextOnceEach) {
    MakeNumberedTable("MANY", S(), 10000);
    TKdsTable* table = NewTable("KdsTable1", "MANY", S());
    table->Open();
    int walked = 0;
    for (table->First(); !table->AtEOF(); table->Next()) {
        ++walked;
        ASSERT_EQ(N(table), walked);
        ASSERT_EQ(table->FieldNamed("NAME").StringValue(), "R" + std::to_string(walked));
    }
    EXPECT_EQ(walked, 10000);
    EXPECT_EQ(table->CountRecords(), 10000);
    // At EOF the last record stays active; the way back starts from it.
    EXPECT_EQ(N(table), 10000);
    table->Prior();
    EXPECT_EQ(N(table), 9999);
    EXPECT_FALSE(table->AtBOF() || table->AtEOF());
}

TEST_P(KdsStorageTest, FirstLastPriorAndRecordNumbers) {
    TKdsTable* table = OpenFive();
    EXPECT_EQ(N(table), 1);
    EXPECT_EQ(table->RecordNumber(), 1);
    table->Last();
    EXPECT_EQ(N(table), 5);
    EXPECT_TRUE(table->AtEOF());
    table->Prior();
    table->Prior();
    EXPECT_EQ(N(table), 3);
    EXPECT_EQ(table->RecordNumber(), 3);
    table->First();
    table->Prior();
    EXPECT_TRUE(table->AtBOF());
    EXPECT_EQ(N(table), 1);
    table->SetRecordNumber(4);
    EXPECT_EQ(N(table), 4);
    EXPECT_EQ(table->RecordNumber(), 4);
}

TEST_P(KdsStorageTest, BookmarksReturnToTheirRecordAndCompareInOrder) {
    TKdsTable* table = OpenFive();
    db::TBookmark first = table->TakeBookmark();
    table->Skip(2);
    db::TBookmark third = table->TakeBookmark();
    ASSERT_EQ(third.size(), static_cast<size_t>(table->BookmarkLength()));
    table->Last();
    table->MoveToBookmark(third);
    EXPECT_EQ(N(table), 3);
    EXPECT_LT(table->CompareBookmarkOrder(first, third), 0);
    EXPECT_GT(table->CompareBookmarkOrder(third, first), 0);
    EXPECT_EQ(table->CompareBookmarkOrder(third, third), 0);
    EXPECT_EQ(table->CompareBookmarkOrder({}, {}), 0);
    EXPECT_EQ(table->CompareBookmarkOrder(first, {}), -1);
    EXPECT_EQ(table->CompareBookmarkOrder({}, first), 1);
    EXPECT_TRUE(table->IsBookmarkValid(third));
    EXPECT_FALSE(table->IsBookmarkValid({}));
}

TEST_P(KdsStorageTest, ABookmarkOfADeletedRecordIsValidOnlyWhileDeletedRecordsAreShown) {
    TKdsTable* table = OpenFive();
    table->Skip(2);
    db::TBookmark third = table->TakeBookmark();
    {
        EngineHandle other;
        OpenEngineHandle(other, "NUMBERS");
        ASSERT_EQ(KdsGotoRecord(other.table, 3), 0u);
        ASSERT_EQ(KdsDeleteRecord(other.table), 0u) << kdstest::LastErrorText();
    }
    UNSIGNED16 shown = 0;
    KdsGetDeleted(&shown);
    ASSERT_EQ(KdsShowDeleted(0), 0u);
    EXPECT_FALSE(table->IsBookmarkValid(third));
    ASSERT_EQ(KdsShowDeleted(1), 0u);
    // A DBF record is only marked; a native record is gone, whatever the setting.
    EXPECT_EQ(table->IsBookmarkValid(third), !Native());
    KdsShowDeleted(shown);
    table->Close();
}

TEST_P(KdsStorageTest, CountsFollowTheCountOptions) {
    TKdsTable* table = OpenFive();
    EXPECT_EQ(table->CountRecords(), 5);
    table->KdsTableOptions().SetKdsFreshRecordCount(true);
    table->KdsTableOptions().SetKdsFilterOptions(kds::RESPECT_WHEN_COUNTING);
    EXPECT_EQ(table->CountRecords(), 5);
    table->KdsTableOptions().SetKdsFilterOptions(kds::IGNORE_WHEN_COUNTING);
    table->KdsTableOptions().SetKdsScopeOptions(kds::RESPECT_SCOPES_WHEN_COUNTING);
    EXPECT_EQ(table->CountRecords(), 5);
    table->Close();
    EXPECT_THROW(table->CountRecords(), db::EDatabaseError);
}

TEST_P(KdsStorageTest, ARecordFilterDecidesWhatIsWalked) {
    MakeNumberedTable("NUMBERS", S(), 6);
    TKdsTable* table = NewTable("KdsTable1", "NUMBERS", S());
    table->SetOnFilterRecord([](db::TDataSet& ds, bool& accept) {
        accept = ds.FieldNamed("N").IntegerValue() % 2 == 0;
    });
    table->SetFiltered(true);
    table->Open();
    std::vector<int> seen;
    for (; !table->AtEOF(); table->Next()) seen.push_back(N(table));
    EXPECT_EQ(seen, (std::vector<int>{2, 4, 6}));
    table->Prior();
    EXPECT_EQ(N(table), 4);
    table->Close();

    table->SetOnFilterRecord([](db::TDataSet&, bool& accept) { accept = false; });
    table->Open();
    EXPECT_TRUE(table->IsEmpty());
    EXPECT_TRUE(table->AtBOF() && table->AtEOF());
    table->Last();
    EXPECT_TRUE(table->IsEmpty());
}

TEST_P(KdsStorageTest, FieldValuesAndEmptyFields) {
    MakeTable("VALUES_", S(),
              "FLAG,logical;SMALL,numeric,4,0;PRICE,numeric,9,2;BORN,date;"
              "NAME,char,8",
              {{"T", "-12", "1234.5", "20010915", "AB"}, {}, {"F", "0", "0", "", "   "}});
    TKdsTable* table = NewTable("KdsTable1", "VALUES_", S());
    table->Open();
    EXPECT_TRUE(table->FieldNamed("flag").BooleanValue());
    EXPECT_EQ(table->FieldNamed("small").IntegerValue(), -12);
    EXPECT_EQ(table->FieldNamed("price").FloatValue(), 1234.5);
    EXPECT_EQ(table->FieldNamed("born").DateTimeValue(), rtl::EncodeDate(2001, 9, 15));
    EXPECT_EQ(table->FieldNamed("name").StringValue(), "AB");
    EXPECT_EQ(table->FieldNamed("SMALL").DataType(), db::ftSmallint);

    table->Next();
    for (const char* name : {"FLAG", "SMALL", "PRICE", "BORN", "NAME"}) {
        EXPECT_TRUE(table->FieldNamed(name).IsBlank()) << name;
    }
    table->Next();
    EXPECT_FALSE(table->FieldNamed("FLAG").BooleanValue());
    EXPECT_FALSE(table->FieldNamed("FLAG").IsBlank());
    EXPECT_FALSE(table->FieldNamed("SMALL").IsBlank());
    EXPECT_EQ(table->FieldNamed("PRICE").FloatValue(), 0.0);
    // Blanks read as empty text; only a native table keeps them apart from no value.
    EXPECT_EQ(table->FieldNamed("NAME").StringValue(), "");
    EXPECT_EQ(table->FieldNamed("NAME").IsBlank(), !Native());
}

TEST_P(KdsStorageTest, AnOemTableRereadsItsTextsThroughTheEngine) {
    MakeTable("TEXTS", S(), "A,char,4;B,char,6", {{"AB", "CDEF"}, {"", "X"}});
    TKdsTable* table = NewTable("KdsTable1", "TEXTS", S());
    table->KdsTableOptions().SetKdsCharType(kds::OEM);
    table->Open();
    EXPECT_EQ(table->FieldNamed("A").StringValue(), "AB");
    EXPECT_EQ(table->FieldNamed("B").StringValue(), "CDEF");
    table->Next();
    EXPECT_EQ(table->FieldNamed("A").StringValue(), "");
    EXPECT_EQ(table->FieldNamed("B").StringValue(), "X");
}

TEST_P(KdsStorageTest, WritingANewRecordFormsTheRawImage) {
    MakeTable("WRITE", S(),
              "N62,numeric,6,2;N72,numeric,7,2;N50,numeric,5,0;FLAG,logical;"
              "NAME,char,6;BORN,date");
    TKdsTable* table = NewTable("KdsTable1", "WRITE", S());
    table->Open();
    table->Append();
    ASSERT_EQ(table->State(), db::DataSetState::Insert);
    struct Case {
        const char* field;
        double value;
        const char* raw;
    };
    const Case cases[] = {
        {"N62", 123.456, "123.46"}, {"N72", 123.456, " 123.46"}, {"N62", -5.5, " -5.50"},
        {"N50", 12345, "12345"},    {"N50", -7, "   -7"},        {"N62", 0.004, "  0.00"},
    };
    for (const Case& c : cases) {
        table->FieldNamed(c.field).SetFloatValue(c.value);
        EXPECT_EQ(RawBytes(table, c.field), c.raw) << c.field << " " << c.value;
    }
    EXPECT_DOUBLE_EQ(table->FieldNamed("N72").FloatValue(), 123.46);
    for (double tooBig : {12345678.0, -12345.0, 123456.0}) {
        try {
            table->FieldNamed("N50").SetFloatValue(tooBig);
            FAIL() << tooBig;
        } catch (const EKDSDatabaseError& e) {
            EXPECT_EQ(e.Message(), "KdsTable1: Numeric out of range.");
            EXPECT_EQ(e.ErrorCode(), 5121);
        }
    }
    table->FieldNamed("FLAG").SetBooleanValue(true);
    EXPECT_EQ(RawBytes(table, "FLAG"), "T");
    table->FieldNamed("FLAG").SetBooleanValue(false);
    EXPECT_EQ(RawBytes(table, "FLAG"), "F");
    table->FieldNamed("NAME").SetStringValue("AB");
    EXPECT_EQ(RawBytes(table, "NAME"), "AB    ");
    table->FieldNamed("NAME").SetStringValue("");
    EXPECT_EQ(RawBytes(table, "NAME"), Native() ? std::string(6, '\0') : std::string(6, ' '));
    table->FieldNamed("BORN").SetDateTimeValue(rtl::EncodeDate(2001, 9, 15));
    EXPECT_EQ(table->FieldNamed("BORN").DateTimeValue(), rtl::EncodeDate(2001, 9, 15));
    if (!Native()) {
        EXPECT_EQ(RawBytes(table, "BORN"), "20010915");
    }
    table->FieldNamed("BORN").Clear();
    EXPECT_TRUE(table->FieldNamed("BORN").IsBlank());
    table->Cancel();
    EXPECT_TRUE(table->IsEmpty());

    // Outside the editing states nothing is written.
    try {
        table->FieldNamed("FLAG").SetBooleanValue(true);
        FAIL();
    } catch (const EKDSDatabaseError& e) {
        EXPECT_EQ(e.Message(), "KdsTable1: Dataset not in edit mode");
    }
}

TEST_P(KdsStorageTest, ANewRecordTakesTheDefaultExpressions) {
    MakeTable("DEFAULTS", S(), "QUOTED,char,5;BARE,char,5;FLAG,logical;PRICE,numeric,8,2");
    TKdsTable* table = NewTable("KdsTable1", "DEFAULTS", S());
    table->Open();
    table->FieldNamed("QUOTED").SetDefaultExpression("'ABC'");
    table->FieldNamed("BARE").SetDefaultExpression("ABC");
    table->FieldNamed("FLAG").SetDefaultExpression(" .T. ");
    table->FieldNamed("PRICE").SetDefaultExpression("12.5");
    table->Append();
    EXPECT_EQ(table->FieldNamed("QUOTED").StringValue(), "ABC");
    EXPECT_TRUE(table->FieldNamed("BARE").IsBlank());
    EXPECT_EQ(RawBytes(table, "FLAG"), "T");
    EXPECT_EQ(table->FieldNamed("PRICE").FloatValue(), 12.5);
    table->Cancel();

    table->FieldNamed("PRICE").SetDefaultExpression("twelve");
    try {
        table->Append();
        FAIL();
    } catch (const EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_TRUE(e.Message().starts_with("Error setting default field value. (PRICE)\r\n"))
            << e.Message();
    }
    EXPECT_EQ(table->State(), db::DataSetState::Browse);
}

TEST_P(KdsStorageTest, EmptyingAnOpenTableFinishesTheInsertAndKeepsItOpen) {
    MakeNumberedTable("NUMBERS", S(), 5);
    TKdsTable* table = NewTable("KdsTable1", "NUMBERS", S());
    table->SetExclusive(true);
    table->Open();
    table->Next();
    table->Append();
    table->EmptyTable();
    EXPECT_EQ(table->State(), db::DataSetState::Browse);
    EXPECT_TRUE(table->Active());
    EXPECT_TRUE(table->IsEmpty());
    EXPECT_TRUE(table->AtBOF() && table->AtEOF());
    EXPECT_EQ(table->CountRecords(), 0);
    table->Append();
    EXPECT_EQ(table->State(), db::DataSetState::Insert);
    table->Cancel();
}

TEST_P(KdsStorageTest, EmptyingAClosedTableUsesOneHandleAndLeavesItClosed) {
    MakeNumberedTable("NUMBERS", S(), 5);
    TKdsTable* table = NewTable("KdsTable1", "NUMBERS", S());
    table->SetExclusive(true);
    int before = kdstest::OpenTables();
    table->EmptyTable();
    EXPECT_FALSE(table->Active());
    EXPECT_EQ(kdstest::OpenTables(), before);
    table->Open();
    EXPECT_TRUE(table->IsEmpty());
    table->Close();

    // The engine refuses to empty a table another handle shares: nothing is left open.
    EngineHandle other;
    OpenEngineHandle(other, "NUMBERS");
    table->SetExclusive(false);
    EXPECT_THROW(table->EmptyTable(), EKDSDatabaseError);
    EXPECT_EQ(kdstest::OpenTables(), before + 1);
}

TEST_P(KdsStorageTest, EnablingEncryptionRealignsTheWindowWithTheEngine) {
    TKdsTable* table = OpenFive();
    table->Skip(2);
    table->EnableEncryption("secret");
    EXPECT_EQ(N(table), 3);
    // The engine at BOF (a Prior past the first record): back to the first record.
    table->First();
    table->Next();
    table->Prior();
    table->Prior();
    table->EnableEncryption("secret");
    EXPECT_EQ(N(table), 1);
    EXPECT_TRUE(table->AtBOF());
    // At EOF: the last record.
    table->Last();
    table->Prior();
    table->Next();
    table->Next();
    table->EnableEncryption("secret");
    EXPECT_EQ(N(table), 5);
    EXPECT_TRUE(table->AtEOF());
    table->Close();
    EXPECT_THROW(table->EnableEncryption("secret"), EKDSDatabaseError);
}

std::string StorageName(const ::testing::TestParamInfo<Storage>& info) { return info.param.Name; }

INSTANTIATE_TEST_SUITE_P(AllStorages, KdsStorageTest,
                         ::testing::Values(kdstest::kKdt, kdstest::kCdx, kdstest::kNtx),
                         StorageName);

}  // namespace
