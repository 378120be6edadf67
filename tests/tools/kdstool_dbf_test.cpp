// kdstool on DBF tables, and the files it exchanges with python3-dbfread and python3-dbf.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "run_command.h"

namespace {

using tools_test::Outcome;

class KdstoolDbf : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstool-dbf-XXXXXX";
        dir_ = ::mkdtemp(templ);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    Outcome Run(const std::string& command) {
        std::string errFile = dir_ + "/stderr.txt";
        return tools_test::RunCommand("cd " + dir_ + " && " + command, errFile);
    }
    Outcome Kdstool(const std::string& args) { return Run(std::string(KDSTOOL) + " " + args); }
    Outcome Python(const std::string& script) {
        Write("script.py", script);
        return Run("/usr/bin/python3 script.py");
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }

    std::string dir_;
};

TEST_F(KdstoolDbf, DbfreadReadsTheValuesKdstoolImported) {
    ASSERT_EQ(Kdstool("create emp.dbf --type cdx NAME:char:10 PAY:numeric:8:2 HIRED:date "
                      "OK:logical NOTE:memo PIC:image RATE:double LVL:integer BONUS:money "
                      "STAMP:timestamp ID:autoinc")
                  .status,
              0);
    Write("in.jsonl",
          "{\"NAME\": \"Zoë\", \"PAY\": 1234.5, \"HIRED\": \"2001-09-15\", \"OK\": true, "
          "\"NOTE\": \"line 1\\nline 2\", \"PIC\": {\"base64\": \"AAEC/w==\"}, \"RATE\": 0.25, "
          "\"LVL\": -3, \"BONUS\": 99.5, \"STAMP\": \"2000-01-01T12:34:56.789\"}\n"
          "{\"NAME\": \"Del\", \"_deleted\": true}\n");
    Outcome import = Kdstool("import emp.dbf in.jsonl");
    ASSERT_EQ(import.status, 0) << import.err;
    Outcome read = Python(R"(
from dbfread import DBF
for r in DBF('emp.dbf', load=True):
    print('|'.join(repr(v) for v in r.values()))
print(len(DBF('emp.dbf', load=True).deleted), 'deleted')
)");
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out,
              "'Zoë'|1234.5|datetime.date(2001, 9, 15)|True|'line 1\\nline 2'|"
              "b'\\x00\\x01\\x02\\xff'|0.25|-3|Decimal('99.5')|"
              "datetime.datetime(2000, 1, 1, 12, 34, 56, 789000)|1\n"
              "1 deleted\n");
    Outcome info = Kdstool("info emp.dbf");
    EXPECT_NE(info.out.find("\"kind\": \"cdx\""), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("\"code_page\": 3"), std::string::npos) << info.out;
}

// Text crosses between UTF-8 and the table's code page both ways, with python3-dbf and
// python3-dbfread as the peers on the other side.
TEST_F(KdstoolDbf, TextTravelsInTheTablesCodePage) {
    const std::string words = "Zoë café Größe";
    for (const char* kind : {"cdx", "ntx"}) {
        SCOPED_TRACE(kind);
        std::string table = std::string("t") + kind + ".dbf";
        ASSERT_EQ(Kdstool("create " + table + " --type " + kind + " NAME:char:20").status, 0);
        Write("in.jsonl", "{\"NAME\": \"" + words + "\"}\n");
        Outcome import = Kdstool("import " + table + " in.jsonl");
        ASSERT_EQ(import.status, 0) << import.err;
        Outcome read = Python(
            "import dbf, dbfread\n"
            "print(next(iter(dbfread.DBF('" +
            table +
            "'))).get('NAME'))\n"
            "t = dbf.Table('" +
            table +
            "')\nt.open()\n"
            "print(t[0][0].rstrip(), t.codepage.name)\n");
        ASSERT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(read.out, words + "\n" + words + " cp1252\n");
        // A character the page cannot hold is refused, naming line and field.
        Write("greek.jsonl", "{\"NAME\": \"ok\"}\n{\"NAME\": \"x\u03a9\"}\n");
        Outcome greek = Kdstool("import " + table + " greek.jsonl");
        EXPECT_EQ(greek.status, 1);
        EXPECT_NE(greek.err.find("greek.jsonl line 2, field 'NAME': code page 1252 cannot hold "
                                 "the character '\u03a9'"),
                  std::string::npos)
            << greek.err;
    }
    // What python3-dbf writes in other pages reads the same in kdstool, field names included.
    Outcome write = Python(R"(
import dbf
for name, page in (('w1252.dbf', 'cp1252'), ('d850.dbf', 'cp850'), ('w1251.dbf', 'cp1251')):
    t = dbf.Table(name, 'NAME C(20)', dbf_type='db3', codepage=page)
    t.open(dbf.READ_WRITE)
    t.append(('Zoë café Größe' if page != 'cp1251' else 'Привет',))
    t.close()
)");
    ASSERT_EQ(write.status, 0) << write.err;
    for (const char* table : {"w1252.dbf", "d850.dbf"}) {
        EXPECT_EQ(Kdstool(std::string("export ") + table).out,
                  "{\"_recno\": 1, \"NAME\": \"" + words + "\"}\n")
            << table;
    }
    EXPECT_EQ(Kdstool("export w1251.dbf").out, "{\"_recno\": 1, \"NAME\": \"Привет\"}\n");
}

TEST_F(KdstoolDbf, KdstoolExportsAFoxProTableThatPythonDbfWrote) {
    Outcome write = Python(R"(
import dbf, datetime
t = dbf.Table('fox.dbf', 'name C(10); note M; amount N(8,2); born D; ok L', dbf_type='fp',
              codepage='cp850')
t.open(dbf.READ_WRITE)
t.append(('Ann', 'a note\nline 2', 12.5, datetime.date(2001, 9, 15), True))
t.append(('Bob', 'b' * 600, -3, None, False))
t.close()
)");
    ASSERT_EQ(write.status, 0) << write.err;
    Outcome exported = Kdstool("export fox.dbf");
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out,
              "{\"_recno\": 1, \"NAME\": \"Ann\", \"NOTE\": \"a note\\nline 2\", \"AMOUNT\": "
              "12.50, \"BORN\": \"2001-09-15\", \"OK\": true}\n"
              "{\"_recno\": 2, \"NAME\": \"Bob\", \"NOTE\": \"" +
                  std::string(600, 'b') +
                  "\", \"AMOUNT\": -3.00, \"BORN\": null, \"OK\": false}\n");
    Outcome info = Kdstool("info fox.dbf");
    EXPECT_NE(info.out.find("\"code_page\": 2"), std::string::npos) << info.out;  // DOS 850
}

TEST_F(KdstoolDbf, ARefusedImportLeavesTheFilesByteForByte) {
    for (const char* kind : {"cdx", "ntx"}) {
        SCOPED_TRACE(kind);
        std::string table = std::string("r") + kind + ".dbf";
        std::string memo = std::string("r") + kind + (kind[0] == 'c' ? ".fpt" : ".dbt");
        ASSERT_EQ(Kdstool("create " + table + " --type " + kind + " A:char:3 NOTE:memo").status, 0);
        Write("in.jsonl", "{\"A\": \"one\", \"NOTE\": \"kept\"}\n");
        ASSERT_EQ(Kdstool("import " + table + " in.jsonl").status, 0);
        auto read = [&](const std::string& name) {
            std::ifstream in(dir_ + "/" + name, std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        std::string before = read(table), memoBefore = read(memo);
        Write("bad.jsonl", "{\"A\": \"two\", \"NOTE\": \"" + std::string(900, 'x') +
                               "\"}\n{\"A\": \"three\"}\n");
        EXPECT_EQ(Kdstool("import " + table + " bad.jsonl").status, 1);
        EXPECT_EQ(read(table), before);
        EXPECT_EQ(read(memo), memoBefore);
        EXPECT_FALSE(std::filesystem::exists(dir_ + "/" + table + "-journal"));
    }
}

// A date a DBF field cannot hold (eight digits name years 1 to 9999) is refused at import with
// its line and field, and nothing of the file is stored; a native table keeps days of year 0.
TEST_F(KdstoolDbf, ImportRefusesDatesADbfFieldCannotHold) {
    for (const char* kind : {"cdx", "ntx"}) {
        std::string table = std::string("d") + kind + ".dbf";
        ASSERT_EQ(Kdstool("create " + table + " --type " + kind + " A:char:3 D:date").status, 0);
        for (const char* date : {"0000-01-01", "0000-02-29", "00001231", "2023-02-29", "20230431",
                                 "1999-13-01", "9999-12-32"}) {
            SCOPED_TRACE(std::string(kind) + " " + date);
            Write("in.jsonl",
                  "{\"A\": \"one\", \"D\": \"2001-01-01\"}\n{\"A\": \"two\", \"D\": \"" +
                      std::string(date) + "\"}\n");
            Outcome import = Kdstool("import " + table + " in.jsonl");
            EXPECT_EQ(import.status, 1);
            EXPECT_NE(import.err.find("in.jsonl line 2, field 'D'"), std::string::npos)
                << import.err;
            Outcome left = Kdstool("export " + table);
            EXPECT_EQ(left.status, 0) << left.err;
            EXPECT_EQ(left.out, "");
        }
        Write("in.jsonl",
              "{\"A\": \"one\", \"D\": \"0001-01-01\"}\n"
              "{\"A\": \"two\", \"D\": \"9999-12-31\"}\n");
        ASSERT_EQ(Kdstool("import " + table + " in.jsonl").status, 0);
        EXPECT_EQ(Kdstool("export " + table).out,
                  "{\"_recno\": 1, \"A\": \"one\", \"D\": \"0001-01-01\"}\n"
                  "{\"_recno\": 2, \"A\": \"two\", \"D\": \"9999-12-31\"}\n");
    }
    ASSERT_EQ(Kdstool("create n.kdt A:char:3 D:date").status, 0);
    Write("in.jsonl", "{\"A\": \"one\", \"D\": \"0000-01-01\"}\n");
    ASSERT_EQ(Kdstool("import n.kdt in.jsonl").status, 0);
    EXPECT_EQ(Kdstool("export n.kdt").out,
              "{\"_recno\": 1, \"A\": \"one\", \"D\": \"0000-01-01\"}\n");
}

// A native table's text that another program stored with a character the table's code page lacks
// is refused on export with its record and field, never written as another character.
TEST_F(KdstoolDbf, ExportRefusesTextTheCodePageCannotHold) {
    ASSERT_EQ(Kdstool("create n.kdt NAME:char:10 NOTE:memo").status, 0);
    Write("in.jsonl", "{\"NAME\": \"one\"}\n{\"NAME\": \"two\"}\n{\"NAME\": \"tri\"}\n");
    ASSERT_EQ(Kdstool("import n.kdt in.jsonl").status, 0);
    // SQL neither stores nor answers such a character as another one.
    for (const char* statement : {"UPDATE n SET NAME = char(937) || 'a' WHERE NAME = 'two'",
                                  "SELECT NAME || char(937) AS X FROM n"}) {
        Outcome sql = Kdstool(std::string("sql . \"") + statement + "\"");
        EXPECT_EQ(sql.status, 1) << statement << sql.out;
        EXPECT_NE(sql.err.find("holds the character U+03A9, which code page 1252 lacks"),
                  std::string::npos)
            << statement << sql.err;
    }
    ASSERT_EQ(Run("sqlite3 n.kdt \"UPDATE records SET NAME = '\u03a9a' WHERE kdt_recno = 2; "
                  "UPDATE records SET NOTE = 'x\u2554' WHERE kdt_recno = 3\"")
                  .status,
              0);
    Outcome name = Kdstool("export n.kdt");
    EXPECT_EQ(name.status, 1);
    EXPECT_EQ(name.out, "{\"_recno\": 1, \"NAME\": \"one\", \"NOTE\": null}\n");
    EXPECT_NE(name.err.find("record 2, field 'NAME': the value holds the character U+03A9, which "
                            "code page 1252 lacks"),
              std::string::npos)
        << name.err;
    ASSERT_EQ(Run("sqlite3 n.kdt \"UPDATE records SET NAME = 'a' WHERE kdt_recno = 2\"").status, 0);
    Outcome memo = Kdstool("export n.kdt");
    EXPECT_EQ(memo.status, 1);
    EXPECT_EQ(memo.out.find('?'), std::string::npos) << memo.out;
    EXPECT_NE(memo.err.find("record 3, field 'NOTE': the value holds the character U+2554"),
              std::string::npos)
        << memo.err;
}

TEST_F(KdstoolDbf, CheckReportsALaggingHeaderCountAndRepairsIt) {
    ASSERT_EQ(Kdstool("create t.dbf --type ntx A:char:3").status, 0);
    Write("in.jsonl", "{\"A\": \"one\"}\n{\"A\": \"two\"}\n");
    ASSERT_EQ(Kdstool("import t.dbf in.jsonl").status, 0);
    {
        std::fstream f(dir_ + "/t.dbf", std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4);
        f.put(1);  // as a kill between the record and the header count leaves it
    }
    Outcome check = Kdstool("check t.dbf");
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, "the header counts 1 records, the file holds 2\n");
    EXPECT_EQ(Kdstool("export t.dbf").out,
              "{\"_recno\": 1, \"A\": \"one\"}\n{\"_recno\": 2, \"A\": \"two\"}\n");
    check = Kdstool("check t.dbf --repair");
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(Kdstool("check t.dbf").status, 0);
}

TEST_F(KdstoolDbf, PackRemovesDeletedRecordsAndMemoSpace) {
    ASSERT_EQ(Kdstool("create p.dbf --type cdx A:char:3 NOTE:memo").status, 0);
    Write("in.jsonl", "{\"A\": \"one\", \"NOTE\": \"" + std::string(1000, 'x') +
                          "\", \"_deleted\": true}\n{\"A\": \"two\", \"NOTE\": \"kept\"}\n");
    ASSERT_EQ(Kdstool("import p.dbf in.jsonl").status, 0);
    auto before = std::filesystem::file_size(dir_ + "/p.fpt");
    Outcome pack = Kdstool("pack p.dbf");
    ASSERT_EQ(pack.status, 0) << pack.err;
    EXPECT_LT(std::filesystem::file_size(dir_ + "/p.fpt"), before);
    EXPECT_EQ(Kdstool("export p.dbf").out, "{\"_recno\": 1, \"A\": \"two\", \"NOTE\": \"kept\"}\n");
}

TEST_F(KdstoolDbf, CreateRefusesTypesTheKindCannotHold) {
    Outcome run = Kdstool("create n.dbf --type ntx ID:numeric:4 PIC:binary");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("field 'PIC': an NTX table cannot hold type binary"), std::string::npos)
        << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/n.dbf"));
}

// Indexes of both xBase kinds: made by create, kept by import, found clean by check; an index
// file that missed changes is reported, and reindex builds it again.
TEST_F(KdstoolDbf, CreateCheckAndReindexWorkOnCdxAndNtxIndexes) {
    struct Kind {
        const char* type;
        const char* staleFile;  // the index file copied before records are imported, put back after
    };
    for (const Kind& kind : {Kind{"cdx", "E.cdx"}, Kind{"ntx", "BYNAME.ntx"}}) {
        SCOPED_TRACE(kind.type);
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        ASSERT_EQ(Kdstool(std::string("create E.dbf --type ") + kind.type +
                          " NAME:char:10 CODE:numeric:4 --index 'BYNAME=UPPER(NAME)'"
                          " --index BYCODE=CODE:unique")
                      .status,
                  0);
        Write("a.jsonl",
              "{\"NAME\": \"smith\", \"CODE\": 3}\n{\"NAME\": \"Adams\", \"CODE\": -1}\n");
        Outcome imported = Kdstool("import E.dbf a.jsonl");
        ASSERT_EQ(imported.status, 0) << imported.err;
        auto order = [&](const char* index) {
            std::string names;
            Outcome out = Kdstool(std::string("export E.dbf --index ") + index);
            for (size_t at = out.out.find("\"NAME\": \""); at != std::string::npos;
                 at = out.out.find("\"NAME\": \"", at + 1)) {
                names += out.out.substr(at + 9, out.out.find('"', at + 9) - at - 9) + " ";
            }
            return names;
        };
        EXPECT_EQ(order("BYNAME"), "Adams smith ");
        Outcome clean = Kdstool("check E.dbf");
        EXPECT_EQ(clean.status, 0) << clean.out << clean.err;

        // A unique index refuses a second record with its key.
        Write("dup.jsonl", "{\"NAME\": \"jones\", \"CODE\": 3}\n");
        EXPECT_EQ(Kdstool("import E.dbf dup.jsonl").status, 1);

        // An index file put back as it was before records were written (a table whose header
        // marks a structural index file refuses writes while that file is missing).
        std::filesystem::copy_file(dir_ + "/" + kind.staleFile, dir_ + "/aside");
        Write("b.jsonl", "{\"NAME\": \"jones\", \"CODE\": 9}\n");
        ASSERT_EQ(Kdstool("import E.dbf b.jsonl").status, 0);
        std::filesystem::rename(dir_ + "/aside", dir_ + "/" + kind.staleFile);
        Outcome stale = Kdstool("check E.dbf");
        EXPECT_EQ(stale.status, 1);
        EXPECT_NE(stale.out.find("BYNAME: record 3 is missing"), std::string::npos) << stale.out;
        ASSERT_EQ(Kdstool("reindex E.dbf").status, 0);
        EXPECT_EQ(Kdstool("check E.dbf").status, 0);
        EXPECT_EQ(order("BYNAME"), "Adams jones smith ");
    }
}

TEST_F(KdstoolDbf, FoxProNullsOfEveryTypeReadAndWriteAsNull) {
    // python3-dbf (a peer) writes the nulls through the table's _NullFlags field.
    Outcome write = Python(R"(
import dbf
t = dbf.Table('nulls.dbf', 'C C(5) null; I I null; Y Y null; B B null', dbf_type='vfp')
t.open(dbf.READ_WRITE)
t.append((dbf.Null, dbf.Null, dbf.Null, dbf.Null))
t.append(('ab', 0, 0, 0))
t.close()
)");
    ASSERT_EQ(write.status, 0) << write.err;
    Outcome exported = Kdstool("export nulls.dbf");
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out,
              "{\"_recno\": 1, \"C\": null, \"I\": null, \"Y\": null, \"B\": null}\n"
              "{\"_recno\": 2, \"C\": \"ab\", \"I\": 0, \"Y\": 0, \"B\": 0}\n");
    // And back: nulls and values that kdstool writes are what python3-dbf reads.
    Write("in.jsonl",
          "{\"C\": \"x\", \"I\": null, \"Y\": -922337203685477.5807, \"B\": null}\n"
          "{\"C\": null, \"I\": -5, \"Y\": null, \"B\": 0.5}\n");
    Outcome import = Kdstool("import nulls.dbf in.jsonl");
    ASSERT_EQ(import.status, 0) << import.err;
    Outcome read = Python(R"(
import dbf
t = dbf.Table('nulls.dbf')
t.open()
for r in t:
    print([None if v is dbf.Null else v for v in (r[0], r[1], r[2], r[3])])
)");
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out,
              "[None, None, None, None]\n"
              "['ab   ', 0, Decimal('0.0000'), 0.0]\n"
              "['x    ', None, Decimal('-922337203685477.5807'), None]\n"
              "[None, -5, None, 0.5]\n");
}

TEST_F(KdstoolDbf, MoneyAndLongNumericsCrossCdxAndNativeTablesExactly) {
    const char kFields[] = " MO:money N20:numeric:20";
    ASSERT_EQ(Kdstool(std::string("create pay.dbf --type cdx") + kFields).status, 0);
    ASSERT_EQ(Kdstool(std::string("create pay.kdt") + kFields).status, 0);
    const std::string lines =
        "{\"_recno\": 1, \"MO\": 922337203685477.5807, \"N20\": 12345678901234567890}\n"
        "{\"_recno\": 2, \"MO\": -922337203685477.5807, \"N20\": -1234567890123456789}\n";
    Write("in.jsonl", lines);
    ASSERT_EQ(Kdstool("import pay.dbf in.jsonl").status, 0);
    Outcome fromDbf = Kdstool("export pay.dbf");
    EXPECT_EQ(fromDbf.out, lines);
    Write("copy.jsonl", fromDbf.out);
    ASSERT_EQ(Kdstool("import pay.kdt copy.jsonl").status, 0);
    EXPECT_EQ(Kdstool("export pay.kdt").out, lines);
}

// Bytes other writers leave in DBF fields: export writes valid JSON for each and reports what it
// cannot read.
TEST_F(KdstoolDbf, ExportWritesValidJsonForDamagedValuesAndReportsThem) {
    ASSERT_EQ(Kdstool("create bad.dbf --type ntx N:numeric:5:2 D:date L:logical").status, 0);
    struct Case {
        const char* field;
        const char* bytes;
        const char* json;  // the value export writes
    } cases[] = {
        {"N", "  .50", "0.50"},
        {"N", "   5.", "5"},
        {"N", "   +5", "5"},
        {"N", "  007", "7"},
        {"N", "  1,5", "{\"invalid\": \"  1,5\"}"},
        {"N", "  ab\xff", "{\"invalid\": {\"base64\": \"ICBhYv8=\"}}"},
        {"D", "20011345", "{\"invalid\": \"20011345\"}"},
        {"D", "00000101", "{\"invalid\": \"00000101\"}"},
        {"L", "x", "{\"invalid\": \"x\"}"},
    };
    std::string lines;
    for (size_t i = 0; i < std::size(cases); ++i)
        lines += "{\"N\": 1, \"D\": \"2001-01-01\", \"L\": true}\n";
    Write("in.jsonl", lines);
    ASSERT_EQ(Kdstool("import bad.dbf in.jsonl").status, 0);
    {
        // The dBase III layout: a 32-byte header, 32 bytes a field, the terminator; records of a
        // deletion flag, N (5), D (8), L (1).
        std::fstream f(dir_ + "/bad.dbf", std::ios::in | std::ios::out | std::ios::binary);
        const long header = 32 + 3 * 32 + 1, length = 1 + 5 + 8 + 1;
        for (size_t i = 0; i < std::size(cases); ++i) {
            long at = header + long(i) * length + 1 +
                      (cases[i].field[0] == 'N'   ? 0
                       : cases[i].field[0] == 'D' ? 5
                                                  : 13);
            f.seekp(at);
            f.write(cases[i].bytes, std::streamsize(std::strlen(cases[i].bytes)));
        }
    }
    Outcome all = Kdstool("export bad.dbf --keep-going");
    EXPECT_EQ(all.status, 0) << all.err;
    std::string expected;
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string n = cases[i].field[0] == 'N' ? cases[i].json : "1.00";
        std::string d = cases[i].field[0] == 'D' ? cases[i].json : "\"2001-01-01\"";
        std::string l = cases[i].field[0] == 'L' ? cases[i].json : "true";
        expected += "{\"_recno\": " + std::to_string(i + 1) + ", \"N\": " + n + ", \"D\": " + d +
                    ", \"L\": " + l + "}\n";
    }
    EXPECT_EQ(all.out, expected);
    EXPECT_NE(all.err.find("record 5, field 'N': cannot read the bytes '  1,5' as a numeric value"),
              std::string::npos)
        << all.err;
    EXPECT_NE(all.err.find("record 6, field 'N': cannot read the bytes '  ab\\xFF'"),
              std::string::npos)
        << all.err;
    // Without --keep-going the export ends after the first record it cannot read, status 1.
    Outcome first = Kdstool("export bad.dbf");
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(first.out, expected.substr(0, expected.find("\"_recno\": 6") - 1));
    EXPECT_NE(first.err.find("--keep-going"), std::string::npos) << first.err;
}

}  // namespace
