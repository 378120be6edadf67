// The CONVERT command in the real program on a real X server (Xvfb): folders typed into the two
// edits, the button clicked, every message box answered with the keyboard, the target then read
// with kdstool. A screenshot of the window after the run is kept in the test output.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/processes.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

const std::string kProgram = UPDATEBANK_PROGRAM;
const std::string kTool = KDSTOOL_PROGRAM;

std::vector<std::string> ReadLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

void WriteFile(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

Result Tool(const std::vector<std::string>& args) {
    std::vector<std::string> all{kTool};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(all);
}

TEST(ConvertWindow, TypedFoldersClickedButtonAnsweredBoxesFilledTarget) {
    if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed: the window test cannot run";
    for (const char* tool : {"xdotool", "import"})
        ASSERT_TRUE(OnPath(tool)) << tool << " is missing (scripts/install-deps.sh installs it)";

    fs::path output = fs::path(UPDATEBANK_BINARY_DIR) / "test-output" / "convert-window";
    fs::remove_all(output);
    fs::create_directories(output / "source");
    fs::create_directories(output / "target");
    fs::path source = output / "source" / "EMPLOYEE.kdt";
    fs::path target = output / "target" / "EMPLOYEE.kdt";
    ASSERT_EQ(Tool({"create", source, "EMP_NO:char:12", "EMP_NAME:char:40", "AGE:double",
                    "PHOTO_ID:image"})
                  .status,
              0);
    // 00123's AGE does not fit the target's integer field: one field-error box before "-DONE-".
    WriteFile(output / "source.jsonl",
              "{\"EMP_NO\": \"00122\", \"EMP_NAME\": \"ALICE TAN\", \"AGE\": 31, "
              "\"PHOTO_ID\": {\"base64\": \"/9j/4AAQSkZJRgABAQ//2Q==\"}}\n"
              "{\"EMP_NO\": \"00123\", \"EMP_NAME\": \"BENJAMIN LEE\", \"AGE\": 34.5}\n"
              "{\"EMP_NO\": \"00124\", \"EMP_NAME\": \"CHITRA DEVI\", \"AGE\": 45}\n");
    ASSERT_EQ(Tool({"import", source, (output / "source.jsonl").string()}).status, 0);
    ASSERT_EQ(Tool({"create", target, "EMP_NO:char:12", "EMP_NAME:char:20", "AGE:integer",
                    "PHOTO_ID:binary", "--index", "BYEMPNO=EMP_NO:unique"})
                  .status,
              0);
    WriteFile(output / "stale.jsonl", "{\"EMP_NO\": \"99999\", \"EMP_NAME\": \"STALE\"}\n");
    ASSERT_EQ(Tool({"import", target, (output / "stale.jsonl").string()}).status, 0);

    fs::path dump = output / "widgets.txt";
    fs::path boxes = output / "boxes.txt";
    Xvfb server;
    ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
    std::map<std::string, std::string> env{
        {"DISPLAY", server.Display()},
        // The toolkit keeps its preferences under the home folder: one of the test's own.
        {"HOME", (output / "home").string()},
        {"XDG_CONFIG_HOME", (output / "home" / ".config").string()},
        {"UPDATEBANK_DUMP_WIDGETS", dump.string()},
        {"UPDATEBANK_LOG_BOXES", boxes.string()},
        {"UPDATEBANK_DRIVE_C", (output / "drive_c").string()},
        {"LSAN_OPTIONS", WindowProgramLeakOptions()}};
    pid_t program = Start({kProgram}, env);
    ASSERT_GT(program, 0);
    KillAtExit stopper{program};
    auto x = [&](const std::vector<std::string>& args) {
        std::vector<std::string> all{"xdotool"};
        all.insert(all.end(), args.begin(), args.end());
        Result r = RunProgram(all, env);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        return r.out.substr(0, r.out.find('\n'));
    };

    auto end = Clock::now() + std::chrono::seconds(60);
    while (!fs::exists(dump) && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(fs::exists(dump)) << "the window did not come up";
    std::string window = x({"search", "--sync", "--name", "^Form1$"});
    ASSERT_FALSE(window.empty());
    x({"windowfocus", "--sync", window});

    // Into each edit: click it, select the line it holds, type the folder over it.
    auto typeInto = [&](int left, int top, const std::string& text) {
        x({"mousemove", "--sync", "--window", window, std::to_string(left + 20),
           std::to_string(top + 10)});
        x({"click", "1"});
        x({"key", "End", "shift+Home"});
        x({"type", "--delay", "5", text});
    };
    typeInto(209, 152, (output / "source").string());
    typeInto(208, 184, (output / "target").string());
    x({"mousemove", "--sync", "--window", window, "253", "228"});
    x({"click", "1"});

    // Answer each box as it comes, until "-DONE-".
    size_t answered = 0;
    bool done = false;
    end = Clock::now() + std::chrono::seconds(90);
    while (!done && Clock::now() < end) {
        std::vector<std::string> lines = ReadLines(boxes);
        if (lines.size() == answered) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        std::string box = x({"search", "--sync", "--onlyvisible", "--name", "^updatebank$"});
        x({"windowfocus", "--sync", box});
        x({"key", "Return"});
        done = lines[answered] == "message\tupdatebank\t-DONE-";
        ++answered;
        // The box goes away before the next one can come.
        auto gone = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < gone &&
               RunProgram({"xdotool", "search", "--onlyvisible", "--name", "^updatebank$"}, env)
                       .status == 0 &&
               ReadLines(boxes).size() == answered)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::vector<std::string> lines = ReadLines(boxes);
    ASSERT_TRUE(done) << "no -DONE- box; boxes seen: " << lines.size();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("'34.5' is not a valid integer value"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" EMPNO# 00123 AGE field AGE"), std::string::npos) << lines[0];

    // The memo as it stood when "-DONE-" came up: no photo went wrong.
    std::string memo;
    for (const std::string& line : ReadLines(dump))
        if (line.rfind("memo\tMemo1\t", 0) == 0) memo = line.substr(line.rfind('\t') + 1);
    EXPECT_EQ(memo, "Memo1");

    Result shot = RunProgram({"import", "-window", window, (output / "window.png").string()}, env);
    EXPECT_EQ(shot.status, 0) << shot.err;

    x({"windowfocus", "--sync", window});
    x({"key", "Escape"});
    EXPECT_EQ(WaitExit(program, std::chrono::seconds(30)), 0) << "the program did not exit 0";

    Result exported = Tool({"export", target, "--index", "BYEMPNO"});
    ASSERT_EQ(exported.status, 0) << exported.err;
    std::vector<std::string> records;
    std::stringstream in(exported.out);
    for (std::string line; std::getline(in, line);) records.push_back(line);
    ASSERT_EQ(records.size(), 3u) << exported.out;
    EXPECT_NE(records[0].find("\"EMP_NO\": \"00122\", \"EMP_NAME\": \"ALICE TAN\", \"AGE\": 31, "
                              "\"PHOTO_ID\": {\"base64\": \"/9j/4AAQSkZJRgABAQ//2Q==\"}"),
              std::string::npos)
        << records[0];
    EXPECT_NE(records[1].find("\"EMP_NO\": \"00123\", \"EMP_NAME\": \"BENJAMIN LEE\", \"AGE\": "
                              "null, \"PHOTO_ID\": null"),
              std::string::npos)
        << records[1];
    EXPECT_NE(records[2].find("\"EMP_NO\": \"00124\""), std::string::npos) << records[2];
}

}  // namespace
