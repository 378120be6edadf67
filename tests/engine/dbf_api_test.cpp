// DBF tables through the engine's C interface: the same calls as on native tables.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "engine/dbf/dbf_table.h"
#include "tests/engine/engine_test_util.h"
#include "tests/support/files.h"

namespace {

using kcetest::LastErrorText;
using kcetest::U;

class DbfApi : public kcetest::EngineTest {
  protected:
    KDSHANDLE CreateDbf(const std::string& name, UNSIGNED16 type, const std::string& fields) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsCreateTable(conn_, U(name), type, KCE_ANSI, U(fields), 0, &t), 0u)
            << LastErrorText();
        return t;
    }
    KDSHANDLE OpenDbf(const std::string& name, UNSIGNED32 options = 0) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U(name), nullptr, KCE_DEFAULT_TABLE, KCE_ANSI,
                               KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, options, &t),
                  0u)
            << LastErrorText();
        return t;
    }
    static std::string Raw(KDSHANDLE t, const char* field) {
        UNSIGNED32 offset = 0, length = 0;
        EXPECT_EQ(KdsGetFieldOffset(t, U(field), &offset), 0u);
        EXPECT_EQ(KdsGetFieldLength(t, U(field), &length), 0u);
        std::vector<uint8_t> image = Record(t);
        return std::string(reinterpret_cast<char*>(image.data()) + offset, length);
    }
    static bool Empty(KDSHANDLE t, const char* field) {
        UNSIGNED16 empty = 0;
        EXPECT_EQ(KdsIsEmpty(t, U(field), &empty), 0u) << LastErrorText();
        return empty != 0;
    }
};

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int v : b) s += static_cast<char>(v);
    return s;
}

// Each engine type a CDX table holds: the text set, the raw image it gives, the text read back.
TEST_F(DbfApi, EveryCdxTypeHoldsItsImageByteForByte) {
    struct Case {
        const char* field;
        const char* text;
        std::string raw;
        const char* back;
        bool empty;
    };
    const std::vector<Case> cases = {
        {"L", "T", "T", "T", false},
        {"L", "", " ", "", true},
        {"N", "123.456", "123.46", "123.46", false},
        {"N", "-5.5", " -5.50", "-5.50", false},
        {"N", "", "      ", "", true},
        {"D", "09/15/2001", "20010915", "09/15/2001", false},
        {"D", "", "        ", "", true},
        {"C", "AB", "AB   ", "AB", false},
        {"C", "", "     ", "", true},
        {"M", "a memo", Bytes({0xFF, 0xFF, 0xFF, 0xFF}), "a memo", false},
        {"M", "", Bytes({0, 0, 0, 0}), "", true},
        {"B", "2.5", Bytes({0, 0, 0, 0, 0, 0, 4, 0x40}), "2.5", false},
        {"B", "", Bytes({0, 0, 0, 0, 0, 0, 0, 0}), "0", false},
        {"I", "-7", Bytes({0xF9, 0xFF, 0xFF, 0xFF}), "-7", false},
        {"I", "", Bytes({0, 0, 0, 0}), "0", false},
        {"Y", "1.25", Bytes({0xD4, 0x30, 0, 0, 0, 0, 0, 0}), "1.25", false},
        {"Y", "-922337203685477.5807", Bytes({1, 0, 0, 0, 0, 0, 0, 0x80}), "-922337203685477.5807",
         false},
        {"T", "01/01/2000 12:34:56.789", Bytes({0x59, 0x68, 0x25, 0, 0x95, 0x2C, 0xB3, 0x02}),
         "01/01/2000 12:34:56.789", false},
        {"T", "", std::string(8, ' '), "", true},
    };
    KDSHANDLE t = CreateDbf("types.dbf", KCE_CDX,
                            "L,logical;N,numeric,6,2;D,date;C,char,5;M,memo;B,double;I,integer;"
                            "Y,money;T,timestamp;A,autoinc");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " '" + c.text + "'");
        ASSERT_EQ(KdsAppendRecord(t), 0u) << LastErrorText();
        Set(t, c.field, c.text);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
        ASSERT_EQ(KdsRefreshRecord(t), 0u) << LastErrorText();
        EXPECT_EQ(Raw(t, c.field), c.raw);
        EXPECT_EQ(Field(t, c.field), c.back);
        EXPECT_EQ(Empty(t, c.field), c.empty);
    }
    UNSIGNED32 last = 0;
    ASSERT_EQ(KdsGetLastAutoinc(t, &last), 0u);
    EXPECT_EQ(last, cases.size());
    EXPECT_EQ(Raw(t, "A"), Bytes({static_cast<int>(cases.size()), 0, 0, 0}));
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

TEST_F(DbfApi, AnOemOpenTranslatesBetweenTheFilesPageAndItsAnsiPartner) {
    ASSERT_EQ(kce::dbf::DbfTable::Create(Path("dos.dbf"), kce::dbf::XBaseKind::kNtx,
                                         {{"NAME", 4, 8, 0}, {"NOTE", 5, 0, 0}},
                                         {.codePage = 0x02}),  // DOS 850
              0u);
    KDSHANDLE t = 0;
    ASSERT_EQ(KdsOpenTable(conn_, U("dos.dbf"), nullptr, 1, 2, 1, 1, 0, &t), 0u) << LastErrorText();
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "NAME", "Zo\xEB");  // Windows-1252, as the engine's calls speak it
    Set(t, "NOTE",
        "Gr\xF6\xDF"
        "e");
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    // A character page 850 lacks is refused.
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "NAME", "\x80");  // the euro sign
    EXPECT_EQ(KdsWriteRecord(t), KCE_INVALID_FIELD_VALUE);
    KdsCancelUpdate(t);
    ASSERT_EQ(KdsGotoTop(t), 0u);
    EXPECT_EQ(Field(t, "NAME"), "Zo\xEB");
    EXPECT_EQ(Field(t, "NOTE"),
              "Gr\xF6\xDF"
              "e");
    ASSERT_EQ(KdsCloseTable(t), 0u);
    // An ANSI open shows the bytes the file holds: page 850.
    ASSERT_EQ(KdsOpenTable(conn_, U("dos.dbf"), nullptr, 1, 1, 1, 1, 0, &t), 0u);
    EXPECT_EQ(Field(t, "NAME"), "Zo\x89");
    EXPECT_EQ(Field(t, "NOTE"),
              "Gr\x94\xE1"
              "e");
    EXPECT_EQ(Count(t), 1u);
    // Bytes of page 850 that Windows-1252 lacks (0xC9, a box corner), in a name and in a memo.
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "NAME", "a\xC9");
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "NAME", "ok");
    Set(t, "NOTE", "\xC9\xCD");
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    ASSERT_EQ(KdsCloseTable(t), 0u);
    // The OEM open refuses them with their record and field instead of reading another character.
    ASSERT_EQ(KdsOpenTable(conn_, U("dos.dbf"), nullptr, 1, 2, 1, 1, 0, &t), 0u) << LastErrorText();
    EXPECT_EQ(Field(t, "NAME"), "Zo\xEB");
    EXPECT_EQ(KdsGotoRecord(t, 2), KCE_INVALID_FIELD_VALUE);
    EXPECT_NE(LastErrorText().find("record 2, field 'NAME': byte 0xC9 of code page 850 has no "
                                   "character in code page 1252"),
              std::string::npos)
        << LastErrorText();
    ASSERT_EQ(KdsGotoRecord(t, 3), 0u) << LastErrorText();
    EXPECT_EQ(Field(t, "NAME"), "ok");
    UNSIGNED8 buf[16];
    UNSIGNED32 len = sizeof buf;
    EXPECT_EQ(KdsGetField(t, U("NOTE"), buf, &len, 0), KCE_INVALID_FIELD_VALUE);
    EXPECT_NE(LastErrorText().find("record 3, field 'NOTE'"), std::string::npos) << LastErrorText();
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

TEST_F(DbfApi, DeletedRecordsAreShownOrSkippedBySetting) {
    KDSHANDLE t = CreateDbf("del", KCE_NTX, "NAME,char,4");
    for (const char* name : {"one", "two", "tri"}) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        Set(t, "NAME", name);
        ASSERT_EQ(KdsWriteRecord(t), 0u);
    }
    ASSERT_EQ(KdsGotoRecord(t, 2), 0u);
    ASSERT_EQ(KdsDeleteRecord(t), 0u) << LastErrorText();
    auto walk = [&]() {
        std::string seen;
        EXPECT_EQ(KdsGotoTop(t), 0u);
        while (!Eof(t)) {
            seen += Field(t, "NAME") + " ";
            EXPECT_EQ(KdsSkip(t, 1), 0u);
        }
        return seen;
    };
    ASSERT_EQ(KdsShowDeleted(1), 0u);
    EXPECT_EQ(walk(), "one two tri ");
    ASSERT_EQ(KdsGotoRecord(t, 2), 0u);
    UNSIGNED16 deleted = 0;
    ASSERT_EQ(KdsIsRecordDeleted(t, &deleted), 0u);
    EXPECT_TRUE(deleted);
    ASSERT_EQ(KdsShowDeleted(0), 0u);
    EXPECT_EQ(walk(), "one tri ");
    EXPECT_EQ(std::filesystem::file_size(Path("del.dbf")), 32u + 32 + 1 + 3 * 5 + 1);
    ASSERT_EQ(KdsPackTable(t), 0u) << LastErrorText();
    EXPECT_EQ(std::filesystem::file_size(Path("del.dbf")), 32u + 32 + 1 + 2 * 5 + 1);
    EXPECT_EQ(walk(), "one tri ");
    ASSERT_EQ(KdsShowDeleted(1), 0u);
    ASSERT_EQ(KdsZapTable(t), 0u) << LastErrorText();
    EXPECT_EQ(Count(t), 0u);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

TEST_F(DbfApi, MemoValuesTravelThroughSetFieldAndGetField) {
    KDSHANDLE t = CreateDbf("memo.dbf", KCE_NTX, "ID,numeric,4;NOTE,memo");
    const std::string big(5000, 'n');
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "NOTE", big);
    Set(t, "ID", "1");
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    ASSERT_EQ(KdsCloseTable(t), 0u);
    EXPECT_TRUE(std::filesystem::exists(Path("memo.dbt")));
    t = OpenDbf("memo.dbf");
    ASSERT_EQ(KdsGotoTop(t), 0u);
    UNSIGNED32 length = 0;
    ASSERT_EQ(KdsGetMemoLength(t, U("NOTE"), &length), 0u);
    EXPECT_EQ(length, big.size());
    EXPECT_EQ(Field(t, "NOTE"), big);
    // A dBase III memo cannot hold 0x1A: refused, and the record keeps its value.
    std::string bad =
        "a\x1A"
        "b";
    EXPECT_EQ(KdsSetField(t, U("NOTE"), U(bad), 3), 0u);
    EXPECT_EQ(KdsWriteRecord(t), KCE_MEMO_VALUE_NOT_ALLOWED);
    ASSERT_EQ(KdsCancelUpdate(t), 0u);
    EXPECT_EQ(Field(t, "NOTE"), big);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

TEST_F(DbfApi, CodePageAndFileCheckAreAnswered) {
    KDSHANDLE t = CreateDbf("cp.dbf", KCE_CDX, "A,char,1");
    UNSIGNED16 codePage = 0;
    ASSERT_EQ(KdsGetCodePage(t, &codePage), 0u);
    EXPECT_EQ(codePage, 0x03);
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "A", "x");
    ASSERT_EQ(KdsWriteRecord(t), 0u);
    ASSERT_EQ(KdsCloseTable(t), 0u);
    // Take the header count back by one, as a kill between the record and the header leaves it.
    {
        std::fstream f(Path("cp.dbf"), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4);
        f.put(0);
    }
    t = OpenDbf("cp.dbf", KCE_OPEN_EXCLUSIVE);
    EXPECT_EQ(Count(t), 1u);
    UNSIGNED8 report[200];
    UNSIGNED32 len = sizeof report;
    ASSERT_EQ(KdsCheckTableFile(t, 1, report, &len), 0u) << LastErrorText();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(report), len),
              "the header counts 0 records, the file holds 1\n");
    len = sizeof report;
    ASSERT_EQ(KdsCheckTableFile(t, 0, report, &len), 0u);
    EXPECT_EQ(len, 0u);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

// A table file cut inside its header while a handle has it open: the check says so instead of
// counting records in the bytes it lacks, and the repair refuses, changing nothing (writing the end
// marker at the header's end would leave zeros where the field descriptors were).
TEST_F(DbfApi, AFileCutInsideItsHeaderIsReportedAndNotRepaired) {
    const std::string create = std::string(KDSTOOL) + " create " + Path("cut.dbf") +
                               " --type cdx NAME:char:10 PAY:numeric:8:2 >/dev/null";
    ASSERT_EQ(std::system(create.c_str()), 0) << create;
    KDSHANDLE t = OpenDbf("cut.dbf", KCE_OPEN_EXCLUSIVE);
    for (const char* name : {"ann", "bob"}) {
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        Set(t, "NAME", name);
        ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    }
    const std::string whole = testsupport::ReadFile(Path("cut.dbf"));
    const size_t headerLength = uint8_t(whole[8]) | uint8_t(whole[9]) << 8;
    for (size_t cut : {size_t(40), headerLength - 1}) {
        SCOPED_TRACE(cut);
        std::filesystem::resize_file(Path("cut.dbf"), cut);
        const std::string cutBytes = testsupport::ReadFile(Path("cut.dbf"));
        UNSIGNED8 report[300];
        UNSIGNED32 len = sizeof report;
        ASSERT_EQ(KdsCheckTableFile(t, 0, report, &len), 0u) << LastErrorText();
        EXPECT_EQ(std::string(reinterpret_cast<char*>(report), len),
                  "the file is " + std::to_string(cut) +
                      " bytes long and ends inside its header of " + std::to_string(headerLength) +
                      " bytes: no record is left\n");
        len = sizeof report;
        EXPECT_EQ(KdsCheckTableFile(t, 1, report, &len), KCE_DBF_TRUNCATED);
        EXPECT_NE(LastErrorText().find("it is not repaired"), std::string::npos) << LastErrorText();
        EXPECT_EQ(testsupport::ReadFile(Path("cut.dbf")), cutBytes);
    }
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

TEST_F(DbfApi, DamagedFilesGiveTheirStatusThroughOpen) {
    std::ofstream(Path("short.dbf"), std::ios::binary) << std::string("\x03\x7C\x01\x01", 4);
    KDSHANDLE t = 0;
    EXPECT_EQ(KdsOpenTable(conn_, U("short.dbf"), nullptr, KCE_CDX, KCE_ANSI,
                           KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &t),
              KCE_DBF_TRUNCATED);
    EXPECT_NE(LastErrorText().find("short.dbf"), std::string::npos) << LastErrorText();
    EXPECT_EQ(t, 0u);
}

}  // namespace

namespace {

// A child process that appends records "<tag>-<n>" one KdsWriteRecord at a time; it tells the
// parent through the pipe once `signalAfter` records are written, then stops after `count`.
[[noreturn]] void AppendInChild(const std::string& dir, const char* tag, int count, int signalAfter,
                                int pipeFd) {
    KDSHANDLE conn = 0, t = 0;
    if (KdsConnect(U(dir), &conn) ||
        KdsOpenTable(conn, U("p.dbf"), nullptr, KCE_CDX, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                     KCE_CHECK_RIGHTS, 0, &t)) {
        _exit(2);
    }
    for (int i = 1; i <= count; ++i) {
        std::string value = std::string(tag) + "-" + std::to_string(i);
        if (KdsAppendRecord(t) || KdsSetField(t, U("V"), U(value), UNSIGNED32(value.size())) ||
            KdsSetField(t, U("NOTE"), U(value), UNSIGNED32(value.size())) || KdsWriteRecord(t)) {
            _exit(3);
        }
        if (i == signalAfter) (void)!write(pipeFd, "x", 1);
    }
    _exit(0);
}

}  // namespace

TEST_F(DbfApi, ProcessesAppendingAtOnceLoseNothingAndAKillLeavesEveryWrittenRecord) {
    ASSERT_EQ(KdsCloseTable(CreateDbf("p.dbf", KCE_CDX, "V,char,12;NOTE,memo")), 0u);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t a = fork();
    if (a == 0) AppendInChild(dir_, "a", 1500, 0, fds[1]);
    pid_t b = fork();
    if (b == 0) AppendInChild(dir_, "b", 1500, 0, fds[1]);
    pid_t killed = fork();
    if (killed == 0) AppendInChild(dir_, "k", 1 << 30, 500, fds[1]);
    char c;
    ASSERT_EQ(read(fds[0], &c, 1), 1);  // the third child has written 50 records
    kill(killed, SIGKILL);
    int status = 0;
    for (pid_t p : {a, b, killed}) waitpid(p, &status, 0);
    close(fds[0]);
    close(fds[1]);

    KDSHANDLE t = OpenDbf("p.dbf");
    std::map<std::string, int> last;  // per writer, the highest number seen
    std::set<std::string> seen;
    ASSERT_EQ(KdsGotoTop(t), 0u);
    while (!Eof(t)) {
        std::string v = Field(t, "V");
        ASSERT_EQ(Field(t, "NOTE"), v);
        EXPECT_TRUE(seen.insert(v).second) << v << " twice";
        std::string tag = v.substr(0, 1);
        int n = std::stoi(v.substr(2));
        EXPECT_EQ(n, last[tag] + 1) << v;  // each writer's records in order, none missing
        last[tag] = n;
        ASSERT_EQ(KdsSkip(t, 1), 0u);
    }
    EXPECT_EQ(last["a"], 1500);
    EXPECT_EQ(last["b"], 1500);
    EXPECT_GE(last["k"], 500);
    EXPECT_EQ(seen.size(), 3000u + last["k"]);
    UNSIGNED8 report[200];
    UNSIGNED32 len = sizeof report;
    ASSERT_EQ(KdsCheckTableFile(t, 0, report, &len), 0u);
    EXPECT_LE(len, 60u) << "at most the lagging count of the killed append";
    ASSERT_EQ(KdsCloseTable(t), 0u);
}

TEST_F(DbfApi, AReadOnlyHandleDoesNotMakeTheSharedTableReadOnly) {
    ASSERT_EQ(KdsCloseTable(CreateDbf("s.dbf", KCE_CDX, "A,char,2")), 0u);
    KDSHANDLE reader = OpenDbf("s.dbf", KCE_OPEN_READ_ONLY);
    KDSHANDLE writer = OpenDbf("s.dbf");
    EXPECT_EQ(KdsAppendRecord(reader), KCE_TABLE_READ_ONLY);
    ASSERT_EQ(KdsAppendRecord(writer), 0u);
    Set(writer, "A", "ok");
    ASSERT_EQ(KdsWriteRecord(writer), 0u) << LastErrorText();
    ASSERT_EQ(KdsGotoTop(reader), 0u);
    EXPECT_EQ(Field(reader, "A"), "ok");
    ASSERT_EQ(KdsCloseTable(reader), 0u);
    ASSERT_EQ(KdsCloseTable(writer), 0u);
}

TEST_F(DbfApi, LogicalSpellingsOfOtherWritersRead) {
    KDSHANDLE t = CreateDbf("l.dbf", KCE_NTX, "L,logical");
    for (auto [raw, text] :
         {std::pair{"y", "T"}, std::pair{"N", "F"}, std::pair{"t", "T"}, std::pair{"?", ""}}) {
        SCOPED_TRACE(raw);
        ASSERT_EQ(KdsAppendRecord(t), 0u);
        ASSERT_EQ(KdsSetFieldRaw(t, U("L"), U(raw), 1), 0u) << LastErrorText();
        ASSERT_EQ(KdsWriteRecord(t), 0u);
        EXPECT_EQ(Field(t, "L"), text);
    }
    EXPECT_EQ(KdsAppendRecord(t), 0u);
    EXPECT_EQ(KdsSetFieldRaw(t, U("L"), U("x"), 1), KCE_INVALID_FIELD_VALUE);
    ASSERT_EQ(KdsCloseTable(t), 0u);
}
