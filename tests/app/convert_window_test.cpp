// The CONVERT command in the real program on a real X server (Xvfb): folders typed into the two
// edits, the button clicked, every message box answered with the keyboard, the target then read
// with kdstool. A screenshot of the window after each run is kept in the test output.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
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

// The program's window on a private X server, driven with xdotool as an operator would drive it.
// The program logs each box it is about to show and dumps its widgets at that moment; the test
// reads both. Steps that can fail are called under ASSERT_NO_FATAL_FAILURE.
class WindowDriver {
  public:
    explicit WindowDriver(const fs::path& output)
        : output_(output), dump_(output / "widgets.txt"), boxes_(output / "boxes.txt") {}

    void Launch() {
        if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed: the window test cannot run";
        for (const char* tool : {"xdotool", "import"})
            ASSERT_TRUE(OnPath(tool))
                << tool << " is missing (scripts/install-deps.sh installs it)";
        server_ = std::make_unique<Xvfb>();
        ASSERT_FALSE(server_->Display().empty()) << "Xvfb did not start";
        env_ = {{"DISPLAY", server_->Display()},
                // The toolkit keeps its preferences under the home folder: one of the test's own.
                {"HOME", (output_ / "home").string()},
                {"XDG_CONFIG_HOME", (output_ / "home" / ".config").string()},
                {"UPDATEBANK_DUMP_WIDGETS", dump_.string()},
                {"UPDATEBANK_LOG_BOXES", boxes_.string()},
                {"UPDATEBANK_DRIVE_C", (output_ / "drive_c").string()},
                {"LSAN_OPTIONS", WindowProgramLeakOptions()}};
        program_ = Start({kProgram}, env_);
        ASSERT_GT(program_, 0);
        stopper_.reset(new KillAtExit{program_});  // no temporary: it would kill the program
        auto end = Clock::now() + std::chrono::seconds(60);
        while (!fs::exists(dump_) && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(fs::exists(dump_)) << "the window did not come up";
        window_ = X({"search", "--sync", "--name", "^Form1$"});
        ASSERT_FALSE(window_.empty());
        X({"windowfocus", "--sync", window_});
    }

    std::string X(const std::vector<std::string>& args) {
        std::vector<std::string> all{"xdotool"};
        all.insert(all.end(), args.begin(), args.end());
        Result r = RunProgram(all, env_);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        return r.out.substr(0, r.out.find('\n'));
    }

    void Click(int left, int top) {
        X({"mousemove", "--sync", "--window", window_, std::to_string(left), std::to_string(top)});
        X({"click", "1"});
    }

    // Into an edit: click it, select the line it holds, type the text over it.
    void TypeInto(int left, int top, const std::string& text) {
        Click(left + 20, top + 10);
        X({"key", "End", "shift+Home"});
        // A character the keyboard map lacks is typed through a key the typing program maps for
        // it and maps back after the delay; a window slow to read the key (a loaded machine)
        // would find it mapped back and drop the character. Such characters get a long delay.
        size_t i = 0;
        while (i < text.size()) {
            bool ascii = static_cast<unsigned char>(text[i]) < 0x80;
            size_t end = i + 1;
            while (end < text.size() && (static_cast<unsigned char>(text[end]) < 0x80) == ascii &&
                   (ascii || (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80))
                ++end;
            X({"type", "--delay", ascii ? "5" : "300", text.substr(i, end - i)});
            i = end;
        }
    }
    void TypeSource(const std::string& text) { TypeInto(209, 152, text); }
    void TypeTarget(const std::string& text) { TypeInto(208, 184, text); }
    void ClickConvert() { Click(253, 228); }

    // Answers each box as it comes, until one whose log line is `last`. The box log so far.
    void AnswerBoxesUntil(const std::string& last, std::vector<std::string>* lines) {
        bool done = false;
        auto end = Clock::now() + std::chrono::seconds(90);
        while (!done && Clock::now() < end) {
            std::vector<std::string> seen = ReadLines(boxes_);
            if (seen.size() == answered_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                continue;
            }
            std::string box = X({"search", "--sync", "--onlyvisible", "--name", "^updatebank$"});
            X({"windowfocus", "--sync", box});
            // Each box is kept as a screenshot too (box-1.png, ...), to see how its text shows.
            Result shot =
                RunProgram({"import", "-window", box,
                            (output_ / ("box-" + std::to_string(answered_ + 1) + ".png")).string()},
                           env_);
            EXPECT_EQ(shot.status, 0) << shot.err;
            X({"key", "Return"});
            done = seen[answered_] == last;
            ++answered_;
            // The box goes away before the next one can come.
            auto gone = Clock::now() + std::chrono::seconds(10);
            while (
                Clock::now() < gone &&
                RunProgram({"xdotool", "search", "--onlyvisible", "--name", "^updatebank$"}, env_)
                        .status == 0 &&
                ReadLines(boxes_).size() == answered_)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        *lines = ReadLines(boxes_);
        ASSERT_TRUE(done) << "no box '" << last << "'; boxes seen: " << lines->size();
    }

    // What a widget of the main window held when the last box came up, as the widget holds it
    // (read back from FLTK; line breaks shown as \n).
    std::string Widget(const std::string& kind, const std::string& name) const {
        std::string text;
        for (const std::string& line : ReadLines(dump_))
            if (line.rfind(kind + "\t" + name + "\t", 0) == 0)
                text = line.substr(line.rfind('\t') + 1);
        return text;
    }

    // Keeps a screenshot of the window, then closes it; the program exits 0.
    void Finish(const std::string& screenshot) {
        Result shot =
            RunProgram({"import", "-window", window_, (output_ / screenshot).string()}, env_);
        EXPECT_EQ(shot.status, 0) << shot.err;
        X({"windowfocus", "--sync", window_});
        X({"key", "Escape"});
        EXPECT_EQ(WaitExit(program_, std::chrono::seconds(30)), 0) << "the program did not exit 0";
    }

  private:
    fs::path output_, dump_, boxes_;
    std::unique_ptr<Xvfb> server_;  // stops after the program (members go in reverse order)
    std::map<std::string, std::string> env_;
    pid_t program_ = -1;
    std::unique_ptr<KillAtExit> stopper_;
    std::string window_;
    size_t answered_ = 0;
};

fs::path FreshOutput(const std::string& name) {
    fs::path output = fs::path(UPDATEBANK_BINARY_DIR) / "test-output" / name;
    fs::remove_all(output);
    fs::create_directories(output);
    return output;
}

TEST(ConvertWindow, TypedFoldersClickedButtonAnsweredBoxesFilledTarget) {
    fs::path output = FreshOutput("convert-window");
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

    WindowDriver window(output);
    ASSERT_NO_FATAL_FAILURE(window.Launch());
    if (::testing::Test::IsSkipped()) return;
    window.TypeSource((output / "source").string());
    window.TypeTarget((output / "target").string());
    window.ClickConvert();
    std::vector<std::string> lines;
    ASSERT_NO_FATAL_FAILURE(window.AnswerBoxesUntil("message\tupdatebank\t-DONE-", &lines));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("'34.5' is not a valid integer value"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" EMPNO# 00123 AGE field AGE"), std::string::npos) << lines[0];
    // The memo as it stood when "-DONE-" came up: no photo went wrong.
    EXPECT_EQ(window.Widget("memo", "Memo1"), "Memo1");
    window.Finish("window.png");

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

// Text at the window's edge: a folder typed with accents converts, a character the ANSI page
// cannot hold is refused naming the text, and the boxes and the memo show accented values as
// UTF-8 (read back from the widgets, and seen in the screenshot).
TEST(ConvertWindow, AccentedFolderConvertsAndBoxesAndMemoShowUtf8) {
    fs::path output = FreshOutput("convert-window-accents");
    fs::create_directories(output / "Données");
    fs::create_directories(output / "target");
    // The photo cannot be written (a folder stands in its place): one memo line naming Zoë-1.
    fs::create_directories(output / "drive_c" / "TEMP" / "photo.JPG");
    fs::path source = output / "Données" / "EMPLOYEE.kdt";
    ASSERT_EQ(Tool({"create", source, "EMP_NO:char:12", "AGE:char:12", "PHOTO_ID:image"}).status,
              0);
    WriteFile(output / "source.jsonl",
              "{\"EMP_NO\": \"Zoë-1\", \"AGE\": \"vingt-é\", "
              "\"PHOTO_ID\": {\"base64\": \"/9j/2Q==\"}}\n");
    ASSERT_EQ(Tool({"import", source, (output / "source.jsonl").string()}).status, 0);
    ASSERT_EQ(Tool({"create", output / "target" / "EMPLOYEE.kdt", "EMP_NO:char:12", "AGE:integer",
                    "PHOTO_ID:binary", "--index", "BYEMPNO=EMP_NO:unique"})
                  .status,
              0);

    WindowDriver window(output);
    ASSERT_NO_FATAL_FAILURE(window.Launch());
    if (::testing::Test::IsSkipped()) return;
    // Ω is refused as it is typed (into the target box, so that the pointer moves between this
    // and the next typing: `mousemove --sync` waits for a move): the box names the text, the edit
    // keeps what it held.
    const std::string omega = (output / "folder-Ω").string();
    window.TypeTarget(omega);
    const std::string refusal = "error\tupdatebank\tThe text '" + omega +
                                "' holds 'Ω', which the ANSI code page (Windows-1252) cannot hold";
    std::vector<std::string> lines;
    ASSERT_NO_FATAL_FAILURE(window.AnswerBoxesUntil(refusal, &lines));
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(window.Widget("edit", "Edit2"), (output / "folder-").string());

    window.TypeSource((output / "Données").string());
    window.TypeTarget((output / "target").string());
    window.ClickConvert();
    ASSERT_NO_FATAL_FAILURE(window.AnswerBoxesUntil("message\tupdatebank\t-DONE-", &lines));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1],
              "message\tupdatebank\t'vingt-é' is not a valid integer value for field 'AGE' "
              "EMPNO# Zoë-1 AGE field AGE");
    const std::string memo = window.Widget("memo", "Memo1");
    const std::string photo = "PHOTO_ID EMPNO# Zoë-1";
    EXPECT_EQ(memo.rfind("Memo1\\nCannot create file", 0), 0u) << memo;
    ASSERT_GT(memo.size(), photo.size());
    EXPECT_EQ(memo.substr(memo.size() - photo.size()), photo) << memo;
    window.Finish("window.png");

    Result exported = Tool({"export", output / "target" / "EMPLOYEE.kdt"});
    EXPECT_NE(exported.out.find("\"EMP_NO\": \"Zoë-1\", \"AGE\": null"), std::string::npos)
        << exported.out << exported.err;
}

}  // namespace
