// SQL statements over every table kind: queries as static result sets, changes through the
// engine's record calls (indexes kept, locks and transactions honoured), parameters, errors.
#include <sqlite3.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/engine/engine_test_util.h"

namespace {

using namespace kcetest;

struct Kind {
    const char* name;
    UNSIGNED16 type;
};

class SqlTest : public EngineTest {
  protected:
    void TearDown() override {
        if (stmt_) KdsCloseSQLStatement(stmt_);
        EngineTest::TearDown();
    }
    KDSHANDLE Stmt() {
        if (!stmt_) {
            EXPECT_EQ(KdsCreateSQLStatement(conn_, &stmt_), 0u) << LastErrorText();
        }
        return stmt_;
    }
    // Runs a statement; answers the result cursor (0 for none).
    KDSHANDLE Run(const std::string& sql, KCESTATUS expected = 0) {
        KDSHANDLE cursor = 0;
        EXPECT_EQ(KdsExecuteSQLDirect(Stmt(), U(sql), &cursor), expected)
            << sql << ": " << LastErrorText();
        return cursor;
    }
    UNSIGNED32 Affected() {
        UNSIGNED32 n = 0;
        EXPECT_EQ(KdsGetRecordCount(Stmt(), 2, &n), 0u) << LastErrorText();
        return n;
    }
    // Every record of a cursor: fields separated by '|', records by ' '. Closes the cursor.
    static std::string Rows(KDSHANDLE cursor) {
        std::string out;
        UNSIGNED16 fields = 0;
        KdsGetNumFields(cursor, &fields);
        for (KdsGotoTop(cursor); !Eof(cursor); KdsSkip(cursor, 1)) {
            if (!out.empty()) out += " ";
            for (UNSIGNED16 i = 1; i <= fields; ++i) {
                if (i > 1) out += "|";
                out += Field(cursor, reinterpret_cast<const char*>(KCE_FIELD_ORDINAL(i)));
            }
        }
        KdsCloseTable(cursor);
        return out;
    }
    std::string Query(const std::string& sql) { return Rows(Run(sql)); }

    // EMP and PAY of one kind, with an index on EMP's code.
    void MakeTables(const Kind& kind) {
        std::string ext = kind.type == KCE_KDT ? ".kdt" : ".dbf";
        KDSHANDLE emp = 0, pay = 0, index = 0;
        ASSERT_EQ(KdsCreateTable(conn_, U("EMP" + ext), kind.type, KCE_ANSI,
                                 U("CODE,char,6;NAME,char,20;BORN,date;ACTIVE,logical"), 0, &emp),
                  0u)
            << LastErrorText();
        std::string file = kind.type == KCE_NTX ? "CODE.ntx" : "";
        // An NTX table's index files are those its list names.
        if (kind.type == KCE_NTX) std::ofstream(Path("EMP.ntxlist")) << "CODE.ntx\n";
        ASSERT_EQ(KdsCreateIndex(emp, U(file), U("CODE"), U("CODE"), nullptr, 0, &index), 0u)
            << LastErrorText();
        ASSERT_EQ(KdsCreateTable(conn_, U("PAY" + ext), kind.type, KCE_ANSI,
                                 U("CODE,char,6;AMOUNT,numeric,10,2"), 0, &pay),
                  0u)
            << LastErrorText();
        const char* emps[][4] = {{"E1", "Smith", "19700101", "T"},
                                 {"E2", "Jones", "19851231", "F"},
                                 {"E3", "Smithers", "19991010", "T"}};
        for (auto& e : emps) {
            ASSERT_EQ(KdsAppendRecord(emp), 0u);
            Set(emp, "CODE", e[0]);
            Set(emp, "NAME", e[1]);
            Set(emp, "BORN", e[2]);
            Set(emp, "ACTIVE", e[3]);
            ASSERT_EQ(KdsWriteRecord(emp), 0u) << LastErrorText();
        }
        const char* pays[][2] = {{"E1", "100.50"}, {"E1", "200"}, {"E2", "50.25"}, {"E3", "10"}};
        for (auto& p : pays) {
            ASSERT_EQ(KdsAppendRecord(pay), 0u);
            Set(pay, "CODE", p[0]);
            Set(pay, "AMOUNT", p[1]);
            ASSERT_EQ(KdsWriteRecord(pay), 0u) << LastErrorText();
        }
        KdsCloseTable(emp);
        KdsCloseTable(pay);
    }

    KDSHANDLE stmt_ = 0;
};

class SqlKindTest : public SqlTest, public ::testing::WithParamInterface<Kind> {
  protected:
    void SetUp() override {
        SqlTest::SetUp();
        MakeTables(GetParam());
        ASSERT_EQ(KdsCreateSQLStatement(conn_, &stmt_), 0u);
        ASSERT_EQ(KdsStmtSetTableType(stmt_, GetParam().type), 0u) << LastErrorText();
    }
    KDSHANDLE OpenEmp(UNSIGNED32 options = 0) {
        KDSHANDLE t = 0;
        std::string name = GetParam().type == KCE_KDT ? "EMP.kdt" : "EMP.dbf";
        EXPECT_EQ(KdsOpenTable(conn_, U(name), nullptr, GetParam().type, KCE_ANSI,
                               KCE_PROPRIETARY_LOCKING, KCE_CHECK_RIGHTS, options, &t),
                  0u)
            << LastErrorText();
        if (GetParam().type == KCE_NTX) {
            UNSIGNED16 count = 0;
            EXPECT_EQ(KdsOpenIndex(t, U("CODE.ntx"), nullptr, &count), 0u) << LastErrorText();
        }
        return t;
    }
    // Every file of the folder with its bytes.
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            std::string name = e.path().filename();
            if (name.find("-wal") != std::string::npos || name.find("-shm") != std::string::npos ||
                name.find("journal") != std::string::npos)
                continue;
            std::ifstream in(e.path(), std::ios::binary);
            std::stringstream bytes;
            bytes << in.rdbuf();
            files[name] = bytes.str();
        }
        return files;
    }
};

TEST_P(SqlKindTest, QueriesJoinFilterSortGroupAndMatch) {
    EXPECT_EQ(Query("SELECT CODE, NAME FROM EMP WHERE NAME LIKE 'smith%' ORDER BY NAME DESC"),
              "E3|Smithers E1|Smith");
    EXPECT_EQ(Query("SELECT e.NAME, SUM(p.AMOUNT) AS TOTAL, COUNT(*) AS N FROM EMP e "
                    "JOIN PAY p ON p.CODE = e.CODE GROUP BY e.NAME ORDER BY TOTAL"),
              "Smithers|10|1 Jones|50.25|1 Smith|300.5|2");
    // Dates and logicals as SQL sees them; a field taken whole keeps its type.
    KDSHANDLE c = Run("SELECT BORN, ACTIVE FROM EMP WHERE BORN > '1980-01-01' AND ACTIVE");
    UNSIGNED16 type = 0;
    KdsGetFieldType(c, U("BORN"), &type);
    EXPECT_EQ(type, KCE_DATE);
    KdsGotoTop(c);
    char born[16];
    UNSIGNED32 len = sizeof born;
    ASSERT_EQ(KdsGetField(c, U("BORN"), reinterpret_cast<UNSIGNED8*>(born), &len, 0), 0u);
    EXPECT_EQ(Rows(c), std::string(born, len) + "|T");
    // Equalities served by a column's lookup answer as a scan does (a comparison inside an
    // expression is no constraint SQLite hands the table), affinity included.
    struct Same {
        const char* looked;
        const char* scanned;
    } same[] = {
        {"SELECT COUNT(*) FROM PAY WHERE AMOUNT = '200'",
         "SELECT COUNT(*) FROM PAY WHERE (AMOUNT = '200') = 1"},
        {"SELECT COUNT(*) FROM PAY WHERE AMOUNT = 50.25",
         "SELECT COUNT(*) FROM PAY WHERE (AMOUNT = 50.25) = 1"},
        {"SELECT NAME FROM EMP WHERE BORN = '1985-12-31'",
         "SELECT NAME FROM EMP WHERE (BORN = '1985-12-31') = 1"},
        {"SELECT NAME FROM EMP WHERE ACTIVE = 1 ORDER BY 1",
         "SELECT NAME FROM EMP WHERE (ACTIVE = 1) = 1 ORDER BY 1"},
        {"SELECT CODE FROM EMP WHERE rowid = 2", "SELECT CODE FROM EMP WHERE CODE = 'E2'"},
    };
    for (const Same& c : same) EXPECT_EQ(Query(c.looked), Query(c.scanned)) << c.looked;
    EXPECT_EQ(Query("SELECT COUNT(*) FROM PAY WHERE AMOUNT = '200'"), "1");
    EXPECT_EQ(Query("SELECT MAX(BORN) AS LAST, MIN(CODE) FROM EMP"),
              Query("SELECT BORN FROM EMP WHERE CODE = 'E3'") + "|E1");
}

TEST_P(SqlKindTest, ResultSetIsStaticAndReadOnly) {
    KDSHANDLE c = Run("SELECT * FROM EMP");
    ASSERT_NE(c, 0u);
    UNSIGNED32 options = 0, count = 0;
    EXPECT_EQ(KdsGetTableOpenOptions(c, &options), 0u);
    EXPECT_EQ(options & KCE_OPEN_READ_ONLY, UNSIGNED32(KCE_OPEN_READ_ONLY));
    EXPECT_EQ(KdsGetRecordCount(c, KCE_IGNORE_FILTERS, &count), 0u);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(KdsLockRecord(c, 1), UNSIGNED32(KCE_STATIC_CURSOR));
    EXPECT_EQ(KdsAppendRecord(c), UNSIGNED32(KCE_STATIC_CURSOR));
    // A query has no count of changed rows.
    EXPECT_EQ(KdsGetRecordCount(stmt_, 2, &count), UNSIGNED32(KCE_NO_ROW_COUNT));
    // The cursor outlives its statement; the tables are not held open by it.
    KdsCloseSQLStatement(stmt_);
    stmt_ = 0;
    KDSHANDLE t = OpenEmp(KCE_OPEN_EXCLUSIVE);
    EXPECT_NE(t, 0u);
    KdsCloseTable(t);
    EXPECT_EQ(Rows(c).substr(0, 2), "E1");
}

TEST_P(SqlKindTest, ChangesGoThroughTheRecordCallsAndKeepIndexes) {
    Run("UPDATE EMP SET NAME = 'Smyth', CODE = 'E0' WHERE CODE = 'E1'");
    EXPECT_EQ(Affected(), 1u);
    Run("INSERT INTO EMP (CODE, NAME, BORN) VALUES ('E9', 'New', '2001-02-03')");
    EXPECT_EQ(Affected(), 1u);
    Run("DELETE FROM EMP WHERE NAME = 'Jones'");
    EXPECT_EQ(Affected(), 1u);
    KdsShowDeleted(0);
    KDSHANDLE t = OpenEmp();
    EXPECT_EQ(KdsCheckIndexes(t), 0u) << LastErrorText();
    KDSHANDLE index = 0;
    ASSERT_EQ(KdsGetIndexHandle(t, U("CODE"), &index), 0u) << LastErrorText();
    std::string codes;
    for (KdsGotoTop(index); !Eof(index); KdsSkip(index, 1)) codes += Field(t, "CODE") + " ";
    EXPECT_EQ(codes, "E0 E3 E9 ");
    KdsCloseTable(t);
    KdsShowDeleted(1);
    EXPECT_EQ(Query("SELECT NAME, BORN FROM EMP WHERE CODE IN ('E0', 'E9') ORDER BY CODE"),
              "Smyth|" + Query("SELECT BORN FROM EMP WHERE CODE = 'E0'") + " New|" +
                  Query("SELECT BORN FROM EMP WHERE CODE = 'E9'"));
}

TEST_P(SqlKindTest, LocksAndExclusiveOpensRefuseAndTheStatementChangesNothing) {
    KDSHANDLE t = OpenEmp();
    ASSERT_EQ(KdsLockRecord(t, 2), 0u) << LastErrorText();
    auto before = Files();
    Run("UPDATE EMP SET NAME = 'x'", KCE_RECORD_LOCKED);
    EXPECT_NE(LastErrorText().find("locked"), std::string::npos) << LastErrorText();
    EXPECT_EQ(Files(), before);  // record 1 was written, then given back
    KdsCloseTable(t);
    t = OpenEmp(KCE_OPEN_EXCLUSIVE);
    Run("SELECT * FROM EMP", KCE_TABLE_IN_USE);
    KdsCloseTable(t);
    EXPECT_EQ(Query("SELECT COUNT(*) FROM EMP WHERE NAME = 'x'"), "0");
}

TEST_P(SqlKindTest, RollbackUndoesAStatementAndCommitKeepsIt) {
    auto before = Files();
    ASSERT_EQ(KdsBeginTransaction(conn_), 0u) << LastErrorText();
    Run("UPDATE EMP SET NAME = NAME || '!'");
    Run("INSERT INTO PAY VALUES ('E7', 1)");
    Run("DELETE FROM PAY WHERE CODE = 'E2'");
    EXPECT_EQ(Query("SELECT NAME FROM EMP WHERE CODE = 'E2'"), "Jones!");
    ASSERT_EQ(KdsRollbackTransaction(conn_), 0u) << LastErrorText();
    EXPECT_EQ(Files(), before);
    ASSERT_EQ(KdsBeginTransaction(conn_), 0u);
    Run("UPDATE EMP SET NAME = 'Kept' WHERE CODE = 'E2'");
    ASSERT_EQ(KdsCommitTransaction(conn_), 0u) << LastErrorText();
    EXPECT_EQ(Query("SELECT NAME FROM EMP WHERE CODE = 'E2'"), "Kept");
}

INSTANTIATE_TEST_SUITE_P(EveryKind, SqlKindTest,
                         ::testing::Values(Kind{"kdt", KCE_KDT}, Kind{"cdx", KCE_CDX},
                                           Kind{"ntx", KCE_NTX}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SqlParams, NamesInOrderOfAppearance) {
    struct Case {
        const char* sql;
        KCESTATUS status;
        const char* names;
    } cases[] = {
        {"SELECT * FROM T WHERE A = :X AND B = :Y", 0, "X;Y"},
        {"SELECT * FROM T WHERE ID = :ID OR PARENT = :ID", 0, "ID;ID"},
        {"SELECT 'a:b', \"c:d\" FROM T WHERE A = :P", 0, "P"},
        {"SELECT 'it''s :no' FROM T WHERE A=:P)", 0, "P"},
        {"SELECT A::B, :\"my name\" FROM T WHERE C = ?", 0, "my name;?"},
        {"SELECT :A,:B;", 0, "A;B"},
        {"SELECT 'open", KCE_SQL_PARAMETER, ""},
        {"SELECT * FROM T WHERE A = : ", KCE_SQL_PARAMETER, ""},
    };
    for (const Case& c : cases) {
        UNSIGNED8 buf[200];
        UNSIGNED16 len = sizeof buf;
        ASSERT_EQ(KdsGetSQLStmtParams(U(c.sql), buf, &len), c.status) << c.sql;
        if (c.status == 0) {
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), c.names);
        }
    }
}

TEST_F(SqlTest, ParametersBindByNumberAndByName) {
    KDSHANDLE t = Create("T",
                         "ID,integer;NAME,char,10;D,date;TM,time;TS,timestamp;OK,logical;"
                         "AMOUNT,double;PIC,binary");
    KdsCloseTable(t);
    KDSHANDLE s = Stmt();
    ASSERT_EQ(KdsPrepareSQL(s, U("INSERT INTO T VALUES (:ID, :NAME, :D, :TM, :TS, :OK, :AMT, "
                                 ":PIC)")),
              0u)
        << LastErrorText();
    ASSERT_EQ(KdsSetString(s, KCE_FIELD_ORDINAL(1), U("7"), 1), 0u) << LastErrorText();
    ASSERT_EQ(KdsSetString(s, U("name"), U("caf\xE9"), 4), 0u);  // Windows-1252 text
    ASSERT_EQ(KdsSetJulian(s, U("D"), 2415019), 0u) << LastErrorText();
    ASSERT_EQ(KdsSetMilliseconds(s, U("TM"), 43200000), 0u) << LastErrorText();
    const UNSIGNED8 stamp[8] = {0xAB, 0x68, 0x25, 0x00,
                                0x80, 0xEE, 0x36, 0x00};  // day 2451627, 1 h
    ASSERT_EQ(KdsSetTimeStampRaw(s, U("TS"), stamp, 8), 0u) << LastErrorText();
    ASSERT_EQ(KdsSetLogical(s, U(":OK"), 1), 0u);
    ASSERT_EQ(KdsSetDouble(s, U("AMT"), 2.5), 0u);
    ASSERT_EQ(KdsSetBinary(s, U("PIC"), KCE_BINARY, 3, 0, U("a\0b"), 3), 0u) << LastErrorText();
    EXPECT_EQ(KdsSetString(s, U("NOPE"), U("x"), 1), UNSIGNED32(KCE_SQL_PARAMETER));
    EXPECT_EQ(KdsSetString(s, KCE_FIELD_ORDINAL(9), U("x"), 1), UNSIGNED32(KCE_SQL_PARAMETER));
    EXPECT_EQ(KdsSetMilliseconds(s, U("TM"), 86400000), UNSIGNED32(KCE_INVALID_FIELD_VALUE));
    KDSHANDLE cursor = 99;
    ASSERT_EQ(KdsExecuteSQL(s, &cursor), 0u) << LastErrorText();
    EXPECT_EQ(cursor, 0u);
    EXPECT_EQ(Affected(), 1u);
    // The date parameters travel as the columns read them.
    EXPECT_EQ(Query("SELECT ID, NAME, D, TM, TS, OK, AMOUNT, length(PIC) FROM T"),
              "7|caf\xE9|12/30/1899|12:00:00.000|03/23/2000 01:00:00.000|T|2.5|3");
    ASSERT_EQ(KdsPrepareSQL(s, U("SELECT ID FROM T WHERE D = :D AND TM = :T AND NAME LIKE :N "
                                 "AND (ID = :I OR ID = :I)")),
              0u);
    ASSERT_EQ(KdsSetJulian(s, U("D"), 2415019), 0u);
    ASSERT_EQ(KdsSetMilliseconds(s, U("T"), 43200000), 0u);
    ASSERT_EQ(KdsSetString(s, U("N"), U("CAF%"), 4), 0u);
    ASSERT_EQ(KdsSetDouble(s, U("I"), 7), 0u);  // both I's at once
    ASSERT_EQ(KdsExecuteSQL(s, &cursor), 0u) << LastErrorText();
    EXPECT_EQ(Rows(cursor), "7");
    // An unset parameter is NULL, and so is one emptied after a value; colons inside literals
    // stay as they are.
    ASSERT_EQ(KdsPrepareSQL(s, U("SELECT 'a:b' || '::' || 'c::d', :Q IS NULL, :R IS NULL FROM T")),
              0u);
    ASSERT_EQ(KdsSetString(s, U("R"), U("x"), 1), 0u);
    ASSERT_EQ(KdsSetEmpty(s, U("R")), 0u) << LastErrorText();
    EXPECT_EQ(KdsSetEmpty(s, U("NOPE")), UNSIGNED32(KCE_SQL_PARAMETER));
    ASSERT_EQ(KdsExecuteSQL(s, &cursor), 0u) << LastErrorText();
    EXPECT_EQ(Rows(cursor), "a:b::c::d|1|1");
    // A handle that is neither a statement nor a table says so.
    EXPECT_EQ(KdsSetEmpty(0xFFFFFF, U("R")), UNSIGNED32(KCE_INVALID_HANDLE));
}

TEST_F(SqlTest, AutoincrementAndRowCounts) {
    KDSHANDLE t = Create("T", "ID,autoinc;NAME,char,10");
    KdsCloseTable(t);
    UNSIGNED32 value = 0, count = 0;
    EXPECT_EQ(KdsGetRecordCount(Stmt(), 2, &count), UNSIGNED32(KCE_NO_ROW_COUNT));
    Run("INSERT INTO T (NAME) VALUES ('a')");
    Run("INSERT INTO T (NAME) SELECT NAME || 'b' FROM T");
    EXPECT_EQ(Affected(), 1u);
    EXPECT_EQ(KdsGetLastAutoinc(Stmt(), &value), 0u);
    EXPECT_EQ(value, 2u);
    Run("UPDATE T SET NAME = 'z' WHERE ID > 5");
    EXPECT_EQ(Affected(), 0u);
    EXPECT_EQ(Query("SELECT ID, NAME FROM T ORDER BY ID"), "1|a 2|ab");
}

// A native table's stored columns reach SQL as they are only where they are already the fields'
// values; rows another program wrote in other forms read as the record calls read them, a value
// no field can hold stops the statement, and two cursors walking one table each see their own
// records.
TEST_F(SqlTest, StoredColumnsOfANativeTableReadAsTheirFields) {
    KdsCloseTable(Create("T", "L,logical;C,char,4;D,date;F,double;I,integer;S,shortint"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path("T.kdt").c_str(), &db), SQLITE_OK);
    const char* insert =
        "INSERT INTO records VALUES"
        " (1, 1, 'ab', '2020-02-29', 2.5, 7, -3),"         // each in its own form
        " (2, 5, 'ab  ', '1999-12-31', 3, 8, 4),"          // logical 5, blanks, a whole double
        " (3, 0, 'caf\xc3\xa9', NULL, NULL, NULL, NULL),"  // UTF-8 beyond ASCII
        " (4, NULL, '', '2000-01-01', 0.25, 2147483647, 32767)";
    ASSERT_EQ(sqlite3_exec(db, insert, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    // quote() shows each value's SQL type: text quoted, a real with its point.
    EXPECT_EQ(Query("SELECT quote(L), quote(C), quote(D), quote(F), quote(I), quote(S) FROM T"),
              "1|'ab'|'2020-02-29'|2.5|7|-3 "
              "1|'ab'|'1999-12-31'|3.0|8|4 "
              "0|'caf\xe9'|NULL|NULL|NULL|NULL "
              "NULL|''|'2000-01-01'|0.25|2147483647|32767");
    EXPECT_EQ(Query("SELECT COUNT(*), quote(SUM(F)), quote(MAX(D)), quote(MIN(C)) FROM T"),
              "4|5.75|'2020-02-29'|''");
    // Every record against every other: the inner walk moves the table's scan under the outer.
    const char* ints[] = {"7", "8", "NULL", "2147483647"};
    std::string pairs;
    for (int a = 0; a < 4; ++a) {
        for (int b = 0; b < 4; ++b) {
            pairs += (pairs.empty() ? "" : " ") + std::to_string(a + 1) + ints[a] +
                     std::to_string(b + 1) + ints[b];
        }
    }
    EXPECT_EQ(Query("SELECT group_concat(p, ' ') FROM (SELECT a.rowid || quote(a.I) || b.rowid "
                    "|| quote(b.I) AS p FROM T a, T b ORDER BY a.rowid, b.rowid)"),
              pairs);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE records SET D = '2021-02-29' WHERE kdt_recno = 2", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    Run("SELECT D FROM T", KCE_DAMAGED_FILE);
    EXPECT_NE(LastErrorText().find("record 2, field 'D': not a date"), std::string::npos)
        << LastErrorText();
}

// Without its password an encrypted table would read as blank rows: a statement refuses it,
// reading or writing, and reads its values once this process has given the password.
TEST_F(SqlTest, EncryptedTableNeedsItsPassword) {
    KDSHANDLE t = Create("T", "NAME,char,10");
    ASSERT_EQ(KdsAppendRecord(t), 0u);
    Set(t, "NAME", "Ann");
    ASSERT_EQ(KdsWriteRecord(t), 0u) << LastErrorText();
    KdsCloseTable(t);
    t = Open("T", KCE_OPEN_EXCLUSIVE);
    ASSERT_EQ(KdsEncryptTable(t, U("secret")), 0u) << LastErrorText();
    KdsCloseTable(t);
    for (const char* sql : {"SELECT NAME FROM T", "SELECT COUNT(*) FROM T",
                            "UPDATE T SET NAME = 'Bob'", "INSERT INTO T (NAME) VALUES ('Cy')"}) {
        Run(sql, KCE_PASSWORD_REQUIRED);
        EXPECT_NE(LastErrorText().find("is encrypted"), std::string::npos) << sql;
    }
    t = Open("T");
    ASSERT_EQ(KdsEnableEncryption(t, U("secret")), 0u) << LastErrorText();
    EXPECT_EQ(Query("SELECT NAME FROM T"), "Ann");
    KdsCloseTable(t);
}

TEST_F(SqlTest, FailuresCarrySqliteTextAndTheirStatus) {
    KdsCloseTable(Create("T", "ID,integer"));
    struct Case {
        const char* sql;
        KCESTATUS status;
        const char* text;
    } cases[] = {
        {"SELEC * FROM T", KCE_SQL_ERROR, "syntax error"},
        {"SELECT * FROM MISSING", KCE_SQL_ERROR, "no such table: MISSING"},
        {"SELECT NOPE FROM T", KCE_SQL_ERROR, "no such column: NOPE"},
        {"DROP TABLE T", KCE_SQL_NOT_ALLOWED, "not authorized"},
        {"ATTACH 'x.db' AS x", KCE_SQL_NOT_ALLOWED, "not authorized"},
        {"SELECT 1; SELECT 2", KCE_SQL_ERROR, "more than one"},
    };
    for (const Case& c : cases) {
        Run(c.sql, c.status);
        EXPECT_NE(LastErrorText().find(c.text), std::string::npos)
            << c.sql << ": " << LastErrorText();
    }
    KDSHANDLE cursor = 0;
    KDSHANDLE s = 0;
    ASSERT_EQ(KdsCreateSQLStatement(conn_, &s), 0u);
    EXPECT_EQ(KdsExecuteSQL(s, &cursor), UNSIGNED32(KCE_SQL_NOT_PREPARED));
    EXPECT_EQ(KdsStmtConstrainUpdates(s, 1), UNSIGNED32(KCE_NOT_SUPPORTED));
    EXPECT_EQ(KdsStmtConstrainUpdates(s, 2), 0u);
    EXPECT_EQ(KdsStmtSetTableType(s, 9), UNSIGNED32(KCE_INVALID_ARGUMENT));
    EXPECT_EQ(KdsCloseSQLStatement(s), 0u);
    EXPECT_EQ(KdsCloseSQLStatement(s), UNSIGNED32(KCE_INVALID_STATEMENT));
    UNSIGNED16 type = 0;
    ASSERT_EQ(KdsCreateSQLStatement(conn_, &s), 0u);
    EXPECT_EQ(KdsGetHandleType(s, &type), 0u);
    EXPECT_EQ(type, KCE_HANDLE_STATEMENT);
    KdsCloseSQLStatement(s);
}

}  // namespace
