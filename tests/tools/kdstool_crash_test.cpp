// kdstool import killed with SIGKILL at random points: the table afterwards holds the records it
// held before or all of the imported ones, never a part, and kdstool check finds it clean. While
// an import runs, other readers see none of its records.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "run_command.h"

namespace {

using tools_test::Outcome;

class KdstoolCrash : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/kdstool-crash-XXXXXX";
        dir_ = ::mkdtemp(templ);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string T(const std::string& name) const { return dir_ + "/" + name; }

    Outcome Kdstool(const std::string& args) {
        std::string errFile = dir_ + "/stderr.txt";
        return tools_test::RunCommand(std::string(KDSTOOL) + " " + args, errFile);
    }
    static size_t Lines(const std::string& text) {
        return size_t(std::count(text.begin(), text.end(), '\n'));
    }

    // Starts kdstool import of file into table; answers the child's pid.
    pid_t StartImport(const std::string& table, const std::string& file) {
        pid_t pid = ::fork();
        if (pid == 0) {
            std::freopen("/dev/null", "w", stderr);
            ::execl(KDSTOOL, KDSTOOL, "import", table.c_str(), file.c_str(), nullptr);
            ::_exit(127);
        }
        return pid;
    }

    std::string dir_;
};

TEST_P(KdstoolCrash, AKilledImportLeavesAllOrNothing) {
    const std::string kind = GetParam();
    const std::string table = T(kind == "kdt" ? "crash.kdt" : "crash.dbf");
    std::string create = "create " + table + " NAME:char:20 AMT:numeric:10:2 NOTE:memo";
    if (kind != "kdt") create += " --type " + kind;
    ASSERT_EQ(Kdstool(create).status, 0);
    std::ofstream(T("before.jsonl")) << "{\"NAME\": \"kept\", \"AMT\": 1.5, \"NOTE\": \"old\"}\n"
                                     << "{\"NAME\": \"also kept\", \"AMT\": 2}\n";
    ASSERT_EQ(Kdstool("import " + table + " " + T("before.jsonl")).status, 0);
    const std::string before = Kdstool("export " + table).out;
    const size_t records = 20000;
    {
        std::ofstream big(T("big.jsonl"));
        for (size_t i = 0; i < records; ++i) {
            big << "{\"NAME\": \"record " << i << "\", \"AMT\": " << i << ".25"
                << (i % 100 == 0 ? ", \"NOTE\": \"a note on the way\"" : "") << "}\n";
        }
    }
    // The whole import once, timed, so that the kill points fall inside one.
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Kdstool("import " + table + " " + T("big.jsonl")).status, 0);
    auto full = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count();
    ASSERT_EQ(Lines(Kdstool("export " + table).out), 2 + records);
    std::mt19937 random(std::random_device{}());
    for (int point = 0; point < 3; ++point) {
        // Back to the two records, then an import killed at a random moment of its run.
        const std::string stem = table.substr(0, table.size() - 4);
        for (const std::string& file :
             {table, stem + ".fpt", stem + ".dbt", table + "-wal", table + "-shm"}) {
            std::filesystem::remove(file);
        }
        ASSERT_EQ(Kdstool(create).status, 0);
        ASSERT_EQ(Kdstool("import " + table + " " + T("before.jsonl")).status, 0);
        auto delay = std::uniform_int_distribution<long>(1, std::max<long>(2, full))(random);
        pid_t pid = StartImport(table, T("big.jsonl"));
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        // Another process never sees the records of an import that has not ended.
        size_t seen = Lines(Kdstool("export " + table).out);
        EXPECT_TRUE(seen == 2 || seen == 2 + records) << seen;
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        SCOPED_TRACE("killed after " + std::to_string(delay) + " ms of " + std::to_string(full));
        Outcome check = Kdstool("check " + table);
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        std::string after = Kdstool("export " + table).out;
        size_t lines = Lines(after);
        EXPECT_TRUE(lines == 2 || lines == 2 + records) << lines << " records";
        EXPECT_EQ(after.substr(0, before.size()), before);
        EXPECT_FALSE(std::filesystem::exists(table + "-journal"));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, KdstoolCrash, ::testing::Values("kdt", "cdx", "ntx"));

// An import held open on its input, its appended records in the DBF file already: kdstool
// (another process, by the table and by an index) and python3-dbfread see only what was there
// before; once the input ends and the import commits, they see every record.
class KdstoolIsolation : public KdstoolCrash {};

TEST_P(KdstoolIsolation, OtherReadersSeeAnImportOnlyWhenItCommits) {
    const std::string kind = GetParam();
    const std::string table = T("iso.dbf");
    ASSERT_EQ(Kdstool("create " + table + " NAME:char:20 NOTE:memo --type " + kind +
                      " --index BYNAME=NAME")
                  .status,
              0);
    std::ofstream(T("before.jsonl")) << "{\"NAME\": \"kept\", \"NOTE\": \"old\"}\n"
                                     << "{\"NAME\": \"also kept\"}\n";
    ASSERT_EQ(Kdstool("import " + table + " " + T("before.jsonl")).status, 0);
    const auto bytesBefore = std::filesystem::file_size(table);

    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(input[0], 0);
        ::close(input[1]);
        std::freopen("/dev/null", "w", stderr);
        ::execl(KDSTOOL, KDSTOOL, "import", table.c_str(), "-", nullptr);
        ::_exit(127);
    }
    ::close(input[0]);
    const size_t records = 300;
    std::string lines;
    for (size_t i = 0; i < records; ++i) {
        // The first new record is marked deleted: its flag is the one the commit writes last.
        lines += "{\"NAME\": \"new " + std::to_string(i) + "\"" +
                 (i % 50 ? "" : ", \"NOTE\": \"a note\"") + (i == 0 ? ", \"_deleted\": true" : "") +
                 "}\n";
    }
    ASSERT_EQ(::write(input[1], lines.data(), lines.size()), ssize_t(lines.size()));
    // The import has appended every record (the deletion flag, NAME, and a memo field of 4 bytes
    // in a CDX table, 10 in an NTX table) and waits for more.
    const auto appended = bytesBefore + records * (kind == "cdx" ? 25 : 31);
    for (int i = 0; i < 30000 && std::filesystem::file_size(table) < appended; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_GE(std::filesystem::file_size(table), appended);
    // python3-dbfread goes by the end marker, python3-dbf by the header count.
    const std::string python = "/usr/bin/python3 -c \"import dbf, dbfread; t = dbf.Table('" +
                               table + "'); t.open(); d = dbfread.DBF('" + table +
                               "'); print(len(t), len(list(d)) + len(list(d.deleted)))\"";
    auto peers = [&]() {
        FILE* p = ::popen(python.c_str(), "r");
        char buf[64] = {};
        if (!std::fgets(buf, sizeof buf, p)) buf[0] = 0;
        ::pclose(p);
        return std::string(buf);
    };
    EXPECT_EQ(Lines(Kdstool("export " + table).out), 2u);
    EXPECT_EQ(Lines(Kdstool("export " + table + " --index BYNAME").out), 2u);
    EXPECT_NE(Kdstool("info " + table).out.find("\"records\": 2,"), std::string::npos);
    EXPECT_EQ(peers(), "2 2\n");

    ::close(input[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string all = Kdstool("export " + table).out;
    EXPECT_EQ(Lines(all), 2 + records);
    EXPECT_NE(all.find("{\"_recno\": 3, \"NAME\": \"new 0\", \"NOTE\": \"a note\", "
                       "\"_deleted\": true}\n{\"_recno\": 4, \"NAME\": \"new 1\", \"NOTE\": null}"),
              std::string::npos)
        << all.substr(0, 300);
    EXPECT_EQ(Lines(Kdstool("export " + table + " --index BYNAME").out), 2 + records);
    const std::string total = std::to_string(2 + records);
    EXPECT_EQ(peers(), total + " " + total + "\n");
    Outcome check = Kdstool("check " + table);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

INSTANTIATE_TEST_SUITE_P(DbfKinds, KdstoolIsolation, ::testing::Values("cdx", "ntx"));

}  // namespace
