#include <sqlite3.h>

#include <fstream>
#include <iterator>

#include "engine_test_util.h"
#include "tests/support/files.h"

using namespace kcetest;

namespace {

using testsupport::ReadFile;

void Sql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

class TableTest : public EngineTest {};

TEST_F(TableTest, CreateReportsTheLayoutOfEveryType) {
    KDSHANDLE t = Create("ALLTYPES",
                         "L,logical;N,numeric,8,2;D,date;C,char,10;M,memo;B,binary;I,image;"
                         "V,varchar;CD,compactdate;DB,double;IN,integer;SI,shortint;TM,time;"
                         "TS,timestamp;AI,autoinc;R,raw,5;MO,money");
    ASSERT_NE(t, 0u);
    struct Expect {
        const char* name;
        UNSIGNED16 type;
        UNSIGNED32 length;
        UNSIGNED32 offset;
    };
    const Expect expected[] = {{"L", 1, 1, 0},    {"N", 2, 8, 1},    {"D", 3, 4, 9},
                               {"C", 4, 10, 13},  {"M", 5, 4, 23},   {"B", 6, 4, 27},
                               {"I", 7, 4, 31},   {"V", 8, 4, 35},   {"CD", 9, 3, 39},
                               {"DB", 10, 8, 42}, {"IN", 11, 4, 50}, {"SI", 12, 2, 54},
                               {"TM", 13, 4, 56}, {"TS", 14, 8, 60}, {"AI", 15, 4, 68},
                               {"R", 16, 5, 72},  {"MO", 17, 8, 77}};
    UNSIGNED16 n = 0;
    ASSERT_EQ(KdsGetNumFields(t, &n), 0u);
    ASSERT_EQ(n, 17);
    for (UNSIGNED16 i = 1; i <= n; ++i) {
        const Expect& e = expected[i - 1];
        UNSIGNED8 name[129];
        UNSIGNED16 len = sizeof name;
        ASSERT_EQ(KdsGetFieldName(t, i, name, &len), 0u);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(name), len), e.name);
        UNSIGNED16 type = 0, decimals = 9;
        UNSIGNED32 length = 0, offset = 0;
        EXPECT_EQ(KdsGetFieldType(t, KCE_FIELD_ORDINAL(i), &type), 0u);
        EXPECT_EQ(KdsGetFieldLength(t, KCE_FIELD_ORDINAL(i), &length), 0u);
        EXPECT_EQ(KdsGetFieldOffset(t, U(std::string(e.name)), &offset), 0u);
        EXPECT_EQ(KdsGetFieldDecimals(t, KCE_FIELD_ORDINAL(i), &decimals), 0u);
        EXPECT_EQ(type, e.type) << e.name;
        EXPECT_EQ(length, e.length) << e.name;
        EXPECT_EQ(offset, e.offset) << e.name;
        EXPECT_EQ(decimals, i == 2 ? 2 : 0) << e.name;
    }
    UNSIGNED32 recordLength = 0, bookmark = 0, options = 0;
    UNSIGNED16 tableType = 0;
    EXPECT_EQ(KdsGetRecordLength(t, &recordLength), 0u);
    EXPECT_EQ(recordLength, 85u);
    EXPECT_EQ(KdsGetBookmarkLength(t, &bookmark), 0u);
    EXPECT_EQ(bookmark, 4u);
    EXPECT_EQ(KdsGetTableType(t, &tableType), 0u);
    EXPECT_EQ(tableType, KCE_KDT);
    EXPECT_EQ(KdsGetTableOpenOptions(t, &options), 0u);
    EXPECT_EQ(options, UNSIGNED32(KCE_OPEN_EXCLUSIVE));
    // Field names are found ignoring case; an unknown one is named in the error.
    UNSIGNED16 type = 0;
    EXPECT_EQ(KdsGetFieldType(t, U("si"), &type), 0u);
    EXPECT_EQ(type, 12);
    EXPECT_EQ(KdsGetFieldType(t, U("NOPE"), &type), KCE_FIELD_NOT_FOUND);
    EXPECT_NE(LastErrorText().find("'NOPE'"), std::string::npos);
    EXPECT_EQ(KdsGetFieldType(t, KCE_FIELD_ORDINAL(18), &type), KCE_FIELD_NOT_FOUND);
    EXPECT_EQ(KdsCloseTable(t), 0u);
    EXPECT_EQ(KdsCloseTable(t), KCE_INVALID_HANDLE);
}

TEST_F(TableTest, BadDefinitionsAreRefusedAndLeaveNoFile) {
    struct Case {
        std::string fields;
        KCESTATUS status;
        const char* mentions;
    } cases[] = {
        {"NAME,char,10;" + std::string(129, 'X') + ",integer", KCE_FIELD_NAME_TOO_LONG, "129"},
        {"A,widget", KCE_UNKNOWN_FIELD_TYPE, "'widget'"},
        {"A,99", KCE_UNKNOWN_FIELD_TYPE, "'99'"},
        {"A,char", KCE_INVALID_FIELD_LENGTH, "'A'"},
        {"A,numeric,4,3", KCE_INVALID_FIELD_LENGTH, "'A'"},
        {"A,integer;a,char,3", KCE_DUPLICATE_FIELD_NAME, "'a'"},
        {"", KCE_NO_FIELDS, ""},
        {"kdt_recno,integer", KCE_INVALID_ARGUMENT, "reserved"},
        {"9A,integer", KCE_INVALID_ARGUMENT, "'9A'"},
        {"A-B,integer", KCE_INVALID_ARGUMENT, "'A-B'"},
        {"A\tB,integer", KCE_INVALID_ARGUMENT, "'A\tB'"},
        {"A,char,40000;B,char,40000", KCE_RECORD_TOO_LONG, "'B'"},
    };
    for (const Case& c : cases) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsCreateTable(conn_, U("BAD"), KCE_KDT, KCE_ANSI, U(c.fields), 0, &t), c.status)
            << c.fields;
        EXPECT_NE(LastErrorText().find(c.mentions), std::string::npos) << LastErrorText();
        EXPECT_FALSE(std::filesystem::exists(Path("BAD.kdt")));
    }
    ASSERT_NE(Create("T", "A,integer"), 0u);
    KDSHANDLE again = 0;
    EXPECT_EQ(KdsCreateTable(conn_, U("T"), KCE_KDT, KCE_ANSI, U("B,integer"), 0, &again),
              KCE_TABLE_EXISTS);
}

TEST_F(TableTest, FilesThatAreNotTablesGiveTheirOwnStatusAndStayUnchanged) {
    std::ofstream(Path("TEXT.kdt")) << "just some text, not a table at all\n";
    Sql(Path("OTHER.kdt"), "CREATE TABLE t(x); INSERT INTO t VALUES (1);");
    KDSHANDLE t = Create("DAMAGED", "A,integer;B,char,4");
    KdsCloseTable(t);
    Sql(Path("DAMAGED.kdt"), "UPDATE kdt_fields SET type = 42 WHERE ordinal = 2");
    t = Create("NOFIELDS", "A,integer");
    KdsCloseTable(t);
    Sql(Path("NOFIELDS.kdt"), "DROP TABLE kdt_fields");

    t = Create("TRUNCATED", "A,integer");
    KdsCloseTable(t);
    std::filesystem::resize_file(Path("TRUNCATED.kdt"), 100);
    std::filesystem::create_directory(Path("FOLDER.kdt"));

    struct Case {
        const char* name;
        KCESTATUS status;
        const char* mentions;
    } cases[] = {
        {"MISSING", KCE_FILE_NOT_FOUND, "MISSING.kdt"},
        {"FOLDER", KCE_NOT_A_FILE, "is not a regular file"},
        {"TRUNCATED", KCE_DAMAGED_FILE, "TRUNCATED.kdt"},
        {"TEXT", KCE_WRONG_FILE_FORMAT, "no SQLite header"},
        {"OTHER", KCE_WRONG_FILE_FORMAT, "not a native table"},
        {"DAMAGED", KCE_DAMAGED_FILE, "type 42"},
        {"NOFIELDS", KCE_DAMAGED_FILE, "kdt_fields"},
    };
    for (const Case& c : cases) {
        std::string file = Path(std::string(c.name) + ".kdt");
        std::string before = std::filesystem::is_regular_file(file) ? ReadFile(file) : "";
        KDSHANDLE h = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U(c.name), nullptr, KCE_KDT, KCE_ANSI,
                               KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &h),
                  c.status)
            << c.name;
        EXPECT_NE(LastErrorText().find(c.mentions), std::string::npos) << LastErrorText();
        if (!before.empty()) {
            EXPECT_EQ(ReadFile(file), before) << c.name;
        }
    }
}

// Record numbers are 32-bit: a file whose numbers reach past them (a damaged or foreign file) or
// that has used the last one refuses an append with a status instead of giving out record 0.
TEST_F(TableTest, AppendsPastTheLastRecordNumberAreRefused) {
    struct Case {
        const char* name;
        const char* sql;
        KCESTATUS status;
        const char* mentions;
        UNSIGNED32 records;
    } cases[] = {
        {"FLOOR", "INSERT OR REPLACE INTO kdt_table(key, value) VALUES ('recno_floor', 4294967295)",
         KCE_INVALID_RECORD, "every record number is taken", 0},
        {"LASTROW", "INSERT INTO records(kdt_recno, A) VALUES (4294967295, 1)", KCE_INVALID_RECORD,
         "every record number is taken", 1},
        {"PASTROW", "INSERT INTO records(kdt_recno, A) VALUES (4294967296, 1)", KCE_DAMAGED_FILE,
         "record number 4294967296", 1},
    };
    for (const Case& c : cases) {
        KdsCloseTable(Create(c.name, "A,integer"));
        Sql(Path(std::string(c.name) + ".kdt"), c.sql);
        KDSHANDLE t = Open(c.name);
        EXPECT_EQ(KdsAppendRecord(t), c.status) << c.name;
        EXPECT_NE(LastErrorText().find(c.mentions), std::string::npos) << LastErrorText();
        // Nothing is pending, and nothing reached the file.
        EXPECT_EQ(KdsWriteRecord(t), KCE_SUCCESS) << c.name;
        EXPECT_EQ(Count(t), c.records) << c.name;
        KdsCloseTable(t);
    }
}

TEST_F(TableTest, NamesResolveInWindowsFormAndIgnoringCase) {
    KdsCloseTable(Create("Employee", "A,integer"));
    KDSHANDLE t = 0;
    std::string windows = dir_ + "\\EMPLOYEE";
    ASSERT_EQ(KdsOpenTable(conn_, U(windows), nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                           KCE_CHECK_RIGHTS, 0, &t),
              0u)
        << LastErrorText();
    UNSIGNED8 buf[300];
    UNSIGNED16 len = sizeof buf;
    ASSERT_EQ(KdsGetTableFilename(t, buf, &len), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), Path("Employee.kdt"));
    KdsCloseTable(t);
    // Table type 0 takes the kind from the extension; the xBase kind is not built in yet.
    EXPECT_EQ(KdsOpenTable(conn_, U("employee.KDT"), nullptr, KCE_DEFAULT_TABLE, KCE_ANSI,
                           KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, 0, &t),
              0u);
    KdsCloseTable(t);
}

TEST_F(TableTest, OpenArgumentsAreChecked) {
    KdsCloseTable(Create("T", "A,integer"));
    struct Case {
        const char* alias;
        UNSIGNED16 tableType, charType, lockType;
        UNSIGNED32 options;
        KCESTATUS status;
    } cases[] = {
        {nullptr, KCE_KDT, KCE_OEM, KCE_COMPATIBLE_LOCKING, KCE_OPEN_READ_ONLY, KCE_SUCCESS},
        {"", KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING, 0, KCE_SUCCESS},
        {"EMP", KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING, 0, KCE_NOT_SUPPORTED},
        {nullptr, 7, KCE_ANSI, KCE_PROPRIETARY_LOCKING, 0, KCE_INVALID_ARGUMENT},
        {nullptr, KCE_KDT, 3, KCE_PROPRIETARY_LOCKING, 0, KCE_INVALID_ARGUMENT},
        {nullptr, KCE_KDT, KCE_ANSI, 2, 0, KCE_INVALID_ARGUMENT},
        {nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING, 4, KCE_INVALID_ARGUMENT},
    };
    for (const Case& c : cases) {
        KDSHANDLE t = 0;
        EXPECT_EQ(KdsOpenTable(conn_, U("T"), c.alias ? U(c.alias) : nullptr, c.tableType,
                               c.charType, c.lockType, KCE_CHECK_RIGHTS, c.options, &t),
                  c.status)
            << c.tableType << " " << c.charType << " " << c.lockType << " " << c.options;
        if (t) {
            UNSIGNED32 options = 9;
            EXPECT_EQ(KdsGetTableOpenOptions(t, &options), 0u);
            EXPECT_EQ(options, c.options);
            KdsCloseTable(t);
        }
    }
    UNSIGNED32 count = 0;
    KDSHANDLE t = Open("T");
    EXPECT_EQ(KdsGetRecordCount(t, 0, &count), KCE_INVALID_ARGUMENT);
    EXPECT_EQ(KdsGetRecordCount(t, KCE_IGNORE_FILTERS | KCE_REFRESHCOUNT, &count), 0u);
    UNSIGNED16 ordinal = 0;
    EXPECT_EQ(KdsGetFieldNum(t, U("a"), &ordinal), 0u);
    EXPECT_EQ(ordinal, 1);
}

TEST_F(TableTest, ExclusiveAndSharedOpensInOneProcess) {
    KDSHANDLE creator = Create("T", "A,integer");
    KDSHANDLE t = 0;
    EXPECT_EQ(KdsOpenTable(conn_, U("T"), nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                           KCE_CHECK_RIGHTS, 0, &t),
              KCE_TABLE_IN_USE);
    KdsCloseTable(creator);
    KDSHANDLE a = Open("T"), b = Open("T");
    EXPECT_EQ(KdsOpenTable(conn_, U("T"), nullptr, KCE_KDT, KCE_ANSI, KCE_PROPRIETARY_LOCKING,
                           KCE_CHECK_RIGHTS, KCE_OPEN_EXCLUSIVE, &t),
              KCE_TABLE_IN_USE);
    EXPECT_NE(LastErrorText().find("cannot be opened exclusively"), std::string::npos);
    // Handles share the table: a write through one is seen by the other.
    ASSERT_EQ(KdsAppendRecord(a), 0u);
    Set(a, "A", "7");
    ASSERT_EQ(KdsWriteRecord(a), 0u);
    ASSERT_EQ(KdsGotoTop(b), 0u);
    EXPECT_EQ(Field(b, "A"), "7");
    // A read-only handle reads but does not write; a shared table is not zapped.
    KDSHANDLE ro = Open("T", KCE_OPEN_READ_ONLY);
    EXPECT_EQ(KdsAppendRecord(ro), KCE_TABLE_READ_ONLY);
    EXPECT_EQ(KdsZapTable(a), KCE_NOT_EXCLUSIVE);
    EXPECT_EQ(Count(a), 1u);
    // Disconnecting closes every table of the connection.
    ASSERT_EQ(KdsDisconnect(conn_), 0u);
    UNSIGNED16 n = 0;
    EXPECT_EQ(KdsGetNumFields(a, &n), KCE_INVALID_HANDLE);
    EXPECT_EQ(KdsDisconnect(conn_), KCE_NOT_CONNECTED);
    ASSERT_EQ(KdsConnect(U(dir_), &conn_), 0u);
    t = Open("T", KCE_OPEN_EXCLUSIVE);
    EXPECT_EQ(KdsZapTable(t), 0u);
    EXPECT_EQ(Count(t), 0u);
}

}  // namespace
