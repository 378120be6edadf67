// The CONVERT command (Button12Click) through the whole stack on real tables: the main window
// under the headless backend, the data-access components, the engine, tables made and read back
// with kdstool.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/headless_run.h"
#include "engine/kce.h"
#include "gui/application.h"
#include "rtl/formatsettings.h"
#include "tests/app/employee_tables.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"

// The file of every table the encryption password is given to (the linker routes the program's
// calls through here).
std::vector<std::string> passwordGivenTo;

extern "C" KCESTATUS __real_KdsEnableEncryption(KDSHANDLE table, const UNSIGNED8* password);
extern "C" KCESTATUS __wrap_KdsEnableEncryption(KDSHANDLE table, const UNSIGNED8* password) {
    UNSIGNED8 name[1024] = {};
    UNSIGNED16 length = sizeof name - 1;
    if (KdsGetTableFilename(table, name, &length) == 0)
        passwordGivenTo.push_back(
            std::filesystem::path(std::string(reinterpret_cast<char*>(name), length))
                .parent_path()
                .filename()
                .string());
    return __real_KdsEnableEncryption(table, password);
}

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Result;
using testsupport::RunProgram;

const std::string kTool = KDSTOOL_PROGRAM;

class Convert : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = apptest::ConversionFolder("convert");
        fs::create_directories(dir_ / "source");
        fs::create_directories(dir_ / "target");
        auto backend = std::make_unique<gui::HeadlessBackend>();
        backend_ = backend.get();
        gui::Application().Initialize(std::move(backend));
        form_ = std::make_unique<app::TForm1>(nullptr);
        form_->Show();
    }
    void TearDown() override {
        form_.reset();
        gui::Application().Reset();
        rtl::SetFormatSettings(saved_);
        unsetenv("UPDATEBANK_DRIVE_C");
        fs::remove_all(dir_);
    }

    // Makes SIDE/EMPLOYEE.kdt with `fields` (and kdstool's --index options) holding `records`.
    void Table(const std::string& side, std::vector<std::string> fields,
               const std::string& records) {
        apptest::MakeEmployeeTable(dir_, side, std::move(fields), records);
    }

    // Runs the command; the lines it printed are in out_ and err_.
    int Run(const std::string& source = "source", const std::string& target = "target") {
        out_.str("");
        err_.str("");
        return app::RunConvert(*form_, *backend_, (dir_ / source).string(),
                               (dir_ / target).string(), out_, err_);
    }

    // Closes the window (and so every table), then gives SIDE's records as kdstool exports them,
    // without the record number.
    std::vector<std::string> Records(const std::string& side,
                                     const std::string& passwordFile = "") {
        form_.reset();
        return apptest::ExportedRecords(dir_ / side / "EMPLOYEE.kdt", passwordFile);
    }

    fs::path dir_;
    rtl::TFormatSettings saved_ = rtl::FormatSettings();
    gui::HeadlessBackend* backend_ = nullptr;
    std::unique_ptr<app::TForm1> form_;
    std::ostringstream out_, err_;
};

TEST_F(Convert, AnEmptySourceLeavesTheTargetEmpty) {
    Table("source", {"EMP_NO:char:12", "PHOTO_ID:image"}, "");
    Table("target", {"EMP_NO:char:12", "PHOTO_ID:image", "--index", "BYEMPNO=EMP_NO"},
          "{\"EMP_NO\": \"99999\"}\n");
    ASSERT_EQ(Run(), 0) << err_.str();
    EXPECT_EQ(out_.str(), "message: -DONE-\n");
    EXPECT_EQ(Records("target"), std::vector<std::string>{});
}

// Errors outside the field and photo steps end the command: one error line, exit status 1,
// no "-DONE-". An error before the copy leaves the target's records in place: naming the source
// table as the target too (the target's exclusive open is refused while the source holds the
// table open), or a target without an order on EMP_NO (refused before it is emptied). An error
// during the copy leaves the records posted so far: a duplicate EMP_NO that the target's unique
// index refuses at Post, or a source without EMP_NO, whose field report cannot name the employee.
TEST_F(Convert, ErrorsThatEndTheCommandKeepWhatTheTargetHeld) {
    Table("source", {"EMP_NO:char:12", "PHOTO_ID:image", "--index", "BYEMPNO=EMP_NO"},
          "{\"EMP_NO\": \"00001\"}\n{\"EMP_NO\": \"00002\"}\n");
    Table("target", {"EMP_NO:char:12", "PHOTO_ID:image", "--index", "BYEMPNO=EMP_NO"},
          "{\"EMP_NO\": \"99999\"}\n");
    Table("unordered",
          {"EMP_NO:char:12", "PHOTO_ID:image", "NAME:char:10", "--index", "BYNAME=NAME"},
          "{\"EMP_NO\": \"99998\"}\n{\"EMP_NO\": \"99999\"}\n");
    Table("twice", {"EMP_NO:char:12", "PHOTO_ID:image"},
          "{\"EMP_NO\": \"00001\"}\n{\"EMP_NO\": \"00002\"}\n{\"EMP_NO\": \"00002\"}\n"
          "{\"EMP_NO\": \"00003\"}\n");
    Table("unique", {"EMP_NO:char:12", "PHOTO_ID:image", "--index", "BYEMPNO=EMP_NO:unique"},
          "{\"EMP_NO\": \"99999\"}\n");
    // No EMP_NO and no PHOTO_ID: the photo step fails for the first record, and its report asks
    // the source for EMP_NO.
    Table("nameonly", {"NAME:char:10"}, "{\"NAME\": \"ALICE\"}\n");
    Table("named",
          {"EMP_NO:char:12", "NAME:char:10", "PHOTO_ID:image", "--index", "BYEMPNO=EMP_NO"},
          "{\"EMP_NO\": \"99999\"}\n");
    fs::create_directories(dir_ / "empty");
    struct Case {
        std::string source, target, error;
    } cases[] = {
        {"source", "source",
         "KdsTable2: the table is in use by another user: table 'EMPLOYEE.kdt' is open; it cannot "
         "be opened exclusively"},
        {"empty", "target", "KdsTable1: "},
        {"source", "empty", "KdsTable2: "},
        {"source", "missing", "the file was not found: folder"},
        {"source", "unordered", "KdsTable2: Not a valid index field name:EMP_NO"},
        {"twice", "unique", "KdsTable2: "},
        {"nameonly", "named", "KdsTable1: Field 'EMP_NO' not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " into " + c.target);
        EXPECT_EQ(Run(c.source, c.target), 1);
        EXPECT_EQ(out_.str(), "");
        const std::string err = err_.str();
        EXPECT_EQ(err.rfind("error: ", 0), 0u) << err;
        EXPECT_NE(err.find(c.error), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    auto blank = [](const std::string& empNo) {
        return "{\"EMP_NO\": \"" + empNo + "\", \"PHOTO_ID\": null}";
    };
    EXPECT_EQ(Records("source"), (std::vector<std::string>{blank("00001"), blank("00002")}));
    EXPECT_EQ(Records("target"), (std::vector<std::string>{blank("99999")}));
    EXPECT_EQ(
        Records("unordered"),
        (std::vector<std::string>{"{\"EMP_NO\": \"99998\", \"PHOTO_ID\": null, \"NAME\": null}",
                                  "{\"EMP_NO\": \"99999\", \"PHOTO_ID\": null, \"NAME\": null}"}));
    EXPECT_EQ(Records("unique"), (std::vector<std::string>{blank("00001"), blank("00002")}));
    EXPECT_EQ(Records("named"), std::vector<std::string>{});
}

// "/9j/4AAQSkZJRgABAQ//2Q==" is a JPEG-like photo: start of image, a JFIF marker, end of image.
const char kPhoto[] = "\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x0F\xFF\xD9";

TEST_F(Convert, CopiesSharedFieldsAsTextReportsFieldErrorsAndCarriesPhotos) {
    Table("source",
          {"EMP_NO:char:12", "EMP_NAME:char:40", "AGE:double", "HIRED:date", "WAGE:money",
           "SRC_ONLY:char:5", "PHOTO_ID:image"},
          "{\"EMP_NO\": \"00122\", \"EMP_NAME\": \"ALICE TAN\", \"AGE\": 31, \"HIRED\": "
          "\"2019-03-01\", \"WAGE\": 3250.5, \"SRC_ONLY\": \"X\", \"PHOTO_ID\": {\"base64\": "
          "\"/9j/4AAQSkZJRgABAQ//2Q==\"}}\n"
          "{\"EMP_NO\": \"00123\", \"EMP_NAME\": \"BENJAMIN LEE\", \"AGE\": 34.5}\n"
          "{\"EMP_NO\": \"00124\", \"EMP_NAME\": \"CHITRA DEVI\", \"AGE\": 45, \"WAGE\": 0.25}\n");
    Table("target",
          {"EMP_NO:char:12", "EMP_NAME:char:8", "AGE:integer", "HIRED:char:10", "WAGE:double",
           "TGT_ONLY:char:5", "PHOTO_ID:binary", "--index", "BYEMPNO=EMP_NO:unique"},
          "{\"EMP_NO\": \"99999\", \"EMP_NAME\": \"STALE\", \"TGT_ONLY\": \"OLD\"}\n");
    // A photo file from before: the blank photos after the first must leave the file as the first
    // photo left it.
    std::ofstream(dir_ / "drive_c" / "TEMP" / "photo.JPG") << "older";

    const std::string lines =
        "message: '34.5' is not a valid integer value for field 'AGE' EMPNO# 00123 AGE field AGE\n"
        "message: -DONE-\n";
    ASSERT_EQ(Run(), 0) << err_.str();
    EXPECT_EQ(out_.str(), lines);
    EXPECT_EQ(err_.str(), "");
    // A second run empties the target again: nothing is appended twice.
    ASSERT_EQ(Run(), 0) << err_.str();
    EXPECT_EQ(out_.str(), lines);
    EXPECT_EQ(form_->Memo1->Lines().Count(), 1);
    EXPECT_EQ(ReadFile(dir_ / "drive_c" / "TEMP" / "photo.JPG"),
              std::string(kPhoto, sizeof kPhoto - 1));

    EXPECT_EQ(
        Records("target"),
        (std::vector<std::string>{
            "{\"EMP_NO\": \"00122\", \"EMP_NAME\": \"ALICE TA\", \"AGE\": 31, \"HIRED\": "
            "\"03/01/2019\", \"WAGE\": 3250.5, \"TGT_ONLY\": null, \"PHOTO_ID\": {\"base64\": "
            "\"/9j/4AAQSkZJRgABAQ//2Q==\"}}",
            "{\"EMP_NO\": \"00123\", \"EMP_NAME\": \"BENJAMIN\", \"AGE\": null, \"HIRED\": "
            "null, \"WAGE\": null, \"TGT_ONLY\": null, \"PHOTO_ID\": null}",
            "{\"EMP_NO\": \"00124\", \"EMP_NAME\": \"CHITRA D\", \"AGE\": 45, \"HIRED\": null, "
            "\"WAGE\": 0.25, \"TGT_ONLY\": null, \"PHOTO_ID\": null}",
        }));
}

// photo_id in lower case is not the photo for the skip (a case-sensitive comparison): it is copied
// as text. The photo step then finds it (names compare case-insensitively), but it is no blob:
// each employee's photo error is one memo line, under the memo's first line, and no box.
TEST_F(Convert, LowerCasePhotoIdIsCopiedAsTextAndAPhotoErrorGoesToTheMemoOnly) {
    Table("source", {"EMP_NO:char:12", "photo_id:char:10"},
          "{\"EMP_NO\": \"00001\", \"photo_id\": \"P-1\"}\n{\"EMP_NO\": \"00002\"}\n");
    Table("target", {"EMP_NO:char:12", "photo_id:char:10", "--index", "BYEMPNO=EMP_NO"}, "");
    ASSERT_EQ(Run(), 0) << err_.str();
    std::vector<std::string> memo;
    for (int i = 0; i < form_->Memo1->Lines().Count(); ++i)
        memo.push_back(form_->Memo1->Lines()[i]);
    EXPECT_EQ(memo,
              (std::vector<std::string>{"Memo1", "Invalid class typecastPHOTO_ID EMPNO# 00001",
                                        "Invalid class typecastPHOTO_ID EMPNO# 00002"}));
    EXPECT_EQ(out_.str(),
              "memo: Invalid class typecastPHOTO_ID EMPNO# 00001\n"
              "memo: Invalid class typecastPHOTO_ID EMPNO# 00002\n"
              "message: -DONE-\n");
    EXPECT_EQ(Records("target"),
              (std::vector<std::string>{"{\"EMP_NO\": \"00001\", \"photo_id\": \"P-1\"}",
                                        "{\"EMP_NO\": \"00002\", \"photo_id\": null}"}));
}

// The window's connections send their stored user (QUORIXAN8, BRAMQUELTOV) to a dictionary. A
// dictionary side is given no encryption password; a folder side is.
TEST_F(Convert, ADictionaryOnEitherSideIsLoggedIntoAndGetsNoEncryptionPassword) {
    Table("source", {"EMP_NO:char:12", "NAME:char:10", "PHOTO_ID:image", "--index", "BYNAME=NAME"},
          "{\"EMP_NO\": \"1\", \"NAME\": \"Walsh\"}\n{\"EMP_NO\": \"2\", \"NAME\": \"Adams\"}\n"
          "{\"EMP_NO\": \"3\", \"NAME\": \"Moss\"}\n");
    Table("target",
          {"EMP_NO:char:12", "NAME:char:10", "PHOTO_ID:image", "--index", "BYEMPNO=EMP_NO"}, "");
    for (const char* side : {"source", "target"}) {
        std::string dict = (dir_ / side / "hr.kdd").string();
        std::string table = (dir_ / side / "EMPLOYEE.kdt").string();
        for (std::vector<std::string> args :
             {std::vector<std::string>{kTool, "dict", "create", dict},
              {kTool, "dict", "add-user", dict, "QUORIXAN8", "--password", "BRAMQUELTOV"},
              {kTool, "dict", "add-table", dict, table}}) {
            Result r = RunProgram(args);
            ASSERT_EQ(r.status, 0) << r.err;
        }
    }
    passwordGivenTo.clear();
    ASSERT_EQ(Run("source/hr.kdd", "target/hr.kdd"), 0) << err_.str();
    EXPECT_EQ(passwordGivenTo, std::vector<std::string>{});
    ASSERT_EQ(Run("source", "target/hr.kdd"), 0) << err_.str();
    EXPECT_EQ(passwordGivenTo, std::vector<std::string>{"source"});
    passwordGivenTo.clear();
    ASSERT_EQ(Run("source/hr.kdd", "target"), 0) << err_.str();
    EXPECT_EQ(passwordGivenTo, std::vector<std::string>{"target"});
    EXPECT_EQ(out_.str(), "message: -DONE-\n");
    // Without a default index the dictionary's table is read in record order.
    std::vector<std::string> names;
    for (const std::string& record : Records("target"))
        names.push_back(
            std::regex_replace(record, std::regex(".*\"NAME\": \"([A-Za-z]+)\".*"), "$1"));
    EXPECT_EQ(names, (std::vector<std::string>{"Walsh", "Adams", "Moss"}));
}

TEST_F(Convert, TheSourceDictionarysDefaultIndexOrdersTheWalk) {
    Table("source", {"EMP_NO:char:12", "NAME:char:10", "PHOTO_ID:image", "--index", "BYNAME=NAME"},
          "{\"EMP_NO\": \"1\", \"NAME\": \"Walsh\"}\n{\"EMP_NO\": \"2\", \"NAME\": \"Adams\"}\n"
          "{\"EMP_NO\": \"3\", \"NAME\": \"Moss\"}\n");
    Table("target",
          {"EMP_NO:char:12", "NAME:char:10", "PHOTO_ID:image", "--index", "BYEMPNO=EMP_NO"}, "");
    std::string dict = (dir_ / "source" / "hr.kdd").string();
    for (std::vector<std::string> args :
         {std::vector<std::string>{kTool, "dict", "create", dict},
          {kTool, "dict", "add-user", dict, "QUORIXAN8", "--password", "not the stored one"},
          {kTool, "dict", "add-table", dict, (dir_ / "source" / "EMPLOYEE.kdt").string(),
           "--default-index", "BYNAME"}}) {
        Result r = RunProgram(args);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // The stored password is not this dictionary's: the engine's refusal ends the command.
    EXPECT_EQ(Run("source/hr.kdd", "target"), 1);
    EXPECT_NE(err_.str().find("the user name or password is not valid"), std::string::npos)
        << err_.str();

    Result dropped = RunProgram({kTool, "dict", "drop-user", dict, "QUORIXAN8"});
    ASSERT_EQ(dropped.status, 0) << dropped.err;
    Result added =
        RunProgram({kTool, "dict", "add-user", dict, "QUORIXAN8", "--password", "BRAMQUELTOV"});
    ASSERT_EQ(added.status, 0) << added.err;
    ASSERT_EQ(Run("source/hr.kdd", "target"), 0) << err_.str();
    std::vector<std::string> names;
    for (const std::string& record : Records("target"))
        names.push_back(
            std::regex_replace(record, std::regex(".*\"NAME\": \"([A-Za-z]+)\".*"), "$1"));
    EXPECT_EQ(names, (std::vector<std::string>{"Adams", "Moss", "Walsh"}));
}

// Encrypted employee tables: the command gives both the password KRALD4729 and converts them as
// it converts plain ones; a table encrypted with another password stops it at the password, with
// the engine's message, before the target is emptied.
TEST_F(Convert, EncryptedTablesConvertAsPlainOnes) {
    const fs::path password = dir_ / "password";
    std::ofstream(password) << "KRALD4729\n";
    auto make = [&] {
        Table("source",
              {"EMP_NO:char:12", "EMP_NAME:char:40", "AGE:double", "HIRED:date", "WAGE:money",
               "PHOTO_ID:image"},
              "{\"EMP_NO\": \"00122\", \"EMP_NAME\": \"ALICE TAN\", \"AGE\": 31, \"HIRED\": "
              "\"2019-03-01\", \"WAGE\": 3250.5, \"PHOTO_ID\": {\"base64\": "
              "\"/9j/4AAQSkZJRgABAQ//2Q==\"}}\n"
              "{\"EMP_NO\": \"00123\", \"EMP_NAME\": \"BENJAMIN LEE\", \"AGE\": 34.5}\n");
        Table("target",
              {"EMP_NO:char:12", "EMP_NAME:char:8", "AGE:integer", "HIRED:char:10", "WAGE:double",
               "PHOTO_ID:binary", "--index", "BYEMPNO=EMP_NO:unique"},
              "{\"EMP_NO\": \"99999\", \"EMP_NAME\": \"STALE\"}\n");
    };
    auto encrypt = [&](const std::string& side, const fs::path& file) {
        Result r = RunProgram({kTool, "encrypt", (dir_ / side / "EMPLOYEE.kdt").string(),
                               "--password-file", file.string()});
        ASSERT_EQ(r.status, 0) << r.err;
    };
    auto restart = [&] {
        form_ = std::make_unique<app::TForm1>(nullptr);
        form_->Show();
        fs::remove_all(dir_ / "source");
        fs::remove_all(dir_ / "target");
    };

    make();
    ASSERT_EQ(Run(), 0) << err_.str();
    const std::string plainOut = out_.str();
    const std::vector<std::string> plain = Records("target");
    ASSERT_EQ(plain.size(), 2u);

    restart();
    make();
    encrypt("source", password);
    encrypt("target", password);
    ASSERT_EQ(Run(), 0) << err_.str();
    EXPECT_EQ(out_.str(), plainOut);
    EXPECT_EQ(Records("target", password.string()), plain);
    const std::string file = ReadFile(dir_ / "target" / "EMPLOYEE.kdt");
    EXPECT_EQ(file.find("ALICE"), std::string::npos);
    EXPECT_EQ(file.find("00122"), std::string::npos);

    restart();
    make();
    const fs::path other = dir_ / "other";
    std::ofstream(other) << "SOMETHING ELSE\n";
    encrypt("source", password);
    encrypt("target", other);
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(err_.str().find("the password does not open the encrypted table"), std::string::npos)
        << err_.str();
    EXPECT_EQ(Records("target", other.string()).size(), 1u);
}

}  // namespace
