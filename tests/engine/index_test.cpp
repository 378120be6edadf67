#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/kce.h"
#include "tests/engine/engine_test_util.h"

namespace {

using kcetest::LastErrorText;
using kcetest::U;

struct Row {
    const char* name;
    const char* amount;
    const char* hired;
    const char* paid;
    const char* rate;
    const char* code;
};

// A native table of employees and the calls the tests make on it.
class IndexTest : public kcetest::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        table_ = Create("EMP",
                        "NAME,char,10;AMOUNT,numeric,8,2;HIRED,date;PAID,logical;"
                        "RATE,double;CODE,integer;NOTES,memo");
        for (const Row& r : rows_) Append(r);
    }

    void Append(const Row& r) {
        ASSERT_EQ(KdsAppendRecord(table_), 0u) << LastErrorText();
        Set("NAME", r.name);
        Set("AMOUNT", r.amount);
        Set("HIRED", r.hired);
        Set("PAID", r.paid);
        Set("RATE", r.rate);
        Set("CODE", r.code);
        ASSERT_EQ(KdsWriteRecord(table_), 0u) << LastErrorText();
    }
    void Set(const char* field, const std::string& value) {
        if (value.empty()) {
            ASSERT_EQ(KdsSetEmpty(table_, U(field)), 0u) << LastErrorText();
        } else {
            ASSERT_EQ(KdsSetField(table_, U(field), U(value), UNSIGNED32(value.size())), 0u)
                << field << "=" << value << ": " << LastErrorText();
        }
    }
    std::string Get(KDSHANDLE h, const char* field) {
        UNSIGNED8 buf[256];
        UNSIGNED32 len = sizeof buf;
        EXPECT_EQ(KdsGetField(h, U(field), buf, &len, 0), 0u) << LastErrorText();
        return std::string(reinterpret_cast<char*>(buf), len);
    }
    KDSHANDLE Index(const char* name, const char* key, UNSIGNED32 options = 0,
                    const char* condition = nullptr) {
        KDSHANDLE index = 0;
        EXPECT_EQ(KdsCreateIndex(table_, nullptr, U(name), U(key), U(condition ? condition : ""),
                                 options, &index),
                  0u)
            << LastErrorText();
        return index;
    }
    // The values of one field, walking the handle from the top.
    std::vector<std::string> Walk(KDSHANDLE h, const char* field) {
        std::vector<std::string> seen;
        EXPECT_EQ(KdsGotoTop(h), 0u) << LastErrorText();
        UNSIGNED16 eof = 0;
        while (KdsAtEOF(h, &eof) == 0 && !eof && seen.size() < 100) {
            seen.push_back(Get(h, field));
            EXPECT_EQ(KdsSkip(h, 1), 0u) << LastErrorText();
        }
        return seen;
    }
    std::vector<std::string> WalkBack(KDSHANDLE h, const char* field) {
        std::vector<std::string> seen;
        EXPECT_EQ(KdsGotoBottom(h), 0u) << LastErrorText();
        UNSIGNED16 bof = 0;
        while (KdsAtBOF(h, &bof) == 0 && !bof && seen.size() < 100) {
            seen.insert(seen.begin(), Get(h, field));
            EXPECT_EQ(KdsSkip(h, -1), 0u) << LastErrorText();
        }
        return seen;
    }
    UNSIGNED32 Count(KDSHANDLE h, UNSIGNED16 option) {
        UNSIGNED32 n = 0;
        EXPECT_EQ(KdsGetRecordCount(h, option, &n), 0u) << LastErrorText();
        return n;
    }
    UNSIGNED16 Seek(KDSHANDLE index, const std::string& key, UNSIGNED16 type,
                    UNSIGNED16 keyType = KCE_STRINGKEY) {
        UNSIGNED16 found = 9;
        EXPECT_EQ(KdsSeek(index, U(key), UNSIGNED16(key.size()), keyType, type, &found), 0u)
            << LastErrorText();
        return found;
    }
    bool AtEof(KDSHANDLE h) {
        UNSIGNED16 eof = 0;
        KdsAtEOF(h, &eof);
        return eof != 0;
    }

    KDSHANDLE table_ = 0;
    std::vector<Row> rows_ = {
        {"SMITH", "12.50", "09/15/2001", "T", "1.5", "3"},
        {"JONES", "-3.00", "01/02/1999", "F", "-2", "-7"},
        {"SMYTHE", "0.00", "", "T", "0", "12"},
        {"ADAMS", "100.00", "12/31/2010", "F", "1e10", "0"},
        {"A B", "-250.75", "06/01/1970", "", "-1e-3", "-2000000"},
        {"", "", "02/29/2000", "T", "", ""},
    };
};

TEST_F(IndexTest, IndexOrderForEveryKeyType) {
    struct Order {
        const char* key;
        UNSIGNED32 options;
        const char* field;
        std::vector<std::string> expected;
    } orders[] = {
        {"NAME", 0, "NAME", {"", "A B", "ADAMS", "JONES", "SMITH", "SMYTHE"}},
        {"NAME", KCE_INDEX_DESCENDING, "NAME", {"SMYTHE", "SMITH", "JONES", "ADAMS", "A B", ""}},
        {"AMOUNT", 0, "NAME", {"A B", "JONES", "SMYTHE", "", "SMITH", "ADAMS"}},
        {"RATE", 0, "NAME", {"JONES", "A B", "SMYTHE", "", "SMITH", "ADAMS"}},
        {"CODE", 0, "NAME", {"A B", "JONES", "ADAMS", "", "SMITH", "SMYTHE"}},
        {"CODE", KCE_INDEX_DESCENDING, "NAME", {"SMYTHE", "SMITH", "ADAMS", "", "JONES", "A B"}},
        {"HIRED", 0, "NAME", {"SMYTHE", "A B", "JONES", "", "SMITH", "ADAMS"}},
        {"PAID;NAME", 0, "NAME", {"A B", "ADAMS", "JONES", "", "SMITH", "SMYTHE"}},
        {"UPPER(NAME)+DTOS(HIRED)", 0, "NAME", {"", "A B", "ADAMS", "JONES", "SMITH", "SMYTHE"}},
    };
    int i = 0;
    for (const Order& o : orders) {
        std::string name = "IX" + std::to_string(i++);
        KDSHANDLE index = Index(name.c_str(), o.key, o.options);
        EXPECT_EQ(Walk(index, o.field), o.expected) << o.key << " options " << o.options;
        EXPECT_EQ(WalkBack(index, o.field), o.expected) << o.key << " backwards";
    }
    // Natural order stays record order.
    EXPECT_EQ(Walk(table_, "NAME"),
              (std::vector<std::string>{"SMITH", "JONES", "SMYTHE", "ADAMS", "A B", ""}));
}

TEST_F(IndexTest, SeeksExactSoftPartialAndMissing) {
    KDSHANDLE index = Index("BYNAME", "NAME;CODE");
    EXPECT_EQ(Seek(index, "SMI", KCE_HARDSEEK), 1);
    EXPECT_EQ(Get(table_, "NAME"), "SMITH");
    EXPECT_EQ(Seek(index, "SMY", KCE_HARDSEEK), 1);
    EXPECT_EQ(Get(index, "NAME"), "SMYTHE");
    EXPECT_EQ(Seek(index, "SN", KCE_HARDSEEK), 0);
    EXPECT_TRUE(AtEof(index));
    EXPECT_EQ(Seek(index, "K", KCE_SOFTSEEK), 0);
    EXPECT_EQ(Get(index, "NAME"), "SMITH");
    EXPECT_EQ(Seek(index, "ZZZ", KCE_SOFTSEEK), 0);
    EXPECT_TRUE(AtEof(index));
    EXPECT_EQ(Seek(index, "SMITH", KCE_SEEKGT), 1);
    EXPECT_EQ(Get(index, "NAME"), "SMYTHE");
    // The seek leaves the index positioned: skipping goes on in key order.
    EXPECT_EQ(Seek(index, "JONES", KCE_HARDSEEK), 1);
    ASSERT_EQ(KdsSkip(index, 1), 0u);
    EXPECT_EQ(Get(index, "NAME"), "SMITH");

    // Raw keys: the whole key, and the first segment only.
    ASSERT_EQ(KdsInitRawKey(index), 0u);
    ASSERT_EQ(KdsSetField(index, U("NAME"), U("SMYTHE"), 6), 0u) << LastErrorText();
    ASSERT_EQ(KdsSetField(index, U("CODE"), U("12"), 2), 0u) << LastErrorText();
    UNSIGNED8 key[256];
    UNSIGNED16 len = sizeof key;
    ASSERT_EQ(KdsBuildRawKey(index, key, &len), 0u) << LastErrorText();
    UNSIGNED16 keyLength = 0;
    ASSERT_EQ(KdsGetKeyLength(index, &keyLength), 0u);
    EXPECT_EQ(len, keyLength);
    EXPECT_EQ(Seek(index, std::string(reinterpret_cast<char*>(key), len), KCE_HARDSEEK, KCE_RAWKEY),
              1);
    EXPECT_EQ(Get(index, "CODE"), "12");
    ASSERT_EQ(KdsInitRawKey(index), 0u);
    ASSERT_EQ(KdsSetField(index, U("NAME"), U("JON"), 3), 0u);
    len = sizeof key;
    ASSERT_EQ(KdsBuildRawKey(index, key, &len), 0u);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(Seek(index, std::string(reinterpret_cast<char*>(key), len), KCE_HARDSEEK, KCE_RAWKEY),
              1);
    EXPECT_EQ(Get(index, "NAME"), "JONES");
    // A raw key field outside the index, and keys too long for it.
    ASSERT_EQ(KdsInitRawKey(index), 0u);
    EXPECT_EQ(KdsSetField(index, U("RATE"), U("1"), 1), KCE_NOT_INDEX_FIELD);
    UNSIGNED16 found = 0;
    std::string longKey(keyLength + 1, 'A');
    EXPECT_EQ(
        KdsSeek(index, U(longKey), UNSIGNED16(longKey.size()), KCE_RAWKEY, KCE_HARDSEEK, &found),
        KCE_KEY_TOO_LONG);
    EXPECT_EQ(KdsSeek(index, U("SMITHSMITHS"), 11, KCE_STRINGKEY, KCE_HARDSEEK, &found),
              KCE_KEY_TOO_LONG);

    // Seeks on numbers and dates by their text.
    KDSHANDLE byCode = Index("BYCODE", "CODE");
    EXPECT_EQ(Seek(byCode, "-7", KCE_HARDSEEK), 1);
    EXPECT_EQ(Get(byCode, "NAME"), "JONES");
    EXPECT_EQ(Seek(byCode, "-5", KCE_SOFTSEEK), 0);
    EXPECT_EQ(Get(byCode, "NAME"), "ADAMS");
    EXPECT_EQ(KdsSeek(byCode, U("seven"), 5, KCE_STRINGKEY, KCE_HARDSEEK, &found), KCE_INVALID_KEY);
    KDSHANDLE byDate = Index("BYDATE", "HIRED");
    EXPECT_EQ(Seek(byDate, "20010915", KCE_HARDSEEK), 1);
    EXPECT_EQ(Get(byDate, "NAME"), "SMITH");
}

TEST_F(IndexTest, ScopesRestrictNavigationAndCounts) {
    KDSHANDLE index = Index("BYNAME", "NAME");
    UNSIGNED8 buf[256];
    UNSIGNED16 len = sizeof buf;
    EXPECT_EQ(KdsGetScope(index, KCE_TOP, buf, &len), KCE_NO_SCOPE);
    EXPECT_EQ(KdsClearScope(index, KCE_BOTTOM), KCE_NO_SCOPE);

    ASSERT_EQ(KdsSetScope(index, KCE_TOP, U("B"), 1, KCE_STRINGKEY), 0u);
    EXPECT_EQ(Walk(index, "NAME"), (std::vector<std::string>{"JONES", "SMITH", "SMYTHE"}));
    EXPECT_EQ(Count(index, KCE_RESPECT_SCOPES), 3u);
    EXPECT_EQ(Count(index, KCE_IGNORE_FILTERS), 6u);

    ASSERT_EQ(KdsSetScope(index, KCE_BOTTOM, U("SMI"), 3, KCE_STRINGKEY), 0u);
    EXPECT_EQ(Walk(index, "NAME"), (std::vector<std::string>{"JONES", "SMITH"}));
    EXPECT_EQ(WalkBack(index, "NAME"), (std::vector<std::string>{"JONES", "SMITH"}));
    len = sizeof buf;
    ASSERT_EQ(KdsGetScope(index, KCE_BOTTOM, buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "SMI");

    // A record outside the scope is not visible through the index.
    ASSERT_EQ(KdsGotoRecord(table_, 4), 0u);  // ADAMS
    UNSIGNED16 visible = 1;
    ASSERT_EQ(KdsIsRecordVisible(index, &visible), 0u);
    EXPECT_EQ(visible, 0);

    ASSERT_EQ(KdsClearScope(index, KCE_TOP), 0u);
    EXPECT_EQ(Walk(index, "NAME"),
              (std::vector<std::string>{"", "A B", "ADAMS", "JONES", "SMITH"}));
    ASSERT_EQ(KdsClearAllScopes(table_), 0u);
    EXPECT_EQ(Walk(index, "NAME").size(), 6u);
    EXPECT_EQ(KdsGetScope(index, KCE_BOTTOM, buf, &len), KCE_NO_SCOPE);

    // A scope with raw keys on a descending index: top and bottom follow index order.
    KDSHANDLE down = Index("DOWN", "CODE", KCE_INDEX_DESCENDING);
    UNSIGNED8 key[16];
    UNSIGNED16 keyLen = sizeof key;
    ASSERT_EQ(KdsInitRawKey(down), 0u);
    ASSERT_EQ(KdsSetField(down, U("CODE"), U("3"), 1), 0u);
    ASSERT_EQ(KdsBuildRawKey(down, key, &keyLen), 0u);
    ASSERT_EQ(KdsSetScope(down, KCE_TOP, key, keyLen, KCE_RAWKEY), 0u);
    EXPECT_EQ(Walk(down, "CODE"), (std::vector<std::string>{"3", "0", "", "-7", "-2000000"}));
    EXPECT_EQ(KdsSetScope(down, KCE_BOTTOM, U("x"), 1, KCE_STRINGKEY), KCE_INVALID_KEY);
}

TEST_F(IndexTest, UniqueIndexRefusesDuplicatesAndLeavesTheTable) {
    KDSHANDLE index = Index("UNAME", "NAME", KCE_INDEX_UNIQUE);
    ASSERT_EQ(KdsAppendRecord(table_), 0u);
    Set("NAME", "SMITH");
    EXPECT_EQ(KdsWriteRecord(table_), KCE_DUPLICATE_KEY);
    EXPECT_NE(LastErrorText().find("UNAME"), std::string::npos) << LastErrorText();
    KdsCancelUpdate(table_);
    EXPECT_EQ(Count(table_, KCE_IGNORE_FILTERS), 6u);

    // An edit that would duplicate a key is refused and the record keeps its value.
    ASSERT_EQ(Seek(index, "JONES", KCE_HARDSEEK), 1);
    Set("NAME", "ADAMS");
    EXPECT_EQ(KdsWriteRecord(table_), KCE_DUPLICATE_KEY);
    KdsCancelUpdate(table_);
    ASSERT_EQ(KdsRefreshRecord(table_), 0u);
    EXPECT_EQ(Get(table_, "NAME"), "JONES");
    EXPECT_EQ(KdsCheckIndexes(table_), 0u) << LastErrorText();
    EXPECT_EQ(Walk(index, "NAME").size(), 6u);

    // A unique index over duplicate keys (an empty CODE reads as 0, as ADAMS's) is not created.
    KDSHANDLE none = 0;
    EXPECT_EQ(
        KdsCreateIndex(table_, nullptr, U("UCODE"), U("CODE"), nullptr, KCE_INDEX_UNIQUE, &none),
        KCE_DUPLICATE_KEY);
    EXPECT_EQ(KdsGetIndexHandle(table_, U("UCODE"), &none), KCE_INDEX_NOT_FOUND);
}

TEST_F(IndexTest, IndexesFollowEveryWriteAndReopenWithTheTable) {
    Index("BYNAME", "NAME");
    Index("PAIDONLY", "CODE", 0, "PAID");
    // Change, delete, append through the table handle.
    ASSERT_EQ(KdsGotoRecord(table_, 2), 0u);  // JONES
    Set("NAME", "ZORRO");
    ASSERT_EQ(KdsWriteRecord(table_), 0u) << LastErrorText();
    ASSERT_EQ(KdsGotoRecord(table_, 1), 0u);  // SMITH
    ASSERT_EQ(KdsDeleteRecord(table_), 0u) << LastErrorText();
    Append({"BAKER", "1", "01/01/2020", "T", "1", "5"});
    ASSERT_EQ(KdsCloseTable(table_), 0u);

    table_ = Open("EMP");
    KDSHANDLE handles[50];
    UNSIGNED16 count = 50;
    ASSERT_EQ(KdsGetAllIndexes(table_, handles, &count), 0u) << LastErrorText();
    ASSERT_EQ(count, 2);
    EXPECT_EQ(Walk(handles[0], "NAME"),
              (std::vector<std::string>{"", "A B", "ADAMS", "BAKER", "SMYTHE", "ZORRO"}));
    // The conditional index holds the paid records only.
    EXPECT_EQ(Walk(handles[1], "NAME"), (std::vector<std::string>{"", "BAKER", "SMYTHE"}));
    EXPECT_EQ(KdsCheckIndexes(table_), 0u) << LastErrorText();
    count = 1;
    EXPECT_EQ(KdsGetAllIndexes(table_, handles, &count), KCE_INSUFFICIENT_BUFFER);
    EXPECT_EQ(count, 2);

    // Zap empties every index.
    ASSERT_EQ(KdsCloseTable(table_), 0u);
    table_ = Open("EMP", KCE_OPEN_EXCLUSIVE);
    ASSERT_EQ(KdsZapTable(table_), 0u) << LastErrorText();
    KDSHANDLE byName = 0;
    ASSERT_EQ(KdsGetIndexHandle(table_, U("byname"), &byName), 0u);
    EXPECT_TRUE(Walk(byName, "NAME").empty());
    EXPECT_EQ(KdsCheckIndexes(table_), 0u) << LastErrorText();
}

TEST_F(IndexTest, IndexDescriptions) {
    KDSHANDLE index = Index("BYKEY", "NAME;HIRED;CODE", KCE_INDEX_UNIQUE, "CODE > -1000");
    UNSIGNED8 buf[300];
    UNSIGNED16 len = sizeof buf;
    auto text = [&](KCESTATUS s) {
        EXPECT_EQ(s, 0u) << LastErrorText();
        return std::string(reinterpret_cast<char*>(buf), len);
    };
    len = sizeof buf;
    EXPECT_EQ(text(KdsGetIndexName(index, buf, &len)), "BYKEY");
    len = sizeof buf;
    EXPECT_EQ(text(KdsGetIndexFilename(index, 2, buf, &len)), "EMP.kdt");
    len = sizeof buf;
    EXPECT_EQ(text(KdsGetIndexFilename(index, 1, buf, &len)), "EMP");
    UNSIGNED16 n = 0;
    ASSERT_EQ(KdsGetNumSegments(index, &n), 0u);
    EXPECT_EQ(n, 3);
    len = sizeof buf;
    EXPECT_EQ(text(KdsGetSegmentFieldname(index, 1, buf, &len)), "HIRED");
    len = sizeof buf;
    EXPECT_EQ(KdsGetSegmentFieldname(index, 3, buf, &len), KCE_INVALID_ARGUMENT);
    UNSIGNED16 flag = 0;
    ASSERT_EQ(KdsIsIndexUnique(index, &flag), 0u);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(KdsIsIndexDescending(index, &flag), 0u);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(KdsIsIndexCustom(index, &flag), KCE_NOT_APPLICABLE);
    len = 5;
    EXPECT_EQ(KdsGetIndexCondition(index, buf, &len), KCE_INSUFFICIENT_BUFFER);
    EXPECT_EQ(len, 12);
    len = sizeof buf;
    EXPECT_EQ(text(KdsGetIndexCondition(index, buf, &len)), "CODE > -1000");
    UNSIGNED32 flags = 0;
    ASSERT_EQ(KdsGetIndexFlags(index, &flags), 0u);
    EXPECT_EQ(flags, UNSIGNED32(KCE_INDEX_UNIQUE | 4));
    UNSIGNED16 keyLength = 0, pageSize = 0;
    ASSERT_EQ(KdsGetKeyLength(index, &keyLength), 0u);
    EXPECT_EQ(keyLength, 10 + 4 + 8);
    ASSERT_EQ(KdsGetIndexPageSize(index, &pageSize), 0u);
    EXPECT_GE(pageSize, 512);
    EXPECT_EQ(KdsGetKeyLength(table_, &keyLength), KCE_WRONG_HANDLE_TYPE);

    // Relative key positions.
    double pos = -1;
    EXPECT_EQ(KdsGetRelKeyPos(table_, &pos), KCE_NO_POSITION);
    ASSERT_EQ(KdsGotoTop(index), 0u);
    ASSERT_EQ(KdsGetRelKeyPos(index, &pos), 0u) << LastErrorText();
    EXPECT_EQ(pos, 0.0);
    ASSERT_EQ(KdsGotoBottom(index), 0u);
    ASSERT_EQ(KdsGetRelKeyPos(index, &pos), 0u);
    EXPECT_EQ(pos, 1.0);
    ASSERT_EQ(KdsSetRelKeyPos(index, 0.4), 0u);
    // A B is left out by the condition: "", ADAMS, JONES, SMITH, SMYTHE.
    EXPECT_EQ(Get(index, "NAME"), "JONES");
    ASSERT_EQ(KdsSetRelKeyPos(index, 7.0), 0u);
    EXPECT_EQ(Get(index, "NAME"), "SMYTHE");
}

TEST_F(IndexTest, BadIndexDefinitionsAndKeysFailClearly) {
    KDSHANDLE index = 0;
    EXPECT_EQ(KdsCreateIndex(table_, nullptr, U("BAD"), U("UPPER(NAME"), nullptr, 0, &index),
              KCE_EXPR_SYNTAX);
    EXPECT_NE(LastErrorText().find("position 11"), std::string::npos) << LastErrorText();
    EXPECT_EQ(KdsCreateIndex(table_, nullptr, U("BAD"), U("NAME;NOPE"), nullptr, 0, &index),
              KCE_EXPR_UNKNOWN_FIELD);
    EXPECT_EQ(KdsCreateIndex(table_, nullptr, U("BAD"), U("NOTES"), nullptr, 0, &index),
              KCE_FIELD_NOT_INDEXABLE);
    EXPECT_EQ(KdsCreateIndex(table_, nullptr, U("9BAD"), U("NAME"), nullptr, 0, &index),
              KCE_INVALID_INDEX_NAME);
    EXPECT_EQ(KdsCreateIndex(table_, nullptr, U("BAD"), U("CODE / CODE"), nullptr, 0, &index),
              KCE_INDEX_KEY_FAILED);
    EXPECT_NE(LastErrorText().find("division by zero"), std::string::npos) << LastErrorText();
    Index("NAMES", "NAME");
    EXPECT_EQ(KdsCreateIndex(table_, nullptr, U("names"), U("CODE"), nullptr, 0, &index),
              KCE_INDEX_EXISTS);
    // A key expression that fails on a written record refuses the write.
    Index("RATIO", "100 / (CODE - 99)");
    ASSERT_EQ(KdsAppendRecord(table_), 0u);
    Set("CODE", "99");
    EXPECT_EQ(KdsWriteRecord(table_), KCE_INDEX_KEY_FAILED);
    KdsCancelUpdate(table_);
    EXPECT_EQ(Count(table_, KCE_IGNORE_FILTERS), 6u);
}

}  // namespace

namespace {

TEST_F(IndexTest, IndexFilesOpenCloseAndFollowWrites) {
    KDSHANDLE created = 0;
    ASSERT_EQ(KdsCreateIndex(table_, U("EXTRA"), U("BYCODE"), U("CODE"), nullptr, 0, &created), 0u)
        << LastErrorText();
    UNSIGNED8 buf[300];
    UNSIGNED16 len = sizeof buf;
    ASSERT_EQ(KdsGetIndexFilename(created, 2, buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "EXTRA.kdi");
    ASSERT_EQ(KdsCreateIndex(table_, U("EXTRA"), U("BYRATE"), U("RATE"), nullptr,
                             KCE_INDEX_DESCENDING, &created),
              0u);
    EXPECT_EQ(Walk(created, "NAME"),
              (std::vector<std::string>{"ADAMS", "SMITH", "SMYTHE", "", "A B", "JONES"}));
    KDSHANDLE handles[50];
    UNSIGNED16 count = 50;
    ASSERT_EQ(KdsGetAllIndexes(table_, handles, &count), 0u);
    EXPECT_EQ(count, 2);
    // Closing one index closes its file; the file keeps its indexes for the next open.
    ASSERT_EQ(KdsCloseIndex(created), 0u) << LastErrorText();
    count = 50;
    ASSERT_EQ(KdsGetAllIndexes(table_, handles, &count), 0u);
    EXPECT_EQ(count, 0);
    Append({"BAKER", "1", "01/01/2020", "T", "1", "5"});  // written while the file is closed
    count = 50;
    ASSERT_EQ(KdsOpenIndex(table_, U(Path("extra.KDI")), handles, &count), 0u) << LastErrorText();
    ASSERT_EQ(count, 2);
    // Opening the same file again on this handle answers the same handles.
    KDSHANDLE again[50];
    UNSIGNED16 againCount = 50;
    ASSERT_EQ(KdsOpenIndex(table_, U("EXTRA"), again, &againCount), 0u);
    EXPECT_EQ(again[0], handles[0]);
    // A record written while the file was closed is missing until the file is rebuilt, as with
    // any index file; reindex puts it in.
    EXPECT_EQ(KdsCheckIndexes(table_), KCE_INDEX_MISMATCH);
    ASSERT_EQ(KdsReindex(table_), 0u) << LastErrorText();
    EXPECT_EQ(KdsCheckIndexes(table_), 0u) << LastErrorText();
    // While open it follows every write.
    ASSERT_EQ(KdsGotoRecord(table_, 1), 0u);
    ASSERT_EQ(KdsDeleteRecord(table_), 0u);
    Append({"CLARK", "2", "01/01/2021", "T", "2", "-9"});
    EXPECT_EQ(Walk(handles[0], "NAME"),
              (std::vector<std::string>{"A B", "CLARK", "JONES", "ADAMS", "", "BAKER", "SMYTHE"}));
    EXPECT_EQ(KdsCheckIndexes(table_), 0u) << LastErrorText();

    count = 50;
    EXPECT_EQ(KdsOpenIndex(table_, U("NOSUCH"), handles, &count), KCE_FILE_NOT_FOUND);
    EXPECT_EQ(KdsCreateIndex(table_, U("EXTRA"), U("bycode"), U("NAME"), nullptr, 0, &created),
              KCE_INDEX_EXISTS);
    KDSHANDLE structural = Index("BYNAME", "NAME");
    EXPECT_EQ(KdsCloseIndex(structural), KCE_NOT_SUPPORTED);
}

}  // namespace

namespace {

// Another process adds an index to a table this process has open: the next write here finds it
// in the catalog and keeps it.
TEST_F(IndexTest, IndexMadeByAnotherProcessIsKeptByThisOne) {
    KDSHANDLE table = Create("OTHER", "NAME,char,10");
    ASSERT_EQ(KdsCloseTable(table), 0u);
    table = Open("OTHER");
    KDSHANDLE handles[50];
    UNSIGNED16 count = 50;
    ASSERT_EQ(KdsGetAllIndexes(table, handles, &count), 0u);
    ASSERT_EQ(count, 0);
    const std::string helper =
        std::string(KCE_HELPER) + " index " + dir_ + " OTHER BYNAME NAME 2>&1";
    FILE* other = ::popen(helper.c_str(), "r");
    ASSERT_NE(other, nullptr);
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, other), nullptr);
    ASSERT_EQ(::pclose(other), 0);
    ASSERT_EQ(std::string(line), "0\n") << "the other process could not create the index";
    ASSERT_EQ(KdsAppendRecord(table), 0u);
    ASSERT_EQ(KdsSetField(table, U("NAME"), U("NEW"), 3), 0u);
    ASSERT_EQ(KdsWriteRecord(table), 0u) << LastErrorText();
    count = 50;
    ASSERT_EQ(KdsGetAllIndexes(table, handles, &count), 0u);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(KdsCheckIndexes(table), 0u) << LastErrorText();
    UNSIGNED16 found = 0;
    ASSERT_EQ(KdsSeek(handles[0], U("NEW"), 3, KCE_STRINGKEY, KCE_HARDSEEK, &found), 0u);
    EXPECT_EQ(found, 1);
}

}  // namespace
