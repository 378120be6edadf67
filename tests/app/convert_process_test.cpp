// `updatebank convert` as a process: its lines and exit statuses, a run killed in the middle, and
// a second run into a target that a running one holds. The employees come from
// samples/make_employees.py (python3) through kdstool.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/employee_tables.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

const std::string kProgram = UPDATEBANK_PROGRAM;
const std::string kTool = KDSTOOL_PROGRAM;
const std::string kSamples = std::string(UPDATEBANK_SOURCE_DIR) + "/samples";
constexpr int kEmployees = 1500;

std::vector<std::string> Records(const fs::path& table) { return apptest::ExportedRecords(table); }

class ConvertProcess : public ::testing::Test {
  protected:
    // One source of kEmployees employees, each with a 20 KB photo, made once for the suite.
    static void SetUpTestSuite() {
        root_ =
            fs::temp_directory_path() / ("updatebank-convert-process-" + std::to_string(getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "big");
        fs::path table = root_ / "big" / "EMPLOYEE.kdt";
        std::string fields;
        for (const std::string& f : Layout()) fields += " " + f;
        Result made = RunProgram(
            {"/bin/sh", "-c",
             kTool + " create " + table.string() + fields + " && /usr/bin/python3 " + kSamples +
                 "/make_employees.py " + kSamples + "/employee.layout --count " +
                 std::to_string(kEmployees) + " --photo-every 1 --photo-size 20480 | " + kTool +
                 " import " + table.string() + " -"});
        ASSERT_EQ(made.status, 0) << made.err;
        sourceRecords_ = Records(table);
        ASSERT_EQ(sourceRecords_.size(), size_t(kEmployees));
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static std::vector<std::string> Layout() {
        std::vector<std::string> fields;
        std::ifstream in(kSamples + "/employee.layout");
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) fields.push_back(line);
        return fields;
    }

    void SetUp() override {
        dir_ = root_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "target");
        fs::create_directories(dir_ / "drive_c" / "TEMP");
        std::vector<std::string> create{kTool, "create", (dir_ / "target" / "EMPLOYEE.kdt")};
        for (const std::string& f : Layout()) create.push_back(f);
        create.insert(create.end(), {"--index", "BYEMPNO=EMP_NO:unique"});
        Result created = RunProgram(create);
        ASSERT_EQ(created.status, 0) << created.err;
        env_ = {{"UPDATEBANK_DRIVE_C", (dir_ / "drive_c").string()}};
        sourceBytes_ = ReadFile(root_ / "big" / "EMPLOYEE.kdt");
    }

    // Starts converting the big source into dir_/target with its standard output on a small pipe
    // and returns once the copy has reached record `record`. The target's EMP_NAME is an integer,
    // so every record prints one field-error line; the run goes on only as long as the test reads
    // them, and it cannot finish while the pipe is left unread (1500 lines are far more than the
    // pipe holds). ReadRest lets it go on to the end.
    pid_t StartHeldConversion(int record) {
        fs::remove(dir_ / "target" / "EMPLOYEE.kdt");
        std::vector<std::string> create{kTool, "create", (dir_ / "target" / "EMPLOYEE.kdt")};
        for (const std::string& f : Layout())
            create.push_back(f.rfind("EMP_NAME:", 0) == 0 ? "EMP_NAME:integer" : f);
        create.insert(create.end(), {"--index", "BYEMPNO=EMP_NO:unique"});
        Result created = RunProgram(create);
        EXPECT_EQ(created.status, 0) << created.err;
        int fds[2];
        EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
        fcntl(fds[1], F_SETPIPE_SZ, 4096);
        out_ = fds[0];
        pid_t pid =
            Start({kProgram, "convert", (root_ / "big").string(), (dir_ / "target").string()}, env_,
                  fds[1], Null());
        close(fds[1]);
        // Line n is printed while record n is copied, after records 1 to n - 1 were posted.
        for (int line = 0; line < record; ++line) {
            std::string text = ReadLine();
            EXPECT_EQ(text.rfind("message: ", 0), 0u) << "line " << line + 1 << ": " << text;
            if (text.empty()) break;
        }
        return pid;
    }
    std::string ReadLine() {
        std::string line;
        char c;
        while (read(out_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }
    std::string ReadRest() {
        std::string rest = ReadAll(out_);
        close(out_);
        out_ = -1;
        return rest;
    }
    // Records without EMP_NAME, which the held conversion cannot copy.
    static std::vector<std::string> WithoutName(std::vector<std::string> records) {
        for (std::string& r : records)
            r = std::regex_replace(r, std::regex("\"EMP_NAME\": (\"[^\"]*\"|null), "), "");
        return records;
    }
    int Null() {
        if (null_ < 0) null_ = open("/dev/null", O_WRONLY);
        return null_;
    }
    void TearDown() override {
        if (null_ >= 0) close(null_);
        if (out_ >= 0) close(out_);
        // The big source is shared by the suite: no test may change it.
        EXPECT_TRUE(ReadFile(root_ / "big" / "EMPLOYEE.kdt") == sourceBytes_)
            << "the source changed";
    }

    static inline fs::path root_;
    static inline std::vector<std::string> sourceRecords_;
    fs::path dir_;
    std::map<std::string, std::string> env_;
    std::string sourceBytes_;
    int null_ = -1;
    int out_ = -1;
};

TEST_F(ConvertProcess, KilledMidwayLeavesTheSourceAndACleanTargetWithAPrefix) {
    constexpr int kRecord = 40;
    pid_t pid = StartHeldConversion(kRecord);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the conversion ended before it was killed";

    Result check = RunProgram({kTool, "check", (dir_ / "target" / "EMPLOYEE.kdt").string()});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    std::vector<std::string> target = WithoutName(Records(dir_ / "target" / "EMPLOYEE.kdt"));
    std::vector<std::string> source = WithoutName(sourceRecords_);
    EXPECT_GE(target.size(), size_t(kRecord - 1));
    EXPECT_LT(target.size(), source.size());
    for (size_t i = 0; i < target.size(); ++i) {
        ASSERT_EQ(target[i], source[i]) << "record " << i + 1;
    }
}

TEST_F(ConvertProcess, ASecondConversionIntoAHeldTargetFailsAtOnceAndChangesNothing) {
    // The second conversion's own source: one employee.
    fs::create_directories(dir_ / "small");
    Result made =
        RunProgram({"/bin/sh", "-c",
                    kTool + " create " + (dir_ / "small" / "EMPLOYEE.kdt").string() +
                        " EMP_NO:char:12 PHOTO_ID:image && echo '{\"EMP_NO\": \"1\"}' | " + kTool +
                        " import " + (dir_ / "small" / "EMPLOYEE.kdt").string() + " -"});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string smallBytes = ReadFile(dir_ / "small" / "EMPLOYEE.kdt");

    pid_t first = StartHeldConversion(1);
    Result second = RunProgram(
        {kProgram, "convert", (dir_ / "small").string(), (dir_ / "target").string()}, env_);
    EXPECT_EQ(second.status, 1) << "the second conversion waited for the first";
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err.rfind("error: KdsTable2: ", 0), 0u) << second.err;
    EXPECT_NE(second.err.find("in another process"), std::string::npos) << second.err;

    std::string rest = ReadRest();
    EXPECT_NE(rest.find("message: -DONE-\n"), std::string::npos);
    EXPECT_EQ(WaitExit(first, std::chrono::seconds(300)), 0);
    EXPECT_EQ(WithoutName(Records(dir_ / "target" / "EMPLOYEE.kdt")), WithoutName(sourceRecords_));
    EXPECT_TRUE(ReadFile(dir_ / "small" / "EMPLOYEE.kdt") == smallBytes);
}

}  // namespace
