// kdstool as its users run it: a separate program, its output and exit status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "run_command.h"
#include "tests/support/scoped.h"

namespace {

using tools_test::Outcome;

class KdstoolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstool-XXXXXX";
        dir_ = ::mkdtemp(templ);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // prefix runs before the program (e.g. "timeout 20").
    Outcome Kdstool(const std::string& args, const std::string& prefix = "") {
        std::string errFile = dir_ + "/stderr.txt";
        std::string command = prefix + std::string(KDSTOOL) + " " + args;
        return tools_test::RunCommand(command, errFile);
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::string T(const std::string& name) { return dir_ + "/" + name; }

    std::string dir_;
};

const char kAllTypes[] =
    "L:logical N:numeric:8:2 D:date C:char:10 M:memo B:binary I:image V:varchar CD:compactdate "
    "DB:double IN:integer SI:shortint TM:time TS:timestamp AI:autoinc R:raw:3 MO:money";

TEST_F(KdstoolTest, EveryTypeRoundTripsThroughImportAndExport) {
    ASSERT_EQ(Kdstool("create " + T("ALL") + " " + kAllTypes).status, 0);
    const std::string lines =
        R"({"_recno": 1, "L": true, "N": -12.50, "D": "2001-09-15", "C": "caf\u00e9", "M": "two\nlines", "B": {"base64": "AAEC/w=="}, "I": {"base64": "iVBO"}, "V": "var", "CD": "0001-01-01", "DB": 0.1, "IN": -2147483647, "SI": -32767, "TM": "23:59:59.999", "TS": "2000-02-29T12:34:56.789", "AI": 1, "R": {"base64": "AQID"}, "MO": 1234.5})"
        "\n"
        R"({"_recno": 2, "L": false, "N": 0.00, "D": null, "C": {"base64": "/w=="}, "M": null, "B": null, "I": null, "V": null, "CD": null, "DB": 1e+300, "IN": 0, "SI": 0, "TM": "00:00:00.000", "TS": null, "AI": 2, "R": null, "MO": null})"
        "\n";
    Write("in.jsonl", lines);
    Outcome import = Kdstool("import " + T("ALL") + " " + T("in.jsonl"));
    ASSERT_EQ(import.status, 0) << import.err;
    Outcome exported = Kdstool("export " + T("ALL.kdt"));
    ASSERT_EQ(exported.status, 0) << exported.err;
    // Keys in field order, non-ASCII text as it is, doubles in their shortest form; the byte
    // FF given as base64 is the Windows-1252 letter it stands for.
    std::string expected = lines;
    expected.replace(expected.find("caf\\u00e9"), 9, "caf\xC3\xA9");
    expected.replace(expected.find("{\"base64\": \"/w==\"}"), 18, "\"\xC3\xBF\"");
    EXPECT_EQ(exported.out, expected);
    // A missing key is null; "_deleted" appends and removes (native tables keep no deleted rows).
    Write("more.jsonl", "{\"IN\": 5}\n{\"IN\": 6, \"_deleted\": true}\n");
    ASSERT_EQ(Kdstool("import " + T("ALL") + " " + T("more.jsonl")).status, 0);
    Outcome info = Kdstool("info " + T("ALL"));
    EXPECT_EQ(info.out.rfind("{\"kind\": \"kdt\", \"records\": 3, \"encrypted\": false, ", 0), 0u)
        << info.out;
}

TEST_F(KdstoolTest, AnImportWithABadLineLeavesTheTableAsItWas) {
    ASSERT_EQ(Kdstool("create " + T("EMP") + " NAME:char:10 AGE:shortint").status, 0);
    Write("good.jsonl", "{\"NAME\": \"FIRST\", \"AGE\": 30}\n");
    ASSERT_EQ(Kdstool("import " + T("EMP") + " " + T("good.jsonl")).status, 0);
    std::string before = Kdstool("export " + T("EMP")).out;
    struct Case {
        std::string lastLine;
        std::string message;
    } cases[] = {
        {"[1, 2]", "line 3: not a JSON object"},
        {"{\"NAME\": ", "line 3: a value is missing at column 10"},
        {"{\"SALARY\": 1}", "line 3: the table has no field 'SALARY'"},
        {"{\"AGE\": 40000}", "line 3, field 'AGE': the value does not fit the field"},
        {"{\"AGE\": \"old\"}", "line 3, field 'AGE': expected a number for a shortint field"},
        {"{\"NAME\": \"toolongvalue\"}",
         "line 3, field 'NAME': the value is 12 bytes long, the field holds 10 (--truncate cuts "
         "it)"},
    };
    for (const Case& c : cases) {
        Write("bad.jsonl",
              "{\"NAME\": \"A\"}\n{\"NAME\": \"B\", \"AGE\": 2}\n" + c.lastLine + "\n");
        Outcome run = Kdstool("import " + T("EMP") + " " + T("bad.jsonl"));
        EXPECT_EQ(run.status, 1) << c.lastLine;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(Kdstool("export " + T("EMP")).out, before) << c.lastLine;
    }
}

TEST_F(KdstoolTest, ARefusedImportGivesBackRecordNumbersAndAutoincrementValues) {
    ASSERT_EQ(Kdstool("create " + T("T") + " AI:autoinc N:shortint").status, 0);
    Write("bad.jsonl", "{\"AI\": 4294967294}\n{\"N\": 1}\n{\"N\": \"x\"}\n");
    EXPECT_EQ(Kdstool("import " + T("T") + " " + T("bad.jsonl")).status, 1);
    Write("good.jsonl", "{\"N\": 7}\n");
    Outcome good = Kdstool("import " + T("T") + " " + T("good.jsonl"));
    ASSERT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(Kdstool("export " + T("T")).out, "{\"_recno\": 1, \"AI\": 1, \"N\": 7}\n");
}

TEST_F(KdstoolTest, TruncateCutsWhatTheFieldCannotHold) {
    ASSERT_EQ(Kdstool("create " + T("EMP") + " NAME:char:5").status, 0);
    // Blanks past the field's end are what it pads with: they are cut without an option.
    Write("in.jsonl", "{\"NAME\": \"toolongvalue\"}\n{\"NAME\": \"abc      \"}\n");
    ASSERT_EQ(Kdstool("import " + T("EMP") + " " + T("in.jsonl")).status, 1);
    Outcome run = Kdstool("import " + T("EMP") + " " + T("in.jsonl") + " --truncate");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Kdstool("export " + T("EMP")).out,
              "{\"_recno\": 1, \"NAME\": \"toolo\"}\n{\"_recno\": 2, \"NAME\": \"abc\"}\n");
}

TEST_F(KdstoolTest, MoneyAndLongNumericsKeepEveryDigit) {
    ASSERT_EQ(Kdstool("create " + T("PAY") + " MO:money N20:numeric:20 N4:numeric:23:4").status, 0);
    const std::string lines =
        "{\"_recno\": 1, \"MO\": 922337203685477.5807, \"N20\": 12345678901234567890, "
        "\"N4\": -12345678901234567.8901}\n"
        "{\"_recno\": 2, \"MO\": -922337203685477.5807, \"N20\": -1234567890123456789, "
        "\"N4\": 0.0001}\n"
        "{\"_recno\": 3, \"MO\": 0.0001, \"N20\": 0, \"N4\": 99999999999999999.9999}\n";
    Write("in.jsonl", lines);
    Outcome import = Kdstool("import " + T("PAY") + " " + T("in.jsonl"));
    ASSERT_EQ(import.status, 0) << import.err;
    EXPECT_EQ(Kdstool("export " + T("PAY")).out, lines);
    // Money is stored as its count of ten-thousandths, so any SQLite tool reads it exactly
    // (the sqlite3 shell is the peer here).
    std::string shell = std::string("sqlite3 ") + T("PAY.kdt") +
                        " 'SELECT MO FROM records ORDER BY kdt_recno' > " + T("shell.txt");
    ASSERT_EQ(std::system(shell.c_str()), 0);
    std::ifstream in(T("shell.txt"));
    std::string shown((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(shown, "9223372036854775807\n-9223372036854775807\n1\n");
    // One ten-thousandth past either end is refused, naming line and field.
    for (const char* value : {"922337203685477.5808", "-922337203685477.5808"}) {
        Write("big.jsonl", std::string("{\"MO\": ") + value + "}\n");
        Outcome run = Kdstool("import " + T("PAY") + " " + T("big.jsonl"));
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("line 1, field 'MO'"), std::string::npos) << run.err;
    }
}

TEST_F(KdstoolTest, ANameThatIsNotARegularFileIsRefusedAtOnce) {
    ASSERT_EQ(::mkfifo(T("PIPE.dbf").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(T("PIPE.kdt").c_str(), 0600), 0);
    std::filesystem::create_directory(T("DIR.dbf"));
    for (const char* name : {"PIPE.dbf", "PIPE.kdt", "DIR.dbf"}) {
        for (const char* command : {"info", "export", "check"}) {
            // timeout: a run that waits on the FIFO fails the test instead of hanging it.
            Outcome run = Kdstool(std::string(command) + " " + T(name), "timeout 20 ");
            SCOPED_TRACE(std::string(command) + " " + name);
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("not a regular file (6121)"), std::string::npos) << run.err;
        }
    }
}

TEST_F(KdstoolTest, IndexesAreCreatedListedAndWalked) {
    Outcome create = Kdstool("create " + T("EMP") +
                             " NAME:char:10 AGE:integer --index BYNAME=NAME"
                             " --index BYAGE=AGE:unique:descending");
    ASSERT_EQ(create.status, 0) << create.err;
    Write("in.jsonl",
          "{\"NAME\": \"b\", \"AGE\": 1}\n{\"NAME\": \"a\", \"AGE\": 3}\n"
          "{\"NAME\": \"c\", \"AGE\": 2}\n");
    ASSERT_EQ(Kdstool("import " + T("EMP") + " " + T("in.jsonl")).status, 0);
    auto names = [&](const std::string& index) {
        std::string out = Kdstool("export " + T("EMP") + " --index " + index).out, seen;
        for (size_t at = out.find("\"NAME\": \""); at != std::string::npos;
             at = out.find("\"NAME\": \"", at + 1))
            seen += out[at + 9];
        return seen;
    };
    EXPECT_EQ(names("BYNAME"), "abc");
    EXPECT_EQ(names("byage"), "acb");
    std::string info = Kdstool("info " + T("EMP")).out;
    EXPECT_NE(
        info.find("\"indexes\": [{\"name\": \"BYNAME\", \"key\": \"NAME\", \"unique\": false, "
                  "\"descending\": false, \"file\": \"EMP.kdt\"}, {\"name\": \"BYAGE\", "
                  "\"key\": \"AGE\", \"unique\": true, \"descending\": true"),
        std::string::npos)
        << info;
    // A duplicate key found while writing undoes the records the import had written.
    std::string before = Kdstool("export " + T("EMP")).out;
    Write("dup.jsonl", "{\"NAME\": \"z\", \"AGE\": 7}\n{\"NAME\": \"y\", \"AGE\": 3}\n");
    Outcome dup = Kdstool("import " + T("EMP") + " " + T("dup.jsonl"));
    EXPECT_EQ(dup.status, 1);
    EXPECT_NE(dup.err.find("dup.jsonl line 2"), std::string::npos) << dup.err;
    EXPECT_EQ(Kdstool("export " + T("EMP")).out, before);
    Outcome nope = Kdstool("export " + T("EMP") + " --index NOPE");
    EXPECT_EQ(nope.status, 1);
    EXPECT_NE(nope.err.find("NOPE"), std::string::npos) << nope.err;
    // A create whose index fails leaves no table behind.
    EXPECT_EQ(Kdstool("create " + T("X") + " A:char:3 --index I=NOSUCH").status, 1);
    EXPECT_FALSE(std::filesystem::exists(T("X.kdt")));
    // ... and a create over an existing table leaves that table alone.
    EXPECT_EQ(Kdstool("create " + T("EMP") + " A:char:3 --index I=NOSUCH").status, 1);
    EXPECT_EQ(Kdstool("export " + T("EMP")).out, before);
}

TEST_F(KdstoolTest, CreateAndOtherCommandsReportErrorsOnOneLine) {
    struct Case {
        std::string args;
        std::string message;
    } cases[] = {
        {"create " + T("X") + " A:char", "field 'A': type char needs a length"},
        {"create " + T("X") + " A:widget", "field 'A': unknown type 'widget'"},
        {"create " + T("X") + " A:char:10 a:integer", "the field name is used twice: field 'a'"},
        {"create " + T("X") + " " + std::string(130, 'F') + ":integer", "field name is too long"},
        {"export " + T("MISSING"), "the file was not found"},
        {"info", "info needs one table"},
        {"frobnicate", "unknown command 'frobnicate'"},
    };
    for (const Case& c : cases) {
        Outcome run = Kdstool(c.args);
        EXPECT_EQ(run.status, 1) << c.args;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(T("X.kdt")));
    }
    Outcome version = Kdstool("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("kdstool ", 0), 0u);
    EXPECT_NE(Kdstool("--help").out.find("kdstool import TABLE FILE"), std::string::npos);
}

TEST_F(KdstoolTest, WindowsPathsNameTheSameTable) {
    std::string drive = dir_ + "/drive_c";
    std::filesystem::create_directories(drive + "/Data");
    ASSERT_EQ(Kdstool("create " + drive + "/Data/Employee NAME:char:5").status, 0);
    Write("one.jsonl", "{\"NAME\": \"X\"}\n");
    testsupport::ScopedEnvironment env;
    std::filesystem::create_directories(dir_ + "/other_c");
    env.Set("UPDATEBANK_DRIVE_C", dir_ + "/other_c");
    Outcome run = Kdstool("import 'C:\\DATA\\EMPLOYEE' " + T("one.jsonl"));
    EXPECT_NE(run.status, 0);  // with another drive mapping C: is elsewhere
    env.Set("UPDATEBANK_DRIVE_C", drive);
    run = Kdstool("import 'C:\\DATA\\EMPLOYEE' " + T("one.jsonl"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(Kdstool("export " + drive + "/Data/Employee.kdt").out.find("\"NAME\": \"X\""),
              std::string::npos);
}

}  // namespace

namespace {

TEST_F(KdstoolTest, IndexesAreCreatedListedFollowedAndChecked) {
    Outcome created = Kdstool("create " + T("E") + " NAME:char:10 CODE:integer HIRED:date" +
                              " --index BYNAME=NAME --index BYCODE=CODE:unique:descending" +
                              " --index 'BYUP=UPPER(NAME)+DTOS(HIRED)'");
    ASSERT_EQ(created.status, 0) << created.err;
    Write("in.jsonl",
          "{\"NAME\": \"b\", \"CODE\": 2, \"HIRED\": \"2001-01-01\"}\n"
          "{\"NAME\": \"a\", \"CODE\": 3}\n{\"NAME\": \"c\", \"CODE\": 1}\n");
    ASSERT_EQ(Kdstool("import " + T("E") + " " + T("in.jsonl")).status, 0);
    auto order = [&](const std::string& index) {
        Outcome run = Kdstool("export " + T("E") + " --index " + index);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string names;
        for (size_t at = 0; (at = run.out.find("\"NAME\": \"", at)) != std::string::npos;) {
            at += 9;
            names += run.out[at];
        }
        return names;
    };
    EXPECT_EQ(order("BYNAME"), "abc");
    EXPECT_EQ(order("bycode"), "abc");
    EXPECT_EQ(order("BYUP"), "abc");
    Outcome info = Kdstool("info " + T("E"));
    EXPECT_NE(info.out.find(R"("indexes": [{"name": "BYNAME", "key": "NAME", "unique": false, )"
                            R"("descending": false, "file": "E.kdt"}, {"name": "BYCODE", )"
                            R"("key": "CODE", "unique": true, "descending": true)"),
              std::string::npos)
        << info.out;

    // A duplicate key stops the import and leaves the table as it was.
    Write("dup.jsonl", "{\"NAME\": \"d\", \"CODE\": 4}\n{\"NAME\": \"e\", \"CODE\": 2}\n");
    Outcome dup = Kdstool("import " + T("E") + " " + T("dup.jsonl"));
    EXPECT_EQ(dup.status, 1);
    EXPECT_NE(dup.err.find("BYCODE"), std::string::npos) << dup.err;
    EXPECT_EQ(order("BYNAME"), "abc");

    Outcome check = Kdstool("check " + T("E"));
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, "");
    // An index that lost a key is reported, and repaired by building it again.
    std::string removeKey =
        "sqlite3 " + T("E.kdt") + " 'DELETE FROM kdt_index_BYNAME WHERE recno = 2'";
    ASSERT_EQ(std::system(removeKey.c_str()), 0);
    Outcome broken = Kdstool("check " + T("E"));
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out,
              "index BYNAME: record 2 is missing\nindex BYNAME: holds 2 keys for 3 records\n");
    EXPECT_EQ(Kdstool("check " + T("E") + " --repair").status, 0);
    EXPECT_EQ(Kdstool("check " + T("E")).out, "");
    EXPECT_EQ(Kdstool("reindex " + T("E")).status, 0);
    EXPECT_EQ(Kdstool("pack " + T("E")).status, 0);
    EXPECT_EQ(order("BYNAME"), "abc");

    Outcome missing = Kdstool("export " + T("E") + " --index NOPE");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no index named 'NOPE'"), std::string::npos) << missing.err;
}

TEST_F(KdstoolTest, CreateWithABadIndexLeavesNoTable) {
    Outcome bad = Kdstool("create " + T("F") + " A:char:3 --index 'X=UPPER(A'");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("index X"), std::string::npos) << bad.err;
    EXPECT_NE(bad.err.find("position 8"), std::string::npos) << bad.err;
    EXPECT_FALSE(std::filesystem::exists(T("F.kdt")));
    EXPECT_EQ(Kdstool("create " + T("G") + " A:char:3 --index X").status, 1);
}

}  // namespace
