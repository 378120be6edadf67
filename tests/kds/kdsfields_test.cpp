// Field data of every engine field type on native and DBF tables: which raw images read as empty,
// what the others read as, and the raw images written for values and for no value.
#include <gtest/gtest.h>

#include <cstring>

#include "kds/kdstable.h"
#include "kds_fixture.h"
#include "rtl/datetime.h"

namespace {

using kds::EKDSDatabaseError;
using kds::TKdsTable;
using kdstest::kCdx;
using kdstest::KdsTest;
using kdstest::kKdt;
using kdstest::Storage;

class KdsFieldDataTest : public KdsTest {
  protected:
    static std::string Raw(TKdsTable* table, const std::string& field) {
        const kds::TKCEFieldDefs& d = table->FieldDescriptions();
        const kds::TKCEFieldDef& f = d.Item(d.PositionOfName(field));
        return std::string(table->ActiveBuffer() + f.Offset, f.Length);
    }
    static void SetRaw(TKdsTable* table, const std::string& field, const std::string& bytes) {
        const kds::TKCEFieldDefs& d = table->FieldDescriptions();
        const kds::TKCEFieldDef& f = d.Item(d.PositionOfName(field));
        ASSERT_EQ(bytes.size(), f.Length);
        std::memcpy(table->ActiveBuffer() + f.Offset, bytes.data(), bytes.size());
    }
};

// One stored value: the engine's text given to the field (empty: left empty), and what the field
// reads (empty `text`: the field reads as having no value).
struct ReadCase {
    const char* storage;
    const char* field;
    const char* stored;
    bool blank;
    const char* text;
};

TEST_F(KdsFieldDataTest, StoredValuesAndEmptyImagesReadPerEngineType) {
    const char* native =
        "L,logical;N,numeric,8,2;D,date;C,char,6;CD,compactdate;DBL,double;INT,integer;"
        "SI,shortint;T,time;TS,timestamp;R,raw,4;Y,money";
    const char* dbf =
        "L,logical;N,numeric,8,2;D,date;C,char,6;DBL,double;INT,integer;"
        "TS,timestamp;Y,money";
    const ReadCase cases[] = {
        // Native tables: every type has an empty image of its own.
        {"KDT", "L", "T", false, "True"},
        {"KDT", "L", "", true, ""},
        {"KDT", "N", "-12.5", false, "-12.5"},
        {"KDT", "N", "", true, ""},
        {"KDT", "D", "20010915", false, "09/15/2001"},
        {"KDT", "D", "", true, ""},
        {"KDT", "C", "AB", false, "AB"},
        {"KDT", "C", "", true, ""},
        {"KDT", "CD", "20010915", false, "09/15/2001"},
        {"KDT", "CD", "", true, ""},
        {"KDT", "DBL", "0", false, "0"},
        {"KDT", "DBL", "", true, ""},
        {"KDT", "INT", "0", false, "0"},
        {"KDT", "SI", "0", false, "0"},
        {"KDT", "T", "00:00:00", false, "00:00:00"},
        {"KDT", "T", "10:20:30", false, "10:20:30"},
        {"KDT", "T", "", true, ""},
        {"KDT", "TS", "20010915 10:20:30", false, "09/15/2001 10:20:30"},
        {"KDT", "TS", "", true, ""},
        {"KDT", "R", "abcd", false, "abcd"},
        {"KDT", "Y", "9.25", false, "9.25"},
        {"KDT", "Y", "", true, ""},
        // DBF tables: binary numbers have no empty spelling, text fields are empty when blank.
        {"CDX", "L", "F", false, "False"},
        {"CDX", "L", "", true, ""},
        {"CDX", "N", "", true, ""},
        {"CDX", "N", "0", false, "0"},
        {"CDX", "D", "20010915", false, "09/15/2001"},
        {"CDX", "D", "", true, ""},
        {"CDX", "C", "", true, ""},
        {"CDX", "DBL", "", false, "0"},
        {"CDX", "INT", "", false, "0"},
        {"CDX", "Y", "", false, "0"},
        {"CDX", "TS", "20010915 10:20:30", false, "09/15/2001 10:20:30"},
        {"CDX", "TS", "", true, ""},
    };
    for (const Storage* storage : {&kKdt, &kCdx}) {
        std::vector<kdstest::Row> rows;
        std::vector<const ReadCase*> used;
        std::string fields = storage == &kKdt ? native : dbf;
        for (const ReadCase& c : cases) {
            if (std::string(c.storage) != storage->Name) continue;
            // One record per case, the case's field set and every other field left empty.
            kdstest::Row row;
            size_t position = 0;
            for (size_t start = 0; start <= fields.size();) {
                size_t end = fields.find(';', start);
                if (end == std::string::npos) end = fields.size();
                std::string name = fields.substr(start, fields.find(',', start) - start);
                row.push_back(name == c.field ? c.stored : "");
                start = end + 1;
                ++position;
            }
            rows.push_back(row);
            used.push_back(&c);
        }
        std::string tableName = std::string("READ_") + storage->Name;
        MakeTable(tableName, *storage, fields, rows);
        TKdsTable* table = NewTable("KdsTable1", tableName, *storage);
        table->Open();
        for (const ReadCase* c : used) {
            db::TField& field = table->FieldNamed(c->field);
            EXPECT_EQ(field.IsBlank(), c->blank)
                << storage->Name << " " << c->field << " '" << c->stored << "'";
            EXPECT_EQ(field.StringValue(), c->text)
                << storage->Name << " " << c->field << " '" << c->stored << "'";
            table->Next();
        }
        EXPECT_TRUE(table->AtEOF());
        delete table;
    }
}

TEST_F(KdsFieldDataTest, NullImagesWrittenForNoValuePerTableKind) {
    const char* fields = "L,logical;N,numeric,5,1;D,date;C,char,3;DBL,double;INT,integer;Y,money";
    struct Expected {
        const char* field;
        std::string native;
        std::string dbf;
    };
    const std::string zeros4(4, '\0');
    const Expected expected[] = {
        {"L", " ", " "},
        {"N", std::string(5, '\0'), "     "},
        {"D", zeros4, "        "},
        {"C", std::string(3, '\0'), "   "},
        // Binary numbers take the engine's empty value on both kinds, so that they read blank.
        {"DBL", std::string("\x20\0\0\0\0\0\0\x80", 8), std::string("\x20\0\0\0\0\0\0\x80", 8)},
        {"INT", std::string("\0\0\0\x80", 4), std::string("\0\0\0\x80", 4)},
        {"Y", std::string("\x20\0\0\0\0\0\0\x80", 8), std::string("\x20\0\0\0\0\0\0\x80", 8)},
    };
    for (const Storage* storage : {&kKdt, &kCdx}) {
        std::string name = std::string("NULLS_") + storage->Name;
        MakeTable(name, *storage, fields);
        TKdsTable* table = NewTable("KdsTable1", name, *storage);
        table->Open();
        table->Append();
        for (const Expected& e : expected) {
            db::TField& field = table->FieldNamed(e.field);
            std::string name = e.field;
            {
                field.SetStringValue(name == "C"   ? "XY"
                                     : name == "L" ? "True"
                                     : name == "D" ? "01/02/2003"
                                                   : "1");
                EXPECT_FALSE(field.IsBlank()) << e.field;
            }
            field.Clear();
            EXPECT_EQ(Raw(table, e.field), storage == &kKdt ? e.native : e.dbf)
                << storage->Name << " " << e.field;
            EXPECT_TRUE(field.IsBlank()) << e.field;
        }
        // Posted, a binary number of a DBF field that cannot be null is stored as 0 (its empty
        // value would be stored as a number); a native one stays empty.
        table->Post();
        table->Last();
        for (const char* binary : {"DBL", "INT", "Y"}) {
            db::TField& field = table->FieldNamed(binary);
            EXPECT_EQ(field.IsBlank(), storage == &kKdt) << storage->Name << " " << binary;
            EXPECT_EQ(field.StringValue(), storage == &kKdt ? "" : "0")
                << storage->Name << " " << binary;
        }
        delete table;
    }
}

TEST_F(KdsFieldDataTest, NativeEmptyImagesOfNumbersAreNotTheirZeros) {
    MakeTable("SENTINELS", kKdt, "INT,integer;SI,shortint;T,time;DBL,double",
              {{"0", "0", "", "0"}});
    TKdsTable* table = NewTable("KdsTable1", "SENTINELS", kKdt);
    table->Open();
    EXPECT_EQ(table->FieldNamed("INT").IntegerValue(), 0);
    EXPECT_FALSE(table->FieldNamed("SI").IsBlank());
    EXPECT_FALSE(table->FieldNamed("DBL").IsBlank());
    table->Append();
    const std::pair<const char*, std::string> images[] = {
        {"INT", std::string("\0\0\0\x80", 4)},
        {"SI", std::string("\0\x80", 2)},
        {"T", std::string("\xFF\xFF\xFF\xFF", 4)},
        {"DBL", std::string("\x20\0\0\0\0\0\0\x80", 8)},
    };
    for (const auto& [name, image] : images) {
        SetRaw(table, name, std::string(image.size(), '\0'));
        EXPECT_FALSE(table->FieldNamed(name).IsBlank()) << name;
        EXPECT_EQ(table->FieldNamed(name).StringValue(),
                  std::string(name) == "T" ? "00:00:00" : "0");
        SetRaw(table, name, image);
        EXPECT_TRUE(table->FieldNamed(name).IsBlank()) << name;
    }
    table->Cancel();
}

TEST_F(KdsFieldDataTest, DatesConvertBetweenNativeDaysAndJulianDays) {
    MakeTable("DATES", kKdt, "D,date;CD,compactdate;TS,timestamp");
    TKdsTable* table = NewTable("KdsTable1", "DATES", kKdt);
    table->Open();
    table->Append();
    db::TField& date = table->FieldNamed("D");
    auto julian = [&](int32_t value) {
        return std::string(reinterpret_cast<const char*>(&value), 4);
    };
    // 1 January of year 1 is native day 1, Julian day 1721426.
    date.SetDateTimeValue(rtl::EncodeDate(1, 1, 1));
    EXPECT_EQ(Raw(table, "D"), julian(1721426));
    EXPECT_EQ(date.DateTimeValue(), rtl::EncodeDate(1, 1, 1));
    date.SetDateTimeValue(rtl::EncodeDate(2001, 9, 15));
    EXPECT_EQ(Raw(table, "D"), julian(2452168));

    // The compact date's three bytes, the year's word high byte first.
    db::TField& compact = table->FieldNamed("CD");
    compact.SetDateTimeValue(rtl::EncodeDate(2001, 9, 15));
    EXPECT_EQ(Raw(table, "CD"), "\x0F\xA3\x2F");
    SetRaw(table, "CD", "\x0F\xA3\x2F");
    EXPECT_EQ(compact.DateTimeValue(), rtl::EncodeDate(2001, 9, 15));

    // A timestamp before day 1 reads as 0.
    db::TField& stamp = table->FieldNamed("TS");
    stamp.SetDateTimeValue(rtl::EncodeDate(2001, 9, 15) + 0.5);
    EXPECT_EQ(Raw(table, "TS"), julian(2452168) + julian(43200000));
    EXPECT_EQ(stamp.DateTimeValue(), rtl::EncodeDate(2001, 9, 15) + 0.5);
    SetRaw(table, "TS", julian(1000) + julian(0));
    EXPECT_FALSE(stamp.IsBlank());
    EXPECT_EQ(stamp.DateTimeValue(), 0.0);
    table->Cancel();
}

TEST_F(KdsFieldDataTest, DefaultOutOfRangeForASmallIntegerNamesTheField) {
    MakeTable("DEFAULTS", kKdt, "SI,shortint;INT,integer");
    TKdsTable* table = NewTable("KdsTable1", "DEFAULTS", kKdt);
    table->Open();
    table->FieldNamed("SI").SetDisplayLabel("Small number");
    table->FieldNamed("SI").SetDefaultExpression("40000");
    try {
        table->Append();
        FAIL();
    } catch (const EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_EQ(
            e.Message(),
            "Error setting default field value. (Small number)\r\nNumeric out of range:40000");
    }
    table->FieldNamed("SI").SetDefaultExpression("-7");
    table->FieldNamed("INT").SetDefaultExpression("-2147483648");
    EXPECT_THROW(table->Append(), EKDSDatabaseError);
    table->FieldNamed("INT").SetDefaultExpression("123456");
    table->Append();
    EXPECT_EQ(table->FieldNamed("SI").IntegerValue(), -7);
    EXPECT_EQ(table->FieldNamed("INT").IntegerValue(), 123456);
    table->Cancel();
}

TEST_F(KdsFieldDataTest, OldValueBeforeAnyEditHasNoValue) {
    MakeTable("T", kKdt, "INT,integer", {{"5"}});
    TKdsTable* table = NewTable("KdsTable1", "T", kKdt);
    table->Open();
    db::DataSetState saved = table->EnterTempState(db::DataSetState::OldValue);
    EXPECT_FALSE(table->ReadFieldData(table->FieldNamed("INT"), nullptr));
    table->LeaveTempState(saved);
    EXPECT_EQ(table->FieldNamed("INT").IntegerValue(), 5);
}

}  // namespace
