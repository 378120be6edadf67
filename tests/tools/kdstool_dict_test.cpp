// kdstool dict: a dictionary built from the command line lists what it was given, keeps no
// password, and refuses bad input without changing the file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "run_command.h"

namespace {

using tools_test::Outcome;

class KdstoolDict : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstool-dict-XXXXXX";
        dir_ = ::mkdtemp(templ);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    Outcome Run(const std::string& command) {
        return tools_test::RunCommand("cd " + dir_ + " && " + command, dir_ + "/stderr.txt");
    }
    Outcome Kdstool(const std::string& args) { return Run(std::string(KDSTOOL) + " " + args); }
    std::string Read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string dir_;
};

TEST_F(KdstoolDict, BuildsADictionaryAndListsIt) {
    ASSERT_EQ(Run("mkdir data").status, 0);
    ASSERT_EQ(Kdstool("create data/emp.kdt EMP_NO:char:6 NAME:char:20 --index BYNAME=NAME").status,
              0);
    ASSERT_EQ(Kdstool("create data/dept.dbf --type ntx CODE:char:4 --index DEPTCODE=CODE").status,
              0);
    ASSERT_EQ(Kdstool("dict create data/hr.kdd").status, 0);
    Outcome r = Kdstool("dict add-user data/hr.kdd clerk --password Plum-Tree-81");
    ASSERT_EQ(r.status, 0) << r.err;
    // Without --password the password is a line of standard input.
    r = Run("echo 'Quiet-Lake-22' | " + std::string(KDSTOOL) + " dict add-user data/hr.kdd boss");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Kdstool("dict add-table data/hr.kdd data/emp.kdt --name EMPLOYEE --default-index BYNAME");
    ASSERT_EQ(r.status, 0) << r.err;
    // The .ntx files create made for an NTX table go with it.
    r = Kdstool("dict add-table data/hr.kdd data/dept.dbf");
    ASSERT_EQ(r.status, 0) << r.err;

    r = Kdstool("dict list data/hr.kdd");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "{\"table\": \"dept\", \"file\": \"dept.dbf\", \"kind\": \"ntx\", \"index_files\": "
              "[\"DEPTCODE.ntx\"], \"default_index\": null}\n"
              "{\"table\": \"EMPLOYEE\", \"file\": \"emp.kdt\", \"kind\": \"kdt\", "
              "\"index_files\": [], \"default_index\": \"BYNAME\"}\n"
              "{\"user\": \"boss\"}\n"
              "{\"user\": \"clerk\"}\n");

    std::string bytes = Read("data/hr.kdd");
    EXPECT_EQ(bytes.find("Plum-Tree-81"), std::string::npos);
    EXPECT_EQ(bytes.find("Quiet-Lake-22"), std::string::npos);
    EXPECT_NE(bytes.find("$argon2id$"), std::string::npos);
}

TEST_F(KdstoolDict, RefusalsNameTheCauseAndLeaveTheDictionaryAsItWas) {
    ASSERT_EQ(Kdstool("create emp.kdt EMP_NO:char:6 --index BYNO=EMP_NO").status, 0);
    ASSERT_EQ(Kdstool("dict create hr.kdd").status, 0);
    ASSERT_EQ(Kdstool("dict add-user hr.kdd clerk --password x").status, 0);
    std::ofstream(dir_ + "/damaged.kdd", std::ios::binary)
        << std::string("SQLite format 3\0", 16) << std::string(4000, '\x7f');
    std::ofstream(dir_ + "/text.kdd") << "just text\n";
    struct Case {
        std::string args;
        std::string message;  // part of the one line on standard error
    };
    const Case cases[] = {
        {"dict create hr.kdd", "already exists"},
        {"dict add-user hr.kdd CLERK --password y", "already has a user"},
        {"dict add-user hr.kdd " + std::string(32, 'u') + " --password y", "user name"},
        {"dict drop-user hr.kdd nobody", "no user of this name"},
        {"dict add-table hr.kdd emp.kdt --default-index NOSUCH", "default index 'NOSUCH'"},
        {"dict add-table hr.kdd missing.kdt", "no table file"},
        {"dict add-table emp.kdt emp.kdt", "not a data dictionary"},
        {"dict list damaged.kdd", "damaged.kdd"},
        {"dict list text.kdd", "not a data dictionary"},
        {"dict list none.kdd", "none.kdd"},
        {"dict frobnicate hr.kdd", "unknown dict command"},
        {"dict add-user hr.kdd", "usage"},
    };
    for (const Case& c : cases) {
        Outcome r = Kdstool(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.args << ": " << r.err;
    }
    Outcome list = Kdstool("dict list hr.kdd");
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "{\"user\": \"clerk\"}\n");
}

// sql on a dictionary logs in as --user: the table is found by its dictionary name, the password
// comes from the option or from standard input, and a wrong or missing login is refused with the
// engine's text.
TEST_F(KdstoolDict, SqlLogsIntoADictionary) {
    ASSERT_EQ(Kdstool("create emp.kdt EMP_NO:char:6").status, 0);
    Outcome r = Run("echo '{\"EMP_NO\": \"A1\"}' | " + std::string(KDSTOOL) + " import emp.kdt -");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Kdstool("dict create hr.kdd").status, 0);
    ASSERT_EQ(Kdstool("dict add-user hr.kdd clerk --password Plum-Tree-81").status, 0);
    ASSERT_EQ(Kdstool("dict add-table hr.kdd emp.kdt --name EMPLOYEE").status, 0);

    const std::string query = " \"SELECT EMP_NO FROM EMPLOYEE\"";
    r = Kdstool("sql hr.kdd" + query + " --user clerk --password Plum-Tree-81");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"EMP_NO\": \"A1\"}\n");
    r = Run("echo Plum-Tree-81 | " + std::string(KDSTOOL) + " sql hr.kdd" + query +
            " --user clerk");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"EMP_NO\": \"A1\"}\n");

    struct Refused {
        std::string args, error;
    } refused[] = {
        {" --user clerk --password wrong", "(6700)"},
        {"", "(6700)"},
        {" --password Plum-Tree-81", "a password is given without --user"},
    };
    for (const Refused& c : refused) {
        r = Run("echo | " + std::string(KDSTOOL) + " sql hr.kdd" + query + c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << c.args << ": " << r.err;
    }
}

}  // namespace
