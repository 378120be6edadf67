// The conversion plan (convert --plan) and audit (convert --audit) on real tables of two
// different layouts: the plan names every field's fate, the losses the real run then suffers are
// among the ones it names, the audit lists exactly the values that were lost, and neither the
// plan nor the audit changes a byte that the plain command would not.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/convert_audit.h"
#include "app/convert_plan.h"
#include "app/headless_run.h"
#include "gui/application.h"
#include "tests/app/employee_tables.h"
#include "tests/support/files.h"
#include "tests/support/processes.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Result;
using testsupport::RunProgram;

const std::string kProgram = UPDATEBANK_PROGRAM;

// Source and target of different layouts: fields cut, rounded, refused, narrowed, dropped and
// added. Three employees whose values meet each rule once. A date field reads no time of day:
// a timestamp with one is refused, one at midnight arrives.
const std::vector<std::string> kSourceFields = {
    "EMP_NO:char:12", "NAME:char:30", "SALARY:double",   "BONUS:numeric:10:2", "HIRED:timestamp",
    "AGE:integer",    "NOTES:memo",   "ONLY_SRC:char:5", "PHOTO_ID:image"};
const std::vector<std::string> kTargetFields = {
    "EMP_NO:char:12", "NAME:char:8",  "SALARY:numeric:8:2", "BONUS:integer",
    "HIRED:date",     "AGE:shortint", "NOTES:char:10",      "PHOTO_ID:image",
    "DEPT:char:4",    "--index",      "BYEMPNO=EMP_NO"};
const char* const kSourceRecords =
    R"({"EMP_NO": "00001", "NAME": "ALEXANDRA LONGNAME", "SALARY": 1234.567, "BONUS": 12.5, )"
    R"("HIRED": "2020-05-01T10:30:00.000", "AGE": 40000, "NOTES": "short", "ONLY_SRC": "x"})"
    "\n"
    R"({"EMP_NO": "00002", "NAME": "BOB", "SALARY": 100.25, "BONUS": 12, )"
    R"("HIRED": "2020-05-01T00:00:00.000", "AGE": 30, "NOTES": "0123456789ABC"})"
    "\n"
    R"({"EMP_NO": "00003", "NAME": "C", "SALARY": 123456789, "NOTES": "   "})"
    "\n";

class PlanAndAudit : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = apptest::ConversionFolder("plan");
        Table("source", kSourceFields, kSourceRecords);
        Table("target", kTargetFields,
              R"({"EMP_NO": "99999", "DEPT": "OLD"})"
              "\n");
    }
    void TearDown() override {
        unsetenv("UPDATEBANK_DRIVE_C");
        fs::remove_all(dir_);
    }

    void Table(const std::string& side, std::vector<std::string> fields,
               const std::string& records) {
        apptest::MakeEmployeeTable(dir_, side, std::move(fields), records);
    }

    // Every file under the two folders, with its bytes.
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> files;
        for (const char* side : {"source", "target"})
            for (const auto& entry : fs::recursive_directory_iterator(dir_ / side))
                files[entry.path().string()] = ReadFile(entry.path());
        return files;
    }

    Result Program(std::vector<std::string> args) {
        args.insert(args.begin(), kProgram);
        return RunProgram(args, {{"UPDATEBANK_DRIVE_C", (dir_ / "drive_c").string()}});
    }

    fs::path dir_;
};

std::set<std::string> Kinds(const std::vector<app::PossibleLoss>& losses) {
    std::set<std::string> kinds;
    for (const auto& l : losses) kinds.insert(app::LossName(l.loss));
    return kinds;
}

// The plan names each field's fate and losses; the real run, watched by the audit, loses exactly
// the values below, each in a way its field's plan names.
TEST_F(PlanAndAudit, PlanNamesEveryFateAndTheRunLosesOnlyWhatItNames) {
    auto owned = std::make_unique<gui::HeadlessBackend>();
    gui::HeadlessBackend& backend = *owned;
    gui::Application().Initialize(std::move(owned));
    auto form = std::make_unique<app::TForm1>(nullptr);
    form->Show();

    app::ConvertPlan plan =
        app::PlanConvert(*form, (dir_ / "source").string(), (dir_ / "target").string());
    struct Expected {
        std::string name;
        app::FieldPlan::Fate fate;
        std::set<std::string> losses;
    } expected[] = {
        {"EMP_NO", app::FieldPlan::kCopied, {}},
        {"NAME", app::FieldPlan::kCopied, {"cut"}},
        {"SALARY", app::FieldPlan::kCopied, {"rounded", "refused"}},
        {"BONUS", app::FieldPlan::kCopied, {"refused"}},
        {"HIRED", app::FieldPlan::kCopied, {"refused"}},
        {"AGE", app::FieldPlan::kCopied, {"refused"}},
        {"NOTES", app::FieldPlan::kCopied, {"cut", "emptied"}},
        {"ONLY_SRC", app::FieldPlan::kSkipped, {}},
        {"PHOTO_ID", app::FieldPlan::kPhoto, {}},
    };
    ASSERT_EQ(plan.fields.size(), std::size(expected));
    std::map<std::string, std::set<std::string>> planned;
    for (size_t i = 0; i < plan.fields.size(); ++i) {
        const app::FieldPlan& f = plan.fields[i];
        EXPECT_EQ(f.name, expected[i].name);
        EXPECT_EQ(f.fate, expected[i].fate) << f.name;
        EXPECT_EQ(Kinds(f.losses), expected[i].losses) << f.name;
        planned[f.name] = Kinds(f.losses);
    }
    EXPECT_EQ(plan.fields[2].source.type, "double");
    EXPECT_EQ(plan.fields[2].target.type, "numeric");
    EXPECT_EQ(plan.fields[2].target.length, 8);
    EXPECT_EQ(plan.fields[2].target.decimals, 2);
    ASSERT_EQ(plan.targetOnly.size(), 1u);
    EXPECT_EQ(plan.targetOnly[0].name, "DEPT");

    std::ostringstream auditText, out, err;
    app::ConvertAudit audit(auditText);
    form->convertObserver = &audit;
    ASSERT_EQ(app::RunConvert(*form, backend, (dir_ / "source").string(),
                              (dir_ / "target").string(), out, err),
              0)
        << err.str();
    audit.Finish();
    form.reset();
    gui::Application().Reset();

    std::set<std::tuple<std::string, std::string, std::string>> lost;
    std::vector<std::string> lines;
    std::stringstream in(auditText.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_FALSE(lines.empty());
    const std::regex item(R"re(^\{"EMP_NO": "(\d+)", "field": "(\w+)", .*"what": "([a-z ]+)")re");
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(lines[i], m, item)) << lines[i];
        lost.insert({m[1], m[2], m[3]});
        EXPECT_TRUE(planned[m[2]].count(m[3])) << "not in the plan: " << lines[i];
    }
    const std::set<std::tuple<std::string, std::string, std::string>> known = {
        {"00001", "NAME", "cut"},       {"00001", "SALARY", "rounded"},
        {"00001", "BONUS", "refused"},  {"00001", "HIRED", "refused"},
        {"00001", "AGE", "refused"},    {"00002", "NOTES", "cut"},
        {"00003", "SALARY", "refused"}, {"00003", "NOTES", "emptied"},
    };
    EXPECT_EQ(lost, known) << auditText.str();
    EXPECT_EQ(lines.size(), known.size() + 1);
    EXPECT_EQ(lines[0], R"({"EMP_NO": "00001", "field": "NAME", "source": "ALEXANDRA LONGNAME", )"
                        R"("stored": "ALEXANDR", "what": "cut"})");
    EXPECT_NE(auditText.str().find(R"("stored": "1234.57", "what": "rounded")"), std::string::npos);
    EXPECT_EQ(lines.back(),
              R"({"counts": {"NAME": {"cut": 1}, "SALARY": {"rounded": 1, "refused": 1}, )"
              R"("BONUS": {"refused": 1}, "HIRED": {"refused": 1}, "AGE": {"refused": 1}, )"
              R"("NOTES": {"cut": 1, "emptied": 1}}, "values": 8})");
}

// The plan opens both tables read-only: every file is as it was, and the JSON form is one
// object naming the same fields.
TEST_F(PlanAndAudit, PlanWritesNothing) {
    const auto before = Files();
    Result text = Program({"convert", "--plan", (dir_ / "source"), (dir_ / "target")});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("NAME: copied, char(30) -> char(8); may be cut to 8 characters\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("ONLY_SRC: skipped"), std::string::npos);
    EXPECT_NE(text.out.find("DEPT: target only, char(4)"), std::string::npos);
    Result json = Program({"convert", "--plan", (dir_ / "source"), (dir_ / "target"), "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(Files(), before);

    std::ofstream(dir_ / "plan.json") << json.out;
    Result read = RunProgram({"/usr/bin/python3", "-c",
                              "import json,sys; d=json.load(open(sys.argv[1])); "
                              "print(' '.join(f['name']+'='+f['fate'] for f in d['fields']), "
                              "' '.join(t['name'] for t in d['target_only']))",
                              (dir_ / "plan.json").string()});
    ASSERT_EQ(read.status, 0) << read.err << json.out;
    EXPECT_EQ(read.out,
              "EMP_NO=copied NAME=copied SALARY=copied BONUS=copied HIRED=copied AGE=copied "
              "NOTES=copied ONLY_SRC=skipped PHOTO_ID=photo DEPT\n");

    Result missing = Program({"convert", "--plan", (dir_ / "nowhere"), (dir_ / "target")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.starts_with("error: ")) << missing.err;
    Result usage = Program({"convert", "--plan", (dir_ / "source")});
    EXPECT_EQ(usage.status, 2);
}

// A run with --audit prints the same lines and leaves the same target bytes as one without.
TEST_F(PlanAndAudit, AuditChangesNeitherOutputNorTarget) {
    fs::copy(dir_ / "target", dir_ / "audited", fs::copy_options::recursive);
    Result plain = Program({"convert", (dir_ / "source"), (dir_ / "target")});
    Result audited = Program(
        {"convert", "--audit", (dir_ / "audit.jsonl"), (dir_ / "source"), (dir_ / "audited")});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(audited.status, plain.status);
    EXPECT_EQ(audited.out, plain.out);
    EXPECT_EQ(audited.err, plain.err);
    EXPECT_NE(plain.out.find("message: "), std::string::npos);
    for (const auto& entry : fs::directory_iterator(dir_ / "target"))
        EXPECT_EQ(ReadFile(dir_ / "audited" / entry.path().filename()), ReadFile(entry.path()))
            << entry.path().filename();
    std::string audit = ReadFile(dir_ / "audit.jsonl");
    EXPECT_NE(audit.find("\"values\": 8}\n"), std::string::npos) << audit;

    Result unwritable = Program({"convert", "--audit", (dir_ / "no" / "such" / "a.jsonl"),
                                 (dir_ / "source"), (dir_ / "audited")});
    EXPECT_EQ(unwritable.status, 2);
}

}  // namespace
