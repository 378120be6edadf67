// kdstool sql: queries as JSON lines, changes as a count, on native and DBF tables; what an UPDATE
// leaves in a .cdx table as kdstool check, python3-dbfread and Perl's XBase read it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "run_command.h"

namespace {

using tools_test::Outcome;

class KdstoolSql : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstool-sql-XXXXXX";
        dir_ = ::mkdtemp(templ);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    Outcome Run(const std::string& command) {
        std::string errFile = dir_ + "/stderr.txt";
        return tools_test::RunCommand("cd " + dir_ + " && " + command, errFile);
    }
    Outcome Kdstool(const std::string& args) { return Run(std::string(KDSTOOL) + " " + args); }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    // EMP (a .cdx table with an index on CODE) and DEPT (native).
    void MakeTables() {
        ASSERT_EQ(Kdstool("create emp.dbf --type cdx CODE:char:6 NAME:char:20 BORN:date "
                          "PAY:numeric:9:2 DEPT:integer --index CODE=CODE")
                      .status,
                  0);
        Write("emp.jsonl",
              "{\"CODE\": \"E1\", \"NAME\": \"Zoë\", \"BORN\": \"1970-01-01\", \"PAY\": 10.5, "
              "\"DEPT\": 1}\n"
              "{\"CODE\": \"E2\", \"NAME\": \"Jones\", \"BORN\": null, \"PAY\": 20, \"DEPT\": 2}\n"
              "{\"CODE\": \"E3\", \"NAME\": \"Smith\", \"BORN\": \"1999-10-10\", \"PAY\": 30, "
              "\"DEPT\": 1}\n");
        ASSERT_EQ(Kdstool("import emp.dbf emp.jsonl").status, 0);
        ASSERT_EQ(Kdstool("create dept.kdt ID:integer TITLE:char:10").status, 0);
        Write("dept.jsonl", "{\"ID\": 1, \"TITLE\": \"Sales\"}\n{\"ID\": 2, \"TITLE\": \"IT\"}\n");
        ASSERT_EQ(Kdstool("import dept.kdt dept.jsonl").status, 0);
    }

    std::string dir_;
};

TEST_F(KdstoolSql, QueriesPrintJsonLinesAcrossTableKinds) {
    MakeTables();
    Outcome q = Kdstool(
        "sql . \"SELECT e.NAME, e.BORN, d.TITLE, e.PAY FROM emp e JOIN dept d ON d.ID = e.DEPT "
        "WHERE e.PAY >= :MIN ORDER BY e.CODE\" --param MIN=15");
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_EQ(q.out,
              "{\"NAME\": \"Jones\", \"BORN\": null, \"TITLE\": \"IT\", \"PAY\": 20.00}\n"
              "{\"NAME\": \"Smith\", \"BORN\": \"1999-10-10\", \"TITLE\": \"Sales\", \"PAY\": "
              "30.00}\n");
    q = Kdstool(
        "sql . \"SELECT d.TITLE, COUNT(*) AS N, AVG(PAY) AS MEAN FROM emp JOIN dept d ON "
        "d.ID = DEPT GROUP BY d.TITLE HAVING N > 1\"");
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_EQ(q.out, "{\"TITLE\": \"Sales\", \"N\": 2, \"MEAN\": 20.25}\n");
    // Text in the statement and its parameters is UTF-8 on the command line.
    q = Kdstool("sql . \"SELECT CODE FROM emp WHERE NAME = :N\" --param N=Zoë");
    EXPECT_EQ(q.out, "{\"CODE\": \"E1\"}\n") << q.err;
}

TEST_F(KdstoolSql, AnUpdateLeavesACdxTableOtherReadersRead) {
    MakeTables();
    Outcome u = Kdstool(
        "sql . \"UPDATE emp SET NAME = 'Smyth', CODE = 'E0', PAY = PAY + 1 "
        "WHERE CODE = :C\" --param C=E3");
    ASSERT_EQ(u.status, 0) << u.err;
    EXPECT_EQ(u.out, "{\"rows_affected\": 1}\n");
    Outcome check = Kdstool("check emp.dbf");
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    Write("read.py",
          "from dbfread import DBF\n"
          "for r in DBF('emp.dbf', encoding='cp1252'):\n"
          "    print(r['CODE'], r['NAME'], r['PAY'])\n");
    Outcome py = Run("/usr/bin/python3 read.py");
    EXPECT_EQ(py.out, "E1 Zoë 10.5\nE2 Jones 20.0\nE0 Smyth 31.0\n") << py.err;
    if (Run("perl -MXBase -e 'print qq(ok)'").out == "ok") {
        Outcome pl = Run(
            "perl -MXBase -e '$t = new XBase q(emp.dbf) or die; "
            "for (0 .. $t->last_record) { @r = $t->get_record($_); print qq($r[1] $r[4]\\n) }'");
        EXPECT_EQ(pl.out, "E1 10.5\nE2 20\nE0 31\n") << pl.err;
    }
    // The index follows: its order puts E0 first.
    Outcome e = Kdstool("export emp.dbf --index CODE");
    EXPECT_EQ(e.out.substr(0, 30), "{\"_recno\": 3, \"CODE\": \"E0\", \"N") << e.out;
}

TEST_F(KdstoolSql, FailuresStopWithTheReason) {
    MakeTables();
    struct Case {
        const char* args;
        const char* message;
    } cases[] = {
        {"sql . \"SELECT * FROM nowhere\"", "no such table: nowhere"},
        {"sql . \"DELETE FROM emp\" --param X", "--param takes NAME=VALUE"},
        {"sql . \"SELECT :A\" --param B=1", "no parameter 'B'"},
        {"sql .", "sql needs a folder and a statement"},
    };
    for (const Case& c : cases) {
        Outcome o = Kdstool(c.args);
        EXPECT_EQ(o.status, 1) << c.args;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << c.args << ": " << o.err;
    }
    EXPECT_EQ(Kdstool("sql . \"SELECT COUNT(*) AS N FROM emp\"").out, "{\"N\": 3}\n");
}

}  // namespace
