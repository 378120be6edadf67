// Indexes of xBase tables through the engine's calls: the structural .cdx that opens with a CDX
// table, .ntx files, keys in the xBase dialect, upkeep on every write, check and reindex, and
// files that are damaged or not indexes at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>

#include "engine/index/cdx/cdx_file.h"
#include "tests/engine/engine_test_util.h"
#include "tests/engine/xbase_samples.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"

namespace {

using namespace kcetest;
namespace fs = std::filesystem;

using testsupport::ReadFile;

class XbaseIndexTest : public EngineTest {
  protected:
    KDSHANDLE CreateDbf(const std::string& name, UNSIGNED16 type, const std::string& fields) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsCreateTable(conn_, U(name), type, 1, U(fields), 0, &t), 0u) << LastErrorText();
        return t;
    }
    KDSHANDLE OpenDbf(const std::string& path, UNSIGNED16 type, UNSIGNED32 options = 0) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U(path), nullptr, type, 1, 1, 1, options, &t), 0u)
            << LastErrorText();
        return t;
    }
    static KDSHANDLE Tag(KDSHANDLE t, const char* name) {
        KDSHANDLE index = 0;
        EXPECT_EQ(KdsGetIndexHandle(t, U(name), &index), 0u) << LastErrorText();
        return index;
    }
    static std::vector<KDSHANDLE> AllIndexes(KDSHANDLE t) {
        UNSIGNED16 count = 64;
        std::vector<KDSHANDLE> handles(count);
        EXPECT_EQ(KdsGetAllIndexes(t, handles.data(), &count), 0u) << LastErrorText();
        handles.resize(count);
        return handles;
    }
    // The record numbers in the order of an index.
    static std::vector<UNSIGNED32> Walk(KDSHANDLE index) {
        std::vector<UNSIGNED32> out;
        EXPECT_EQ(KdsGotoTop(index), 0u) << LastErrorText();
        UNSIGNED16 eof = 0;
        while (KdsAtEOF(index, &eof) == 0 && !eof) {
            out.push_back(Recno(index));
            EXPECT_EQ(KdsSkip(index, 1), 0u) << LastErrorText();
        }
        return out;
    }
    static std::string Name(KDSHANDLE index) {
        UNSIGNED8 buf[256];
        UNSIGNED16 len = sizeof buf;
        EXPECT_EQ(KdsGetIndexName(index, buf, &len), 0u);
        return std::string(reinterpret_cast<char*>(buf), len);
    }
    // Goes to a record; false when it is not shown (deleted).
    static bool Visit(KDSHANDLE t, UNSIGNED32 recno) {
        UNSIGNED16 eof = 1, deleted = 1;
        return KdsGotoRecord(t, recno) == 0 && KdsAtEOF(t, &eof) == 0 && !eof &&
               KdsIsRecordDeleted(t, &deleted) == 0 && !deleted;
    }
    static void CheckClean(KDSHANDLE t) { EXPECT_EQ(KdsCheckIndexes(t), 0u) << LastErrorText(); }
    static int Seek(KDSHANDLE index, const std::string& key, UNSIGNED16 type = KCE_STRINGKEY) {
        UNSIGNED16 found = 0;
        EXPECT_EQ(KdsSeek(index, U(key), UNSIGNED16(key.size()), type, KCE_HARDSEEK, &found), 0u)
            << LastErrorText();
        return found;
    }
    // The text of every field of a record but its blobs (empty for them).
    static std::vector<std::string> Values(KDSHANDLE t, UNSIGNED32 recno) {
        EXPECT_EQ(KdsGotoRecord(t, recno), 0u);
        UNSIGNED16 n = 0;
        KdsGetNumFields(t, &n);
        std::vector<std::string> out;
        for (UNSIGNED16 i = 1; i <= n; ++i) {
            UNSIGNED16 type = 0;
            KdsGetFieldType(t, KCE_FIELD_ORDINAL(i), &type);
            std::vector<UNSIGNED8> buf(70000);
            UNSIGNED32 len = UNSIGNED32(buf.size());
            if (type >= 5 && type <= 8) {
                out.emplace_back();
                continue;
            }
            EXPECT_EQ(KdsGetField(t, KCE_FIELD_ORDINAL(i), buf.data(), &len, 0), 0u);
            out.emplace_back(reinterpret_cast<char*>(buf.data()), len);
        }
        return out;
    }
    static void SetValues(KDSHANDLE t, const std::vector<std::string>& values) {
        for (size_t i = 0; i < values.size(); ++i) {
            UNSIGNED16 type = 0;
            KdsGetFieldType(t, KCE_FIELD_ORDINAL(i + 1), &type);
            if (type >= 5 && type <= 8) continue;
            EXPECT_EQ(KdsSetField(t, KCE_FIELD_ORDINAL(i + 1), U(values[i]),
                                  UNSIGNED32(values[i].size())),
                      0u)
                << LastErrorText();
        }
    }
    void Append(KDSHANDLE t, const std::map<std::string, std::string>& values) {
        ASSERT_EQ(KdsAppendRecord(t), 0u) << LastErrorText();
        for (const auto& [k, v] : values) Set(t, k.c_str(), v);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
};

// A career table: one record per employee and date, ordered by both.
TEST_F(XbaseIndexTest, FieldListKeyIsStoredAsAnXbaseExpressionAndSeeksByItsLeadingFields) {
    KDSHANDLE t = CreateDbf("TBLCAREE.dbf", 2, "EMPLOYEECO,char,8;EFFECTIVED,date;NAME,char,10");
    KDSHANDLE index = 0;
    ASSERT_EQ(
        KdsCreateIndex(t, nullptr, U("CAREER"), U("EMPLOYEECO;EFFECTIVED"), nullptr, 0, &index), 0u)
        << LastErrorText();
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNAME"), U("UPPER(NAME)"), nullptr, 0, &index), 0u);
    const char* rows[][3] = {{"E2", "03/01/2021", "b"},
                             {"E1", "01/01/2020", "a"},
                             {"E2", "01/15/2019", "c"},
                             {"E1", "06/30/2019", "d"}};
    for (auto& r : rows) Append(t, {{"EMPLOYEECO", r[0]}, {"EFFECTIVED", r[1]}, {"NAME", r[2]}});
    ASSERT_EQ(KdsCloseTable(t), 0u);

    // The structural .cdx opens with the table; its tag holds the xBase expression.
    t = OpenDbf(Path("TBLCAREE.dbf"), 2);
    ASSERT_EQ(AllIndexes(t).size(), 2u);
    KDSHANDLE career = Tag(t, "CAREER");
    UNSIGNED8 buf[256];
    UNSIGNED16 len = sizeof buf;
    ASSERT_EQ(KdsGetIndexExpr(career, buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "EMPLOYEECO+DTOS(EFFECTIVED)");
    UNSIGNED16 segments = 0;
    ASSERT_EQ(KdsGetNumSegments(career, &segments), 0u);
    ASSERT_EQ(segments, 2);
    for (UNSIGNED16 i = 0; i < 2; ++i) {
        len = sizeof buf;
        ASSERT_EQ(KdsGetSegmentFieldname(career, i, buf, &len), 0u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), i ? "EFFECTIVED" : "EMPLOYEECO");
    }
    EXPECT_EQ(Walk(career), (std::vector<UNSIGNED32>{4, 2, 3, 1}));
    EXPECT_EQ(Walk(Tag(t, "BYNAME")), (std::vector<UNSIGNED32>{2, 1, 3, 4}));

    // A raw key of the first segment finds the employee's first date; of both, the exact row.
    ASSERT_EQ(KdsInitRawKey(career), 0u);
    ASSERT_EQ(KdsSetField(career, U("EMPLOYEECO"), U("E2"), 2), 0u) << LastErrorText();
    UNSIGNED8 key[256];
    len = sizeof key;
    ASSERT_EQ(KdsBuildRawKey(career, key, &len), 0u) << LastErrorText();
    EXPECT_EQ(Seek(career, std::string(reinterpret_cast<char*>(key), len), KCE_RAWKEY), 1);
    EXPECT_EQ(Recno(career), 3u);
    ASSERT_EQ(KdsInitRawKey(career), 0u);
    ASSERT_EQ(KdsSetField(career, U("EMPLOYEECO"), U("E2"), 2), 0u);
    ASSERT_EQ(KdsSetField(career, U("EFFECTIVED"), U("03/01/2021"), 10), 0u) << LastErrorText();
    len = sizeof key;
    ASSERT_EQ(KdsBuildRawKey(career, key, &len), 0u);
    EXPECT_EQ(len, 16);
    EXPECT_EQ(Seek(career, std::string(reinterpret_cast<char*>(key), len), KCE_RAWKEY), 1);
    EXPECT_EQ(Recno(career), 1u);
    EXPECT_EQ(Seek(career, "E1      2020"), 1);
    EXPECT_EQ(Recno(career), 2u);

    // Scopes and filters as on native indexes.
    ASSERT_EQ(KdsSetScope(career, KCE_TOP, U("E2"), 2, KCE_STRINGKEY), 0u) << LastErrorText();
    ASSERT_EQ(KdsSetScope(career, 2, U("E2"), 2, KCE_STRINGKEY), 0u);
    EXPECT_EQ(Walk(career), (std::vector<UNSIGNED32>{3, 1}));
    ASSERT_EQ(KdsSetFilter(t, U("NAME = 'b'")), 0u) << LastErrorText();
    EXPECT_EQ(Walk(career), (std::vector<UNSIGNED32>{1}));
    ASSERT_EQ(KdsSetFilter(t, U("")), 0u);

    // Edits and deletions keep both tags right.
    ASSERT_EQ(KdsGotoRecord(t, 2), 0u);
    ASSERT_EQ(KdsLockRecord(t, 2), 0u) << LastErrorText();
    Set(t, "EMPLOYEECO", "E3");
    Set(t, "NAME", "z");
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    ASSERT_EQ(KdsGotoRecord(t, 3), 0u);
    ASSERT_EQ(KdsDeleteRecord(t), 0u) << LastErrorText();
    CheckClean(t);
    ASSERT_EQ(KdsClearScope(career, KCE_TOP), 0u);
    ASSERT_EQ(KdsClearScope(career, 2), 0u);
    ASSERT_EQ(KdsShowDeleted(1), 0u);
    EXPECT_EQ(Walk(career), (std::vector<UNSIGNED32>{4, 3, 1, 2}));
    EXPECT_EQ(Walk(Tag(t, "BYNAME")), (std::vector<UNSIGNED32>{1, 3, 4, 2}));
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

TEST_F(XbaseIndexTest, NtxIndexesAreFilesOfTheirOwnKeptWhileOpen) {
    KDSHANDLE t = CreateDbf("PAY.dbf", 1, "CODE,char,6;AMOUNT,numeric,8,2;PAID,date");
    KDSHANDLE byAmount = 0, byCode = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYAMOUNT"), U("AMOUNT"), nullptr, 0, &byAmount), 0u)
        << LastErrorText();
    ASSERT_EQ(KdsCreateIndex(t, U("codes"), U("BYCODE"), U("CODE+DTOS(PAID)"), nullptr,
                             KCE_INDEX_UNIQUE, &byCode),
              0u)
        << LastErrorText();
    EXPECT_TRUE(fs::exists(Path("BYAMOUNT.ntx")));
    EXPECT_TRUE(fs::exists(Path("codes.ntx")));
    for (const char* amount : {"7.25", "-25.50", "0", "-3", "100"}) {
        Append(t,
               {{"CODE", std::string("C") + amount}, {"AMOUNT", amount}, {"PAID", "01/02/2020"}});
    }
    // Negative amounts sort first, larger magnitudes first among them.
    EXPECT_EQ(Walk(byAmount), (std::vector<UNSIGNED32>{2, 4, 3, 1, 5}));
    EXPECT_EQ(Seek(byAmount, "-3"), 1);
    EXPECT_EQ(Recno(byAmount), 4u);
    // A unique index refuses a second record with its key, and no index takes the record.
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "CODE", "C0");
    Set(t, "PAID", "01/02/2020");
    EXPECT_EQ(KdsWriteRecord(t), KCE_DUPLICATE_KEY);
    ASSERT_EQ(KdsCancelUpdate(t), 0u);
    CheckClean(t);
    ASSERT_EQ(KdsCloseTable(t), 0u);

    // The files keep their keys; opened again they are checked and kept up to date.
    t = OpenDbf(Path("PAY.dbf"), 1);
    EXPECT_EQ(AllIndexes(t).size(), 0u);
    UNSIGNED16 count = 1;
    KDSHANDLE opened = 0;
    ASSERT_EQ(KdsOpenIndex(t, U("BYAMOUNT.ntx"), &opened, &count), 0u) << LastErrorText();
    Append(t, {{"CODE", "X"}, {"AMOUNT", "-100"}});
    EXPECT_EQ(Walk(opened).front(), 6u);
    CheckClean(t);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

// A rolled-back transaction takes the keys it wrote out of every index file of the table (the
// structural .cdx, another .cdx, the .ntx files), and leaves each file as it was.
TEST_F(XbaseIndexTest, RollbackGivesBackEveryIndexFileWithTheTable) {
    struct Kind {
        UNSIGNED16 type;
        const char* structural;  // the index made with the table, "" for none
        const char* other;       // a second index file, opened with KdsOpenIndex
        const char* otherTag;    // its index (a .ntx file's index takes the file's name)
    };
    for (const Kind& kind : {Kind{KCE_CDX, "C.cdx", "extra.cdx", "BYAMOUNT"},
                             Kind{KCE_NTX, "", "extra.ntx", "EXTRA"}}) {
        SCOPED_TRACE(kind.other);
        const std::string table = kind.type == KCE_CDX ? "C.dbf" : "N.dbf";
        KDSHANDLE t = CreateDbf(table, kind.type, "CODE,char,6;AMOUNT,numeric,8,2");
        KDSHANDLE index = 0;
        ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYCODE"), U("CODE"), nullptr, 0, &index), 0u)
            << LastErrorText();
        ASSERT_EQ(KdsCreateIndex(t, U(kind.other), U("BYAMOUNT"), U("STR(AMOUNT,8,2)"), nullptr, 0,
                                 &index),
                  0u)
            << LastErrorText();
        for (int i = 0; i < 300; ++i) {
            Append(t, {{"CODE", "C" + std::to_string(i)}, {"AMOUNT", std::to_string(i)}});
        }
        ASSERT_EQ(KdsCloseTable(t), 0u);
        std::vector<std::string> files = {kind.other,
                                          kind.type == KCE_CDX ? kind.structural : "BYCODE.ntx"};
        std::map<std::string, std::string> before;
        for (const auto& f : files) before[f] = ReadFile(Path(f));

        t = OpenDbf(Path(table), kind.type);
        UNSIGNED16 count = 0;
        ASSERT_EQ(KdsOpenIndex(t, U(kind.other), nullptr, &count), 0u) << LastErrorText();
        if (kind.type == KCE_NTX) {
            ASSERT_EQ(KdsOpenIndex(t, U("BYCODE.ntx"), nullptr, &count), 0u) << LastErrorText();
        }
        ASSERT_EQ(KdsBeginTransaction(conn_), 0u) << LastErrorText();
        // Enough new keys to split leaves, an edit that moves a key, and a deletion.
        for (int i = 0; i < 200; ++i) {
            Append(t, {{"CODE", "NEW" + std::to_string(i)}, {"AMOUNT", "-" + std::to_string(i)}});
        }
        ASSERT_EQ(KdsGotoRecord(t, 5), 0u);
        ASSERT_EQ(KdsLockRecord(t, 5), 0u) << LastErrorText();
        Set(t, "CODE", "MOVED");
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
        ASSERT_EQ(KdsUnlockRecord(t, 5), 0u);
        ASSERT_EQ(KdsGotoRecord(t, 6), 0u);
        ASSERT_EQ(KdsDeleteRecord(t), 0u) << LastErrorText();
        ASSERT_EQ(Seek(Tag(t, "BYCODE"), "MOVED"), 1);
        ASSERT_EQ(KdsRollbackTransaction(conn_), 0u) << LastErrorText();

        // The open handle sees the files as they were: no rolled-back key is found.
        for (const char* key : {"NEW7", "MOVED"}) EXPECT_EQ(Seek(Tag(t, "BYCODE"), key), 0) << key;
        EXPECT_EQ(Seek(Tag(t, kind.otherTag), "   -7.00"), 0);
        EXPECT_EQ(Seek(Tag(t, "BYCODE"), "C4"), 1);
        EXPECT_EQ(Recno(Tag(t, "BYCODE")), 5u);
        CheckClean(t);
        ASSERT_EQ(KdsCloseTable(t), 0u);
        for (const auto& f : files) EXPECT_TRUE(ReadFile(Path(f)) == before[f]) << f;

        // What the table's checker runs, on the files alone.
        t = OpenDbf(Path(table), kind.type, KCE_OPEN_READ_ONLY);
        ASSERT_EQ(KdsOpenIndex(t, U(kind.other), nullptr, &count), 0u) << LastErrorText();
        if (kind.type == KCE_NTX) {
            ASSERT_EQ(KdsOpenIndex(t, U("BYCODE.ntx"), nullptr, &count), 0u) << LastErrorText();
        }
        std::vector<UNSIGNED8> report(4096);
        UNSIGNED32 len = UNSIGNED32(report.size());
        ASSERT_EQ(KdsCheckTableFile(t, 0, report.data(), &len), 0u) << LastErrorText();
        EXPECT_EQ(len, 0u) << std::string(reinterpret_cast<char*>(report.data()), len);
        CheckClean(t);
        EXPECT_EQ(Walk(Tag(t, kind.otherTag)).size(), 300u);
        ASSERT_EQ(KdsCloseTable(t), 0u);
    }
}

// A structural .cdx that is damaged, missing or holds a tag this engine cannot read refuses the
// table; an exclusive open still gets through so that a reindex can build the file again from
// the table (or, when there is nothing to build from, say so and leave the file alone).
TEST_F(XbaseIndexTest, ExclusiveReindexRebuildsADamagedOrMissingStructuralIndexFile) {
    KDSHANDLE t = CreateDbf("T.dbf", KCE_CDX, "NAME,char,10;NO,numeric,5");
    KDSHANDLE index = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNAME"), U("NAME"), nullptr, 0, &index), 0u);
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNO"), U("STR(NO,5)"), nullptr, 0, &index), 0u);
    for (int i = 0; i < 300; ++i) {
        Append(t, {{"NAME", "N" + std::to_string(i * 7919 % 1000)}, {"NO", std::to_string(i)}});
    }
    std::vector<UNSIGNED32> byName = Walk(Tag(t, "BYNAME"));
    ASSERT_EQ(KdsCloseTable(t), 0u);
    const std::string good = ReadFile(Path("T.cdx"));
    auto put = [&](const std::string& bytes) {
        std::ofstream(Path("T.cdx"), std::ios::binary).write(bytes.data(), long(bytes.size()));
    };
    auto open = [&](UNSIGNED32 options, KDSHANDLE* out) {
        return KdsOpenTable(conn_, U(Path("T.dbf")), nullptr, KCE_CDX, 1, 1, 1, options, out);
    };

    struct Case {
        const char* what;
        size_t offset;  // where the bytes are spoilt
        std::string bytes;
        KCESTATUS status;  // of every open but an exclusive one
        bool rebuilt;      // whether an exclusive reindex builds the file again
    };
    const std::vector<Case> cases = {
        {"a tag whose root is past the end", 1536, std::string("\x00\x00\x10\x00", 4),
         KCE_DAMAGED_FILE, true},
        {"a directory whose leaf overruns itself", 1024 + 12, std::string("\xFF\x7F"),
         KCE_DAMAGED_FILE, false},
        {"a descending tag", 1536 + 502, std::string("\x01", 1), KCE_NOT_SUPPORTED, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string spoilt = good;
        spoilt.replace(c.offset, c.bytes.size(), c.bytes);
        put(spoilt);
        for (UNSIGNED32 options : {0u, UNSIGNED32(KCE_OPEN_READ_ONLY)}) {
            KDSHANDLE bad = 0;
            EXPECT_EQ(open(options, &bad), c.status);
            EXPECT_NE(LastErrorText().find("T.cdx"), std::string::npos) << LastErrorText();
        }
        KDSHANDLE x = 0;
        KCESTATUS opened = open(KCE_OPEN_EXCLUSIVE, &x);
        if (c.status == KCE_NOT_SUPPORTED) {
            // Not damage: nothing to repair, and the tag is not dropped behind the user's back.
            EXPECT_EQ(opened, KCE_NOT_SUPPORTED);
            EXPECT_NE(LastErrorText().find("descending"), std::string::npos) << LastErrorText();
            EXPECT_EQ(ReadFile(Path("T.cdx")), spoilt);
            continue;
        }
        ASSERT_EQ(opened, 0u) << LastErrorText();
        // The table is there to be repaired, not written: the file would fall further behind.
        EXPECT_EQ(KdsCheckIndexes(x), KCE_INDEX_MISMATCH);
        EXPECT_EQ(KdsAppendRecord(x), 0u);
        Set(x, "NAME", "NEW");
        EXPECT_EQ(KdsWriteRecord(x), c.status);
        KdsCancelUpdate(x);
        if (!c.rebuilt) {
            EXPECT_EQ(KdsReindex(x), c.status);
            EXPECT_NE(LastErrorText().find("cannot be read"), std::string::npos) << LastErrorText();
            ASSERT_EQ(KdsCloseTable(x), 0u);
            EXPECT_EQ(ReadFile(Path("T.cdx")), spoilt);
            continue;
        }
        ASSERT_EQ(KdsReindex(x), 0u) << LastErrorText();
        CheckClean(x);
        EXPECT_EQ(Walk(Tag(x, "BYNAME")), byName);
        EXPECT_EQ(Seek(Tag(x, "BYNO"), "  299"), 1);
        EXPECT_EQ(Recno(Tag(x, "BYNO")), 300u);
        ASSERT_EQ(KdsCloseTable(x), 0u);
        t = OpenDbf(Path("T.dbf"), KCE_CDX);
        CheckClean(t);
        ASSERT_EQ(KdsCloseTable(t), 0u);
    }

    // Missing: the header still says there is one. A reindex has no tag to build, and leaves
    // a table without a structural index file, its header saying so.
    fs::remove(Path("T.cdx"));
    KDSHANDLE x = 0;
    EXPECT_EQ(open(0, &x), KCE_FILE_NOT_FOUND);
    EXPECT_NE(LastErrorText().find("T.cdx"), std::string::npos) << LastErrorText();
    ASSERT_EQ(open(KCE_OPEN_EXCLUSIVE, &x), 0u) << LastErrorText();
    ASSERT_EQ(KdsReindex(x), 0u) << LastErrorText();
    ASSERT_EQ(KdsCloseTable(x), 0u);
    EXPECT_EQ(ReadFile(Path("T.dbf"))[28] & 1, 0);
    EXPECT_FALSE(fs::exists(Path("T.cdx")));
    t = OpenDbf(Path("T.dbf"), KCE_CDX);
    EXPECT_EQ(AllIndexes(t).size(), 0u);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

// A pack renumbers the records: every index is built again over the records that stay.
TEST_F(XbaseIndexTest, PackBuildsEveryIndexAgainOverTheRecordsThatStay) {
    for (UNSIGNED16 type : {UNSIGNED16(KCE_CDX), UNSIGNED16(KCE_NTX)}) {
        SCOPED_TRACE(type);
        const std::string table = type == KCE_CDX ? "C.dbf" : "N.dbf";
        KDSHANDLE t = CreateDbf(table, type, "NAME,char,10");
        KDSHANDLE index = 0;
        ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNAME"), U("NAME"), nullptr, 0, &index), 0u)
            << LastErrorText();
        for (int i = 0; i < 400; ++i) Append(t, {{"NAME", "N" + std::to_string(i * 7919 % 1000)}});
        for (UNSIGNED32 r = 1; r <= 400; r += 3) {
            ASSERT_EQ(KdsGotoRecord(t, r), 0u);
            ASSERT_EQ(KdsDeleteRecord(t), 0u) << LastErrorText();
        }
        ASSERT_EQ(KdsPackTable(t), 0u) << LastErrorText();
        CheckClean(t);
        // Names in key order, read through the index, are the sorted names that stayed.
        std::vector<std::string> names, expected;
        for (int i = 0; i < 400; ++i) {
            if (i % 3) expected.push_back("N" + std::to_string(i * 7919 % 1000));
        }
        std::sort(expected.begin(), expected.end());
        KDSHANDLE byName = Tag(t, "BYNAME");
        for (UNSIGNED32 recno : Walk(byName)) {
            ASSERT_EQ(KdsGotoRecord(t, recno), 0u);
            names.push_back(Field(t, "NAME"));
        }
        for (std::string& n : names) n.erase(n.find_last_not_of(' ') + 1);
        EXPECT_EQ(names, expected);
        ASSERT_EQ(KdsCloseTable(t), 0u);
    }
}

TEST_F(XbaseIndexTest, DamagedOrForeignIndexFilesAreRefusedAndLeftAsTheyAre) {
    KDSHANDLE t = CreateDbf("T.dbf", 2, "NAME,char,10");
    KDSHANDLE index = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNAME"), U("NAME"), nullptr, 0, &index), 0u);
    for (int i = 0; i < 200; ++i) Append(t, {{"NAME", "N" + std::to_string(i * 7919 % 1000)}});
    ASSERT_EQ(KdsCreateIndex(t, U("other.ntx"), U("X"), U("NAME"), nullptr, 0, &index), 0u)
        << LastErrorText();
    ASSERT_EQ(KdsCloseTable(t), 0u);
    const std::string good = ReadFile(Path("T.cdx"));

    struct Case {
        const char* what;
        size_t offset;  // where the bytes are spoilt
        std::string bytes;
        KCESTATUS status;
    };
    const std::vector<Case> cases = {
        {"not an index at all", 0, std::string(64, 'x'), KCE_WRONG_FILE_FORMAT},
        {"a leaf whose counts overrun it", 1024 + 12, std::string("\xFF\x7F"), KCE_DAMAGED_FILE},
        {"a tag whose root is past the end", 1536, std::string("\x00\x00\x10\x00", 4),
         KCE_DAMAGED_FILE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string spoilt = good;
        spoilt.replace(c.offset, c.bytes.size(), c.bytes);
        std::ofstream(Path("T.cdx"), std::ios::binary).write(spoilt.data(), long(spoilt.size()));
        KDSHANDLE bad = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U(Path("T.dbf")), nullptr, 2, 1, 1, 1, 0, &bad), c.status);
        EXPECT_NE(LastErrorText().find("T.cdx"), std::string::npos) << LastErrorText();
        EXPECT_EQ(ReadFile(Path("T.cdx")), spoilt);
    }
    std::ofstream(Path("T.cdx"), std::ios::binary).write(good.data(), long(good.size()));
    t = OpenDbf(Path("T.dbf"), 2);
    // A file of another kind given as an index file.
    std::ofstream(Path("junk.ntx"), std::ios::binary) << std::string(2048, '\x01');
    UNSIGNED16 count = 0;
    EXPECT_EQ(KdsOpenIndex(t, U("junk.ntx"), nullptr, &count), KCE_WRONG_FILE_FORMAT);
    EXPECT_EQ(ReadFile(Path("junk.ntx")), std::string(2048, '\x01'));
    CheckClean(t);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

// Other programs' tables: every tag opens and is found clean; then writes through the engine
// keep every tag right, and checking changes no byte.
TEST_F(XbaseIndexTest, SampleTablesStayRightThroughAppendsEditsAndDeletes) {
    auto cdxSamples = xbasesamples::Samples("cdx");
    auto ntxSamples = xbasesamples::Samples("ntx");
    if (cdxSamples.empty() && ntxSamples.empty()) GTEST_SKIP() << xbasesamples::kMissing;
    // Records other programs marked deleted are hidden: the first record shown can be edited.
    ASSERT_EQ(KdsShowDeleted(0), 0u);
    auto exercise = [&](const xbasesamples::Sample& original, UNSIGNED16 type) {
        SCOPED_TRACE(original.index.string());
        auto sample = xbasesamples::CopySample(original, dir_);
        KDSHANDLE t = OpenDbf(sample.table.string(), type);
        if (type == 1) {
            UNSIGNED16 count = 0;
            ASSERT_EQ(KdsOpenIndex(t, U(sample.index.string()), nullptr, &count), 0u)
                << LastErrorText();
        }
        auto indexes = AllIndexes(t);
        ASSERT_FALSE(indexes.empty());
        const std::string before = ReadFile(sample.index);
        CheckClean(t);
        EXPECT_EQ(ReadFile(sample.index), before);
        for (KDSHANDLE index : indexes) EXPECT_EQ(Walk(index).size(), Count(t)) << Name(index);
        // Append an empty record and a copy of the first one shown, empty that first one, and
        // delete the copy.
        const UNSIGNED32 last = Count(t);
        ASSERT_EQ(KdsGotoTop(t), 0u);
        UNSIGNED16 eof = 0;
        ASSERT_EQ(KdsAtEOF(t, &eof), 0u);
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
        if (!eof) {
            ASSERT_EQ(KdsGotoTop(t), 0u);
            const UNSIGNED32 top = Recno(t);
            std::vector<std::string> values = Values(t, top);
            std::vector<std::string> empty = Values(t, last + 1);
            ASSERT_EQ(KdsAppendRecord(t), 0u);
            SetValues(t, values);
            ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
            ASSERT_EQ(KdsGotoRecord(t, top), 0u);
            SetValues(t, empty);
            ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
            ASSERT_EQ(KdsGotoRecord(t, last + 2), 0u);
            ASSERT_EQ(KdsDeleteRecord(t), 0u) << LastErrorText();
        }
        CheckClean(t);
        ASSERT_EQ(KdsCloseTable(t), 0u);
        t = OpenDbf(sample.table.string(), type);
        if (type == 1) {
            UNSIGNED16 count = 0;
            ASSERT_EQ(KdsOpenIndex(t, U(sample.index.string()), nullptr, &count), 0u);
        }
        CheckClean(t);
        ASSERT_EQ(KdsCloseTable(t), 0u);
    };
    for (const auto& s : cdxSamples) exercise(s, 2);
    for (const auto& s : ntxSamples) exercise(s, 1);
    ASSERT_EQ(KdsShowDeleted(1), 0u);
}

// Three tags over a table that random appends, edits and deletes change, checked after each
// batch. (By hand the same with 100,000 records: XBASE_RANDOM_RECORDS=100000.)
TEST_F(XbaseIndexTest, RandomWritesKeepThreeTagsClean) {
    const char* env = std::getenv("XBASE_RANDOM_RECORDS");
    const int records = env ? std::atoi(env) : 3000;
    KDSHANDLE t = CreateDbf("R.dbf", 2, "NAME,char,20;NO,numeric,8;HIRED,date");
    KDSHANDLE index = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNAME"), U("UPPER(NAME)"), nullptr, 0, &index), 0u);
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNO"), U("NO"), nullptr, 0, &index), 0u);
    ASSERT_EQ(
        KdsCreateIndex(t, nullptr, U("BYDATE"), U("DTOS(HIRED)+NAME"), U("NO > 0"), 0, &index), 0u);
    std::mt19937 rng(5);
    auto fill = [&]() {
        Set(t, "NAME", "name" + std::to_string(rng() % 5000));
        Set(t, "NO", std::to_string(int(rng() % 20000) - 10000));
        Set(t, "HIRED",
            "0" + std::to_string(1 + rng() % 9) + "/1" + std::to_string(rng() % 9) + "/20" +
                std::to_string(10 + rng() % 10));
    };
    for (int i = 0; i < records; ++i) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        fill();
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    CheckClean(t);
    for (int batch = 0; batch < 4; ++batch) {
        for (int op = 0; op < records / 10; ++op) {
            UNSIGNED32 n = Count(t);
            const int kind = int(rng() % 3);
            SCOPED_TRACE("op " + std::to_string(op) + " kind " + std::to_string(kind));
            switch (kind) {
                case 0:
                    ASSERT_EQ(KdsAppendRecord(t), 0u);
                    fill();
                    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
                    break;
                case 1:
                    // A record deleted before is not shown, and so not edited.
                    if (!Visit(t, 1 + rng() % n)) break;
                    ASSERT_EQ(KdsLockRecord(t, Recno(t)), 0u);
                    fill();
                    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
                    ASSERT_EQ(KdsUnlockRecord(t, Recno(t)), 0u);
                    break;
                default:
                    if (!Visit(t, 1 + rng() % n)) break;
                    ASSERT_EQ(KdsDeleteRecord(t), 0u) << LastErrorText();
            }
        }
        CheckClean(t);
    }
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

// A process killed while it writes leaves files that check finds clean or that reindex repairs,
// with every record it wrote.
TEST_F(XbaseIndexTest, KilledWriterLeavesFilesThatReindexRepairs) {
    KDSHANDLE t = CreateDbf("K.dbf", 2, "NAME,char,12;NO,numeric,6");
    KDSHANDLE index = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNAME"), U("NAME"), nullptr, 0, &index), 0u);
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNO"), U("NO"), nullptr, 0, &index), 0u);
    ASSERT_EQ(KdsCloseTable(t), 0u);
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipefd[0]);
        KDSHANDLE conn = 0, table = 0;
        if (KdsConnect(U(dir_), &conn) ||
            KdsOpenTable(conn, U("K.dbf"), nullptr, 2, 1, 1, 1, 0, &table)) {
            _exit(2);
        }
        for (int i = 0;; ++i) {
            std::string name = "n" + std::to_string(i * 7919 % 100000);
            std::string no = std::to_string(i % 1000);
            if (KdsAppendRecord(table) ||
                KdsSetField(table, U("NAME"), U(name), UNSIGNED32(name.size())) ||
                KdsSetField(table, U("NO"), U(no), UNSIGNED32(no.size())) ||
                KdsWriteRecord(table)) {
                _exit(3);
            }
            if (i == 300) (void)!write(pipefd[1], "x", 1);
        }
    }
    close(pipefd[1]);
    char c;
    ASSERT_EQ(read(pipefd[0], &c, 1), 1);
    usleep(20000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(pipefd[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    t = OpenDbf(Path("K.dbf"), 2, KCE_OPEN_EXCLUSIVE);
    const UNSIGNED32 written = Count(t);
    EXPECT_GT(written, 300u);
    if (KdsCheckIndexes(t) != 0) {
        ASSERT_EQ(KdsReindex(t), 0u) << LastErrorText();
    }
    CheckClean(t);
    EXPECT_EQ(Count(t), written);
    EXPECT_EQ(Walk(Tag(t, "BYNAME")).size(), written);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

}  // namespace

namespace {

using testsupport::ShellOutput;

// The keys we write are read back in order by an independent reader: the Perl XBase modules
// (Debian's libdbd-xbase-perl, installed by scripts/install-deps.sh), whose index classes read
// .cdx and .ntx files. The reader takes tags on plain fields; it reads no date tag of a .cdx
// (not those other programs wrote either), so that one is compared for .ntx only.
TEST_F(XbaseIndexTest, AnIndependentReaderWalksOurTagsInOurOrder) {
    if (ShellOutput("perl -MXBase -e 'print qq(ok)' 2>/dev/null") != "ok") {
        GTEST_SKIP() << "the Perl XBase modules are not installed";
    }
    for (UNSIGNED16 type : {UNSIGNED16(2), UNSIGNED16(1)}) {
        SCOPED_TRACE(type == 2 ? "cdx" : "ntx");
        const std::string table = type == 2 ? "P.dbf" : "Q.dbf";
        KDSHANDLE t =
            CreateDbf(table, type, "ID,numeric,6;NAME,char,14;AMOUNT,numeric,9,2;DAY,date");
        const char* tags[] = {"BYNAME", "BYAMOUNT", "BYDAY"};
        const char* keys[] = {"NAME", "AMOUNT", "DAY"};
        std::vector<KDSHANDLE> handles;
        for (int i = 0; i < 3; ++i) {
            KDSHANDLE h = 0;
            ASSERT_EQ(KdsCreateIndex(t, nullptr, U(tags[i]), U(keys[i]), nullptr, 0, &h), 0u)
                << LastErrorText();
            handles.push_back(h);
        }
        std::mt19937 rng(3);
        // Enough records for trees of several levels; then deletions empty some nodes.
        for (int i = 1; i <= 3000; ++i) {
            char amount[32], day[16];
            std::snprintf(amount, sizeof amount, "%.2f", (int(rng() % 200000) - 100000) / 100.0);
            std::snprintf(day, sizeof day, "%02d/%02d/%d", 1 + int(rng() % 12), 1 + int(rng() % 28),
                          1990 + int(rng() % 40));
            Append(t, {{"ID", std::to_string(i)},
                       {"NAME", "N" + std::to_string(rng() % 700) + "SMITH"},
                       {"AMOUNT", amount},
                       {"DAY", day}});
        }
        for (int i = 0; i < 600; ++i) {
            if (!Visit(t, 1 + rng() % 3000)) continue;
            ASSERT_EQ(KdsLockRecord(t, Recno(t)), 0u);
            Set(t, "NAME", "EDITED" + std::to_string(rng() % 50));
            Set(t, "AMOUNT", std::to_string(int(rng() % 100)));
            ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
            ASSERT_EQ(KdsUnlockRecord(t, Recno(t)), 0u);
        }
        std::vector<std::string> ours;
        for (KDSHANDLE h : handles) {
            std::string order;
            for (UNSIGNED32 r : Walk(h)) order += std::to_string(r) + " ";
            ours.push_back(order);
        }
        ASSERT_EQ(KdsCloseTable(t), 0u);
        for (int i = 0; i < (type == 2 ? 2 : 3); ++i) {
            SCOPED_TRACE(tags[i]);
            std::string index = type == 2 ? "[q(" + Path("P.cdx") + "), q(" + tags[i] + ")]"
                                          : "q(" + Path(std::string(tags[i]) + ".ntx") + ")";
            std::string script =
                "my $t = XBase->new(q(" + Path(table) + ")) or die XBase->errstr; " +
                "my $c = $t->prepare_select_with_index(" + index + ", q(ID)) or die $t->errstr; " +
                "while (my @d = $c->fetch) { print $d[0], q( ) }";
            EXPECT_EQ(ShellOutput("perl -MXBase -e '" + script + "' 2>&1"), ours[size_t(i)]);
        }
    }
}

}  // namespace

namespace {

// Two-place amounts in a CDX tag get the keys other programs compute for the same text: the Perl
// reader, which converts the text itself, finds each amount by key exactly (not the neighbour one
// unit in the last place above it), and a filter on the literal holds for its record.
TEST_F(XbaseIndexTest, AmountsGetTheKeysOtherProgramsComputeForTheirText) {
    if (ShellOutput("perl -MXBase -e 'print qq(ok)' 2>/dev/null") != "ok") {
        GTEST_SKIP() << "the Perl XBase modules are not installed";
    }
    KDSHANDLE t = CreateDbf("A.dbf", 2, "AMOUNT,numeric,10,2");
    KDSHANDLE index = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYAMOUNT"), U("AMOUNT"), nullptr, 0, &index), 0u)
        << LastErrorText();
    std::mt19937 rng(19);
    std::vector<std::string> amounts = {"8704.23", "0.12", "-870.17"};
    while (amounts.size() < 400) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", (int(rng() % 2000000) - 1000000) / 100.0);
        amounts.push_back(text);
    }
    for (const std::string& a : amounts) Append(t, {{"AMOUNT", a}});
    ASSERT_EQ(KdsSetFilter(t, U("AMOUNT = 8704.23")), 0u) << LastErrorText();
    ASSERT_EQ(KdsGotoTop(t), 0u);
    EXPECT_FALSE(Eof(t));
    EXPECT_EQ(Recno(t), 1u);
    ASSERT_EQ(KdsClearFilter(t), 0u);
    ASSERT_EQ(KdsCloseTable(t), 0u);

    std::ofstream(Path("amounts.txt")) << [&] {
        std::string all;
        for (const std::string& a : amounts) all += a + "\n";
        return all;
    }();
    std::string script = "my $i = XBase::Index->new(q(" + Path("A.cdx") +
                         "), tag => q(BYAMOUNT), type => q(N)) or die XBase::Index->errstr; " +
                         "open my $f, q(<), q(" + Path("amounts.txt") + ") or die; " +
                         "while (my $a = <$f>) { chomp $a; $i->prepare_select_eq($a); " +
                         "my ($k, $r) = $i->fetch; print qq($a\\n) unless defined $k && $k == $a }";
    EXPECT_EQ(ShellOutput("perl -MXBase -MXBase::Index -e '" + script + "' 2>&1"), "");
}

}  // namespace

namespace {

// The CDX tags we write for every kind of key, character keys from 1 to 240 bytes among them, are
// read by the Perl reader, which finds every record by its own key: the field's text for
// character and logical tags, the number for numeric ones and the Julian day (computed in Perl)
// for dates. Edits after the appends take keys out of the trees as well as put them in.
TEST_F(XbaseIndexTest, AnIndependentReaderFindsEveryRecordByKeyInEachKindOfTag) {
    if (ShellOutput("perl -MXBase -e 'print qq(ok)' 2>/dev/null") != "ok") {
        GTEST_SKIP() << "the Perl XBase modules are not installed";
    }
    KDSHANDLE t = CreateDbf("K.dbf", 2,
                            "C1,char,1;C37,char,37;C150,char,150;C240,char,240;N,numeric,9,2;"
                            "D,date;L,logical");
    const char* fields[] = {"C1", "C37", "C150", "C240", "N", "D", "L"};
    for (const char* f : fields) {
        KDSHANDLE h = 0;
        ASSERT_EQ(KdsCreateIndex(t, nullptr, U(std::string("T") + f), U(f), nullptr, 0, &h), 0u)
            << f << ": " << LastErrorText();
    }
    std::mt19937 rng(23);
    auto text = [&](size_t width) {
        std::string s(rng() % 2 ? rng() % (width + 1) : 0, 'P');
        while (s.size() < width && rng() % 4) s += char('A' + rng() % 3);
        return s.substr(0, width);
    };
    auto fill = [&] {
        char amount[32], day[16];
        std::snprintf(amount, sizeof amount, "%.2f", (int(rng() % 2000000) - 1000000) / 100.0);
        std::snprintf(day, sizeof day, "%02d/%02d/%d", 1 + int(rng() % 12), 1 + int(rng() % 28),
                      1900 + int(rng() % 200));
        Set(t, "C1", text(1));
        Set(t, "C37", text(37));
        Set(t, "C150", text(150));
        Set(t, "C240", text(240));
        Set(t, "N", amount);
        Set(t, "D", day);
        Set(t, "L", rng() % 2 ? "T" : "F");
    };
    for (int i = 0; i < 700; ++i) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        fill();
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    for (int i = 0; i < 300; ++i) {
        if (!Visit(t, 1 + rng() % 700)) continue;
        ASSERT_EQ(KdsLockRecord(t, Recno(t)), 0u);
        fill();
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
        ASSERT_EQ(KdsUnlockRecord(t, Recno(t)), 0u);
    }
    CheckClean(t);
    ASSERT_EQ(KdsCloseTable(t), 0u);

    std::ofstream(Path("find.pl")) << R"(
use XBase; use XBase::Index;
my ($dbf, $cdx) = @ARGV;
sub jdn { my ($y, $m, $d) = @_; my $a = int((14 - $m) / 12); my $yy = $y + 4800 - $a;
  my $mm = $m + 12 * $a - 3;
  $d + int((153 * $mm + 2) / 5) + 365 * $yy + int($yy / 4) - int($yy / 100) + int($yy / 400) - 32045 }
my $t = XBase->new($dbf) or die XBase->errstr;
for my $f (qw(C1 C37 C150 C240 N D L)) {
  my $type = ($f eq "N" || $f eq "D") ? "N" : "C";
  my $i = XBase::Index->new($cdx, tag => "T$f", type => $type) or die XBase::Index->errstr;
  my $missed = 0;
  for my $r (0 .. $t->last_record) {
    my (undef, $v) = $t->get_record($r, $f);
    my $key = $f eq "D" ? jdn(substr($v, 0, 4), substr($v, 4, 2), substr($v, 6, 2))
            : $f eq "L" ? ($v ? "T" : "F") : $v;
    $i->prepare_select_eq($key);
    my $found = 0;
    while (my ($k, $n) = $i->fetch) {
      last if $type eq "N" ? $k != $key : $k ne $key;
      if ($n == $r + 1) { $found = 1; last }
    }
    $missed++ unless $found;
  }
  print "T$f misses $missed\n" if $missed;
}
print "read ", $t->last_record + 1, "\n";
)";
    EXPECT_EQ(ShellOutput("perl " + Path("find.pl") + " " + Path("K.dbf") + " " + Path("K.cdx") +
                          " 2>&1"),
              "read 700\n");
}

}  // namespace

namespace {

// Tags this engine cannot keep, one calling a function it lacks and one in a collation it does
// not implement (as other programs write them, made here by changing our own file's bytes): the
// table opens and reads, each such tag is refused by name, the others work, and every write is
// refused while it would leave such a tag out of date.
TEST_F(XbaseIndexTest, TagsWithUnknownFunctionsOrCollationsAreNamedAndKeepTheTableReadOnly) {
    KDSHANDLE t = CreateDbf("U.dbf", 2, "NAME,char,10;NO,numeric,10");
    KDSHANDLE h = 0;
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYNAME"), U("NAME"), nullptr, 0, &h), 0u);
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYBIN"), U("STR(NO,10)"), nullptr, 0, &h), 0u);
    ASSERT_EQ(KdsCreateIndex(t, nullptr, U("BYGEN"), U("UPPER(NAME)"), nullptr, 0, &h), 0u);
    Append(t, {{"NAME", "SMITH"}, {"NO", "7"}});
    Append(t, {{"NAME", "JONES"}, {"NO", "3"}});
    ASSERT_EQ(KdsCloseTable(t), 0u);
    std::string cdx = ReadFile(Path("U.cdx"));
    size_t bin = cdx.find(std::string("STR(NO,10)\0", 11));
    size_t gen = cdx.find(std::string("UPPER(NAME)\0", 12));
    ASSERT_NE(bin, std::string::npos);
    ASSERT_NE(gen, std::string::npos);
    cdx.replace(bin, 10, "BINTOC(NO)");
    cdx.replace(gen - 512 + 494, 7, "GENERAL");
    std::ofstream(Path("U.cdx"), std::ios::binary) << cdx;

    t = OpenDbf(Path("U.dbf"), 2);
    ASSERT_NE(t, 0u);
    ASSERT_EQ(KdsGotoTop(t), 0u) << LastErrorText();
    EXPECT_EQ(Field(t, "NAME"), "SMITH");
    EXPECT_EQ(Walk(Tag(t, "BYNAME")), (std::vector<UNSIGNED32>{2, 1}));
    for (auto [tag, why] : {std::pair{"BYBIN", "BINTOC"}, std::pair{"BYGEN", "GENERAL"}}) {
        KDSHANDLE index = 0;
        EXPECT_EQ(KdsGetIndexHandle(t, U(tag), &index), UNSIGNED32(KCE_NOT_SUPPORTED));
        std::string text = LastErrorText();
        EXPECT_NE(text.find(tag), std::string::npos) << text;
        EXPECT_NE(text.find(why), std::string::npos) << text;
    }
    EXPECT_EQ(KdsAppendRecord(t) == 0 && KdsWriteRecord(t) == 0, false);
    EXPECT_NE(LastErrorText().find("out of date"), std::string::npos) << LastErrorText();
    ASSERT_EQ(KdsCloseTable(t), 0u);
    t = OpenDbf(Path("U.dbf"), 2);
    EXPECT_EQ(Count(t), 2u);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

}  // namespace
