// Text at the edges of both programs: what they print is UTF-8 whatever the tables hold, folders
// are UTF-8 on disk, and a folder the ANSI code page cannot hold is refused, naming it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/processes.h"
#include "tests/support/scoped.h"

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

const std::string kProgram = UPDATEBANK_PROGRAM;
const std::string kTool = KDSTOOL_PROGRAM;

Result Tool(const std::vector<std::string>& args) {
    std::vector<std::string> all{kTool};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram(all);
}

class OperatorText : public ::testing::Test {
  protected:
    void SetUp() override {
        // An employee whose number and age carry accents; the target's AGE is an integer, and
        // the photo file cannot be written (a folder stands in its place): one message box and
        // one memo line that both name "Zoë-1".
        fs::create_directories(dir_ / "Données");
        fs::create_directories(dir_ / "target");
        fs::create_directories(dir_ / "drive_c" / "TEMP" / "photo.JPG");
        fs::path source = dir_ / "Données" / "EMPLOYEE.kdt";
        ASSERT_EQ(
            Tool({"create", source, "EMP_NO:char:12", "AGE:char:12", "PHOTO_ID:image"}).status, 0);
        std::ofstream(dir_ / "source.jsonl") << "{\"EMP_NO\": \"Zoë-1\", \"AGE\": \"vingt-é\", "
                                                "\"PHOTO_ID\": {\"base64\": \"/9j/2Q==\"}}\n";
        Result imported = Tool({"import", source, (dir_ / "source.jsonl").string()});
        ASSERT_EQ(imported.status, 0) << imported.err;
        Result created =
            Tool({"create", dir_ / "target" / "EMPLOYEE.kdt", "EMP_NO:char:12", "AGE:integer",
                  "PHOTO_ID:binary", "--index", "BYEMPNO=EMP_NO:unique"});
        ASSERT_EQ(created.status, 0) << created.err;
        env_ = {{"UPDATEBANK_DRIVE_C", (dir_ / "drive_c").string()}};
    }

    ScopedTempDir dir_{"operator-text"};
    std::map<std::string, std::string> env_;
};

TEST_F(OperatorText, HeadlessConvertPrintsAccentsAsUtf8FromAnAccentedFolder) {
    Result run = RunProgram(
        {kProgram, "convert", (dir_ / "Données").string(), (dir_ / "target").string()}, env_);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> lines;
    for (size_t at = 0; at < run.out.size();) {
        size_t end = run.out.find('\n', at);
        lines.push_back(run.out.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(lines[0],
              "message: 'vingt-é' is not a valid integer value for field 'AGE' EMPNO# Zoë-1 AGE "
              "field AGE");
    EXPECT_EQ(lines[1].rfind("memo: Cannot create file", 0), 0u) << lines[1];
    const std::string photo = "PHOTO_ID EMPNO# Zoë-1";
    ASSERT_GT(lines[1].size(), photo.size());
    EXPECT_EQ(lines[1].substr(lines[1].size() - photo.size()), photo) << lines[1];
    EXPECT_EQ(lines[2], "message: -DONE-");
    Result exported = Tool({"export", dir_ / "target" / "EMPLOYEE.kdt"});
    EXPECT_NE(exported.out.find("\"EMP_NO\": \"Zoë-1\", \"AGE\": null"), std::string::npos)
        << exported.out << exported.err;
}

TEST_F(OperatorText, AFolderThePageCannotHoldIsRefusedNamingIt) {
    fs::create_directories(dir_ / "folder-Ω");
    const std::string omega = (dir_ / "folder-Ω").string();
    const std::string target = (dir_ / "target").string();
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{kProgram, "convert", omega, target},
         "updatebank: the source folder '" + omega +
             "' holds 'Ω', which the ANSI code page (Windows-1252) cannot hold\n"},
        {{kProgram, "--open", target, omega},
         "updatebank: the target folder '" + omega +
             "' holds 'Ω', which the ANSI code page (Windows-1252) cannot hold\n"},
        {{kTool, "info", omega + "/EMPLOYEE.kdt"},
         "kdstool: the file name '" + omega +
             "/EMPLOYEE.kdt' holds 'Ω', which the ANSI code page (Windows-1252) cannot hold\n"},
        // Names the page holds, starting at a folder it cannot: the working folder, a drive's.
        {{"env", "-C", omega, kProgram, "convert", "Données", target},
         "updatebank: the source folder 'Données': the working folder '" + omega +
             "' holds 'Ω', which the ANSI code page (Windows-1252) cannot hold\n"},
        {{"env", "-C", omega, kTool, "info", "EMPLOYEE.kdt"},
         "kdstool: the working folder '" + omega +
             "' holds 'Ω', which the ANSI code page (Windows-1252) cannot hold\n"},
        {{kTool, "info", "D:\\EMPLOYEE.kdt"},
         "kdstool: the folder of drive D: ($UPDATEBANK_DRIVE_D) '" + omega +
             "' holds 'Ω', which the ANSI code page (Windows-1252) cannot hold\n"},
    };
    std::map<std::string, std::string> env = env_;
    env["UPDATEBANK_DRIVE_D"] = omega;
    for (const Case& c : cases) {
        Result r = RunProgram(c.args, env);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.err);
    }
}

// What kdstool prints about a DBF table whose header holds a field name with stray bytes: the
// JSON of info and export, and the lines of check, are valid UTF-8, each byte shown as the
// character the page gives it.
TEST_F(OperatorText, KdstoolOutputIsValidUtf8OnADamagedFieldName) {
    fs::path table = dir_ / "Données" / "DAMAGED.dbf";
    ASSERT_EQ(Tool({"create", table, "--type", "cdx", "NOTE:memo", "NAME:char:10"}).status, 0);
    std::ofstream(dir_ / "note.jsonl") << "{\"NOTE\": \"été\", \"NAME\": \"Zoë\"}\n";
    ASSERT_EQ(Tool({"import", table, (dir_ / "note.jsonl").string()}).status, 0);
    auto patch = [&](std::streamoff at, const std::string& bytes) {
        std::fstream file(table, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(at);
        file.write(bytes.data(), std::streamsize(bytes.size()));
    };
    // The first field's name: "NO", then bytes that are not text in any page's UTF-8 form.
    patch(32 + 2, "\xFF\x81\x9D");
    // "NO", then ÿ and the C1 controls U+0081 and U+009D: each byte as the character it is.
    const std::string name = "4e4fc3bfc281c29d";
    // Reads the output as UTF-8 (strictly) and prints the hex of the name `pick` finds in it.
    auto nameIn = [&](const Result& r, const std::string& pick) {
        std::ofstream(dir_ / "out.txt", std::ios::binary) << r.out;
        Result parsed =
            RunProgram({"/usr/bin/python3", "-c",
                        "import json, sys; t = open(sys.argv[1], 'rb').read().decode('utf-8'); " +
                            pick + "; print(n.encode('utf-8').hex())",
                        (dir_ / "out.txt").string()});
        EXPECT_EQ(parsed.status, 0) << parsed.err << r.out;
        return parsed.out.substr(0, parsed.out.find('\n'));
    };
    Result info = Tool({"info", table});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(nameIn(info, "n = json.loads(t)['fields'][0]['name']"), name);
    Result exported = Tool({"export", table});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(nameIn(exported, "d = json.loads(t); n = list(d)[1]; assert d[n] == 'été'"), name);

    // A memo pointer past the end of the memo file: check names the field in its report.
    std::ifstream header(table, std::ios::binary);
    unsigned char length[2] = {};
    header.seekg(8);
    header.read(reinterpret_cast<char*>(length), 2);
    patch(length[0] + 256 * length[1] + 1, std::string("\0\0\x99\x99", 4));
    Result check = Tool({"check", table});
    EXPECT_EQ(check.status, 1) << check.err;
    EXPECT_EQ(nameIn(check, "n = t.split('field ')[1].split(':')[0]"), name);
}

}  // namespace
