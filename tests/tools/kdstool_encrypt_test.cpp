// kdstool encrypt and decrypt on real tables: every type through both, the password from a file
// or standard input, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "run_command.h"

namespace {

using tools_test::Outcome;

class KdstoolEncryptTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstool-crypt-XXXXXX";
        dir_ = ::mkdtemp(templ);
        Write("pw", "KRALD4729\n");
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Without a controlling terminal (setsid), so that a password is read from standard input.
    Outcome Kdstool(const std::string& args) {
        return tools_test::RunCommand("setsid " + std::string(KDSTOOL) + " " + args,
                                      dir_ + "/stderr.txt");
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::string Read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string T(const std::string& name) { return dir_ + "/" + name; }

    std::string dir_;
};

const char kAllTypes[] =
    "L:logical N:numeric:8:2 D:date C:char:10 M:memo B:binary I:image V:varchar CD:compactdate "
    "DB:double IN:integer SI:shortint TM:time TS:timestamp AI:autoinc R:raw:3 MO:money "
    "--index BYC=C:unique";

const char kLines[] =
    R"({"_recno": 1, "L": true, "N": -12.50, "D": "2001-09-15", "C": "okapi", "M": "memo-secret", "B": {"base64": "AAEC/w=="}, "I": {"base64": "iVBO"}, "V": "varsecret", "CD": "0001-01-01", "DB": 0.1, "IN": -2147483647, "SI": -32767, "TM": "23:59:59.999", "TS": "2000-02-29T12:34:56.789", "AI": 1, "R": {"base64": "AQID"}, "MO": 1234.5})"
    "\n"
    R"({"_recno": 2, "L": false, "N": 0.00, "D": null, "C": "zebra", "M": null, "B": null, "I": null, "V": null, "CD": null, "DB": 1e+300, "IN": 0, "SI": 0, "TM": "00:00:00.000", "TS": null, "AI": 2, "R": null, "MO": null})"
    "\n";

TEST_F(KdstoolEncryptTest, DecryptThenEncryptKeepsEveryTypeAndTheFileHidesEveryValue) {
    ASSERT_EQ(Kdstool("create " + T("ALL") + " " + kAllTypes).status, 0);
    Write("in.jsonl", kLines);
    ASSERT_EQ(Kdstool("import " + T("ALL") + " " + T("in.jsonl")).status, 0);

    Outcome enc = Kdstool("encrypt " + T("ALL") + " --password-file " + T("pw"));
    ASSERT_EQ(enc.status, 0) << enc.err;
    const std::string file = Read("ALL.kdt");
    for (const char* value : {"okapi", "zebra", "memo-secret", "varsecret", "2001-09-15"}) {
        EXPECT_EQ(file.find(value), std::string::npos) << value;
    }
    Outcome info = Kdstool("info " + T("ALL"));
    EXPECT_EQ(info.out.rfind("{\"kind\": \"kdt\", \"records\": 2, \"encrypted\": true, ", 0), 0u)
        << info.out;
    Outcome exported = Kdstool("export " + T("ALL") + " --password-file " + T("pw"));
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, kLines);
    // In index order, the keys built in memory from the records.
    Outcome byIndex = Kdstool("export " + T("ALL") + " --index BYC --password-file " + T("pw"));
    ASSERT_EQ(byIndex.status, 0) << byIndex.err;
    EXPECT_EQ(byIndex.out, kLines);

    // The password from standard input when there is no terminal.
    Outcome dec = Kdstool("decrypt " + T("ALL") + " < " + T("pw"));
    ASSERT_EQ(dec.status, 0) << dec.err;
    EXPECT_EQ(Kdstool("export " + T("ALL")).out, kLines);
    ASSERT_EQ(Kdstool("encrypt " + T("ALL") + " --password-file " + T("pw")).status, 0);
    EXPECT_EQ(Kdstool("export " + T("ALL") + " --password-file " + T("pw")).out, kLines);
}

TEST_F(KdstoolEncryptTest, RefusalsNameTheirCause) {
    ASSERT_EQ(Kdstool("create " + T("E") + " C:char:10").status, 0);
    ASSERT_EQ(Kdstool("create " + T("D.dbf") + " --type cdx C:char:10").status, 0);
    ASSERT_EQ(Kdstool("encrypt " + T("E") + " --password-file " + T("pw")).status, 0);
    Write("wrong", "krald4729\n");
    Write("line.jsonl", "{\"C\": \"x\"}\n");
    struct Case {
        std::string args;
        std::string message;
    } cases[] = {
        {"export " + T("E") + " --password-file " + T("wrong"),
         "the password does not open the encrypted table"},
        {"import " + T("E") + " " + T("line.jsonl"), "has not given its password"},
        {"decrypt " + T("E") + " --password-file " + T("wrong"),
         "the password does not open the encrypted table"},
        {"encrypt " + T("E") + " --password-file " + T("pw"), "already encrypted"},
        {"encrypt " + T("D.dbf") + " --password-file " + T("pw"), "only native tables"},
        {"decrypt " + T("D.dbf") + " --password-file " + T("pw"), "not encrypted"},
        {"encrypt " + T("E") + " --password-file " + T("missing"), "cannot be read"},
        {"decrypt " + T("E") + " < /dev/null", "no password given"},
    };
    for (const Case& c : cases) {
        Outcome r = Kdstool(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
}

}  // namespace
