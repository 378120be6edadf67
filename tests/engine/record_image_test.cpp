// The raw record images of every engine type on native tables, byte for byte.
#include <sqlite3.h>

#include <cstdlib>
#include <cstring>

#include "engine_test_util.h"

using namespace kcetest;

namespace {

using Bytes = std::vector<uint8_t>;

struct ImageCase {
    const char* field;  // in the table below
    Bytes raw;          // image bytes written with KdsSetFieldRaw and read back the same
    const char* text;   // KdsGetField of that value ("" for null)
};

class RecordImageTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        t_ = Create("IMG",
                    "L,logical;N,numeric,8,2;D,date;C,char,6;CD,compactdate;DB,double;"
                    "IN,integer;SI,shortint;TM,time;TS,timestamp;AI,autoinc;R,raw,3;MO,money;"
                    "N0,numeric,4");
    }
    KDSHANDLE t_ = 0;
};

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes Le64(int64_t v) {
    Bytes b(8);
    for (int i = 0; i < 8; ++i) b[size_t(i)] = uint8_t(uint64_t(v) >> (8 * i));
    return b;
}
Bytes Double(double v) {
    Bytes b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}
Bytes Str(const char* s) { return Bytes(s, s + std::strlen(s)); }
Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(RecordImageTest, ValuesAndNullsRoundTripByteForByte) {
    ASSERT_EQ(KdsSetDateFormat(U("MM/dd/ccyy")), 0u);
    const ImageCase cases[] = {
        {"L", Str("T"), "T"},
        {"L", Str("F"), "F"},
        {"L", Str(" "), ""},
        {"N", Str("  123.46"), "123.46"},
        {"N", Str("   -5.50"), "-5.50"},
        {"N", Bytes(8, 0), ""},
        {"N0", Str("-999"), "-999"},
        {"D", Le32(1721426), "01/01/0001"},
        {"D", Le32(1721425), "0000-12-31"},  // before the date format's first year
        {"D", Le32(2451545), "01/01/2000"},
        {"D", Bytes(4, 0), ""},
        {"C", Str("AB    "), "AB"},
        {"C", Bytes(6, 0), ""},
        {"CD", {0x0F, 0xA3, 0x2F}, "09/15/2001"},
        {"CD", {0, 0, 0}, ""},
        {"DB", Double(0.1), "0.1"},
        {"DB", Double(0.0), "0"},
        {"DB", {0x20, 0, 0, 0, 0, 0, 0, 0x80}, ""},
        // Money: a count of ten-thousandths, every digit kept at both ends of the range.
        {"MO", Le64(-12345000), "-1234.5"},
        {"MO", Le64(INT64_MAX), "922337203685477.5807"},
        {"MO", Le64(-INT64_MAX), "-922337203685477.5807"},
        {"MO", {0x20, 0, 0, 0, 0, 0, 0, 0x80}, ""},
        {"IN", Le32(0), "0"},
        {"IN", Le32(uint32_t(-2147483647)), "-2147483647"},
        {"IN", {0, 0, 0, 0x80}, ""},
        {"SI", {0xFF, 0x7F}, "32767"},
        {"SI", {0, 0}, "0"},
        {"SI", {0, 0x80}, ""},
        {"TM", Le32(0), "00:00:00.000"},
        {"TM", Le32(86399999), "23:59:59.999"},
        {"TM", {0xFF, 0xFF, 0xFF, 0xFF}, ""},
        {"TS", Cat(Le32(2451545), Le32(45296789)), "01/01/2000 12:34:56.789"},
        {"TS", Cat(Le32(0), {0xFF, 0xFF, 0xFF, 0xFF}), ""},
        {"R", {0x01, 0x00, 0xFF}, "\x01\x00\xFF"},
        {"R", {0, 0, 0}, ""},
    };
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.text);
        ASSERT_EQ(KdsAppendRecord(t_), 0u);
        ASSERT_EQ(KdsSetFieldRaw(t_, U(c.field), c.raw.data(), UNSIGNED32(c.raw.size())), 0u)
            << LastErrorText();
        ASSERT_EQ(KdsWriteRecord(t_), 0u) << LastErrorText();
        UNSIGNED32 recno = Recno(t_);
        ASSERT_EQ(KdsGotoTop(t_), 0u);
        ASSERT_EQ(KdsGotoRecord(t_, recno), 0u);
        UNSIGNED32 offset = 0;
        KdsGetFieldOffset(t_, U(c.field), &offset);
        Bytes image = Record(t_);
        EXPECT_EQ(Bytes(image.begin() + offset, image.begin() + offset + c.raw.size()), c.raw);
        EXPECT_EQ(Field(t_, c.field), c.field[0] == 'R' && *c.text ? std::string("\x01\x00\xFF", 3)
                                                                   : std::string(c.text));
        UNSIGNED16 empty = 9;
        ASSERT_EQ(KdsIsEmpty(t_, U(c.field), &empty), 0u);
        EXPECT_EQ(empty != 0, *c.text == 0);
    }
}

// A numeric text is stored as the number it names: an integer without decimals, else the double
// nearest to it (as reading the text gives it), and its text when a double cannot keep its digits.
TEST_F(RecordImageTest, NumericTextsAreStoredAsTheNumbersTheyName) {
    ASSERT_EQ(KdsCloseTable(t_), 0u);
    KDSHANDLE t = Create("NUM", "R,numeric,30,4;I,numeric,30");
    struct Case {
        const char* field;
        const char* text;
        const char* storedAs;  // SQLite's type of the column value
    };
    const Case cases[] = {
        {"R", "0.1", "real"},
        {"R", "-12.3456", "real"},
        {"R", "+7.5", "real"},
        {"R", ".5", "real"},
        {"R", "-0.0000", "integer"},  // SQLite keeps a real without a fraction as an integer
        {"R", "123456789012.345", "real"},
        {"R", "0.000000000000000000000001", "real"},  // more decimals than exact powers of ten
        {"R", "1234567890123456", "blob"},            // 16 digits: kept as text
        {"I", "-42", "integer"},
        {"I", "007", "integer"},
        {"I", "123456789012345678", "integer"},
        {"I", "-9223372036854775807", "integer"},
        {"I", "99999999999999999999", "blob"},
    };
    for (const Case& c : cases) {
        std::string raw(30, ' ');
        raw.replace(30 - std::strlen(c.text), std::strlen(c.text), c.text);
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        ASSERT_EQ(KdsSetFieldRaw(t, U(c.field), U(raw), 30), 0u) << c.text << LastErrorText();
        ASSERT_EQ(KdsWriteRecord(t), 0u) << c.text << LastErrorText();
    }
    ASSERT_EQ(KdsCloseTable(t), 0u);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("NUM.kdt").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db, "SELECT R, I FROM records ORDER BY kdt_recno", -1, &stmt, nullptr),
        SQLITE_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
        const int col = c.field[0] == 'R' ? 0 : 1;
        const std::string type = sqlite3_column_type(stmt, col) == SQLITE_INTEGER ? "integer"
                                 : sqlite3_column_type(stmt, col) == SQLITE_FLOAT ? "real"
                                                                                  : "blob";
        EXPECT_EQ(type, c.storedAs);
        if (type == "blob") {
            EXPECT_EQ(std::string(static_cast<const char*>(sqlite3_column_blob(stmt, col)),
                                  size_t(sqlite3_column_bytes(stmt, col))),
                      c.text);
        } else if (type == "integer" && col == 1) {
            EXPECT_EQ(sqlite3_column_int64(stmt, col), std::strtoll(c.text, nullptr, 10));
        } else {
            EXPECT_EQ(sqlite3_column_double(stmt, col), std::strtod(c.text, nullptr));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

// Char values reach their columns trimmed and in UTF-8, on an append and on an update alike.
TEST_F(RecordImageTest, CharValuesAreStoredAsTheirText) {
    ASSERT_EQ(KdsCloseTable(t_), 0u);
    KDSHANDLE t = Create("TXT", "A,char,6;B,char,6");
    auto put = [&](const char* a, const char* b) {
        ASSERT_EQ(KdsSetFieldRaw(t, U("A"), U(a), 6), 0u) << LastErrorText();
        ASSERT_EQ(KdsSetFieldRaw(t, U("B"), U(b), 6), 0u) << LastErrorText();
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    };
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    put("AB    ", "caf\xE9  ");
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    put("      ", "X Y Z ");
    ASSERT_EQ(KdsGotoTop(t), 0u);
    put("\xE9t\xE9   ", "CD    ");  // the first record, changed
    ASSERT_EQ(KdsCloseTable(t), 0u);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("TXT.kdt").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db,
                                 "SELECT group_concat(typeof(A) || ':' || A || '|' || typeof(B) || "
                                 "':' || B, ';') FROM (SELECT * FROM records ORDER BY kdt_recno)",
                                 -1, &stmt, nullptr),
              SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))),
              "text:\xC3\xA9t\xC3\xA9|text:CD;text:|text:X Y Z");
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

TEST_F(RecordImageTest, TheNullRecordHoldsEveryNullImage) {
    UNSIGNED32 len = 0;
    KdsGetRecordLength(t_, &len);
    Bytes image(len);
    ASSERT_EQ(KdsGetNullRecord(t_, image.data(), &len), 0u);
    Bytes expected = Cat(Cat(Cat(Str(" "), Bytes(8, 0)), Bytes(4, 0)), Bytes(6, 0));  // L N D C
    expected = Cat(expected, Bytes(3, 0));                                            // CD
    expected = Cat(expected, {0x20, 0, 0, 0, 0, 0, 0, 0x80});                         // DB
    expected = Cat(expected, {0, 0, 0, 0x80, 0, 0x80});                               // IN SI
    expected = Cat(expected, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    expected = Cat(expected, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0});  // AI R
    expected = Cat(expected, {0x20, 0, 0, 0, 0, 0, 0, 0x80});     // MO
    expected = Cat(expected, Bytes(4, 0));                        // N0
    EXPECT_EQ(image, expected);
    Bytes cleared(len, 0xAA);
    ASSERT_EQ(KdsClearRecordBuffer(t_, cleared.data(), len), 0u);
    EXPECT_EQ(cleared, expected);
    EXPECT_EQ(KdsClearRecordBuffer(t_, cleared.data(), len - 1), KCE_WRONG_RECORD_LENGTH);
}

TEST_F(RecordImageTest, BadImagesAreRefusedAndChangeNothing) {
    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    Set(t_, "IN", "5");
    struct Case {
        const char* field;
        Bytes raw;
        KCESTATUS status;
    } cases[] = {
        {"IN", {1, 2, 3}, KCE_WRONG_RECORD_LENGTH},
        {"L", Str("X"), KCE_INVALID_FIELD_VALUE},
        {"N", Str("  12a.00"), KCE_INVALID_FIELD_VALUE},
        {"D", Le32(5), KCE_INVALID_FIELD_VALUE},
        {"CD", {0x0F, 0xA3, 0xFF}, KCE_INVALID_FIELD_VALUE},
        {"DB", {0, 0, 0, 0, 0, 0, 0xF8, 0x7F}, KCE_INVALID_FIELD_VALUE},  // NaN
        {"TM", Le32(86400000), KCE_INVALID_FIELD_VALUE},
        {"TS", Cat(Le32(2451545), Le32(90000000)), KCE_INVALID_FIELD_VALUE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KdsSetFieldRaw(t_, U(c.field), c.raw.data(), UNSIGNED32(c.raw.size())), c.status)
            << c.field;
        EXPECT_NE(LastErrorText().find(std::string("'") + c.field + "'"), std::string::npos)
            << LastErrorText();
    }
    EXPECT_EQ(Field(t_, "IN"), "5");
    EXPECT_EQ(KdsSetField(t_, U("SI"), U("40000"), 5), KCE_INVALID_FIELD_VALUE);
    EXPECT_EQ(KdsSetField(t_, U("N0"), U("12345"), 5), KCE_INVALID_FIELD_VALUE);
    EXPECT_EQ(KdsSetField(t_, U("D"), U("02/30/2001"), 10), KCE_INVALID_FIELD_VALUE);
    ASSERT_EQ(KdsWriteRecord(t_), 0u);
    EXPECT_EQ(Count(t_), 1u);
}

TEST_F(RecordImageTest, TextFormsFillTheImage) {
    ASSERT_EQ(KdsSetDateFormat(U("MM/dd/ccyy")), 0u);
    struct Case {
        const char* field;
        const char* text;
        Bytes image;
    } cases[] = {
        {"N", "123.456", Str("  123.46")},
        {"N", "-5.5", Str("   -5.50")},
        // Rounded digit by digit, halves to even, never through a double.
        {"N", "1.005", Str("    1.00")},
        {"N", "1.015", Str("    1.02")},
        {"N", "-0.004", Str("    0.00")},
        {"N", "9999.995", Str("10000.00")},
        {"N", "+.5e1", Str("    5.00")},
        {"N0", "42", Str("  42")},
        {"MO", "0.00005", Le64(0)},
        {"MO", "-12.34565", Le64(-123456)},
        {"L", "true", Str("T")},
        {"L", ".F.", Str("F")},
        {"D", "09/15/2001", Le32(2452168)},
        {"D", "20010915", Le32(2452168)},
        {"CD", "2001-09-15", {0x0F, 0xA3, 0x2F}},
        {"C", "AB", Str("AB    ")},
        {"C", "ABCDEFGH", Str("ABCDEF")},
        {"C", "", Bytes(6, 0)},
        {"TS", "2000-01-01T12:34:56.789", Cat(Le32(2451545), Le32(45296789))},
        {"TM", "01:02", Le32(3720000)},
        {"R", "ab", {'a', 'b', 0}},
    };
    ASSERT_EQ(KdsAppendRecord(t_), 0u);
    for (const Case& c : cases) {
        Set(t_, c.field, c.text);
        UNSIGNED32 offset = 0;
        KdsGetFieldOffset(t_, U(c.field), &offset);
        Bytes image = Record(t_);
        EXPECT_EQ(Bytes(image.begin() + offset, image.begin() + offset + c.image.size()), c.image)
            << c.field << " " << c.text;
    }
}

}  // namespace
