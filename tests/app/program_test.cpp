// The real program binary: its command line, and its window on a real X server (Xvfb).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
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

TEST(Program, AnswersVersionAndHelp) {
    Result version = RunProgram({kProgram, "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("updatebank 0.", 0), 0u) << version.out;
    Result help = RunProgram({kProgram, "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("updatebank convert SOURCE TARGET"), std::string::npos);
}

TEST(Program, CommandLineErrorsAreOneLineWithAFailingStatus) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"convert", "C:\\TEMP"}, "convert: expected SOURCE and TARGET (see updatebank --help)\n"},
        {{"--open", "C:\\TEMP"}, "--open: expected SOURCE and TARGET (see updatebank --help)\n"},
        {{"--frobnicate"}, "updatebank: unknown argument '--frobnicate' (see updatebank --help)\n"},
        // The window's connections log into a dictionary with their stored user: no option.
        {{"convert", "A", "B", "--user", "x"},
         "convert: expected SOURCE and TARGET (see updatebank --help)\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{kProgram};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Result r = RunProgram(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
    }
}

TEST(Program, WithoutADisplayTheWindowIsRefusedClearly) {
    Result r = RunProgram({kProgram}, {{"DISPLAY", ""}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot open the display"), std::string::npos) << r.err;
}

struct DumpedWidget {
    std::string kind, name;
    int x, y, w, h;
    bool visible, focusable;
    std::string text;
};

std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) {
            char c = field[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(Unescape(field));
    return fields;
}

TEST(Program, OpensTheMainWindowOnADisplay) {
    if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed: the window test cannot run";
    for (const char* tool : {"xdotool", "xwininfo", "import"})
        ASSERT_TRUE(OnPath(tool)) << tool << " is missing (scripts/install-deps.sh installs it)";

    fs::path output = fs::path(UPDATEBANK_BINARY_DIR) / "test-output" / "app";
    fs::create_directories(output);
    fs::path dump = output / "widgets.txt";
    fs::path shot = output / "window.png";
    fs::remove(dump);
    fs::remove(shot);
    fs::path driveC = output / "drive_c";

    Xvfb server;
    ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
    std::map<std::string, std::string> env{
        {"DISPLAY", server.Display()},
        // The toolkit keeps its preferences under the home folder: one of the test's own.
        {"HOME", (output / "home").string()},
        {"XDG_CONFIG_HOME", (output / "home" / ".config").string()},
        {"UPDATEBANK_DUMP_WIDGETS", dump.string()},
        {"UPDATEBANK_DRIVE_C", driveC.string()},
        {"LSAN_OPTIONS", WindowProgramLeakOptions()}};
    pid_t program = Start({kProgram}, env);
    ASSERT_GT(program, 0);
    KillAtExit stopper{program};

    auto end = Clock::now() + std::chrono::seconds(60);
    while (!fs::exists(dump) && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(fs::exists(dump)) << "the window did not come up";

    // The window as the X server knows it.
    Result search = RunProgram({"xdotool", "search", "--sync", "--name", "^Form1$"}, env);
    ASSERT_EQ(search.status, 0) << search.err;
    std::string window = search.out.substr(0, search.out.find('\n'));
    Result info = RunProgram({"xwininfo", "-id", window}, env);
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("\"Form1\""), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Width: 696\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Height: 480\n"), std::string::npos) << info.out;

    // The widgets as FLTK holds them.
    std::ifstream in(dump);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> head = Fields(line);
    ASSERT_EQ(head.size(), 6u) << line;
    EXPECT_EQ(head[1], "Form1");
    EXPECT_EQ(head[4] + "x" + head[5], "696x480");
    std::map<std::string, DumpedWidget> widgets;
    std::vector<std::string> focusOrder;
    while (std::getline(in, line)) {
        std::vector<std::string> f = Fields(line);
        ASSERT_EQ(f.size(), 9u) << line;
        DumpedWidget w{f[0],
                       f[1],
                       std::stoi(f[2]),
                       std::stoi(f[3]),
                       std::stoi(f[4]),
                       std::stoi(f[5]),
                       f[6] == "1",
                       f[7] == "1",
                       f[8]};
        if (w.focusable) focusOrder.push_back(w.name);
        widgets[w.name] = w;
    }
    ASSERT_EQ(widgets.size(), 6u) << "only the six visible controls have widgets";
    EXPECT_EQ(widgets["Edit1"].kind, "edit");
    EXPECT_EQ(widgets["Edit1"].text, "C:\\TEMP");
    EXPECT_EQ(widgets["Edit2"].text, "C:\\TEMP");
    EXPECT_EQ(widgets["Memo1"].kind, "memo");
    EXPECT_EQ(widgets["Memo1"].text, "Memo1");
    EXPECT_EQ(widgets["Button12"].kind, "button");
    EXPECT_EQ(widgets["Button12"].text, "CONVERT");
    EXPECT_EQ(std::vector<int>({widgets["Button12"].x, widgets["Button12"].y, widgets["Button12"].w,
                                widgets["Button12"].h}),
              std::vector<int>({216, 216, 75, 25}));
    EXPECT_EQ(widgets["Label2"].text, "TARGETFOLDER");
    EXPECT_FALSE(widgets["Label1"].focusable);
    EXPECT_EQ(focusOrder, (std::vector<std::string>{"Button12", "Edit1", "Edit2", "Memo1"}));

    Result screenshot = RunProgram({"import", "-window", "root", shot.string()}, env);
    EXPECT_EQ(screenshot.status, 0) << screenshot.err;
    EXPECT_TRUE(fs::exists(shot) && fs::file_size(shot) > 0);

    // Escape in the focused window closes it, as the window manager's close would.
    Result focus = RunProgram({"xdotool", "windowfocus", "--sync", window}, env);
    EXPECT_EQ(focus.status, 0) << focus.err;
    Result key = RunProgram({"xdotool", "key", "Escape"}, env);
    EXPECT_EQ(key.status, 0) << key.err;
    EXPECT_EQ(WaitExit(program, std::chrono::seconds(30)), 0) << "the program did not exit 0";
}

}  // namespace
